#pragma once

#include <string>
#include <vector>

namespace auralist {

class FileSystem;

// The full paths of everything below folder, at every depth, files and
// folders alike, hidden entries included, each folder's entries in a file
// manager's order (compareForListing), a folder's contents right after it.
// Symbolic links are listed but never followed, so a link loop ends;
// folders that cannot be read, or that vanish meanwhile, add nothing
// below themselves.
std::vector<std::string> subpathsAtPath(FileSystem &fs, const std::string &folder);

} // namespace auralist
