#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <limits>
#include <numbers>
#include <random>
#include <vector>

#include <sys/stat.h>

#include <aubio/aubio.h>

#include "analysis/analyse.h"
#include "analysis/cepstrum.h"
#include "analysis/true_peak.h"
#include "catalogue/reconcile.h"
#include "core/sound_traits.h"
#include "sound_files.h"
#include "test_support.h"

using namespace auralist;
using analysis::Analysis;
using auralist::testing::TempDir;

namespace {

constexpr double kTau = 2 * std::numbers::pi;

// Interleaved frames of a generated signal, the same in every channel.
std::vector<float> signal(int rate, int channels, double seconds, const std::function<double(double t)> &at)
{
    const auto frames = static_cast<std::size_t>(seconds * rate);
    std::vector<float> out(frames * static_cast<std::size_t>(channels));
    for (std::size_t i = 0; i < frames; ++i) {
        const auto v = static_cast<float>(at(static_cast<double>(i) / rate));
        for (int c = 0; c < channels; ++c)
            out[i * static_cast<std::size_t>(channels) + static_cast<std::size_t>(c)] = v;
    }
    return out;
}

Analysis analyse(const std::vector<float> &frames, int rate, int channels)
{
    analysis::Analyser a(channels, rate);
    // In uneven blocks, as a decoder hands them over.
    std::size_t at = 0;
    for (std::size_t block = 1000; at < frames.size() / static_cast<std::size_t>(channels);
         block = block * 7 % 5000 + 1) {
        const std::size_t n = std::min(block, frames.size() / static_cast<std::size_t>(channels) - at);
        a.add(frames.data() + at * static_cast<std::size_t>(channels), static_cast<std::int64_t>(n));
        at += n;
    }
    return a.finish();
}

double fromDb(double db)
{
    return std::pow(10.0, db / 20.0);
}

// A click track: a short 1 kHz blip on every beat, a whole number of beats.
std::vector<float> clicks(double bpm, int beats, int rate)
{
    const double beat = 60.0 / bpm;
    return signal(rate, 2, beats * beat, [&](double t) {
        const double since = std::fmod(t, beat);
        return since < 0.03 ? 0.7 * std::sin(kTau * 1000 * since) * std::exp(-since / 0.008) : 0.0;
    });
}

double distance(const Analysis &a, const Analysis &b)
{
    double d = 0;
    for (std::size_t i = 0; i < Analysis::kDescriptorSize; ++i)
        d += (a.descriptor[i] - b.descriptor[i]) * (a.descriptor[i] - b.descriptor[i]);
    return std::sqrt(d);
}

} // namespace

TEST(Analysis, LoudnessAndPeakOfKnownSignals)
{
    // EBU R128: a 1 kHz stereo sine at -23 dBFS reads -23 LUFS.
    const Analysis sine
        = analyse(signal(48000, 2, 10, [](double t) { return fromDb(-23) * std::sin(kTau * 1000 * t); }), 48000, 2);
    ASSERT_TRUE(sine.ok);
    EXPECT_NEAR(sine.loudness, -23.0, 0.1);
    EXPECT_NEAR(sine.peak, -23.0, 0.1);
    // Mono plays from both speakers: as loud as its stereo copy.
    const Analysis mono
        = analyse(signal(44100, 1, 5, [](double t) { return fromDb(-23) * std::sin(kTau * 1000 * t); }), 44100, 1);
    EXPECT_NEAR(mono.loudness, -23.0, 0.1);
    // A quarter-rate sine sampled 45 degrees off its crests: every sample
    // is 3 dB below the peak between them.
    const Analysis between
        = analyse(signal(48000, 2, 1, [](double t) { return 0.9 * std::sin(kTau * 12000 * t + std::numbers::pi / 4); }),
                  48000, 2);
    EXPECT_NEAR(between.peak, 20 * std::log10(0.9), 0.3);
    // The same after a louder click: stretches too quiet to matter are
    // passed over, and this one is not.
    const Analysis later
        = analyse(signal(48000, 2, 1,
                         [](double t) {
                             if (t < 0.001)
                                 return 0.7;
                             return t < 0.5 ? 0.0 : 0.9 * std::sin(kTau * 12000 * t + std::numbers::pi / 4);
                         }),
                  48000, 2);
    EXPECT_NEAR(later.peak, 20 * std::log10(0.9), 0.3);
    // Under 0.4 s: the largest momentary loudness, not minus infinity.
    const Analysis shortOne
        = analyse(signal(44100, 2, 0.2, [](double t) { return 0.5 * std::sin(kTau * 440 * t); }), 44100, 2);
    EXPECT_TRUE(std::isfinite(shortOne.loudness));
    EXPECT_LT(shortOne.loudness, -6.0);
    // Silence, a constant, one sample: empty values, never a wrong number.
    const Analysis silence = analyse(std::vector<float>(88200, 0.0F), 44100, 2);
    ASSERT_TRUE(silence.ok);
    EXPECT_TRUE(std::isnan(silence.loudness));
    EXPECT_TRUE(std::isnan(silence.peak));
    EXPECT_EQ(silence.note, -1);
    EXPECT_TRUE(std::isnan(silence.bpm));
    const Analysis dc = analyse(std::vector<float>(88200, 0.25F), 44100, 2);
    EXPECT_TRUE(std::isnan(dc.loudness)); // the K filter takes out a constant
    // Its peak is its level, and a little more where it steps up from the
    // silence before it, as a converter would overshoot there.
    EXPECT_GE(dc.peak, 20 * std::log10(0.25) - 0.01);
    EXPECT_LT(dc.peak, 20 * std::log10(0.25) + 1.5);
    EXPECT_EQ(dc.note, -1);
    const Analysis one = analyse({0.5F}, 44100, 1);
    EXPECT_TRUE(one.ok);
    EXPECT_EQ(one.kind, Analysis::Kind::OneShot);
    analysis::Analyser none(0, 44100);
    EXPECT_FALSE(none.finish().ok);
}

TEST(Analysis, ClickTracksAreLoopsAtTheirTempo)
{
    for (const double bpm : {90.0, 120.0, 140.0, 174.0}) {
        const Analysis a = analyse(clicks(bpm, 16, 44100), 44100, 2);
        EXPECT_EQ(a.kind, Analysis::Kind::Loop) << bpm;
        EXPECT_NEAR(a.bpm, bpm, 1.0) << bpm;
        EXPECT_EQ(a.note, -1) << bpm;
    }
    // One hit: a one-shot, with no tempo.
    const Analysis hit = analyse(clicks(120, 1, 44100), 44100, 2);
    EXPECT_EQ(hit.kind, Analysis::Kind::OneShot);
    EXPECT_TRUE(std::isnan(hit.bpm));
}

TEST(Analysis, TonesFromC2ToC6ReadAsTheirNotes)
{
    EXPECT_EQ(noteText(57), "A3");
    EXPECT_EQ(noteText(61), "C#4");
    EXPECT_EQ(noteText(-1), "");
    for (int note = 36; note <= 84; ++note) {
        const double f = 440.0 * std::pow(2.0, (note - 69) / 12.0);
        const auto envelope = [](double t) { return std::min(1.0, t / 0.005) * std::exp(-t * 1.5); };
        const Analysis sine = analyse(
            signal(44100, 1, 1.0, [&](double t) { return 0.5 * envelope(t) * std::sin(kTau * f * t); }), 44100, 1);
        EXPECT_EQ(sine.note, note) << "sine " << noteText(note);
        EXPECT_EQ(sine.kind, Analysis::Kind::OneShot);
        const Analysis saw = analyse(signal(44100, 2, 1.0,
                                            [&](double t) {
                                                const double phase = std::fmod(f * t, 1.0);
                                                return 0.4 * envelope(t) * (2 * phase - 1);
                                            }),
                                     44100, 2);
        EXPECT_EQ(saw.note, note) << "sawtooth " << noteText(note);
    }
    // Noise has no note.
    std::mt19937 random(7);
    std::uniform_real_distribution<double> uniform(-0.5, 0.5);
    const Analysis noise = analyse(signal(44100, 2, 1.0, [&](double) { return uniform(random); }), 44100, 2);
    EXPECT_EQ(noise.note, -1);
}

TEST(Analysis, TheDescriptionPutsLikeNearLike)
{
    std::mt19937 random(3);
    std::uniform_real_distribution<double> uniform(-0.5, 0.5);
    const auto tone = [](double f) {
        return analyse(signal(44100, 1, 1.0, [f](double t) { return 0.5 * std::exp(-3 * t) * std::sin(kTau * f * t); }),
                       44100, 1);
    };
    const Analysis a440 = tone(440);
    const Analysis a466 = tone(466);
    const Analysis noise
        = analyse(signal(44100, 1, 1.0, [&](double t) { return std::exp(-3 * t) * uniform(random); }), 44100, 1);
    EXPECT_LT(distance(a440, a466), distance(a440, noise));
}

TEST(Analysis, TheSameAudioInAnyContainerHasOneHashAndBadFilesAreToldWhy)
{
    const TempDir dir;
    const std::vector<float> take
        = signal(44100, 2, 0.5, [](double t) { return 0.3 * std::sin(kTau * 300 * t) * std::exp(-2 * t); });
    auralist::testing::writeSoundFile(dir.path() + "/take.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 44100, 2, take);
    auralist::testing::writeSoundFile(dir.path() + "/take.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 44100, 2, take);
    std::vector<float> other = take;
    other[1000] += 0.01F;
    auralist::testing::writeSoundFile(dir.path() + "/other.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 44100, 2, other);
    const Analysis wav = analysis::analyseFile(dir.path() + "/take.wav");
    const Analysis flac = analysis::analyseFile(dir.path() + "/take.flac");
    const Analysis changed = analysis::analyseFile(dir.path() + "/other.wav");
    ASSERT_TRUE(wav.ok && flac.ok && changed.ok);
    EXPECT_EQ(wav.audioHash, flac.audioHash);
    EXPECT_NE(wav.audioHash, changed.audioHash);
    EXPECT_NEAR(wav.loudness, flac.loudness, 1e-9);

    // Junk, a FIFO, a file cut short, one that is not there.
    std::ofstream(dir.path() + "/junk.wav", std::ios::binary) << std::string(5000, '\x7f');
    ASSERT_EQ(::mkfifo((dir.path() + "/pipe.wav").c_str(), 0600), 0);
    {
        std::ifstream in(dir.path() + "/take.wav", std::ios::binary);
        std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        std::ofstream(dir.path() + "/cut.wav", std::ios::binary) << bytes.substr(0, bytes.size() / 3);
    }
    for (const char *name : {"junk.wav", "pipe.wav", "missing.wav"}) {
        const Analysis bad = analysis::analyseFile(dir.path() + "/" + name);
        EXPECT_FALSE(bad.ok) << name;
        EXPECT_FALSE(bad.error.empty()) << name;
    }
    // Float samples that are not numbers, or far past full scale: told, or
    // no number, never an infinite one.
    std::vector<float> odd = take;
    odd[10] = std::numeric_limits<float>::quiet_NaN();
    odd[11] = std::numeric_limits<float>::infinity();
    auralist::testing::writeSoundFile(dir.path() + "/odd.wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT, 44100, 2, odd);
    const Analysis notNumbers = analysis::analyseFile(dir.path() + "/odd.wav");
    EXPECT_FALSE(notNumbers.ok);
    EXPECT_EQ(notNumbers.error, "The sound holds samples that are not numbers.");
    std::vector<float> huge(2 * 44100, 3e38F);
    for (std::size_t i = 0; i < huge.size(); i += 2)
        huge[i] = -3e38F;
    const Analysis loud = analyse(huge, 44100, 2);
    EXPECT_FALSE(std::isinf(loud.loudness));
    EXPECT_FALSE(std::isinf(loud.peak));
    const Analysis cut = analysis::analyseFile(dir.path() + "/cut.wav");
    EXPECT_TRUE(cut.ok);
    EXPECT_LT(cut.seconds, 0.2);
    EXPECT_FALSE(analysis::analyseFile(dir.path() + "/take.wav", [] { return true; }).ok);

    // The hash alone, as a check before a deletion makes it: the
    // analysis's own, and nothing for what cannot be heard whole.
    EXPECT_EQ(analysis::audioHashOf(dir.path() + "/take.flac"), wav.audioHash);
    EXPECT_EQ(analysis::audioHashOf(dir.path() + "/other.wav"), changed.audioHash);
    for (const char *name : {"junk.wav", "pipe.wav", "missing.wav", "odd.wav"})
        EXPECT_FALSE(analysis::audioHashOf(dir.path() + "/" + name)) << name;
    EXPECT_FALSE(analysis::audioHashOf(dir.path() + "/take.wav", [] { return true; }));
}

// Two stems bounced from one session: the same length, 70,000 frames of
// silence at each end, a bass tone in one and noise in the other. Their
// files agree in size and in their first and last 64 KB; their audio
// does not.
TEST(Analysis, StemsAlikeInSizeAndEndsAreTwoSounds)
{
    const TempDir dir;
    constexpr std::size_t kSilence = 70000;
    constexpr std::size_t kFrames = 2 * kSilence + 44100;
    std::vector<float> bass(2 * kFrames, 0.0F);
    std::vector<float> drums(2 * kFrames, 0.0F);
    std::uint32_t noise = 12345;
    for (std::size_t i = kSilence; i < kFrames - kSilence; ++i) {
        bass[2 * i] = bass[2 * i + 1] = static_cast<float>(0.4 * std::sin(kTau * 220 * static_cast<double>(i) / 44100));
        noise = noise * 1664525U + 1013904223U;
        drums[2 * i] = drums[2 * i + 1] = static_cast<float>(noise >> 8) / static_cast<float>(1U << 24) - 0.5F;
    }
    const std::string bassPath = dir.path() + "/Bass stem.wav";
    const std::string drumsPath = dir.path() + "/Drums stem.wav";
    auralist::testing::writeSoundFile(bassPath, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 44100, 2, bass);
    auralist::testing::writeSoundFile(drumsPath, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 44100, 2, drums);
    ASSERT_EQ(catalogue::fingerprintOf(bassPath), catalogue::fingerprintOf(drumsPath));
    const Analysis a = analysis::analyseFile(bassPath);
    const Analysis b = analysis::analyseFile(drumsPath);
    ASSERT_TRUE(a.ok && b.ok);
    EXPECT_NE(a.audioHash, b.audioHash);
    EXPECT_EQ(analysis::audioHashOf(bassPath), a.audioHash);
    EXPECT_EQ(analysis::audioHashOf(drumsPath), b.audioHash);
    EXPECT_GT(std::abs(a.loudness - b.loudness), 1.0);
}

TEST(Analysis, TheStartOfASoundIsMeasuredForItsFirstPlay)
{
    const TempDir dir;
    // Ten seconds: quiet for the first three, loud after.
    const std::vector<float> frames
        = signal(44100, 2, 10, [](double t) { return fromDb(t < 3.5 ? -23 : -6) * std::sin(kTau * 1000 * t); });
    auralist::testing::writeSoundFile(dir.path() + "/long.wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT, 44100, 2, frames);
    const analysis::StartLevel start = analysis::measureStart(dir.path() + "/long.wav");
    EXPECT_NEAR(start.loudness, -23.0, 0.1);
    EXPECT_NEAR(start.peak, -23.0, 0.1);
    auralist::testing::writeSoundFile(dir.path() + "/short.wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT, 44100, 2,
                                      std::vector<float>(frames.begin(), frames.begin() + 2 * 8820));
    EXPECT_TRUE(std::isfinite(analysis::measureStart(dir.path() + "/short.wav").loudness));
    EXPECT_TRUE(std::isnan(analysis::measureStart(dir.path() + "/missing.wav").loudness));
}

// The timbre's coefficients are aubio's MFCC to the last bit, for every
// rate a sound comes at and for spectra with empty bands.
TEST(Analysis, TheCepstrumIsTheLibrarysMfcc)
{
    std::mt19937 random(5);
    std::uniform_real_distribution<float> unit(0, 1);
    for (const unsigned rate : {44100U, 48000U, 96000U, 32000U}) {
        analysis::MelCepstrum mine(1024, 40, 13, rate);
        ASSERT_TRUE(mine.ready());
        aubio_mfcc_t *theirs = new_aubio_mfcc(1024, 40, 13, rate);
        cvec_t *spectrum = new_cvec(1024);
        fvec_t *expected = new_fvec(13);
        std::array<float, 13> got{};
        for (int t = 0; t < 50; ++t) {
            for (uint_t b = 0; b < spectrum->length; ++b)
                spectrum->norm[b] = t % 5 == 0 ? 0.0F : unit(random) * std::pow(10.0F, -8 * unit(random));
            aubio_mfcc_do(theirs, spectrum, expected);
            mine.compute(spectrum->norm, got.data());
            for (std::size_t c = 0; c < got.size(); ++c)
                ASSERT_EQ(got[c], expected->data[c]) << rate << " Hz, spectrum " << t << ", coefficient " << c;
        }
        del_fvec(expected);
        del_cvec(spectrum);
        del_aubio_mfcc(theirs);
    }
}
