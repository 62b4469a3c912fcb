#include "platform/sndfile_engine.h"

#include <QAudioDevice>
#include <QAudioSink>
#include <QMediaDevices>

#include <sndfile.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "core/diagnostics.h"
#include "platform/decoder_messages.h"
#include "platform/sound_file.h"
#include "platform/sound_types.h"

namespace auralist {

// One sound file, open for decoding.
class EngineSound : public Sound, public std::enable_shared_from_this<EngineSound> {
public:
    EngineSound(SndfileSoundEngine &engine, SNDFILE *file, const SF_INFO &info, std::string path)
        : m_engine(engine), m_file(file), m_info(info), m_path(std::move(path))
    {
    }
    ~EngineSound() override { sf_close(m_file); }

    void setDelegate(SoundDelegate *delegate) override { m_delegate = delegate; }
    SoundDelegate *delegate() const { return m_delegate; }
    void play() override { m_engine.start(shared_from_this()); }
    void stop() override { m_engine.stop(this); }
    bool isPlaying() const override { return m_engine.isActive(this); }

    const std::string &path() const { return m_path; }
    int sampleRate() const { return m_info.samplerate; }
    int channels() const { return m_info.channels; }
    bool rewind() { return sf_seek(m_file, 0, SEEK_SET) == 0 || m_info.seekable == 0; }
    sf_count_t read(float *out, sf_count_t frames) { return sf_readf_float(m_file, out, frames); }

private:
    SndfileSoundEngine &m_engine;
    SNDFILE *m_file;
    SF_INFO m_info;
    std::string m_path;
    SoundDelegate *m_delegate = nullptr;
};

namespace {

// Whether a PulseAudio server (or PipeWire's) listens on its usual socket.
// A server named in PULSE_SERVER is left to the backend to find.
bool soundServerAnswers()
{
    // NOLINTBEGIN(concurrency-mt-unsafe): nothing in Auralist sets the environment
    if (std::getenv("PULSE_SERVER"))
        return true;
    const char *runtime = std::getenv("XDG_RUNTIME_DIR");
    // NOLINTEND(concurrency-mt-unsafe)
    const std::string path = std::string(runtime ? runtime : "/run/user/" + std::to_string(::getuid())) + "/pulse/native";
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path)
        return true;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return true;
    const bool answers = ::connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0;
    ::close(fd);
    return answers;
}

constexpr const char *kNoOutput =
    "No sound output is available. Auralist will play again as soon as the sound server is back.";
constexpr const char *kOutputFailed =
    "Sound output failed. Auralist will play again as soon as the sound server is back.";

// The sink's buffer; stop drops it at once, so its length bounds how long
// the event loop may stall before the sound underruns, and how long after
// the last frame is handed over it is heard.
constexpr int kBufferMilliseconds = 1000;
constexpr int kPumpMilliseconds = 5;

} // namespace

SndfileSoundEngine::SndfileSoundEngine(QObject *parent) : QObject(parent), m_types(sndfileSoundTypes())
{
    m_timer.setInterval(kPumpMilliseconds);
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, &SndfileSoundEngine::pump);
}

SndfileSoundEngine::~SndfileSoundEngine()
{
    m_timer.stop();
    if (m_sink)
        m_sink->reset();
}

SoundPtr SndfileSoundEngine::load(const std::string &path)
{
    SF_INFO info{};
    DecoderMessages::setCurrentFile(path);
    SNDFILE *file = openSoundFile(path, info, &m_loadError);
    if (!file)
        return nullptr;
    m_loadError.clear();
    return std::make_shared<EngineSound>(*this, file, info, path);
}

bool SndfileSoundEngine::openSink(int sampleRate, int channels)
{
    closeSink();
    // Qt's PulseAudio backend connects once, when first asked; if the
    // server is not there then, it never looks again. So it is not asked
    // until the server answers; once connected, it reconnects by itself.
    if (!m_outputStarted && !soundServerAnswers()) {
        reportProblem(kNoOutput);
        return false;
    }
    const QAudioDevice device = QMediaDevices::defaultAudioOutput();
    m_outputStarted = true;
    if (device.isNull()) {
        reportProblem(kNoOutput);
        return false;
    }
    QAudioFormat format;
    format.setSampleRate(sampleRate);
    format.setChannelCount(std::min(channels, 2));
    format.setSampleFormat(QAudioFormat::Float);
    m_format = format;
    m_sink = std::make_unique<QAudioSink>(device, format);
    m_sink->setBufferSize(format.bytesForDuration(qint64(kBufferMilliseconds) * 1000));
    return true;
}

void SndfileSoundEngine::closeSink()
{
    if (m_sink)
        m_sink->reset();
    m_sink.reset();
    m_io = nullptr;
}

void SndfileSoundEngine::reportProblem(const std::string &message)
{
    debugLog(message);
    if (m_problemShown)
        return;
    m_problemShown = true;
    // Told after the sound's own end is reported (see finishActive), so a
    // modal message cannot hold that report back.
    m_pendingProblem = message;
}

void SndfileSoundEngine::start(const std::shared_ptr<EngineSound> &sound)
{
    m_clock.start();
    if (m_active)
        finishActive(false);
    DecoderMessages::setCurrentFile(sound->path());
    sound->rewind();
    // A fresh stream for every sound: a restarted one may stall for a
    // second or two before the server asks for more.
    if (!openSink(sound->sampleRate(), sound->channels())) {
        m_active = sound;
        finishActive(false);
        return;
    }
    m_io = m_sink->start();
    if (!m_io || m_sink->error() != QAudio::NoError) {
        reportProblem(kOutputFailed);
        closeSink();
        m_active = sound;
        finishActive(false);
        return;
    }
    m_problemShown = false;
    m_active = sound;
    m_framesWritten = 0;
    m_decodeDone = false;
    m_pending.clear();
    m_startUSecs = m_sink->processedUSecs();
    pump();
    debugLog("first frames handed to the device " + std::to_string(m_clock.nsecsElapsed() / 1000) + " us after play");
    if (m_active)
        m_timer.start();
}

void SndfileSoundEngine::stop(EngineSound *sound)
{
    if (m_active.get() == sound)
        finishActive(false);
}

void SndfileSoundEngine::pump()
{
    if (!m_active || !m_sink || !m_io) {
        m_timer.stop();
        return;
    }
    if (m_sink->error() != QAudio::NoError && m_sink->error() != QAudio::UnderrunError) {
        reportProblem(kOutputFailed);
        closeSink();
        finishActive(false);
        return;
    }
    const int outChannels = m_format.channelCount();
    const qint64 bytesPerFrame = qint64(sizeof(float)) * outChannels;
    qint64 freeBytes = m_sink->bytesFree();
    if (!m_pending.empty() && freeBytes > 0) {
        const qint64 n = m_io->write(m_pending.data(), std::min<qint64>(freeBytes, qint64(m_pending.size())));
        if (n > 0) {
            m_pending.erase(m_pending.begin(), m_pending.begin() + n);
            freeBytes -= n;
        }
    }
    if (!m_decodeDone && m_pending.empty()) {
        const qint64 frames = freeBytes / bytesPerFrame;
        if (frames > 0) {
            const int inChannels = m_active->channels();
            m_decoded.resize(static_cast<size_t>(frames * inChannels));
            const sf_count_t got = m_active->read(m_decoded.data(), frames);
            if (got <= 0) {
                m_decodeDone = true;
            } else {
                if (inChannels > outChannels) {
                    // Keep the first two channels: front left and right.
                    for (sf_count_t f = 0; f < got; ++f) {
                        for (int c = 0; c < outChannels; ++c)
                            m_decoded[static_cast<size_t>(f * outChannels + c)] =
                                m_decoded[static_cast<size_t>(f * inChannels + c)];
                    }
                }
                const qint64 bytes = got * bytesPerFrame;
                const char *data = reinterpret_cast<const char *>(m_decoded.data());
                const qint64 n = m_io->write(data, bytes);
                const qint64 written = std::max<qint64>(n, 0);
                if (written < bytes)
                    m_pending.assign(data + written, data + bytes);
                m_framesWritten += got;
                if (got < frames)
                    m_decodeDone = true;
            }
        }
    }
    if (m_decodeDone && m_pending.empty()) {
        // After the last frame, silence: the server starts a stream only
        // once its buffer has filled, and a short sound never fills it.
        if (freeBytes > 0) {
            m_silence.resize(static_cast<size_t>(freeBytes));
            m_io->write(m_silence.data(), freeBytes);
        }
        const qint64 totalUSecs = m_framesWritten * 1000000 / m_format.sampleRate();
        const qint64 played = m_sink->processedUSecs() - m_startUSecs;
        // The device's own count decides; the clock only rescues a server
        // that stopped counting.
        const qint64 overdueMs = totalUSecs / 1000 + qint64{2} * kBufferMilliseconds + 2000;
        if (played >= totalUSecs || m_clock.elapsed() > overdueMs) {
            debugLog("end reported " + std::to_string((played - totalUSecs) / 1000) + " ms after the last frame played");
            finishActive(true);
        }
    }
}

void SndfileSoundEngine::finishActive(bool finished)
{
    std::shared_ptr<EngineSound> sound = std::move(m_active);
    m_active.reset();
    m_timer.stop();
    closeSink(); // what is left in the buffer is silence, or was stopped
    // Reported from the event loop, never from inside play or stop.
    if (sound) {
        QMetaObject::invokeMethod(
            this,
            [sound, finished] {
                if (SoundDelegate *delegate = sound->delegate())
                    delegate->soundDidFinishPlaying(sound, finished);
            },
            Qt::QueuedConnection);
    }
    if (!m_pendingProblem.empty()) {
        QMetaObject::invokeMethod(
            this,
            [this, message = std::move(m_pendingProblem)] {
                if (m_problemHandler)
                    m_problemHandler(message);
            },
            Qt::QueuedConnection);
        m_pendingProblem.clear();
    }
}

} // namespace auralist
