// Analysis on one thread, from files on disk, as "times real time"
// (seconds of sound analysed per second; the floor is 300):
//   analyse/WAV60, analyse/FLAC60  a 60 s stereo sound, decode and every stage
//   analyse/WAV1x300               300 one-second stereo files
// and each stage alone on the decoded 60 s, so a slow one shows:
//   stage/decodeWav, stage/decodeFlac, stage/loudness (libebur128, integrated),
//   stage/ebur128TruePeak (libebur128's own true-peak mode, for comparison),
//   stage/truePeak (ours), stage/everything (the analyser without decoding).
#include <benchmark/benchmark.h>

#include <ebur128.h>
#include <sndfile.h>
#include <unistd.h>

#include <cmath>
#include <string>
#include <vector>

#include "analysis/analyse.h"
#include "analysis/true_peak.h"
#include "sound_files.h"

using namespace auralist;

namespace {

constexpr int kRate = 44100;

// Something like a drum loop: a decaying tone and a noise burst on each beat.
std::vector<float> loop(double seconds)
{
    const auto frames = static_cast<std::size_t>(seconds * kRate);
    std::vector<float> out(frames * 2);
    std::uint32_t noise = 1;
    for (std::size_t i = 0; i < frames; ++i) {
        const double t = static_cast<double>(i) / kRate;
        const double beat = std::fmod(t, 0.5);
        noise = noise * 1664525U + 1013904223U;
        const double n = (static_cast<double>(noise >> 8) / (1 << 24) - 0.5) * std::exp(-beat * 30);
        const double v = 0.4 * std::sin(2 * M_PI * 110 * t) * std::exp(-beat * 6) + 0.3 * n;
        out[2 * i] = static_cast<float>(v);
        out[2 * i + 1] = static_cast<float>(0.9 * v);
    }
    return out;
}

std::string fileOf(const std::vector<float> &frames, int format, const std::string &name)
{
    const std::string path = "/tmp/auralist-analysis-bench-" + std::to_string(::getpid()) + name;
    testing::writeSoundFile(path, format, kRate, 2, frames);
    return path;
}

void analyseFiles(benchmark::State &state, const std::vector<std::string> &paths, double seconds)
{
    for (auto _ : state) {
        for (const std::string &path : paths)
            benchmark::DoNotOptimize(analysis::analyseFile(path));
    }
    state.counters["x_real_time"]
        = benchmark::Counter(seconds * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    for (const std::string &path : paths)
        ::unlink(path.c_str());
}

void wav60(benchmark::State &state)
{
    analyseFiles(state, {fileOf(loop(60), SF_FORMAT_WAV | SF_FORMAT_PCM_16, ".wav")}, 60);
}
void flac60(benchmark::State &state)
{
    analyseFiles(state, {fileOf(loop(60), SF_FORMAT_FLAC | SF_FORMAT_PCM_16, ".flac")}, 60);
}
void wav1x300(benchmark::State &state)
{
    const std::vector<float> second = loop(1);
    std::vector<std::string> paths;
    for (int i = 0; i < 300; ++i)
        paths.push_back(fileOf(second, SF_FORMAT_WAV | SF_FORMAT_PCM_16, "-" + std::to_string(i) + ".wav"));
    analyseFiles(state, paths, 300);
}

const std::vector<float> &decoded()
{
    static const std::vector<float> frames = loop(60);
    return frames;
}

void rate(benchmark::State &state)
{
    state.counters["x_real_time"]
        = benchmark::Counter(60.0 * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

void decode(benchmark::State &state, int format, const char *extension)
{
    const std::string path = fileOf(decoded(), format, extension);
    std::vector<float> block(8192 * 2);
    for (auto _ : state) {
        SF_INFO info{};
        SNDFILE *f = sf_open(path.c_str(), SFM_READ, &info);
        while (sf_readf_float(f, block.data(), 8192) > 0)
            benchmark::ClobberMemory();
        sf_close(f);
    }
    rate(state);
    ::unlink(path.c_str());
}
void decodeWav(benchmark::State &state)
{
    decode(state, SF_FORMAT_WAV | SF_FORMAT_PCM_16, ".wav");
}
void decodeFlac(benchmark::State &state)
{
    decode(state, SF_FORMAT_FLAC | SF_FORMAT_PCM_16, ".flac");
}

void ebur128With(benchmark::State &state, int mode)
{
    const std::vector<float> &frames = decoded();
    for (auto _ : state) {
        ebur128_state *st = ebur128_init(2, kRate, mode);
        for (std::size_t at = 0; at < frames.size() / 2; at += 8192)
            ebur128_add_frames_float(st, frames.data() + at * 2, std::min<std::size_t>(8192, frames.size() / 2 - at));
        double out = 0;
        ebur128_loudness_global(st, &out);
        benchmark::DoNotOptimize(out);
        ebur128_destroy(&st);
    }
    rate(state);
}
void loudness(benchmark::State &state)
{
    ebur128With(state, EBUR128_MODE_I);
}
void ebur128TruePeak(benchmark::State &state)
{
    ebur128With(state, EBUR128_MODE_I | EBUR128_MODE_TRUE_PEAK);
}

void truePeak(benchmark::State &state)
{
    const std::vector<float> &frames = decoded();
    for (auto _ : state) {
        analysis::TruePeak peak(2);
        for (std::size_t at = 0; at < frames.size() / 2; at += 8192)
            peak.add(frames.data() + at * 2,
                     static_cast<std::int64_t>(std::min<std::size_t>(8192, frames.size() / 2 - at)));
        benchmark::DoNotOptimize(peak.peak());
    }
    rate(state);
}

void everything(benchmark::State &state)
{
    const std::vector<float> &frames = decoded();
    for (auto _ : state) {
        analysis::Analyser a(2, kRate);
        for (std::size_t at = 0; at < frames.size() / 2; at += 8192)
            a.add(frames.data() + at * 2,
                  static_cast<std::int64_t>(std::min<std::size_t>(8192, frames.size() / 2 - at)));
        benchmark::DoNotOptimize(a.finish());
    }
    rate(state);
}

} // namespace

BENCHMARK(wav60)->Name("analyse/WAV60")->Unit(benchmark::kMillisecond);
BENCHMARK(flac60)->Name("analyse/FLAC60")->Unit(benchmark::kMillisecond);
BENCHMARK(wav1x300)->Name("analyse/WAV1x300")->Unit(benchmark::kMillisecond);
BENCHMARK(decodeWav)->Name("stage/decodeWav")->Unit(benchmark::kMillisecond);
BENCHMARK(decodeFlac)->Name("stage/decodeFlac")->Unit(benchmark::kMillisecond);
BENCHMARK(loudness)->Name("stage/loudness")->Unit(benchmark::kMillisecond);
BENCHMARK(ebur128TruePeak)->Name("stage/ebur128TruePeak")->Unit(benchmark::kMillisecond);
BENCHMARK(truePeak)->Name("stage/truePeak")->Unit(benchmark::kMillisecond);
BENCHMARK(everything)->Name("stage/everything")->Unit(benchmark::kMillisecond);
