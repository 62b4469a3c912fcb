#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "core/records.h"

namespace auralist {

// What the find field holds, read as a query. Words are matched in the
// name, ignoring case, each on its own and all required; besides words:
//   -word            excludes
//   "two words"      keeps words together
//   name:x path:x    in the name / in the folder part of the path
//   tag:x            in the tags
//   desc:x           in the description the file holds
//   is:favourite     (is:fav) the favourites
//   format:x         in the format column ("wav", "24-bit")
//   type:loop  type:oneshot  note:A3 (note:A, any octave)
//   len: (length:) rate: ch: (channels:) size: bpm: loud:
//                    numbers, with <, <=, >, >=, = or a range a..b and units:
//                    500ms 1.5s 2m, 48k, 2MB 300KB, LUFS as they are
// A term that cannot be read is taken as plain text, with a hint why.
// Any term may be negated with a leading -.
struct Query {
    enum class Field : std::uint8_t {
        Word, // the name, as plain text
        Name,
        Path,
        Tag,
        Description,
        Favourite,
        Format,
        Type,
        Note,
        Length,
        Rate,
        Channels,
        Size,
        Bpm,
        Loudness,
    };
    struct Term {
        Field field = Field::Word;
        bool negated = false;
        std::string text; // case-folded, for the text fields
        std::uint64_t letters = 0; // RecordStore::lettersOf(text)
        // Numbers, types and notes: the range of values that matches.
        double low = 0;
        double high = 0;
        bool lowIncluded = true;
        bool highIncluded = true;
        bool loop = false; // type:
        int note = -1; // note: its pitch class (0 = C) ...
        bool anyOctave = false; // ... or, with an octave, its MIDI number
    };
    std::vector<Term> terms;
    // Why a term was taken as text, for the line under the field.
    std::vector<std::string> hints;
    // Every byte (as RecordStore::lettersOf) the name of a match holds:
    // a name lacking one is no match, which is cheap to tell.
    std::uint64_t nameLetters = 0;

    bool empty() const { return terms.empty(); }
    // Only words that must all be there: a longer text of the same
    // kind can only match fewer sounds.
    bool onlyRequiredWords() const;
    // Needs what the analysis learns (type, note, BPM, loudness).
    bool needsAnalysis() const;
    // True when only the names and folders decide the matches: the answer
    // does not change as headers are read, sounds analysed or marked.
    bool dependsOnNamesOnly() const;
};

Query parseQuery(std::string_view text);

// The part of each record's path before its name (its folder and '/'),
// case-folded, as the path terms and the words in all text ask for it:
// folded once a folder, for a folder holds many sounds and folding its path
// for each of them was most of a find by folder. For one pass over one
// store.
class FoldedFolders {
public:
    std::string_view of(const RecordStore &store, std::uint32_t record);

private:
    std::unordered_map<std::uint32_t, std::string> m_folded;
    std::string m_edited; // the last edited record's, made anew each time
};

// Whether record of store matches every term of query. A term on a value
// not known yet (a header not read, a sound not analysed) matches
// nothing, negated or not.
// allText: plain words are found in the name, the folder names, the tags
// and the description alike.
// folders: kept across the records of one pass, when given.
bool matchesQuery(const Query &query, const RecordStore &store, std::uint32_t record, bool allText = false,
                  FoldedFolders *folders = nullptr);

// A term on a value record does not have yet, if any.
bool lacksValueFor(const Query &query, const RecordStore &store, std::uint32_t record,
                   FoldedFolders *folders = nullptr);

// The grammar in a few lines, for the field's tooltip.
const char *queryHelp();

} // namespace auralist
