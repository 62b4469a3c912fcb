#include <gtest/gtest.h>

#include <numeric>

#include "core/analysis_feature.h"
#include "core/diagnostics.h"
#include "core/setting.h"
#include "core/sound_reads.h"
#include "core/sound_traits.h"
#include "core/table_controller.h"
#include "fakes/fake_list.h"
#include "fakes/fakes.h"
#include "test_support.h"

using namespace auralist;

namespace {

using fakes::FakeList;

struct LoudnessEngine : fakes::FakeEngine {
    void setLoudnessMatch(bool on, double target) override { matched = {on, target}; }
    std::optional<std::pair<bool, double>> matched;
};

SoundTraits analysedAs(std::uint64_t audio)
{
    SoundTraits t;
    t.state = SoundTraits::State::Analysed;
    t.audioHash = audio;
    return t;
}

} // namespace

// Without a catalogue: duplicates are found among the analysed sounds of
// the list, Delete Duplicates asks about every copy but the first with the
// file kept in its place and the audio they share, Escape gives the list
// back, and matched loudness is kept and told to the engine.
TEST(AnalysisFeature, DuplicatesMatchedLoudnessAndTheWayBack)
{
    auralist::testing::CapturedOutput out;
    Diagnostics diagnostics(out.file());
    TableController table(diagnostics);
    fakes::FakeTableView tableView;
    table.setTableView(&tableView);
    fakes::FakeView view;
    fakes::FakeSettings settings;
    LoudnessEngine engine;
    FakeList list(table);
    SoundReads reads(table);
    AnalysisFeature analysis(list, table, reads, view, settings, engine, nullptr);

    auto store = std::make_shared<RecordStore>();
    for (const char *path : {"/s/take.wav", "/s/other.wav", "/s/take copy.flac", "/s/new.wav"})
        store->add(path);
    store->setTraits(0, analysedAs(7));
    store->setTraits(1, analysedAs(8));
    store->setTraits(2, analysedAs(7)); // the take again
    list.items = makeSoundList(store);
    list.items->rows().resize(store->size());
    std::iota(list.items->rows().begin(), list.items->rows().end(), 0U);
    table.setItems(list.items);

    analysis.findDuplicates();
    ASSERT_TRUE(list.matches);
    EXPECT_EQ(list.matches->rows(), (std::vector<std::uint32_t>{0, 2}));
    EXPECT_EQ(list.valuesKey, kDuplicateKey);
    EXPECT_EQ(view.label, QString("2 sounds in 1 groups of duplicates"));
    analysis.deleteDuplicates();
    ASSERT_EQ(list.asked.size(), 1U);
    EXPECT_EQ(list.asked[0].path(), "/s/take copy.flac");
    ASSERT_EQ(list.kept.size(), 1U);
    EXPECT_EQ(list.kept[0].path, "/s/take.wav");
    EXPECT_EQ(list.kept[0].audio, 7U);
    analysis.returnToList();
    EXPECT_EQ(list.found, 1);
    EXPECT_EQ(view.label, QString());

    // None alike: said so.
    store->setTraits(2, analysedAs(9));
    analysis.findDuplicates();
    EXPECT_EQ(view.label, QString("No duplicates among the analysed sounds"));

    EXPECT_FALSE(analysis.matchLoudness());
    settings.values["loudnessTarget"] = "-16";
    analysis.setMatchLoudness(true);
    EXPECT_TRUE(analysis.matchLoudness());
    EXPECT_EQ(settings.values["matchLoudness"], "true");
    ASSERT_TRUE(engine.matched);
    EXPECT_EQ(*engine.matched, std::make_pair(true, -16.0));
    // Find Similar needs the catalogue: without one, nothing happens.
    analysis.findSimilar();
    // Progress is told to the list, for the playing sound's level.
    analysis.progress(1, 3);
    EXPECT_EQ(list.analysedTold, 1);
}
