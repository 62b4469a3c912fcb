#include "analysis/analysis_pool.h"

#include <algorithm>
#include <thread>

#include "analysis/analyse.h"

namespace auralist::analysis {

SoundTraits traitsOf(const Analysis &a)
{
    SoundTraits t;
    if (!a.ok) {
        t.state = SoundTraits::State::Failed;
        return t;
    }
    t.state = SoundTraits::State::Analysed;
    t.loudness = static_cast<float>(a.loudness);
    t.peak = static_cast<float>(a.peak);
    t.bpm = static_cast<float>(a.bpm);
    t.note = static_cast<std::int8_t>(a.note);
    t.loop = a.kind == Analysis::Kind::Loop;
    t.audioHash = a.audioHash;
    return t;
}

AnalysisResult resultOf(std::uint32_t record, const Analysis &a)
{
    AnalysisResult r;
    r.record = record;
    r.traits = traitsOf(a);
    r.error = a.error;
    if (a.ok)
        r.descriptor.assign(a.descriptor.begin(), a.descriptor.end());
    return r;
}

namespace {

int threadsFor(int asked)
{
    if (asked > 0)
        return asked;
    return static_cast<int>(std::clamp(std::thread::hardware_concurrency(), 1U, 4U));
}

} // namespace

AnalysisPool::AnalysisPool(Deliver deliver, int threads)
    : m_pool(
        [](std::uint32_t record, const std::string &path, const RecordPool<AnalysisResult>::Wanted &wanted) {
            AnalysisResult result = resultOf(record, analyseFile(path, [&wanted] { return !wanted(); }));
            result.path = path;
            return result;
        },
        std::move(deliver),
        [](const RecordStore &store, std::uint32_t r) { return store.traits(r).state != SoundTraits::State::Unknown; },
        threadsFor(threads), 1)
{
}

} // namespace auralist::analysis
