#include "analysis/analyse.h"

// The peak picker is in aubio's "unstable" set; Debian 12 ships 0.4.9,
// whose interface the code below follows.
#define AUBIO_UNSTABLE 1 // NOLINT(cppcoreguidelines-macro-usage)
#include <aubio/aubio.h>
#include <ebur128.h>
#include <xxhash.h>

#include <algorithm>
#include <array>
#include <numeric>
#include <vector>

#include "analysis/cepstrum.h"
#include "analysis/true_peak.h"
#include "core/vector_state.h"
#include "platform/sound_file.h"

namespace auralist::analysis {

namespace {

// The audio hash begins with the format, so the same samples at another
// rate or in other channels are another sound.
void startAudioHash(XXH3_state_t *hash, int channels, int rate)
{
    XXH3_64bits_reset(hash);
    const std::array<std::int32_t, 2> format{channels, rate};
    XXH3_64bits_update(hash, format.data(), sizeof format);
}

constexpr uint_t kHop = 512; // pitch, the envelope
constexpr uint_t kWindow = 1024; // spectra
constexpr uint_t kOnsetHop = 512; // one spectrum each, for onsets
constexpr uint_t kSpectraPerDescription = 2; // timbre from every other
constexpr uint_t kPitchWindow = 2048;
constexpr std::size_t kPitchStride = 2; // hops
constexpr uint_t kCoefficients = 13;
constexpr uint_t kFilters = 40;
// Tempo and timbre are judged from the first half minute, the pitch of a
// one-shot from its first seconds; loudness and peak take the whole sound.
constexpr double kFeatureSeconds = 30.0;
constexpr double kPitchSeconds = 4.0;
// Below this a hop counts as silent (dBFS, RMS).
constexpr double kSilentDb = -60.0;

double dbOf(double linear)
{
    return 20.0 * std::log10(linear);
}

// Onsets closer than this are one event.
constexpr double kShortestGap = 0.06;

// The tempo of a steady pulse through onset times (seconds), or NaN: the
// commonest gap between onsets is the pulse when nearly every onset falls
// on its grid; the pulse's length is then fitted to all of them (least
// squares), so the tempo is exact to far better than one analysis hop.
double steadyTempo(const std::vector<double> &onsets)
{
    if (onsets.size() < 4)
        return Analysis::kNone;
    std::vector<double> gaps;
    for (std::size_t i = 1; i < onsets.size(); ++i) {
        if (onsets[i] - onsets[i - 1] >= kShortestGap)
            gaps.push_back(onsets[i] - onsets[i - 1]);
    }
    if (gaps.size() < 3)
        return Analysis::kNone;
    std::nth_element(gaps.begin(), gaps.begin() + static_cast<std::ptrdiff_t>(gaps.size() / 2), gaps.end());
    const double pulse = gaps[gaps.size() / 2];
    double sk = 0;
    double st = 0;
    double skk = 0;
    double skt = 0;
    std::size_t onGrid = 0;
    std::int64_t lastBeat = 0;
    for (const double t : onsets) {
        const double beats = (t - onsets.front()) / pulse;
        const auto k = static_cast<std::int64_t>(std::llround(beats));
        if (std::fabs(beats - static_cast<double>(k)) > 0.1)
            continue;
        ++onGrid;
        lastBeat = std::max(lastBeat, k);
        const auto kd = static_cast<double>(k);
        sk += kd;
        st += t;
        skk += kd * kd;
        skt += kd * t;
    }
    if (onGrid * 10 < onsets.size() * 8 || lastBeat < 3)
        return Analysis::kNone;
    const auto n = static_cast<double>(onGrid);
    const double period = (n * skt - sk * st) / (n * skk - sk * sk);
    if (!(period > 0))
        return Analysis::kNone;
    double bpm = 60.0 / period;
    while (bpm >= 200.0)
        bpm /= 2;
    while (bpm < 70.0)
        bpm *= 2;
    return bpm;
}

double median(std::vector<double> values)
{
    std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2), values.end());
    return values[values.size() / 2];
}

// What analysing a sound needs that does not change from one sound to
// the next at the same rate: FFT plans, the window, the mel filters, the
// pitch detector, and room to work in. Made once per thread and rate;
// shared by the analysers of one thread, which use it one call at a time.
struct Tools {
    explicit Tools(unsigned r) : rate(r), cepstrum(kWindow, kFilters, kCoefficients, r)
    {
        window = new_aubio_window(const_cast<char_t *>("hanningz"), kWindow); // NOLINT: aubio's own type
        windowed = new_fvec(kWindow);
        complexSpectrum = new_fvec(kWindow);
        spectrum = new_cvec(kWindow);
        fft = new_aubio_fft(kWindow);
        hfc = new_aubio_specdesc("hfc", kWindow);
        pitch = new_aubio_pitch("yinfast", kPitchWindow, kPitchWindow, r);
        if (pitch) {
            aubio_pitch_set_unit(pitch, "Hz");
            aubio_pitch_set_silence(pitch, static_cast<smpl_t>(kSilentDb));
        }
        pitchIn = new_fvec(kPitchWindow);
        pitchOut = new_fvec(1);
    }
    ~Tools()
    {
        for (fvec_t *v : {window, windowed, complexSpectrum, pitchIn, pitchOut}) {
            if (v)
                del_fvec(v);
        }
        if (spectrum)
            del_cvec(spectrum);
        if (fft)
            del_aubio_fft(fft);
        if (hfc)
            del_aubio_specdesc(hfc);
        if (pitch)
            del_aubio_pitch(pitch);
    }
    Tools(const Tools &) = delete;
    Tools &operator=(const Tools &) = delete;

    bool ready() const
    {
        return window && windowed && complexSpectrum && spectrum && fft && hfc && pitch && pitchIn && pitchOut
            && cepstrum.ready();
    }

    unsigned rate;
    fvec_t *window = nullptr;
    fvec_t *windowed = nullptr;
    fvec_t *complexSpectrum = nullptr;
    cvec_t *spectrum = nullptr;
    aubio_fft_t *fft = nullptr;
    aubio_specdesc_t *hfc = nullptr;
    MelCepstrum cepstrum;
    aubio_pitch_t *pitch = nullptr;
    fvec_t *pitchIn = nullptr;
    fvec_t *pitchOut = nullptr;
};

std::shared_ptr<Tools> toolsFor(int rate)
{
    // The rates of the last few sounds: a folder seldom mixes more.
    constexpr std::size_t kKept = 4;
    thread_local std::vector<std::shared_ptr<Tools>> made;
    const auto r = static_cast<unsigned>(rate);
    const auto found = std::find_if(made.begin(), made.end(), [r](const auto &t) { return t->rate == r; });
    if (found != made.end())
        return *found;
    auto tools = std::make_shared<Tools>(r);
    if (made.size() >= kKept)
        made.erase(made.begin());
    made.push_back(tools);
    return tools;
}

} // namespace

struct Analyser::State {
    int channels;
    int rate;
    std::int64_t frames = 0;
    ebur128_state *loudness = nullptr;
    double loudestMomentary = -HUGE_VAL;
    TruePeak truePeak;
    XXH3_state_t *hash = nullptr;

    // The sound mixed to one channel, waiting for a whole hop, and the
    // last window's worth of it.
    std::vector<float> mono;
    std::size_t monoAt = 0;
    std::shared_ptr<Tools> tools;
    fvec_t *recent = nullptr;
    aubio_peakpicker_t *picker = nullptr;
    fvec_t *onsetStrength = nullptr;
    fvec_t *picked = nullptr;
    std::array<float, kCoefficients> coefficients{};
    std::int64_t onsetHops = 0;
    std::int64_t hops = 0;
    double lastOnset = -1;
    std::vector<double> onsets;
    // The first seconds mixed to one channel, and whether each hop of them
    // is silent: a pitch is looked for only once the sound is known to be
    // a one-shot.
    std::vector<float> early;
    std::vector<bool> earlySilent;
    std::vector<float> hopLevels; // RMS of each hop
    double sampleSum = 0; // for telling a constant from a sound
    double sampleSquares = 0;
    bool notNumbers = false; // a sample that is infinite or not a number
    std::array<double, kCoefficients> mfccSum{};
    std::array<double, kCoefficients> mfccSquares{};
    double centroidSum = 0;
    double flatnessSum = 0;
    std::int64_t described = 0;

    State(int c, int r) : channels(c), rate(r), truePeak(c), tools(toolsFor(r))
    {
        loudness = ebur128_init(static_cast<unsigned>(channels), static_cast<unsigned long>(rate), EBUR128_MODE_I);
        // A mono sound is heard from both speakers: it counts as two.
        if (loudness && channels == 1)
            ebur128_set_channel(loudness, 0, EBUR128_DUAL_MONO);
        hash = XXH3_createState();
        startAudioHash(hash, channels, rate);
        recent = new_fvec(kWindow);
        picker = new_aubio_peakpicker();
        onsetStrength = new_fvec(1);
        picked = new_fvec(1);
        mono.resize(kHop);
    }
    ~State()
    {
        if (loudness)
            ebur128_destroy(&loudness);
        XXH3_freeState(hash);
        if (picker)
            del_aubio_peakpicker(picker);
        for (fvec_t *v : {recent, onsetStrength, picked}) {
            if (v)
                del_fvec(v);
        }
    }
    State(const State &) = delete;
    State &operator=(const State &) = delete;

    bool ready() const { return loudness && recent && picker && onsetStrength && picked && tools->ready() && hash; }

    // Every kOnsetHop samples: a spectrum of the last window, for onsets
    // and, every so often, for the timbre.
    void onsetHop(const float *samples, bool silent)
    {
        const double at = static_cast<double>(onsetHops * kOnsetHop) / rate;
        ++onsetHops;
        std::copy(recent->data + kOnsetHop, recent->data + kWindow, recent->data);
        std::copy(samples, samples + kOnsetHop, recent->data + kWindow - kOnsetHop);
        Tools &t = *tools;
        const cvec_t *spectrum = t.spectrum;
        fvec_weighted_copy(recent, t.window, t.windowed);
        aubio_fft_do_complex(t.fft, t.windowed, t.complexSpectrum);
        aubio_fft_get_norm(t.complexSpectrum, t.spectrum);
        aubio_specdesc_do(t.hfc, t.spectrum, onsetStrength);
        aubio_peakpicker_do(picker, onsetStrength, picked);
        if (picked->data[0] > 0) {
            // The picker answers a few hops late; only the gaps count.
            const double onset = at + static_cast<double>(picked->data[0]) * kOnsetHop / rate;
            if (lastOnset < 0 || onset - lastOnset >= 0.05) {
                onsets.push_back(onset);
                lastOnset = onset;
            }
        }
        if (silent || onsetHops % kSpectraPerDescription != 0)
            return;
        t.cepstrum.compute(spectrum->norm, coefficients.data());
        for (uint_t c = 0; c < kCoefficients; ++c) {
            const double v = coefficients[c];
            mfccSum[c] += v;
            mfccSquares[c] += v * v;
        }
        double weighted = 0;
        double total = 0;
        double logSum = 0;
        double power = 0;
        const uint_t bins = spectrum->length;
        for (uint_t b = 0; b < bins; ++b) {
            const double m = spectrum->norm[b];
            weighted += m * b;
            total += m;
            logSum += std::log(m * m + 1e-12);
            power += m * m;
        }
        const double binHz = static_cast<double>(rate) / kWindow;
        centroidSum += std::log2(std::max(total > 0 ? weighted / total * binHz : 0.0, 20.0));
        power = power / bins + 1e-12;
        flatnessSum += std::log10(std::max(std::exp(logSum / bins) / power, 1e-12));
        ++described;
    }

    // Mixes frames (no more than the hop has room for) to one channel,
    // adding them to the sums that tell a constant from a sound. The sums
    // run in eight lanes, which the compiler makes vector instructions.
    void mixDown(const float *in, std::size_t count)
    {
        constexpr std::size_t kLanes = 8;
        const auto channelCount = static_cast<std::size_t>(channels);
        const std::size_t samples = count * channelCount;
        // (v - v) is 0 for every number and NaN for an infinity or a NaN.
        std::array<float, kLanes> check{};
        std::array<float, kLanes> squares{};
        std::size_t k = 0;
        for (; k + kLanes <= samples; k += kLanes) {
            for (std::size_t j = 0; j < kLanes; ++j) {
                check[j] += in[k + j] - in[k + j];
                squares[j] += in[k + j] * in[k + j];
            }
        }
        for (; k < samples; ++k) {
            check[0] += in[k] - in[k];
            squares[0] += in[k] * in[k];
        }
        float *out = mono.data() + monoAt;
        monoAt += count;
        if (!std::all_of(check.begin(), check.end(), [](float v) { return v == 0.0F; })) {
            // The sound cannot be analysed; what is mixed only has to be
            // numbers for the rest to run on.
            notNumbers = true;
            std::fill(out, out + count, 0.0F);
            return;
        }
        for (const float v : squares)
            sampleSquares += v;
        float sum = 0;
        if (channelCount == 1) {
            std::copy(in, in + count, out);
            for (std::size_t i = 0; i < count; ++i)
                sum += in[i];
        } else {
            const auto divisor = static_cast<float>(channelCount);
            for (std::size_t i = 0; i < count; ++i) {
                float frame = 0;
                for (std::size_t c = 0; c < channelCount; ++c)
                    frame += in[i * channelCount + c];
                out[i] = frame / divisor;
                sum += frame;
            }
        }
        sampleSum += sum;
    }

    void hop()
    {
        double energy = 0;
        for (const float v : mono)
            energy += static_cast<double>(v) * v;
        const double level = std::sqrt(energy / kHop);
        hopLevels.push_back(static_cast<float>(level));
        const double at = static_cast<double>(hops * kHop) / rate;
        ++hops;
        if (at >= kFeatureSeconds)
            return;
        const bool silent = level <= 0 || dbOf(level) < kSilentDb;
        for (uint_t at = 0; at < kHop; at += kOnsetHop)
            onsetHop(mono.data() + at, silent);
        if (at < kPitchSeconds) {
            early.insert(early.end(), mono.begin(), mono.end());
            earlySilent.push_back(silent);
        }
    }

    // The fundamental of the first seconds (Hz), or 0: the median of the
    // confident pitches of the hops that are not silent, each judged on
    // the window that ends with it, when they are enough of them.
    double fundamental() const
    {
        Tools &t = *tools;
        std::vector<double> pitches;
        std::size_t voiced = 0;
        for (std::size_t h = 0; h < earlySilent.size(); h += kPitchStride) {
            if (earlySilent[h])
                continue;
            ++voiced;
            // The window before the sound's start is silence.
            const std::size_t end = (h + 1) * kHop;
            const std::size_t from = end > kPitchWindow ? end - kPitchWindow : 0;
            const std::size_t lead = kPitchWindow - (end - from);
            std::fill(t.pitchIn->data, t.pitchIn->data + lead, 0.0F);
            std::copy(early.begin() + static_cast<std::ptrdiff_t>(from),
                      early.begin() + static_cast<std::ptrdiff_t>(end), t.pitchIn->data + lead);
            aubio_pitch_do(t.pitch, t.pitchIn, t.pitchOut);
            const double f = t.pitchOut->data[0];
            if (aubio_pitch_get_confidence(t.pitch) >= 0.85F && f >= 25.0 && f <= 5000.0)
                pitches.push_back(f);
        }
        if (pitches.size() < 3 || static_cast<double>(pitches.size()) < 0.4 * static_cast<double>(voiced))
            return 0;
        return median(pitches);
    }
};

Analyser::Analyser(int channels, int rate)
{
    if (channels > 0 && rate > 0)
        m_state = std::make_unique<State>(channels, rate);
}

Analyser::~Analyser() = default;

void Analyser::add(const float *frames, std::int64_t count)
{
    if (!m_state || !m_state->ready() || count <= 0)
        return;
    State &s = *m_state;
    const auto channels = static_cast<std::size_t>(s.channels);
    XXH3_64bits_update(s.hash, frames, static_cast<std::size_t>(count) * channels * sizeof(float));
    s.truePeak.add(frames, count);
    // The largest momentary loudness is wanted only of a sound too short
    // for an integrated one: it is sampled every 100 ms of its first half
    // second.
    const std::int64_t tenth = std::max(s.rate / 10, 1);
    std::int64_t done = 0;
    while (done < count) {
        std::int64_t take = count - done;
        if (s.frames < s.rate / 2)
            take = std::min(take, tenth - s.frames % tenth);
        ebur128_add_frames_float(s.loudness, frames + done * s.channels, static_cast<std::size_t>(take));
        s.frames += take;
        done += take;
        if (s.frames <= s.rate / 2 + tenth) {
            double momentary = -HUGE_VAL;
            if (ebur128_loudness_momentary(s.loudness, &momentary) == EBUR128_SUCCESS)
                s.loudestMomentary = std::max(s.loudestMomentary, momentary);
        }
    }
    const auto n = static_cast<std::size_t>(count);
    for (std::size_t i = 0; i < n;) {
        const std::size_t take = std::min(n - i, kHop - s.monoAt);
        s.mixDown(frames + i * channels, take);
        i += take;
        if (s.monoAt == kHop) {
            s.hop();
            s.monoAt = 0;
        }
    }
}

Analysis Analyser::finish()
{
    Analysis a;
    if (!m_state || !m_state->ready()) {
        a.error = "The sound's format cannot be analysed.";
        return a;
    }
    State &s = *m_state;
    if (s.notNumbers) {
        a.error = "The sound holds samples that are not numbers.";
        return a;
    }
    a.ok = true;
    a.seconds = static_cast<double>(s.frames) / s.rate;
    a.audioHash = XXH3_64bits_digest(s.hash);
    double integrated = -HUGE_VAL;
    // A constant (DC) is inaudible but for the step at its start.
    const double samples = std::max<double>(static_cast<double>(s.frames) * s.channels, 1);
    const double mean = s.sampleSum / samples;
    const bool audible = s.sampleSquares / samples - mean * mean >= 1e-12;
    if (audible && a.seconds >= 0.4 && ebur128_loudness_global(s.loudness, &integrated) == EBUR128_SUCCESS
        && std::isfinite(integrated))
        a.loudness = integrated;
    else if (audible && a.seconds < 0.4 && std::isfinite(s.loudestMomentary))
        a.loudness = s.loudestMomentary;
    if (const double peak = s.truePeak.peak(); peak > 0 && std::isfinite(peak))
        a.peak = dbOf(peak);
    // Samples far past full scale overflow the meter: no number is better
    // than a wrong one.
    if (!std::isfinite(a.loudness))
        a.loudness = Analysis::kNone;

    a.bpm = a.seconds >= 1.0 ? steadyTempo(s.onsets) : Analysis::kNone;
    a.kind = std::isnan(a.bpm) ? Analysis::Kind::OneShot : Analysis::Kind::Loop;
    const double pitchHz = a.kind == Analysis::Kind::OneShot ? s.fundamental() : 0;
    if (pitchHz > 0) {
        const double midi = 69.0 + 12.0 * std::log2(pitchHz / 440.0);
        a.note = std::clamp(static_cast<int>(std::lround(midi)), 0, 127);
    }

    // The description, each part scaled to about one unit of spread.
    std::size_t d = 0;
    const double n = std::max<double>(static_cast<double>(s.described), 1);
    for (uint_t c = 0; c < kCoefficients; ++c) {
        const double mean = s.mfccSum[c] / n;
        a.descriptor[d++] = static_cast<float>(mean / (c == 0 ? 20.0 : 5.0));
    }
    for (uint_t c = 0; c < kCoefficients; ++c) {
        const double mean = s.mfccSum[c] / n;
        const double spread = std::sqrt(std::max(s.mfccSquares[c] / n - mean * mean, 0.0));
        a.descriptor[d++] = static_cast<float>(spread / 5.0);
    }
    a.descriptor[d++] = static_cast<float>((s.centroidSum / n - 10.0) / 2.0);
    a.descriptor[d++] = static_cast<float>(s.flatnessSum / n / 2.0);
    // Envelope: the time to the loudest hop, then to 20 dB below it.
    const auto loudest = std::max_element(s.hopLevels.begin(), s.hopLevels.end());
    double attack = 0;
    double decay = 0;
    if (loudest != s.hopLevels.end() && *loudest > 0) {
        const auto peakHop = static_cast<double>(loudest - s.hopLevels.begin());
        const auto quiet = std::find_if(loudest, s.hopLevels.end(), [&](float l) { return l < *loudest / 10; });
        attack = peakHop * kHop / s.rate;
        decay = static_cast<double>(quiet - loudest) * kHop / s.rate;
    }
    a.descriptor[d++] = static_cast<float>(std::log10(attack + 0.001));
    a.descriptor[d++] = static_cast<float>(std::log10(decay + 0.001));
    a.descriptor[d++] = static_cast<float>(pitchHz > 0 ? (std::log2(pitchHz) - 8.0) / 2.0 : -3.0);
    a.descriptor[d++] = static_cast<float>(std::log10(a.seconds + 0.01));
    return a;
}

StartLevel measureStart(const std::string &path, double seconds)
{
    StartLevel level;
    const std::unique_ptr<SoundFile> file = SoundFile::open(path);
    if (!file)
        return level;
    const SF_INFO &info = file->info();
    ebur128_state *meter = ebur128_init(static_cast<unsigned>(info.channels),
                                        static_cast<unsigned long>(info.samplerate), EBUR128_MODE_I);
    if (!meter)
        return level;
    if (info.channels == 1)
        ebur128_set_channel(meter, 0, EBUR128_DUAL_MONO);
    TruePeak peak(info.channels);
    const auto wanted = static_cast<sf_count_t>(seconds * info.samplerate);
    const sf_count_t block = std::max<sf_count_t>(info.samplerate / 10, 1);
    std::vector<float> frames(static_cast<std::size_t>(block) * static_cast<std::size_t>(info.channels));
    sf_count_t done = 0;
    double loudestMomentary = -HUGE_VAL;
    while (done < wanted) {
        const sf_count_t got = sf_readf_float(file->handle(), frames.data(), std::min(block, wanted - done));
        if (got <= 0)
            break;
        ebur128_add_frames_float(meter, frames.data(), static_cast<std::size_t>(got));
        peak.add(frames.data(), got);
        done += got;
        double momentary = -HUGE_VAL;
        if (ebur128_loudness_momentary(meter, &momentary) == EBUR128_SUCCESS)
            loudestMomentary = std::max(loudestMomentary, momentary);
    }
    double integrated = -HUGE_VAL;
    if (done >= info.samplerate * 4 / 10 && ebur128_loudness_global(meter, &integrated) == EBUR128_SUCCESS
        && std::isfinite(integrated))
        level.loudness = integrated;
    else if (std::isfinite(loudestMomentary))
        level.loudness = loudestMomentary;
    ebur128_destroy(&meter);
    if (peak.peak() > 0 && std::isfinite(peak.peak()))
        level.peak = dbOf(peak.peak());
    return level;
}

Analysis analyseFile(const std::string &path, const std::function<bool()> &stopped)
{
    // Whatever ran on this thread before may have left wide registers in use.
    clearWideVectorState();
    std::string error;
    const std::unique_ptr<SoundFile> file = SoundFile::open(path, &error);
    if (!file) {
        Analysis a;
        a.error = error.empty() ? "The file cannot be read." : error;
        return a;
    }
    const SF_INFO &info = file->info();
    Analyser analyser(info.channels, info.samplerate);
    constexpr sf_count_t kBlock = 8192;
    std::vector<float> block(static_cast<std::size_t>(kBlock) * static_cast<std::size_t>(std::max(info.channels, 1)));
    for (;;) {
        if (stopped && stopped()) {
            Analysis a;
            a.error = "stopped";
            return a;
        }
        const sf_count_t got = sf_readf_float(file->handle(), block.data(), kBlock);
        if (got <= 0)
            break;
        analyser.add(block.data(), got);
    }
    return analyser.finish();
}

std::optional<std::uint64_t> audioHashOf(const std::string &path, const std::function<bool()> &stopped)
{
    const std::unique_ptr<SoundFile> file = SoundFile::open(path);
    if (!file)
        return std::nullopt;
    const SF_INFO &info = file->info();
    if (info.channels <= 0 || info.samplerate <= 0)
        return std::nullopt;
    const std::unique_ptr<XXH3_state_t, decltype(&XXH3_freeState)> hash(XXH3_createState(), &XXH3_freeState);
    if (!hash)
        return std::nullopt;
    startAudioHash(hash.get(), info.channels, info.samplerate);
    // The blocks need not be the analysis's: the hash is of the stream.
    constexpr sf_count_t kBlock = 8192;
    std::vector<float> block(static_cast<std::size_t>(kBlock) * static_cast<std::size_t>(info.channels));
    for (;;) {
        if (stopped && stopped())
            return std::nullopt;
        const sf_count_t got = sf_readf_float(file->handle(), block.data(), kBlock);
        if (got <= 0)
            break;
        const std::size_t samples = static_cast<std::size_t>(got) * static_cast<std::size_t>(info.channels);
        if (!std::all_of(block.begin(), block.begin() + static_cast<std::ptrdiff_t>(samples),
                         [](float v) { return std::isfinite(v); }))
            return std::nullopt;
        XXH3_64bits_update(hash.get(), block.data(), samples * sizeof(float));
    }
    return XXH3_64bits_digest(hash.get());
}

} // namespace auralist::analysis
