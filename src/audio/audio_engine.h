#pragma once

#include <QObject>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "audio/player.h"
#include "core/mailbox.h"
#include "core/services.h"

namespace auralist::audio {

class PlayerSound;

// The sound engine the browser uses: sounds are opened, decoded and played
// by a Player on threads of its own; this side, on the main thread, only
// sends commands and turns the player's events into the sounds' reports.
class AudioEngine : public QObject, public SoundEngine {
    Q_OBJECT
public:
    // The real output (PulseAudio) and libsndfile.
    // measure: how a sound not analysed yet is measured for matched loudness.
    explicit AudioEngine(Player::Measure measure = {}, QObject *parent = nullptr);
    // Any output and opener (tests).
    AudioEngine(std::unique_ptr<AudioOutput> output, Player::Opener opener, QObject *parent = nullptr,
                Player::Measure measure = {});
    ~AudioEngine() override;

    SoundPtr load(const std::string &path) override;
    std::string lastLoadError() const override { return m_loadError; }
    std::vector<std::string> soundUnfilteredFileTypes() const override { return m_types; }
    void setVolume(double volume) override;
    void setLoudnessMatch(bool on, double target) override { m_player->setLoudnessMatch(on, target); }
    void prepareNext(const SoundPtr &current, const std::string &path) override;

    // Called once each time sound output fails after having worked (or at
    // the first try), with a message for the user, after the failed
    // sound's report.
    void setOutputProblemHandler(std::function<void(const std::string &)> handler)
    {
        m_problemHandler = std::move(handler);
    }

    Player &player() { return *m_player; }

    // For sounds.
    std::uint64_t start(const std::shared_ptr<PlayerSound> &sound, double startSeconds, bool looping);
    void stop(std::uint64_t serial) { m_player->stop(serial); }
    void seek(std::uint64_t serial, std::int64_t frame) { m_player->seek(serial, frame); }
    void setLooping(std::uint64_t serial, bool looping) { m_player->setLooping(serial, looping); }
    void setLevel(std::uint64_t serial, const SoundLevel &level) { m_player->setLevel(serial, level); }

private:
    void deliver(const PlayerEvent &event);
    void reportProblem(const std::string &message);

    std::vector<std::string> m_types;
    std::string m_loadError;
    std::unique_ptr<AudioOutput> m_output;
    SteadyMicroClock m_clock;
    std::uint64_t m_nextSerial = 1;
    // Sounds started and not yet finished, by serial.
    std::unordered_map<std::uint64_t, std::shared_ptr<PlayerSound>> m_live;
    // Opened to follow the playing sound; then, once it has begun, the one
    // that followed, until the browser takes it (load) or it is stopped.
    std::shared_ptr<PlayerSound> m_queued;
    std::shared_ptr<PlayerSound> m_followed;
    bool m_problemShown = false;
    std::function<void(const std::string &)> m_problemHandler;
    Mailbox m_mailbox;
    // Last: it is stopped (its threads joined) before the rest goes.
    std::unique_ptr<Player> m_player;
};

} // namespace auralist::audio
