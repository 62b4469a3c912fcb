#include "core/sound_traits.h"

#include <array>
#include <cstdio>
#include <unordered_map>

#include "core/header_facts.h"
#include "core/records.h"

namespace auralist {

bool isTraitKey(std::string_view key)
{
    return key == kLoudnessKey || key == kPeakKey || key == kTypeKey || key == kBpmKey || key == kNoteKey;
}

std::string noteText(int note)
{
    static constexpr std::array<const char *, 12> kNames{"C",  "C#", "D",  "D#", "E",  "F",
                                                         "F#", "G",  "G#", "A",  "A#", "B"};
    if (note < 0 || note > 127)
        return {};
    return std::string(kNames[static_cast<std::size_t>(note % 12)]) + std::to_string(note / 12 - 1);
}

namespace {

std::string decibels(float value, const char *unit)
{
    if (std::isnan(value))
        return {};
    std::array<char, 32> text{};
    std::snprintf(text.data(), text.size(), "%.1f %s", static_cast<double>(value), unit);
    // "-0.0" reads as a sign without a value.
    std::string out(text.data());
    if (out.rfind("-0.0 ", 0) == 0)
        out.erase(0, 1);
    return out;
}

} // namespace

std::string traitText(const SoundTraits &traits, std::string_view key)
{
    if (traits.state == SoundTraits::State::Unknown)
        return {};
    if (traits.state == SoundTraits::State::Failed)
        return kNoValue;
    if (key == kLoudnessKey)
        return decibels(traits.loudness, "LUFS");
    if (key == kPeakKey)
        return decibels(traits.peak, "dBTP");
    if (key == kTypeKey)
        return traits.loop ? "Loop" : "One-shot";
    if (key == kBpmKey)
        return std::isnan(traits.bpm) ? std::string() : std::to_string(static_cast<int>(std::lround(traits.bpm)));
    if (key == kNoteKey)
        return noteText(traits.note);
    return {};
}

double traitSortValue(const SoundTraits &traits, std::string_view key)
{
    constexpr double kNotYet = -1e300;
    constexpr double kFailed = -1e299;
    constexpr double kEmpty = -1e298;
    if (traits.state == SoundTraits::State::Unknown)
        return kNotYet;
    if (traits.state == SoundTraits::State::Failed)
        return kFailed;
    double v = kEmpty;
    if (key == kLoudnessKey)
        v = traits.loudness;
    else if (key == kPeakKey)
        v = traits.peak;
    else if (key == kTypeKey)
        v = traits.loop ? 1 : 0;
    else if (key == kBpmKey)
        v = traits.bpm;
    else if (key == kNoteKey)
        v = traits.note;
    return std::isnan(v) || (key == kNoteKey && v < 0) ? kEmpty : v;
}

std::vector<std::pair<std::uint32_t, int>> duplicateGroups(const RecordStore &store,
                                                           const std::vector<std::uint32_t> &rows)
{
    // The first record of each audio hash, and the records after it.
    std::unordered_map<std::uint64_t, std::uint32_t> groupOf;
    std::vector<std::vector<std::uint32_t>> groups;
    for (const std::uint32_t r : rows) {
        const SoundTraits &t = store.traits(r);
        if (t.state != SoundTraits::State::Analysed || t.audioHash == 0)
            continue;
        const auto [at, added] = groupOf.try_emplace(t.audioHash, static_cast<std::uint32_t>(groups.size()));
        if (added)
            groups.emplace_back();
        groups[at->second].push_back(r);
    }
    std::vector<std::pair<std::uint32_t, int>> out;
    int number = 0;
    for (const auto &group : groups) {
        if (group.size() < 2)
            continue;
        ++number;
        for (const std::uint32_t r : group)
            out.emplace_back(r, number);
    }
    return out;
}

} // namespace auralist
