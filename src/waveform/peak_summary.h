#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace auralist::audio {
class Decoder;
}

namespace auralist::waveform {

// The shape of a sound at every scale: level 0 holds the lowest and highest
// sample (both channels folded together) of each block of kBlockFrames
// frames, each level above pairs up the one below. Any width is drawn from
// the nearest level without decoding again. About 0.8% of the decoded
// audio's size.
//
// A short sound (up to kFineFrames) also keeps the peak of every frame, so
// that a width where a pixel covers fewer frames than a block is drawn
// from the samples themselves: as large as the decoded audio, at most 4 MB.
class PeakSummary {
public:
    static constexpr int kBlockFrames = 256;
    static constexpr std::int64_t kFineFrames = std::int64_t{1} << 19;

    struct Peak {
        float low = 0;
        float high = 0;
    };

    int sampleRate = 0;
    std::int64_t frames = 0; // decoded so far (all of it once complete)
    std::int64_t lengthFrames = 0; // what the header claims
    bool complete = false;
    std::string error; // why there is nothing (or only part), for the user
    float peak = 0; // the largest magnitude of any sample so far

    // The peak of frames [from, to) at the coarsest level whose blocks are
    // no wider than the span.
    Peak peakOf(std::int64_t from, std::int64_t to) const;
    std::size_t bytes() const;

    std::vector<std::vector<Peak>> levels;
    // Each frame's low and high (both channels), for short sounds only.
    std::vector<Peak> fine;

    // Adds the frames of interleaved stereo samples.
    void append(const float *stereo, std::int64_t count);
    // Rebuilds the levels above 0 from level 0.
    void finishLevels();

private:
    bool m_fineDropped = false;
    Peak m_pending{1, -1};
    int m_pendingFrames = 0;
};

// Decodes the whole sound, giving a copy of the summary so far to progress
// every progressEvery frames (and at the end). Stops early, keeping what it
// has, when cancelled turns true or the file can be read no further.
std::shared_ptr<PeakSummary> buildSummary(
    audio::Decoder &decoder, const std::atomic<bool> &cancelled,
    const std::function<void(const std::shared_ptr<const PeakSummary> &)> &progress, std::int64_t progressEvery);

} // namespace auralist::waveform
