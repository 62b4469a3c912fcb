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
#include "waveform/peak_summary.h"

using namespace auralist;

namespace {

std::string tenSeconds(int format, const char *extension)
{
    const std::string path = "/tmp/auralist-wave-bench-" + std::to_string(::getpid()) + extension;
    SF_INFO info{};
    info.samplerate = 44100;
    info.channels = 2;
    info.format = format;
    SNDFILE *f = sf_open(path.c_str(), SFM_WRITE, &info);
    std::vector<float> frames(2 * 44100);
    for (int second = 0; second < 10; ++second) {
        for (size_t i = 0; i < frames.size(); ++i)
            frames[i] = 0.5F * std::sin(float(i) * 0.0627F) * std::exp(-float(i % 22050) / 4000.0F);
        sf_writef_float(f, frames.data(), 44100);
    }
    sf_close(f);
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
