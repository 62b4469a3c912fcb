#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

#include "audio/audio_engine.h"
#include "audio/pulse_output.h"
#include "test_support.h"

using namespace auralist;
using namespace auralist::audio;
using auralist::testing::TempDir;

namespace {

// An output pulled by a thread of its own, like a sound server.
class ThreadOutput : public AudioOutput {
public:
    ThreadOutput()
        : m_thread([this] {
              std::vector<float> buffer(2 * 64);
              while (!m_done) {
                  {
                      // As a server connection's lock does: close() waits
                      // for a call under way.
                      const std::lock_guard<std::mutex> lock(m_mutex);
                      if (m_render)
                          m_render(m_context, buffer.data(), 64);
                  }
                  std::this_thread::sleep_for(std::chrono::milliseconds(1));
              }
          })
    {
    }
    ~ThreadOutput() override
    {
        m_done = true;
        m_thread.join();
    }
    bool open(int, Render render, void *context, std::string &error) override
    {
        if (refuse) {
            error = "Connection refused";
            return false;
        }
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_context = context;
        m_render = render;
        return true;
    }
    void close() override
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_render = nullptr;
    }
    void flush() override { }
    bool failed() const override { return false; }
    std::int64_t latencyFrames() const override { return 0; }
    std::atomic<bool> refuse{false};

private:
    std::mutex m_mutex;
    Render m_render = nullptr; // guarded by m_mutex
    void *m_context = nullptr; // guarded by m_mutex
    std::atomic<bool> m_done{false};
    std::thread m_thread;
};

// Frames of silence, as many as the name says ("2000.wav").
class CountDecoder : public Decoder {
public:
    explicit CountDecoder(std::int64_t frames) : m_frames(frames) { }
    int sampleRate() const override { return 8000; }
    std::int64_t frames() const override { return m_frames; }
    std::int64_t read(float *out, std::int64_t count) override
    {
        const std::int64_t n = std::min(count, m_frames - m_at);
        std::fill(out, out + 2 * n, 0.1F);
        m_at += n;
        return n;
    }
    bool seek(std::int64_t frame) override
    {
        m_at = std::min(frame, m_frames);
        return true;
    }

private:
    std::int64_t m_frames;
    std::int64_t m_at = 0;
};

struct Reports : SoundDelegate {
    void soundDidFinishPlaying(const SoundPtr &sound, bool finished) override
    {
        finishes.emplace_back(sound, finished);
    }
    void soundDidFailToLoad(const SoundPtr &sound, const std::string &reason) override
    {
        failures.emplace_back(sound, reason);
    }
    std::vector<std::pair<SoundPtr, bool>> finishes;
    std::vector<std::pair<SoundPtr, std::string>> failures;
};

template <typename Predicate> bool spinUntil(Predicate done)
{
    QElapsedTimer timer;
    timer.start();
    while (!done() && timer.elapsed() < 10000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    return done();
}

} // namespace

TEST(AudioEngine, ReportsOnTheMainThreadAndHandsOverWhatFollows)
{
    TempDir tmp;
    for (const char *name : {"800", "400", "broken"})
        tmp.file(name);
    auto *output = new ThreadOutput;
    std::vector<std::string> problems;
    AudioEngine engine(std::unique_ptr<AudioOutput>(output),
                       [](const std::string &path, std::string &error) -> std::unique_ptr<Decoder> {
                           const std::string name = path.substr(path.rfind('/') + 1);
                           if (name == "broken") {
                               error = "Format not recognised.";
                               return nullptr;
                           }
                           return std::make_unique<CountDecoder>(std::stoll(name));
                       });
    engine.setOutputProblemHandler([&](const std::string &m) { problems.push_back(m); });
    Reports reports;

    // Only what the path names is looked at here.
    EXPECT_EQ(engine.load(tmp.path() + "/missing"), nullptr);
    EXPECT_EQ(engine.lastLoadError(), "No such file or directory");
    EXPECT_EQ(engine.load(tmp.path()), nullptr);

    // A sound and the one queued to follow it: the second is the very
    // sound load() gives next, already under way.
    SoundPtr first = engine.load(tmp.path() + "/800");
    ASSERT_NE(first, nullptr);
    first->setDelegate(&reports);
    first->play();
    engine.prepareNext(first, tmp.path() + "/400");
    ASSERT_TRUE(spinUntil([&] { return !reports.finishes.empty(); }));
    EXPECT_EQ(reports.finishes[0], std::make_pair(first, true));
    SoundPtr second = engine.load(tmp.path() + "/400");
    ASSERT_NE(second, nullptr);
    second->setDelegate(&reports);
    second->play();
    EXPECT_TRUE(second->isPlaying() || reports.finishes.size() > 1);
    ASSERT_TRUE(spinUntil([&] { return reports.finishes.size() == 2; }));
    EXPECT_EQ(reports.finishes[1], std::make_pair(second, true));

    // Stopped: reported as not finished.
    SoundPtr third = engine.load(tmp.path() + "/800");
    third->setDelegate(&reports);
    third->play();
    third->stop();
    EXPECT_FALSE(third->isPlaying());
    ASSERT_TRUE(spinUntil([&] { return reports.finishes.size() == 3; }));
    EXPECT_EQ(reports.finishes[2], std::make_pair(third, false));

    // Found unplayable on the player's thread: told, not finished.
    SoundPtr broken = engine.load(tmp.path() + "/broken");
    ASSERT_NE(broken, nullptr);
    broken->setDelegate(&reports);
    broken->play();
    ASSERT_TRUE(spinUntil([&] { return !reports.failures.empty(); }));
    EXPECT_EQ(reports.failures[0].second, "Format not recognised.");
    EXPECT_FALSE(broken->isPlaying());

    // No output: the sound fails and the user is told once, after it.
    output->refuse = true;
    for (int i = 0; i < 2; ++i) {
        SoundPtr s = engine.load(tmp.path() + "/400");
        s->setDelegate(&reports);
        s->play();
        ASSERT_TRUE(spinUntil([&] { return reports.finishes.size() == size_t(4 + i); }));
        EXPECT_FALSE(reports.finishes.back().second);
    }
    spinUntil([&] { return !problems.empty(); });
    EXPECT_EQ(problems.size(), 1U);
}

// The sound output's own thread is started and stopped with every start and
// quit of the program. Made and ended a thousand times while other threads
// keep both cores busy, it must never trip libpulse's checks on its loop
// (nor leave anything of it behind, which the sanitizers' run would tell).
TEST(PulseOutput, StartsAndStopsAThousandTimesUnderLoad)
{
    std::atomic<bool> done{false};
    std::vector<std::thread> load;
    for (int i = 0; i < 2; ++i)
        load.emplace_back([&done] {
            volatile unsigned spin = 0;
            while (!done.load(std::memory_order_relaxed))
                spin = spin + 1;
        });
    for (int i = 0; i < 1000; ++i) {
        const PulseOutput output;
        // Now and then the loop's thread gets a moment before it is ended.
        if (i % 4 == 0)
            std::this_thread::yield();
        EXPECT_FALSE(output.failed());
    }
    done = true;
    for (auto &thread : load)
        thread.join();
}
