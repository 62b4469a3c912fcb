#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/records.h"

namespace auralist {

// The find: the sounds of a list a query typed in the find field keeps, in
// the list's order, and the hint of what it could not judge. A query that
// only adds words to the last one searches the last one's hits alone.
//
// Threads: the window's.
class FindFilter {
public:
    // From this many sounds to try on, each is judged in the store's order.
    static constexpr std::size_t kInStoreOrder = 32768;
    struct Found {
        SoundList matches; // null: the query is blank, the whole list shows
        std::string hint; // what the query did not understand, or passed over
        bool live = false; // the answer changes as more is learned of the sounds
    };
    // Whether typed is no query at all.
    static bool blank(std::string_view typed);
    // The sounds of items that typed keeps. version: changes whenever the
    // rows of items do (order, additions, removals), so that the last hits
    // are only used for the list they were found in.
    Found run(std::string_view typed, const SoundList &items, std::uint64_t version, bool allText);
    // The list's version once the matches found are shown.
    void settled(std::uint64_t version) { m_lastFindVersion = version; }
    // The next find searches the whole list.
    void forget() { m_lastFind.clear(); }

private:
    // The last find's hits, as positions in the sound list, so that a find
    // extending it searches only those.
    std::string m_lastFind;
    std::vector<std::string> m_lastWords; // the words of that find, in order
    std::vector<std::uint32_t> m_lastHits;
    const void *m_lastFindList = nullptr;
    std::uint64_t m_lastFindVersion = 0;
};

} // namespace auralist
