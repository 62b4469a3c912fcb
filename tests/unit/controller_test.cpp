#include <gtest/gtest.h>

#include <QCoreApplication>

#include <algorithm>
#include <filesystem>
#include <set>
#include <sys/xattr.h>
#include <thread>
#include <unistd.h>

#include "browser_rig.h"
#include "core/controller.h"
#include "core/diagnostics.h"
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
    Rig rig;
    rig.out.take();
    rig.controller.droppedFilesInWell({tmp.path() + "/drop"});
    EXPECT_EQ(rig.names(), (std::vector<std::string>{"Kick"}));
    EXPECT_NE(rig.out.take().find("format: AIFF\n"), std::string::npos);
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

TEST(Playback, StateMachineFollowsTheRows)
{
    TempDir tmp;
    Rig rig;
    dropNames(rig, tmp, {"a.wav", "b.wav", "c.wav"});
    rig.out.take();
    Controller &c = rig.controller;
    EXPECT_EQ(rig.view.trackName, "a.wav");

    // Completion advances; the last track ending halts with play mode on.
    rig.engine.finishLast();
    EXPECT_EQ(c.state().currentTrack, 1);
    EXPECT_EQ(rig.view.trackName, "b.wav");
    c.next();
    rig.engine.finishLast();
    EXPECT_EQ(c.state().currentTrack, 2);
    EXPECT_EQ(c.state().sound, nullptr);
    EXPECT_TRUE(c.state().playModeOn);
    EXPECT_EQ(rig.out.take(), "done\ndone\n");

    // Space: plays when not playing, stops when playing.
    c.keyDown(kSpaceBarKey);
    EXPECT_TRUE(c.state().sound && c.state().sound->isPlaying());
    c.keyDown(kSpaceBarKey);
    EXPECT_FALSE(c.state().playModeOn);
    EXPECT_EQ(rig.out.take(), "keycode = 32\nkeycode = 32\n");

    // With play mode off, next/previous move only the selection.
    const size_t loads = rig.engine.loads.size();
    c.previous();
    EXPECT_EQ(c.state().currentTrack, 1);
    EXPECT_EQ(rig.table.current, 1);
    EXPECT_EQ(rig.engine.loads.size(), loads);
    c.home();
    EXPECT_EQ(c.state().currentTrack, 0);
    c.previous(); // before the first row: silence, no wrap
    EXPECT_EQ(c.state().currentTrack, 0);
    EXPECT_EQ(c.state().sound, nullptr);
    c.end();
    EXPECT_EQ(c.state().currentTrack, 2);

    // Looping repeats the current index; a stale report moves nothing.
    c.toggleLooping();
    EXPECT_EQ(rig.view.loopLabel, "Loop:");
    auto playing = rig.engine.last;
    rig.engine.finishLast();
    EXPECT_EQ(c.state().currentTrack, 2);
    EXPECT_NE(rig.engine.last, playing);
    playing->delegate->soundDidFinishPlaying(playing, true);
    EXPECT_EQ(c.state().currentTrack, 2);
    c.toggleLooping();
    EXPECT_EQ(rig.view.loopLabel, "Track:");
    rig.engine.finishLast(false); // stopped, not finished: halted
    EXPECT_EQ(c.state().currentTrack, 2);

    // A file that fails to load shows its name and says so.
    rig.out.take();
    rig.engine.unloadable.emplace((*c.state().items)[0].path());
    c.home();
    EXPECT_EQ(rig.view.trackName, "a.wav");
    EXPECT_EQ(c.state().sound, nullptr);
    EXPECT_EQ(rig.out.take(), "unable to load sound " + std::string((*c.state().items)[0].path()) + "\n");
}

TEST(Playback, CurrentTrackOutsideTheRowsStopsInsteadOfReading)
{
    TempDir tmp;
    Rig rig;
    dropNames(rig, tmp, {"a1.wav", "a2.wav", "b.wav"});
    Controller &c = rig.controller;
    c.end();
    ASSERT_EQ(c.state().currentTrack, 2);
    rig.view.find = "a"; // two rows now; currentTrack 2 is past the end
    rig.controller.find();
    EXPECT_TRUE(c.state().sound->isPlaying()); // the filter does not touch playback
    rig.engine.finishLast(); // advancing from 2 stays in bounds
    EXPECT_EQ(c.state().sound, nullptr);
    c.setCurrentTrack(5);
    c.play();
    EXPECT_EQ(c.state().sound, nullptr);
    c.toggleLooping();
    c.setCurrentTrack(-1);
    rig.table.rows.clear();
    rig.table.current = -1;
    c.doubleClick(rig.tableController); // no selection: -1
    EXPECT_EQ(c.state().sound, nullptr);
    c.previous();
    EXPECT_EQ(c.state().sound, nullptr);
}

TEST(Delete, RemovesExactlyTheConfirmedFile)
{
    TempDir tmp;
    Rig rig;
    const auto paths = dropNames(rig, tmp, {"a.wav", "b.wav", "c.wav", "d.wav", "e.wav"});
    Controller &c = rig.controller;
    rig.select(2);
    c.deleteSelected();
    EXPECT_EQ(rig.view.panelMessage, "Are you sure you want to delete c.wav?");
    EXPECT_FALSE(c.state().playModeOn);
    c.cancelDelete();
    EXPECT_TRUE(std::filesystem::exists(paths[2]));
    EXPECT_EQ(rig.names().size(), 5U);
    EXPECT_TRUE(c.state().playModeOn);

    c.deleteSelected();
    c.approveDelete();
    EXPECT_FALSE(std::filesystem::exists(paths[2]));
    EXPECT_EQ(rig.names(), (std::vector<std::string>{"a.wav", "b.wav", "d.wav", "e.wav"}));
    EXPECT_EQ(rig.view.trackName, "d.wav"); // the record that moved up plays
    EXPECT_EQ(rig.desktop.changed, (std::vector<std::string>{paths[2]}));
    for (size_t i : {0U, 1U, 3U, 4U})
        EXPECT_TRUE(std::filesystem::exists(paths[i]));

    // Several rows selected: the question names how many and which, and
    // exactly those files go.
    rig.table.rows = {0, 1};
    rig.table.current = 1;
    c.deleteSelected();
    EXPECT_EQ(rig.view.panelMessage, "Are you sure you want to delete these 2 sounds?");
    EXPECT_TRUE(rig.view.panelDetail.startsWith("a.wav\nb.wav\n\n"));
    c.approveDelete();
    EXPECT_EQ(rig.names(), (std::vector<std::string>{"d.wav", "e.wav"}));
    EXPECT_FALSE(std::filesystem::exists(paths[0]));
    EXPECT_FALSE(std::filesystem::exists(paths[1]));
    EXPECT_TRUE(std::filesystem::exists(paths[3]));
    EXPECT_TRUE(rig.view.title.contains(QStringLiteral(" 2 sounds "))) << rig.view.title.toStdString();

    // While filtered, the record leaves the sound list too.
    rig.view.find = "e";
    c.find();
    rig.select(0);
    c.deleteSelected();
    c.approveDelete();
    rig.view.find = "";
    c.find();
    EXPECT_EQ(rig.names(), (std::vector<std::string>{"d.wav"}));

    // Deleting the last row leaves currentTrack past the end: no crash.
    rig.select(0);
    c.deleteSelected();
    c.approveDelete();
    EXPECT_TRUE(rig.names().empty());
    EXPECT_EQ(c.state().sound, nullptr);
}

TEST(Delete, FoldersLinksAndReplacedFilesAreSafe)
{
    TempDir tmp;
    Rig rig;
    const std::string folder = tmp.dir("drop/Loops.wav");
    tmp.file("drop/Loops.wav/inner.wav");
    const std::string target = tmp.file("target.txt", "keep");
    std::filesystem::create_symlink(target, tmp.path() + "/drop/link.wav");
    const std::string swapped = tmp.file("drop/swap.wav", "original");
    rig.controller.droppedFilesInWell({folder, tmp.path() + "/drop/link.wav", swapped});
    ASSERT_EQ(rig.names(), (std::vector<std::string>{"inner.wav", "link.wav", "swap.wav"}));

    // A folder record from inside a scan: never removed, user told.
    rig.controller.droppedFilesInWell({tmp.path() + "/drop"});
    int folderRow = -1;
    for (size_t i = 0; i < rig.controller.state().items->size(); ++i)
        if ((*rig.controller.state().items)[i].path() == folder)
            folderRow = static_cast<int>(i);
    ASSERT_GE(folderRow, 0);
    rig.select(folderRow);
    rig.controller.deleteSelected();
    rig.controller.approveDelete();
    EXPECT_TRUE(std::filesystem::exists(folder + "/inner.wav"));
    ASSERT_EQ(rig.alerts.shown.size(), 1U);
    EXPECT_NE(rig.alerts.shown[0].message.find("Folders are not deleted"), std::string::npos);

    auto rowOf = [&](const std::string &name) {
        const auto n = rig.names();
        return static_cast<int>(std::find(n.begin(), n.end(), name) - n.begin());
    };
    // A link goes, its target stays.
    rig.select(rowOf("link.wav"));
    rig.controller.deleteSelected();
    rig.controller.approveDelete();
    EXPECT_FALSE(std::filesystem::is_symlink(tmp.path() + "/drop/link.wav"));
    EXPECT_TRUE(std::filesystem::exists(target));

    // Replaced between question and answer: nothing removed, user told.
    rig.select(rowOf("swap.wav"));
    rig.controller.deleteSelected();
    // Made before the original goes, so it cannot get the original's inode.
    const std::string other = tmp.file("drop/other.tmp", "another file");
    std::filesystem::rename(other, swapped);
    rig.controller.approveDelete();
    EXPECT_TRUE(std::filesystem::exists(swapped));
    EXPECT_NE(rig.alerts.shown.back().message.find("not deleted"), std::string::npos);
    EXPECT_NE(rowOf("swap.wav"), static_cast<int>(rig.names().size()));
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

// /sounds/s0.wav to /sounds/s11999.wav.
SoundList twelveThousandSounds()
{
    SoundList list = makeSoundList();
    for (int i = 0; i < 12000; ++i)
        list->append("/sounds/s" + std::to_string(i) + ".wav");
    return list;
}

} // namespace

TEST(Playback, ARowPastTheSelectionLimitStillBecomesTheCurrentTrack)
{
    Rig rig;
    rig.controller.setItems(twelveThousandSounds());
    Controller &c = rig.controller;
    rig.out.take();
    rig.select(11000);
    EXPECT_EQ(c.state().currentTrack, 11000);
    // The limit's line is printed as before; the row is not lost.
    EXPECT_NE(rig.out.take().find(">>>>>>>>>>>>>TableConroller selectedItems row:11000!!!\n"), std::string::npos);
    c.keyDown(kSpaceBarKey);
    ASSERT_FALSE(rig.engine.loads.empty());
    EXPECT_EQ(rig.engine.loads.back(), "/sounds/s11000.wav");

    rig.select(10500);
    rig.table.doubleAction = nullptr;
    c.doubleClick(rig.tableController);
    EXPECT_EQ(rig.engine.loads.back(), "/sounds/s10500.wav");
    c.deleteSelected();
    EXPECT_EQ(rig.view.panelMessage, "Are you sure you want to delete s10500.wav?");
    c.cancelDelete();
}

// Every action on a selection acts on all of it, however far down it
// reaches; the limit's line belongs to the selection's change alone.
TEST(Playback, ActionsOnASelectionOfTwelveThousandTakeEveryRow)
{
    Rig rig;
    rig.controller.setItems(twelveThousandSounds());
    Controller &c = rig.controller;
    std::vector<int> all(12000);
    for (int i = 0; i < 12000; ++i)
        all[static_cast<size_t>(i)] = i;
    rig.table.setSelectedRows(all, 0);
    rig.out.take();

    c.library().toggleFavourite();
    int marked = 0;
    for (const SoundRecord &r : *rig.tableController.items())
        marked += r.store()->favourite(r.index()) ? 1 : 0;
    EXPECT_EQ(marked, 12000);
    c.triage().copyPaths();
    ASSERT_EQ(rig.desktop.copied.size(), 12000U);
    EXPECT_EQ(rig.desktop.copied.back(), "/sounds/s11999.wav");
    c.triage().showInFolder();
    EXPECT_EQ(rig.desktop.shown.size(), 12000U);
    c.deleteSelected();
    EXPECT_EQ(rig.view.panelMessage, "Are you sure you want to delete these 12000 sounds?");
    c.cancelDelete();
    EXPECT_EQ(rig.out.take().find("selectedItems row:"), std::string::npos);
}

// A find that leaves out the current sound while nothing plays: the
// window names and draws the sound now current, not the one gone.
TEST(Playback, AFindThatLeavesOutTheCurrentSoundMovesTheLabelAndWaveform)
{
    Rig rig;
    SoundList list = makeSoundList();
    for (const char *name : {"/s/kick.wav", "/s/snare.wav", "/s/hat.wav"})
        list->append(name);
    rig.controller.setItems(list);
    rig.view.trackName = "kick.wav";
    rig.select(0);
    EXPECT_EQ(rig.view.waveform, "/s/kick.wav");
    rig.view.find = "hat";
    rig.controller.find();
    EXPECT_EQ(rig.view.trackName, "hat.wav");
    EXPECT_EQ(rig.view.waveform, "/s/hat.wav");
    // A find that keeps it changes nothing.
    rig.view.find = "a";
    rig.controller.find();
    EXPECT_EQ(rig.view.trackName, "hat.wav");
}

TEST(Delete, AFileListedTwiceLeavesNoGhostAndTheSheetSaysWhereItGoes)
{
    TempDir tmp;
    const std::string a = tmp.file("drop/a.wav");
    tmp.file("drop/b.wav");
    Rig rig;
    Controller &c = rig.controller;
    // The folder and a file inside it: the file has two equal records.
    rig.controller.droppedFilesInWell({tmp.path() + "/drop", a});
    ASSERT_EQ(rig.names(), (std::vector<std::string>{"a.wav", "b.wav", "a.wav"}));
    rig.select(2);
    c.deleteSelected();
    EXPECT_EQ(rig.view.panelDetail, "The file is removed from the disk. This cannot be undone.");
    c.approveDelete();
    EXPECT_FALSE(std::filesystem::exists(a));
    EXPECT_EQ(rig.names(), (std::vector<std::string>{"b.wav"}));

    // While filtered: gone from the rows, the match list and the sound list.
    const std::string e = tmp.file("e.wav");
    rig.controller.droppedFilesInWell({e, tmp.path() + "/drop", e});
    rig.view.find = "e";
    c.find();
    ASSERT_EQ(rig.names(), (std::vector<std::string>{"e.wav", "e.wav"}));
    c.options().setMoveToTrash(true);
    rig.select(1);
    c.deleteSelected();
    EXPECT_EQ(rig.view.panelDetail, "The file is moved to the Trash.");
    c.approveDelete();
    EXPECT_TRUE(rig.names().empty());
    EXPECT_TRUE(c.state().matches->empty());
    rig.view.find = "";
    c.find();
    EXPECT_EQ(rig.names(), (std::vector<std::string>{"b.wav"}));
}

TEST(Playback, SoundsThatCannotPlayAreMarkedAndCanBeSkipped)
{
    TempDir tmp;
    Rig rig;
    Controller &c = rig.controller;
    rig.engine.unloadable = {tmp.path() + "/b.wav", tmp.path() + "/c.wav"};
    const auto paths = dropNames(rig, tmp, {"a.wav", "b.wav", "c.wav", "d.wav"});
    const QModelIndex b = rig.tableController.index(1, 0);
    EXPECT_EQ(b.data(TableController::StatusRole).toInt(), 0);

    // As before: the run stops at the file that cannot be loaded, play
    // mode stays on; now the row says so, with the reason.
    rig.engine.finishLast();
    EXPECT_EQ(rig.engine.loads.back(), paths[1]);
    EXPECT_TRUE(c.state().playModeOn);
    EXPECT_EQ(c.state().sound, nullptr);
    EXPECT_EQ(b.data(TableController::StatusRole).toInt(), int(TableController::RowStatus::Unplayable));
    EXPECT_EQ(b.data(Qt::ToolTipRole).toString(), "Cannot play: File contains data in an unknown format.");
    EXPECT_EQ(rig.tableController.index(0, 0).data(TableController::StatusRole).toInt(), 0);

    // Skipping on: both bad rows are passed over, once each.
    c.options().setSkipUnplayable(true);
    EXPECT_EQ(rig.settings.values["skipUnplayable"], "true");
    rig.select(0);
    c.play();
    rig.engine.loads.clear();
    rig.engine.finishLast();
    EXPECT_EQ(rig.engine.loads, (std::vector<std::string>{paths[1], paths[2], paths[3]}));
    EXPECT_EQ(c.state().currentTrack, 3);
    EXPECT_EQ(rig.table.current, 3);

    // Nothing loads: one pass, then the run ends.
    rig.engine.unloadable.insert(paths.begin(), paths.end());
    rig.engine.loads.clear();
    c.home();
    EXPECT_EQ(rig.engine.loads, paths);
    EXPECT_EQ(c.state().sound, nullptr);
    // A new list forgets the marks.
    rig.engine.unloadable.clear();
    rig.controller.droppedFilesInWell({tmp.file("e.wav"), paths[1]});
    EXPECT_EQ(rig.tableController.index(1, 0).data(TableController::StatusRole).toInt(), 0);
}

TEST(Playback, LoopsPlayOnSelectSeekVolumeAndTheTimeShown)
{
    TempDir tmp;
    Rig rig;
    Controller &c = rig.controller;
    EXPECT_EQ(rig.engine.volume, 1.0); // awake applied the stored level
    const auto paths = dropNames(rig, tmp, {"a.wav", "b.wav", "c.wav"});
    auto a = rig.engine.last;
    const QModelIndex row0 = rig.tableController.index(0, 0);
    EXPECT_EQ(row0.data(TableController::StatusRole).toInt(), int(TableController::RowStatus::Playing));

    // Looping: the sound is told; a pass that ends while it goes on prints
    // "done" and loads nothing again.
    c.toggleLooping();
    EXPECT_TRUE(a->looping);
    a->delegate->soundDidFinishPlaying(a, true);
    EXPECT_EQ(rig.engine.loads.size(), 1U);
    EXPECT_NE(rig.out.take().find("done\n"), std::string::npos);
    c.toggleLooping();
    EXPECT_FALSE(a->looping);

    // Where the listener is, and seeking from there.
    a->delegate->soundPositionChanged(a, 3.25, 7.5);
    EXPECT_EQ(rig.view.timeText, "0:03.2 / 0:07.5");
    a->delegate->soundPositionChanged(a, 62.0, 125.05);
    EXPECT_EQ(rig.view.timeText, "1:02.0 / 2:05.0");
    c.seekBy(1.0);
    c.seekBy(-70.0);
    EXPECT_EQ(a->seeks, (std::vector<double>{63.0, 0.0}));
    c.stop();
    EXPECT_EQ(rig.view.timeText, "");
    EXPECT_EQ(row0.data(TableController::StatusRole).toInt(), 0);

    // Off by default: selecting a row does not play it; on, it does.
    rig.select(1);
    EXPECT_EQ(rig.engine.loads.size(), 1U);
    c.options().setPlayOnSelect(true);
    EXPECT_EQ(rig.settings.values["playOnSelect"], "true");
    rig.select(2);
    EXPECT_EQ(rig.engine.loads.back(), paths[2]);
    EXPECT_TRUE(c.state().playModeOn);
    // The controller's own selecting (next) plays once, not twice.
    c.home();
    const size_t loads = rig.engine.loads.size();
    c.next();
    EXPECT_EQ(rig.engine.loads.size(), loads + 1);

    c.options().setVolume(140);
    EXPECT_EQ(rig.engine.volume, 1.0);
    c.options().setVolume(35);
    EXPECT_EQ(rig.engine.volume, 0.35);
    EXPECT_EQ(c.options().volume(), 35);
    rig.settings.values["volume"] = "loud";
    EXPECT_EQ(c.options().volume(), 100);
}

TEST(Playback, AFileFoundUnplayableAfterPlayIsMarkedAndSkipped)
{
    // An engine that opens files on its own thread finds out after play().
    TempDir tmp;
    Rig rig;
    Controller &c = rig.controller;
    c.options().setSkipUnplayable(true);
    const auto paths = dropNames(rig, tmp, {"a.wav", "b.wav"});
    auto a = rig.engine.last;
    rig.out.take();
    a->delegate->soundDidFailToLoad(a, "Format not recognised.");
    EXPECT_EQ(rig.out.take(), "unable to load sound " + paths[0] + "\n");
    EXPECT_EQ(rig.tableController.index(0, 0).data(Qt::ToolTipRole).toString(), "Cannot play: Format not recognised.");
    EXPECT_EQ(rig.engine.loads.back(), paths[1]);
    EXPECT_EQ(c.state().currentTrack, 1);
    // A report about a sound that is no longer current changes nothing.
    a->delegate->soundDidFailToLoad(a, "late");
    EXPECT_EQ(rig.engine.loads.size(), 2U);
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

TEST(Playback, WithoutContinuingEachSoundPlaysOnceAndTheSelectionStays)
{
    TempDir tmp;
    Rig rig;
    Controller &c = rig.controller;
    EXPECT_TRUE(c.options().autoAdvance()); // the default
    c.options().setAutoAdvance(false);
    EXPECT_EQ(rig.settings.value("autoAdvance"), "false");
    dropNames(rig, tmp, {"a.wav", "b.wav"});
    ASSERT_EQ(rig.view.trackName, "a.wav");
    // Nothing is lined up to follow, and the end stops there.
    EXPECT_TRUE(rig.engine.prepared.back().empty());
    const size_t loads = rig.engine.loads.size();
    rig.engine.finishLast();
    EXPECT_EQ(rig.engine.loads.size(), loads);
    EXPECT_EQ(c.state().currentTrack, 0);
    EXPECT_EQ(rig.table.rows, (std::set<int>{0}));
    // Space plays it again; Next plays the next one.
    c.keyDown(kSpaceBarKey);
    EXPECT_EQ(rig.engine.loads.size(), loads + 1);
    c.next();
    EXPECT_EQ(rig.view.trackName, "b.wav");
    // Turned back on, what follows is lined up again.
    c.options().setAutoAdvance(true);
    c.previous();
    EXPECT_EQ(std::filesystem::path(rig.engine.prepared.back()).filename(), "b.wav");
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

TEST(Delete, EachSoundOfSeveralIsCheckedAndEachRefusalIsReported)
{
    TempDir tmp;
    Rig rig;
    const auto paths = dropNames(rig, tmp, {"a.wav", "b.wav", "c.wav"});
    Controller &c = rig.controller;
    rig.table.rows = {0, 1, 2};
    rig.table.current = 0;
    c.deleteSelected();
    // b.wav is replaced after the question: it stays, and so does the
    // new file; a refusal to remove c.wav is told too, in one alert.
    const std::string other = tmp.file("other.wav");
    std::filesystem::rename(other, paths[1]);
    c.approveDelete();
    EXPECT_FALSE(std::filesystem::exists(paths[0]));
    EXPECT_TRUE(std::filesystem::exists(paths[1]));
    EXPECT_FALSE(std::filesystem::exists(paths[2]));
    ASSERT_EQ(rig.alerts.shown.size(), 1U);
    EXPECT_NE(rig.alerts.shown[0].message.find("b.wav\xe2\x80\x9d was not deleted"), std::string::npos);
    EXPECT_EQ(rig.names(), (std::vector<std::string>{"b.wav"}));

    TempDir more;
    dropNames(rig, more, {"x.wav", "y.wav"});
    rig.table.rows = {0, 1};
    c.deleteSelected();
    rig.fs.failRemovals = true;
    c.approveDelete();
    ASSERT_EQ(rig.alerts.shown.size(), 2U);
    const std::string &both = rig.alerts.shown[1].message;
    EXPECT_NE(both.find("x.wav\xe2\x80\x9d could not be deleted: Read-only file system\n"), std::string::npos);
    EXPECT_NE(both.find("y.wav\xe2\x80\x9d could not be deleted"), std::string::npos);
    EXPECT_EQ(rig.names().size(), 2U);
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
