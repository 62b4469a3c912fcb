#include <gtest/gtest.h>

#include <sqlite3.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>
#include <tuple>

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "catalogue/database.h"
#include "catalogue/exchange.h"
#include "catalogue/list_reader.h"
#include "catalogue/reconcile.h"
#include "catalogue/writer.h"
#include "test_support.h"

extern char **environ;

using namespace auralist::catalogue;
using auralist::testing::TempDir;
namespace fs = std::filesystem;

namespace {

SoundRow row(const std::string &path, std::int64_t size = 100)
{
    SoundRow r;
    r.path = path;
    r.size = size;
    r.modified = 1700000000LL * 1000000000LL;
    r.device = 2049;
    r.inode = static_cast<std::uint64_t>(size) + 7;
    r.lengthFrames = 44100;
    r.rate = 44100;
    r.channels = 2;
    r.format = "WAV 16-bit";
    return r;
}

// A catalogue as the fifth schema kept it (each sound's whole path in its
// row), with the sounds under /s: each path, its size and its packed
// fingerprint's hash, a favourite on the first.
void fifthSchemaFile(const std::string &file, const std::vector<std::tuple<std::string, int, int>> &sounds)
{
    sqlite3 *raw = nullptr;
    ASSERT_EQ(sqlite3_open(file.c_str(), &raw), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(raw,
                           "CREATE TABLE roots (id INTEGER PRIMARY KEY, path BLOB NOT NULL UNIQUE);"
                           "CREATE TABLE sounds (id INTEGER PRIMARY KEY, root INTEGER NOT NULL REFERENCES roots(id)"
                           " ON DELETE CASCADE, path_key INTEGER NOT NULL, path BLOB NOT NULL, size INTEGER,"
                           " modified INTEGER, device INTEGER, inode INTEGER, length_frames INTEGER, rate INTEGER,"
                           " channels INTEGER, format TEXT, fingerprint BLOB, favourite INTEGER NOT NULL DEFAULT 0,"
                           " tags TEXT NOT NULL DEFAULT '', played INTEGER NOT NULL DEFAULT 0, metadata TEXT,"
                           " content INTEGER);"
                           "CREATE INDEX sounds_by_root ON sounds(root);"
                           "CREATE INDEX sounds_by_path ON sounds(path_key);"
                           "CREATE INDEX sounds_by_fingerprint ON sounds(fingerprint);"
                           "CREATE INDEX sounds_by_played ON sounds(played) WHERE played > 0;"
                           "CREATE TABLE analysis (print BLOB NOT NULL, size INTEGER NOT NULL, version INTEGER NOT"
                           " NULL, loudness REAL, peak REAL, loop INTEGER NOT NULL DEFAULT 0, bpm REAL, note INTEGER,"
                           " audio_hash INTEGER NOT NULL, descriptor BLOB, error TEXT,"
                           " PRIMARY KEY(print, size, audio_hash)) WITHOUT ROWID;"
                           "CREATE TABLE searches (id INTEGER PRIMARY KEY, name TEXT NOT NULL UNIQUE,"
                           " query TEXT NOT NULL);"
                           "INSERT INTO roots VALUES(1, CAST('/s' AS BLOB));"
                           "PRAGMA user_version = 5;",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_stmt *insert = nullptr;
    sqlite3_prepare_v2(raw,
                       "INSERT INTO sounds(root, path_key, path, size, modified, fingerprint, favourite, tags)"
                       " VALUES(1, 0, ?1, ?2, 1700000000000000000, ?3, ?4, '')",
                       -1, &insert, nullptr);
    bool first = true;
    for (const auto &[path, size, hash] : sounds) {
        sqlite3_bind_blob(insert, 1, path.data(), static_cast<int>(path.size()), SQLITE_TRANSIENT);
        sqlite3_bind_int(insert, 2, size);
        // Kept as 8 bytes, the most significant first.
        unsigned char print[8] = {};
        for (int b = 0; b < 8; ++b)
            print[b] = static_cast<unsigned char>((static_cast<std::uint64_t>(hash) >> (56 - 8 * b)) & 0xFF);
        sqlite3_bind_blob(insert, 3, print, 8, SQLITE_TRANSIENT);
        sqlite3_bind_int(insert, 4, first ? 1 : 0);
        EXPECT_EQ(sqlite3_step(insert), SQLITE_DONE);
        sqlite3_reset(insert);
        first = false;
    }
    sqlite3_finalize(insert);
    sqlite3_close(raw);
}

std::vector<std::string> pathsOf(const std::vector<SoundRow> &rows)
{
    std::vector<std::string> out;
    for (const auto &r : rows)
        out.push_back(r.path);
    return out;
}

std::string damagedFileIn(const std::string &dir)
{
    for (const auto &e : fs::directory_iterator(dir)) {
        if (e.path().filename().string().find(".damaged-") != std::string::npos && e.path().extension() != ".db-wal")
            return e.path().string();
    }
    return {};
}

} // namespace

TEST(Catalogue, BeginsMigratesAndKeepsWhatItWasGiven)
{
    TempDir tmp;
    const std::string file = tmp.path() + "/library.db";
    {
        Database db(file);
        EXPECT_EQ(db.open(), Database::Opened::Fresh);
        EXPECT_EQ(db.schemaVersion(), Database::kSchemaVersion);
        const std::int64_t root = db.rememberRoot("/s/Drums");
        EXPECT_EQ(db.rememberRoot("/s/Drums"), root);
        // A name that is not UTF-8 is kept as the bytes it is.
        std::vector<SoundRow> rows{row("/s/Drums/kick.wav", 1), row("/s/Drums/caf\xe9.wav", 2),
                                   row("/s/Drums/snare.wav", 3)};
        ASSERT_TRUE(db.replaceSounds(root, rows));
        EXPECT_EQ(db.soundsOf(root), rows);
        ASSERT_TRUE(db.setFavourite({"/s/Drums/kick.wav"}, true));
        ASSERT_TRUE(db.setTags({"/s/Drums/kick.wav", "/s/Drums/caf\xe9.wav"}, "punchy, dry"));
        // A check of the folder: one gone, one new, one changed; the marks
        // of the sounds still there stay.
        rows = {row("/s/Drums/kick.wav", 10), row("/s/Drums/caf\xe9.wav", 2), row("/s/Drums/tom.wav", 4)};
        ASSERT_TRUE(db.replaceSounds(root, rows));
        const auto kept = db.soundsOf(root);
        EXPECT_EQ(pathsOf(kept),
                  (std::vector<std::string>{"/s/Drums/kick.wav", "/s/Drums/caf\xe9.wav", "/s/Drums/tom.wav"}));
        EXPECT_TRUE(kept[0].favourite);
        EXPECT_EQ(kept[0].size, 10);
        EXPECT_EQ(kept[1].tags, "punchy, dry");
        EXPECT_FALSE(kept[2].favourite);
        ASSERT_EQ(db.roots().size(), 1U);
        EXPECT_EQ(db.roots()[0].sounds, 3);
    }
    // Opened again: the same catalogue.
    Database again(file);
    EXPECT_EQ(again.open(), Database::Opened::Existing);
    EXPECT_EQ(again.soundsOf(again.rememberRoot("/s/Drums")).size(), 3U);

    // An SQLite file from before there was a schema (version 0, a table of
    // its own) is taken forward.
    const std::string old = tmp.path() + "/old.db";
    sqlite3 *raw = nullptr;
    ASSERT_EQ(sqlite3_open(old.c_str(), &raw), SQLITE_OK);
    sqlite3_exec(raw, "CREATE TABLE notes(x); INSERT INTO notes VALUES(1);", nullptr, nullptr, nullptr);
    sqlite3_close(raw);
    Database migrated(old);
    EXPECT_EQ(migrated.open(), Database::Opened::Existing);
    EXPECT_EQ(migrated.schemaVersion(), Database::kSchemaVersion);
    EXPECT_GT(migrated.rememberRoot("/x"), 0);

    // A file of the first schema, with a favourite and a tag: taken
    // forward with both, its sounds still found by path.
    const std::string first = tmp.path() + "/first.db";
    ASSERT_EQ(sqlite3_open(first.c_str(), &raw), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(raw,
                           "CREATE TABLE roots (id INTEGER PRIMARY KEY, path BLOB NOT NULL UNIQUE);"
                           "CREATE TABLE sounds (id INTEGER PRIMARY KEY, root INTEGER NOT NULL REFERENCES roots(id)"
                           " ON DELETE CASCADE, path BLOB NOT NULL UNIQUE, size INTEGER, modified INTEGER,"
                           " device INTEGER, inode INTEGER, length_frames INTEGER, rate INTEGER, channels INTEGER,"
                           " format TEXT, fingerprint TEXT, favourite INTEGER NOT NULL DEFAULT 0,"
                           " tags TEXT NOT NULL DEFAULT '');"
                           "CREATE INDEX sounds_by_root ON sounds(root);"
                           "CREATE INDEX sounds_by_fingerprint ON sounds(fingerprint);"
                           "INSERT INTO roots VALUES(1, CAST('/s/Keys' AS BLOB));"
                           "INSERT INTO sounds(root, path, size, fingerprint, favourite, tags)"
                           " VALUES(1, CAST('/s/Keys/c3.wav' AS BLOB), 5, '5:77', 1, 'warm');"
                           "PRAGMA user_version = 1;",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(raw);
    Database fromFirst(first);
    EXPECT_EQ(fromFirst.open(), Database::Opened::Existing);
    EXPECT_EQ(fromFirst.schemaVersion(), Database::kSchemaVersion);
    const auto found = fromFirst.findSound("/s/Keys/c3.wav", "");
    ASSERT_TRUE(found);
    EXPECT_TRUE(found->favourite);
    EXPECT_EQ(found->tags, "warm");
    EXPECT_EQ(found->fingerprint, "5:77");
    ASSERT_TRUE(fromFirst.setTags({"/s/Keys/c3.wav"}, "warm, soft"));
    EXPECT_EQ(fromFirst.findSound("/s/Keys/c3.wav", "")->tags, "warm, soft");
    EXPECT_EQ(fromFirst.findSound("/elsewhere.wav", "5:77")->path, "/s/Keys/c3.wav");

    // Fingerprints come back as they went in, whatever bytes their hash
    // holds, and one that does not match its row's size stays as it is.
    std::vector<SoundRow> prints{row("/s/Keys/a.wav", 100), row("/s/Keys/b.wav", 100), row("/s/Keys/c.wav", 100)};
    prints[0].fingerprint = "100:4195730024608447034"; // every byte of the hash a colon
    prints[1].fingerprint = "7:12";
    const std::int64_t keys = fromFirst.rememberRoot("/s/Keys");
    ASSERT_TRUE(fromFirst.replaceSounds(keys, prints));
    const auto back = fromFirst.soundsOf(keys);
    ASSERT_EQ(back.size(), 3U);
    for (size_t i = 0; i < 3; ++i)
        EXPECT_EQ(back[i].fingerprint, prints[i].fingerprint);
    EXPECT_EQ(fromFirst.findSound("/nowhere.wav", prints[0].fingerprint)->path, "/s/Keys/a.wav");
}

// The fifth schema kept each sound's whole path; taken forward, each folder
// is kept once and every path comes back byte for byte, in the same order,
// with its marks, found by path and by fingerprint, and seen whole by
// other tools through the sound_paths view.
TEST(Catalogue, PathsTakenIntoFoldersComeBackExactly)
{
    TempDir tmp;
    const std::string file = tmp.path() + "/library.db";
    const std::vector<std::string> paths{"/s/Drums/kick.wav",    "/s/Drums/Deep/er/snare.wav",
                                         "/s/caf\xe9/\xff.wav",  "/s//double//slash.wav",
                                         "/s/trailing/",         "/top.wav",
                                         "/s/Drums/kick.wav.bak"};
    std::vector<std::tuple<std::string, int, int>> sounds;
    for (std::size_t i = 0; i < paths.size(); ++i)
        sounds.emplace_back(paths[i], 10, static_cast<int>(i) + 1);
    fifthSchemaFile(file, sounds);
    Database db(file);
    ASSERT_EQ(db.open(), Database::Opened::Existing);
    EXPECT_EQ(db.schemaVersion(), Database::kSchemaVersion);
    const auto rows = db.soundsOf(1);
    EXPECT_EQ(pathsOf(rows), paths);
    ASSERT_FALSE(rows.empty());
    EXPECT_TRUE(rows[0].favourite);
    std::vector<std::string> listed;
    db.eachListedSoundOf(1, [&](const Database::ListedSound &s) { listed.push_back(s.path()); });
    EXPECT_EQ(listed, paths);
    // Read in two halves, the second on a connection of its own, the list
    // is the same list.
    ListReader reader(file);
    ASSERT_TRUE(reader.ok());
    const auto [first, last] = reader.idsOf(1);
    EXPECT_EQ(last - first + 1, static_cast<std::int64_t>(paths.size()));
    EXPECT_EQ(reader.idsOf(99), (std::pair<std::int64_t, std::int64_t>(0, 0)));
    const std::int64_t middle = first + (last - first) / 2;
    std::vector<std::string> halves;
    db.eachListedSoundOf(
        1, [&](const Database::ListedSound &s) { halves.push_back(s.path()); }, 0, middle);
    EXPECT_EQ(halves.size(), static_cast<std::size_t>(middle - first + 1));
    EXPECT_TRUE(
        reader.each(1, middle, ListReader::kLast, [&](const Database::ListedSound &s) { halves.push_back(s.path()); }));
    EXPECT_EQ(halves, paths);
    // A file that is no catalogue is read as nothing, and says so.
    std::ofstream(tmp.path() + "/not.db") << std::string(4096, 'x');
    ListReader garbage(tmp.path() + "/not.db");
    EXPECT_EQ(garbage.idsOf(1), (std::pair<std::int64_t, std::int64_t>(0, 0)));
    EXPECT_FALSE(garbage.each(1, 0, ListReader::kLast, [](const Database::ListedSound &) {}));
    for (std::size_t i = 0; i < paths.size(); ++i) {
        ASSERT_TRUE(db.findSound(paths[i], "")) << paths[i];
        EXPECT_EQ(db.findSound("/gone.wav", "10:" + std::to_string(i + 1))->path, paths[i]);
    }
    // A mark and a move by path; a sound moved to a folder not seen before.
    ASSERT_TRUE(db.setTags({"/s/caf\xe9/\xff.wav"}, "odd"));
    ASSERT_TRUE(db.moveSounds({{"/s/Drums/kick.wav", "/s/New/Folder/kick.wav"}}));
    EXPECT_EQ(db.findSound("/s/caf\xe9/\xff.wav", "")->tags, "odd");
    EXPECT_FALSE(db.findSound("/s/Drums/kick.wav", ""));
    EXPECT_TRUE(db.findSound("/s/New/Folder/kick.wav", "")->favourite);
    // Folders are kept once: seven sounds, far fewer folder rows than
    // their paths have parts.
    sqlite3 *raw = nullptr;
    ASSERT_EQ(sqlite3_open(file.c_str(), &raw), SQLITE_OK);
    sqlite3_stmt *st = nullptr;
    sqlite3_prepare_v2(raw, "SELECT path FROM sound_paths ORDER BY id", -1, &st, nullptr);
    std::vector<std::string> viewed;
    while (sqlite3_step(st) == SQLITE_ROW)
        viewed.emplace_back(static_cast<const char *>(sqlite3_column_blob(st, 0)),
                            static_cast<std::size_t>(sqlite3_column_bytes(st, 0)));
    sqlite3_finalize(st);
    sqlite3_close(raw);
    std::vector<std::string> expected = paths;
    expected[0] = "/s/New/Folder/kick.wav";
    EXPECT_EQ(viewed, expected);
}

// A catalogue of the fourth schema kept one analysis for every sound of a
// fingerprint: taken forward, a sound alone with its fingerprint keeps its
// analysis, and sounds that shared one are each analysed again.
TEST(Catalogue, AnalysesSharedByAFingerprintAreNotKeptForward)
{
    TempDir tmp;
    const std::string file = tmp.path() + "/library.db";
    fifthSchemaFile(file, {{"/s/Bass stem.wav", 100, 55}, {"/s/Drums stem.wav", 100, 55}, {"/s/Keys.wav", 100, 66}});
    // As the fourth schema had it: no hash of each sound's own audio, the
    // analysis kept by fingerprint alone.
    sqlite3 *raw = nullptr;
    ASSERT_EQ(sqlite3_open(file.c_str(), &raw), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(raw,
                           "ALTER TABLE sounds DROP COLUMN content; DROP TABLE analysis;"
                           "CREATE TABLE analysis (print BLOB NOT NULL, size INTEGER NOT NULL, version INTEGER"
                           " NOT NULL, loudness REAL, peak REAL, loop INTEGER NOT NULL DEFAULT 0, bpm REAL,"
                           " note INTEGER, audio_hash INTEGER, descriptor BLOB, error TEXT,"
                           " PRIMARY KEY(print, size)) WITHOUT ROWID;"
                           "INSERT INTO analysis SELECT fingerprint, size, 1, -10, -1, 0, NULL, -1, 9, x'', ''"
                           " FROM sounds WHERE path = CAST('/s/Bass stem.wav' AS BLOB);"
                           "INSERT INTO analysis SELECT fingerprint, size, 1, -20, -1, 0, NULL, -1, 8, x'', ''"
                           " FROM sounds WHERE path = CAST('/s/Keys.wav' AS BLOB);"
                           "PRAGMA user_version = 4;",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(raw);
    Database db(file);
    ASSERT_EQ(db.open(), Database::Opened::Existing);
    EXPECT_EQ(db.schemaVersion(), Database::kSchemaVersion);
    std::vector<std::string> analysed;
    db.analyses().eachAnalysis(
        [&](std::string_view path, const std::optional<ContentKey> &key, const auralist::AnalysisResult &r) {
            analysed.emplace_back(path);
            EXPECT_FLOAT_EQ(r.traits.loudness, -20.0F);
            ASSERT_TRUE(key);
            EXPECT_EQ(key->audio, 8U);
        });
    EXPECT_EQ(analysed, std::vector<std::string>{"/s/Keys.wav"});
    std::vector<std::string> waiting;
    for (const auto &[id, path] : db.analyses().unanalysed(0, 10))
        waiting.push_back(path);
    EXPECT_EQ(waiting, (std::vector<std::string>{"/s/Bass stem.wav", "/s/Drums stem.wav"}));
    EXPECT_EQ(db.findSound("/s/Keys.wav", "")->content, std::optional<std::uint64_t>(8));
}

// A file closed whole and not changed since is not read through for
// damage at the next opening; one changed since, or left with its journal
// by a start that never closed it, is.
TEST(Catalogue, OnlyAFileChangedSinceItWasClosedWholeIsCheckedAtOpening)
{
    TempDir tmp;
    const std::string file = tmp.path() + "/library.db";
    {
        Database db(file);
        ASSERT_EQ(db.open(), Database::Opened::Fresh);
        EXPECT_TRUE(db.checkedAtOpen());
        ASSERT_TRUE(db.replaceSounds(db.rememberRoot("/s"), {row("/s/a.wav")}));
    }
    {
        Database db(file);
        ASSERT_EQ(db.open(), Database::Opened::Existing);
        EXPECT_FALSE(db.checkedAtOpen());
        EXPECT_EQ(db.soundsOf(1).size(), 1U);
    }
    // Another connection still on it (as a start that was killed leaves
    // its journal): checked.
    {
        sqlite3 *raw = nullptr;
        ASSERT_EQ(sqlite3_open(file.c_str(), &raw), SQLITE_OK);
        ASSERT_EQ(sqlite3_exec(raw, "SELECT count(*) FROM sounds", nullptr, nullptr, nullptr), SQLITE_OK);
        Database db(file);
        ASSERT_EQ(db.open(), Database::Opened::Existing);
        EXPECT_TRUE(db.checkedAtOpen());
        sqlite3_close(raw);
    }
    // Changed by something else after a whole close: checked, and its
    // damage found.
    {
        Database db(file);
        ASSERT_EQ(db.open(), Database::Opened::Existing);
        EXPECT_FALSE(db.checkedAtOpen());
    }
    {
        std::fstream f(file, std::ios::in | std::ios::out | std::ios::binary);
        f.seekp(1024);
        const std::string junk(2048, '\x5a');
        f.write(junk.data(), static_cast<std::streamsize>(junk.size()));
    }
    Database db(file);
    const Database::Opened opened = db.open();
    EXPECT_TRUE(db.checkedAtOpen());
    EXPECT_NE(opened, Database::Opened::Existing);
    EXPECT_FALSE(damagedFileIn(tmp.path()).empty());
}

// A catalogue with one favourite, backed up on five days, then one more
// sound after the last backup.
std::string libraryWithBackups(const TempDir &dir)
{
    const std::string file = dir.path() + "/library.db";
    Database db(file);
    EXPECT_EQ(db.open(), Database::Opened::Fresh);
    const std::int64_t root = db.rememberRoot("/s");
    EXPECT_TRUE(db.replaceSounds(root, {row("/s/a.wav")}));
    EXPECT_TRUE(db.setFavourite({"/s/a.wav"}, true));
    for (int day = 0; day < 5; ++day)
        EXPECT_TRUE(db.backupIfDue(1765000000 + day * 86400));
    EXPECT_TRUE(db.backupIfDue(1765000000 + 4 * 86400 + 60)); // once a day
    EXPECT_EQ(db.backups().size(), 3U); // the newest three
    EXPECT_TRUE(db.replaceSounds(root, {row("/s/a.wav"), row("/s/b.wav", 5)}));
    return file;
}

TEST(Catalogue, ADamagedFileIsMovedAsideAndTheNewestBackupRestored)
{
    const std::vector<std::function<void(const std::string &)>> damages{
        // Junk over the start.
        [](const std::string &f) {
            std::fstream out(f, std::ios::in | std::ios::out | std::ios::binary);
            out.write("this is not a database, it was overwritten by something else entirely", 70);
        },
        // Cut short.
        [](const std::string &f) { fs::resize_file(f, fs::file_size(f) / 3); },
        // Not SQLite at all.
        [](const std::string &f) { std::ofstream(f, std::ios::trunc) << "hello\n"; },
    };
    for (const auto &damage : damages) {
        TempDir tmp;
        const std::string file = libraryWithBackups(tmp);
        std::error_code ec;
        fs::remove(file + "-wal", ec);
        fs::remove(file + "-shm", ec);
        damage(file);
        Database db(file);
        EXPECT_EQ(db.open(), Database::Opened::Restored);
        const std::string aside = damagedFileIn(tmp.path());
        EXPECT_FALSE(aside.empty());
        EXPECT_EQ(db.problem(), aside);
        // The backup's state: a.wav, still a favourite (b.wav came after).
        const auto rows = db.soundsOf(db.rememberRoot("/s"));
        ASSERT_EQ(rows.size(), 1U);
        EXPECT_TRUE(rows[0].favourite);
    }

    // Damaged with no backup: a new catalogue, the old file kept aside.
    TempDir bare;
    const std::string lone = bare.path() + "/library.db";
    std::ofstream(lone) << "garbage garbage garbage";
    Database fresh(lone);
    EXPECT_EQ(fresh.open(), Database::Opened::Recreated);
    EXPECT_FALSE(damagedFileIn(bare.path()).empty());

    // A place that cannot hold the file (under a regular file, which even
    // root cannot write into): unavailable, and said why.
    const std::string plain = bare.file("plain");
    Database under(plain + "/library.db");
    EXPECT_EQ(under.open(), Database::Opened::Unavailable);
    EXPECT_FALSE(under.problem().empty());
}

// Run as a child by the next test: writes batches until it is killed.
TEST(CatalogueChild, WritesUntilKilled)
{
    const char *file = std::getenv("AURALIST_CATALOGUE_CHILD");
    if (!file)
        GTEST_SKIP() << "only as the child of KilledMidBatch";
    Writer writer(file, nullptr);
    for (int batch = 0;; ++batch) {
        writer.post([batch](Database &db) {
            const std::int64_t root = db.rememberRoot("/r");
            std::vector<SoundRow> rows;
            for (int i = 0; i < 2000; ++i)
                rows.push_back(row("/r/" + std::to_string(batch) + "-" + std::to_string(i) + ".wav", i));
            db.replaceSounds(root, rows);
            db.setFavourite({"/r/" + std::to_string(batch) + "-1.wav"}, true);
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

TEST(Catalogue, AKillInTheMiddleOfABatchLeavesAWholeCatalogue)
{
    TempDir tmp;
    const std::string file = tmp.path() + "/library.db";
    const std::string self = fs::read_symlink("/proc/self/exe").string();
    const std::string env = "AURALIST_CATALOGUE_CHILD=" + file;
    std::vector<std::string> args{self, "--gtest_filter=CatalogueChild.WritesUntilKilled"};
    std::vector<char *> argv;
    for (auto &a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<char *> envp{const_cast<char *>(env.c_str()), nullptr};
    for (int round = 0; round < 3; ++round) {
        pid_t child = 0;
        ASSERT_EQ(posix_spawn(&child, self.c_str(), nullptr, nullptr, argv.data(), envp.data()), 0);
        // Killed once it has written for a while, mid-transaction or not.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        const auto written = [&] {
            std::error_code ec;
            const auto size = fs::file_size(file + "-wal", ec);
            return ec ? 0 : size;
        };
        while (std::chrono::steady_clock::now() < deadline
               && written() < static_cast<std::uintmax_t>(200000 * (round + 1)))
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        std::this_thread::sleep_for(std::chrono::milliseconds(20 + 7 * round));
        ::kill(child, SIGKILL);
        int status = 0;
        ::waitpid(child, &status, 0);
        Database db(file);
        ASSERT_EQ(db.open(), Database::Opened::Existing) << db.problem();
        // Whole batches only: a batch's sounds and its favourite together,
        // or nothing of it.
        const auto rows = db.soundsOf(db.rememberRoot("/r"));
        EXPECT_TRUE(rows.empty() || rows.size() == 2000U) << rows.size();
        EXPECT_EQ(std::count_if(rows.begin(), rows.end(), [](const SoundRow &r) { return r.favourite; }),
                  rows.empty() ? 0 : 1);
    }
    EXPECT_TRUE(damagedFileIn(tmp.path()).empty());
}

TEST(Catalogue, TwoWritersShareOneFileAndNothingIsLost)
{
    TempDir tmp;
    const std::string file = tmp.path() + "/library.db";
    std::atomic<int> opened{0};
    std::atomic<int> failed{0};
    {
        auto note = [&](Database::Opened how, const std::string &) {
            if (how == Database::Opened::Unavailable)
                ++failed;
            ++opened;
        };
        Writer first(file, note);
        Writer second(file, note);
        for (int i = 0; i < 200; ++i) {
            Writer &w = i % 2 ? first : second;
            w.post([i, &failed](Database &db) {
                const std::int64_t root = db.rememberRoot("/root" + std::to_string(i % 2));
                if (!db.replaceSounds(root, {row("/root" + std::to_string(i % 2) + "/" + std::to_string(i) + ".wav")}))
                    ++failed;
            });
        }
        // Stopping runs what was queued first.
        first.requestStop();
        second.requestStop();
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        EXPECT_TRUE(first.waitStopped(deadline));
        EXPECT_TRUE(second.waitStopped(deadline));
    }
    EXPECT_EQ(opened, 2);
    EXPECT_EQ(failed, 0);
    // Neither took the other's hold on the new file for damage.
    EXPECT_TRUE(damagedFileIn(tmp.path()).empty());
    Database db(file);
    ASSERT_EQ(db.open(), Database::Opened::Existing);
    // Each root holds its last replacement: one sound.
    const auto roots = db.roots();
    ASSERT_EQ(roots.size(), 2U);
    EXPECT_EQ(roots[0].sounds + roots[1].sounds, 2);
}

TEST(Reconcile, RenamesMovesDeletionsAndAnOfflineRootKeepWhatTheUserDecided)
{
    TempDir tmp;
    // The fingerprint follows the content, not the name, and reads only
    // the ends: a change in the middle of a long file is not seen, one at
    // an end is.
    const std::string big(300000, 'a');
    const std::string a = tmp.file("a.wav", big);
    const std::string b = tmp.file("b.wav", big);
    const std::string c = tmp.file("c.wav", big + "z");
    std::string middle = big;
    middle[150000] = 'b';
    const std::string d = tmp.file("d.wav", middle);
    ASSERT_TRUE(fingerprintOf(a));
    EXPECT_EQ(fingerprintOf(a), fingerprintOf(b));
    EXPECT_NE(fingerprintOf(a), fingerprintOf(c));
    EXPECT_EQ(fingerprintOf(a), fingerprintOf(d));
    EXPECT_NE(fingerprintOf(tmp.file("short.wav", "ab")), fingerprintOf(tmp.file("short2.wav", "ba")));
    EXPECT_FALSE(fingerprintOf(tmp.path() + "/none.wav"));
    EXPECT_FALSE(fingerprintOf(tmp.path())); // a folder

    auto sound = [](const std::string &path, const std::string &print, std::int64_t size = 1) {
        SoundRow r = row(path, size);
        r.fingerprint = print;
        return r;
    };
    std::vector<SoundRow> known{sound("/r/kick.wav", "k"), sound("/r/snare.wav", "s"), sound("/r/hat.wav", "h"),
                                sound("/r/tom.wav", "t")};
    known[0].favourite = true;
    known[0].tags = "deep";
    known[1].tags = "tight";
    // kick renamed, snare moved to a subfolder, hat deleted, tom changed,
    // one new sound.
    const std::vector<SoundRow> seen{sound("/r/kick 808.wav", "k"), sound("/r/sub/snare.wav", "s"),
                                     sound("/r/tom.wav", "t2", 9), sound("/r/new.wav", "n")};
    const Reconciled r = reconcile(known, seen, true);
    ASSERT_EQ(r.rows.size(), 4U);
    EXPECT_TRUE(r.rows[0].favourite);
    EXPECT_EQ(r.rows[0].tags, "deep");
    EXPECT_EQ(r.rows[1].tags, "tight");
    EXPECT_EQ(r.moved,
              (std::vector<std::pair<std::string, std::string>>{{"/r/kick.wav", "/r/kick 808.wav"},
                                                                {"/r/snare.wav", "/r/sub/snare.wav"}}));
    EXPECT_EQ(r.gone, (std::vector<std::string>{"/r/hat.wav"}));
    EXPECT_EQ(r.toRead, (std::vector<std::string>{"/r/tom.wav", "/r/new.wav"}));
    EXPECT_FALSE(r.mostlyGone);

    // Written back: the moved sounds keep their marks in the file too.
    Database db(tmp.path() + "/library.db");
    ASSERT_EQ(db.open(), Database::Opened::Fresh);
    const std::int64_t root = db.rememberRoot("/r");
    ASSERT_TRUE(db.replaceSounds(root, known));
    ASSERT_TRUE(db.setFavourite({"/r/kick.wav"}, true));
    ASSERT_TRUE(db.replaceSounds(root, reconcile(db.soundsOf(root), seen, true).rows));
    const auto stored = db.soundsOf(root);
    const auto kick
        = std::find_if(stored.begin(), stored.end(), [](const SoundRow &s) { return s.path == "/r/kick 808.wav"; });
    ASSERT_NE(kick, stored.end());
    EXPECT_TRUE(kick->favourite);
    EXPECT_EQ(stored.size(), 4U);

    // Most of it gone: said, so that the user is asked first.
    EXPECT_TRUE(reconcile(known, {sound("/r/kick.wav", "k")}, true).mostlyGone);
    // The root itself missing (an unplugged drive): nothing forgotten.
    const Reconciled offline = reconcile(known, {}, false);
    EXPECT_EQ(offline.rows, known);
    EXPECT_TRUE(offline.gone.empty());
    EXPECT_FALSE(offline.mostlyGone);
}

TEST(Exchange, FavouritesAndTagsGoOutAsJsonAndMergeBackByPathOrFingerprint)
{
    TempDir tmp;
    Database db(tmp.path() + "/library.db");
    ASSERT_EQ(db.open(), Database::Opened::Fresh);
    const std::int64_t root = db.rememberRoot("/s");
    auto sound = [](const std::string &path, const std::string &print) {
        SoundRow r = row(path);
        r.fingerprint = print;
        return r;
    };
    ASSERT_TRUE(
        db.replaceSounds(root, {sound("/s/kick.wav", "k"), sound("/s/caf\xe9.wav", "c"), sound("/s/plain.wav", "p")}));
    ASSERT_TRUE(db.setFavourite({"/s/kick.wav"}, true));
    ASSERT_TRUE(db.setTags({"/s/kick.wav"}, "deep, 808"));
    ASSERT_TRUE(db.setTags({"/s/caf\xe9.wav"}, "field"));
    const std::string json = exportMarks(db);
    EXPECT_NE(json.find("\"auralist-library\": 1"), std::string::npos);
    EXPECT_NE(json.find("\"pathBase64\""), std::string::npos); // not UTF-8: its bytes
    EXPECT_EQ(json.find("plain.wav"), std::string::npos); // nothing to keep of it

    // Another catalogue: the kick elsewhere (found by its fingerprint),
    // the other at its path with a tag of its own; one sound unknown.
    Database other(tmp.path() + "/other.db");
    ASSERT_EQ(other.open(), Database::Opened::Fresh);
    const std::int64_t there = other.rememberRoot("/t");
    ASSERT_TRUE(other.replaceSounds(there, {sound("/t/Kick A.wav", "k"), sound("/s/caf\xe9.wav", "c")}));
    ASSERT_TRUE(other.setTags({"/s/caf\xe9.wav"}, "rain, field"));
    ASSERT_TRUE(other.replaceSounds(other.rememberRoot("/u"), {}));
    const ImportResult imported = importMarks(other, json);
    EXPECT_TRUE(imported.readable);
    EXPECT_EQ(imported.applied, 2);
    EXPECT_EQ(imported.unmatched, 0);
    const auto rows = other.soundsOf(there);
    ASSERT_EQ(rows.size(), 2U);
    EXPECT_TRUE(rows[0].favourite);
    EXPECT_EQ(rows[0].tags, "deep, 808");
    EXPECT_EQ(rows[1].tags, "rain, field"); // joined, each once

    // Merged twice: nothing changes; garbage is refused without a change.
    EXPECT_EQ(importMarks(other, json).applied, 2);
    EXPECT_EQ(other.soundsOf(there), rows);
    for (const char *bad : {"", "{", "[1,2]", "{\"sounds\": []}", "{\"auralist-library\": 1, \"sounds\": [7, {}]}"}) {
        const ImportResult r = importMarks(other, bad);
        EXPECT_EQ(r.applied, 0) << bad;
    }
    EXPECT_FALSE(importMarks(other, "not json").readable);
    EXPECT_EQ(other.soundsOf(there), rows);
    Database empty(tmp.path() + "/empty.db");
    ASSERT_EQ(empty.open(), Database::Opened::Fresh);
    EXPECT_EQ(importMarks(empty, json).unmatched, 2);
}

// Saved searches: in the order saved, a name saved again takes the new
// query, a rename to a name taken is refused, and they outlive the file.
TEST(Database, SavedSearchesKeepTheirNamesAndOrder)
{
    const TempDir dir;
    const std::string file = dir.path() + "/library.db";
    {
        Database db(file);
        ASSERT_EQ(db.open(), Database::Opened::Fresh);
        EXPECT_TRUE(db.savedSearches().saveSearch("Kicks", "kick len:<1s"));
        EXPECT_TRUE(db.savedSearches().saveSearch("Loops", "type:loop"));
        EXPECT_TRUE(db.savedSearches().saveSearch("Kicks", "kick -808"));
        auto searches = db.savedSearches().all();
        ASSERT_EQ(searches.size(), 2U);
        EXPECT_EQ(searches[0].name, "Kicks");
        EXPECT_EQ(searches[0].query, "kick -808");
        EXPECT_TRUE(db.savedSearches().renameSearch(searches[1].id, "Kicks"));
        EXPECT_EQ(db.savedSearches().all()[1].name, "Loops");
        EXPECT_TRUE(db.savedSearches().renameSearch(searches[1].id, "Grooves"));
        EXPECT_TRUE(db.savedSearches().removeSearch(searches[0].id));
    }
    Database db(file);
    ASSERT_EQ(db.open(), Database::Opened::Existing);
    const auto searches = db.savedSearches().all();
    ASSERT_EQ(searches.size(), 1U);
    EXPECT_EQ(searches[0].name, "Grooves");
    EXPECT_EQ(searches[0].query, "type:loop");
}

// A catalogue made by a newer Auralist is refused and left byte for byte
// as it was, its journal mode too.
TEST(Catalogue, ANewerCatalogueIsLeftExactlyAsItIs)
{
    TempDir tmp;
    const std::string file = tmp.path() + "/library.db";
    sqlite3 *raw = nullptr;
    ASSERT_EQ(sqlite3_open(file.c_str(), &raw), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(raw, "CREATE TABLE future(x); PRAGMA user_version=99;", nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(raw);
    const auto bytes = [&] {
        std::ifstream in(file, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    };
    const std::string before = bytes();
    Database db(file);
    EXPECT_EQ(db.open(), Database::Opened::Unavailable);
    EXPECT_NE(db.problem().find("newer"), std::string::npos) << db.problem();
    EXPECT_EQ(bytes(), before);
    EXPECT_FALSE(std::filesystem::exists(file + "-wal"));
}
