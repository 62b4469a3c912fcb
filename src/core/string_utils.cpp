#include "core/string_utils.h"

namespace auralist {

std::string groupedDigits(std::uint64_t count)
{
    std::string digits = std::to_string(count);
    for (auto at = static_cast<std::ptrdiff_t>(digits.size()) - 3; at > 0; at -= 3)
        digits.insert(static_cast<std::size_t>(at), 1, ',');
    return digits;
}

} // namespace auralist

namespace auralist::xmlparse {

std::vector<std::string> componentsSeparatedByCharSetAvoidingQuotes(const std::string &text,
                                                                    const CharacterSet &separators)
{
    std::vector<std::string> parts;
    if (text.empty())
        return parts;
    const size_t length = text.size();
    size_t start = 0;
    bool inSingle = false;
    bool inDouble = false;
    bool quoteClosed = false;
    for (size_t i = 0; i + 1 < length; ++i) {
        const char c = text[i];
        const char n = text[i + 1];
        if (c == '\'' && !inDouble) {
            if (inSingle)
                quoteClosed = true;
            inSingle = !inSingle;
        }
        if (c == '"' && !inSingle) {
            if (inDouble)
                quoteClosed = true;
            inDouble = !inDouble;
        }
        if ((separators.contains(c) || quoteClosed) && !separators.contains(n) && !inSingle && !inDouble) {
            parts.push_back(text.substr(start, i - start));
            start = i + 1;
            quoteClosed = false;
        }
    }
    parts.push_back(text.substr(start));
    return parts;
}

std::vector<std::string> stringsBySplitingFirstOccurenceOf(const std::string &text, const std::string &separator)
{
    if (separator.empty())
        return {};
    const size_t p = text.find(separator);
    if (p == std::string::npos)
        return {};
    return {text.substr(0, p), text.substr(p + separator.size())};
}

std::string stringByReplacingSubstring(const std::string &text, const std::string &target,
                                       const std::string &replacement)
{
    if (target.empty())
        return text;
    std::string out;
    out.reserve(text.size());
    size_t pos = 0;
    for (;;) {
        const size_t found = text.find(target, pos);
        if (found == std::string::npos)
            break;
        out.append(text, pos, found - pos);
        out += replacement;
        pos = found + target.size();
    }
    out.append(text, pos, std::string::npos);
    return out;
}

std::string stringByReplacingCharacterFromSet(const std::string &text, const CharacterSet &set,
                                              const std::string &replacement)
{
    // One pass over the original text: a replacement holding a character
    // of the set is not replaced again, so this always ends.
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        if (set.contains(c))
            out += replacement;
        else
            out.push_back(c);
    }
    return out;
}

std::string stringByRemovingPaddingCharacterSet(const std::string &text, const CharacterSet &set)
{
    size_t start = 0;
    while (start < text.size() && set.contains(text[start]))
        ++start;
    if (start == text.size())
        return text;
    size_t end = text.size();
    while (end > start && set.contains(text[end - 1]))
        --end;
    return text.substr(start, end - start);
}

std::string stringUnquoted(const std::string &text)
{
    static const CharacterSet kPadding(std::string_view("\n\t '\"", 5));
    return stringByRemovingPaddingCharacterSet(text, kPadding);
}

} // namespace auralist::xmlparse
