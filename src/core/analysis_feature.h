#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "core/list_shown.h"
#include "core/records.h"
#include "core/services.h"

namespace auralist {

class BrowserView;
class SoundReads;
class TableController;

// How the sounds sound: the analysis of the list shown (what the catalogue
// learned before, then the analysis pool for the rest) and then of the rest
// of the catalogue a batch at a time, the status line while it runs,
// matched loudness, Find Similar and Find and Delete Duplicates.
//
// Threads: the window's; it hears the catalogue's answers itself.
class AnalysisFeature : public Catalogue::Listener {
public:
    // catalogue: null when there is none.
    AnalysisFeature(ListShown &list, TableController &table, SoundReads &reads, BrowserView &view, Settings &settings,
                    SoundEngine &engine, Catalogue *catalogue);
    ~AnalysisFeature() override;
    AnalysisFeature(const AnalysisFeature &) = delete;
    AnalysisFeature &operator=(const AnalysisFeature &) = delete;

    // Matched loudness (setting matchLoudness, off by default), to the
    // target of setting loudnessTarget (LUFS, -20 by default).
    bool matchLoudness() const;
    void setMatchLoudness(bool on);
    double loudnessTarget() const;
    // Find Similar over every folder of the catalogue, not the list shown.
    bool similarEverywhere() const;
    void setSimilarEverywhere(bool on);

    // Has the list's sounds analysed (setting analyseSounds, on by default).
    void start();
    // The analysed sounds of the list whose decoded audio is the same, each
    // group together under its number; deleteDuplicates then asks once
    // about every copy but the first of each group.
    void findDuplicates();
    void deleteDuplicates();
    // The sounds most like the selected one, nearest first.
    void findSimilar();
    // Leaves an answer for the list as it was (Escape).
    void returnToList();
    // Of the sounds that wanted analysing, done are analysed.
    void progress(std::size_t done, std::size_t total);

    void catalogueProblem(Catalogue::Problem problem, const std::string &detail) override;
    void catalogueAnalysesArrived(std::uint64_t request, const RecordStorePtr &store,
                                  const std::vector<AnalysisResult> &results) override;
    void catalogueUnanalysedArrived(std::uint64_t request, std::int64_t last,
                                    const std::vector<std::string> &paths) override;
    void catalogueSimilarFound(std::uint64_t request, const RecordStorePtr &store,
                               const std::vector<Likeness> &found) override;

private:
    void analyseTheRest();

    ListShown &m_list;
    TableController &m_table;
    SoundReads &m_reads;
    BrowserView &m_view;
    Settings &m_settings;
    SoundEngine &m_engine;
    Catalogue *m_catalogue; // null once it turned out unavailable
    Catalogue *m_listenedTo; // to the end
    std::uint64_t m_analysesRequest = 0; // the latest of the catalogue's analyses asked for
    std::uint64_t m_similarRequest = 0;
    // The rest of the catalogue, analysed a batch at a time once the list
    // shown is done: the batch, where it ends, where the last whole one ended.
    std::uint64_t m_unanalysedRequest = 0;
    RecordStorePtr m_background;
    std::int64_t m_backgroundLast = 0;
    std::int64_t m_backgroundDone = 0;
    std::chrono::steady_clock::time_point m_analysisStarted;
};

} // namespace auralist
