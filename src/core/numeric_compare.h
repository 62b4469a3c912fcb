#pragma once

#include <string_view>

namespace auralist {

// Plain character order (bytes, case-sensitive, no locale) except that runs
// of decimal digits compare by their numeric value, so "kick 2" < "kick 10".
// Returns -1, 0 or 1. Never allocates.
int compareNumeric(std::string_view a, std::string_view b);

// The order a file manager lists a folder in: letters without regard to
// case (ASCII), digit runs by value, so "Kick 2" < "kick 10" < "Kick 11".
// Names equal that way are ordered by compareNumeric and then by bytes, so
// the order is total. Returns -1, 0 or 1. Never allocates.
int compareForListing(std::string_view a, std::string_view b);

} // namespace auralist
