#pragma once

#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace auralist {

// What the analysis learned of a sound, as the table shows it: a few bytes
// a record, kept beside the header facts.
struct SoundTraits {
    enum class State : std::uint8_t { Unknown, Analysed, Failed };
    static constexpr float kNone = std::numeric_limits<float>::quiet_NaN();
    float loudness = kNone; // LUFS
    float peak = kNone; // dBTP
    float bpm = kNone;
    std::uint64_t audioHash = 0; // of the decoded samples: one for duplicates
    std::int8_t note = -1; // MIDI, -1: none
    bool loop = false;
    State state = State::Unknown;
    std::uint16_t reason = 0; // why it failed: RecordStore::reason()
};

// One analysis, for the window and the catalogue: the traits, and what only
// the catalogue keeps (for similar sounds and duplicates).
struct AnalysisResult {
    std::uint32_t record = 0;
    SoundTraits traits;
    std::string error; // why it could not be analysed
    std::vector<float> descriptor;
    std::string path; // the file analysed; empty: not said
};

// The identifiers of the columns that show traits.
inline constexpr const char *kLoudnessKey = "loudness";
inline constexpr const char *kPeakKey = "peak";
inline constexpr const char *kTypeKey = "type";
inline constexpr const char *kBpmKey = "bpm";
inline constexpr const char *kNoteKey = "note";
// Columns whose values belong to a list the analysis made: a group of
// duplicates, the likeness to the sound asked about.
inline constexpr const char *kDuplicateKey = "duplicate";
inline constexpr const char *kSimilarityKey = "similarity";

bool isTraitKey(std::string_view key);
// The text of a trait column's cell: "-14.2 LUFS", "-0.3 dBTP", "Loop",
// "120", "A3"; kNoValue when it could not be analysed; empty while it is not
// analysed yet, or where it has no such value (a one-shot's tempo).
std::string traitText(const SoundTraits &traits, std::string_view key);
// The value a trait column sorts by: by value, the ones without first.
double traitSortValue(const SoundTraits &traits, std::string_view key);
// "A3", "C#5"; empty for -1.
std::string noteText(int note);

// Reads the traits of a store's records on other threads (the analysis)
// and hands them back on the main thread.
class RecordStore;
class TraitFeed {
public:
    TraitFeed() = default;
    virtual ~TraitFeed() = default;
    TraitFeed(const TraitFeed &) = delete;
    TraitFeed &operator=(const TraitFeed &) = delete;

    // Starts on the records of store, in the order given; drops whatever an
    // earlier call asked for. The store must take no more records.
    virtual void analyseStore(const std::shared_ptr<RecordStore> &store, std::vector<std::uint32_t> order) = 0;
    // These records (the rows on screen) go first.
    virtual void preferAnalysis(const std::shared_ptr<RecordStore> &store, std::vector<std::uint32_t> records) = 0;
};

// The records among rows of store whose decoded audio is the same as at
// least one other's, group by group (groups in the order of their first
// record in rows), each with its group's number from 1.
std::vector<std::pair<std::uint32_t, int>> duplicateGroups(const RecordStore &store,
                                                           const std::vector<std::uint32_t> &rows);

} // namespace auralist
