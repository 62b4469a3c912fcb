#pragma once

#include <bitset>
#include <string>
#include <string_view>
#include <vector>

#include <cstdint>

namespace auralist {

// A count with its thousands grouped: 1234567 -> "1,234,567".
std::string groupedDigits(std::uint64_t count);

// A set of byte values.
class CharacterSet {
public:
    CharacterSet() = default;
    explicit CharacterSet(std::string_view members)
    {
        for (char c : members)
            m_bits.set(static_cast<unsigned char>(c));
    }
    bool contains(char c) const { return m_bits.test(static_cast<unsigned char>(c)); }
    CharacterSet inverted() const
    {
        CharacterSet s;
        s.m_bits = ~m_bits;
        return s;
    }

private:
    std::bitset<256> m_bits;
};

// Text operations on byte strings; positions count bytes. None changes its
// argument.
namespace xmlparse {

// Splits at the last separator of each run outside single or double quotes.
std::vector<std::string> componentsSeparatedByCharSetAvoidingQuotes(const std::string &text,
                                                                    const CharacterSet &separators);
// Before and after the first occurrence of separator (which belongs to
// neither); empty when it does not occur.
std::vector<std::string> stringsBySplitingFirstOccurenceOf(const std::string &text, const std::string &separator);
// Every non-overlapping occurrence, left to right; a replacement is never
// searched again.
std::string stringByReplacingSubstring(const std::string &text, const std::string &target,
                                       const std::string &replacement);
// Every character of the set replaced once by the replacement.
std::string stringByReplacingCharacterFromSet(const std::string &text, const CharacterSet &set,
                                              const std::string &replacement);
// Leading and trailing characters of the set removed; text made only of
// them is returned whole.
std::string stringByRemovingPaddingCharacterSet(const std::string &text, const CharacterSet &set);
// Line feeds, tabs, spaces and quotes removed from both ends.
std::string stringUnquoted(const std::string &text);

} // namespace xmlparse
} // namespace auralist
