#include "audio/audio_engine.h"

#include "audio/pulse_output.h"
#include "core/diagnostics.h"
#include "platform/sound_file.h"
#include "platform/sound_types.h"

namespace auralist::audio {

namespace {

constexpr const char *kNoOutput
    = "No sound output is available. Auralist will play again as soon as the sound server is back.";
constexpr const char *kOutputFailed
    = "Sound output failed. Auralist will play again as soon as the sound server is back.";

} // namespace

// A sound as the browser sees it: a path, and the serial of its current
// play in the player.
class PlayerSound : public Sound, public std::enable_shared_from_this<PlayerSound> {
public:
    PlayerSound(AudioEngine &engine, std::string path) : m_engine(engine), m_path(std::move(path)) { }

    void setDelegate(SoundDelegate *delegate) override { m_delegate = delegate; }
    SoundDelegate *delegate() const { return m_delegate; }
    const std::string &path() const { return m_path; }

    void play() override
    {
        // Already under way, having followed the last sound without a gap.
        if (m_running) {
            m_playing = true;
            return;
        }
        playFrom(0);
    }
    void playFrom(double seconds) override
    {
        m_playing = true;
        m_serial = m_engine.start(shared_from_this(), seconds, m_looping);
    }
    void stop() override
    {
        if (!m_playing)
            return;
        m_playing = false;
        m_engine.stop(m_serial);
    }
    bool isPlaying() const override { return m_playing; }
    void setRegion(double startSeconds, double endSeconds) override { m_region = {startSeconds, endSeconds}; }
    Player::Region region() const { return m_region; }
    void setLooping(bool looping) override
    {
        m_looping = looping;
        if (m_playing || m_running)
            m_engine.setLooping(m_serial, looping);
    }
    void seekTo(double seconds) override
    {
        if (m_playing && m_rate > 0)
            m_engine.seek(m_serial, static_cast<std::int64_t>(std::max(0.0, seconds) * m_rate));
    }
    void setLevel(double loudness, double peak) override
    {
        m_level = {loudness, peak};
        // Learned while it plays (or waits to follow another sound).
        if (m_playing || m_running || m_serial != 0)
            m_engine.setLevel(m_serial, m_level);
    }
    const SoundLevel &level() const { return m_level; }

    // From the engine, on the main thread.
    void ended()
    {
        m_playing = false;
        m_running = false;
    }
    // Queued to follow another sound, under this serial.
    void queuedAs(std::uint64_t serial) { m_serial = serial; }
    // The player has begun it.
    void began() { m_running = true; }
    bool running() const { return m_running; }
    std::uint64_t serial() const { return m_serial; }
    void setRate(int rate) { m_rate = rate; }
    int rate() const { return m_rate; }

private:
    Player::Region m_region;
    AudioEngine &m_engine;
    std::string m_path;
    SoundDelegate *m_delegate = nullptr;
    std::uint64_t m_serial = 0;
    bool m_playing = false; // as the browser sees it
    bool m_running = false; // as the player does
    bool m_looping = false;
    int m_rate = 0;
    SoundLevel m_level;
};

AudioEngine::AudioEngine(Player::Measure measure, QObject *parent)
    : AudioEngine(std::make_unique<PulseOutput>(), &openSndfileDecoder, parent, std::move(measure))
{
}

AudioEngine::AudioEngine(std::unique_ptr<AudioOutput> output, Player::Opener opener, QObject *parent,
                         Player::Measure measure)
    : QObject(parent), m_types(sndfileSoundTypes()), m_output(std::move(output))
{
    m_player = std::make_unique<Player>(
        *m_output, std::move(opener),
        [this, toMain = m_mailbox.sender()](const PlayerEvent &event) {
            // From the player thread to the main thread; the mailbox is
            // closed before this engine goes.
            toMain.post([this, event] { deliver(event); });
        },
        m_clock, Player::Options{true, 65536, {}, std::move(measure)});
    // Most sounds are at 44.1 kHz: the stream is ready before the first.
    m_player->warmUp(44100);
}

AudioEngine::~AudioEngine()
{
    debugLog("player: " + std::to_string(m_player->underruns()) + " underruns in this run");
    m_mailbox.close();
    m_player.reset();
}

SoundPtr AudioEngine::load(const std::string &path)
{
    // The sound queued to follow, or already following, is that sound.
    for (std::shared_ptr<PlayerSound> *queued : {&m_followed, &m_queued}) {
        if (*queued && (*queued)->path() == path) {
            std::shared_ptr<PlayerSound> sound = std::move(*queued);
            queued->reset();
            m_loadError.clear();
            return sound;
        }
    }
    // Only a look at what the path names here; the file is opened and
    // decoded on the player's thread.
    if (!isRegularFile(path, m_loadError))
        return nullptr;
    m_loadError.clear();
    return std::make_shared<PlayerSound>(*this, path);
}

void AudioEngine::setVolume(double volume)
{
    m_player->setGain(static_cast<float>(std::clamp(volume, 0.0, 1.0)));
}

void AudioEngine::prepareNext(const SoundPtr &current, const std::string &path)
{
    const auto playing = std::dynamic_pointer_cast<PlayerSound>(current);
    if (!playing || !playing->isPlaying())
        return;
    if (m_queued && m_queued->path() == path)
        return;
    m_queued.reset();
    std::string notRegular;
    if (path.empty() || !isRegularFile(path, notRegular)) {
        m_player->queue(playing->serial(), 0, std::string());
        return;
    }
    m_queued = std::make_shared<PlayerSound>(*this, path);
    const std::uint64_t serial = m_nextSerial++;
    m_queued->queuedAs(serial);
    m_live[serial] = m_queued;
    m_player->queue(playing->serial(), serial, path);
}

std::uint64_t AudioEngine::start(const std::shared_ptr<PlayerSound> &sound, double startSeconds, bool looping)
{
    const std::uint64_t serial = m_nextSerial++;
    m_live[serial] = sound;
    m_player->play(serial, sound->path(), startSeconds, looping, sound->level(), sound->region());
    return serial;
}

void AudioEngine::deliver(const PlayerEvent &event)
{
    const auto it = m_live.find(event.serial);
    if (it == m_live.end())
        return;
    const std::shared_ptr<PlayerSound> sound = it->second;
    if (sound->serial() != event.serial) {
        // About an earlier play of a sound that has been started again.
        m_live.erase(it);
        return;
    }
    SoundDelegate *delegate = sound->delegate();
    const double rate = sound->rate() > 0 ? sound->rate() : 1.0;
    switch (event.kind) {
    case PlayerEvent::Kind::Started:
        m_problemShown = false;
        sound->setRate(event.rate);
        sound->began();
        if (sound == m_queued) {
            m_followed = std::move(m_queued);
            m_queued.reset();
        }
        return;
    case PlayerEvent::Kind::Position:
        if (event.startMicros != 0)
            debugLog("first frames handed to the device " + std::to_string(event.startMicros) + " us after play");
        if (delegate && sound->isPlaying())
            delegate->soundPositionChanged(sound, double(event.frame) / rate, double(event.length) / rate);
        return;
    case PlayerEvent::Kind::PassEnded:
        if (delegate && sound->isPlaying())
            delegate->soundDidFinishPlaying(sound, true);
        return;
    case PlayerEvent::Kind::Finished:
        m_live.erase(it);
        sound->ended();
        if (sound == m_queued)
            m_queued.reset();
        if (event.playedToEnd)
            debugLog("end reported " + std::to_string(event.lateMicros / 1000) + " ms after the last frame played");
        if (delegate)
            delegate->soundDidFinishPlaying(sound, event.playedToEnd);
        // What followed it and was not taken by the browser is not wanted.
        if (event.playedToEnd && m_followed && m_followed != sound) {
            const std::shared_ptr<PlayerSound> unwanted = std::move(m_followed);
            m_followed.reset();
            m_player->stop(unwanted->serial());
        }
        return;
    case PlayerEvent::Kind::Failed:
        m_live.erase(it);
        sound->ended();
        debugLog("sound output: " + event.reason);
        if (delegate)
            delegate->soundDidFinishPlaying(sound, false);
        reportProblem(event.atStart ? kNoOutput : kOutputFailed);
        return;
    case PlayerEvent::Kind::LoadFailed:
        m_live.erase(it);
        sound->ended();
        if (delegate)
            delegate->soundDidFailToLoad(sound, event.reason);
        return;
    }
}

void AudioEngine::reportProblem(const std::string &message)
{
    if (m_problemShown)
        return;
    m_problemShown = true;
    // Told from the event loop, after the failed sound's report.
    QMetaObject::invokeMethod(
        this,
        [this, message] {
            if (m_problemHandler)
                m_problemHandler(message);
        },
        Qt::QueuedConnection);
}

} // namespace auralist::audio
