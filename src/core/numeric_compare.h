#pragma once

#include <string_view>

#include <cstddef>

namespace auralist {

inline bool isAsciiDigit(char c)
{
    return c >= '0' && c <= '9';
}

// The run of decimal digits that starts at text[at]: where it ends, and
// where its value starts once leading zeros are passed over (a lone zero
// is kept).
struct DigitRun {
    std::size_t valueStart;
    std::size_t end;
};
DigitRun digitRunAt(std::string_view text, std::size_t at);

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
