#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <optional>
#include <set>

#include <sys/stat.h>
#include <sys/xattr.h>

#include <sqlite3.h>

#include "catalogue/library.h"
#include "catalogue/reconcile.h"
#include "catalogue/similar_sounds.h"
#include "catalogue/walk.h"
#include "intake/scanner.h"
#include "library_rig.h"
#include "platform/posix_file_system.h"
#include "test_support.h"

using namespace auralist;
using namespace auralist::testing;
namespace fs = std::filesystem;

// The index of descriptions: a put replaces, a removal moves the last
// description into the freed place without losing track of its label.
TEST(DescriptionIndex, PutReplacesAndRemovalKeepsTheRest)
{
    catalogue::DescriptionIndex index(2);
    for (std::uint32_t label = 0; label < 5; ++label)
        index.put(label, std::vector<float>{static_cast<float>(label), 0.0F});
    index.put(1, std::vector<float>{10.0F, 0.0F});
    index.remove(0);
    index.remove(0); // twice: no harm
    index.put(7, std::vector<float>{1.0F, 0.0F, 3.0F}); // the wrong width: not kept
    EXPECT_EQ(index.size(), 4U);
    const auto near = index.nearest(std::vector<float>{0.0F, 0.0F}, 3);
    ASSERT_EQ(near.size(), 3U);
    EXPECT_EQ(near[0], (catalogue::DescriptionIndex::Near{2, 4.0F}));
    EXPECT_EQ(near[1].first, 3U);
    EXPECT_EQ(near[2].first, 4U);
    EXPECT_EQ(index.description(4)[0], 4.0F);
    EXPECT_TRUE(index.description(0).empty());
    // Among given labels, answered by position; one without a description
    // is passed over.
    const std::vector<std::uint32_t> among{4, 0, 1};
    const auto some = index.nearestAmong(std::vector<float>{9.0F, 0.0F}, among, 5);
    ASSERT_EQ(some.size(), 2U);
    EXPECT_EQ(some[0].first, 2U);
    EXPECT_EQ(some[1].first, 0U);
}

namespace {

// What the catalogue file holds of the sound at path, read over a
// connection of its own: -1 when it has no such sound.
int favouriteIn(const std::string &file, const std::string &path)
{
    sqlite3 *raw = nullptr;
    int found = -1;
    if (sqlite3_open_v2(file.c_str(), &raw, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
        sqlite3_busy_timeout(raw, 2000);
        sqlite3_stmt *st = nullptr;
        sqlite3_prepare_v2(raw, "SELECT s.favourite FROM sounds s JOIN sound_paths p ON p.id = s.id WHERE p.path = ?",
                           -1, &st, nullptr);
        sqlite3_bind_blob(st, 1, path.data(), static_cast<int>(path.size()), SQLITE_TRANSIENT);
        if (sqlite3_step(st) == SQLITE_ROW)
            found = sqlite3_column_int(st, 0);
        sqlite3_finalize(st);
    }
    sqlite3_close(raw);
    return found;
}

// Another connection holding the catalogue's write lock, as a second
// Auralist in the middle of a write would, until released.
sqlite3 *holdingTheLock(const std::string &file)
{
    sqlite3 *other = nullptr;
    EXPECT_EQ(sqlite3_open(file.c_str(), &other), SQLITE_OK);
    EXPECT_EQ(sqlite3_exec(other, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
    return other;
}

void release(sqlite3 *other)
{
    EXPECT_EQ(sqlite3_exec(other, "COMMIT", nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(other);
}

} // namespace

// A mark made before its sound is recorded (while the intake is still
// walking) is kept and written once the sound is.
TEST(Library, AMarkOnASoundNotRecordedYetIsWrittenWhenItIs)
{
    const Folder f;
    Heard heard;
    const std::string file = f.dir.path() + "/library.db";
    catalogue::Library library(file);
    library.addListener(&heard);
    library.setFavourite({f.at("snare.wav")}, true);
    library.setTags({f.at("hat.wav")}, "dry");
    settle(library);
    EXPECT_TRUE(fs::exists(file + ".marks"));
    library.recordIntake({f.root}, storeOf(f.all()));
    settle(library);
    EXPECT_EQ(favouriteIn(file, f.at("snare.wav")), 1);
    EXPECT_EQ(favouriteIn(file, f.at("kick.wav")), 0);
    library.requestList(1, Catalogue::ListKind::Folder, f.root);
    settle(library);
    ASSERT_TRUE(heard.list);
    EXPECT_EQ(heard.list->second->tags(2), "dry");
    // Everything is in the catalogue: nothing is left in the journal.
    EXPECT_FALSE(fs::exists(file + ".marks"));
    EXPECT_TRUE(heard.problems.empty());
}

// Another program holding the catalogue's lock: the mark waits, and lands
// without another edit once the lock goes; held across a quit, the mark
// does not hold up the quit and is written at the next start.
TEST(Library, AMarkThatMeetsALockIsWrittenOnceTheLockGoesOrAtTheNextStart)
{
    const Folder f;
    const std::string file = f.dir.path() + "/library.db";
    {
        catalogue::Library library(file);
        library.recordIntake({f.root}, storeOf(f.all()));
        settle(library);
        sqlite3 *other = holdingTheLock(file);
        library.setFavourite({f.at("tom.wav")}, true);
        ASSERT_TRUE(spinUntil([&] { return fs::exists(file + ".marks"); }, 3000));
        release(other);
        EXPECT_TRUE(spinUntil([&] { return favouriteIn(file, f.at("tom.wav")) == 1; }, 30000));
    }
    sqlite3 *other = holdingTheLock(file);
    {
        Heard heard;
        catalogue::Library library(file);
        library.addListener(&heard);
        library.setFavourite({f.at("kick.wav")}, true);
        ASSERT_TRUE(spinUntil([&] { return fs::exists(file + ".marks"); }, 3000));
        const auto start = std::chrono::steady_clock::now();
        library.requestStop();
        EXPECT_TRUE(library.waitStopped(start + std::chrono::seconds(2)));
        EXPECT_TRUE(heard.problems.empty());
    }
    EXPECT_EQ(favouriteIn(file, f.at("kick.wav")), 0);
    release(other);
    catalogue::Library library(file);
    settle(library);
    EXPECT_EQ(favouriteIn(file, f.at("kick.wav")), 1);
    EXPECT_FALSE(fs::exists(file + ".marks"));
}

// A long recording is written in pieces: a mark made meanwhile is in the
// file before the recording is done, and a recording cut short by a quit
// keeps what it had.
TEST(Library, AMarkIsCommittedWhileALongRecordingRuns)
{
    const Folder f;
    const std::string file = f.dir.path() + "/library.db";
    catalogue::Library library(file);
    library.recordIntake({f.root}, storeOf(f.all()));
    settle(library);
    // Paths of no file: looked at quickly, recorded all the same.
    const std::string big = f.dir.path() + "/Big";
    fs::create_directory(big);
    std::vector<std::string> many;
    for (int i = 0; i < 400000; ++i)
        many.push_back(big + "/s" + std::to_string(i) + ".wav");
    std::atomic<bool> recorded{false};
    library.recordIntake({big}, storeOf(many));
    library.whenWritten([&] { recorded = true; });
    // Once the recording has begun to land, the mark.
    ASSERT_TRUE(spinUntil([&] { return favouriteIn(file, many.front()) == 0; }, 20000));
    library.setFavourite({f.at("kick.wav")}, true);
    ASSERT_TRUE(spinUntil([&] { return favouriteIn(file, f.at("kick.wav")) == 1 || recorded; }, 20000));
    EXPECT_FALSE(recorded.load()) << "the mark waited for the whole recording";
    EXPECT_EQ(favouriteIn(file, f.at("kick.wav")), 1);
    library.requestStop();
    library.waitStopped(std::chrono::steady_clock::now() + std::chrono::seconds(10));
    // Cut short or not, the first piece is there, and the journal is cut back.
    EXPECT_EQ(favouriteIn(file, many.front()), 0);
    std::error_code error;
    EXPECT_LT(fs::exists(file + "-wal") ? fs::file_size(file + "-wal", error) : 0, 1U << 20);
}

// The daily backup is taken by a running catalogue, and a damaged
// catalogue comes back from it with its marks.
TEST(Library, TheDailyBackupIsTakenAndRestoresADamagedCatalogue)
{
    const Folder f;
    Heard heard;
    const std::string file = f.dir.path() + "/library.db";
    {
        catalogue::Library library(file);
        library.recordIntake({f.root}, storeOf(f.all()));
        library.setFavourite({f.at("hat.wav")}, true);
        settle(library);
    }
    {
        // The next day's start takes the backup of what the last day left.
        catalogue::Library library(file, [] { return std::time(nullptr) + 86400; });
        settle(library);
    }
    const std::string backup = file + ".backup-" + [] {
        char day[16];
        const std::time_t tomorrow = std::time(nullptr) + 86400;
        std::tm parts{};
        localtime_r(&tomorrow, &parts);
        std::strftime(day, sizeof day, "%Y%m%d", &parts);
        return std::string(day);
    }();
    ASSERT_TRUE(fs::exists(backup));
    // Damaged past reading.
    fs::remove(file + "-wal");
    fs::remove(file + "-shm");
    writeFile(file, std::string(8192, 'x'));
    catalogue::Library library(file);
    library.addListener(&heard);
    library.requestList(1, Catalogue::ListKind::Favourites, {});
    settle(library);
    ASSERT_EQ(heard.problems.size(), 1U);
    EXPECT_EQ(heard.problems[0], Catalogue::Problem::Restored);
    ASSERT_TRUE(heard.list);
    EXPECT_EQ(pathsIn(*heard.list->second), std::vector<std::string>{f.at("hat.wav")});
}

// A recording that could not be saved (a full disk) is recorded again once
// it can be, and the marks made meanwhile land with it.
TEST(Library, ARecordingThatFailedIsRecordedAgainWithItsMarks)
{
    const Folder f;
    Heard heard;
    const std::string file = f.dir.path() + "/library.db";
    std::atomic<std::time_t> now{5000};
    catalogue::Library library(file, [&now] { return now.load(); });
    library.addListener(&heard);
    settle(library);
    sqlite3 *raw = nullptr;
    ASSERT_EQ(sqlite3_open(file.c_str(), &raw), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(raw,
                           "CREATE TRIGGER refuse BEFORE INSERT ON sounds BEGIN SELECT RAISE(FAIL, 'disk full'); END;",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    library.recordIntake({f.root}, storeOf(f.all()));
    library.setFavourite({f.at("snare.wav")}, true);
    settle(library);
    ASSERT_FALSE(heard.problems.empty());
    EXPECT_EQ(heard.problems[0], Catalogue::Problem::WriteFailed);
    EXPECT_EQ(favouriteIn(file, f.at("snare.wav")), -1);
    // Space again; a while later the folder is recorded, the mark with it.
    ASSERT_EQ(sqlite3_exec(raw, "DROP TRIGGER refuse", nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(raw);
    now += 60;
    EXPECT_TRUE(spinUntil([&] { return favouriteIn(file, f.at("snare.wav")) == 1; }, 20000));
    EXPECT_EQ(favouriteIn(file, f.at("kick.wav")), 0);
}
