#pragma once

#include <cstddef>
#include <functional>
#include <vector>

#include "core/header_facts.h"
#include "core/records.h"
#include "core/sound_traits.h"

namespace auralist {

class TableController;

// What is learned of the sounds listed: each header read and each sound
// analysed by the feeds, the rows on screen first, and the answers put into
// the records (the table redrawn when they are of its rows).
//
// Threads: the window's; the feeds' answers are handed to it there.
class SoundReads {
public:
    explicit SoundReads(TableController &table) : m_table(table) { }

    void setHeaderFeed(HeaderFeed *feed) { m_headerFeed = feed; }
    void setTraitFeed(TraitFeed *feed) { m_traitFeed = feed; }
    // How far the analysis asked for last has come (done of total).
    void setProgress(std::function<void(std::size_t done, std::size_t total)> progress)
    {
        m_progress = std::move(progress);
    }

    // Reads the headers of the table's rows not known yet.
    void readHeaders();
    // Has the records of list not analysed yet analysed.
    void analyse(const SoundList &list);
    // The rows first to last of the table are on screen: they go first.
    void rowsShown(int first, int last);

    void factsArrived(const RecordStorePtr &store, const std::vector<FactsResult> &results);
    void traitsArrived(const RecordStorePtr &store, const std::vector<AnalysisResult> &results);
    // Sets what is known already (from the catalogue), without counting it
    // as the analysis's progress.
    void traitsKnown(const RecordStorePtr &store, const std::vector<AnalysisResult> &results);

    // The store the analysis works on now (null: none asked for).
    const RecordStorePtr &analysing() const { return m_analysing; }
    bool analysisFinished() const { return m_analysisDone >= m_analysisTotal; }

private:
    void tellProgress() const;

    TableController &m_table;
    HeaderFeed *m_headerFeed = nullptr;
    TraitFeed *m_traitFeed = nullptr;
    std::function<void(std::size_t, std::size_t)> m_progress;
    // The analysis of the list: its store, how many it asked for, how many came.
    RecordStorePtr m_analysing;
    std::size_t m_analysisTotal = 0;
    std::size_t m_analysisDone = 0;
};

} // namespace auralist
