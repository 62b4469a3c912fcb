// Arbitrary bytes written to a file, opened as the waveform worker does and
// summarised: a summary (perhaps empty, with a reason), never a crash or a
// hang, never a peak outside what the frames hold, and a time scale with
// room for its ticks however long the header says the sound is.
#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "audio/decoder.h"
#include "scratch_file.h"
#include "waveform/peak_summary.h"
#include "waveform/time_scale.h"

namespace {

// A header may claim any length: a bounded number of reads.
class Bounded : public auralist::audio::Decoder {
public:
    explicit Bounded(std::unique_ptr<auralist::audio::Decoder> inner) : m_inner(std::move(inner)) { }
    int sampleRate() const override { return m_inner->sampleRate(); }
    std::int64_t frames() const override { return m_inner->frames(); }
    std::int64_t read(float *out, std::int64_t count) override
    {
        return ++m_reads > 512 ? 0 : m_inner->read(out, count);
    }
    bool seek(std::int64_t frame) override { return m_inner->seek(frame); }

private:
    std::unique_ptr<auralist::audio::Decoder> m_inner;
    int m_reads = 0;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string path = auralist::fuzzing::scratchFileWith(data, size);
    if (path.empty())
        return 0;

    std::string error;
    auto decoder = auralist::audio::openSndfileDecoder(path, error);
    if (!decoder)
        return 0;
    Bounded bounded(std::move(decoder));
    std::atomic<bool> cancelled{false};
    const auto summary = auralist::waveform::buildSummary(bounded, cancelled, nullptr, 1 << 30);
    const auto whole = summary->peakOf(0, summary->frames);
    if (summary->frames > 0 && !(std::isnan(whole.low) || std::isnan(whole.high)) && whole.low > whole.high)
        std::abort();
    // The length and rate the header claims drive the time scale: never
    // more ticks than a strip has room for.
    if (summary->sampleRate > 0) {
        const double claimed = double(summary->lengthFrames) / summary->sampleRate;
        for (const int width : {1, 800, 4000}) {
            const double step = auralist::waveform::timeScaleStep(width, claimed);
            if (claimed > 0 && (step <= 0 || claimed / step > double(width) / auralist::waveform::kTickSpacing + 1))
                std::abort();
        }
    }
    return 0;
}
