#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <sys/stat.h>

#include "catalogue/database.h"

namespace auralist::catalogue {

// Every sound below root as a check of it wants them: the same entries an
// intake takes (a name with one of types as its extension, or without one
// and with one as its type code; folders entered unless they are links),
// each looked at (size, time, identity; an entry that cannot be looked at
// has inode 0). Folders are listed on a few threads at once and each file
// is looked at through its folder's descriptor, so a check costs about
// what listing the tree costs. The order is not the walk's.
//
// Threads: the calling thread and up to three helpers, joined before it
// returns; each keeps its own findings, and the folders still to list are
// the only thing they share (under a mutex). Nullopt when root cannot be
// listed, or stopped() said so (asked once per folder, from any of them).
// What a walk found: the paths in one buffer and how each file was when
// looked at (a few large blocks, not a million small ones).
class Found {
public:
    std::size_t size() const { return m_entries.size(); }
    std::string_view path(std::size_t i) const
    {
        return std::string_view(m_paths).substr(m_entries[i].at, m_entries[i].length);
    }
    std::int64_t fileSize(std::size_t i) const { return m_entries[i].size; }
    std::int64_t modified(std::size_t i) const { return m_entries[i].modified; }
    // The whole entry, as the catalogue keeps it (no fingerprint yet).
    SoundRow row(std::size_t i) const;

    void add(std::string_view path, const SoundRow &looked);
    void append(const Found &more);

private:
    struct Entry {
        std::uint64_t at;
        std::uint32_t length;
        std::int64_t size;
        std::int64_t modified;
        std::uint64_t device;
        std::uint64_t inode;
    };
    std::string m_paths;
    std::vector<Entry> m_entries;
};

// Takes a file's size, time (ns) and identity from what stat said of it.
void lookInto(SoundRow &row, const struct stat &st);

std::optional<Found> findSounds(std::string_view root, const std::vector<std::string> &types,
                                const std::function<bool()> &stopped);

} // namespace auralist::catalogue
