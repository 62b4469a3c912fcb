#pragma once

#include <array>
#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <optional>
#include <string>

namespace auralist::analysis {

// What is known of a sound from how it sounds.
struct Analysis {
    static constexpr double kNone = std::numeric_limits<double>::quiet_NaN();
    static constexpr std::size_t kDescriptorSize = 32;
    enum class Kind : std::uint8_t { OneShot, Loop };

    // False: it could not be analysed, and error says why.
    bool ok = false;
    std::string error;
    double seconds = 0;
    // EBU R128 integrated loudness (LUFS); for a sound under 0.4 s the
    // largest momentary loudness. NaN for silence.
    double loudness = kNone;
    // True peak (dBTP); NaN for digital silence.
    double peak = kNone;
    Kind kind = Kind::OneShot;
    // The tempo of a loop with a steady pulse; NaN otherwise.
    double bpm = kNone;
    // The fundamental of a tonal one-shot as a MIDI note (69: A4); -1: none.
    int note = -1;
    // A hash of the decoded samples with their rate and channels: equal for
    // the same audio in any container.
    std::uint64_t audioHash = 0;
    // Timbre (MFCC means and spreads), brightness, noisiness, envelope,
    // pitch and length, each scaled to about one unit of spread.
    std::array<float, kDescriptorSize> descriptor{};
};

// Analyses a sound given a block of frames at a time.
//
// Threads: one object, one thread; objects on different threads share
// nothing.
class Analyser {
public:
    Analyser(int channels, int rate);
    ~Analyser();
    Analyser(const Analyser &) = delete;
    Analyser &operator=(const Analyser &) = delete;

    // Takes count interleaved frames.
    void add(const float *frames, std::int64_t count);
    Analysis finish();

private:
    struct State;
    std::unique_ptr<State> m_state;
};

// How loud the first seconds of the file at path are, for a sound that is
// to play before it is analysed: integrated loudness (under 0.4 s, the
// largest momentary loudness) and true peak; NaN where not known. A few
// milliseconds for the usual sample.
struct StartLevel {
    double loudness = Analysis::kNone;
    double peak = Analysis::kNone;
};
StartLevel measureStart(const std::string &path, double seconds = 3.0);

// Decodes the file at path and analyses it. stopped is asked between
// blocks: when it says so the result is not ok ("stopped").
Analysis analyseFile(const std::string &path, const std::function<bool()> &stopped = {});

// The hash of a sound's decoded audio, made as its analysis makes it, to
// tell whether two files hold the same sound: nothing when the file
// cannot be read, holds samples that are not numbers, or stopped says so.
std::optional<std::uint64_t> audioHashOf(const std::string &path, const std::function<bool()> &stopped = {});

} // namespace auralist::analysis
