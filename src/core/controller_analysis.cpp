// The analysis of the list shown: what the catalogue learned before, then
// the pool for the rest, and the status line while it runs.
#include "core/controller.h"

#include "core/table_controller.h"

#include <cmath>
#include <cstdlib>

namespace auralist {

namespace {

constexpr const char *kAnalyseSoundsKey = "analyseSounds";
constexpr const char *kMatchLoudnessKey = "matchLoudness";
constexpr const char *kLoudnessTargetKey = "loudnessTarget";
constexpr double kDefaultTarget = -20.0;

// 1234567 -> "1,234,567"
std::string grouped(std::size_t n)
{
    std::string digits = std::to_string(n);
    for (auto at = static_cast<std::ptrdiff_t>(digits.size()) - 3; at > 0; at -= 3)
        digits.insert(static_cast<std::size_t>(at), 1, ',');
    return digits;
}

} // namespace

bool Controller::matchLoudness() const
{
    return settingIsOn(kMatchLoudnessKey);
}

double Controller::loudnessTarget() const
{
    const auto v = m_settings.value(kLoudnessTargetKey);
    if (!v)
        return kDefaultTarget;
    char *end = nullptr;
    const double target = std::strtod(v->c_str(), &end);
    // Anything but a number from -70 to 0 LUFS is no target.
    if (end == v->c_str() || !std::isfinite(target) || target < -70 || target > 0)
        return kDefaultTarget;
    return target;
}

void Controller::setMatchLoudness(bool on)
{
    setSettingOn(kMatchLoudnessKey, on);
    m_engine.setLoudnessMatch(on, loudnessTarget());
}

void Controller::startAnalysis()
{
    if (!m_items || !settingIsOn(kAnalyseSoundsKey, true))
        return;
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
    m_tableController.analyse(m_items);
}

void Controller::tableControllerAnalysisProgress(TableController &, std::size_t done, std::size_t total)
{
    if (done >= total)
        m_view.setStatusText(QString());
    else
        m_view.setStatusText(QString::fromStdString("Analysing " + grouped(done) + " of " + grouped(total)));
}

} // namespace auralist
