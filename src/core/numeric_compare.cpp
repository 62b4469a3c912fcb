#include "core/numeric_compare.h"

namespace auralist {

namespace {

char foldAscii(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

char keep(char c)
{
    return c;
}

template <char (*Fold)(char)> int compareRuns(std::string_view a, std::string_view b)
{
    size_t i = 0;
    size_t j = 0;
    while (i < a.size() && j < b.size()) {
        if (isAsciiDigit(a[i]) && isAsciiDigit(b[j])) {
            // Compare by value: skip leading zeros, then longer is larger,
            // then digit by digit.
            const auto [si, ei] = digitRunAt(a, i);
            const auto [sj, ej] = digitRunAt(b, j);
            const size_t li = ei - si;
            const size_t lj = ej - sj;
            if (li != lj)
                return li < lj ? -1 : 1;
            for (size_t k = 0; k < li; ++k) {
                if (a[si + k] != b[sj + k])
                    return a[si + k] < b[sj + k] ? -1 : 1;
            }
            i = ei;
            j = ej;
            continue;
        }
        const auto ca = static_cast<unsigned char>(Fold(a[i]));
        const auto cb = static_cast<unsigned char>(Fold(b[j]));
        if (ca != cb)
            return ca < cb ? -1 : 1;
        ++i;
        ++j;
    }
    if (i < a.size())
        return 1;
    if (j < b.size())
        return -1;
    return 0;
}

} // namespace

DigitRun digitRunAt(std::string_view text, std::size_t at)
{
    std::size_t end = at;
    while (end < text.size() && isAsciiDigit(text[end]))
        ++end;
    std::size_t start = at;
    while (start + 1 < end && text[start] == '0')
        ++start;
    return {start, end};
}

int compareNumeric(std::string_view a, std::string_view b)
{
    return compareRuns<keep>(a, b);
}

int compareForListing(std::string_view a, std::string_view b)
{
    const int folded = compareRuns<foldAscii>(a, b);
    if (folded != 0)
        return folded;
    const int numeric = compareRuns<keep>(a, b);
    if (numeric != 0)
        return numeric;
    const int bytes = a.compare(b);
    return bytes < 0 ? -1 : (bytes > 0 ? 1 : 0);
}

} // namespace auralist
