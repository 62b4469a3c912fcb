#pragma once

#include <atomic>

#include "audio/output.h"

struct pa_context;
struct pa_stream;
struct pa_threaded_mainloop;

namespace auralist::audio {

// The output through PulseAudio's threaded API (which PipeWire's pulse
// server also speaks). One stream for as long as the sample rate stays the
// same, with a small buffer asked of the server; the render callback is
// called from PulseAudio's own thread each time the server wants data.
// That thread asks for real-time scheduling as it first connects, so that
// on a busy machine it still answers the server; where the system does not
// grant it, it runs as before.
class PulseOutput : public AudioOutput {
public:
    // Asked of the server: how much it may hold ahead of the speaker.
    static constexpr int kTargetMilliseconds = 40;
    // ... and once a sound plays steadily.
    static constexpr int kSteadyMilliseconds = 200;

    PulseOutput();
    ~PulseOutput() override;

    bool open(int rate, Render render, void *context, std::string &error) override;
    void close() override;
    void flush() override;
    void setSteady(bool steady) override;
    bool failed() const override { return m_failed.load(std::memory_order_acquire); }
    std::int64_t latencyFrames() const override;

    // Whether the output's thread runs with real-time scheduling (known
    // once the thread has started: false until then).
    bool realtime() const { return m_realtime.load(std::memory_order_acquire) > 0; }

private:
    static void onContextState(pa_context *context, void *self);
    static void onStreamState(pa_stream *stream, void *self);
    static void onWrite(pa_stream *stream, size_t bytes, void *self);
    static void becomeRealtime(PulseOutput *self);
    bool connect(std::string &error);
    void disconnect();
    void closeStream();

    pa_threaded_mainloop *m_loop = nullptr;
    pa_context *m_context = nullptr;
    pa_stream *m_stream = nullptr;
    int m_rate = 0;
    Render m_render = nullptr;
    void *m_renderContext = nullptr;
    std::atomic<bool> m_failed{false};
    std::atomic<int> m_realtime{0}; // 0 not yet known, 1 granted, -1 refused
    bool m_realtimeLogged = false; // player thread
    bool m_steady = false; // under the loop's lock
};

} // namespace auralist::audio
