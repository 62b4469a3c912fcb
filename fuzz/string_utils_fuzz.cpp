// The string utilities on arbitrary text: the first bytes choose the
// separators, the set and the replacement, the rest is the text.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "core/string_utils.h"

using namespace auralist;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < 3)
        return 0;
    const std::string bytes(reinterpret_cast<const char *>(data), size);
    const std::size_t setLength = data[0] % 4;
    const std::size_t replacementLength = data[1] % 4;
    if (2 + setLength + replacementLength > size)
        return 0;
    const std::string setText = bytes.substr(2, setLength);
    const std::string replacement = bytes.substr(2 + setLength, replacementLength);
    const std::string text = bytes.substr(2 + setLength + replacementLength);
    const CharacterSet set(setText);

    const auto parts = xmlparse::componentsSeparatedByCharSetAvoidingQuotes(text, set);
    std::size_t total = 0;
    for (const auto &p : parts)
        total += p.size();
    if (total > text.size())
        std::abort();

    const auto split = xmlparse::stringsBySplitingFirstOccurenceOf(text, replacement);
    if (!split.empty() && split[0] + replacement + split[1] != text)
        std::abort();

    if (!setText.empty()) {
        const std::string replaced = xmlparse::stringByReplacingSubstring(text, setText, replacement);
        (void)replaced;
    }
    // Each character of the set is replaced once, even when the
    // replacement holds characters of the set.
    const std::string fromSet = xmlparse::stringByReplacingCharacterFromSet(text, set, replacement);
    std::size_t members = 0;
    for (char c : text)
        members += set.contains(c);
    if (fromSet.size() != text.size() - members + members * replacement.size())
        std::abort();

    const std::string trimmed = xmlparse::stringByRemovingPaddingCharacterSet(text, set);
    if (trimmed.size() > text.size() || text.find(trimmed) == std::string::npos)
        std::abort();
    const std::string unquoted = xmlparse::stringUnquoted(text);
    if (unquoted.size() > text.size())
        std::abort();
    return 0;
}
