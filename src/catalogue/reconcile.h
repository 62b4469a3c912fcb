#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "catalogue/database.h"

namespace auralist::catalogue {

// What a file's content is, cheaply: its size and one 64-bit hash of its
// first and last 64 KB (xxHash), so a sound renamed or moved outside
// Auralist is known again without reading all of it. Empty when the file
// cannot be read.
std::optional<std::string> fingerprintOf(const std::string &path);

// A check of a root: what the catalogue knew of it against what is there now.
struct Reconciled {
    // What the root holds now, each sound with the marks and tags it had
    // (kept across a rename or move within the root, found by fingerprint).
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

// rootPresent false (its drive unplugged, its share unmounted): nothing is
// forgotten; the caller marks the root offline.
Reconciled reconcile(const std::vector<SoundRow> &known, std::vector<SoundRow> seen, bool rootPresent);

} // namespace auralist::catalogue
