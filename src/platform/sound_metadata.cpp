#include "platform/sound_metadata.h"

#include <taglib/id3v2frame.h>
#include <taglib/id3v2tag.h>
#include <taglib/mpegfile.h>
#include <taglib/wavfile.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <vector>

namespace auralist {

namespace {

constexpr std::size_t kMostField = 2048; // bytes of one field kept
constexpr std::size_t kMostText = 8192; // bytes of all of them
constexpr std::size_t kMostChunk = 1 << 20; // an iXML chunk read at most

// The length of the valid UTF-8 sequence at text[i], or 0.
std::size_t utf8At(std::string_view text, std::size_t i)
{
    const auto c = static_cast<unsigned char>(text[i]);
    std::size_t n = 0;
    if (c < 0x80)
        return 1;
    if (c >= 0xC2 && c <= 0xDF)
        n = 2;
    else if (c >= 0xE0 && c <= 0xEF)
        n = 3;
    else if (c >= 0xF0 && c <= 0xF4)
        n = 4;
    else
        return 0;
    if (i + n > text.size())
        return 0;
    for (std::size_t k = 1; k < n; ++k) {
        if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80)
            return 0;
    }
    const auto c1 = static_cast<unsigned char>(text[i + 1]);
    if ((c == 0xE0 && c1 < 0xA0) || (c == 0xED && c1 > 0x9F) || (c == 0xF0 && c1 < 0x90) || (c == 0xF4 && c1 > 0x8F))
        return 0;
    return n;
}

bool isUtf8(std::string_view text)
{
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t n = utf8At(text, i);
        if (n == 0)
            return false;
        i += n;
    }
    return true;
}

void addField(FileMetadata &m, const char *name, std::string_view raw)
{
    const std::string value = cleanMetadataText(raw, kMostField);
    if (value.empty() || m.text.size() >= kMostText)
        return;
    // The same value under another name (a title copied into INFO and
    // ID3) is shown once.
    if (m.text.find(": " + value + "\n") != std::string::npos)
        return;
    std::string line = std::string(name) + ": " + value + "\n";
    if (m.text.size() + line.size() > kMostText)
        line = cleanMetadataText(line, kMostText - m.text.size()) + "\n";
    m.text += line;
}

// The text between <tag> and </tag> in xml (bounded, entities decoded).
std::string elementText(std::string_view xml, std::string_view tag)
{
    const std::string open = "<" + std::string(tag) + ">";
    const std::string close = "</" + std::string(tag) + ">";
    const auto start = xml.find(open);
    if (start == std::string_view::npos)
        return {};
    const auto from = start + open.size();
    const auto end = xml.find(close, from);
    if (end == std::string_view::npos)
        return {};
    const std::string_view inner = xml.substr(from, std::min(end - from, kMostField));
    std::string out;
    for (std::size_t i = 0; i < inner.size(); ++i) {
        if (inner[i] != '&') {
            out.push_back(inner[i]);
            continue;
        }
        static constexpr std::array<std::pair<std::string_view, char>, 5> kEntities{
            {{"&amp;", '&'}, {"&lt;", '<'}, {"&gt;", '>'}, {"&quot;", '"'}, {"&apos;", '\''}}};
        bool known = false;
        for (const auto &[entity, c] : kEntities) {
            if (inner.substr(i, entity.size()) == entity) {
                out.push_back(c);
                i += entity.size() - 1;
                known = true;
                break;
            }
        }
        if (!known)
            out.push_back('&');
    }
    return out;
}

// A chunk of the file by its four-letter id, at most kMostChunk bytes.
std::string chunkOf(SNDFILE *file, const char *id)
{
    SF_CHUNK_INFO info{};
    std::strncpy(info.id, id, sizeof info.id - 1);
    info.id_size = static_cast<unsigned>(std::strlen(id));
    SF_CHUNK_ITERATOR *it = sf_get_chunk_iterator(file, &info);
    if (!it)
        return {};
    SF_CHUNK_INFO found{};
    if (sf_get_chunk_size(it, &found) != SF_ERR_NO_ERROR || found.datalen == 0 || found.datalen > kMostChunk)
        return {};
    std::vector<char> data(found.datalen);
    found.data = data.data();
    if (sf_get_chunk_data(it, &found) != SF_ERR_NO_ERROR)
        return {};
    return std::string(data.data(), std::min<std::size_t>(found.datalen, data.size()));
}

// How many chunks of that id the file has, and whether each is no bigger
// than kMostChunk: a tag library reads a tag (and a WAV's LIST chunks,
// for their INFO) whole, so a file with a bigger one is not handed to it.
struct Chunks {
    int count = 0;
    bool small = true;
};
Chunks chunksOf(SNDFILE *file, const char *id)
{
    SF_CHUNK_INFO info{};
    std::strncpy(info.id, id, sizeof info.id - 1);
    info.id_size = 4;
    Chunks out;
    for (SF_CHUNK_ITERATOR *it = sf_get_chunk_iterator(file, &info); it; it = sf_next_chunk_iterator(it)) {
        SF_CHUNK_INFO found{};
        ++out.count;
        out.small = out.small && sf_get_chunk_size(it, &found) == SF_ERR_NO_ERROR && found.datalen <= kMostChunk;
    }
    return out;
}

// A WAV's ID3 chunk, when it and every chunk the tag library would read
// with it are small.
bool hasSmallId3(SNDFILE *file)
{
    const Chunks lower = chunksOf(file, "id3 ");
    const Chunks upper = chunksOf(file, "ID3 ");
    return lower.count + upper.count > 0 && lower.small && upper.small && chunksOf(file, "LIST").small;
}

// Whether an MP3's ID3v2 tag (its size in the header's synchsafe bytes) is
// small enough to be read whole; true where there is none.
bool id3TagIsSmall(const std::string &path)
{
    unsigned char header[10] = {};
    std::FILE *f = std::fopen(path.c_str(), "rb");
    if (!f)
        return false;
    const std::size_t got = std::fread(header, 1, sizeof header, f);
    std::fclose(f);
    if (got < sizeof header || std::memcmp(header, "ID3", 3) != 0)
        return true;
    const std::size_t size = (std::size_t{header[6]} & 0x7F) << 21 | (std::size_t{header[7]} & 0x7F) << 14
        | (std::size_t{header[8]} & 0x7F) << 7 | (std::size_t{header[9]} & 0x7F);
    return size <= kMostChunk;
}

std::string fromTagLib(const TagLib::String &s)
{
    return s.to8Bit(true);
}

void readId3(FileMetadata &m, TagLib::ID3v2::Tag *tag)
{
    if (!tag)
        return;
    addField(m, "Title", fromTagLib(tag->title()));
    addField(m, "Artist", fromTagLib(tag->artist()));
    addField(m, "Album", fromTagLib(tag->album()));
    addField(m, "Genre", fromTagLib(tag->genre()));
    const std::string comment = fromTagLib(tag->comment());
    addField(m, "Comment", comment);
    if (m.description.empty())
        m.description = cleanMetadataText(comment, kMostField);
    const auto &frames = tag->frameListMap();
    if (const auto bpm = frames.find("TBPM"); bpm != frames.end() && !bpm->second.isEmpty() && m.bpm <= 0) {
        const double value = std::atof(fromTagLib(bpm->second.front()->toString()).c_str());
        if (std::isfinite(value) && value > 0 && value < 1000)
            m.bpm = static_cast<float>(value);
    }
}

} // namespace

std::string cleanMetadataText(std::string_view raw, std::size_t most)
{
    // Text that ends early (a NUL inside a fixed field) ends there.
    raw = raw.substr(0, std::min(raw.find('\0'), raw.size()));
    std::string text;
    if (isUtf8(raw)) {
        text.assign(raw);
    } else {
        // Latin-1, as RIFF INFO written on Windows commonly is.
        for (const char c : raw) {
            const auto u = static_cast<unsigned char>(c);
            if (u < 0x80) {
                text.push_back(c);
            } else {
                text.push_back(static_cast<char>(0xC0 | (u >> 6)));
                text.push_back(static_cast<char>(0x80 | (u & 0x3F)));
            }
        }
    }
    std::string out;
    out.reserve(std::min(text.size(), most));
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t n = utf8At(text, i);
        const auto c = static_cast<unsigned char>(text[i]);
        if (out.size() + n > most)
            break;
        if (c == '\r' || c == '\t') {
            out.push_back(' ');
        } else if (c == '\n' || c >= 0x20) {
            if (c != 0x7F)
                out.append(text, i, n);
        }
        i += n;
    }
    const auto first = out.find_first_not_of(" \n");
    if (first == std::string::npos)
        return {};
    return out.substr(first, out.find_last_not_of(" \n") - first + 1);
}

FileMetadata readFileMetadata(SNDFILE *file, int format, const std::string &path)
{
    FileMetadata m;
    if (!file)
        return m;
    const int major = format & SF_FORMAT_TYPEMASK;
    SF_BROADCAST_INFO bext{};
    if (sf_command(file, SFC_GET_BROADCAST_INFO, &bext, sizeof bext) == SF_TRUE) {
        const std::string description(bext.description, strnlen(bext.description, sizeof bext.description));
        m.description = cleanMetadataText(description, kMostField);
        addField(m, "Description", description);
        addField(m, "Originator", std::string(bext.originator, strnlen(bext.originator, sizeof bext.originator)));
        addField(m, "Date",
                 std::string(bext.origination_date, strnlen(bext.origination_date, sizeof bext.origination_date)));
    }
    static constexpr std::array<std::pair<int, const char *>, 7> kStrings{{{SF_STR_TITLE, "Title"},
                                                                           {SF_STR_ARTIST, "Artist"},
                                                                           {SF_STR_ALBUM, "Album"},
                                                                           {SF_STR_GENRE, "Genre"},
                                                                           {SF_STR_COMMENT, "Comment"},
                                                                           {SF_STR_SOFTWARE, "Software"},
                                                                           {SF_STR_DATE, "Date"}}};
    for (const auto &[id, name] : kStrings) {
        const char *value = sf_get_string(file, id);
        if (!value)
            continue;
        const std::string_view text(value, strnlen(value, kMostChunk));
        addField(m, name, text);
        if (id == SF_STR_COMMENT && m.description.empty())
            m.description = cleanMetadataText(text, kMostField);
    }
    SF_INSTRUMENT instrument{};
    if (sf_command(file, SFC_GET_INSTRUMENT, &instrument, sizeof instrument) == SF_TRUE
        && static_cast<signed char>(instrument.basenote) >= 0)
        m.rootNote = static_cast<std::int8_t>(instrument.basenote);
    SF_LOOP_INFO loop{};
    if (sf_command(file, SFC_GET_LOOP_INFO, &loop, sizeof loop) == SF_TRUE) {
        if (std::isfinite(loop.bpm) && loop.bpm > 0 && loop.bpm < 1000)
            m.bpm = static_cast<float>(loop.bpm);
        if (m.rootNote < 0 && loop.root_key > 0)
            m.rootNote = static_cast<std::int8_t>(loop.root_key);
    }
    if (major == SF_FORMAT_WAV || major == SF_FORMAT_WAVEX || major == SF_FORMAT_RF64) {
        const std::string ixml = chunkOf(file, "iXML");
        if (!ixml.empty()) {
            const std::string note = elementText(ixml, "NOTE");
            addField(m, "Note", note);
            addField(m, "Project", elementText(ixml, "PROJECT"));
            addField(m, "Scene", elementText(ixml, "SCENE"));
            addField(m, "Take", elementText(ixml, "TAKE"));
            if (m.description.empty())
                m.description = cleanMetadataText(note, kMostField);
        }
        if (hasSmallId3(file)) {
            TagLib::RIFF::WAV::File wav(path.c_str(), false);
            if (wav.isValid())
                readId3(m, wav.ID3v2Tag());
        }
    } else if (major == SF_FORMAT_MPEG && id3TagIsSmall(path)) {
        TagLib::MPEG::File mp3(path.c_str(), false);
        if (mp3.isValid())
            readId3(m, mp3.ID3v2Tag());
    }
    if (!m.text.empty() && m.text.back() == '\n')
        m.text.pop_back();
    return m;
}

} // namespace auralist
