#include <gtest/gtest.h>

#include <algorithm>

#include <cmath>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

#include "audio/player.h"

using namespace auralist::audio;

namespace {

// An output whose callback the test drives by hand.
class FakeOutput : public AudioOutput {
public:
    bool open(int rate, Render render, void *context, std::string &error) override
    {
        if (!m_render || rate != this->rate)
            ++streams;
        if (refuse) {
            error = "refused";
            return false;
        }
        m_context = context;
        m_render = render;
        this->rate = rate;
        return true;
    }
    void close() override
    {
        m_render = nullptr;
        ++closes;
    }
    void flush() override { ++flushes; }
    void setSteady(bool on) override { steady.push_back(on); }
    std::vector<bool> steady;
    bool failed() const override { return lost.load(); }
    std::int64_t latencyFrames() const override
    {
        const std::int64_t now = latency;
        latency = std::max<std::int64_t>(0, latency - latencyDrop);
        return now;
    }

    // The left channel of the next frames frames the output asks for.
    std::vector<float> pull(size_t frames)
    {
        std::vector<float> out(2 * frames, -9.0F);
        if (const Render render = m_render)
            render(m_context, out.data(), frames);
        std::vector<float> left;
        for (size_t i = 0; i < frames; ++i)
            left.push_back(out[2 * i]);
        return left;
    }
    bool running() const { return m_render != nullptr; }

    std::atomic<int> rate{0};
    int streams = 0;
    int closes = 0;
    int flushes = 0;
    bool refuse = false;
    std::atomic<bool> lost{false};
    // What the server holds: less by latencyDrop each time it is asked, as
    // a server's interpolated latency moves between two questions.
    mutable std::int64_t latency = 0;
    std::int64_t latencyDrop = 0;

private:
    // Set by the player thread, read by the output's: as a real output's
    // lock would, the atomic orders them.
    std::atomic<Render> m_render{nullptr};
    std::atomic<void *> m_context{nullptr};
};

// Frame i holds the value i + 1 on both sides (no frame is zero), up to
// length frames; the file can be cut short while it is read.
class RampDecoder : public Decoder {
public:
    RampDecoder(std::int64_t length, std::shared_ptr<std::atomic<std::int64_t>> readable)
        : m_length(length), m_readable(std::move(readable))
    {
    }
    int sampleRate() const override { return 1000; }
    std::int64_t frames() const override { return m_length; }
    std::int64_t read(float *out, std::int64_t count) override
    {
        const std::int64_t end = std::min(m_length, m_readable->load());
        const std::int64_t n = std::max<std::int64_t>(0, std::min(count, end - m_at));
        for (std::int64_t i = 0; i < n; ++i)
            out[2 * i] = out[2 * i + 1] = static_cast<float>(m_at + i + 1);
        m_at += n;
        return n;
    }
    bool seek(std::int64_t frame) override
    {
        m_at = std::min(frame, m_length);
        return true;
    }

private:
    std::int64_t m_length;
    std::int64_t m_at = 0;
    std::shared_ptr<std::atomic<std::int64_t>> m_readable;
};

class FakeMicroClock : public MicroClock {
public:
    std::int64_t nowMicros() const override { return now.load(); }
    std::atomic<std::int64_t> now{1000000};
};

struct Rig {
    explicit Rig(size_t ringFrames = 4096, bool threaded = false)
        : player(
            output,
            [this](const std::string &path, std::string &error) -> std::unique_ptr<Decoder> {
                if (path == "missing") {
                    error = "No such file or directory";
                    return nullptr;
                }
                return std::make_unique<RampDecoder>(std::stoll(path), readable);
            },
            [this](const PlayerEvent &e) {
                const std::lock_guard<std::mutex> lock(mutex);
                events.push_back(e);
            },
            clock,
            Player::Options{threaded, ringFrames,
                            [this] {
                                if (fadeWithdrawn)
                                    fadeWithdrawn();
                            },
                            [this](const std::string &path) {
                                measured.push_back(path);
                                return measuredLevel;
                            }})
    {
    }
    std::vector<PlayerEvent::Kind> kinds(std::uint64_t serial)
    {
        const std::lock_guard<std::mutex> lock(mutex);
        std::vector<PlayerEvent::Kind> out;
        for (const auto &e : events) {
            if (e.serial == serial && e.kind != PlayerEvent::Kind::Position)
                out.push_back(e.kind);
        }
        return out;
    }
    bool finished(std::uint64_t serial, bool playedToEnd)
    {
        const std::lock_guard<std::mutex> lock(mutex);
        for (const auto &e : events) {
            if (e.serial == serial && e.kind == PlayerEvent::Kind::Finished && e.playedToEnd == playedToEnd)
                return true;
        }
        return false;
    }
    // Pulls frames in blocks, the player thread's turn between blocks.
    std::vector<float> play(size_t frames, size_t block = 64)
    {
        std::vector<float> all;
        while (all.size() < frames) {
            player.pump();
            const auto got = output.pull(std::min(block, frames - all.size()));
            all.insert(all.end(), got.begin(), got.end());
        }
        player.pump();
        return all;
    }

    FakeOutput output;
    FakeMicroClock clock;
    std::shared_ptr<std::atomic<std::int64_t>> readable = std::make_shared<std::atomic<std::int64_t>>(1 << 30);
    std::mutex mutex;
    std::vector<PlayerEvent> events;
    std::function<void()> fadeWithdrawn;
    std::vector<std::string> measured; // player thread (pumped by hand here)
    SoundLevel measuredLevel;
    Player player;
};

using Kind = PlayerEvent::Kind;

} // namespace

TEST(Player, LoopWrapsExactlyAndReportsEachPass)
{
    Rig rig;
    rig.player.play(1, "1000", 0, true);
    const auto heard = rig.play(3500);
    // The frame after the last is the first: no gap, no repeat, no fade.
    for (size_t i = 0; i < heard.size(); ++i)
        ASSERT_EQ(heard[i], static_cast<float>(i % 1000 + 1)) << "frame " << i;
    EXPECT_EQ(rig.output.flushes, 1);
    EXPECT_EQ(rig.kinds(1), (std::vector<Kind>{Kind::Started, Kind::PassEnded, Kind::PassEnded, Kind::PassEnded}));
    EXPECT_EQ(rig.player.underruns(), 0U);

    // Looping off: the pass under way is the last, though the decoder had
    // gone passes ahead.
    rig.player.setLooping(1, false);
    const auto last = rig.play(1000);
    EXPECT_EQ(last[499], 1000.0F);
    EXPECT_EQ(last[500], 0.0F);
    EXPECT_TRUE(rig.finished(1, true));
    // The next sound starts clean after it.
    rig.player.play(2, "1000", 0, false);
    EXPECT_EQ(rig.play(10).front(), 1.0F);
}

TEST(Player, ARegionPlaysAloneAndLoopsRoundItsBounds)
{
    Rig rig;
    // Frames 200 to 499 of a 1000-frame sound, looping.
    rig.player.play(1, "1000", 0, true, {}, {0.2, 0.5});
    const auto heard = rig.play(1000);
    for (size_t i = 0; i < heard.size(); ++i)
        ASSERT_EQ(heard[i], static_cast<float>(200 + i % 300 + 1)) << "frame " << i;
    EXPECT_EQ(rig.player.underruns(), 0U);
    {
        // Positions and the length are the file's, not the region's.
        const std::lock_guard<std::mutex> lock(rig.mutex);
        EXPECT_EQ(rig.events.front().kind, Kind::Started);
        EXPECT_EQ(rig.events.front().frame, 200);
        EXPECT_EQ(rig.events.front().length, 1000);
        for (const PlayerEvent &e : rig.events) {
            if (e.kind == Kind::Position) {
                EXPECT_GE(e.frame, 200);
                EXPECT_LE(e.frame, 500);
            }
        }
    }
    // A seek is to a frame of the file.
    rig.player.seek(1, 450);
    const auto after = rig.play(400);
    const auto first = std::find(after.begin(), after.end(), 451.0F);
    ASSERT_NE(first, after.end());
    EXPECT_EQ(*(first + 50), 201.0F); // round to the region's start
    // Not looping, a play started inside it ends at its end.
    rig.player.play(2, "1000", 0.45, false, {}, {0.2, 0.5});
    const auto last = rig.play(200);
    const auto start = std::find(last.begin(), last.end(), 451.0F);
    ASSERT_NE(start, last.end());
    EXPECT_EQ(*(start + 49), 500.0F);
    EXPECT_EQ(*(start + 50), 0.0F);
    EXPECT_TRUE(rig.finished(2, true));
}

TEST(Player, StopFadesOutButAStartIsNeverFaded)
{
    Rig rig;
    rig.player.play(1, "100000", 0, false);
    const auto start = rig.play(10);
    EXPECT_EQ(start.front(), 1.0F);
    rig.player.stop(1);
    rig.player.pump();
    const auto fade = rig.output.pull(20); // 5 ms at 1 kHz: 5 frames
    EXPECT_LT(fade[0], 12.0F);
    EXPECT_GT(fade[0], 0.0F);
    EXPECT_LT(fade[3], fade[0]);
    EXPECT_EQ(fade[5], 0.0F);
    EXPECT_EQ(fade[19], 0.0F);
    rig.player.pump();
    EXPECT_TRUE(rig.finished(1, false));
    EXPECT_EQ(rig.output.pull(8), std::vector<float>(8, 0.0F));

    // Replaced mid-way: the old sound fades, the new one starts whole.
    rig.player.play(2, "100000", 0, false);
    rig.play(40);
    rig.player.play(3, "500", 0, false);
    const auto after = rig.play(200, 16);
    EXPECT_TRUE(rig.finished(2, false));
    const auto first = std::find(after.begin(), after.end(), 1.0F);
    ASSERT_NE(first, after.end());
    EXPECT_EQ(*(first + 1), 2.0F);
    EXPECT_EQ(rig.output.streams, 1); // the stream at this rate was kept
}

TEST(Player, TheOutputTakingFramesAsAFadeIsWithdrawnHearsTheNewSoundWhole)
{
    Rig rig;
    rig.player.play(1, "100000", 0, false);
    rig.play(10);
    // The output asks for frames at the moment the player withdraws the
    // fade, with the new sound already in the ring.
    std::vector<float> heard;
    bool pulled = false;
    auto take = [&](size_t frames) {
        const auto got = rig.output.pull(frames);
        heard.insert(heard.end(), got.begin(), got.end());
    };
    rig.fadeWithdrawn = [&] {
        if (!pulled)
            take(8);
        pulled = true;
    };
    rig.player.play(2, "300", 0, false);
    while (heard.size() < 500) {
        rig.player.pump();
        take(16);
    }
    rig.player.pump();
    const auto first = std::find(heard.begin(), heard.end(), 1.0F);
    ASSERT_NE(first, heard.end()) << "the new sound was never heard";
    ASSERT_GE(heard.end() - first, 300);
    for (int i = 0; i < 300; ++i)
        ASSERT_EQ(first[i], static_cast<float>(i + 1)) << "frame " << i;
    EXPECT_TRUE(rig.finished(2, true));
}

TEST(Player, StopDuringAFadeAndPlaysThatNeverStarted)
{
    Rig rig;
    rig.player.play(1, "100000", 0, false);
    rig.play(10);
    rig.player.play(2, "100000", 0, false);
    rig.player.pump(); // fading out 1
    rig.player.play(3, "100000", 0, false);
    rig.player.stop(3);
    rig.play(100);
    // Every sound hears its end once: 1 faded, 2 overtaken, 3 stopped.
    EXPECT_EQ(rig.kinds(1), (std::vector<Kind>{Kind::Started, Kind::Finished}));
    EXPECT_EQ(rig.kinds(2), (std::vector<Kind>{Kind::Finished}));
    EXPECT_EQ(rig.kinds(3), (std::vector<Kind>{Kind::Finished}));
    EXPECT_EQ(rig.output.pull(4), std::vector<float>(4, 0.0F));
}

TEST(Player, SeeksAndEndsWhenTheFileDoesEvenTruncated)
{
    Rig rig;
    rig.output.latency = 50; // 50 ms at 1 kHz
    rig.player.play(1, "1000", 0, false);
    rig.play(100);
    rig.player.seek(1, 700);
    const auto heard = rig.play(100);
    EXPECT_NE(std::find(heard.begin(), heard.end(), 701.0F), heard.end());
    // Seeking past the end ends the sound, once the end is heard.
    rig.player.seek(1, 5000);
    rig.play(100);
    EXPECT_FALSE(rig.finished(1, true)); // still in the output's buffer
    rig.clock.now += 49000;
    rig.player.pump();
    EXPECT_FALSE(rig.finished(1, true));
    rig.clock.now += 2000;
    rig.player.pump();
    EXPECT_TRUE(rig.finished(1, true));

    // A file cut short while it plays ends where it now ends.
    rig.output.latency = 0;
    rig.readable->store(300);
    rig.player.play(2, "100000", 0, false);
    const auto cut = rig.play(600);
    EXPECT_EQ(cut[299], 300.0F);
    EXPECT_EQ(cut[300], 0.0F);
    EXPECT_TRUE(rig.finished(2, true));
}

TEST(Player, UnderrunsAreCountedAndOutputFailuresReported)
{
    Rig rig(64);
    rig.player.play(1, "100000", 0, false);
    rig.player.pump();
    rig.output.pull(200); // more than the ring holds, before the player refills
    EXPECT_GE(rig.player.underruns(), 1U);

    // The server goes away mid-sound: failed, once; back, it plays again.
    rig.output.lost = true;
    rig.player.pump();
    EXPECT_EQ(rig.kinds(1), (std::vector<Kind>{Kind::Started, Kind::Failed}));
    rig.output.lost = false;
    rig.player.play(2, "100", 0, false);
    rig.play(200);
    EXPECT_TRUE(rig.finished(2, true));

    // No output at all, and a file that will not open.
    rig.output.refuse = true;
    rig.player.play(3, "100", 0, false);
    rig.player.pump();
    ASSERT_EQ(rig.kinds(3), (std::vector<Kind>{Kind::Failed}));
    EXPECT_TRUE(rig.events.back().atStart);
    rig.output.refuse = false;
    rig.player.play(4, "missing", 0, false);
    rig.player.pump();
    ASSERT_EQ(rig.kinds(4), (std::vector<Kind>{Kind::LoadFailed}));
    EXPECT_EQ(rig.events.back().reason, "No such file or directory");
}

TEST(Player, AQueuedSoundFollowsWithoutAGap)
{
    Rig rig;
    rig.output.latency = 10;
    rig.player.play(1, "300", 0, false);
    rig.player.queue(1, 2, "200");
    const auto heard = rig.play(500, 50);
    for (size_t i = 0; i < 300; ++i)
        ASSERT_EQ(heard[i], static_cast<float>(i + 1)) << i;
    for (size_t i = 300; i < 500; ++i)
        ASSERT_EQ(heard[i], static_cast<float>(i - 299)) << i;
    // The second is under way before the first is reported heard out.
    EXPECT_EQ(rig.kinds(2), (std::vector<Kind>{Kind::Started}));
    EXPECT_FALSE(rig.finished(1, true));
    rig.clock.now += 11000;
    rig.player.pump();
    EXPECT_TRUE(rig.finished(1, true));
    EXPECT_EQ(rig.output.flushes, 1); // nothing was dropped at the join

    // Withdrawn, or stopped through the sound it followed: nothing more.
    rig.player.play(3, "100000", 0, false);
    rig.player.queue(3, 4, "100");
    rig.player.queue(3, 0, "");
    rig.play(50);
    EXPECT_TRUE(rig.finished(4, false));
    rig.player.queue(3, 5, "100");
    rig.player.stop(3);
    rig.play(50);
    EXPECT_TRUE(rig.finished(3, false));
    EXPECT_TRUE(rig.finished(5, false));
}

TEST(Player, ThreadedPlayerAndOutputShareOnlyTheRing)
{
    // The player on its own thread, the output pulled from another, the
    // commands from this one: run under ThreadSanitizer in ./test.
    Rig rig(1024, true);
    std::atomic<bool> done{false};
    std::thread output([&] {
        while (!done) {
            rig.output.pull(32);
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    });
    rig.player.play(1, "3000", 0, false);
    rig.player.setGain(0.5F);
    rig.player.play(2, "2000", 0, true);
    rig.player.setLooping(2, false);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!rig.finished(2, true) && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    done = true;
    output.join();
    EXPECT_TRUE(rig.finished(1, false));
    EXPECT_TRUE(rig.finished(2, true));
}

TEST(Player, ASoundStartsAtTheVolumeSetWhileStoppedButAChangeWhilePlayingGlides)
{
    Rig rig;
    rig.player.play(1, "100", 0, false);
    rig.play(200);
    ASSERT_TRUE(rig.finished(1, true));
    rig.player.setGain(0.25F);
    rig.player.play(2, "1000", 0, false);
    const auto start = rig.play(10);
    EXPECT_FLOAT_EQ(start[0], 0.25F * 1.0F);
    EXPECT_FLOAT_EQ(start[5], 0.25F * 6.0F);

    // Stopped with the output left running (silence in between): the same.
    rig.player.stop(2);
    rig.play(400);
    rig.player.setGain(1.0F);
    rig.player.play(3, "1000", 0, false);
    EXPECT_FLOAT_EQ(rig.play(4)[0], 1.0F);

    // While a sound plays, a change glides: no step in the middle of it.
    rig.player.setGain(0.0F);
    const auto glide = rig.play(10);
    EXPECT_GT(glide[0], 0.9F * 5.0F);
    EXPECT_LT(glide[9], 14.0F);
}

TEST(Player, MatchedLoudnessBringsEachSoundToTheTargetUnderThePeakCeiling)
{
    // Gains in decibels: to the target, but never over -1 dBTP, never
    // raised past 30 dB; nothing where the loudness is not known.
    const auto db
        = [](SoundLevel level, double target) { return 20 * std::log10(Player::matchingGain(level, target)); };
    EXPECT_NEAR(db({-26, -10}, -20), 6.0, 1e-4);
    EXPECT_NEAR(db({-14, -0.5}, -20), -6.0, 1e-4);
    EXPECT_NEAR(db({-30, -3}, -20), 2.0, 1e-4); // the peak ceiling wins
    EXPECT_NEAR(db({-90, -80}, -20), 30.0, 1e-4);
    EXPECT_EQ(Player::matchingGain({}, -20), 1.0F);

    Rig rig;
    // Each sound is heard out before the next, so no fade comes between.
    rig.player.play(1, "100", 0, false, {-26, -10});
    EXPECT_EQ(rig.play(120)[9], 10.0F); // off: as it is
    rig.player.setLoudnessMatch(true, -20);
    rig.player.play(2, "100", 0, false, {-26, -10});
    auto heard = rig.play(120);
    const float up = std::pow(10.0F, 6.0F / 20);
    ASSERT_NEAR(heard[9], 10.0F * up, 1e-3);
    EXPECT_TRUE(rig.measured.empty());
    // Not analysed yet: measured first, then played at that gain; the
    // sound queued behind it takes its own.
    rig.measuredLevel = {-14, -0.5};
    rig.player.play(3, "100", 0, false);
    rig.player.queue(3, 4, "200", {-20, -6});
    heard = rig.play(150);
    EXPECT_EQ(rig.measured, std::vector<std::string>{"100"});
    const float down = std::pow(10.0F, -6.0F / 20);
    EXPECT_NEAR(heard[9], 10.0F * down, 1e-3);
    EXPECT_NEAR(heard[109], 10.0F, 1e-3); // the queued one, at 0 dB

    // A long sound started at the gain of its first seconds takes the
    // whole sound's level as soon as it is learned: the frames decoded
    // ahead at the old gain too, glided into within 10 ms, and no step
    // where the frames decoded at the new gain begin.
    rig.play(300); // the one before heard out
    rig.player.play(5, "100000", 0, false);
    heard = rig.play(1000);
    EXPECT_NEAR(heard[999], 1000.0F * down, 1e-2);
    rig.player.setLevel(5, {-26, -10});
    rig.player.setLevel(5, {-40, -30}); // once a sound: this one goes unheard
    heard = rig.play(8000);
    const auto gainAt = [&](std::size_t i) { return heard[i] / static_cast<float>(1001 + i); };
    EXPECT_NEAR(gainAt(600), up, 1e-4);
    for (std::size_t i = 600; i < heard.size(); ++i)
        ASSERT_NEAR(gainAt(i), up, 1e-4) << "frame " << i;
    for (std::size_t i = 1; i < 600; ++i)
        ASSERT_LE(std::abs(gainAt(i) - gainAt(i - 1)), 0.02F) << "frame " << i;
}

// A sound starts on a small buffer and the server may hold more of it
// only once it has played a while; a seek or a new sound starts small
// again. A start decodes no more than it needs; the rest of the ring
// fills as it plays.
TEST(Player, TheBufferGrowsOnceASoundPlaysAndIsSmallAtEachStart)
{
    Rig rig(65536);
    rig.player.play(1, "200000", 0, false);
    rig.player.pump();
    ASSERT_FALSE(rig.output.steady.empty());
    EXPECT_FALSE(rig.output.steady.back());
    rig.play(256);
    EXPECT_FALSE(rig.output.steady.back());
    rig.clock.now += 400000;
    rig.play(256);
    EXPECT_TRUE(rig.output.steady.back());
    // Decoded ahead, well past what a start takes.
    const auto heard = rig.play(40000, 2048);
    for (size_t i = 0; i < heard.size(); ++i)
        ASSERT_EQ(heard[i], static_cast<float>(512 + i + 1)) << "frame " << i;
    EXPECT_EQ(rig.player.underruns(), 0U);
    rig.player.seek(1, 100);
    rig.play(64);
    EXPECT_FALSE(rig.output.steady.back());
}

// A short sound is decoded whole at once; looping turned on while it plays
// still wraps without a gap, the first frame right after the last.
TEST(Player, LoopingTurnedOnAfterTheWholeSoundIsDecodedWrapsWithoutAGap)
{
    Rig rig(65536);
    rig.player.play(1, "3000", 0, false);
    auto heard = rig.play(500);
    rig.player.setLooping(1, true);
    const auto more = rig.play(7000);
    heard.insert(heard.end(), more.begin(), more.end());
    for (size_t i = 0; i < heard.size(); ++i)
        ASSERT_EQ(heard[i], static_cast<float>(i % 3000 + 1)) << "frame " << i;
    EXPECT_EQ(rig.player.underruns(), 0U);
    EXPECT_EQ(rig.kinds(1), (std::vector<Kind>{Kind::Started, Kind::PassEnded, Kind::PassEnded}));
}

// A sound handed off to one that ends at once (nothing in it to hear): the
// first is reported finished before the second, however the server's
// latency moved between the two, so the window hears of them in order.
TEST(Player, ASoundHandedOffIsReportedFinishedBeforeTheOneThatFollowsIt)
{
    Rig rig(65536);
    rig.player.play(1, "500", 0, false);
    rig.player.pump();
    rig.player.queue(1, 2, "0");
    rig.output.latency = 1000;
    rig.output.latencyDrop = 50;
    rig.play(600);
    for (int i = 0; i < 2000; ++i) {
        rig.clock.now += 10000;
        rig.player.pump();
    }
    std::vector<std::uint64_t> finished;
    {
        const std::lock_guard<std::mutex> lock(rig.mutex);
        for (const auto &e : rig.events) {
            if (e.kind == Kind::Finished)
                finished.push_back(e.serial);
        }
    }
    EXPECT_EQ(finished, (std::vector<std::uint64_t>{1, 2}));
}
