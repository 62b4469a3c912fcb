#include "core/analysis_feature.h"

#include <chrono>
#include <numeric>
#include <unordered_map>

#include "core/browser_view.h"
#include "core/diagnostics.h"
#include "core/setting.h"
#include "core/sound_reads.h"
#include "core/sound_traits.h"
#include "core/string_utils.h"
#include "core/table_controller.h"

namespace auralist {

namespace {

constexpr std::size_t kMostSimilar = 200;
constexpr std::size_t kBackgroundBatch = 2000;

} // namespace

AnalysisFeature::AnalysisFeature(ListShown &list, TableController &table, SoundReads &reads, BrowserView &view,
                                 Settings &settings, SoundEngine &engine, Catalogue *catalogue)
    : m_list(list),
      m_table(table),
      m_reads(reads),
      m_view(view),
      m_settings(settings),
      m_engine(engine),
      m_catalogue(catalogue),
      m_listenedTo(catalogue)
{
    if (m_listenedTo)
        m_listenedTo->addListener(this);
    m_reads.setProgress([this](std::size_t done, std::size_t total) { progress(done, total); });
}

AnalysisFeature::~AnalysisFeature()
{
    m_reads.setProgress({});
    if (m_listenedTo)
        m_listenedTo->removeListener(this);
}

bool AnalysisFeature::matchLoudness() const
{
    return valueOf(m_settings, settings::kMatchLoudness);
}

double AnalysisFeature::loudnessTarget() const
{
    const double target = valueOf(m_settings, settings::kLoudnessTarget);
    // Anything but a number from -70 to 0 LUFS is no target.
    return target < -70 || target > 0 ? settings::kLoudnessTarget.byDefault : target;
}

void AnalysisFeature::setMatchLoudness(bool on)
{
    keep(m_settings, settings::kMatchLoudness, on);
    m_settings.sync();
    m_engine.setLoudnessMatch(on, loudnessTarget());
}

bool AnalysisFeature::similarEverywhere() const
{
    return valueOf(m_settings, settings::kSimilarEverywhere);
}

void AnalysisFeature::setSimilarEverywhere(bool on)
{
    keep(m_settings, settings::kSimilarEverywhere, on);
    m_settings.sync();
}

void AnalysisFeature::start()
{
    const SoundList items = m_list.shownItems();
    if (!items || !valueOf(m_settings, settings::kAnalyseSounds))
        return;
    // The list shown goes before the rest; a batch of the rest cut short
    // is asked for again later.
    m_background.reset();
    ++m_unanalysedRequest;
    if (m_catalogue) {
        m_catalogue->requestAnalyses(++m_analysesRequest, items->store());
        return;
    }
    m_reads.analyse(items);
}

void AnalysisFeature::catalogueProblem(Catalogue::Problem problem, const std::string &)
{
    if (problem == Catalogue::Problem::Unavailable)
        m_catalogue = nullptr;
}

void AnalysisFeature::catalogueAnalysesArrived(std::uint64_t request, const RecordStorePtr &store,
                                               const std::vector<AnalysisResult> &results)
{
    const SoundList items = m_list.shownItems();
    if (request != m_analysesRequest || !items || store != items->store())
        return;
    m_reads.traitsKnown(store, results);
    m_list.analysed();
    m_reads.analyse(items);
}

void AnalysisFeature::findDuplicates()
{
    const SoundList items = m_list.shownItems();
    if (!items)
        return;
    const auto start = std::chrono::steady_clock::now();
    SoundList groups = makeSoundList(items->store());
    std::unordered_map<std::uint32_t, double> numbers;
    int number = 0;
    for (const auto &[record, group] : duplicateGroups(*items->store(), items->rows())) {
        groups->rows().push_back(record);
        numbers.emplace(record, group);
        number = group;
    }
    m_list.showAnswer(groups, kDuplicateKey, std::move(numbers));
    debugLog(
        "analysis: duplicates among " + std::to_string(items->size()) + " found in "
        + std::to_string(
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count())
        + " ms");
    m_view.setLabelText(number == 0
                            ? QStringLiteral("No duplicates among the analysed sounds")
                            : QStringLiteral("%1 sounds in %2 groups of duplicates").arg(groups->size()).arg(number));
}

void AnalysisFeature::deleteDuplicates()
{
    const SoundList matches = m_list.shownMatches();
    if (m_table.listValuesKey() != kDuplicateKey || !matches)
        return;
    // Every copy but the first of its group, as the list shows them, each
    // with the first and the audio the group was found to share.
    std::vector<SoundRecord> copies;
    std::vector<KeptSound> kept;
    std::unordered_map<long long, KeptSound> firstOf;
    for (std::size_t row = 0; row < matches->size(); ++row) {
        const SoundRecord record = (*matches)[row];
        const auto group = m_table.listValue(record.index());
        if (!group)
            continue;
        const KeptSound sound{record.path(), record.store()->traits(record.index()).audioHash};
        const auto [first, added] = firstOf.try_emplace(static_cast<long long>(*group), sound);
        if (added)
            continue;
        copies.push_back(record);
        kept.push_back(first->second);
    }
    m_list.askToDelete(std::move(copies), std::move(kept));
}

void AnalysisFeature::findSimilar()
{
    const SoundRecord selected = m_table.selectedItem();
    const SoundList items = m_list.shownItems();
    if (!m_catalogue || !items || !selected)
        return;
    const bool everywhere = similarEverywhere();
    // Within the list, the sound is one of it (not of an earlier answer
    // from every folder).
    if (!everywhere && selected.store() != items->store().get()) {
        m_view.setLabelText(QStringLiteral("That sound is not in the list shown"));
        return;
    }
    if (selected.store()->traits(selected.index()).state != SoundTraits::State::Analysed) {
        m_view.setLabelText(QStringLiteral("That sound is not analysed yet"));
        return;
    }
    // The answer names the sound's own store.
    const SoundList matches = m_list.shownMatches();
    const RecordStorePtr store
        = matches && matches->store().get() == selected.store() ? matches->store() : items->store();
    m_catalogue->findSimilar(++m_similarRequest, store, selected.index(), kMostSimilar, everywhere);
}

void AnalysisFeature::catalogueSimilarFound(std::uint64_t request, const RecordStorePtr &store,
                                            const std::vector<Likeness> &found)
{
    if (request != m_similarRequest || !m_list.shownItems() || !store)
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
    m_list.showAnswer(nearest, kSimilarityKey, std::move(likeness));
    m_table.selectItemAtIndex(0);
    m_view.setLabelText(QStringLiteral("The %1 sounds most like \u201c%2\u201d")
                            .arg(nearest->size())
                            .arg(displayText(std::string(store->name(found.front().first)))));
}

void AnalysisFeature::returnToList()
{
    if (m_table.listValuesKey().empty())
        return;
    m_view.setLabelText(QString());
    m_list.showFound();
}

void AnalysisFeature::analyseTheRest()
{
    if (!m_catalogue || m_background || !valueOf(m_settings, settings::kAnalyseSounds))
        return;
    m_catalogue->requestUnanalysed(++m_unanalysedRequest, m_backgroundDone, kBackgroundBatch);
}

void AnalysisFeature::catalogueUnanalysedArrived(std::uint64_t request, std::int64_t last,
                                                 const std::vector<std::string> &paths)
{
    if (request != m_unanalysedRequest || paths.empty())
        return; // stale, or every sound of the catalogue analysed
    // Only while the list shown has nothing left to analyse.
    const SoundList items = m_list.shownItems();
    if (m_reads.analysing() && items && m_reads.analysing() == items->store() && !m_reads.analysisFinished())
        return;
    auto store = std::make_shared<RecordStore>();
    for (const std::string &path : paths)
        store->add(path);
    SoundList all = makeSoundList(store);
    all->rows().resize(store->size());
    std::iota(all->rows().begin(), all->rows().end(), 0U);
    m_background = store;
    m_backgroundLast = last;
    m_reads.analyse(all);
}

void AnalysisFeature::progress(std::size_t done, std::size_t total)
{
    m_list.analysed();
    const bool background = m_background && m_reads.analysing() == m_background;
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
