#include "catalogue/database.h"

#include <sqlite3.h>
#include <xxhash.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <limits>
#include <string_view>
#include <system_error>
#include <thread>
#include <unordered_map>
#include <utility>

namespace auralist::catalogue {

namespace {

namespace fs = std::filesystem;

// A prepared statement, finalised when it goes.
class Statement {
public:
    Statement(sqlite3 *db, const char *sql)
    {
        if (sqlite3_prepare_v2(db, sql, -1, &m_stmt, nullptr) != SQLITE_OK)
            m_stmt = nullptr;
    }
    ~Statement() { sqlite3_finalize(m_stmt); }
    Statement(const Statement &) = delete;
    Statement &operator=(const Statement &) = delete;

    bool ok() const { return m_stmt != nullptr; }
    void bind(int i, std::int64_t v) { sqlite3_bind_int64(m_stmt, i, v); }
    void bind(int i, const std::optional<std::uint64_t> &v)
    {
        if (v)
            sqlite3_bind_int64(m_stmt, i, static_cast<std::int64_t>(*v));
        else
            sqlite3_bind_null(m_stmt, i);
    }
    // A NaN is no value.
    void bindReal(int i, double v)
    {
        if (std::isnan(v))
            sqlite3_bind_null(m_stmt, i);
        else
            sqlite3_bind_double(m_stmt, i, v);
    }
    void bindBytes(int i, const void *data, std::size_t size)
    {
        sqlite3_bind_blob(m_stmt, i, data, static_cast<int>(size), SQLITE_TRANSIENT);
    }
    void bind(int i, const std::string &v)
    {
        sqlite3_bind_blob(m_stmt, i, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT);
    }
    void bindText(int i, const std::string &v)
    {
        sqlite3_bind_text(m_stmt, i, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT);
    }
    // SQLITE_ROW, SQLITE_DONE or an error.
    int step() { return m_stmt ? sqlite3_step(m_stmt) : SQLITE_ERROR; }
    bool run()
    {
        const int rc = step();
        sqlite3_reset(m_stmt);
        return rc == SQLITE_DONE || rc == SQLITE_ROW;
    }
    std::int64_t integer(int column) const { return sqlite3_column_int64(m_stmt, column); }
    double real(int column) const
    {
        return sqlite3_column_type(m_stmt, column) == SQLITE_NULL ? std::numeric_limits<double>::quiet_NaN()
                                                                  : sqlite3_column_double(m_stmt, column);
    }
    bool isBlob(int column) const { return sqlite3_column_type(m_stmt, column) == SQLITE_BLOB; }
    bool isNull(int column) const { return sqlite3_column_type(m_stmt, column) == SQLITE_NULL; }
    // Valid until the next step.
    std::string_view view(int column) const
    {
        const auto *data = static_cast<const char *>(sqlite3_column_blob(m_stmt, column));
        return data ? std::string_view(data, static_cast<size_t>(sqlite3_column_bytes(m_stmt, column)))
                    : std::string_view();
    }
    std::string bytes(int column) const
    {
        const auto *data = static_cast<const char *>(sqlite3_column_blob(m_stmt, column));
        return data ? std::string(data, static_cast<size_t>(sqlite3_column_bytes(m_stmt, column))) : std::string();
    }

private:
    sqlite3_stmt *m_stmt = nullptr;
};

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
};
static_assert(std::size(kMigrations) == Database::kSchemaVersion);

// path_key(path): the key a path is found by.
void pathKey(sqlite3_context *context, int count, sqlite3_value **values)
{
    (void)count;
    const void *bytes = sqlite3_value_blob(values[0]);
    const auto length = static_cast<size_t>(sqlite3_value_bytes(values[0]));
    sqlite3_result_int64(context, static_cast<sqlite3_int64>(XXH3_64bits(bytes, length)));
}

// Where a path's row is: by its key, then the path itself.
constexpr const char *kAtPath1 = " WHERE path_key = path_key(?1) AND path = ?1";
constexpr const char *kAtPath2 = " WHERE path_key = path_key(?2) AND path = ?2";

std::string stamp(std::time_t now, const char *format)
{
    std::tm local{};
    localtime_r(&now, &local);
    char text[32];
    std::strftime(text, sizeof text, format, &local);
    return text;
}

constexpr const char *kSoundColumns = "path, size, modified, device, inode, length_frames, rate, channels, format,"
                                      " favourite, tags, fingerprint, metadata, content";

// A fingerprint's hash as it is kept: 8 bytes, the most significant first.
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

// A fingerprint is "size:hash"; where the size is the row's own, only the
// hash is kept, as 8 bytes (half the room, in the table and its index).
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

// stored: the column's bytes; packed: they were kept as a blob (the 8-byte
// form) rather than as text.
std::string printOf(const std::string &stored, bool packed, std::int64_t size)
{
    if (!packed || stored.size() != 8)
        return stored;
    return std::to_string(size) + ":" + std::to_string(unpackedHash(stored));
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
    if (m_db)
        sqlite3_close_v2(m_db);
    m_db = nullptr;
}

bool Database::exec(const char *sql)
{
    return m_db && sqlite3_exec(m_db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

bool Database::openFile()
{
    close();
    if (sqlite3_open_v2(m_path.c_str(), &m_db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) != SQLITE_OK) {
        m_problem = m_db ? sqlite3_errmsg(m_db) : "out of memory";
        close();
        return false;
    }
    // Another window's writer may hold the file for a moment: wait for it
    // rather than fail, as long as the writer's patience lasts.
    sqlite3_busy_handler(m_db, &Database::onBusy, this);
    sqlite3_create_function(m_db, "path_key", 1, SQLITE_UTF8 | SQLITE_DETERMINISTIC, nullptr, &pathKey, nullptr,
                            nullptr);
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
        } else {
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
        if (!exec(step.c_str()) || !exec("COMMIT")) {
            m_problem = sqlite3_errmsg(m_db);
            exec("ROLLBACK");
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
    if (found != Health::Damaged) {
        if (found == Health::Healthy && migrate())
            return existed ? Opened::Existing : Opened::Fresh;
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
    if (restoreNewestBackup())
        return Opened::Restored;
    if (openFile() && health() == Health::Healthy && migrate())
        return Opened::Recreated;
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

bool Database::commit()
{
    if (exec("COMMIT"))
        return true;
    noteWriteError();
    exec("ROLLBACK");
    return false;
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
    return false;
}

bool Database::beginReplace()
{
    return exec("CREATE TEMP TABLE IF NOT EXISTS seen (path BLOB PRIMARY KEY); DELETE FROM seen;");
}

namespace {

// A sound's columns as the upsert and insert statements number them.
void bindSound(Statement &st, std::int64_t root, const SoundRow &r)
{
    st.bind(1, root);
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

bool Database::insertSounds(std::int64_t root, const std::vector<SoundRow> &rows)
{
    if (!exec("SAVEPOINT edit"))
        return false;
    bool ok = true;
    {
        Statement insert(m_db,
                         "INSERT INTO sounds(root, path_key, path, size, modified, device, inode, length_frames,"
                         " rate, channels, format, fingerprint, favourite, tags, content)"
                         " VALUES(?1, path_key(?2), ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13, ?14)");
        ok = insert.ok();
        for (const SoundRow &r : rows) {
            if (!ok)
                break;
            bindSound(insert, root, r);
            ok = insert.run();
        }
    }
    if (ok && exec("RELEASE edit"))
        return true;
    noteWriteError();
    exec("ROLLBACK TO edit; RELEASE edit");
    return false;
}

bool Database::upsertSounds(std::int64_t root, const std::vector<SoundRow> &rows)
{
    if (!exec("SAVEPOINT edit"))
        return false;
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
                          + kAtPath2)
                             .c_str());
        Statement insert(m_db,
                         "INSERT INTO sounds(root, path_key, path, size, modified, device, inode, length_frames,"
                         " rate, channels, format, fingerprint, favourite, tags, content)"
                         " VALUES(?1, path_key(?2), ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13, ?14)");
        Statement seen(m_db, "INSERT OR IGNORE INTO seen(path) VALUES(?)");
        ok = update.ok() && insert.ok() && seen.ok();
        for (const SoundRow &r : rows) {
            if (!ok)
                break;
            // The update has no use for the marks (12, 13): binding them
            // there is refused, harmlessly.
            for (Statement *st : {&update, &insert})
                bindSound(*st, root, r);
            ok = update.run();
            if (ok && sqlite3_changes(m_db) == 0)
                ok = insert.run();
            seen.bind(1, r.path);
            ok = ok && seen.run();
        }
    }
    if (ok && exec("RELEASE edit"))
        return true;
    noteWriteError();
    exec("ROLLBACK TO edit; RELEASE edit");
    return false;
}

bool Database::pruneUnseen(std::int64_t root)
{
    Statement prune(m_db, "DELETE FROM sounds WHERE root = ? AND path NOT IN (SELECT path FROM seen)");
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
    if (!exec("SAVEPOINT edit"))
        return false;
    Statement forget(m_db, (std::string("DELETE FROM sounds") + kAtPath1).c_str());
    bool ok = forget.ok();
    for (const std::string &p : paths) {
        forget.bind(1, p);
        ok = ok && forget.run();
    }
    if (ok && exec("RELEASE edit"))
        return true;
    noteWriteError();
    exec("ROLLBACK TO edit; RELEASE edit");
    return false;
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

void Database::eachListedSoundOf(std::int64_t root, const std::function<void(const ListedSound &)> &visit)
{
    Statement select(m_db,
                     "SELECT path, size, modified, length_frames, rate, channels, format, favourite, tags, metadata"
                     " FROM sounds WHERE root = ? ORDER BY id");
    select.bind(1, root);
    ListedSound s;
    while (select.step() == SQLITE_ROW) {
        s.path = select.view(0);
        s.size = select.integer(1);
        s.modified = select.integer(2);
        s.lengthFrames = select.integer(3);
        s.rate = static_cast<int>(select.integer(4));
        s.channels = static_cast<int>(select.integer(5));
        s.format = select.view(6);
        s.favourite = select.integer(7) != 0;
        s.tags = select.view(8);
        s.metadata = select.view(9);
        visit(s);
    }
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
    if (!exec("SAVEPOINT edit"))
        return false;
    const std::vector<Root> known = roots();
    Statement move(m_db,
                   (std::string("UPDATE sounds SET path = ?1, path_key = path_key(?1), root = ?3") + kAtPath2).c_str());
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
        move.bind(1, to);
        move.bind(2, from);
        move.bind(3, root);
        ok = ok && root != 0 && move.run();
    }
    if (ok && exec("RELEASE edit"))
        return true;
    noteWriteError();
    exec("ROLLBACK TO edit; RELEASE edit");
    return false;
}

bool Database::setFavourite(const std::vector<std::string> &paths, bool on)
{
    if (!exec("SAVEPOINT edit"))
        return false;
    Statement mark(m_db, (std::string("UPDATE sounds SET favourite = ?1") + kAtPath2).c_str());
    bool ok = mark.ok();
    for (const std::string &p : paths) {
        mark.bind(1, std::int64_t{on ? 1 : 0});
        mark.bind(2, p);
        ok = ok && mark.run();
    }
    if (ok && exec("RELEASE edit"))
        return true;
    noteWriteError();
    exec("ROLLBACK TO edit; RELEASE edit");
    return false;
}

bool Database::setTags(const std::vector<std::string> &paths, const std::string &tags)
{
    if (!exec("SAVEPOINT edit"))
        return false;
    Statement set(m_db, (std::string("UPDATE sounds SET tags = ?1") + kAtPath2).c_str());
    bool ok = set.ok();
    for (const std::string &p : paths) {
        set.bindText(1, tags);
        set.bind(2, p);
        ok = ok && set.run();
    }
    if (ok && exec("RELEASE edit"))
        return true;
    noteWriteError();
    exec("ROLLBACK TO edit; RELEASE edit");
    return false;
}

Database::Marked Database::mark(const MarkEdit &edit)
{
    const bool favourite = edit.kind == MarkEdit::Kind::Favourite;
    Statement set(
        m_db,
        (std::string(favourite ? "UPDATE sounds SET favourite = ?1" : "UPDATE sounds SET tags = ?1") + kAtPath2)
            .c_str());
    if (favourite)
        set.bind(1, std::int64_t{edit.on ? 1 : 0});
    else
        set.bindText(1, edit.tags);
    set.bind(2, edit.path);
    if (!set.run()) {
        // Another connection's lock passes; anything else is told.
        const int primary = sqlite3_errcode(m_db) & 0xFF;
        if (primary != SQLITE_BUSY && primary != SQLITE_LOCKED)
            noteWriteError();
        return Marked::Failed;
    }
    return sqlite3_changes(m_db) > 0 ? Marked::Done : Marked::NoSuchSound;
}

std::vector<SoundRow> Database::markedSounds()
{
    std::vector<SoundRow> out;
    Statement select(
        m_db,
        (std::string("SELECT ") + kSoundColumns + " FROM sounds WHERE favourite != 0 OR tags != '' ORDER BY id")
            .c_str());
    while (select.step() == SQLITE_ROW)
        out.push_back(soundAt(select));
    return out;
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

bool Database::setAnalysis(const std::string &path, const AnalysisResult &result)
{
    // The sound is known by the hash its own audio gave; what was learned
    // is kept under its content, for any file found to hold the same.
    const SoundTraits &t = result.traits;
    const bool ok = t.state == SoundTraits::State::Analysed;
    const std::uint64_t audio = ok ? t.audioHash : 0;
    Statement own(m_db,
                  (std::string("UPDATE sounds SET content = ?1") + kAtPath2
                   + " AND fingerprint IS NOT NULL AND length(fingerprint) > 0")
                      .c_str());
    own.bind(1, static_cast<std::int64_t>(audio));
    own.bind(2, path);
    if (!checked(own.run()))
        return false;
    Statement set(m_db,
                  (std::string("INSERT OR REPLACE INTO analysis(print, size, version, loudness, peak, loop, bpm,"
                               " note, audio_hash, descriptor, error) SELECT fingerprint, size, ?3, ?4, ?5, ?6,"
                               " ?7, ?8, ?9, ?10, ?11 FROM sounds")
                   + kAtPath1 + " AND fingerprint IS NOT NULL AND length(fingerprint) > 0")
                      .c_str());
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
    return checked(set.run());
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

std::vector<SavedSearch> Database::searches()
{
    std::vector<SavedSearch> out;
    Statement select(m_db, "SELECT id, name, query FROM searches ORDER BY id");
    while (select.step() == SQLITE_ROW)
        out.push_back({select.integer(0), select.bytes(1), select.bytes(2)});
    return out;
}

bool Database::saveSearch(const std::string &name, const std::string &query)
{
    Statement save(m_db,
                   "INSERT INTO searches(name, query) VALUES (?1, ?2) ON CONFLICT(name) DO UPDATE SET query = ?2");
    save.bindText(1, name);
    save.bindText(2, query);
    return checked(save.run());
}

bool Database::renameSearch(std::int64_t id, const std::string &name)
{
    // A name taken by another search is not given twice.
    Statement rename(m_db, "UPDATE OR IGNORE searches SET name = ?2 WHERE id = ?1");
    rename.bind(1, id);
    rename.bindText(2, name);
    return checked(rename.run());
}

bool Database::removeSearch(std::int64_t id)
{
    Statement remove(m_db, "DELETE FROM searches WHERE id = ?1");
    remove.bind(1, id);
    return checked(remove.run());
}

std::vector<std::pair<std::int64_t, std::string>> Database::unanalysed(std::int64_t after, std::size_t most)
{
    std::vector<std::pair<std::int64_t, std::string>> out;
    Statement select(m_db,
                     "SELECT s.id, s.path FROM sounds s WHERE s.id > ?1 AND length(s.fingerprint) > 0"
                     " AND NOT EXISTS (SELECT 1 FROM analysis a WHERE a.print = s.fingerprint"
                     " AND a.size = s.size AND a.audio_hash = s.content AND a.version = ?3) ORDER BY s.id LIMIT ?2");
    select.bind(1, after);
    select.bind(2, static_cast<std::int64_t>(most));
    select.bind(3, std::int64_t{kAnalysisVersion});
    while (select.step() == SQLITE_ROW)
        out.emplace_back(select.integer(0), select.bytes(1));
    return out;
}

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
    std::memcpy(r.descriptor.data(), descriptor.data(), r.descriptor.size() * sizeof(float));
}

} // namespace

void Database::eachAnalysis(const AnalysisVisit &visit)
{
    Statement select(m_db,
                     (std::string("SELECT s.path, a.print, a.size, a.audio_hash, ") + kAnalysisColumns
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

void Database::eachDescription(const std::function<void(const ContentKey &, std::span<const float>)> &visit)
{
    Statement select(m_db,
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

std::optional<ContentKey> Database::contentAt(const std::string &path)
{
    Statement select(m_db, (std::string("SELECT fingerprint, size, content FROM sounds") + kAtPath1).c_str());
    select.bind(1, path);
    if (select.step() != SQLITE_ROW || select.isNull(2))
        return std::nullopt;
    return keyOf(select, 0, select.integer(1));
}

std::vector<std::pair<SoundRow, AnalysisResult>> Database::soundsWith(const ContentKey &content)
{
    std::vector<std::pair<SoundRow, AnalysisResult>> out;
    Statement select(m_db,
                     (std::string("SELECT s.path, s.size, s.modified, s.device, s.inode, s.length_frames, s.rate,"
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
