// The analysis of the list shown: what the catalogue learned before, then
// the pool for the rest, and the status line while it runs.
#include "core/controller.h"
#include "core/setting.h"

#include "core/diagnostics.h"
#include "core/string_utils.h"
#include "core/table_controller.h"

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <numeric>
#include <unordered_map>
#include <unordered_set>

namespace auralist {

namespace {

constexpr std::size_t kMostSimilar = 200;
constexpr std::size_t kBackgroundBatch = 2000;

} // namespace

bool Controller::matchLoudness() const
{
    return valueOf(m_settings, settings::kMatchLoudness);
}

double Controller::loudnessTarget() const
{
    const double target = valueOf(m_settings, settings::kLoudnessTarget);
    // Anything but a number from -70 to 0 LUFS is no target.
    return target < -70 || target > 0 ? settings::kLoudnessTarget.byDefault : target;
}

void Controller::setMatchLoudness(bool on)
{
    setSetting(settings::kMatchLoudness, on);
    m_engine.setLoudnessMatch(on, loudnessTarget());
}

void Controller::startAnalysis()
{
    if (!m_items || !valueOf(m_settings, settings::kAnalyseSounds))
        return;
    // The list shown goes before the rest; a batch of the rest cut short
    // is asked for again later.
    m_background.reset();
    ++m_unanalysedRequest;
    if (m_catalogue) {
        m_catalogue->requestAnalyses(++m_analysesRequest, m_items->store());
        return;
    }
    m_tableController.analyse(m_items);
}

void Controller::catalogueAnalysesArrived(std::uint64_t request, const RecordStorePtr &store,
                                          const std::vector<AnalysisResult> &results)
{
    if (request != m_analysesRequest || !m_items || store != m_items->store())
        return;
    m_tableController.traitsKnown(store, results);
    tellSoundLevel();
    m_tableController.analyse(m_items);
}

void Controller::findDuplicates()
{
    if (!m_items)
        return;
    const auto start = std::chrono::steady_clock::now();
    SoundList groups = makeSoundList(m_items->store());
    std::unordered_map<std::uint32_t, double> numbers;
    int number = 0;
    for (const auto &[record, group] : duplicateGroups(*m_items->store(), m_items->rows())) {
        groups->rows().push_back(record);
        numbers.emplace(record, group);
        number = group;
    }
    m_lastFind.clear();
    setMatches(groups);
    m_tableController.setListValues(kDuplicateKey, std::move(numbers));
    debugLog(
        "analysis: duplicates among " + std::to_string(m_items->size()) + " found in "
        + std::to_string(
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count())
        + " ms");
    m_view.setLabelText(number == 0
                            ? QStringLiteral("No duplicates among the analysed sounds")
                            : QStringLiteral("%1 sounds in %2 groups of duplicates").arg(groups->size()).arg(number));
}

bool Controller::similarEverywhere() const
{
    return valueOf(m_settings, settings::kSimilarEverywhere);
}

void Controller::setSimilarEverywhere(bool on)
{
    setSetting(settings::kSimilarEverywhere, on);
}

void Controller::findSimilar()
{
    const SoundRecord selected = m_tableController.selectedItem();
    if (!m_catalogue || !m_items || !selected)
        return;
    const bool everywhere = similarEverywhere();
    // Within the list, the sound is one of it (not of an earlier answer
    // from every folder).
    if (!everywhere && selected.store() != m_items->store().get()) {
        m_view.setLabelText(QStringLiteral("That sound is not in the list shown"));
        return;
    }
    if (selected.store()->traits(selected.index()).state != SoundTraits::State::Analysed) {
        m_view.setLabelText(QStringLiteral("That sound is not analysed yet"));
        return;
    }
    // The answer names the sound's own store.
    const RecordStorePtr store
        = m_matches && m_matches->store().get() == selected.store() ? m_matches->store() : m_items->store();
    m_catalogue->findSimilar(++m_similarRequest, store, selected.index(), kMostSimilar, everywhere);
}

void Controller::catalogueSimilarFound(std::uint64_t request, const RecordStorePtr &store,
                                       const std::vector<Likeness> &found)
{
    if (request != m_similarRequest || !m_items || !store)
        return;
    if (found.empty()) {
        m_view.setLabelText(QStringLiteral("That sound is not analysed yet"));
        return;
    }
    // Of the list shown, or (every folder) a store of its own: the list
    // returns with Escape either way.
    SoundList nearest = makeSoundList(store);
    std::unordered_map<std::uint32_t, double> likeness;
    for (const auto &[record, value] : found) {
        nearest->rows().push_back(record);
        likeness.emplace(record, value);
    }
    m_lastFind.clear();
    setMatches(nearest);
    m_tableController.setListValues(kSimilarityKey, std::move(likeness));
    m_tableController.selectItemAtIndex(0);
    m_view.setLabelText(QStringLiteral("The %1 sounds most like \u201c%2\u201d")
                            .arg(nearest->size())
                            .arg(TableController::displayText(std::string(store->name(found.front().first)))));
}

void Controller::deleteDuplicates()
{
    if (m_tableController.listValuesKey() != kDuplicateKey || !m_matches)
        return;
    // Every copy but the first of its group, as the list shows them, each
    // with the first and the audio the group was found to share.
    std::vector<SoundRecord> copies;
    std::vector<KeptSound> kept;
    std::unordered_map<long long, KeptSound> firstOf;
    for (std::size_t row = 0; row < m_matches->size(); ++row) {
        const SoundRecord record = (*m_matches)[row];
        const auto group = m_tableController.listValue(record.index());
        const auto path = record.value("path");
        if (!group || !path)
            continue;
        const KeptSound sound{std::string(*path), record.store()->traits(record.index()).audioHash};
        const auto [first, added] = firstOf.try_emplace(static_cast<long long>(*group), sound);
        if (added)
            continue;
        copies.push_back(record);
        kept.push_back(first->second);
    }
    deleteRecords(std::move(copies), std::move(kept));
}

void Controller::returnToList()
{
    if (m_tableController.listValuesKey().empty())
        return;
    m_view.setLabelText(QString());
    find();
}

void Controller::analyseTheRest()
{
    if (!m_catalogue || m_background || !valueOf(m_settings, settings::kAnalyseSounds))
        return;
    m_catalogue->requestUnanalysed(++m_unanalysedRequest, m_backgroundDone, kBackgroundBatch);
}

void Controller::catalogueUnanalysedArrived(std::uint64_t request, std::int64_t last,
                                            const std::vector<std::string> &paths)
{
    if (request != m_unanalysedRequest || paths.empty())
        return; // stale, or every sound of the catalogue analysed
    // Only while the list shown has nothing left to analyse.
    if (m_tableController.analysing() && m_items && m_tableController.analysing() == m_items->store()
        && !m_tableController.analysisFinished())
        return;
    auto store = std::make_shared<RecordStore>();
    for (const std::string &path : paths)
        store->add(path);
    SoundList all = makeSoundList(store);
    all->rows().resize(store->size());
    std::iota(all->rows().begin(), all->rows().end(), 0U);
    m_background = store;
    m_backgroundLast = last;
    m_tableController.analyse(all);
}

void Controller::tableControllerAnalysisProgress(TableController &, std::size_t done, std::size_t total)
{
    tellSoundLevel();
    const bool background = m_background && m_tableController.analysing() == m_background;
    if (background) {
        if (done >= total) {
            // That batch is done: on to the next.
            m_backgroundDone = m_backgroundLast;
            m_background.reset();
            m_view.setStatusText(QString());
            analyseTheRest();
        } else {
            m_view.setStatusText(QString::fromStdString("Analysing the library: " + groupedDigits(done) + " of "
                                                        + groupedDigits(total)));
        }
        return;
    }
    if (done == 0)
        m_analysisStarted = std::chrono::steady_clock::now();
    else if (done >= total)
        debugLog("analysis: " + std::to_string(total) + " sounds analysed in "
                 + std::to_string(std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now()
                                                                                        - m_analysisStarted)
                                      .count())
                 + " ms");
    if (done >= total) {
        m_view.setStatusText(QString());
        analyseTheRest();
    } else {
        m_view.setStatusText(
            QString::fromStdString("Analysing " + groupedDigits(done) + " of " + groupedDigits(total)));
    }
}

} // namespace auralist
