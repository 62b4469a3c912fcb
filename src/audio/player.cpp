#include "audio/player.h"

#include <algorithm>
#include <chrono>
#include <cmath>

namespace auralist::audio {

namespace {

// Frames first to last of another decoder, as a sound of their own.
class RegionDecoder : public Decoder {
public:
    RegionDecoder(std::unique_ptr<Decoder> inner, std::int64_t first, std::int64_t last)
        : m_inner(std::move(inner)), m_first(first), m_length(last - first + 1)
    {
        m_inner->seek(m_first);
    }
    int sampleRate() const override { return m_inner->sampleRate(); }
    std::int64_t frames() const override { return m_length; }
    std::int64_t read(float *out, std::int64_t count) override
    {
        const std::int64_t got = m_inner->read(out, std::min(count, m_length - m_at));
        m_at += std::max<std::int64_t>(got, 0);
        return got;
    }
    bool seek(std::int64_t frame) override
    {
        if (!m_inner->seek(m_first + frame))
            return false;
        m_at = frame;
        return true;
    }

private:
    std::unique_ptr<Decoder> m_inner;
    std::int64_t m_first;
    std::int64_t m_length;
    std::int64_t m_at = 0;
};

// How often the player thread looks at the ring while a sound plays.
constexpr auto kTick = std::chrono::milliseconds(2);
// A fade the output never finishes (it has stopped calling) is given up on.
constexpr std::int64_t kFadeTimeoutMicros = 100000;
// What is decoded before a sound starts; the ring fills up as it plays.
constexpr std::size_t kStartFrames = 16384;
// How long a sound plays before the server may hold more of it ahead.
constexpr std::int64_t kSteadyAfterMicros = 300000;
// Frames decoded at a time.
constexpr std::int64_t kChunkFrames = 2048;

PlayerEvent event(PlayerEvent::Kind kind, std::uint64_t serial)
{
    PlayerEvent e;
    e.kind = kind;
    e.serial = serial;
    return e;
}

} // namespace

std::int64_t SteadyMicroClock::nowMicros() const
{
    return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

Player::Player(AudioOutput &output, Opener opener, EventSink sink, const MicroClock &clock, Options options)
    : m_output(output),
      m_opener(std::move(opener)),
      m_sink(std::move(sink)),
      m_clock(clock),
      m_ring(options.ringFrames),
      m_scratch(static_cast<size_t>(kChunkFrames) * FrameRing::kChannels),
      m_measure(std::move(options.measure)),
      m_fadeWithdrawn(std::move(options.fadeWithdrawn))
{
    if (options.threaded)
        m_thread.start([this] { run(); });
}

Player::~Player()
{
    Player::requestStop(); // this class's own: no override runs in a destructor
    m_thread.join();
    m_output.close();
}

void Player::requestStop()
{
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_quit = true;
    }
    m_wake.notify_all();
}

bool Player::waitStopped(Deadline deadline)
{
    return m_thread.joinUntil(deadline);
}

void Player::post(Command command)
{
    command.at = m_clock.nowMicros();
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_commands.push_back(std::move(command));
    }
    m_wake.notify_one();
}

void Player::play(std::uint64_t serial, const std::string &path, double startSeconds, bool looping, Level known,
                  Region region)
{
    post({Command::Kind::Play, serial, path, 0, looping, 0, startSeconds, known, region});
}

void Player::stop(std::uint64_t serial)
{
    post({Command::Kind::Stop, serial, {}, 0, false, 0, 0, {}, {}});
}

void Player::seek(std::uint64_t serial, std::int64_t frame)
{
    post({Command::Kind::Seek, serial, {}, frame, false, 0, 0, {}, {}});
}

void Player::setLooping(std::uint64_t serial, bool looping)
{
    post({Command::Kind::Loop, serial, {}, 0, looping, 0, 0, {}, {}});
}

void Player::queue(std::uint64_t after, std::uint64_t next, const std::string &path, Level known)
{
    post({Command::Kind::Queue, after, path, static_cast<std::int64_t>(next), false, 0, 0, known, {}});
}

void Player::setLoudnessMatch(bool on, double target)
{
    post({Command::Kind::Match, 0, {}, 0, on, 0, target, {}, {}});
}

void Player::setLevel(std::uint64_t serial, Level level)
{
    post({Command::Kind::Level, serial, {}, 0, false, 0, 0, level, {}});
}

float Player::matchingGain(const Level &level, double target)
{
    if (!std::isfinite(level.loudness))
        return 1.0F;
    double db = target - level.loudness;
    if (std::isfinite(level.peak))
        db = std::min(db, kPeakCeiling - level.peak);
    // A near-silent sound is not raised into a roar of its noise floor.
    db = std::clamp(db, -60.0, 30.0);
    return static_cast<float>(std::pow(10.0, db / 20.0));
}

float Player::gainFor(const std::string &path, Level known) const
{
    if (!m_match)
        return 1.0F;
    if (!std::isfinite(known.loudness) && m_measure)
        known = m_measure(path);
    return matchingGain(known, m_target);
}

void Player::warmUp(int rate)
{
    post({Command::Kind::Warm, 0, {}, rate, false, 0, 0, {}, {}});
}

void Player::run()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    while (!m_quit) {
        lock.unlock();
        pump();
        lock.lock();
        if (m_quit)
            break;
        if (!m_commands.empty())
            continue;
        // A sound handed off and still to be reported keeps the clock going.
        if (m_current || m_fading || m_pending || !m_lateFinishes.empty())
            m_wake.wait_for(lock, kTick);
        else
            m_wake.wait(lock);
    }
}

void Player::pump()
{
    std::deque<Command> commands;
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        commands.swap(m_commands);
    }
    for (Command &command : commands) {
        handle(command);
        startPending();
    }
    if (m_fading) {
        if (!fadeDone())
            return;
        finishFade();
    }
    if (m_current && m_outputOpen && m_output.failed()) {
        fail("Sound output failed.");
        return;
    }
    fill();
    watch();
}

// A play with nothing to fade out starts at once, before the commands that
// follow it (which may be about it).
void Player::startPending()
{
    if (m_fading || !m_pending || m_pending->kind != Command::Kind::Play)
        return;
    Command command = std::move(*m_pending);
    m_pending.reset();
    start(command);
}

void Player::handle(Command &command)
{
    switch (command.kind) {
    case Command::Kind::Play:
        // A play waiting for a fade is overtaken: it never started.
        if (m_pending && m_pending->kind == Command::Kind::Play)
            send(event(PlayerEvent::Kind::Finished, m_pending->serial));
        m_pending = std::move(command);
        if (m_current)
            beginFade();
        return;
    case Command::Kind::Stop:
        if (m_pending && m_pending->serial == command.serial && m_pending->kind == Command::Kind::Play) {
            send(event(PlayerEvent::Kind::Finished, m_pending->serial));
            m_pending.reset();
        }
        // Stopping a sound that has handed off stops what followed it too.
        if (m_current && (m_current->serial == command.serial || m_handedOffFrom == command.serial)) {
            if (m_pending && m_pending->kind == Command::Kind::Seek)
                m_pending.reset();
            beginFade();
        }
        return;
    case Command::Kind::Seek:
        if (m_current && m_current->serial == command.serial
            && !(m_pending && m_pending->kind == Command::Kind::Play)) {
            m_pending = std::move(command);
            beginFade();
        }
        return;
    case Command::Kind::Match:
        m_match = command.flag;
        m_target = command.seconds;
        return;
    case Command::Kind::Level:
        if (!m_match || !m_current || m_fading)
            return;
        if (m_current->next && m_current->next->serial == command.serial && !m_current->next->corrected) {
            // Not begun: it begins at the right gain.
            m_current->next->gain = matchingGain(command.level, m_target);
            m_current->next->corrected = true;
        } else if (m_current->serial == command.serial && !m_current->corrected && !m_current->successor) {
            const float gain = matchingGain(command.level, m_target);
            m_current->corrected = true;
            if (m_current->gain > 0 && std::abs(gain / m_current->gain - 1.0F) > 0.01F) {
                m_correction.store(gain / m_current->gain, std::memory_order_relaxed);
                m_correctedUntil.store(m_ring.written(), std::memory_order_release);
                m_current->gain = gain;
            }
        }
        return;
    case Command::Kind::Queue:
        if (m_current && m_current->serial == command.serial && !m_fading) {
            dropQueued(*m_current);
            if (command.path.empty())
                return;
            const auto serial = static_cast<std::uint64_t>(command.frame);
            std::string error;
            std::unique_ptr<Decoder> decoder = m_opener(command.path, error);
            // Not at this rate, or not at all: it will be played (or found
            // wanting) the ordinary way.
            if (decoder && decoder->sampleRate() == m_current->rate)
                m_current->next = Queued{serial, std::move(decoder), gainFor(command.path, command.level), false};
            else
                send(event(PlayerEvent::Kind::Finished, serial));
        }
        return;
    case Command::Kind::Warm:
        if (!m_current && !m_outputOpen) {
            std::string error;
            m_outputOpen = m_output.open(static_cast<int>(command.frame), &Player::render, this, error);
        }
        return;
    case Command::Kind::Loop:
        if (m_current && m_current->serial == command.serial) {
            m_current->looping = command.flag;
            if (!command.flag)
                endAtPass();
            else
                loopAfterEnd();
        } else if (m_pending && m_pending->serial == command.serial && m_pending->kind == Command::Kind::Play)
            m_pending->flag = command.flag;
        return;
    }
}

void Player::beginFade()
{
    if (m_fading)
        return;
    m_fading = true;
    m_fadeStarted = m_clock.nowMicros();
    m_producing.store(false, std::memory_order_release);
    m_fade.store(kFadeRequested, std::memory_order_release);
}

bool Player::fadeDone()
{
    if (m_fade.load(std::memory_order_acquire) == kFaded)
        return true;
    if (m_outputOpen && !m_output.failed() && m_clock.nowMicros() - m_fadeStarted < kFadeTimeoutMicros)
        return false;
    // Nobody is pulling frames: no one can hear a fade. With the output
    // closed, the ring is the player's alone.
    m_output.close();
    m_outputOpen = false;
    m_ring.dropAll();
    return true;
}

void Player::dropQueued(Current &current)
{
    // What was opened to follow never plays: its end is reported.
    if (current.next) {
        send(event(PlayerEvent::Kind::Finished, current.next->serial));
        current.next.reset();
    }
    if (current.successor) {
        dropQueued(*current.successor);
        send(event(PlayerEvent::Kind::Finished, current.successor->serial));
        current.successor.reset();
    }
}

Player::Current Player::currentFor(std::uint64_t serial, std::unique_ptr<Decoder> decoder, bool looping)
{
    Current current;
    current.serial = serial;
    current.looping = looping;
    current.rate = decoder->sampleRate();
    current.length = std::max<std::int64_t>(0, decoder->frames());
    current.fileLength = current.length;
    current.decoder = std::move(decoder);
    return current;
}

Player::Current *Player::follow(Current &sound)
{
    Queued next = std::move(*sound.next);
    sound.next.reset();
    sound.successor = std::make_unique<Current>(currentFor(next.serial, std::move(next.decoder), false));
    sound.successor->gain = next.gain;
    sound.successor->corrected = next.corrected;
    sound.successor->segments.push_back({m_ring.written(), 0});
    m_producing.store(true, std::memory_order_release);
    return sound.successor.get();
}

void Player::finishFade()
{
    m_fading = false;
    // The output is silent until the fade request is withdrawn below: the
    // limit can be lifted before new frames go in.
    m_limit.store(kNoLimit, std::memory_order_release);
    std::optional<Command> pending = std::move(m_pending);
    m_pending.reset();
    if (pending && pending->kind == Command::Kind::Seek && m_current) {
        applySeek(pending->frame - m_current->offset);
    } else {
        if (m_current)
            finishCurrent(false);
        if (pending && pending->kind == Command::Kind::Play)
            start(*pending);
    }
    m_fade.store(kNoFade, std::memory_order_release);
    if (m_fadeWithdrawn)
        m_fadeWithdrawn();
}

void Player::start(Command &command)
{
    std::string error;
    std::unique_ptr<Decoder> decoder = m_opener(command.path, error);
    if (!decoder) {
        PlayerEvent e = event(PlayerEvent::Kind::LoadFailed, command.serial);
        e.reason = error;
        send(e);
        return;
    }
    const int rate = decoder->sampleRate();
    const std::int64_t fileLength = std::max<std::int64_t>(0, decoder->frames());
    std::int64_t offset = 0;
    double startSeconds = command.seconds;
    if (command.region.end > command.region.start && rate > 0) {
        const std::int64_t first = std::clamp<std::int64_t>(std::llround(command.region.start * rate), 0, fileLength);
        const std::int64_t end = std::clamp<std::int64_t>(std::llround(command.region.end * rate), 0, fileLength);
        if (end > first) {
            decoder = std::make_unique<RegionDecoder>(std::move(decoder), first, end - 1);
            offset = first;
            startSeconds = std::max(0.0, startSeconds - static_cast<double>(first) / rate);
        }
    }
    const float gain = gainFor(command.path, command.level);
    m_gainSnap.store(true, std::memory_order_release);
    if (!m_output.open(rate, &Player::render, this, error)) {
        m_outputOpen = false;
        PlayerEvent e = event(PlayerEvent::Kind::Failed, command.serial);
        e.reason = error;
        e.atStart = true;
        send(e);
        return;
    }
    m_outputOpen = true;
    m_fadeFrames.store(std::max(1, rate * kFadeMilliseconds / 1000), std::memory_order_relaxed);
    m_current = currentFor(command.serial, std::move(decoder), command.flag);
    m_current->offset = offset;
    m_current->fileLength = fileLength;
    m_current->gain = gain;
    m_current->commandAt = command.at;
    m_handedOffFrom = 0;
    applySeek(std::clamp<std::int64_t>(std::llround(startSeconds * rate), 0, m_current->length));
    PlayerEvent e = event(PlayerEvent::Kind::Started, m_current->serial);
    e.frame = m_current->segments.front().fileStart + offset;
    e.length = m_current->fileLength;
    e.rate = rate;
    send(e);
}

// Continues from frame; the ring holds nothing of the sound (a fade has
// emptied it, or it never had any).
void Player::applySeek(std::int64_t frame)
{
    Current &c = *m_current;
    // What was decoded to follow is gone with the ring; it will be queued
    // again, or played the ordinary way.
    if (c.successor) {
        dropQueued(*c.successor);
        send(event(PlayerEvent::Kind::Finished, c.successor->serial));
        c.successor.reset();
    }
    frame = std::clamp<std::int64_t>(frame, 0, std::max<std::int64_t>(c.length, 0));
    if (frame > 0 && !c.decoder->seek(frame))
        frame = 0;
    if (frame == 0)
        c.decoder->seek(0);
    c.segments.clear();
    c.segments.push_back({m_ring.written(), frame});
    c.passEnds.clear();
    c.end.reset();
    c.reports.clear();
    c.nextPosition = 0;
    c.startReported = false;
    m_firstFrameAt.store(0, std::memory_order_relaxed);
    m_producing.store(true, std::memory_order_release);
    // As much as a start needs: the rest of the ring fills as it plays.
    fill(kStartFrames);
    // A small buffer while it starts, so it is heard at once.
    m_steady = false;
    m_output.setSteady(false);
    m_output.flush();
}

// Decodes ahead into the ring. A looping sound goes back to its start at
// its end, so the frame after its last is its first.
void Player::fill(std::size_t most)
{
    if (!m_current || m_fading)
        return;
    // Frames go to the sound being decoded: the current one, or the one
    // that follows it once the current one has all gone in.
    Current *c = m_current->successor ? m_current->successor.get() : &*m_current;
    if (c->end) {
        // A sound queued after the whole of this one went in: right behind.
        if (!c->next || c->successor || *c->end != m_ring.written())
            return;
        c = follow(*c);
    }
    bool wrapped = false;
    std::size_t filled = 0;
    while (m_ring.writable() > 0 && filled < most) {
        const auto want = std::min<std::int64_t>(kChunkFrames,
                                                 static_cast<std::int64_t>(std::min(m_ring.writable(), most - filled)));
        const std::int64_t got = c->decoder->read(m_scratch.data(), want);
        if (got > 0 && c->gain != 1.0F) {
            for (std::size_t i = 0; i < static_cast<std::size_t>(got) * FrameRing::kChannels; ++i)
                m_scratch[i] *= c->gain;
        }
        if (got > 0) {
            m_ring.write(m_scratch.data(), static_cast<size_t>(got));
            filled += static_cast<std::size_t>(got);
            wrapped = false;
            continue;
        }
        // The end of the file (or of what can still be read of it).
        if (c->looping && !wrapped && c->decoder->seek(0)) {
            c->passEnds.push_back(m_ring.written());
            c->segments.push_back({m_ring.written(), 0});
            wrapped = true; // a file with no frames at all does not loop
            continue;
        }
        c->end = m_ring.written();
        if (c->next) {
            // The queued sound goes in right behind: no gap.
            c = follow(*c);
            continue;
        }
        m_producing.store(false, std::memory_order_release);
        break;
    }
}

// Looping turned on once the whole sound is decoded (a short one): while
// its end is still ahead of the listener, the start goes in right behind
// it, as if it had been looping all along.
void Player::loopAfterEnd()
{
    Current &c = *m_current;
    constexpr std::uint64_t kRoom = 1024; // frames the listener must still have ahead
    if (!c.end || c.successor || m_fading || *c.end != m_ring.written()
        || m_limit.load(std::memory_order_acquire) != kNoLimit || m_ring.consumed() + kRoom > *c.end
        || !c.decoder->seek(0))
        return;
    c.passEnds.push_back(*c.end);
    c.segments.push_back({*c.end, 0});
    c.end.reset();
    m_producing.store(true, std::memory_order_release);
}

// Looping turned off: the pass under way is the last one heard, however
// far ahead the decoder has gone.
void Player::endAtPass()
{
    Current &c = *m_current;
    if (c.passEnds.empty() || m_fading)
        return;
    const std::uint64_t end = c.passEnds.front();
    c.passEnds.clear();
    c.end = end;
    m_producing.store(false, std::memory_order_release);
    m_limit.store(end, std::memory_order_release);
}

// Reports every sound handed off and not yet reported as finished.
void Player::flushLateFinishes(std::int64_t now, bool all)
{
    while (!m_lateFinishes.empty() && (all || now >= m_lateFinishes.front().due)) {
        PlayerEvent e = event(PlayerEvent::Kind::Finished, m_lateFinishes.front().serial);
        e.playedToEnd = true;
        e.lateMicros = std::max<std::int64_t>(0, now - m_lateFinishes.front().due);
        m_lateFinishes.pop_front();
        send(e);
    }
}

// Follows what the output has taken: passes and the end are reported once
// the listener has heard them, positions every 50 ms.
void Player::watch()
{
    const std::int64_t now = m_clock.nowMicros();
    flushLateFinishes(now, false);
    if (!m_current)
        return;
    const std::uint64_t consumed = m_ring.consumed();
    if (m_current->successor && m_current->end && consumed >= *m_current->end) {
        // All of the sound has gone to the output and the next one is
        // under way: it is the current one now; the last is reported as
        // finished once it has been heard out.
        const std::int64_t rate = m_current->rate;
        const std::int64_t latency = rate > 0 ? m_output.latencyFrames() * 1000000 / rate : 0;
        m_lateFinishes.push_back({m_current->serial, now + latency});
        m_handedOffFrom = m_current->serial;
        std::unique_ptr<Current> successor = std::move(m_current->successor);
        m_current = std::move(*successor);
        m_current->commandAt = now;
        m_current->startReported = true;
        m_producing.store(!m_current->end || m_current->successor, std::memory_order_release);
        PlayerEvent e = event(PlayerEvent::Kind::Started, m_current->serial);
        e.length = m_current->fileLength;
        e.rate = m_current->rate;
        send(e);
    }
    Current &c = *m_current;
    if (!c.startReported) {
        const std::int64_t first = m_firstFrameAt.load(std::memory_order_acquire);
        if (first != 0) {
            c.startReported = true;
            PlayerEvent e = positionEvent(consumed);
            e.startMicros = first - c.commandAt;
            send(e);
        }
    }
    // What the server holds and has not played yet.
    const auto held = static_cast<std::uint64_t>(std::max<std::int64_t>(0, m_output.latencyFrames()));
    const std::int64_t latencyMicros = c.rate > 0 ? static_cast<std::int64_t>(held) * 1000000 / c.rate : 0;
    while (!c.passEnds.empty() && consumed >= c.passEnds.front()) {
        c.reports.push_back({now + latencyMicros, false});
        c.passEnds.pop_front();
    }
    const bool limitDone = m_limit.load(std::memory_order_acquire) == kNoLimit;
    if (c.end && consumed >= *c.end && limitDone && (c.reports.empty() || !c.reports.back().final))
        c.reports.push_back({now + latencyMicros, true});
    // Segments behind what the listener hears are done with.
    const std::uint64_t heard = consumed - std::min(consumed, held);
    while (c.segments.size() > 1 && heard >= c.segments[1].streamStart)
        c.segments.pop_front();
    while (!c.reports.empty() && now >= c.reports.front().due) {
        const Report report = c.reports.front();
        c.reports.pop_front();
        if (report.final) {
            // What was handed off before it ended before it, whatever the
            // server's latency said since: told first.
            flushLateFinishes(now, true);
            finishCurrent(true, now - report.due);
            return;
        }
        PlayerEvent e = event(PlayerEvent::Kind::PassEnded, c.serial);
        e.playedToEnd = true;
        send(e);
    }
    if (now >= c.nextPosition) {
        c.nextPosition = now + std::int64_t{kPositionMilliseconds} * 1000;
        send(positionEvent(consumed));
    }
    // Once it plays, the server may hold more of it ahead: the ring is
    // full by now, and a late thread on a busy machine no longer breaks it.
    const std::int64_t first = m_firstFrameAt.load(std::memory_order_acquire);
    if (!m_steady && c.startReported && first != 0 && now - first >= kSteadyAfterMicros) {
        m_steady = true;
        m_output.setSteady(true);
    }
}

PlayerEvent Player::positionEvent(std::uint64_t consumed) const
{
    PlayerEvent e = event(PlayerEvent::Kind::Position, m_current->serial);
    // Where the listener is: what has been handed over, less what the
    // server still holds.
    const auto held = static_cast<std::uint64_t>(std::max<std::int64_t>(0, m_output.latencyFrames()));
    const std::uint64_t heard = std::max(consumed - std::min(consumed, held), m_current->segments.front().streamStart);
    e.frame = positionOf(heard) + m_current->offset;
    e.length = m_current->fileLength;
    e.rate = m_current->rate;
    return e;
}

std::int64_t Player::positionOf(std::uint64_t consumed) const
{
    const Current &c = *m_current;
    const Segment *at = &c.segments.front();
    for (const Segment &s : c.segments) {
        if (s.streamStart <= consumed)
            at = &s;
    }
    const std::int64_t frame
        = at->fileStart + static_cast<std::int64_t>(consumed - std::min(consumed, at->streamStart));
    return c.end && consumed >= *c.end ? std::min(frame, c.length) : frame;
}

void Player::finishCurrent(bool playedToEnd, std::int64_t lateMicros)
{
    dropQueued(*m_current);
    m_handedOffFrom = 0;
    const std::uint64_t serial = m_current->serial;
    m_current.reset();
    m_producing.store(false, std::memory_order_release);
    PlayerEvent e = event(PlayerEvent::Kind::Finished, serial);
    e.playedToEnd = playedToEnd;
    e.lateMicros = lateMicros;
    send(e);
}

void Player::fail(const std::string &reason)
{
    dropQueued(*m_current);
    m_handedOffFrom = 0;
    const std::uint64_t serial = m_current->serial;
    m_current.reset();
    m_output.close();
    m_outputOpen = false;
    m_ring.dropAll();
    m_limit.store(kNoLimit, std::memory_order_release);
    m_producing.store(false, std::memory_order_release);
    PlayerEvent e = event(PlayerEvent::Kind::Failed, serial);
    e.reason = reason;
    send(e);
}

// On the output's thread.
void Player::render(void *self, float *out, std::size_t frames)
{
    auto *p = static_cast<Player *>(self);
    const int fade = p->m_fade.load(std::memory_order_acquire);
    const bool fadeRequested = fade != kNoFade;
    if (!fadeRequested)
        p->m_fadeLeft = -1;
    // Faded out: only silence until the player goes on.
    const bool silent = fade == kFaded;
    size_t got = 0;
    std::uint64_t first = 0; // the stream index of out[0]
    if (!silent) {
        const std::uint64_t limit = p->m_limit.load(std::memory_order_acquire);
        size_t want = frames;
        if (limit != kNoLimit)
            want = static_cast<size_t>(std::min<std::uint64_t>(frames, limit - std::min(limit, p->m_ring.consumed())));
        first = p->m_ring.consumed();
        got = p->m_ring.read(out, want);
        if (limit != kNoLimit && p->m_ring.consumed() >= limit) {
            p->m_ring.dropAll();
            p->m_limit.store(kNoLimit, std::memory_order_release);
        }
        if (got > 0 && p->m_firstFrameAt.load(std::memory_order_relaxed) == 0)
            p->m_firstFrameAt.store(p->m_clock.nowMicros(), std::memory_order_release);
        if (got < frames && p->m_producing.load(std::memory_order_acquire) && !fadeRequested)
            p->m_underruns.fetch_add(1, std::memory_order_relaxed);
    }
    // Gain moves towards its target within about 10 ms, never in a jump,
    // while a sound is heard; a sound that starts (after silence, or on an
    // output just opened for it) starts at the gain as it is.
    const float target = p->m_gain.load(std::memory_order_relaxed);
    if (got == 0 || p->m_gainSnap.exchange(false, std::memory_order_acq_rel))
        p->m_appliedGain = target;
    const float step = 1.0F / 480.0F;
    const std::uint64_t correctedUntil = p->m_correctedUntil.load(std::memory_order_acquire);
    const float correction = p->m_correction.load(std::memory_order_relaxed);
    for (size_t i = 0; i < got; ++i) {
        if (p->m_appliedGain < target)
            p->m_appliedGain = std::min(target, p->m_appliedGain + step);
        else if (p->m_appliedGain > target)
            p->m_appliedGain = std::max(target, p->m_appliedGain - step);
        float g = p->m_appliedGain;
        if (first + i < correctedUntil) {
            // Towards the sound's new gain, in about 10 ms at most.
            const float c = p->m_appliedCorrection;
            const float by = std::max(step, std::abs(correction - 1.0F) / 480.0F);
            p->m_appliedCorrection = correction > c ? std::min(correction, c + by) : std::max(correction, c - by);
            g *= p->m_appliedCorrection;
        } else {
            // Decoded at the new gain from here: nothing more to take.
            p->m_appliedCorrection = 1.0F;
        }
        if (fadeRequested) {
            const int length = p->m_fadeFrames.load(std::memory_order_relaxed);
            if (p->m_fadeLeft < 0)
                p->m_fadeLeft = length;
            g *= static_cast<float>(p->m_fadeLeft) / static_cast<float>(length);
            if (p->m_fadeLeft > 0)
                --p->m_fadeLeft;
        }
        out[2 * i] *= g;
        out[2 * i + 1] *= g;
    }
    std::fill(out + 2 * got, out + 2 * frames, 0.0F);
    if (fadeRequested && !silent && (p->m_fadeLeft <= 0 || got < frames)) {
        // The fade has reached silence (or the ring ran out): what is left
        // of the sound goes unheard.
        p->m_ring.dropAll();
        p->m_fade.store(kFaded, std::memory_order_release);
    }
}

} // namespace auralist::audio
