#include <gtest/gtest.h>

#include "core/diagnostics.h"
#include "core/sound_reads.h"
#include "core/table_controller.h"
#include "test_support.h"

using namespace auralist;

namespace {

// Feeds that write down what they are asked.
struct AskedFeeds : HeaderFeed, TraitFeed {
    std::vector<std::uint32_t> read, preferredRead, analysed, preferredAnalysis;
    void readStore(const RecordStorePtr &, std::vector<std::uint32_t> order) override { read = std::move(order); }
    void prefer(const RecordStorePtr &, std::vector<std::uint32_t> records) override
    {
        preferredRead = std::move(records);
    }
    void analyseStore(const std::shared_ptr<RecordStore> &, std::vector<std::uint32_t> order) override
    {
        analysed = std::move(order);
    }
    void preferAnalysis(const std::shared_ptr<RecordStore> &, std::vector<std::uint32_t> records) override
    {
        preferredAnalysis = std::move(records);
    }
};

} // namespace

// What is known is not asked for again; the rows on screen go first, and
// those not analysed only while that list is being analysed; the answers
// go into the records, a failure with its reason; the analysis's progress
// counts what it asked for, not what the catalogue already knew.
TEST(SoundReads, AsksOnlyForWhatIsNotKnownAndCountsTheAnalysis)
{
    auralist::testing::CapturedOutput out;
    Diagnostics diagnostics(out.file());
    TableController table(diagnostics);
    AskedFeeds feeds;
    SoundReads reads(table);
    reads.setHeaderFeed(&feeds);
    reads.setTraitFeed(&feeds);
    std::vector<std::pair<std::size_t, std::size_t>> progress;
    reads.setProgress([&](std::size_t done, std::size_t total) { progress.emplace_back(done, total); });

    auto list = makeSoundList();
    for (const char *path : {"/s/a.wav", "/s/b.wav", "/s/c.wav", "/s/d.wav"})
        list->append(path);
    const RecordStorePtr store = list->store();
    HeaderFacts known;
    known.state = HeaderFacts::State::Read;
    known.rate = 44100;
    store->setFacts(1, known);
    table.setItems(list);

    reads.readHeaders();
    EXPECT_EQ(feeds.read, (std::vector<std::uint32_t>{0, 2, 3}));
    reads.rowsShown(1, 99);
    EXPECT_EQ(feeds.preferredRead, (std::vector<std::uint32_t>{2, 3}));
    EXPECT_TRUE(feeds.preferredAnalysis.empty()); // no analysis asked for yet

    AnalysisResult knownBefore;
    knownBefore.record = 0;
    knownBefore.traits.state = SoundTraits::State::Analysed;
    reads.traitsKnown(store, {knownBefore});
    reads.analyse(list);
    EXPECT_EQ(feeds.analysed, (std::vector<std::uint32_t>{1, 2, 3}));
    EXPECT_EQ(progress.back(), std::make_pair(std::size_t(0), std::size_t(3)));
    reads.rowsShown(0, 1);
    EXPECT_EQ(feeds.preferredAnalysis, std::vector<std::uint32_t>{1});

    AnalysisResult failed;
    failed.record = 2;
    failed.traits.state = SoundTraits::State::Failed;
    failed.error = "Not a sound.";
    reads.traitsArrived(store, {failed});
    EXPECT_EQ(progress.back(), std::make_pair(std::size_t(1), std::size_t(3)));
    EXPECT_FALSE(reads.analysisFinished());
    EXPECT_EQ(store->reason(store->traits(2).reason), "Not a sound.");

    FactsResult facts;
    facts.record = 3;
    facts.facts.state = HeaderFacts::State::Read;
    facts.facts.frames = 441;
    reads.factsArrived(store, {facts});
    EXPECT_EQ(store->facts(3).frames, 441);

    // Answers for another store touch only that store.
    auto other = std::make_shared<RecordStore>();
    other->add("/t/x.wav");
    failed.record = 0;
    reads.traitsArrived(other, {failed});
    EXPECT_EQ(progress.back(), std::make_pair(std::size_t(1), std::size_t(3)));
}
