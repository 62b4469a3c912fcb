#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <limits>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "audio/decoder.h"
#include "audio/output.h"
#include "audio/ring_buffer.h"
#include "core/worker_thread.h"

namespace auralist::audio {

// A monotonic clock in microseconds; tests give a fake one.
class MicroClock {
public:
    MicroClock() = default;
    virtual ~MicroClock() = default;
    MicroClock(const MicroClock &) = delete;
    MicroClock &operator=(const MicroClock &) = delete;
    virtual std::int64_t nowMicros() const = 0;
};

class SteadyMicroClock : public MicroClock {
public:
    std::int64_t nowMicros() const override;
};

// What the player tells its owner, always from the player thread.
struct PlayerEvent {
    enum class Kind {
        Started, // frames of the sound are on their way; length, rate
        Position, // frame is where the listener is, about 20 times a second
        PassEnded, // a looping sound's pass was heard to its end; it goes on
        Finished, // stopped (playedToEnd false) or heard to its end
        Failed, // the output failed; reason for the user
        LoadFailed, // the file could not be opened; reason for the user
    };
    Kind kind = Kind::Started;
    std::uint64_t serial = 0;
    std::int64_t frame = 0;
    std::int64_t length = 0;
    int rate = 0;
    bool playedToEnd = false;
    std::string reason;
    // Failed: the output could not be had when the sound was to start (as
    // opposed to going away while it played).
    bool atStart = false;
    // Position (the first): from the command to the first frame handed to
    // the output. Finished: how long after the last frame was heard.
    std::int64_t startMicros = 0;
    std::int64_t lateMicros = 0;
};

// How loud a sound is: integrated loudness (LUFS) and true peak (dBTP);
// NaN where not known.
struct SoundLevel {
    double loudness = std::numeric_limits<double>::quiet_NaN();
    double peak = std::numeric_limits<double>::quiet_NaN();
};

// A part of a sound, in seconds.
struct PlayRegion {
    double start = 0;
    double end = 0;
};

// Plays one sound at a time.
//
// Threads: commands come from any thread (the GUI's) through a briefly
// locked queue. The player thread owns the decoder, the sound's state
// (position, looping, where each pass ends) and the output; it decodes
// ahead into a lock-free ring. The output's real-time thread only copies
// from the ring, applies gain and the stop fade, and never waits, locks or
// allocates. Events go to the sink on the player thread.
class Player : public Stoppable {
public:
    using Opener = std::function<std::unique_ptr<Decoder>(const std::string &path, std::string &error)>;
    using EventSink = std::function<void(const PlayerEvent &)>;
    using Level = SoundLevel;
    // Measures a sound not analysed yet, from its first seconds, on the
    // player thread before it starts (a few milliseconds).
    using Measure = std::function<Level(const std::string &path)>;
    // Matched loudness: the gain that brings level to target, lowered so
    // the true peak stays at or below kPeakCeiling; 1 where the loudness is
    // not known.
    static float matchingGain(const Level &level, double target);
    static constexpr double kPeakCeiling = -1.0;

    static constexpr int kFadeMilliseconds = 5;
    static constexpr int kPositionMilliseconds = 50;

    struct Options {
        // False for tests: no thread, pump() is called by hand.
        bool threaded = true;
        std::size_t ringFrames = 65536;
        // Tests: called on the player thread as a fade is withdrawn, where
        // the output may take its next frames.
        std::function<void()> fadeWithdrawn;
        Measure measure;
    };

    Player(AudioOutput &output, Opener opener, EventSink sink, const MicroClock &clock, Options options);
    ~Player() override;
    Player(const Player &) = delete;
    Player &operator=(const Player &) = delete;

    // Commands, from any thread. A serial names the sound they are about;
    // commands about another sound than the current one are ignored.
    // known: the sound's level where the analysis has it.
    // region: only the frames from start to end (seconds) play, and a loop
    // goes round them; positions are still the file's. None when end <= start.
    using Region = PlayRegion;
    void play(std::uint64_t serial, const std::string &path, double startSeconds, bool looping, Level known = {},
              Region region = {});
    void stop(std::uint64_t serial);
    void seek(std::uint64_t serial, std::int64_t frame);
    void setLooping(std::uint64_t serial, bool looping);
    // Opens path now, as sound next, to follow sound after without a gap
    // when after plays to its end (not looping) at the same rate; an empty
    // path withdraws what was queued. next is then reported as Started when
    // its first frame is handed over, and after as Finished when heard out.
    void queue(std::uint64_t after, std::uint64_t next, const std::string &path, Level known = {});
    // Each sound started from now on plays at the gain that brings it to
    // target (LUFS), or as it is.
    void setLoudnessMatch(bool on, double target);
    // The whole sound's level, learned while it plays (it started at the
    // gain measured on its first seconds): with matched loudness on, its
    // gain moves to the new one within a few milliseconds of the output,
    // frames already decoded included. Once a sound.
    void setLevel(std::uint64_t serial, Level level);
    // Opens the output at rate ahead of the first sound, so that sound
    // starts at once; a failure here is not reported (the sound's will be).
    void warmUp(int rate);
    // 0 to 1, reached smoothly by the output.
    void setGain(float gain) { m_gain.store(gain, std::memory_order_relaxed); }

    void requestStop() override;
    bool waitStopped(Deadline deadline) override;

    // One turn of the player thread's work.
    void pump();
    // The output's callback.
    static void render(void *self, float *out, std::size_t frames);

    // Times the output wanted frames the ring did not have.
    std::uint64_t underruns() const { return m_underruns.load(std::memory_order_relaxed); }

private:
    struct Command {
        enum class Kind { Play, Stop, Seek, Loop, Warm, Queue, Match, Level } kind;
        std::uint64_t serial = 0;
        std::string path;
        std::int64_t frame = 0;
        bool flag = false;
        std::int64_t at = 0;
        double seconds = 0;
        Level level;
        Region region;
    };
    // Where a run of frames in the stream came from in the file.
    struct Segment {
        std::uint64_t streamStart;
        std::int64_t fileStart;
    };
    struct Report {
        std::int64_t due;
        bool final; // the end, not a pass
    };
    struct Current;
    struct Queued {
        std::uint64_t serial = 0;
        std::unique_ptr<Decoder> decoder;
        float gain = 1.0F;
        bool corrected = false;
    };
    struct Current {
        std::uint64_t serial = 0;
        std::unique_ptr<Decoder> decoder;
        float gain = 1.0F; // matched loudness, applied as frames go into the ring
        bool corrected = false; // its gain changed once while it played
        bool looping = false;
        int rate = 0;
        std::int64_t length = 0; // of what plays: the region, or the whole file
        std::int64_t offset = 0; // where that begins in the file
        std::int64_t fileLength = 0;
        std::deque<Segment> segments;
        std::deque<std::uint64_t> passEnds; // stream indexes
        std::optional<std::uint64_t> end; // stream index of the last frame + 1
        std::deque<Report> reports;
        std::int64_t nextPosition = 0;
        std::int64_t commandAt = 0;
        bool startReported = false;
        std::optional<Queued> next; // opened, waiting for the end
        std::unique_ptr<Current> successor; // decoding into the ring after end
    };
    struct LateFinish {
        std::uint64_t serial;
        std::int64_t due;
    };

    void run();
    void post(Command command);
    void handle(Command &command);
    void startPending();
    void beginFade();
    bool fadeDone();
    void finishFade();
    void start(Command &command);
    void applySeek(std::int64_t frame);
    // Decodes ahead into the ring, most frames at most.
    void fill(std::size_t most = std::numeric_limits<std::size_t>::max());
    void watch();
    // Reports the sounds handed over and since heard out (all: every one
    // waiting, as the last sound ends).
    void flushLateFinishes(std::int64_t now, bool all);
    void loopAfterEnd();
    void endAtPass();
    void dropQueued(Current &current);
    Current *follow(Current &sound);
    static Current currentFor(std::uint64_t serial, std::unique_ptr<Decoder> decoder, bool looping);
    void finishCurrent(bool playedToEnd, std::int64_t lateMicros = 0);
    void fail(const std::string &reason);
    std::int64_t positionOf(std::uint64_t consumed) const;
    PlayerEvent positionEvent(std::uint64_t consumed) const;
    void send(const PlayerEvent &event) { m_sink(event); }
    float gainFor(const std::string &path, Level known) const;

    AudioOutput &m_output;
    Opener m_opener;
    EventSink m_sink;
    const MicroClock &m_clock;
    FrameRing m_ring;
    std::vector<float> m_scratch;

    // Commands: the queue is the only state shared with the commanding thread.
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<Command> m_commands; // guarded by m_mutex
    bool m_quit = false; // guarded by m_mutex

    // Player thread only.
    std::optional<Current> m_current;
    std::optional<Command> m_pending; // a play or seek waiting for the fade
    bool m_fading = false;
    std::deque<LateFinish> m_lateFinishes; // sounds handed off, still heard
    std::uint64_t m_handedOffFrom = 0; // the sound the current one follows
    std::int64_t m_fadeStarted = 0;
    bool m_outputOpen = false;
    bool m_match = false;
    double m_target = -20.0;
    Measure m_measure;

    // Shared with the output callback.
    std::atomic<float> m_gain{1.0F};
    // A sound's gain changed while it played: frames of the stream before
    // m_correctedUntil went into the ring at the old gain and take
    // m_correction more as they are heard (ramped in; the frames after
    // were decoded at the new gain). The player thread stores the factor,
    // then the index (release).
    std::atomic<float> m_correction{1.0F};
    std::atomic<std::uint64_t> m_correctedUntil{0};
    float m_appliedCorrection = 1.0F; // the output's thread only
    // Set as the output is opened for a sound: its first frame takes the
    // gain as it is now, not a ramp from the level of the sound before.
    std::atomic<bool> m_gainSnap{true};
    std::atomic<int> m_fadeFrames{220};
    // The fade is one word, so the output never sees half a change: the
    // player asks (None to Requested), the output answers once silent
    // (Requested to Faded), the player withdraws it (to None) only after
    // that answer, and then the output plays again at full gain.
    enum FadeState : int { kNoFade, kFadeRequested, kFaded };
    std::atomic<int> m_fade{kNoFade};
    std::atomic<bool> m_producing{false};
    bool m_steady = false; // player thread: the output was told the sound plays steadily
    std::atomic<std::int64_t> m_firstFrameAt{0};
    // The output takes frames up to this stream index and drops the rest
    // (what was decoded past a loop's end before looping was turned off).
    static constexpr std::uint64_t kNoLimit = ~std::uint64_t{0};
    std::atomic<std::uint64_t> m_limit{kNoLimit};
    std::atomic<std::uint64_t> m_underruns{0};
    // Output callback only.
    float m_appliedGain = 1.0F;
    int m_fadeLeft = -1;

    std::function<void()> m_fadeWithdrawn;
    WorkerThread m_thread;
};

} // namespace auralist::audio
