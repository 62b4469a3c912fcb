#pragma once

// What the library's parts share: reading a row's facts into a record, the
// index of a store's paths, the time since a start. For the files of
// catalogue::Library only.

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>

#include "catalogue/database.h"
#include "catalogue/reconcile.h"
#include "core/header_facts.h"
#include "core/records.h"

namespace auralist::catalogue {

// A record's header facts from a row as the catalogue keeps them.
template <class Row> HeaderFacts factsOf(const Row &row)
{
    HeaderFacts facts;
    facts.size = static_cast<std::uint64_t>(std::max<std::int64_t>(row.size, 0));
    // "container.encoding"
    const std::string_view format(row.format);
    unsigned container = 0;
    unsigned encoding = 0;
    const char *end = format.data() + format.size();
    const auto first = std::from_chars(format.data(), end, container);
    if (row.lengthFrames < 0 || first.ec != std::errc() || first.ptr == end || *first.ptr != '.'
        || std::from_chars(first.ptr + 1, end, encoding).ec != std::errc())
        return facts;
    facts.frames = row.lengthFrames;
    facts.rate = static_cast<std::uint32_t>(std::max(row.rate, 0));
    facts.channels = static_cast<std::uint16_t>(std::clamp(row.channels, 0, 65535));
    facts.container = static_cast<std::uint8_t>(std::min(container, 255U));
    facts.encoding = static_cast<std::uint8_t>(std::min(encoding, 255U));
    facts.state = HeaderFacts::State::Read;
    return facts;
}

// What a row says of record i (facts, marks and the file's own words), put
// into the store.
template <class Row> void addRow(RecordStore &store, const Row &row, std::uint32_t i)
{
    const HeaderFacts facts = factsOf(row);
    if (facts.state == HeaderFacts::State::Read)
        store.setFacts(i, facts);
    if (row.favourite)
        store.setFavourite(i, true);
    if (!row.tags.empty())
        store.setTags(i, std::string(row.tags));
    if (!row.metadata.empty())
        store.setMetadata(i, unpackMetadata(row.metadata));
}

// A record for a row with a whole path.
template <class Row> void addRow(RecordStore &store, const Row &row)
{
    addRow(store, row, store.add(row.path));
}

// A listed sound's folder by the store's number, learned once a folder.
class ListedFolders {
public:
    std::uint32_t numberOf(RecordStore &store, const Database::ListedSound &row)
    {
        if (row.folder == 0)
            return RecordStore::kNoFolder;
        if (row.folder != m_last) {
            m_last = row.folder;
            const auto [at, added] = m_numbers.try_emplace(row.folder, 0);
            if (added)
                at->second = store.folderNumber(row.folderPath);
            m_number = at->second;
        }
        return m_number;
    }

private:
    std::unordered_map<std::int64_t, std::uint32_t> m_numbers;
    std::int64_t m_last = -1;
    std::uint32_t m_number = 0;
};

inline void addListed(RecordStore &store, const Database::ListedSound &row, ListedFolders &folders)
{
    addRow(store, row, store.add(folders.numberOf(store, row), row.name));
}

// Where each record of store is, by path.
inline PathIndex indexOf(const RecordStore &store)
{
    return PathIndex(
        store.size(), [&store](std::size_t i) { return store.scannedPath(static_cast<std::uint32_t>(i)); },
        [&store](std::size_t i, std::string_view path) { return store.pathIs(static_cast<std::uint32_t>(i), path); });
}

using Clock = std::chrono::steady_clock;

inline long long msSince(Clock::time_point start)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

} // namespace auralist::catalogue
