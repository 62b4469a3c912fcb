// The audio player against a stand-in output that pulls frames every 5 ms
// from a thread of its own, as the sound server asks for them:
//   command_to_first_frame_us  play() to the first frame of the sound
//                              handed to the output, <= 5 ms
//   render_ns_per_frame        the real-time callback's cost per frame
#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "audio/player.h"

using namespace auralist::audio;

namespace {

class SilentDecoder : public Decoder {
public:
    int sampleRate() const override { return 44100; }
    std::int64_t frames() const override { return 44100 * 60; }
    std::int64_t read(float *out, std::int64_t count) override
    {
        for (std::int64_t i = 0; i < 2 * count; ++i)
            out[i] = 0.25F;
        return count;
    }
    bool seek(std::int64_t) override { return true; }
};

class PulledOutput : public AudioOutput {
public:
    bool open(int, Render render, void *context, std::string &) override
    {
        m_context = context;
        m_render = render;
        return true;
    }
    void close() override { m_render = nullptr; }
    void flush() override { }
    bool failed() const override { return false; }
    std::int64_t latencyFrames() const override { return 0; }
    // Pulls one request's worth; the moment the first non-silent frame is seen.
    bool pull(std::vector<float> &buffer)
    {
        const Render render = m_render;
        if (!render)
            return false;
        render(m_context, buffer.data(), buffer.size() / 2);
        return buffer[0] != 0.0F;
    }

private:
    std::atomic<Render> m_render{nullptr};
    std::atomic<void *> m_context{nullptr};
};

void commandToFirstFrame(benchmark::State &state)
{
    SteadyMicroClock clock;
    PulledOutput output;
    std::atomic<bool> sounding{false};
    Player player(
        output, [](const std::string &, std::string &) { return std::make_unique<SilentDecoder>(); },
        [](const PlayerEvent &) {}, clock, Player::Options{});
    std::atomic<bool> done{false};
    std::thread server([&] {
        std::vector<float> buffer(2 * 220); // 5 ms at 44.1 kHz
        while (!done) {
            if (output.pull(buffer))
                sounding = true;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    });
    std::uint64_t serial = 1;
    double worst = 0;
    double total = 0;
    for (auto _ : state) {
        sounding = false;
        player.stop(serial);
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        sounding = false;
        const auto start = std::chrono::steady_clock::now();
        player.play(++serial, "x", 0, false);
        while (!sounding)
            std::this_thread::yield();
        const double us = std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count();
        worst = std::max(worst, us);
        total += us;
    }
    done = true;
    server.join();
    state.counters["mean_us"] = total / static_cast<double>(state.iterations());
    state.counters["worst_us"] = worst;
}
BENCHMARK(commandToFirstFrame)->Iterations(40)->Unit(benchmark::kMillisecond);

void renderCost(benchmark::State &state)
{
    SteadyMicroClock clock;
    PulledOutput output;
    Player player(
        output, [](const std::string &, std::string &) { return std::make_unique<SilentDecoder>(); },
        [](const PlayerEvent &) {}, clock, Player::Options{false, 16384, {}, {}});
    player.play(1, "x", 0, false);
    player.setGain(0.5F);
    std::vector<float> buffer(2 * 256);
    for (auto _ : state) {
        player.pump();
        output.pull(buffer);
        benchmark::DoNotOptimize(buffer.data());
    }
    state.counters["render_ns_per_frame"] = benchmark::Counter(
        static_cast<double>(state.iterations()) * 256, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(renderCost);

} // namespace
