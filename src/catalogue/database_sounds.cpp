#include "catalogue/database.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <sqlite3.h>
#include <string_view>
#include <utility>

#include "catalogue/list_reader.h"
#include "catalogue/statement.h"

namespace auralist::catalogue {

namespace {

// stored: the column's bytes; packed: they were kept as a blob (the 8-byte
// form) rather than as text.
std::string printOf(const std::string &stored, bool packed, std::int64_t size)
{
    if (!packed || stored.size() != 8)
        return stored;
    return std::to_string(size) + ":" + std::to_string(unpackedHash(stored));
}

// A sound's columns as the upsert and insert statements number them.
void bindSound(Statement &st, std::int64_t root, std::int64_t folder, const SoundRow &r)
{
    st.bind(1, root);
    st.bind(15, folder);
    st.bind(2, r.path);
    st.bind(3, r.size);
    st.bind(4, r.modified);
    st.bind(5, static_cast<std::int64_t>(r.device));
    st.bind(6, static_cast<std::int64_t>(r.inode));
    st.bind(7, r.lengthFrames);
    st.bind(8, std::int64_t{r.rate});
    st.bind(9, std::int64_t{r.channels});
    st.bindText(10, r.format);
    if (const auto packed = packedPrint(r.fingerprint, r.size))
        st.bind(11, *packed);
    else
        st.bindText(11, r.fingerprint);
    st.bind(12, std::int64_t{r.favourite ? 1 : 0});
    st.bindText(13, r.tags);
    st.bind(14, r.content);
}

} // namespace

std::string packedHash(std::uint64_t hash)
{
    std::string bytes(8, '\0');
    for (int i = 0; i < 8; ++i)
        bytes[static_cast<size_t>(i)] = static_cast<char>((hash >> (56 - 8 * i)) & 0xFF);
    return bytes;
}

std::uint64_t unpackedHash(std::string_view bytes)
{
    std::uint64_t hash = 0;
    for (const char c : bytes)
        hash = (hash << 8) | static_cast<unsigned char>(c);
    return hash;
}

std::optional<std::string> packedPrint(const std::string &print, std::int64_t size)
{
    const auto colon = print.find(':');
    if (colon == std::string::npos || print.substr(0, colon) != std::to_string(size))
        return std::nullopt;
    char *end = nullptr;
    const unsigned long long hash = std::strtoull(print.c_str() + colon + 1, &end, 10);
    if (end == print.c_str() + colon + 1 || *end != '\0' || std::to_string(hash) != print.substr(colon + 1))
        return std::nullopt;
    return packedHash(hash);
}

SoundRow soundAt(const Statement &select)
{
    SoundRow r;
    r.path = select.bytes(0);
    r.size = select.integer(1);
    r.modified = select.integer(2);
    r.device = static_cast<std::uint64_t>(select.integer(3));
    r.inode = static_cast<std::uint64_t>(select.integer(4));
    r.lengthFrames = select.integer(5);
    r.rate = static_cast<int>(select.integer(6));
    r.channels = static_cast<int>(select.integer(7));
    r.format = select.bytes(8);
    r.favourite = select.integer(9) != 0;
    r.tags = select.bytes(10);
    r.fingerprint = printOf(select.bytes(11), select.isBlob(11), r.size);
    r.metadata = select.bytes(12);
    if (!select.isNull(13))
        r.content = static_cast<std::uint64_t>(select.integer(13));
    return r;
}

std::int64_t Database::rememberRoot(const std::string &path)
{
    Statement insert(m_db, "INSERT OR IGNORE INTO roots(path) VALUES(?)");
    insert.bind(1, path);
    insert.run();
    Statement find(m_db, "SELECT id FROM roots WHERE path = ?");
    find.bind(1, path);
    return find.step() == SQLITE_ROW ? find.integer(0) : 0;
}

bool Database::replaceSounds(std::int64_t root, const std::vector<SoundRow> &rows)
{
    if (!exec("SAVEPOINT replace"))
        return false;
    if (beginReplace() && upsertSounds(root, rows) && pruneUnseen(root) && exec("RELEASE replace"))
        return true;
    noteWriteError();
    exec("ROLLBACK TO replace; RELEASE replace");
    m_folders.clear();
    return false;
}

bool Database::beginReplace()
{
    return exec("CREATE TEMP TABLE IF NOT EXISTS seen (id INTEGER PRIMARY KEY); DELETE FROM seen;");
}

bool Database::insertSounds(std::int64_t root, const std::vector<SoundRow> &rows)
{
    return inSavepoint([&] {
        bool ok = true;
        {
            Statement insert(m_db,
                             "INSERT INTO sounds(root, folder, name, size, modified, device, inode, length_frames,"
                             " rate, channels, format, fingerprint, favourite, tags, content)"
                             " VALUES(?1, ?15, name_of(?2), ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13, ?14)");
            ok = insert.ok();
            for (const SoundRow &r : rows) {
                if (!ok)
                    break;
                const std::int64_t folder = m_folders.ofSound(r.path);
                bindSound(insert, root, folder, r);
                ok = folder >= 0 && insert.run();
            }
        }
        return ok;
    });
}

bool Database::upsertSounds(std::int64_t root, const std::vector<SoundRow> &rows)
{
    return inSavepoint([&] {
        bool ok = true;
        {
            // Known paths are updated, keeping their marks; new ones inserted
            // with the marks they are given (a sound found moved brings its own).
            // A known sound keeps the hash of its audio while its file is
            // unchanged, unless it is given one.
            Statement update(m_db,
                             (std::string("UPDATE sounds SET root = ?1, size = ?3, modified = ?4, device = ?5,"
                                          " inode = ?6, length_frames = ?7, rate = ?8, channels = ?9, format = ?10,"
                                          " fingerprint = ?11, content = CASE WHEN ?14 IS NOT NULL THEN ?14"
                                          " WHEN size = ?3 AND modified = ?4 AND fingerprint IS ?11 THEN content END")
                              + kAtPath2 + " RETURNING id")
                                 .c_str());
            Statement insert(m_db,
                             "INSERT INTO sounds(root, folder, name, size, modified, device, inode, length_frames,"
                             " rate, channels, format, fingerprint, favourite, tags, content)"
                             " VALUES(?1, ?15, name_of(?2), ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13, ?14)");
            Statement seen(m_db, "INSERT OR IGNORE INTO seen(id) VALUES(?)");
            ok = update.ok() && insert.ok() && seen.ok();
            for (const SoundRow &r : rows) {
                if (!ok)
                    break;
                // The update has no use for the marks (12, 13) nor the
                // folder's id (15): binding them there is refused, harmlessly.
                const std::int64_t folder = m_folders.ofSound(r.path);
                for (Statement *st : {&update, &insert})
                    bindSound(*st, root, folder, r);
                std::optional<std::int64_t> id = folder >= 0 ? update.runForId() : std::nullopt;
                if (id && *id == 0)
                    id = insert.run() ? std::optional<std::int64_t>(sqlite3_last_insert_rowid(m_db)) : std::nullopt;
                ok = id.has_value();
                if (ok) {
                    seen.bind(1, *id);
                    ok = seen.run();
                }
            }
        }
        return ok;
    });
}

bool Database::pruneUnseen(std::int64_t root)
{
    Statement prune(m_db, "DELETE FROM sounds WHERE root = ? AND id NOT IN (SELECT id FROM seen)");
    prune.bind(1, root);
    return checked(prune.run());
}

bool Database::setFacts(const std::string &path, const SoundRow &facts)
{
    Statement set(
        m_db,
        (std::string("UPDATE sounds SET length_frames = ?1, rate = ?3, channels = ?4, format = ?5, metadata = ?6")
         + kAtPath2)
            .c_str());
    set.bind(1, facts.lengthFrames);
    set.bind(2, path);
    set.bind(3, std::int64_t{facts.rate});
    set.bind(4, std::int64_t{facts.channels});
    set.bindText(5, facts.format);
    if (!facts.metadata.empty())
        set.bindText(6, facts.metadata);
    return checked(set.run());
}

std::optional<std::int64_t> Database::rootAt(const std::string &path)
{
    Statement find(m_db, "SELECT id FROM roots WHERE path = ?");
    find.bind(1, path);
    if (find.step() == SQLITE_ROW)
        return find.integer(0);
    return std::nullopt;
}

bool Database::forgetRoot(std::int64_t root)
{
    Statement forget(m_db, "DELETE FROM roots WHERE id = ?");
    forget.bind(1, root);
    return checked(forget.run());
}

bool Database::forgetSounds(const std::vector<std::string> &paths)
{
    return inSavepoint([&] {
        Statement forget(m_db, (std::string("DELETE FROM sounds") + kAtPath1).c_str());
        bool ok = forget.ok();
        for (const std::string &p : paths) {
            forget.bind(1, p);
            ok = ok && forget.run();
        }
        return ok;
    });
}

bool Database::notePlayed(const std::string &path, std::int64_t when)
{
    Statement played(m_db, (std::string("UPDATE sounds SET played = ?1") + kAtPath2).c_str());
    played.bind(1, when);
    played.bind(2, path);
    return checked(played.run());
}

std::vector<SoundRow> Database::recentlyPlayed(int limit)
{
    std::vector<SoundRow> out;
    Statement select(
        m_db,
        (std::string("SELECT ") + kSoundColumns + " FROM sounds WHERE played > 0 ORDER BY played DESC LIMIT ?")
            .c_str());
    select.bind(1, std::int64_t{limit});
    while (select.step() == SQLITE_ROW)
        out.push_back(soundAt(select));
    return out;
}

std::vector<SoundRow> Database::favourites()
{
    std::vector<SoundRow> out;
    Statement select(
        m_db, (std::string("SELECT ") + kSoundColumns + " FROM sounds WHERE favourite != 0 ORDER BY id").c_str());
    while (select.step() == SQLITE_ROW)
        out.push_back(soundAt(select));
    return out;
}

std::vector<SoundRow> Database::soundsOf(std::int64_t root)
{
    std::vector<SoundRow> out;
    eachSoundOf(root, [&](const SoundRow &row) { out.push_back(row); });
    return out;
}

void Database::eachSoundOf(std::int64_t root, const std::function<void(const SoundRow &)> &visit)
{
    Statement select(m_db,
                     (std::string("SELECT ") + kSoundColumns + " FROM sounds WHERE root = ? ORDER BY id").c_str());
    select.bind(1, root);
    while (select.step() == SQLITE_ROW)
        visit(soundAt(select));
}

bool Database::eachListedSoundOf(std::int64_t root, const std::function<void(const ListedSound &)> &visit,
                                 std::int64_t after, std::int64_t upTo)
{
    return eachListedSound(m_db, m_folders, root, after, upTo, visit);
}

std::vector<Root> Database::roots()
{
    std::vector<Root> out;
    Statement select(m_db,
                     "SELECT r.id, r.path, (SELECT count(*) FROM sounds s WHERE s.root = r.id)"
                     " FROM roots r ORDER BY r.id");
    while (select.step() == SQLITE_ROW)
        out.push_back({select.integer(0), select.bytes(1), select.integer(2)});
    return out;
}

bool Database::moveSounds(const std::vector<std::pair<std::string, std::string>> &moves)
{
    return inSavepoint([&] {
        const std::vector<Root> known = roots();
        Statement move(
            m_db, (std::string("UPDATE sounds SET folder = ?4, name = name_of(?1), root = ?3") + kAtPath2).c_str());
        bool ok = move.ok();
        for (const auto &[from, to] : moves) {
            std::int64_t root = 0;
            std::size_t longest = 0;
            for (const Root &r : known) {
                const std::string folder = r.path.ends_with('/') ? r.path : r.path + '/';
                if (to.starts_with(folder) && folder.size() > longest) {
                    root = r.id;
                    longest = folder.size();
                }
            }
            if (root == 0) {
                const std::size_t slash = to.rfind('/');
                root = rememberRoot(slash == 0 ? std::string("/") : to.substr(0, slash));
            }
            const std::int64_t folder = m_folders.ofSound(to);
            move.bind(1, to);
            move.bind(2, from);
            move.bind(3, root);
            move.bind(4, folder);
            ok = ok && root != 0 && folder >= 0 && move.run();
        }
        return ok;
    });
}

std::optional<SoundRow> Database::findSound(const std::string &path, const std::string &print)
{
    {
        Statement byPath(m_db, (std::string("SELECT ") + kSoundColumns + " FROM sounds" + kAtPath1).c_str());
        byPath.bind(1, path);
        if (byPath.step() == SQLITE_ROW)
            return soundAt(byPath);
    }
    if (print.empty())
        return std::nullopt;
    Statement byPrint(
        m_db,
        (std::string("SELECT ") + kSoundColumns + " FROM sounds WHERE fingerprint = ? OR fingerprint = ? ORDER BY id")
            .c_str());
    const std::int64_t size = std::strtoll(print.c_str(), nullptr, 10);
    if (const auto packed = packedPrint(print, size))
        byPrint.bind(1, *packed);
    else
        byPrint.bindText(1, print);
    byPrint.bindText(2, print);
    while (byPrint.step() == SQLITE_ROW) {
        SoundRow row = soundAt(byPrint);
        if (row.fingerprint == print)
            return row;
    }
    return std::nullopt;
}

std::string packMetadata(const FileMetadata &m)
{
    if (m.empty())
        return {};
    const char us = '\x1f';
    // Numbers written as C does, whatever the locale.
    char bpm[32] = {};
    if (m.bpm > 0)
        std::to_chars(bpm, bpm + sizeof bpm - 1, m.bpm);
    return m.description + us + m.text + us + bpm + us + (m.rootNote >= 0 ? std::to_string(m.rootNote) : std::string());
}

FileMetadata unpackMetadata(std::string_view packed)
{
    FileMetadata m;
    std::string_view fields[4];
    for (std::string_view &f : fields) {
        const auto end = packed.find('\x1f');
        f = packed.substr(0, end);
        packed = end == std::string_view::npos ? std::string_view() : packed.substr(end + 1);
    }
    m.description = fields[0];
    m.text = fields[1];
    float bpm = 0;
    if (std::from_chars(fields[2].data(), fields[2].data() + fields[2].size(), bpm).ec == std::errc()
        && std::isfinite(bpm) && bpm > 0 && bpm < 1000)
        m.bpm = bpm;
    int note = -1;
    if (std::from_chars(fields[3].data(), fields[3].data() + fields[3].size(), note).ec == std::errc() && note >= 0
        && note <= 127)
        m.rootNote = static_cast<std::int8_t>(note);
    return m;
}

} // namespace auralist::catalogue
