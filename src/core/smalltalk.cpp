#include "core/smalltalk.h"

#include <QString>

#include <algorithm>

namespace auralist {

namespace {

bool isAscii(std::string_view text)
{
    return std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

bool isValidUtf8(std::string_view text)
{
    size_t i = 0;
    while (i < text.size()) {
        const auto c = static_cast<unsigned char>(text[i]);
        size_t len = 0;
        if (c < 0x80)
            len = 1;
        else if ((c & 0xE0) == 0xC0 && c >= 0xC2)
            len = 2;
        else if ((c & 0xF0) == 0xE0)
            len = 3;
        else if ((c & 0xF8) == 0xF0 && c <= 0xF4)
            len = 4;
        else
            return false;
        if (i + len > text.size())
            return false;
        for (size_t k = 1; k < len; ++k) {
            if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80)
                return false;
        }
        i += len;
    }
    return true;
}

} // namespace

std::string caseFold(std::string_view text)
{
    if (isAscii(text) || !isValidUtf8(text)) {
        std::string out(text);
        for (char &c : out) {
            if (c >= 'A' && c <= 'Z')
                c = static_cast<char>(c - 'A' + 'a');
        }
        return out;
    }
    const QByteArray folded
        = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())).toCaseFolded().toUtf8();
    return std::string(folded.constData(), static_cast<size_t>(folded.size()));
}

bool containsFolded(std::string_view foldedHaystack, std::string_view foldedNeedle)
{
    if (foldedNeedle.empty())
        return false;
    return foldedHaystack.find(foldedNeedle) != std::string_view::npos;
}

bool contains(std::string_view haystack, std::string_view needle)
{
    return containsFolded(caseFold(haystack), caseFold(needle));
}

} // namespace auralist
