#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/records.h"

namespace auralist {

// The container a header names (HeaderFacts::container).
enum class FileFormat : std::uint8_t { Unknown, Wav, Aiff, Flac, Ogg, Mp3, Au, Caf, W64, Rf64, Other };
// How its samples are stored (HeaderFacts::encoding).
enum class SampleEncoding : std::uint8_t {
    Unknown,
    Pcm8,
    Pcm16,
    Pcm24,
    Pcm32,
    Float,
    Double,
    Vorbis,
    Opus,
    Mpeg,
    ALaw,
    ULaw,
    Adpcm,
    Other
};

// The identifiers of the columns that show header facts.
inline constexpr const char *kLengthKey = "length";
inline constexpr const char *kFormatKey = "format";
inline constexpr const char *kRateKey = "rate";
inline constexpr const char *kChannelsKey = "channels";
inline constexpr const char *kSizeKey = "size";
// What a cell shows when the header could not be read.
inline constexpr const char *kNoValue = "\xE2\x80\x94";

// One header read: the record's index in its store, what was found, and
// why it failed (empty when it did not).
struct FactsResult {
    std::uint32_t record = 0;
    HeaderFacts facts;
    std::string error;
    FileMetadata metadata;
};

// Reads the header facts of a store's records on other threads and hands
// them back on the main thread.
class HeaderFeed {
public:
    HeaderFeed() = default;
    virtual ~HeaderFeed() = default;
    HeaderFeed(const HeaderFeed &) = delete;
    HeaderFeed &operator=(const HeaderFeed &) = delete;

    // Starts on the records of store, in the order given; drops whatever
    // an earlier call asked for. The store must take no more records.
    virtual void readStore(const RecordStorePtr &store, std::vector<std::uint32_t> order) = 0;
    // These records (the rows on screen) go first.
    virtual void prefer(const RecordStorePtr &store, std::vector<std::uint32_t> records) = 0;
};

bool isFactKey(std::string_view key);
// The text of a fact column's cell: "1:02.5", "WAV 24-bit", "44100",
// "2", "1.4 MB"; kNoValue for a header that could not be read; empty while
// the header is not read yet.
std::string factText(const HeaderFacts &facts, std::string_view key);
// The value a fact column sorts by (unknown values first, then failures).
double factSortValue(const HeaderFacts &facts, std::string_view key);

} // namespace auralist
