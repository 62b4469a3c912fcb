#include "catalogue/database.h"

#include <sqlite3.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "catalogue/statement.h"

namespace auralist::catalogue {

namespace {

// The key of a stored fingerprint (only a packed one has one), with the
// audio's hash in the column after the size.
std::optional<ContentKey> keyOf(const Statement &select, int column, std::int64_t size)
{
    if (!select.isBlob(column))
        return std::nullopt;
    const std::string_view bytes = select.view(column);
    if (bytes.size() != 8)
        return std::nullopt;
    return ContentKey{unpackedHash(bytes), size, static_cast<std::uint64_t>(select.integer(column + 2))};
}

void bindKey(Statement &statement, int first, const ContentKey &key)
{
    const std::string bytes = packedHash(key.print);
    statement.bindBytes(first, bytes.data(), bytes.size());
    statement.bind(first + 1, key.size);
    statement.bind(first + 2, static_cast<std::int64_t>(key.audio));
}

constexpr const char *kAnalysisColumns
    = "a.loudness, a.peak, a.loop, a.bpm, a.note, a.audio_hash, a.descriptor, a.error";

// The analysis columns from first on.
void analysisAt(const Statement &select, int first, AnalysisResult &r)
{
    r.error = select.bytes(first + 7);
    SoundTraits &t = r.traits;
    t = SoundTraits{};
    t.state = r.error.empty() ? SoundTraits::State::Analysed : SoundTraits::State::Failed;
    t.loudness = static_cast<float>(select.real(first));
    t.peak = static_cast<float>(select.real(first + 1));
    t.loop = select.integer(first + 2) != 0;
    t.bpm = static_cast<float>(select.real(first + 3));
    t.note = static_cast<std::int8_t>(std::clamp<std::int64_t>(select.integer(first + 4), -1, 127));
    t.audioHash = static_cast<std::uint64_t>(select.integer(first + 5));
    const std::string_view descriptor = select.view(first + 6);
    r.descriptor.resize(descriptor.size() / sizeof(float));
    // An empty blob has no bytes to point at.
    if (!r.descriptor.empty())
        std::memcpy(r.descriptor.data(), descriptor.data(), r.descriptor.size() * sizeof(float));
}

} // namespace

Database::Analyses::Analyses(Database &db) : m_db(db)
{
}

Database::Analyses::~Analyses() = default;

bool Database::Analyses::setAnalysis(const std::string &path, const AnalysisResult &result)
{
    // The sound is known by the hash its own audio gave; what was learned
    // is kept under its content, for any file found to hold the same.
    const SoundTraits &t = result.traits;
    const bool ok = t.state == SoundTraits::State::Analysed;
    const std::uint64_t audio = ok ? t.audioHash : 0;
    if (!m_own)
        m_own = std::make_unique<Statement>(m_db.m_db,
                                            (std::string("UPDATE sounds SET content = ?1") + kAtPath2
                                             + " AND fingerprint IS NOT NULL AND length(fingerprint) > 0")
                                                .c_str());
    Statement &own = *m_own;
    own.bind(1, static_cast<std::int64_t>(audio));
    own.bind(2, path);
    if (!m_db.checked(own.run()))
        return false;
    if (!m_set)
        m_set = std::make_unique<Statement>(
            m_db.m_db,
            (std::string("INSERT OR REPLACE INTO analysis(print, size, version, loudness, peak, loop, bpm,"
                         " note, audio_hash, descriptor, error) SELECT fingerprint, size, ?3, ?4, ?5, ?6,"
                         " ?7, ?8, ?9, ?10, ?11 FROM sounds")
             + kAtPath1 + " AND fingerprint IS NOT NULL AND length(fingerprint) > 0")
                .c_str());
    Statement &set = *m_set;
    set.bind(1, path);
    set.bind(3, std::int64_t{kAnalysisVersion});
    set.bindReal(4, t.loudness);
    set.bindReal(5, t.peak);
    set.bind(6, std::int64_t{t.loop ? 1 : 0});
    set.bindReal(7, t.bpm);
    set.bind(8, std::int64_t{t.note});
    set.bind(9, static_cast<std::int64_t>(audio));
    set.bindBytes(10, result.descriptor.data(), result.descriptor.size() * sizeof(float));
    if (ok)
        set.bindText(11, std::string());
    else
        set.bindText(11, result.error.empty() ? std::string("The sound could not be analysed.") : result.error);
    return m_db.checked(set.run());
}

std::vector<std::pair<std::int64_t, std::string>> Database::Analyses::unanalysed(std::int64_t after, std::size_t most)
{
    std::vector<std::pair<std::int64_t, std::string>> out;
    Statement select(
        m_db.m_db,
        "SELECT s.id, sound_path(s.folder, s.name) FROM sounds s WHERE s.id > ?1 AND length(s.fingerprint) > 0"
        " AND NOT EXISTS (SELECT 1 FROM analysis a WHERE a.print = s.fingerprint"
        " AND a.size = s.size AND a.audio_hash = s.content AND a.version = ?3) ORDER BY s.id LIMIT ?2");
    select.bind(1, after);
    select.bind(2, static_cast<std::int64_t>(most));
    select.bind(3, std::int64_t{kAnalysisVersion});
    while (select.step() == SQLITE_ROW)
        out.emplace_back(select.integer(0), select.bytes(1));
    return out;
}

void Database::Analyses::eachAnalysis(const AnalysisVisit &visit)
{
    Statement select(m_db.m_db,
                     (std::string("SELECT sound_path(s.folder, s.name), a.print, a.size, a.audio_hash, ")
                      + kAnalysisColumns
                      + " FROM analysis a JOIN sounds s ON s.fingerprint = a.print AND s.size = a.size"
                        " AND s.content = a.audio_hash WHERE a.version = ?")
                         .c_str());
    select.bind(1, std::int64_t{kAnalysisVersion});
    AnalysisResult r;
    while (select.step() == SQLITE_ROW) {
        const std::string path = select.bytes(0);
        analysisAt(select, 4, r);
        visit(path, keyOf(select, 1, select.integer(2)), r);
    }
}

void Database::Analyses::eachDescription(const std::function<void(const ContentKey &, std::span<const float>)> &visit)
{
    Statement select(m_db.m_db,
                     "SELECT print, size, audio_hash, descriptor FROM analysis WHERE version = ? AND error = ''"
                     " AND length(descriptor) > 0");
    select.bind(1, std::int64_t{kAnalysisVersion});
    std::vector<float> description;
    while (select.step() == SQLITE_ROW) {
        const auto key = keyOf(select, 0, select.integer(1));
        if (!key)
            continue;
        const std::string_view bytes = select.view(3);
        description.resize(bytes.size() / sizeof(float));
        std::memcpy(description.data(), bytes.data(), description.size() * sizeof(float));
        visit(*key, description);
    }
}

std::optional<ContentKey> Database::Analyses::contentAt(const std::string &path)
{
    if (!m_content)
        m_content = std::make_unique<Statement>(
            m_db.m_db, (std::string("SELECT fingerprint, size, content FROM sounds") + kAtPath1).c_str());
    Statement &select = *m_content;
    select.bind(1, path);
    std::optional<ContentKey> key;
    if (select.step() == SQLITE_ROW && !select.isNull(2))
        key = keyOf(select, 0, select.integer(1));
    select.reset();
    return key;
}

std::vector<std::pair<SoundRow, AnalysisResult>> Database::Analyses::soundsWith(const ContentKey &content)
{
    std::vector<std::pair<SoundRow, AnalysisResult>> out;
    Statement select(
        m_db.m_db,
        (std::string(
             "SELECT sound_path(s.folder, s.name), s.size, s.modified, s.device, s.inode, s.length_frames, s.rate,"
             " s.channels, s.format, s.favourite, s.tags, s.fingerprint, s.metadata, s.content, ")
         + kAnalysisColumns
         + " FROM sounds s JOIN analysis a ON a.print = s.fingerprint AND a.size = s.size"
           " AND a.audio_hash = s.content WHERE s.fingerprint = ?1 AND s.size = ?2 AND s.content = ?3"
           " AND a.version = ?4 ORDER BY s.id")
            .c_str());
    bindKey(select, 1, content);
    select.bind(4, std::int64_t{kAnalysisVersion});
    while (select.step() == SQLITE_ROW) {
        AnalysisResult r;
        analysisAt(select, 14, r);
        out.emplace_back(soundAt(select), std::move(r));
    }
    return out;
}

} // namespace auralist::catalogue
