#include <gtest/gtest.h>

#include <QCoreApplication>

#include <algorithm>
#include <filesystem>
#include <set>
#include <thread>
#include <unistd.h>

#include "browser_rig.h"
#include "core/controller.h"
#include "core/diagnostics.h"
#include "core/setting.h"
#include "core/table_controller.h"
#include "fakes/fakes.h"
#include "test_support.h"

using namespace auralist;
using namespace auralist::fakes;
using auralist::testing::CapturedOutput;
using auralist::testing::dropNames;
using auralist::testing::Rig;
using auralist::testing::spinUntil;
using auralist::testing::TempDir;

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
