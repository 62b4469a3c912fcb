// Peak summaries of a 10 s stereo sound, from the file on disk:
//   summary of a WAV / FLAC   open, decode and summarise, <= 50 / 100 ms
//   summary_vs_audio_pct      summary memory / decoded audio, <= 1 %
#include <benchmark/benchmark.h>

#include <sndfile.h>
#include <unistd.h>

#include <atomic>
#include <cmath>
#include <string>
#include <vector>

#include "audio/decoder.h"
#include "sound_files.h"
#include "waveform/peak_summary.h"

using namespace auralist;

namespace {

std::string tenSeconds(int format, const char *extension)
{
    const std::string path = "/tmp/auralist-wave-bench-" + std::to_string(::getpid()) + extension;
    // One second's pattern, ten times over.
    std::vector<float> second(2 * 44100);
    for (size_t i = 0; i < second.size(); ++i)
        second[i] = 0.5F * std::sin(float(i) * 0.0627F) * std::exp(-float(i % 22050) / 4000.0F);
    std::vector<float> frames;
    for (int s = 0; s < 10; ++s)
        frames.insert(frames.end(), second.begin(), second.end());
    testing::writeSoundFile(path, format, 44100, 2, frames);
    return path;
}

void summarise(benchmark::State &state, int format, const char *extension)
{
    const std::string path = tenSeconds(format, extension);
    std::size_t bytes = 0;
    for (auto _ : state) {
        std::string error;
        auto decoder = audio::openSndfileDecoder(path, error);
        std::atomic<bool> cancelled{false};
        const auto summary = waveform::buildSummary(*decoder, cancelled, nullptr, 1 << 30);
        bytes = summary->bytes();
        benchmark::DoNotOptimize(summary.get());
    }
    ::unlink(path.c_str());
    const double audio = 10.0 * 44100 * 2 * sizeof(float);
    state.counters["summary_vs_audio_pct"] = 100.0 * double(bytes) / audio;
}

void summaryOfWav(benchmark::State &state)
{
    summarise(state, SF_FORMAT_WAV | SF_FORMAT_PCM_16, ".wav");
}
void summaryOfFlac(benchmark::State &state)
{
    summarise(state, SF_FORMAT_FLAC | SF_FORMAT_PCM_16, ".flac");
}
BENCHMARK(summaryOfWav)->Unit(benchmark::kMillisecond);
BENCHMARK(summaryOfFlac)->Unit(benchmark::kMillisecond);

} // namespace
