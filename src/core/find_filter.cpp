#include "core/find_filter.h"

#include <memory>
#include <numeric>

#include "core/query.h"
#include "core/smalltalk.h"
#include "core/string_utils.h"

namespace auralist {

namespace {

std::string joined(const std::vector<std::string> &parts)
{
    std::string out;
    for (const std::string &p : parts)
        out += (out.empty() ? "" : " \u00b7 ") + p;
    return out;
}

} // namespace

bool FindFilter::blank(std::string_view typed)
{
    return parseQuery(typed).empty();
}

FindFilter::Found FindFilter::run(std::string_view typed, const SoundList &items, std::uint64_t version, bool allText)
{
    Found found;
    const Query query = parseQuery(typed);
    found.live = !query.empty() && (!query.dependsOnNamesOnly() || allText);
    if (query.empty() || !items) {
        m_lastFind.clear();
        found.hint = joined(query.hints);
        return found;
    }
    const RecordStore &store = *items->store();
    const std::vector<std::uint32_t> &all = items->rows();
    // Words that must all be there, typed on: only the sounds found last
    // time can still match.
    const std::string folded = caseFold(typed);
    const bool narrowing = query.onlyRequiredWords() && !m_lastFind.empty() && m_lastFindList == items.get()
        && m_lastFindVersion == version && folded.starts_with(m_lastFind);
    // Hits are positions in the sound list; the match list takes the
    // records at those positions.
    std::vector<std::uint32_t> hits;
    SoundList matches = makeSoundList(items->store());
    std::vector<std::uint32_t> &rows = matches->rows();
    // Narrowing, the words the last find began with, unchanged, matched
    // every hit already: only the rest are tried.
    Query rest = query;
    if (narrowing) {
        std::size_t settled = 0;
        while (settled < m_lastWords.size() && settled < query.terms.size()
               && m_lastWords[settled] == query.terms[settled].text)
            ++settled;
        rest.terms.erase(rest.terms.begin(), rest.terms.begin() + static_cast<std::ptrdiff_t>(settled));
        rest.nameLetters = 0;
        for (const Query::Term &t : rest.terms)
            rest.nameLetters |= t.letters;
    }
    std::size_t passedOver = 0;
    const bool countPassedOver = !query.onlyRequiredWords();
    FoldedFolders folders;
    auto consider = [&](std::uint32_t position) {
        const std::uint32_t record = all[position];
        if (!allText && (store.nameLetters(record) & rest.nameLetters) != rest.nameLetters)
            return;
        if (matchesQuery(rest, store, record, allText, &folders)) {
            hits.push_back(position);
            rows.push_back(record);
        } else if (countPassedOver && lacksValueFor(query, store, record, &folders)) {
            ++passedOver;
        }
    };
    // The positions worth trying: the last hits, or every sound of the list.
    std::vector<std::uint32_t> every;
    if (!narrowing) {
        every.resize(all.size());
        std::iota(every.begin(), every.end(), 0U);
    }
    const std::vector<std::uint32_t> &candidates = narrowing ? m_lastHits : every;
    if (candidates.size() >= kInStoreOrder) {
        // Many: each sound is judged once, in the order the store keeps
        // them (a sorted list's sounds lie all over memory), then the
        // verdicts are read in the list's order.
        enum : std::uint8_t { Untried, Tried, Match, PassedOver };
        const std::uint32_t sounds = store.size();
        const auto verdict = std::make_unique<std::uint8_t[]>(sounds); // all Untried
        for (std::uint32_t position : candidates)
            verdict[all[position]] = Tried;
        for (std::uint32_t record = 0; record < sounds; ++record) {
            if (verdict[record] != Tried)
                continue;
            if (!allText && (store.nameLetters(record) & rest.nameLetters) != rest.nameLetters)
                continue;
            if (matchesQuery(rest, store, record, allText, &folders))
                verdict[record] = Match;
            else if (countPassedOver && lacksValueFor(query, store, record, &folders))
                verdict[record] = PassedOver;
        }
        for (std::uint32_t position : candidates) {
            const std::uint32_t record = all[position];
            if (verdict[record] == Match) {
                hits.push_back(position);
                rows.push_back(record);
            } else if (verdict[record] == PassedOver) {
                ++passedOver;
            }
        }
    } else {
        // Few: their names lie far apart in memory, so each is asked for a
        // few positions ahead of its comparison.
        constexpr std::size_t kEntryAhead = 16;
        constexpr std::size_t kNameAhead = 8;
        for (std::size_t k = 0; k < candidates.size(); ++k) {
            if (k + kEntryAhead < candidates.size())
                store.prefetchEntry(all[candidates[k + kEntryAhead]]);
            if (k + kNameAhead < candidates.size())
                store.prefetchFoldedName(all[candidates[k + kNameAhead]]);
            consider(candidates[k]);
        }
    }
    std::vector<std::string> hints = query.hints;
    if (passedOver > 0)
        hints.push_back(groupedDigits(passedOver) + (passedOver == 1 ? " sound" : " sounds")
                        + (query.needsAnalysis() ? " not analysed yet" : " not read yet") + ", passed over");
    found.hint = joined(hints);
    m_lastFind = query.onlyRequiredWords() ? folded : std::string();
    m_lastWords.clear();
    if (query.onlyRequiredWords()) {
        for (const Query::Term &t : query.terms)
            m_lastWords.push_back(t.text);
    }
    m_lastHits = std::move(hits);
    m_lastFindList = items.get();
    found.matches = std::move(matches);
    return found;
}

} // namespace auralist
