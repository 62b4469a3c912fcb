#pragma once

#include <string>
#include <vector>

namespace auralist {

// The file types the installed libsndfile can really decode: the extensions
// of its major formats and their usual aliases, each in lower and upper
// case, and the matching four-character Mac type codes.
std::vector<std::string> sndfileSoundTypes();

} // namespace auralist
