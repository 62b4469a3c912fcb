#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

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
std::optional<std::vector<SoundRow>> findSounds(std::string_view root, const std::vector<std::string> &types,
                                                const std::function<bool()> &stopped);

} // namespace auralist::catalogue
