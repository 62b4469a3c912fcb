#pragma once

#include <functional>
#include <memory>
#include <vector>

#include "core/sound_traits.h"
#include "intake/record_pool.h"

namespace auralist::analysis {

struct Analysis;

// The traits of an analysis, as the table keeps them.
SoundTraits traitsOf(const Analysis &analysis);
AnalysisResult resultOf(std::uint32_t record, const Analysis &analysis);

// Analyses the records of a store in the background (see RecordPool): one
// sound at a time per worker, the rows on screen first. Threads run inside
// this process rather than a helper process: every decoder they use is
// libsndfile's, which the header pool and the player already run here on
// hostile files, and a result needs no copying across a pipe.
class AnalysisPool : public TraitFeed, public Stoppable {
public:
    // The results may be moved from.
    using Deliver = std::function<void(const RecordStorePtr &, std::vector<AnalysisResult> &)>;
    // threads 0: one per core (up to four); they yield to the window and
    // the sound, as every background thread does.
    explicit AnalysisPool(Deliver deliver, int threads = 0);

    void analyseStore(const RecordStorePtr &store, std::vector<std::uint32_t> order) override
    {
        m_pool.start(store, std::move(order));
    }
    void preferAnalysis(const RecordStorePtr &store, std::vector<std::uint32_t> records) override
    {
        m_pool.prefer(store, std::move(records));
    }
    std::size_t pending() const { return m_pool.pending(); }

    void requestStop() override { m_pool.requestStop(); }
    bool waitStopped(Deadline deadline) override { return m_pool.waitStopped(deadline); }

private:
    RecordPool<AnalysisResult> m_pool;
};

} // namespace auralist::analysis
