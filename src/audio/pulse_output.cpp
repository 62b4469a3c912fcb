#include "audio/pulse_output.h"

#include <pulse/pulseaudio.h>
#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "core/diagnostics.h"

namespace auralist::audio {

namespace {

constexpr int kRequestMilliseconds = 5;
// The sound server's own threads run at real-time priority 5.
constexpr int kRealtimePriority = 5;

// Holds the mainloop's lock for a scope.
class Locked {
public:
    explicit Locked(pa_threaded_mainloop *loop) : m_loop(loop) { pa_threaded_mainloop_lock(m_loop); }
    ~Locked() { pa_threaded_mainloop_unlock(m_loop); }
    Locked(const Locked &) = delete;
    Locked &operator=(const Locked &) = delete;

private:
    pa_threaded_mainloop *m_loop;
};

// The stream's format: float stereo at rate.
pa_sample_spec specAt(int rate)
{
    return {PA_SAMPLE_FLOAT32LE, static_cast<std::uint32_t>(rate), 2};
}

// What is asked of the server: to hold target milliseconds ahead, asking
// for more every few milliseconds.
pa_buffer_attr bufferOf(const pa_sample_spec &spec, int target)
{
    pa_buffer_attr attr{};
    attr.maxlength = static_cast<std::uint32_t>(-1);
    attr.tlength = static_cast<std::uint32_t>(pa_usec_to_bytes(target * PA_USEC_PER_MSEC, &spec));
    attr.prebuf = static_cast<std::uint32_t>(-1);
    attr.minreq = static_cast<std::uint32_t>(pa_usec_to_bytes(kRequestMilliseconds * PA_USEC_PER_MSEC, &spec));
    attr.fragsize = static_cast<std::uint32_t>(-1);
    return attr;
}

} // namespace

PulseOutput::PulseOutput() : m_loop(pa_threaded_mainloop_new())
{
    if (!m_loop)
        return;
    // Nothing is queued on the loop from here: its thread asks for its
    // scheduling from the first callback it runs (the connection's state),
    // so no event is made from another thread, and none is left unrun.
    if (pa_threaded_mainloop_start(m_loop) < 0) {
        pa_threaded_mainloop_free(m_loop);
        m_loop = nullptr;
    }
}

// On the mainloop's thread, once. Round robin at the server's own
// priority, or at what the user's real-time limit allows; not inherited
// by anything the thread might start.
void PulseOutput::becomeRealtime(PulseOutput *self)
{
    int priority = kRealtimePriority;
    rlimit limit{};
    if (::geteuid() != 0 && ::getrlimit(RLIMIT_RTPRIO, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY)
        priority = std::min<int>(priority, static_cast<int>(limit.rlim_cur));
    sched_param param{};
    param.sched_priority = priority;
    const bool granted = priority > 0 && ::sched_setscheduler(0, SCHED_RR | SCHED_RESET_ON_FORK, &param) == 0;
    self->m_realtime.store(granted ? 1 : -1, std::memory_order_release);
}

PulseOutput::~PulseOutput()
{
    if (!m_loop)
        return;
    {
        const Locked lock(m_loop);
        closeStream();
        disconnect();
    }
    pa_threaded_mainloop_stop(m_loop);
    pa_threaded_mainloop_free(m_loop);
}

void PulseOutput::onContextState(pa_context *context, void *self)
{
    auto *out = static_cast<PulseOutput *>(self);
    if (out->m_realtime.load(std::memory_order_relaxed) == 0)
        becomeRealtime(out);
    if (!PA_CONTEXT_IS_GOOD(pa_context_get_state(context)))
        out->m_failed.store(true, std::memory_order_release);
    pa_threaded_mainloop_signal(out->m_loop, 0);
}

void PulseOutput::onStreamState(pa_stream *stream, void *self)
{
    auto *out = static_cast<PulseOutput *>(self);
    if (!PA_STREAM_IS_GOOD(pa_stream_get_state(stream)))
        out->m_failed.store(true, std::memory_order_release);
    pa_threaded_mainloop_signal(out->m_loop, 0);
}

// On PulseAudio's thread: the server wants bytes more. They are rendered
// straight into the server's own buffer.
void PulseOutput::onWrite(pa_stream *stream, size_t bytes, void *self)
{
    auto *out = static_cast<PulseOutput *>(self);
    constexpr size_t kFrameBytes = 2 * sizeof(float);
    while (bytes >= kFrameBytes) {
        void *data = nullptr;
        size_t size = bytes;
        if (pa_stream_begin_write(stream, &data, &size) < 0 || !data)
            return;
        const size_t frames = std::min(size, bytes) / kFrameBytes;
        if (frames == 0) {
            pa_stream_cancel_write(stream);
            return;
        }
        if (out->m_render)
            out->m_render(out->m_renderContext, static_cast<float *>(data), frames);
        else
            std::memset(data, 0, frames * kFrameBytes);
        pa_stream_write(stream, data, frames * kFrameBytes, nullptr, 0, PA_SEEK_RELATIVE);
        bytes -= frames * kFrameBytes;
    }
}

bool PulseOutput::connect(std::string &error)
{
    if (m_context && pa_context_get_state(m_context) == PA_CONTEXT_READY && !failed())
        return true;
    closeStream();
    disconnect();
    m_failed.store(false, std::memory_order_release);
    m_context = pa_context_new(pa_threaded_mainloop_get_api(m_loop), "Auralist");
    if (!m_context) {
        error = "The sound server cannot be reached.";
        return false;
    }
    pa_context_set_state_callback(m_context, &PulseOutput::onContextState, this);
    if (pa_context_connect(m_context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
        error = pa_strerror(pa_context_errno(m_context));
        disconnect();
        return false;
    }
    for (;;) {
        const pa_context_state_t state = pa_context_get_state(m_context);
        if (state == PA_CONTEXT_READY)
            return true;
        if (!PA_CONTEXT_IS_GOOD(state)) {
            error = pa_strerror(pa_context_errno(m_context));
            disconnect();
            return false;
        }
        pa_threaded_mainloop_wait(m_loop);
    }
}

void PulseOutput::disconnect()
{
    if (!m_context)
        return;
    pa_context_set_state_callback(m_context, nullptr, nullptr);
    pa_context_disconnect(m_context);
    pa_context_unref(m_context);
    m_context = nullptr;
}

void PulseOutput::closeStream()
{
    if (!m_stream)
        return;
    pa_stream_set_state_callback(m_stream, nullptr, nullptr);
    pa_stream_set_write_callback(m_stream, nullptr, nullptr);
    pa_stream_disconnect(m_stream);
    pa_stream_unref(m_stream);
    m_stream = nullptr;
    m_rate = 0;
}

bool PulseOutput::open(int rate, Render render, void *context, std::string &error)
{
    if (!m_loop) {
        error = "No sound output is available.";
        return false;
    }
    const Locked lock(m_loop);
    if (!connect(error))
        return false;
    if (!m_realtimeLogged && m_realtime.load(std::memory_order_acquire) != 0) {
        m_realtimeLogged = true;
        debugLog(realtime() ? "sound output thread: real-time (round robin, priority "
                         + std::to_string(kRealtimePriority) + " at most)"
                            : "sound output thread: normal priority (real-time scheduling not granted)");
    }
    m_render = render;
    m_renderContext = context;
    if (m_stream && m_rate == rate && pa_stream_get_state(m_stream) == PA_STREAM_READY)
        return true;
    closeStream();
    const pa_sample_spec spec = specAt(rate);
    m_stream = pa_stream_new(m_context, "Auralist", &spec, nullptr);
    if (!m_stream) {
        error = pa_strerror(pa_context_errno(m_context));
        return false;
    }
    pa_stream_set_state_callback(m_stream, &PulseOutput::onStreamState, this);
    pa_stream_set_write_callback(m_stream, &PulseOutput::onWrite, this);
    const pa_buffer_attr attr = bufferOf(spec, kTargetMilliseconds);
    m_steady = false;
    const auto flags = static_cast<pa_stream_flags_t>(PA_STREAM_ADJUST_LATENCY | PA_STREAM_AUTO_TIMING_UPDATE
                                                      | PA_STREAM_INTERPOLATE_TIMING);
    if (pa_stream_connect_playback(m_stream, nullptr, &attr, flags, nullptr, nullptr) < 0) {
        error = pa_strerror(pa_context_errno(m_context));
        closeStream();
        return false;
    }
    for (;;) {
        const pa_stream_state_t state = pa_stream_get_state(m_stream);
        if (state == PA_STREAM_READY)
            break;
        if (!PA_STREAM_IS_GOOD(state)) {
            error = pa_strerror(pa_context_errno(m_context));
            closeStream();
            return false;
        }
        pa_threaded_mainloop_wait(m_loop);
    }
    m_rate = rate;
    return true;
}

void PulseOutput::flush()
{
    if (!m_loop)
        return;
    const Locked lock(m_loop);
    if (m_stream && pa_stream_get_state(m_stream) == PA_STREAM_READY) {
        if (pa_operation *op = pa_stream_flush(m_stream, nullptr, nullptr))
            pa_operation_unref(op);
    }
}

void PulseOutput::setSteady(bool steady)
{
    if (!m_loop)
        return;
    const Locked lock(m_loop);
    if (!m_stream || steady == m_steady || pa_stream_get_state(m_stream) != PA_STREAM_READY)
        return;
    m_steady = steady;
    const pa_sample_spec spec = specAt(m_rate);
    const pa_buffer_attr attr = bufferOf(spec, steady ? kSteadyMilliseconds : kTargetMilliseconds);
    if (pa_operation *op = pa_stream_set_buffer_attr(m_stream, &attr, nullptr, nullptr))
        pa_operation_unref(op);
}

void PulseOutput::close()
{
    if (!m_loop)
        return;
    const Locked lock(m_loop);
    closeStream();
}

std::int64_t PulseOutput::latencyFrames() const
{
    if (!m_loop)
        return 0;
    const Locked lock(m_loop);
    if (!m_stream || m_rate == 0)
        return 0;
    pa_usec_t usec = 0;
    int negative = 0;
    if (pa_stream_get_latency(m_stream, &usec, &negative) < 0 || negative)
        return static_cast<std::int64_t>(m_rate) * kTargetMilliseconds / 1000;
    return static_cast<std::int64_t>(usec * static_cast<pa_usec_t>(m_rate) / PA_USEC_PER_SEC);
}

} // namespace auralist::audio
