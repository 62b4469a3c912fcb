#include <gtest/gtest.h>

#include <sndfile.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <taglib/id3v2tag.h>
#include <taglib/mpegfile.h>
#include <taglib/textidentificationframe.h>
#include <taglib/wavfile.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "platform/sound_header_reader.h"
#include "platform/sound_metadata.h"
#include "test_support.h"

using namespace auralist;
using auralist::testing::TempDir;

namespace {

// A second of silence at 44.1 kHz, with whatever write adds before the
// samples go in.
void writeWith(const std::string &path, int format, const std::function<void(SNDFILE *)> &write)
{
    SF_INFO info{};
    info.samplerate = 44100;
    info.channels = 1;
    info.format = format;
    SNDFILE *f = sf_open(path.c_str(), SFM_WRITE, &info);
    ASSERT_TRUE(f) << sf_strerror(nullptr);
    write(f);
    const std::vector<float> silence(44100);
    sf_writef_float(f, silence.data(), 44100);
    sf_close(f);
}

FileMetadata read(const std::string &path, HeaderFacts *facts = nullptr)
{
    SoundHeaderReader reader;
    std::string error;
    FileMetadata m;
    const HeaderFacts f = reader.readWithMetadata(path, error, m);
    if (facts)
        *facts = f;
    return m;
}

} // namespace

TEST(Metadata, EachKindOfChunkIsReadBack)
{
    const TempDir dir;
    // Broadcast WAV, RIFF INFO (Latin-1 in it), the instrument chunk, iXML.
    const std::string bwf = dir.path() + "/bwf.wav";
    writeWith(bwf, SF_FORMAT_WAV | SF_FORMAT_PCM_16, [](SNDFILE *f) {
        SF_BROADCAST_INFO bext{};
        std::strcpy(bext.description, "Door, wood, slow creak");
        std::strcpy(bext.originator, "Field Kit");
        std::memcpy(bext.origination_date, "2026-05-01", 10);
        ASSERT_EQ(sf_command(f, SFC_SET_BROADCAST_INFO, &bext, sizeof bext), SF_TRUE);
        sf_set_string(f, SF_STR_TITLE, "Creak");
        sf_set_string(f, SF_STR_ARTIST, "Caf\xe9 Sounds"); // Latin-1
        sf_set_string(f, SF_STR_SOFTWARE, "Recorder <b>9</b>");
        SF_INSTRUMENT instrument{};
        instrument.basenote = 57;
        instrument.velocity_hi = 127;
        instrument.key_hi = 127;
        instrument.gain = 1;
        sf_command(f, SFC_SET_INSTRUMENT, &instrument, sizeof instrument);
        static char ixml[] = "<?xml version=\"1.0\"?><BWFXML><PROJECT>Doors &amp; Hinges</PROJECT>"
                             "<SCENE>12</SCENE><TAKE>3</TAKE><NOTE>close mic</NOTE></BWFXML>";
        SF_CHUNK_INFO chunk{};
        std::strcpy(chunk.id, "iXML");
        chunk.id_size = 4;
        chunk.data = ixml;
        chunk.datalen = sizeof ixml - 1;
        EXPECT_EQ(sf_set_chunk(f, &chunk), SF_ERR_NO_ERROR);
    });
    HeaderFacts facts;
    FileMetadata m = read(bwf, &facts);
    EXPECT_EQ(facts.state, HeaderFacts::State::Read);
    EXPECT_EQ(m.description, "Door, wood, slow creak");
    for (const char *line : {"Description: Door, wood, slow creak", "Originator: Field Kit", "Date: 2026-05-01",
                             "Title: Creak", "Artist: Caf\u00e9 Sounds", "Software: Recorder <b>9</b>",
                             "Project: Doors & Hinges", "Scene: 12", "Take: 3", "Note: close mic"})
        EXPECT_NE(m.text.find(line), std::string::npos) << line << " in\n" << m.text;
    EXPECT_EQ(m.rootNote, 57);

    // FLAC's Vorbis comments.
    const std::string flac = dir.path() + "/comment.flac";
    writeWith(flac, SF_FORMAT_FLAC | SF_FORMAT_PCM_16, [](SNDFILE *f) {
        sf_set_string(f, SF_STR_TITLE, "Snare");
        sf_set_string(f, SF_STR_COMMENT, "tight snare, 120 BPM kit");
    });
    m = read(flac);
    EXPECT_EQ(m.description, "tight snare, 120 BPM kit");
    EXPECT_NE(m.text.find("Title: Snare"), std::string::npos) << m.text;

    // ID3v2 in a WAV ("id3 " chunk) and in an MP3, written by TagLib.
    const std::string tagged = dir.path() + "/tagged.wav";
    writeWith(tagged, SF_FORMAT_WAV | SF_FORMAT_PCM_16, [](SNDFILE *) {});
    {
        TagLib::RIFF::WAV::File w(tagged.c_str());
        ASSERT_TRUE(w.isValid());
        w.ID3v2Tag()->setTitle("Tagged loop");
        w.ID3v2Tag()->setComment("a loop with a tag");
        auto *bpm = new TagLib::ID3v2::TextIdentificationFrame("TBPM", TagLib::String::UTF8);
        bpm->setText("96");
        w.ID3v2Tag()->addFrame(bpm);
        ASSERT_TRUE(w.save());
    }
    m = read(tagged);
    EXPECT_EQ(m.description, "a loop with a tag");
    EXPECT_FLOAT_EQ(m.bpm, 96.0F);
    EXPECT_NE(m.text.find("Title: Tagged loop"), std::string::npos) << m.text;
}

TEST(Metadata, HostileChunksAreBoundedAndTheSoundStillReads)
{
    // Text made safe: NUL-less fixed fields end at their size, control
    // characters go, Latin-1 becomes UTF-8, huge text is cut at a character.
    EXPECT_EQ(cleanMetadataText("  a\tb\x01"
                                "c\r\n ",
                                100),
              "a bc");
    EXPECT_EQ(cleanMetadataText("caf\xe9", 100), "caf\u00e9");
    EXPECT_EQ(cleanMetadataText("\u00e9\u00e9\u00e9", 5), "\u00e9\u00e9");
    EXPECT_EQ(cleanMetadataText(std::string("ab\0cd", 5), 100), "ab");
    EXPECT_EQ(cleanMetadataText(std::string(10 << 20, 'x'), 2048).size(), 2048U);

    const TempDir dir;
    // A bext description filling its field with no end, and a LIST chunk
    // whose length runs past the end of the file.
    const std::string path = dir.path() + "/hostile.wav";
    writeWith(path, SF_FORMAT_WAV | SF_FORMAT_PCM_16, [](SNDFILE *f) {
        SF_BROADCAST_INFO bext{};
        std::memset(bext.description, 'd', sizeof bext.description);
        sf_command(f, SFC_SET_BROADCAST_INFO, &bext, sizeof bext);
    });
    FileMetadata m = read(path);
    EXPECT_EQ(m.description, std::string(256, 'd'));
    {
        std::ofstream out(path, std::ios::binary | std::ios::app);
        const char list[] = "LIST\xff\xff\xff\x7fINFOINAM\xff\xff\x00\x00junk";
        out.write(list, sizeof list - 1);
    }
    HeaderFacts facts;
    m = read(path, &facts);
    EXPECT_EQ(facts.state, HeaderFacts::State::Read);
    EXPECT_EQ(facts.frames, 44100);
}

namespace {

// A FLAC whose STREAMINFO claims what it likes: rate (20 bits) and total
// frames (36 bits) written over what libsndfile wrote.
void claim(const std::string &path, std::uint32_t rate, std::uint64_t frames)
{
    std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
    unsigned char b[8];
    f.seekg(18);
    f.read(reinterpret_cast<char *>(b), 8);
    // rate: 20 bits; then channels-1 (3), bits-1 (5), total frames (36).
    b[0] = static_cast<unsigned char>(rate >> 12);
    b[1] = static_cast<unsigned char>(rate >> 4);
    b[2] = static_cast<unsigned char>((rate & 0xF) << 4 | (b[2] & 0x0F));
    b[3] = static_cast<unsigned char>((b[3] & 0xF0) | ((frames >> 32) & 0x0F));
    for (int i = 0; i < 4; ++i)
        b[4 + i] = static_cast<unsigned char>(frames >> (24 - 8 * i));
    f.seekp(18);
    f.write(reinterpret_cast<const char *>(b), 8);
}

} // namespace

// A header's length and rate are claims: an absurd rate is a file that
// cannot play; an absurd length at a real rate reads, bounded.
TEST(Metadata, ALyingStreamInfoIsAClaimNotAFact)
{
    TempDir tmp;
    const std::string slow = tmp.path() + "/slow.flac";
    writeWith(slow, SF_FORMAT_FLAC | SF_FORMAT_PCM_16, [](SNDFILE *) {});
    claim(slow, 1, (std::uint64_t{1} << 36) - 1);
    HeaderFacts facts;
    read(slow, &facts);
    EXPECT_EQ(facts.state, HeaderFacts::State::Failed);

    const std::string huge = tmp.path() + "/huge.flac";
    writeWith(huge, SF_FORMAT_FLAC | SF_FORMAT_PCM_16, [](SNDFILE *) {});
    claim(huge, 44100, (std::uint64_t{1} << 36) - 1);
    read(huge, &facts);
    EXPECT_EQ(facts.rate, 44100U);
}

// A tag of megabytes is not handed to the tag library, which reads a tag
// whole: the sound still reads, without what that tag says.
TEST(Metadata, AHugeTagIsNotReadWhole)
{
    const TempDir dir;
    const std::string big = dir.path() + "/big tag.wav";
    writeWith(big, SF_FORMAT_WAV | SF_FORMAT_PCM_16, [](SNDFILE *) {});
    {
        TagLib::RIFF::WAV::File w(big.c_str());
        ASSERT_TRUE(w.isValid());
        w.ID3v2Tag()->setTitle("Big tag");
        auto *filler = new TagLib::ID3v2::TextIdentificationFrame("TIT3", TagLib::String::UTF8);
        filler->setText(TagLib::String(std::string(3 << 20, 'f')));
        w.ID3v2Tag()->addFrame(filler);
        ASSERT_TRUE(w.save());
    }
    HeaderFacts facts;
    const FileMetadata m = read(big, &facts);
    EXPECT_EQ(facts.state, HeaderFacts::State::Read);
    EXPECT_EQ(m.text.find("Big tag"), std::string::npos) << m.text.substr(0, 200);

    // A small tag beside a 64 MB INFO comment: the tag library would read
    // the comment whole with the tag. The file reads in a few megabytes
    // (measured in a child, whose high-water mark is its own).
    const std::string comment = dir.path() + "/long comment.wav";
    writeWith(comment, SF_FORMAT_WAV | SF_FORMAT_PCM_16, [](SNDFILE *) {});
    {
        TagLib::RIFF::WAV::File w(comment.c_str());
        ASSERT_TRUE(w.isValid());
        w.ID3v2Tag()->setTitle("Small tag");
        w.InfoTag()->setComment(TagLib::String(std::string(64 << 20, 'c')));
        ASSERT_TRUE(w.save());
    }
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        rusage before{};
        ::getrusage(RUSAGE_SELF, &before);
        HeaderFacts childFacts;
        const FileMetadata childRead = read(comment, &childFacts);
        rusage after{};
        ::getrusage(RUSAGE_SELF, &after);
        const bool ok
            = childFacts.state == HeaderFacts::State::Read && childRead.text.find("Small tag") == std::string::npos;
        const bool grew = after.ru_maxrss - before.ru_maxrss > 16 * 1024;
        ::_exit(grew ? 1 : !ok ? 2 : 0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "1: the high-water mark grew by more than 16 MB; 2: not read as expected";
}
