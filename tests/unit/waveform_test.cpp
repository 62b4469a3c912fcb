#include <gtest/gtest.h>

#include <sndfile.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "audio/decoder.h"
#include "sound_files.h"
#include "test_support.h"
#include "waveform/peak_summary.h"
#include "waveform/summary_worker.h"

using namespace auralist;
using namespace auralist::waveform;
using auralist::testing::TempDir;
using auralist::testing::writeSoundFile;

namespace {

// Frame i: left = sin, right = a spike every 10,000 frames.
class ShapeDecoder : public audio::Decoder {
public:
    explicit ShapeDecoder(std::int64_t length, std::int64_t readable = -1)
        : m_length(length), m_readable(readable < 0 ? length : readable)
    {
    }
    int sampleRate() const override { return 1000; }
    std::int64_t frames() const override { return m_length; }
    std::int64_t read(float *out, std::int64_t count) override
    {
        const std::int64_t n = std::max<std::int64_t>(0, std::min(count, m_readable - m_at));
        for (std::int64_t i = 0; i < n; ++i) {
            const std::int64_t f = m_at + i;
            out[2 * i] = 0.5F * static_cast<float>(std::sin(f * 0.01));
            out[2 * i + 1] = f % 10000 == 5000 ? -0.9F : 0.0F;
        }
        m_at += n;
        return n;
    }
    bool seek(std::int64_t frame) override
    {
        m_at = frame;
        return true;
    }

private:
    std::int64_t m_length;
    std::int64_t m_readable;
    std::int64_t m_at = 0;
};

} // namespace

TEST(Waveform, SummaryKeepsEveryPeakAtEveryScaleInUnderOnePercent)
{
    ShapeDecoder decoder(1000000);
    std::atomic<bool> cancelled{false};
    int progress = 0;
    const auto summary = buildSummary(
        decoder, cancelled, [&](auto) { ++progress; }, 200000);
    EXPECT_TRUE(summary->complete);
    EXPECT_EQ(summary->frames, 1000000);
    EXPECT_GE(progress, 4);
    // Both channels fold into one view: the spikes show at any width.
    for (const std::int64_t span : {std::int64_t{1000}, std::int64_t{20000}, std::int64_t{1000000}}) {
        const auto peak = summary->peakOf(0, span);
        EXPECT_NEAR(peak.high, 0.5F, 0.01F) << span;
        EXPECT_FLOAT_EQ(peak.low, span > 5000 ? -0.9F : peak.low) << span;
    }
    EXPECT_FLOAT_EQ(summary->peakOf(4000, 6000).low, -0.9F);
    EXPECT_GT(summary->peakOf(6000, 9000).low, -0.51F);
    // Any range gives exactly the peak of the blocks under it.
    const auto &blocks = summary->levels[0];
    for (std::int64_t from = 0; from < 1000000; from += 37123) {
        for (const std::int64_t span : {1, 300, 5000, 77777, 400000}) {
            const std::int64_t to = std::min<std::int64_t>(from + span, 1000000);
            PeakSummary::Peak want{1, -1};
            for (auto b = from / 256; b <= (to - 1) / 256; ++b) {
                want.low = std::min(want.low, blocks[size_t(b)].low);
                want.high = std::max(want.high, blocks[size_t(b)].high);
            }
            const auto got = summary->peakOf(from, to);
            ASSERT_EQ(got.low, want.low) << from << "+" << span;
            ASSERT_EQ(got.high, want.high) << from << "+" << span;
        }
    }
    // Decoded, this sound is 8 MB.
    EXPECT_LT(summary->bytes(), 1000000 * 8 / 100);
}

TEST(Waveform, CutShortOrCancelledKeepsWhatWasRead)
{
    ShapeDecoder cut(100000, 30000); // the file shrank under us
    std::atomic<bool> cancelled{false};
    const auto summary = buildSummary(cut, cancelled, nullptr, 1 << 30);
    EXPECT_EQ(summary->frames, 30000);
    EXPECT_EQ(summary->lengthFrames, 100000);
    EXPECT_TRUE(summary->complete);

    ShapeDecoder empty(0);
    const auto nothing = buildSummary(empty, cancelled, nullptr, 1 << 30);
    EXPECT_EQ(nothing->error, "The file holds no sound.");
    EXPECT_EQ(nothing->peakOf(0, 100).high, 0.0F);

    ShapeDecoder long_(10000000);
    cancelled = true;
    EXPECT_FALSE(buildSummary(long_, cancelled, nullptr, 1 << 30)->complete);
}

TEST(Waveform, WorkerAnswersTheNewestRequestAndSaysWhyNot)
{
    TempDir tmp;
    const std::string path = tmp.path() + "/tone.wav";
    writeSoundFile(path, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 44100, 2, std::vector<float>(2 * 44100, 0.25F));

    std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::pair<std::uint64_t, std::shared_ptr<const PeakSummary>>> answers;
    {
        SummaryWorker worker(&audio::openSndfileDecoder,
                             [&](std::uint64_t generation, const std::string &, std::shared_ptr<const PeakSummary> s) {
                                 const std::lock_guard<std::mutex> lock(mutex);
                                 answers.emplace_back(generation, std::move(s));
                                 changed.notify_all();
                             });
        for (std::uint64_t g = 1; g <= 20; ++g)
            worker.request(g, g % 2 ? path : tmp.path() + "/missing.wav");
        worker.request(21, path);
        std::unique_lock<std::mutex> lock(mutex);
        ASSERT_TRUE(changed.wait_for(lock, std::chrono::seconds(10), [&] {
            return !answers.empty() && answers.back().first == 21 && answers.back().second->complete;
        }));
        const auto &last = answers.back().second;
        EXPECT_EQ(last->frames, 44100);
        EXPECT_NEAR(last->peakOf(0, 44100).high, 0.25F, 0.001F);
        // Most of the overtaken requests were never built.
        EXPECT_LT(answers.size(), 15U);
        worker.request(22, tmp.path() + "/missing.wav");
        ASSERT_TRUE(changed.wait_for(lock, std::chrono::seconds(10), [&] { return answers.back().first == 22; }));
        EXPECT_EQ(answers.back().second->error, "No such file or directory");
    }
}

TEST(Waveform, ARequestTakenAsItArrivesIsNotCancelledByItself)
{
    // The worker is busy with the first sound when the second is asked
    // for; it takes the second at once, before request() has returned.
    std::mutex mutex;
    std::condition_variable changed;
    bool firstMayEnd = false;
    bool secondOpened = false;
    bool secondMayRead = false;
    std::vector<std::uint64_t> complete;
    SummaryWorker worker(
        [&](const std::string &path, std::string &) -> std::unique_ptr<audio::Decoder> {
            std::unique_lock<std::mutex> lock(mutex);
            if (path == "first") {
                changed.wait(lock, [&] { return firstMayEnd; });
            } else {
                secondOpened = true;
                changed.notify_all();
                changed.wait(lock, [&] { return secondMayRead; });
            }
            return std::make_unique<ShapeDecoder>(44100);
        },
        [&](std::uint64_t generation, const std::string &, const std::shared_ptr<const PeakSummary> &s) {
            const std::lock_guard<std::mutex> lock(mutex);
            if (s->complete)
                complete.push_back(generation);
            changed.notify_all();
        });
    worker.request(1, "first");
    worker.afterRequestQueued = [&] {
        std::unique_lock<std::mutex> lock(mutex);
        firstMayEnd = true;
        changed.notify_all();
        changed.wait(lock, [&] { return secondOpened; });
    };
    worker.request(2, "second");
    worker.afterRequestQueued = nullptr;
    std::unique_lock<std::mutex> lock(mutex);
    secondMayRead = true;
    changed.notify_all();
    EXPECT_TRUE(changed.wait_for(lock, std::chrono::seconds(10),
                                 [&] { return std::find(complete.begin(), complete.end(), 2U) != complete.end(); }));
}
