#include "core/find_filter.h"

#include <memory>

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
    // A sound's verdict, and what it makes of a position holding it.
    enum : std::uint8_t { Untried, Tried, Match, PassedOver };
    const auto judge = [&](std::uint32_t record) -> std::uint8_t {
        if (!allText && (store.nameLetters(record) & rest.nameLetters) != rest.nameLetters)
            return Tried;
        if (matchesQuery(rest, store, record, allText, &folders))
            return Match;
        if (countPassedOver && lacksValueFor(query, store, record, &folders))
            return PassedOver;
        return Tried;
    };
    const auto take = [&](std::uint32_t position, std::uint8_t verdict) {
        if (verdict == Match) {
            hits.push_back(position);
            rows.push_back(all[position]);
        } else if (verdict == PassedOver) {
            ++passedOver;
        }
    };
    // The positions worth trying: the last hits, or every sound of the list.
    const std::size_t count = narrowing ? m_lastHits.size() : all.size();
    const auto positionAt = [&](std::size_t k) { return narrowing ? m_lastHits[k] : static_cast<std::uint32_t>(k); };
    if (count >= kInStoreOrder) {
        // Many: each sound is judged once, in the order the store keeps
        // them (a sorted list's sounds lie all over memory), then the
        // verdicts are read in the list's order.
        const std::uint32_t sounds = store.size();
        const auto verdict = std::make_unique<std::uint8_t[]>(sounds); // all Untried
        for (std::size_t k = 0; k < count; ++k)
            verdict[all[positionAt(k)]] = Tried;
        for (std::uint32_t record = 0; record < sounds; ++record) {
            if (verdict[record] == Tried)
                verdict[record] = judge(record);
        }
        for (std::size_t k = 0; k < count; ++k)
            take(positionAt(k), verdict[all[positionAt(k)]]);
    } else {
        // Few: their names lie far apart in memory, so each is asked for a
        // few positions ahead of its comparison.
        constexpr std::size_t kEntryAhead = 16;
        constexpr std::size_t kNameAhead = 8;
        for (std::size_t k = 0; k < count; ++k) {
            if (k + kEntryAhead < count)
                store.prefetchEntry(all[positionAt(k + kEntryAhead)]);
            if (k + kNameAhead < count)
                store.prefetchFoldedName(all[positionAt(k + kNameAhead)]);
            take(positionAt(k), judge(all[positionAt(k)]));
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
