#include <gtest/gtest.h>

#include <QCoreApplication>

#include <algorithm>
#include <filesystem>
#include <random>
#include <set>
#include <sys/xattr.h>
#include <thread>
#include <unistd.h>

#include "browser_rig.h"
#include "core/controller.h"
#include "core/diagnostics.h"
#include "core/list_sort.h"
#include "core/setting.h"
#include "core/table_controller.h"
#include "fakes/fakes.h"
#include "intake/scanner.h"
#include "platform/posix_file_system.h"
#include "test_support.h"

using namespace auralist;
using namespace auralist::fakes;
using auralist::testing::CapturedOutput;
using auralist::testing::dropNames;
using auralist::testing::Rig;
using auralist::testing::spinUntil;
using auralist::testing::TempDir;

TEST(Intake, ScansFoldersToEveryDepthAndPrintsTheDiagnosticsExactly)
{
    TempDir tmp;
    tmp.file("drop/a.aiff");
    tmp.file("drop/b.txt");
    tmp.file("drop/sub/c.wav");
    Rig rig;
    rig.out.take();
    rig.controller.droppedFilesInWell({tmp.path() + "/drop"});

    // Listing order is the system's: compare as sets, then check the shape.
    std::set<std::string> paths;
    for (const auto &r : *rig.controller.state().items)
        paths.emplace(r.path());
    EXPECT_EQ(paths, (std::set<std::string>{tmp.path() + "/drop/a.aiff", tmp.path() + "/drop/sub/c.wav"}));
    const std::string out = rig.out.take();
    for (const char *p : {"/drop/a.aiff\n", "/drop/b.txt\n", "/drop/sub\n", "/drop/sub/c.wav\n"})
        EXPECT_NE(out.find(tmp.path() + p), std::string::npos) << p;
    for (const char *f : {"format: aiff\n", "format: txt\n", "format: wav\n"})
        EXPECT_NE(out.find(f), std::string::npos) << f;
    // Four path lines, then the three format lines; the folder "sub" has none.
    size_t lines = 0;
    for (char c : out)
        lines += c == '\n';
    EXPECT_EQ(lines, 7U);
    EXPECT_LT(out.rfind(tmp.path()), out.find("format:"));

    EXPECT_EQ(rig.controller.state().currentTrack, 0);
    EXPECT_TRUE(rig.controller.state().playModeOn);
    EXPECT_EQ(rig.table.current, 0);
    EXPECT_EQ(rig.view.label, QString());
    ASSERT_EQ(rig.engine.loads.size(), 1U);
    EXPECT_EQ(rig.engine.loads[0], (*rig.controller.state().items)[0].path());
    // No filter: the sound list, the match list and the rows are one list.
    EXPECT_EQ(rig.controller.state().items, rig.controller.state().matches);
    EXPECT_EQ(rig.controller.state().items, rig.tableController.items());
}

TEST(Intake, RepeatedDropIsIgnoredAndBadPathsAreHandled)
{
    TempDir tmp;
    const std::string a = tmp.file("a.wav");
    const std::string b = tmp.file("b.wav");
    Rig rig;
    rig.controller.droppedFilesInWell({a});
    ASSERT_EQ(rig.names().size(), 1U);
    rig.controller.droppedFilesInWell({a, b}); // first already listed: nothing happens
    EXPECT_EQ(rig.names().size(), 1U);
    EXPECT_EQ(rig.engine.loads.size(), 1U);

    // A missing path with a sound extension is judged by its name alone;
    // a missing open-file request answers false and changes nothing.
    rig.controller.droppedFilesInWell({tmp.path() + "/gone.wav", a});
    EXPECT_EQ(rig.names(), (std::vector<std::string>{"gone.wav", "a.wav"}));
    EXPECT_FALSE(rig.controller.applicationOpenFile(tmp.path() + "/nothing-here"));
    EXPECT_EQ(rig.names().size(), 2U);

    // Several paths in one request: the missing ones are left out.
    rig.controller.openFiles({tmp.path() + "/missing.wav", b});
    EXPECT_EQ(rig.names(), (std::vector<std::string>{"b.wav"}));

    // A symlink loop ends; a non-UTF-8 name keeps its bytes.
    tmp.dir("loop/inner");
    std::filesystem::create_directory_symlink(tmp.path() + "/loop", tmp.path() + "/loop/inner/back");
    const std::string odd = tmp.file("loop/caf\xe9.wav");
    rig.controller.droppedFilesInWell({tmp.path() + "/loop"});
    ASSERT_EQ(rig.names().size(), 1U);
    EXPECT_EQ((*rig.controller.state().items)[0].path(), odd);

    // Only non-sounds: the list empties, play mode on, nothing new plays.
    const size_t loads = rig.engine.loads.size();
    rig.controller.droppedFilesInWell({tmp.file("notes.txt")});
    EXPECT_TRUE(rig.names().empty());
    EXPECT_EQ(rig.engine.loads.size(), loads);
    EXPECT_TRUE(rig.controller.state().playModeOn);
    rig.controller.droppedFilesInWell({});
}

TEST(Intake, UnreadableAndVanishingFoldersAddNothingBelowThemselves)
{
    TempDir tmp;
    tmp.file("drop/a.wav");
    tmp.file("drop/locked/hidden.wav");
    tmp.file("drop/going/soon.wav");
    tmp.file("drop/going/deeper/later.wav");
    tmp.file("drop/z/.dot.wav");
    Rig rig;
    rig.fs.unreadable.insert(tmp.path() + "/drop/locked");
    // The folder "going" is listed, then removed before it is read.
    rig.fs.whileListing = [&](const std::string &path) {
        if (path == tmp.path() + "/drop/going")
            std::filesystem::remove_all(path);
    };
    rig.controller.droppedFilesInWell({tmp.path() + "/drop"});
    auto names = rig.names();
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{".dot.wav", "a.wav"}));
    const std::string out = rig.out.take();
    EXPECT_NE(out.find(tmp.path() + "/drop/locked\n"), std::string::npos);
    EXPECT_EQ(out.find("hidden.wav"), std::string::npos);
    EXPECT_EQ(out.find("soon.wav"), std::string::npos);

    // Permissions really stop a reader who is not root.
    if (::geteuid() != 0) {
        rig.fs.unreadable.clear();
        std::filesystem::permissions(tmp.path() + "/drop/locked", std::filesystem::perms::none);
        rig.controller.droppedFilesInWell({tmp.path() + "/drop/locked", tmp.path() + "/drop/a.wav"});
        std::filesystem::permissions(tmp.path() + "/drop/locked", std::filesystem::perms::owner_all);
        EXPECT_EQ(rig.names(), (std::vector<std::string>{"a.wav"}));
    }
}

TEST(Intake, TypeCodesDecideForNamesWithoutExtension)
{
    TempDir tmp;
    const std::string coded = tmp.file("drop/Kick");
    tmp.file("drop/Plain");
    unsigned char info[32] = {'A', 'I', 'F', 'F'};
    if (::setxattr(coded.c_str(), "user.com.apple.FinderInfo", info, sizeof info, 0) != 0)
        GTEST_SKIP() << "no user attributes on this file system";
    // A folder is judged by its extension alone: one named like a sound is
    // taken, one with the attribute is not (a folder has no type code).
    const std::string folder = tmp.path() + "/drop/Folder";
    std::filesystem::create_directories(folder);
    std::filesystem::create_directories(tmp.path() + "/drop/Loops.wav");
    ASSERT_EQ(::setxattr(folder.c_str(), "user.com.apple.FinderInfo", info, sizeof info, 0), 0);
    Rig rig;
    rig.out.take();
    rig.controller.droppedFilesInWell({tmp.path() + "/drop"});
    EXPECT_EQ(rig.names(), (std::vector<std::string>{"Kick", "Loops.wav"}));
    const std::string out = rig.out.take();
    EXPECT_NE(out.find("format: AIFF\n"), std::string::npos);
    EXPECT_EQ(out.find("format: AIFF\nformat: AIFF"), std::string::npos);
    EXPECT_NE(out.find("format: wav\n"), std::string::npos);
}

TEST(Find, FiltersNamesIgnoringCaseAndSharesTheRecords)
{
    TempDir tmp;
    Rig rig;
    dropNames(rig, tmp, {"Kick.aiff", "snare.wav", "KICK2.aiff", "hat.wav"});
    rig.view.find = "kick";
    rig.controller.find();
    EXPECT_EQ(rig.names(), (std::vector<std::string>{"Kick.aiff", "KICK2.aiff"}));
    EXPECT_NE(rig.controller.state().items, rig.controller.state().matches);
    EXPECT_EQ((*rig.controller.state().matches)[0], (*rig.controller.state().items)[0]); // same record object
    rig.view.find = "kick2"; // narrows the previous hits
    rig.controller.find();
    EXPECT_EQ(rig.names(), (std::vector<std::string>{"KICK2.aiff"}));
    rig.view.find = "auralist-test"; // only in the path: no match
    rig.controller.find();
    EXPECT_TRUE(rig.names().empty());
    rig.view.find = "";
    rig.controller.find();
    EXPECT_EQ(rig.names().size(), 4U);
    EXPECT_EQ(rig.controller.state().items, rig.controller.state().matches);
}

TEST(Find, AQueryOnWhatIsReadRunsAgainAsItIsRead)
{
    TempDir tmp;
    Rig rig;
    dropNames(rig, tmp, {"kick short.wav", "kick long.wav", "snare.wav"});
    rig.view.find = "kick len:<3s";
    rig.controller.find();
    EXPECT_TRUE(rig.names().empty()); // no length known yet
    const RecordStorePtr store = rig.controller.state().items->store();
    const auto lasting = [&](const char *name, std::int64_t seconds) {
        FactsResult r;
        for (std::uint32_t i = 0; i < store->size(); ++i) {
            if (store->name(i) == name)
                r.record = i;
        }
        r.facts.state = HeaderFacts::State::Read;
        r.facts.rate = 1000;
        r.facts.channels = 1;
        r.facts.frames = seconds * 1000;
        return r;
    };
    rig.controller.reads().factsArrived(store, {lasting("kick short.wav", 1), lasting("kick long.wav", 9)});
    EXPECT_TRUE(spinUntil([&] {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        return rig.names() == std::vector<std::string>{"kick short.wav"};
    }));
    // A find of names alone is not run again when facts arrive.
    rig.view.find = "kick";
    rig.controller.find();
    rig.controller.reads().factsArrived(store, {lasting("snare.wav", 2)});
    rig.view.find = "snare"; // not found by the find shown
    spinUntil(
        [] {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
            return false;
        },
        400);
    EXPECT_EQ(rig.names().size(), 2U);
}

TEST(Lifecycle, ShowBrowserKeepsTheTopEdgeAndQuitsOnMainWindowClose)
{
    Rig rig; // awakeFromNib opened the browser from 75 high at y 500
    const double tall = Controller::kTallWindowHeight;
    EXPECT_GE(tall, 600.0); // twelve rows and more below the controls
    // (Moved up to keep its bottom on the 900-high screen.)
    EXPECT_EQ(rig.view.frame, (Rect{100, 900 - tall, 600, tall}));
    EXPECT_EQ(rig.view.scroll.height, 93.0);
    EXPECT_TRUE(rig.view.canDrop);
    EXPECT_FALSE(rig.tableController.isEditable());
    rig.controller.showBrowser();
    EXPECT_EQ(rig.view.frame, (Rect{100, 900 - tall, 600, 75}));
    // Twice returns to the size the window had before, whatever it was.
    rig.controller.showBrowser();
    rig.view.frame.height = 420;
    rig.controller.showBrowser();
    rig.controller.showBrowser();
    EXPECT_EQ(rig.view.frame, (Rect{100, 900 - tall, 600, 420}));
    rig.controller.showBrowser();
    rig.view.frame = {100, 500, 600, 300};
    rig.view.screen = {0, 0, 1280, 2000};
    rig.controller.showBrowser(); // opening from 300 high moves the top edge by 225
    EXPECT_EQ(rig.view.frame, (Rect{100, 725, 600, 420}));
    rig.view.screen = {0, 0, 1280, 900};
    rig.view.frame = {100, 800, 600, 300};
    rig.controller.showBrowser();
    rig.controller.showBrowser(); // the top edge stays on the screen
    EXPECT_LE(rig.view.frame.y + rig.view.frame.height, 900);

    rig.controller.windowWillClose(false);
    EXPECT_FALSE(rig.view.terminated);
    rig.controller.windowWillClose(true);
    EXPECT_TRUE(rig.view.terminated);
    rig.controller.appWillTerminate();
    EXPECT_EQ(rig.settings.syncs, 1);
}

TEST(Intake, ListsEachFolderAsAFileManagerDoesDepthFirst)
{
    TempDir tmp;
    for (const char *name : {"drop/take 10.wav", "drop/Take 2.wav", "drop/take 1.wav", "drop/b/z.wav", "drop/B 2/y.wav",
                             "drop/a.wav", "drop/b/A.wav"})
        tmp.file(name);
    Rig rig;
    rig.out.take();
    rig.controller.droppedFilesInWell({tmp.path() + "/drop"});
    const std::string d = tmp.path() + "/drop/";
    std::string expected;
    for (const char *p :
         {"a.wav", "b", "b/A.wav", "b/z.wav", "B 2", "B 2/y.wav", "take 1.wav", "Take 2.wav", "take 10.wav"})
        expected += d + p + "\n";
    const std::string out = rig.out.take();
    EXPECT_EQ(out.substr(0, expected.size()), expected);
    EXPECT_EQ(
        rig.names(),
        (std::vector<std::string>{"a.wav", "A.wav", "z.wav", "y.wav", "take 1.wav", "Take 2.wav", "take 10.wav"}));
}

namespace {

// The real file system, each folder listed a little late, as on a slow disk.
struct SlowFileSystem : PosixFileSystem {
    bool listDirectory(const std::string &path, const EntryCallback &callback) override
    {
        std::this_thread::sleep_for(std::chrono::milliseconds(15));
        return PosixFileSystem::listDirectory(path, callback);
    }
};

bool spin(const std::function<bool()> &done)
{
    for (int i = 0; i < 2000 && !done(); ++i) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return done();
}

} // namespace

TEST(Intake, OnAWorkerRowsArriveInBatchesAndTheEndSelectsAndPlays)
{
    TempDir tmp;
    for (int f = 0; f < 30; ++f) {
        for (int i = 0; i < 100; ++i)
            tmp.file("Drums/f" + std::to_string(f) + "/s" + std::to_string(i) + ".wav");
    }
    CapturedOutput scanOut;
    ThreadedScanner scanner(std::make_shared<SlowFileSystem>(), scanOut.file());
    Rig rig(&scanner);
    rig.controller.droppedFilesInWell({tmp.path() + "/Drums"});
    EXPECT_TRUE(rig.controller.state().scanning);
    // Rows show while the walk goes on, the count so far in the title.
    ASSERT_TRUE(spin([&] { return rig.tableController.rowCount() > 0; }));
    EXPECT_TRUE(rig.controller.state().scanning);
    EXPECT_TRUE(rig.view.title.contains(QStringLiteral(" so far"))) << rig.view.title.toStdString();
    EXPECT_TRUE(rig.engine.loads.empty());
    ASSERT_TRUE(spin([&] { return !rig.controller.state().scanning; }));
    EXPECT_EQ(rig.tableController.rowCount(), 3000);
    EXPECT_EQ(rig.view.title, QStringLiteral("Drums \u2014 3,000 sounds \u2014 Auralist"));
    EXPECT_EQ(rig.table.selectedRow(), 0);
    ASSERT_EQ(rig.engine.loads.size(), 1U);
    EXPECT_EQ(rig.engine.loads[0], tmp.path() + "/Drums/f0/s0.wav");

    // The lines are the same as an intake on the window's thread prints.
    Rig inlineRig;
    inlineRig.controller.droppedFilesInWell({tmp.path() + "/Drums"});
    EXPECT_EQ(scanOut.take(), inlineRig.out.take());
}

TEST(Intake, ADropWhileScanningEndsThatScanWithWhatItHadFound)
{
    TempDir tmp;
    for (int f = 0; f < 60; ++f)
        tmp.file("Big/f" + std::to_string(f) + "/s.wav");
    tmp.file("Other/o.wav");
    CapturedOutput scanOut;
    ThreadedScanner scanner(std::make_shared<SlowFileSystem>(), scanOut.file());
    Rig rig(&scanner);
    rig.controller.droppedFilesInWell({tmp.path() + "/Big"});
    ASSERT_TRUE(spin([&] { return rig.tableController.rowCount() > 0; }));

    // A record already found is dropped again: the scan ends there as if it
    // had completed (first row selected and playing) and the drop is a
    // repeat, so nothing more changes.
    const std::string found((*rig.controller.state().items)[0].path());
    rig.controller.droppedFilesInWell({found, tmp.path() + "/Other"});
    EXPECT_FALSE(rig.controller.state().scanning);
    const size_t had = rig.controller.state().items->size();
    EXPECT_LT(had, 60U);
    ASSERT_EQ(rig.engine.loads.size(), 1U);
    EXPECT_EQ(rig.engine.loads[0], found);
    // Nothing late from the cancelled scan reaches the list.
    QCoreApplication::processEvents();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    QCoreApplication::processEvents();
    EXPECT_EQ(rig.controller.state().items->size(), had);

    // A new path while scanning starts over with it.
    rig.controller.droppedFilesInWell({tmp.path() + "/Big"});
    ASSERT_TRUE(spin([&] { return rig.tableController.rowCount() > 0; }));
    rig.controller.droppedFilesInWell({tmp.path() + "/Other"});
    ASSERT_TRUE(spin([&] { return !rig.controller.state().scanning; }));
    EXPECT_EQ(rig.names(), std::vector<std::string>{"o.wav"});
    EXPECT_EQ(rig.engine.loads.back(), tmp.path() + "/Other/o.wav");
}

TEST(Selection, FollowsItsSoundThroughSortsFindsAndDeletions)
{
    TempDir tmp;
    Rig rig;
    dropNames(rig, tmp, {"b.wav", "c.wav", "A.wav", "d.wav"});
    Controller &c = rig.controller;
    const auto selectedName = [&] { return std::string(rig.tableController.selectedItem().name()); };

    // c.wav selected at row 1; a sort moves it to row 2, and the current
    // track with it: Next plays what is now below it.
    rig.select(1);
    ASSERT_EQ(selectedName(), "c.wav");
    rig.table.column = 0;
    rig.tableController.tableViewDidClickTableColumn();
    EXPECT_EQ(rig.names(), (std::vector<std::string>{"A.wav", "b.wav", "c.wav", "d.wav"}));
    EXPECT_EQ(selectedName(), "c.wav");
    EXPECT_EQ(c.state().currentTrack, 2);
    // What follows the playing sound without a gap is the new next row.
    EXPECT_EQ(std::filesystem::path(rig.engine.prepared.back()).filename(), "d.wav");
    c.next();
    EXPECT_EQ(rig.view.trackName, "d.wav");

    // Descending: several selected rows all stay on their sounds.
    rig.table.rows = {0, 1};
    rig.table.current = 1;
    rig.tableController.tableViewSelectionDidChange(&rig.table);
    rig.tableController.tableViewDidClickTableColumn();
    EXPECT_EQ(rig.names(), (std::vector<std::string>{"d.wav", "c.wav", "b.wav", "A.wav"}));
    EXPECT_EQ(rig.table.rows, (std::set<int>{2, 3}));
    EXPECT_EQ(selectedName(), "b.wav");
    EXPECT_EQ(c.state().currentTrack, 2);

    // Found, then the find emptied: the found sound stays selected and
    // current in the whole list, and Next goes on from it.
    rig.view.find = "c";
    c.find();
    ASSERT_EQ(rig.names(), (std::vector<std::string>{"c.wav"}));
    rig.select(0);
    rig.view.find = "";
    c.find();
    EXPECT_EQ(selectedName(), "c.wav");
    EXPECT_EQ(c.state().currentTrack, 1);
    c.play();
    c.next();
    EXPECT_EQ(rig.view.trackName, "b.wav");

    // A find that leaves the selected sound out: the row at its place.
    rig.select(1);
    rig.view.find = "a.";
    c.find();
    EXPECT_EQ(c.state().currentTrack, 0);
    EXPECT_EQ(rig.table.rows, (std::set<int>{0}));
    rig.view.find = "";
    c.find();

    // The whole list took the sort made while it was filtered.
    rig.view.find = ".wav";
    c.find();
    rig.table.column = 0;
    rig.tableController.tableViewDidClickTableColumn(); // ascending again
    rig.view.find = "";
    c.find();
    EXPECT_EQ(rig.names(), (std::vector<std::string>{"A.wav", "b.wav", "c.wav", "d.wav"}));

    // The next list comes in sorted the same way.
    TempDir other;
    dropNames(rig, other, {"z.wav", "Y.wav", "x.wav"});
    EXPECT_EQ(rig.names(), (std::vector<std::string>{"x.wav", "Y.wav", "z.wav"}));
}

TEST(Intake, PathsThatDoNotExistAreNamedAndSeveralFoldersAreOneIntake)
{
    TempDir tmp;
    Rig rig;
    tmp.file("Drums/kick.wav");
    tmp.file("Drums/snare.wav");
    tmp.file("Keys/c.wav");
    const auto missing
        = rig.controller.openFiles({tmp.path() + "/Drums", tmp.path() + "/nowhere", tmp.path() + "/Keys"});
    EXPECT_EQ(missing, (std::vector<std::string>{tmp.path() + "/nowhere"}));
    EXPECT_EQ(rig.view.label,
              QString::fromUtf8("\u201c%1/nowhere\u201d does not exist.").arg(QString::fromStdString(tmp.path())));
    EXPECT_EQ(rig.view.title, QString::fromUtf8("Drums + 1 more \u2014 3 sounds \u2014 Auralist"));
    EXPECT_EQ(rig.engine.loads.size(), 1U);
    rig.controller.openFiles({"/no/such/path"});
    EXPECT_EQ(rig.view.label, QString::fromUtf8("\u201c/no/such/path\u201d does not exist."));
}

// An exported list cannot be forged by what a name holds: a cell a
// spreadsheet would run is written as text, a path with a line break is
// left out of an M3U (and counted), and the CSV's path is the file's own
// bytes.
TEST(Export, NamesCannotForgeCellsOrEntries)
{
    Rig rig;
    SoundList list = makeSoundList();
    for (const char *path : {"/s/=HYPERLINK(1).wav", "/s/evil\n/etc/passwd.wav", "/s/-2+3.wav", "/s/caf\xe9.wav"})
        list->append(path);
    rig.controller.setItems(list);
    std::size_t leftOut = 0;
    const std::string m3u = rig.controller.triage().exportedList(TriageFeature::ListFormat::M3u, &leftOut);
    EXPECT_EQ(m3u, "#EXTM3U\n/s/=HYPERLINK(1).wav\n/s/-2+3.wav\n/s/caf\xe9.wav\n");
    EXPECT_EQ(leftOut, 1U);
    const std::string csv = rig.controller.triage().exportedList(TriageFeature::ListFormat::Csv, &leftOut);
    EXPECT_EQ(leftOut, 0U);
    EXPECT_NE(csv.find("\r\n'=HYPERLINK(1).wav,/s/=HYPERLINK(1).wav,"), std::string::npos) << csv;
    EXPECT_NE(csv.find("'-2+3.wav,"), std::string::npos) << csv;
    EXPECT_NE(csv.find(",/s/caf\xe9.wav\r\n"), std::string::npos) << csv;
    EXPECT_NE(csv.find(",\"/s/evil\n/etc/passwd.wav\"\r\n"), std::string::npos) << csv;
}

// A settings file edited by hand, or written by an older version: what
// cannot be read as its type is the setting's default, and what was kept
// reads back as it went in.
TEST(Settings, WhatCannotBeReadIsTheDefault)
{
    FakeSettings kept;
    EXPECT_TRUE(valueOf(kept, settings::kAutoAdvance));
    EXPECT_FALSE(valueOf(kept, settings::kMoveToTrash));
    for (const char *yes : {"true", "1"}) {
        kept.values["moveToTrash"] = yes;
        EXPECT_TRUE(valueOf(kept, settings::kMoveToTrash)) << yes;
    }
    for (const char *no : {"false", "0"}) {
        kept.values["autoAdvance"] = no;
        EXPECT_FALSE(valueOf(kept, settings::kAutoAdvance)) << no;
    }
    kept.values["autoAdvance"] = "\x80\x81";
    kept.values["moveToTrash"] = "yes please";
    EXPECT_TRUE(valueOf(kept, settings::kAutoAdvance));
    EXPECT_FALSE(valueOf(kept, settings::kMoveToTrash));
    kept.values["volume"] = " 40 percent";
    EXPECT_EQ(valueOf(kept, settings::kVolume), 40);
    for (const char *junk : {"loud", "99999999999999999999", ""}) {
        kept.values["volume"] = junk;
        EXPECT_EQ(valueOf(kept, settings::kVolume), 100) << junk;
    }
    for (const char *junk : {"nan", "inf", "-"}) {
        kept.values["loudnessTarget"] = junk;
        EXPECT_EQ(valueOf(kept, settings::kLoudnessTarget), -20.0) << junk;
    }
    EXPECT_FALSE(valueOf(kept, settings::kDestinations));
    keep(kept, settings::kDestinations, "file:///a\n");
    keep(kept, settings::kSortAscending, false);
    keep(kept, settings::kVolume, 35);
    EXPECT_EQ(valueOf(kept, settings::kDestinations), std::optional<std::string>("file:///a\n"));
    EXPECT_EQ(kept.values["sortAscending"], "false");
    EXPECT_FALSE(valueOf(kept, settings::kSortAscending));
    EXPECT_EQ(valueOf(kept, settings::kVolume), 35);
}

// A big list is sorted on the sorter's thread: the rows take the order when
// it comes, the same order a sort made at once gives, with the selection
// on its sound, the whole list behind a find sorted too, and only the last
// of two quick clicks taken.
TEST(Selection, ABigListSortedInTheBackgroundEndsAsASortMadeAtOnce)
{
    Rig rig;
    ListSorter sorter;
    rig.tableController.setSorter(&sorter);
    const std::uint32_t count = TableController::kSortInBackground + 20000;
    SoundList list = makeSoundList();
    std::mt19937 random(11);
    const char *words[] = {"Kick", "snare", "HAT", "crash", "Bass"};
    for (std::uint32_t i = 0; i < count; ++i)
        list->append("/lib/pack " + std::to_string(random() % 400) + "/" + words[random() % 5] + " "
                     + std::to_string(random() % 9000) + ".wav");
    list->store()->setValue(7, "name", "aaa renamed.wav"); // an edited name sorts by its new text
    rig.controller.setItems(list);
    const std::uint32_t chosen = rig.tableController.items()->rows()[1234];
    rig.select(1234);

    const auto expected = [&](const std::vector<std::uint32_t> &rows, bool ascending) {
        SoundList copy = std::make_shared<RecordList>(*rig.tableController.items());
        copy->rows() = rows;
        TableController::sortList(copy, "name", ascending);
        return copy->rows();
    };
    std::vector<std::uint32_t> all = rig.tableController.items()->rows();
    const std::uint64_t before = rig.tableController.mutationCount();
    rig.table.column = 0;
    rig.tableController.tableViewDidClickTableColumn();
    // Nothing moves until the order comes back to this thread; the store
    // may take more sounds meanwhile (their names written beside those
    // being sorted), which end the list as they came.
    EXPECT_EQ(rig.tableController.items()->rows(), all);
    EXPECT_EQ(rig.tableController.sortKey(), "name");
    std::vector<std::uint32_t> added;
    for (int i = 0; i < 3000; ++i)
        added.push_back(rig.tableController.items()->store()->add("/lib/late/aaa late " + std::to_string(i) + ".wav"));
    rig.tableController.items()->rows().insert(rig.tableController.items()->rows().end(), added.begin(), added.end());
    ASSERT_TRUE(spinUntil([&] { return rig.tableController.mutationCount() != before; }));
    std::vector<std::uint32_t> sortedThenAdded = expected(all, true);
    sortedThenAdded.insert(sortedThenAdded.end(), added.begin(), added.end());
    EXPECT_EQ(rig.tableController.items()->rows(), sortedThenAdded);
    EXPECT_EQ(rig.tableController.items()->rows()[0], 7U);
    EXPECT_EQ(rig.tableController.selectedItem().index(), chosen);
    all = rig.tableController.items()->rows();

    // Two clicks before the first lands: descending, as the last asked.
    rig.view.find = "kick 1";
    rig.controller.find();
    const std::vector<std::uint32_t> found = rig.tableController.items()->rows();
    ASSERT_GT(found.size(), 100U);
    ASSERT_LT(found.size(), count);
    const std::uint64_t filtered = rig.tableController.mutationCount();
    rig.tableController.tableViewDidClickTableColumn();
    rig.tableController.tableViewDidClickTableColumn();
    rig.tableController.tableViewDidClickTableColumn();
    ASSERT_TRUE(spinUntil([&] {
        return rig.tableController.mutationCount() != filtered
            && rig.tableController.items()->rows() == expected(found, false);
    }));
    rig.view.find = "";
    rig.controller.find();
    EXPECT_EQ(rig.tableController.items()->rows(), expected(all, false));
}
