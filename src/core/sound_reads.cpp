#include "core/sound_reads.h"

#include <algorithm>

#include "core/table_controller.h"

namespace auralist {

void SoundReads::readHeaders()
{
    const SoundList &items = m_table.items();
    if (m_headerFeed && items) {
        // What is known already (from the catalogue) is not read again.
        const RecordStore &store = *items->store();
        std::vector<std::uint32_t> unknown;
        unknown.reserve(items->size());
        for (const std::uint32_t r : items->rows()) {
            if (store.facts(r).state == HeaderFacts::State::Unknown)
                unknown.push_back(r);
        }
        m_headerFeed->readStore(items->store(), std::move(unknown));
    }
}

void SoundReads::rowsShown(int first, int last)
{
    const SoundList &items = m_table.items();
    if (first < 0 || !items)
        return;
    last = std::min(last, static_cast<int>(items->size()) - 1);
    std::vector<std::uint32_t> unread;
    std::vector<std::uint32_t> unanalysed;
    for (int row = first; row <= last; ++row) {
        const std::uint32_t r = items->rows()[static_cast<size_t>(row)];
        if (items->store()->facts(r).state == HeaderFacts::State::Unknown)
            unread.push_back(r);
        if (items->store()->traits(r).state == SoundTraits::State::Unknown)
            unanalysed.push_back(r);
    }
    if (m_headerFeed && !unread.empty())
        m_headerFeed->prefer(items->store(), std::move(unread));
    if (m_traitFeed && !unanalysed.empty() && m_analysing == items->store())
        m_traitFeed->preferAnalysis(items->store(), std::move(unanalysed));
}

void SoundReads::analyse(const SoundList &list)
{
    if (!m_traitFeed || !list)
        return;
    const RecordStore &store = *list->store();
    std::vector<std::uint32_t> unknown;
    for (const std::uint32_t r : list->rows()) {
        if (store.traits(r).state == SoundTraits::State::Unknown)
            unknown.push_back(r);
    }
    m_analysing = list->store();
    m_analysisTotal = unknown.size();
    m_analysisDone = 0;
    m_traitFeed->analyseStore(list->store(), std::move(unknown));
    tellProgress();
}

void SoundReads::traitsKnown(const RecordStorePtr &store, const std::vector<AnalysisResult> &results)
{
    if (!store)
        return;
    for (const AnalysisResult &r : results) {
        SoundTraits traits = r.traits;
        if (traits.state == SoundTraits::State::Failed)
            traits.reason = store->reasonNumber(r.error);
        store->setTraits(r.record, traits);
    }
    if (m_table.items() && store == m_table.items()->store() && !results.empty())
        m_table.recordsChanged();
}

void SoundReads::traitsArrived(const RecordStorePtr &store, const std::vector<AnalysisResult> &results)
{
    traitsKnown(store, results);
    if (store && store == m_analysing) {
        m_analysisDone = std::min(m_analysisTotal, m_analysisDone + results.size());
        tellProgress();
    }
}

void SoundReads::factsArrived(const RecordStorePtr &store, const std::vector<FactsResult> &results)
{
    if (!store)
        return;
    for (const FactsResult &r : results) {
        HeaderFacts facts = r.facts;
        if (facts.state == HeaderFacts::State::Failed)
            facts.reason = store->reasonNumber(r.error);
        store->setFacts(r.record, facts);
        if (!r.metadata.empty())
            store->setMetadata(r.record, r.metadata);
    }
    if (m_table.items() && store == m_table.items()->store())
        m_table.recordsChanged();
}

void SoundReads::tellProgress() const
{
    if (m_progress)
        m_progress(m_analysisDone, m_analysisTotal);
}

} // namespace auralist
