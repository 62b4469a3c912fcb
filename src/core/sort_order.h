#pragma once

#include <cstdint>
#include <functional>
#include <string_view>
#include <vector>

namespace auralist {

enum class LetterCase { Kept, Ignored };

// The positions 0..count-1 ordered by compareNumeric of value(position)
// (with letterCase Ignored: ASCII letters compared without regard to case,
// as the listing orders names), equal values keeping their order (a stable
// sort). Each value is turned once into a key that compares bytewise in
// that order, so a million values sort in a fraction of the time per-pair
// comparison takes. For many values, value is called from two threads at
// once.
std::vector<std::uint32_t> numericSortOrder(std::uint32_t count,
                                            const std::function<std::string_view(std::uint32_t)> &value,
                                            LetterCase letterCase = LetterCase::Kept);

// The key itself, for tests: memcmp order of keys is compareNumeric order
// of values.
std::string numericSortKey(std::string_view value, LetterCase letterCase = LetterCase::Kept);

} // namespace auralist
