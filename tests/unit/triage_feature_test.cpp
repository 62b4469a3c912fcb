#include <gtest/gtest.h>

#include <deque>

#include "core/diagnostics.h"
#include "core/file_jobs.h"
#include "core/setting.h"
#include "core/table_controller.h"
#include "core/triage_feature.h"
#include "core/uri_list.h"
#include "fakes/fake_list.h"
#include "fakes/fakes.h"
#include "platform/posix_file_system.h"
#include "test_support.h"

using namespace auralist;

namespace {

// A file worker that keeps each job until the test answers it.
struct HeldFiles : FileOperations {
    struct Job {
        std::uint64_t id;
        std::vector<FileStep> steps;
        Finished finished;
        Progress progress;
    };
    std::deque<Job> jobs;
    std::vector<std::uint64_t> cancelled;
    std::uint64_t next = 1;
    bool answerAtOnce = false;

    std::uint64_t run(std::vector<FileStep> steps, Finished finished, Progress progress) override
    {
        const std::uint64_t id = next++;
        if (answerAtOnce) {
            finished(std::vector<FileResult>(steps.size()));
            return id;
        }
        jobs.push_back({id, std::move(steps), std::move(finished), std::move(progress)});
        return id;
    }
    void cancel(std::uint64_t job) override { cancelled.push_back(job); }
    // The oldest job ends, each step as made says (empty: refused).
    void answer(const std::vector<std::string> &made)
    {
        Job job = std::move(jobs.front());
        jobs.pop_front();
        std::vector<FileResult> results;
        for (const std::string &m : made) {
            FileResult r;
            r.status = m.empty() ? FileResult::Status::Refused : FileResult::Status::Done;
            r.made = m;
            r.error = m.empty() ? "No room." : "";
            results.push_back(r);
        }
        job.finished(std::move(results));
    }
};

struct TriageView : fakes::FakeView {
    void setStatusText(const QString &t) override { status = t; }
    void setUndoTitles(const QString &u, const QString &r) override
    {
        undo = u;
        redo = r;
    }
    void showFileProgress(const QString &t) override { progress = t; }
    void hideFileProgress() override { progress.clear(); }
    std::optional<std::vector<std::string>> askForDestinations(const std::vector<std::string> &) override
    {
        return chosen;
    }
    void showRegion(double start, double end) override { region = {start, end}; }
    QString status, undo, redo, progress;
    std::optional<std::vector<std::string>> chosen;
    std::pair<double, double> region{0, 0};
};

struct Rig {
    auralist::testing::CapturedOutput out;
    Diagnostics diagnostics{out.file()};
    TableController table{diagnostics};
    fakes::FakeTableView tableView;
    TriageView view;
    fakes::FakeSettings settings;
    fakes::FakeDesktop desktop;
    fakes::FakeAlerts alerts;
    PosixFileSystem fs;
    HeldFiles files;
    FileJobs jobs{&files, view, alerts};
    fakes::FakeList list{table};
    TriageFeature triage{{fs, desktop, settings, jobs, nullptr}, list, table, view};
    RecordStorePtr store = std::make_shared<RecordStore>();

    Rig()
    {
        table.setTableView(&tableView);
        auto list = std::make_shared<RecordList>(store);
        for (const char *path : {"/s/kick.wav", "/s/snare.wav", "/s/hat.wav"})
            list->append(path);
        table.setItems(list);
    }
    SoundRecord row(int n) const { return (*table.items())[static_cast<std::size_t>(n)]; }
};

} // namespace

// Destinations: nine at most, none twice, none empty, kept in the settings;
// a number without a destination is said; a move runs one step a sound,
// names each record's new place, is said in the status line and can be
// undone; a refused step is told once the job is done.
TEST(TriageFeature, DestinationsCopiesMovesAndTheirUndo)
{
    Rig rig;
    std::vector<std::string> many{"/d/Kicks", "", "/d/Kicks"};
    for (int i = 0; i < 10; ++i)
        many.push_back("/d/f" + std::to_string(i));
    rig.view.chosen = many;
    rig.triage.editDestinations();
    const auto kept = rig.triage.destinations();
    ASSERT_EQ(kept.size(), TriageFeature::kMostDestinations);
    EXPECT_EQ(kept.front(), "/d/Kicks");
    EXPECT_EQ(kept[1], "/d/f0");
    EXPECT_GT(rig.settings.syncs, 0);
    EXPECT_EQ(pathsFromUriList(*valueOf(rig.settings, settings::kDestinations)), kept);

    rig.triage.setDestinations({"/d/Kicks"});
    rig.triage.copyToDestination(4);
    EXPECT_TRUE(rig.view.status.startsWith(QStringLiteral("No destination 5")));
    EXPECT_TRUE(rig.files.jobs.empty());

    rig.tableView.setSelectedRows({0, 2}, 0);
    rig.triage.moveToDestination(0);
    ASSERT_EQ(rig.files.jobs.size(), 1U);
    const auto &steps = rig.files.jobs.front().steps;
    ASSERT_EQ(steps.size(), 2U);
    EXPECT_EQ(steps[0].kind, FileStep::Kind::MoveInto);
    EXPECT_EQ(steps[0].path, "/s/kick.wav");
    EXPECT_EQ(steps[1].target, "/d/Kicks");
    EXPECT_TRUE(rig.jobs.running());
    rig.files.answer({"/d/Kicks/kick.wav", ""});
    EXPECT_FALSE(rig.jobs.running());
    EXPECT_EQ(rig.row(0).path(), "/d/Kicks/kick.wav");
    EXPECT_EQ(rig.row(2).path(), "/s/hat.wav");
    EXPECT_EQ(rig.view.status, QStringLiteral("Moved 1 sound to Kicks"));
    EXPECT_EQ(rig.view.undo, QStringLiteral("Undo Move"));
    ASSERT_EQ(rig.alerts.shown.size(), 1U);
    EXPECT_EQ(rig.alerts.shown.front().message, "No room.");

    // Undo moves the one moved back, through the worker.
    rig.triage.undo();
    ASSERT_EQ(rig.files.jobs.size(), 1U);
    EXPECT_EQ(rig.files.jobs.front().steps.front().path, "/d/Kicks/kick.wav");
    rig.files.answer({"/s/kick.wav"});
    EXPECT_EQ(rig.row(0).path(), "/s/kick.wav");
    EXPECT_EQ(rig.view.redo, QStringLiteral("Redo Move"));
}

// Stop reaches the job under way; a worker that answers at once leaves
// nothing under way.
TEST(TriageFeature, StopAndAWorkerThatAnswersAtOnce)
{
    Rig rig;
    rig.triage.setDestinations({"/d/Kicks"});
    rig.tableView.setSelectedRows({1}, 1);
    rig.triage.copyToDestination(0);
    rig.jobs.cancel();
    EXPECT_EQ(rig.files.cancelled, std::vector<std::uint64_t>{1});
    rig.files.answer({""});
    rig.files.answerAtOnce = true;
    rig.triage.copyToDestination(0);
    EXPECT_FALSE(rig.jobs.running());
    rig.jobs.cancel();
    EXPECT_EQ(rig.files.cancelled.size(), 1U);
}

// A region belongs to the sound heard: it plays on it, goes when another
// sound is shown or loaded, comes back on the same one, and Export Region
// wants a region and a destination.
TEST(TriageFeature, RegionsBelongToTheSoundHeard)
{
    Rig rig;
    HeaderFacts facts;
    facts.rate = 1000;
    facts.frames = 5000;
    facts.state = HeaderFacts::State::Read;
    rig.store->setFacts(0, facts);
    rig.triage.exportRegionToDestination();
    EXPECT_TRUE(rig.view.status.startsWith(QStringLiteral("Select a region first")));

    auto sound = std::make_shared<fakes::FakeSound>("/s/kick.wav");
    sound->playing = true;
    rig.list.sound = sound;
    rig.list.heard = rig.row(0);
    rig.triage.setRegion(3.0, 1.0);
    ASSERT_TRUE(rig.triage.region().has_value());
    EXPECT_EQ(*rig.triage.region(), std::make_pair(1.0, 3.0));
    EXPECT_EQ(sound->region, std::make_pair(1.0, 3.0));
    EXPECT_EQ(sound->startedAt, 1.0);
    EXPECT_EQ(rig.view.region, std::make_pair(1.0, 3.0));

    rig.triage.exportRegionToDestination();
    EXPECT_TRUE(rig.view.status.startsWith(QStringLiteral("No destination")));

    auto again = std::make_shared<fakes::FakeSound>("/s/kick.wav");
    rig.triage.soundLoaded(rig.row(0), *again);
    EXPECT_EQ(again->region, std::make_pair(1.0, 3.0));
    rig.triage.soundShown(rig.row(0));
    EXPECT_TRUE(rig.triage.region().has_value());

    rig.list.seconds = 2.5;
    rig.triage.soundShown(rig.row(1));
    EXPECT_FALSE(rig.triage.region().has_value());
    EXPECT_EQ(sound->region, std::make_pair(0.0, 0.0));
    EXPECT_EQ(sound->startedAt, 2.5);
    EXPECT_EQ(rig.view.region, std::make_pair(0.0, 0.0));

    // Too short to hold a frame: no region.
    rig.triage.setRegion(1.0, 1.0005);
    EXPECT_FALSE(rig.triage.region().has_value());
}
