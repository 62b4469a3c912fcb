#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "catalogue/database.h"

namespace auralist::catalogue {

// What a file's content is, cheaply: its size and one 64-bit hash of its
// first and last 64 KB (xxHash), so a sound renamed or moved outside
// Auralist is known again without reading all of it. Empty when the file
// cannot be read.
std::optional<std::string> fingerprintOf(const std::string &path);

// Where each of a set of paths is: a sorted table of 64-bit path hashes,
// about 16 bytes a path, for tables too big for a map of strings.
class PathIndex {
public:
    PathIndex() = default;
    // pathAt(i): the path of entry i (a string or a view of one).
    template <class PathAt>
    PathIndex(std::size_t count, PathAt pathAt)
        : PathIndex(count, pathAt, [pathAt](std::size_t i, std::string_view path) { return pathAt(i) == path; })
    {
    }
    // isAt(i, path): whether entry i's path is path, for entries whose
    // paths are put together on demand.
    template <class PathAt, class IsAt> PathIndex(std::size_t count, PathAt pathAt, IsAt isAt) : m_isAt(isAt)
    {
        m_entries.reserve(count);
        for (std::size_t i = 0; i < count; ++i)
            m_entries.push_back({hash(pathAt(i)), static_cast<std::uint32_t>(i)});
        sortEntries();
    }
    // The index of path; nullopt when it is not one of them.
    std::optional<std::uint32_t> find(std::string_view path) const;

    static std::uint64_t hash(std::string_view path);

private:
    struct Entry {
        std::uint64_t hash;
        std::uint32_t index;
    };
    void sortEntries();
    std::vector<Entry> m_entries;
    std::function<bool(std::size_t, std::string_view)> m_isAt;
};

// A check of a root: what the catalogue knew of it against what is there now.
struct Reconciled {
    // What the root holds now, each sound with the marks and tags it had
    // (kept across a rename or move within the root: found by fingerprint,
    // and taken for the same sound only when it is the same file, or its
    // audio is the same).
    std::vector<SoundRow> rows;
    // Known sounds not found again.
    std::vector<std::string> gone;
    // Renamed or moved: (old path, new path).
    std::vector<std::pair<std::string, std::string>> moved;
    // New or changed sounds, whose headers want reading again.
    std::vector<std::string> toRead;
    // More than half of what was known is gone: ask before forgetting it.
    bool mostlyGone = false;
};

// Whether a file found (seen) holds the sound a known one, not found at
// its path, held: asked of a file with the same fingerprint that is not
// the same file (device and inode) renamed.
using SameSound = std::function<bool(const SoundRow &known, const SoundRow &seen)>;

// rootPresent false (its drive unplugged, its share unmounted): nothing is
// forgotten; the caller marks the root offline. Without sameSound, only a
// file renamed in place is taken for a known sound moved.
Reconciled reconcile(const std::vector<SoundRow> &known, std::vector<SoundRow> seen, bool rootPresent,
                     const SameSound &sameSound = {});
// The same with known's paths indexed already.
Reconciled reconcile(const std::vector<SoundRow> &known, const PathIndex &knownAt, std::vector<SoundRow> seen,
                     bool rootPresent, const SameSound &sameSound = {});

} // namespace auralist::catalogue
