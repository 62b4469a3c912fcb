#include "core/header_facts.h"

#include <cstdio>

namespace auralist {

namespace {

const char *containerName(FileFormat f)
{
    switch (f) {
    case FileFormat::Wav: return "WAV";
    case FileFormat::Aiff: return "AIFF";
    case FileFormat::Flac: return "FLAC";
    case FileFormat::Ogg: return "Ogg";
    case FileFormat::Mp3: return "MP3";
    case FileFormat::Au: return "AU";
    case FileFormat::Caf: return "CAF";
    case FileFormat::W64: return "W64";
    case FileFormat::Rf64: return "RF64";
    case FileFormat::Other:
    case FileFormat::Unknown: break;
    }
    return "Audio";
}

std::string encodingSuffix(SampleEncoding e)
{
    switch (e) {
    case SampleEncoding::Pcm8: return " 8-bit";
    case SampleEncoding::Pcm16: return " 16-bit";
    case SampleEncoding::Pcm24: return " 24-bit";
    case SampleEncoding::Pcm32: return " 32-bit";
    case SampleEncoding::Float: return " 32-bit float";
    case SampleEncoding::Double: return " 64-bit float";
    case SampleEncoding::ALaw: return " A-law";
    case SampleEncoding::ULaw: return " \xC2\xB5-law";
    case SampleEncoding::Adpcm: return " ADPCM";
    case SampleEncoding::Vorbis:
    case SampleEncoding::Opus:
    case SampleEncoding::Mpeg:
    case SampleEncoding::Other:
    case SampleEncoding::Unknown: break;
    }
    return {};
}

std::string formatText(const HeaderFacts &f)
{
    const auto container = static_cast<FileFormat>(f.container);
    const auto encoding = static_cast<SampleEncoding>(f.encoding);
    if (container == FileFormat::Ogg)
        return encoding == SampleEncoding::Opus ? "Opus" : "Ogg Vorbis";
    if (container == FileFormat::Mp3 || encoding == SampleEncoding::Mpeg)
        return "MP3";
    return containerName(container) + encodingSuffix(encoding);
}

std::string lengthText(const HeaderFacts &f)
{
    if (f.rate == 0 || f.frames < 0)
        return kNoValue;
    // A header may claim anything: past a million hours it is not believed.
    const std::int64_t seconds = f.frames / f.rate;
    if (seconds > std::int64_t(3600) * 1000000)
        return kNoValue;
    // Tenths, rounded down, so a sound is never shown longer than it is.
    const std::int64_t tenths = seconds * 10 + (f.frames % f.rate) * 10 / f.rate;
    const std::int64_t minutes = tenths / 600;
    const std::int64_t rest = tenths % 600;
    char text[48];
    std::snprintf(text, sizeof text, "%lld:%02lld.%lld", static_cast<long long>(minutes),
                  static_cast<long long>(rest / 10), static_cast<long long>(rest % 10));
    return text;
}

std::string sizeText(std::uint64_t bytes)
{
    char text[48];
    if (bytes < 1000) {
        std::snprintf(text, sizeof text, "%llu bytes", static_cast<unsigned long long>(bytes));
        return text;
    }
    const char *units[] = {"KB", "MB", "GB", "TB"};
    double value = static_cast<double>(bytes) / 1000.0;
    size_t unit = 0;
    while (value >= 1000.0 && unit + 1 < std::size(units)) {
        value /= 1000.0;
        ++unit;
    }
    std::snprintf(text, sizeof text, value < 10 ? "%.1f %s" : "%.0f %s", value, units[unit]);
    return text;
}

} // namespace

bool isFactKey(std::string_view key)
{
    return key == kLengthKey || key == kFormatKey || key == kRateKey || key == kChannelsKey || key == kSizeKey;
}

std::string factText(const HeaderFacts &facts, std::string_view key)
{
    if (facts.state == HeaderFacts::State::Unknown)
        return {};
    if (facts.state == HeaderFacts::State::Failed)
        return kNoValue;
    if (key == kLengthKey)
        return lengthText(facts);
    if (key == kFormatKey)
        return formatText(facts);
    if (key == kRateKey)
        return std::to_string(facts.rate);
    if (key == kChannelsKey)
        return std::to_string(facts.channels);
    if (key == kSizeKey)
        return sizeText(facts.size);
    return {};
}

double factSortValue(const HeaderFacts &facts, std::string_view key)
{
    if (facts.state == HeaderFacts::State::Unknown)
        return -2;
    if (facts.state == HeaderFacts::State::Failed)
        return -1;
    if (key == kLengthKey)
        return facts.rate == 0 ? -1 : static_cast<double>(facts.frames) / facts.rate;
    if (key == kFormatKey)
        return facts.container * 256.0 + facts.encoding;
    if (key == kRateKey)
        return facts.rate;
    if (key == kChannelsKey)
        return facts.channels;
    if (key == kSizeKey)
        return static_cast<double>(facts.size);
    return 0;
}

} // namespace auralist
