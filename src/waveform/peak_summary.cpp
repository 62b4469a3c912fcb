#include "waveform/peak_summary.h"

#include <algorithm>

#include "audio/decoder.h"

namespace auralist::waveform {

namespace {

PeakSummary::Peak merged(PeakSummary::Peak a, PeakSummary::Peak b)
{
    return {std::min(a.low, b.low), std::max(a.high, b.high)};
}

} // namespace

void PeakSummary::append(const float *stereo, std::int64_t count)
{
    if (levels.empty())
        levels.emplace_back();
    for (std::int64_t i = 0; i < count; ++i) {
        const float l = stereo[2 * i];
        const float r = stereo[2 * i + 1];
        const Peak frame{std::min(l, r), std::max(l, r)};
        if (!m_fineDropped)
            fine.push_back(frame);
        peak = std::max({peak, -frame.low, frame.high});
        m_pending.low = std::min(m_pending.low, frame.low);
        m_pending.high = std::max(m_pending.high, frame.high);
        if (++m_pendingFrames == kBlockFrames) {
            levels[0].push_back(m_pending);
            m_pending = {1, -1};
            m_pendingFrames = 0;
        }
    }
    frames += count;
    if (!m_fineDropped && frames > kFineFrames) {
        // Too long for frames to be narrower than a pixel's share.
        m_fineDropped = true;
        std::vector<Peak>().swap(fine);
    }
}

void PeakSummary::finishLevels()
{
    if (levels.empty())
        levels.emplace_back();
    if (m_pendingFrames > 0) {
        levels[0].push_back(m_pending);
        m_pending = {1, -1};
        m_pendingFrames = 0;
    }
    levels.resize(1);
    while (levels.back().size() > 1) {
        const std::vector<Peak> &below = levels.back();
        std::vector<Peak> above((below.size() + 1) / 2);
        for (size_t i = 0; i < above.size(); ++i)
            above[i] = 2 * i + 1 < below.size() ? merged(below[2 * i], below[2 * i + 1]) : below[2 * i];
        levels.push_back(std::move(above));
    }
}

PeakSummary::Peak PeakSummary::peakOf(std::int64_t from, std::int64_t to) const
{
    if (levels.empty() || levels[0].empty() || to <= from)
        return {0, 0};
    if (!fine.empty() && to - from < kBlockFrames) {
        // Narrower than a block: the frames themselves.
        const auto first = static_cast<size_t>(std::max<std::int64_t>(0, from));
        const auto end = std::min(static_cast<size_t>(to), fine.size());
        Peak peak{1, -1};
        for (size_t i = first; i < end; ++i)
            peak = merged(peak, fine[i]);
        return peak.low > peak.high ? Peak{0, 0} : peak;
    }
    // The blocks of level 0 under [from, to), gathered from the coarsest
    // levels that lie wholly inside: a few peaks per level, exact to a block.
    auto first = static_cast<size_t>(std::max<std::int64_t>(0, from / kBlockFrames));
    auto last = static_cast<size_t>(std::max<std::int64_t>(0, (to - 1) / kBlockFrames));
    if (first >= levels[0].size())
        return {0, 0};
    last = std::min(last, levels[0].size() - 1);
    Peak peak{1, -1};
    for (size_t level = 0; level < levels.size() && first <= last; ++level) {
        const std::vector<Peak> &peaks = levels[level];
        if (first % 2 == 1)
            peak = merged(peak, peaks[first++]);
        if (last % 2 == 0 && first <= last) {
            peak = merged(peak, peaks[last]);
            if (last == 0)
                break;
            --last;
        }
        if (first > last)
            break;
        if (level + 1 == levels.size()) {
            for (size_t i = first; i <= last; ++i)
                peak = merged(peak, peaks[i]);
            break;
        }
        first /= 2;
        last /= 2;
    }
    return peak.low > peak.high ? Peak{0, 0} : peak;
}

std::size_t PeakSummary::bytes() const
{
    std::size_t total = sizeof(*this);
    for (const auto &level : levels)
        total += level.capacity() * sizeof(Peak);
    return total + fine.capacity() * sizeof(Peak);
}

std::shared_ptr<PeakSummary> buildSummary(
    audio::Decoder &decoder, const std::atomic<bool> &cancelled,
    const std::function<void(const std::shared_ptr<const PeakSummary> &)> &progress, std::int64_t progressEvery)
{
    auto summary = std::make_shared<PeakSummary>();
    summary->sampleRate = decoder.sampleRate();
    summary->lengthFrames = std::max<std::int64_t>(0, decoder.frames());
    // The header's length is only a claim (a damaged one may claim
    // exabytes): room is made ahead for at most about an hour.
    constexpr std::int64_t kReserveBlocks = std::int64_t{1} << 20;
    if (summary->lengthFrames > 0 && summary->lengthFrames <= PeakSummary::kFineFrames)
        summary->fine.reserve(static_cast<size_t>(summary->lengthFrames));
    if (summary->lengthFrames > 0)
        summary->levels.emplace_back().reserve(
            static_cast<size_t>(std::min(summary->lengthFrames / PeakSummary::kBlockFrames + 1, kReserveBlocks)));
    constexpr std::int64_t kChunk = 8192;
    std::vector<float> buffer(2 * kChunk);
    std::int64_t sinceProgress = 0;
    while (!cancelled.load(std::memory_order_relaxed)) {
        const std::int64_t got = decoder.read(buffer.data(), kChunk);
        if (got <= 0)
            break;
        summary->append(buffer.data(), got);
        sinceProgress += got;
        if (progress && sinceProgress >= progressEvery) {
            sinceProgress = 0;
            auto partial = std::make_shared<PeakSummary>(*summary);
            partial->finishLevels();
            progress(partial);
        }
    }
    summary->complete = !cancelled.load(std::memory_order_relaxed);
    summary->finishLevels();
    if (summary->frames == 0 && summary->error.empty())
        summary->error = "The file holds no sound.";
    return summary;
}

} // namespace auralist::waveform
