#include <gtest/gtest.h>

#include "core/diagnostics.h"
#include "core/file_jobs.h"
#include "core/library_feature.h"
#include "core/setting.h"
#include "core/table_controller.h"
#include "core/triage_feature.h"
#include "fakes/fake_catalogue.h"
#include "fakes/fake_list.h"
#include "fakes/fakes.h"
#include "platform/posix_file_system.h"
#include "test_support.h"

using namespace auralist;

namespace {

struct PaneView : fakes::FakeView {
    std::optional<QString> askForTags(const QString &current, int count) override
    {
        tagsShown = current;
        tagsCount = count;
        return tagsAnswer;
    }
    std::optional<QString> askForSearchName(const QString &, bool) override { return searchName; }
    void setFindHint(const QString &t) override { hint = t; }
    void setLibrarySelection(std::optional<Catalogue::ListKind> kind, const std::string &folder) override
    {
        selection = {kind, folder};
    }
    QString tagsShown, hint;
    int tagsCount = 0;
    std::optional<QString> tagsAnswer, searchName;
    std::pair<std::optional<Catalogue::ListKind>, std::string> selection;
};

struct Rig {
    auralist::testing::CapturedOutput out;
    Diagnostics diagnostics{out.file()};
    TableController table{diagnostics};
    fakes::FakeTableView tableView;
    PaneView view;
    fakes::FakeSettings settings;
    fakes::FakeDesktop desktop;
    fakes::FakeAlerts alerts;
    fakes::FakeEngine engine;
    fakes::FakeCatalogue catalogue;
    PosixFileSystem fs;
    FileJobs jobs{nullptr, view, alerts};
    fakes::FakeList list{table};
    TriageFeature triage{{fs, desktop, settings, jobs, &catalogue}, list, table, view};
    LibraryFeature library{{fs, settings, alerts, engine, &catalogue}, list, table, view, triage};

    Rig() { table.setTableView(&tableView); }

    // The catalogue answers the latest list asked for with paths.
    RecordStorePtr answer(const std::vector<std::string> &paths)
    {
        auto store = std::make_shared<RecordStore>();
        for (const std::string &p : paths)
            store->add(p);
        const std::uint64_t request = std::get<0>(catalogue.lists.back());
        catalogue.tell([&](Catalogue::Listener &l) { l.catalogueListArrived(request, store); });
        return store;
    }
};

} // namespace

// A list asked for stops the intake and comes back named; one overtaken by
// an intake is not shown; the list shown at the last quit is asked for
// again at the start with the sound then current; a folder shown is then
// checked against the disk.
TEST(LibraryFeature, ListsAskedShownAndReopened)
{
    Rig rig;
    rig.library.showList(Catalogue::ListKind::Favourites, "/ignored");
    EXPECT_EQ(rig.list.intakesStopped, 1);
    ASSERT_EQ(rig.catalogue.lists.size(), 1U);
    EXPECT_EQ(std::get<2>(rig.catalogue.lists.back()), "");
    EXPECT_EQ(valueOf(rig.settings, settings::kLastShownList), "favourites");
    rig.answer({"/s/b.wav", "/s/a.wav"});
    EXPECT_EQ(rig.list.shownName, "Favourites");
    EXPECT_FALSE(rig.list.shownCurrent.has_value());
    EXPECT_EQ(rig.view.selection.first, Catalogue::ListKind::Favourites);

    // An intake begun after the request: the answer comes too late.
    rig.library.showList(Catalogue::ListKind::RecentlyPlayed, {});
    rig.library.intakeBegins({"/drums"});
    rig.answer({"/s/c.wav"});
    EXPECT_EQ(rig.list.shownName, "Favourites");
    EXPECT_EQ(valueOf(rig.settings, settings::kLastShown), "/drums");
    EXPECT_EQ(valueOf(rig.settings, settings::kLastShownList), "folder");
    rig.library.intakeTaken(std::make_shared<RecordStore>());
    EXPECT_EQ(rig.catalogue.intakes, std::vector<std::vector<std::string>>{{"/drums"}});
    EXPECT_EQ(rig.view.selection.first, Catalogue::ListKind::Folder);

    // The next start reopens /drums on the sound current at the quit, and
    // checks it (it is there: the root folder stands in for it).
    keep(rig.settings, settings::kLastShown, "/");
    keep(rig.settings, settings::kLastSound, "/b.wav");
    rig.library.reopenLast();
    EXPECT_EQ(std::get<1>(rig.catalogue.lists.back()), Catalogue::ListKind::Folder);
    rig.answer({"/a.wav", "/b.wav"});
    EXPECT_EQ(rig.list.shownCurrent, "/b.wav");
    ASSERT_EQ(rig.catalogue.checks.size(), 1U);
    EXPECT_EQ(rig.catalogue.checks.front().second, "/");

    // Playing the same sound twice is noted once.
    const SoundRecord b = (*rig.table.items())[1];
    rig.library.played(b);
    rig.library.played(b);
    EXPECT_EQ(rig.catalogue.played, std::vector<std::string>{"/b.wav"});
}

// Favourites and tags go on every selected sound (all on unless all are,
// tags trimmed and each once), reach the catalogue and can be undone; saved
// searches want a query first.
TEST(LibraryFeature, MarksAndSavedSearches)
{
    Rig rig;
    rig.library.showList(Catalogue::ListKind::AllSounds, {});
    rig.answer({"/s/a.wav", "/s/b.wav", "/s/c.wav"});
    rig.tableView.setSelectedRows({0, 2}, 0);
    rig.library.toggleFavourite();
    ASSERT_EQ(rig.catalogue.favourites.size(), 1U);
    EXPECT_TRUE(rig.catalogue.favourites.back().second);
    EXPECT_EQ(rig.catalogue.favourites.back().first.size(), 2U);
    rig.library.toggleFavourite();
    EXPECT_FALSE(rig.catalogue.favourites.back().second);

    rig.view.tagsAnswer = QStringLiteral(" kick , dry,kick,, ");
    rig.library.editTags();
    EXPECT_EQ(rig.view.tagsCount, 2);
    ASSERT_EQ(rig.catalogue.tags.size(), 1U);
    EXPECT_EQ(rig.catalogue.tags.back().second, "kick, dry");
    EXPECT_EQ((*rig.table.items())[0].store()->tags(0), "kick, dry");
    rig.triage.undo();
    EXPECT_EQ((*rig.table.items())[0].store()->tags(0), "");
    EXPECT_EQ(rig.catalogue.tags.back().second, "");

    rig.library.saveSearch();
    EXPECT_FALSE(rig.view.hint.isEmpty());
    EXPECT_TRUE(rig.catalogue.saved.empty());
    rig.view.find = QStringLiteral("kick dur:<1");
    rig.view.searchName = QStringLiteral("  Short kicks ");
    rig.library.saveSearch();
    ASSERT_EQ(rig.catalogue.saved.size(), 1U);
    EXPECT_EQ(rig.catalogue.saved.front(), std::make_pair(std::string("Short kicks"), std::string("kick dur:<1")));
}

// A failed write is told once; a catalogue that cannot be used is let go:
// the pane lists nothing and asks nothing of it again.
TEST(LibraryFeature, ProblemsToldOnceAndAnUnavailableCatalogueLetGo)
{
    Rig rig;
    for (int i = 0; i < 2; ++i)
        rig.catalogue.tell(
            [](Catalogue::Listener &l) { l.catalogueProblem(Catalogue::Problem::WriteFailed, "disk full"); });
    ASSERT_EQ(rig.alerts.shown.size(), 1U);
    EXPECT_EQ(rig.alerts.shown.front().title, "Library Not Saved");
    EXPECT_NE(rig.alerts.shown.front().message.find("space is free"), std::string::npos);

    rig.catalogue.tell([](Catalogue::Listener &l) { l.catalogueProblem(Catalogue::Problem::Unavailable, "no room"); });
    EXPECT_FALSE(rig.library.available());
    EXPECT_TRUE(rig.view.label.contains(QStringLiteral("no room")));
    rig.library.showList(Catalogue::ListKind::Favourites, {});
    rig.library.forgetFolder("/s");
    EXPECT_TRUE(rig.catalogue.lists.empty());
    EXPECT_TRUE(rig.catalogue.forgotten.empty());
}
