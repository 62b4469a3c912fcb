#pragma once

#include <string_view>

namespace auralist {

// Plain character order (bytes, case-sensitive, no locale) except that runs
// of decimal digits compare by their numeric value, so "kick 2" < "kick 10".
// Returns -1, 0 or 1. Never allocates.
int compareNumeric(std::string_view a, std::string_view b);

} // namespace auralist
