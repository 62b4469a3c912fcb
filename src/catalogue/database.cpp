#include "catalogue/database.h"

#include <sqlite3.h>
#include <sys/stat.h>
#include <xxhash.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <string_view>
#include <system_error>
#include <thread>
#include <unordered_map>
#include <utility>

#include "catalogue/statement.h"

namespace auralist::catalogue {

namespace {

namespace fs = std::filesystem;

// Every step from one schema to the next, in order: step i takes a file at
// user_version i to i + 1.
const char *const kMigrations[] = {
    // 0 -> 1: roots and their sounds. Paths are blobs: native bytes, not
    // necessarily UTF-8.
    "CREATE TABLE roots (id INTEGER PRIMARY KEY, path BLOB NOT NULL UNIQUE);"
    "CREATE TABLE sounds (id INTEGER PRIMARY KEY, root INTEGER NOT NULL REFERENCES roots(id) ON DELETE CASCADE,"
    " path BLOB NOT NULL UNIQUE, size INTEGER, modified INTEGER, device INTEGER, inode INTEGER,"
    " length_frames INTEGER, rate INTEGER, channels INTEGER, format TEXT, fingerprint TEXT,"
    " favourite INTEGER NOT NULL DEFAULT 0, tags TEXT NOT NULL DEFAULT '');"
    "CREATE INDEX sounds_by_root ON sounds(root);"
    "CREATE INDEX sounds_by_fingerprint ON sounds(fingerprint);",
    // 1 -> 2: paths found by a 64-bit key (their xxHash) instead of a
    // unique index of the paths themselves, which doubled the room they
    // take; fingerprints as bytes; when each sound was last played.
    "CREATE TABLE sounds_v2 (id INTEGER PRIMARY KEY,"
    " root INTEGER NOT NULL REFERENCES roots(id) ON DELETE CASCADE, path_key INTEGER NOT NULL, path BLOB NOT NULL,"
    " size INTEGER, modified INTEGER, device INTEGER, inode INTEGER, length_frames INTEGER, rate INTEGER,"
    " channels INTEGER, format TEXT, fingerprint BLOB, favourite INTEGER NOT NULL DEFAULT 0,"
    " tags TEXT NOT NULL DEFAULT '', played INTEGER NOT NULL DEFAULT 0);"
    "INSERT INTO sounds_v2(id, root, path_key, path, size, modified, device, inode, length_frames, rate, channels,"
    " format, fingerprint, favourite, tags) SELECT id, root, path_key(path), path, size, modified, device, inode,"
    " length_frames, rate, channels, format, fingerprint, favourite, tags FROM sounds;"
    "DROP TABLE sounds;"
    "ALTER TABLE sounds_v2 RENAME TO sounds;"
    "CREATE INDEX sounds_by_root ON sounds(root);"
    "CREATE INDEX sounds_by_path ON sounds(path_key);"
    "CREATE INDEX sounds_by_fingerprint ON sounds(fingerprint);"
    "CREATE INDEX sounds_by_played ON sounds(played) WHERE played > 0;",
    // 2 -> 3: what the analysis learned of each sound, by content (its
    // fingerprint as the sounds table keeps it, and its size), so a sound
    // is analysed once and a renamed one keeps what was learned.
    "CREATE TABLE analysis (print BLOB NOT NULL, size INTEGER NOT NULL, version INTEGER NOT NULL,"
    " loudness REAL, peak REAL, loop INTEGER NOT NULL DEFAULT 0, bpm REAL, note INTEGER, audio_hash INTEGER,"
    " descriptor BLOB, error TEXT, PRIMARY KEY(print, size)) WITHOUT ROWID;",
    // 3 -> 4: queries kept under a name; what each file says of itself
    // (NULL, taking no room, for most).
    "CREATE TABLE searches (id INTEGER PRIMARY KEY,"
    " name TEXT NOT NULL UNIQUE, query TEXT NOT NULL);"
    "ALTER TABLE sounds ADD COLUMN metadata TEXT;",
    // 4 -> 5: a fingerprint (size and the file's ends) only finds
    // candidates: the analysis is kept by the hash of the decoded audio
    // too, and each sound has the hash its own analysis found. A sound
    // that alone has its fingerprint takes its analysis's hash; sounds
    // that share one are analysed again, each on its own.
    "CREATE TABLE analysis_v5 (print BLOB NOT NULL, size INTEGER NOT NULL, version INTEGER NOT NULL,"
    " loudness REAL, peak REAL, loop INTEGER NOT NULL DEFAULT 0, bpm REAL, note INTEGER,"
    " audio_hash INTEGER NOT NULL, descriptor BLOB, error TEXT, PRIMARY KEY(print, size, audio_hash)) WITHOUT ROWID;"
    "INSERT INTO analysis_v5 SELECT print, size, version, loudness, peak, loop, bpm, note, IFNULL(audio_hash, 0),"
    " descriptor, error FROM analysis;"
    "DROP TABLE analysis;"
    "ALTER TABLE analysis_v5 RENAME TO analysis;"
    "ALTER TABLE sounds ADD COLUMN content INTEGER;"
    "UPDATE sounds SET content = (SELECT a.audio_hash FROM analysis a WHERE a.print = sounds.fingerprint"
    " AND a.size = sounds.size) WHERE length(fingerprint) > 0 AND (SELECT count(*) FROM sounds t"
    " WHERE t.fingerprint = sounds.fingerprint AND t.size = sounds.size) = 1;",
    // 5 -> 6: each folder kept once, a sound by its folder and its name
    // (moveToFolders() fills the new table between the two halves).
    "CREATE TABLE folders (id INTEGER PRIMARY KEY AUTOINCREMENT, parent INTEGER, name BLOB NOT NULL);"
    "CREATE UNIQUE INDEX folders_by_name ON folders(parent, name);"
    "CREATE TABLE sounds_v6 (id INTEGER PRIMARY KEY,"
    " root INTEGER NOT NULL REFERENCES roots(id) ON DELETE CASCADE, folder INTEGER NOT NULL, name BLOB NOT NULL,"
    " size INTEGER, modified INTEGER, device INTEGER, inode INTEGER, length_frames INTEGER, rate INTEGER,"
    " channels INTEGER, format TEXT, fingerprint BLOB, favourite INTEGER NOT NULL DEFAULT 0,"
    " tags TEXT NOT NULL DEFAULT '', played INTEGER NOT NULL DEFAULT 0, metadata TEXT, content INTEGER);",
};

// What follows moveToFolders() in the step to 6.
const char *const kFoldersDone
    = "DROP TABLE sounds;"
      "ALTER TABLE sounds_v6 RENAME TO sounds;"
      "CREATE INDEX sounds_by_root ON sounds(root);"
      "CREATE INDEX sounds_by_name ON sounds(folder, name);"
      "CREATE INDEX sounds_by_fingerprint ON sounds(fingerprint);"
      "CREATE INDEX sounds_by_played ON sounds(played) WHERE played > 0;"
      // Each sound's whole path, for whoever reads the file with other
      // tools.
      "CREATE VIEW sound_paths AS WITH RECURSIVE paths(id, path) AS ("
      " SELECT id, name FROM folders WHERE parent IS NULL"
      " UNION ALL SELECT f.id, p.path || '/' || f.name FROM folders f JOIN paths p ON f.parent = p.id)"
      " SELECT s.id AS id, CAST(p.path || '/' || s.name AS BLOB) AS path FROM sounds s JOIN paths p ON p.id = s.folder"
      " UNION ALL SELECT id, name FROM sounds WHERE folder = 0;";

// The step from schema 5: each sound's path split into its folder, made
// once, and its name, into the new table.
bool moveToFolders(sqlite3 *db, Folders &folders)
{
    Statement select(db, "SELECT id, path FROM sounds ORDER BY id");
    Statement insert(db,
                     "INSERT INTO sounds_v6(id, root, folder, name, size, modified, device, inode, length_frames, rate,"
                     " channels, format, fingerprint, favourite, tags, played, metadata, content)"
                     " SELECT id, root, ?2, ?3, size, modified, device, inode, length_frames, rate, channels, format,"
                     " fingerprint, favourite, tags, played, metadata, content FROM sounds WHERE id = ?1");
    if (!select.ok() || !insert.ok())
        return false;
    int rc = SQLITE_ROW;
    while ((rc = select.step()) == SQLITE_ROW) {
        const std::string_view path = select.view(1);
        const std::int64_t folder = folders.ofSound(path);
        if (folder < 0)
            return false;
        insert.bind(1, select.integer(0));
        insert.bind(2, folder);
        insert.bind(3, std::string(Folders::namePart(path)));
        if (!insert.run())
            return false;
    }
    return rc == SQLITE_DONE;
}

static_assert(std::size(kMigrations) == Database::kSchemaVersion);

// path_key(path): the key a path is found by.
void pathKey(sqlite3_context *context, int count, sqlite3_value **values)
{
    (void)count;
    const void *bytes = sqlite3_value_blob(values[0]);
    const auto length = static_cast<size_t>(sqlite3_value_bytes(values[0]));
    sqlite3_result_int64(context, static_cast<sqlite3_int64>(XXH3_64bits(bytes, length)));
}

std::string stamp(std::time_t now, const char *format)
{
    std::tm local{};
    localtime_r(&now, &local);
    char text[32];
    std::strftime(text, sizeof text, format, &local);
    return text;
}

// What a catalogue file is now: its size, its time of change to the
// nanosecond and its inode; empty when it cannot be read.
std::string fileStamp(const std::string &path)
{
    struct stat st { };
    if (::stat(path.c_str(), &st) != 0)
        return {};
    return std::to_string(st.st_size) + ' ' + std::to_string(st.st_mtim.tv_sec) + '.'
        + std::to_string(st.st_mtim.tv_nsec) + ' ' + std::to_string(st.st_ino) + '\n';
}

std::string readSmallFile(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::string text(256, '\0');
    in.read(text.data(), static_cast<std::streamsize>(text.size()));
    text.resize(static_cast<std::size_t>(std::max<std::streamsize>(in.gcount(), 0)));
    return text;
}

} // namespace

Database::Database(std::string path) : m_path(std::move(path))
{
}

Database::~Database()
{
    close();
}

void Database::close()
{
    m_folders.clear();
    const bool whole = m_db && m_openedWhole && !inTransaction();
    if (m_db)
        sqlite3_close_v2(m_db);
    m_db = nullptr;
    m_openedWhole = false;
    // Closed whole, the last connection gone (its journal with it): what
    // the file is now is noted, and a next start that finds it so has no
    // need to read it through for damage first.
    std::error_code error;
    const std::string closed = m_path + ".closed";
    if (!whole || fs::exists(m_path + "-wal", error)) {
        fs::remove(closed, error);
        return;
    }
    const std::string partial = closed + ".partial";
    {
        std::ofstream out(partial, std::ios::binary | std::ios::trunc);
        out << fileStamp(m_path);
        if (!out.flush())
            return;
    }
    fs::rename(partial, closed, error);
}

bool Database::exec(const char *sql)
{
    return m_db && sqlite3_exec(m_db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

bool Database::openFile()
{
    close();
    // One thread owns the connection: SQLite need not lock it on every call.
    if (sqlite3_open_v2(m_path.c_str(), &m_db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                        nullptr)
        != SQLITE_OK) {
        m_problem = m_db ? sqlite3_errmsg(m_db) : "out of memory";
        close();
        return false;
    }
    // Another window's writer may hold the file for a moment: wait for it
    // rather than fail, as long as the writer's patience lasts.
    sqlite3_busy_handler(m_db, &Database::onBusy, this);
    sqlite3_create_function(m_db, "path_key", 1, SQLITE_UTF8 | SQLITE_DETERMINISTIC, nullptr, &pathKey, nullptr,
                            nullptr);
    m_folders.clear();
    addFolderFunctions(m_db, &m_folders);
    return true;
}

// A file that is not SQLite, or whose pages do not hold together, is
// damaged. Another connection holding the file (a second window creating
// it at the same moment) is not: that is waited out, and never taken for
// damage.
Database::Health Database::health()
{
    const auto judge = [](int rc) {
        const int primary = rc & 0xFF;
        if (primary == SQLITE_NOTADB || primary == SQLITE_CORRUPT)
            return Health::Damaged;
        return primary == SQLITE_BUSY || primary == SQLITE_LOCKED ? Health::Busy : Health::Failed;
    };
    for (int attempt = 0;; ++attempt) {
        Health health = Health::Healthy;
        // The journal is cut back to 64 MB whenever it is emptied. A file
        // already in WAL mode is not asked again: that would wait for
        // another connection's write to end.
        int rc = sqlite3_exec(m_db,
                              "PRAGMA synchronous=NORMAL; PRAGMA foreign_keys=ON; PRAGMA journal_size_limit=67108864;",
                              nullptr, nullptr, nullptr);
        if (rc == SQLITE_OK) {
            std::string mode;
            {
                Statement read(m_db, "PRAGMA journal_mode");
                rc = read.step();
                if (rc == SQLITE_ROW)
                    mode = read.bytes(0);
            }
            if (rc == SQLITE_ROW)
                rc = mode == "wal" ? SQLITE_OK
                                   : sqlite3_exec(m_db, "PRAGMA journal_mode=WAL", nullptr, nullptr, nullptr);
        }
        if (rc != SQLITE_OK) {
            health = judge(rc);
        } else if (m_closedWhole) {
            m_checkedAtOpen = false;
        } else {
            m_checkedAtOpen = true;
            Statement check(m_db, "PRAGMA quick_check");
            const int step = check.step();
            if (step == SQLITE_ROW)
                health = check.bytes(0) == "ok" ? Health::Healthy : Health::Damaged;
            else
                health = judge(sqlite3_errcode(m_db));
        }
        if (health != Health::Busy || attempt >= 50)
            return health;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
}

int Database::schemaVersion()
{
    Statement version(m_db, "PRAGMA user_version");
    return version.step() == SQLITE_ROW ? static_cast<int>(version.integer(0)) : -1;
}

bool Database::migrate()
{
    // Each step and its new number in one transaction: a kill leaves the
    // file at one version or the next. The version is read inside it, so
    // a second window opening the same new file at the same moment finds
    // the step already taken.
    // Already at this version: nothing to take a lock for.
    if (schemaVersion() == kSchemaVersion)
        return true;
    for (;;) {
        if (!exec("BEGIN IMMEDIATE"))
            return false;
        const int version = schemaVersion();
        if (version < 0 || version >= kSchemaVersion) {
            exec("COMMIT");
            if (version > kSchemaVersion)
                m_problem = "The catalogue was made by a newer Auralist.";
            return version == kSchemaVersion;
        }
        const std::string step
            = std::string(kMigrations[version]) + "PRAGMA user_version=" + std::to_string(version + 1) + ";";
        if (!exec(step.c_str()) || (version == 5 && (!moveToFolders(m_db, m_folders) || !exec(kFoldersDone)))
            || !exec("COMMIT")) {
            m_problem = sqlite3_errmsg(m_db);
            exec("ROLLBACK");
            m_folders.clear();
            return false;
        }
    }
}

bool Database::moveAside(std::time_t now)
{
    const std::string aside = m_path + ".damaged-" + stamp(now, "%Y%m%d-%H%M%S");
    std::error_code error;
    fs::rename(m_path, aside, error);
    if (error) {
        m_problem = "The catalogue is damaged and cannot be moved aside: " + error.message();
        return false;
    }
    // Its journal belongs with it, not with the file that comes next.
    for (const char *suffix : {"-wal", "-shm"}) {
        fs::rename(m_path + suffix, aside + suffix, error);
        error.clear();
    }
    m_problem = aside;
    return true;
}

bool Database::restoreNewestBackup()
{
    const std::vector<std::string> kept = backups();
    for (auto it = kept.rbegin(); it != kept.rend(); ++it) {
        std::error_code error;
        fs::copy_file(*it, m_path, fs::copy_options::overwrite_existing, error);
        if (!error && openFile() && health() == Health::Healthy && migrate())
            return true;
        close();
        fs::remove(m_path, error);
    }
    return false;
}

Database::Opened Database::open()
{
    m_problem.clear();
    std::error_code error;
    const bool existed = fs::exists(m_path, error);
    // A file as it was when the last start closed it whole (no journal
    // left, not changed since) is not read through for damage. The note
    // holds for this opening only.
    const std::string stamp = fileStamp(m_path);
    m_closedWhole = existed && !fs::exists(m_path + "-wal", error) && !stamp.empty()
        && readSmallFile(m_path + ".closed") == stamp;
    fs::remove(m_path + ".closed", error);
    if (!openFile())
        return Opened::Unavailable;
    // A catalogue of a newer Auralist is left byte for byte as it is: not
    // even its journal mode is touched.
    if (existed && schemaVersion() > kSchemaVersion) {
        m_problem = "The catalogue was made by a newer Auralist.";
        close();
        return Opened::Unavailable;
    }
    const Health found = health();
    m_closedWhole = false;
    if (found != Health::Damaged) {
        if (found == Health::Healthy && migrate()) {
            m_openedWhole = true;
            return existed ? Opened::Existing : Opened::Fresh;
        }
        // Whole, but not ours to change (a newer schema, a lock held too
        // long): left exactly as it is.
        if (m_problem.empty())
            m_problem = sqlite3_errmsg(m_db);
        close();
        return Opened::Unavailable;
    }
    // Damaged: never opened as it is, never deleted.
    close();
    if (!moveAside(std::time(nullptr)))
        return Opened::Unavailable;
    if (restoreNewestBackup()) {
        m_openedWhole = true;
        return Opened::Restored;
    }
    if (openFile() && health() == Health::Healthy && migrate()) {
        m_openedWhole = true;
        return Opened::Recreated;
    }
    close();
    return Opened::Unavailable;
}

void Database::noteWriteError()
{
    ++m_writeErrors;
    if (m_writeError.empty() && m_db)
        m_writeError = sqlite3_errmsg(m_db);
}

bool Database::checked(bool ok)
{
    if (!ok)
        noteWriteError();
    return ok;
}

std::string Database::takeWriteError()
{
    return std::exchange(m_writeError, std::string());
}

int Database::onBusy(void *self, int attempts)
{
    auto *db = static_cast<Database *>(self);
    const auto now = std::chrono::steady_clock::now();
    if (attempts == 0)
        db->m_busySince = now;
    const auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(now - db->m_busySince).count();
    if (waited >= db->m_lockPatience.load(std::memory_order_relaxed))
        return 0;
    std::this_thread::sleep_for(std::chrono::milliseconds(attempts < 10 ? 2 : 20));
    return 1;
}

bool Database::begin()
{
    if (!exec("BEGIN IMMEDIATE"))
        return false;
    m_begun = std::chrono::steady_clock::now();
    m_changesAtBegin = sqlite3_total_changes64(m_db);
    return true;
}

bool Database::inTransaction() const
{
    return m_db && sqlite3_get_autocommit(m_db) == 0;
}

bool Database::commitNow()
{
    if (!inTransaction())
        return m_db != nullptr;
    const bool ok = commit();
    begin();
    return ok;
}

void Database::pause(const std::function<void()> &meanwhile)
{
    m_breathing = true;
    commit();
    if (m_breath)
        m_breath(*this);
    if (meanwhile)
        meanwhile();
    begin();
    m_breathing = false;
}

void Database::breathe()
{
    if (m_breathing || !inTransaction())
        return;
    const auto age = std::chrono::steady_clock::now() - m_begun;
    if (age < std::chrono::milliseconds(kBreathMilliseconds)
        && sqlite3_total_changes64(m_db) - m_changesAtBegin < kBreathRows)
        return;
    pause({});
}

void Database::unlocked(const std::function<void()> &work)
{
    if (m_breathing || !inTransaction()) {
        work();
        return;
    }
    pause(work);
}

void Database::checkpoint()
{
    if (m_db && !inTransaction())
        sqlite3_wal_checkpoint_v2(m_db, nullptr, SQLITE_CHECKPOINT_TRUNCATE, nullptr, nullptr);
}

bool Database::inSavepoint(const std::function<bool()> &work)
{
    if (!exec("SAVEPOINT edit"))
        return false;
    if (work() && exec("RELEASE edit"))
        return true;
    noteWriteError();
    exec("ROLLBACK TO edit; RELEASE edit");
    m_folders.clear();
    return false;
}

bool Database::commit()
{
    if (exec("COMMIT"))
        return true;
    noteWriteError();
    exec("ROLLBACK");
    m_folders.clear();
    return false;
}

std::vector<std::string> Database::backups() const
{
    std::vector<std::string> found;
    const fs::path file(m_path);
    const std::string prefix = file.filename().string() + ".backup-";
    std::error_code error;
    for (const auto &entry : fs::directory_iterator(file.parent_path(), error)) {
        const std::string name = entry.path().filename().string();
        const std::string_view date = std::string_view(name).substr(std::min(name.size(), prefix.size()));
        if (name.starts_with(prefix) && date.size() == 8
            && std::all_of(date.begin(), date.end(), [](char c) { return c >= '0' && c <= '9'; }))
            found.push_back(entry.path().string());
    }
    // The names end in the date: in name order, oldest first.
    std::sort(found.begin(), found.end());
    return found;
}

bool Database::backupIfDue(std::time_t now)
{
    if (!m_db)
        return false;
    const std::string target = m_path + ".backup-" + stamp(now, "%Y%m%d");
    std::error_code error;
    if (fs::exists(target, error))
        return true;
    const std::string partial = target + ".part";
    sqlite3 *copy = nullptr;
    bool ok = sqlite3_open_v2(partial.c_str(), &copy, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) == SQLITE_OK;
    if (ok) {
        sqlite3_backup *backup = sqlite3_backup_init(copy, "main", m_db, "main");
        ok = backup && sqlite3_backup_step(backup, -1) == SQLITE_DONE;
        ok = sqlite3_backup_finish(backup) == SQLITE_OK && ok;
        // A file of its own, with no journal beside it to go astray.
        ok = ok && sqlite3_exec(copy, "PRAGMA journal_mode=DELETE", nullptr, nullptr, nullptr) == SQLITE_OK;
    }
    sqlite3_close_v2(copy);
    // Only a whole copy that reads back whole takes the backup's name.
    copy = nullptr;
    if (ok && sqlite3_open_v2(partial.c_str(), &copy, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
        Statement check(copy, "PRAGMA quick_check");
        ok = check.step() == SQLITE_ROW && check.bytes(0) == "ok";
    } else {
        ok = false;
    }
    sqlite3_close_v2(copy);
    if (ok)
        fs::rename(partial, target, error);
    if (!ok || error) {
        fs::remove(partial, error);
        return false;
    }
    std::vector<std::string> kept = backups();
    while (kept.size() > static_cast<size_t>(kBackupsKept)) {
        fs::remove(kept.front(), error);
        kept.erase(kept.begin());
    }
    return true;
}

} // namespace auralist::catalogue
