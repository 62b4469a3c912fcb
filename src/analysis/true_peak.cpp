#include "analysis/true_peak.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>

namespace auralist::analysis {

namespace {

constexpr int kPhases = 4;
constexpr int kLength = kPhases * TruePeak::kTaps + 1; // 49, centred on tap 24

// The three phases between samples, each normalised to a gain of 1 at DC.
struct Phases {
    std::array<std::array<float, TruePeak::kTaps>, kPhases - 1> taps{};
    // No phase's output is larger than this times the largest of the
    // samples it is made from.
    float gain = 0.0F;
    Phases()
    {
        constexpr double centre = (kLength - 1) / 2.0;
        for (int p = 1; p < kPhases; ++p) {
            double sum = 0;
            for (int k = 0; k < TruePeak::kTaps; ++k) {
                const int n = kPhases * k + p;
                const double x = (n - centre) / kPhases;
                const double sinc = std::sin(std::numbers::pi * x) / (std::numbers::pi * x);
                // Blackman window over the whole prototype.
                const double w = 0.42 - 0.5 * std::cos(2 * std::numbers::pi * n / (kLength - 1))
                    + 0.08 * std::cos(4 * std::numbers::pi * n / (kLength - 1));
                taps[p - 1][k] = static_cast<float>(sinc * w);
                sum += sinc * w;
            }
            double gainHere = 0;
            for (float &t : taps[p - 1]) {
                t = static_cast<float>(t / sum);
                gainHere += std::fabs(t);
            }
            // A little over, for the rounding of the sums.
            gain = std::max(gain, static_cast<float>(gainHere * 1.001));
        }
    }
};

const Phases &phases()
{
    static const Phases p;
    return p;
}

// out[i] = sum over k of taps[k] * in[i + kTaps - 1 - k], for i below count.
// Made twice, for plain x86-64 and for AVX2 (eight lanes a step), and
// chosen at load. Not under a sanitizer: the choosing runs while the
// program is being loaded, before a sanitizer's runtime is ready for the
// calls it adds (ThreadSanitizer crashes there).
#if defined(__has_feature)
#if __has_feature(thread_sanitizer) || __has_feature(address_sanitizer) || __has_feature(memory_sanitizer)
#define AURALIST_SANITIZED 1
#endif
#endif
#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
#define AURALIST_SANITIZED 1
#endif
#if defined(__x86_64__) && !defined(AURALIST_SANITIZED)
#define AURALIST_WIDE_VECTORS __attribute__((target_clones("avx2", "default")))
#else
#define AURALIST_WIDE_VECTORS
#endif
AURALIST_WIDE_VECTORS void interpolate(const float *__restrict in, const std::array<float, TruePeak::kTaps> &taps,
                                       float *__restrict out, std::size_t count)
{
    std::fill(out, out + count, 0.0F);
    for (int k = 0; k < TruePeak::kTaps; ++k) {
        const float t = taps[static_cast<std::size_t>(k)];
        const float *from = in + (TruePeak::kTaps - 1 - k);
        for (std::size_t i = 0; i < count; ++i)
            out[i] += t * from[i];
    }
}

AURALIST_WIDE_VECTORS float largestMagnitude(const float *__restrict values, std::size_t count)
{
    // In eight lanes, so that it becomes vector instructions.
    constexpr std::size_t kLanes = 8;
    std::array<float, kLanes> most{};
    std::size_t i = 0;
    for (; i + kLanes <= count; i += kLanes) {
        for (std::size_t j = 0; j < kLanes; ++j)
            most[j] = std::max(most[j], std::fabs(values[i + j]));
    }
    for (; i < count; ++i)
        most[0] = std::max(most[0], std::fabs(values[i]));
    return *std::max_element(most.begin(), most.end());
}

// Samples interpolated at a time, or passed over together.
constexpr std::size_t kStretch = 256;

} // namespace

TruePeak::TruePeak(int channels)
    : m_channels(std::max(channels, 1)),
      m_history(static_cast<std::size_t>(m_channels), std::vector<float>(kTaps - 1, 0.0F))
{
    (void)phases();
}

void TruePeak::add(const float *frames, std::int64_t count)
{
    if (count <= 0)
        return;
    const auto n = static_cast<std::size_t>(count);
    const auto channels = static_cast<std::size_t>(m_channels);
    m_samples.resize(kTaps - 1 + n);
    m_out.resize(std::min(n, kStretch));
    for (std::size_t c = 0; c < channels; ++c) {
        std::vector<float> &history = m_history[c];
        std::copy(history.begin(), history.end(), m_samples.begin());
        for (std::size_t i = 0; i < n; ++i)
            m_samples[kTaps - 1 + i] = frames[i * channels + c];
        m_peak = std::max(m_peak, largestMagnitude(m_samples.data() + kTaps - 1, n));
        // A stretch whose samples are all too quiet for any point between
        // them to pass the peak so far is not interpolated: after a
        // sound's loudest moment that is most of it.
        for (std::size_t at = 0; at < n; at += kStretch) {
            const std::size_t length = std::min(kStretch, n - at);
            const float *in = m_samples.data() + at;
            if (largestMagnitude(in, length + kTaps - 1) * phases().gain <= m_peak)
                continue;
            for (const auto &taps : phases().taps) {
                interpolate(in, taps, m_out.data(), length);
                m_peak = std::max(m_peak, largestMagnitude(m_out.data(), length));
            }
        }
        std::copy(m_samples.end() - (kTaps - 1), m_samples.end(), history.begin());
    }
}

double TruePeak::peak() const
{
    return m_peak;
}

} // namespace auralist::analysis
