// url_escape then url_unescape gives the bytes back. Two rules of the
// escaping shape the property: a zero byte ends the input, and a space is
// written '+', which only turns back into a space after a '?' (and escaped
// text never holds a literal '?').
#include <cstdint>
#include <cstdlib>
#include <string>

#include "core/url_escape.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    std::string input(reinterpret_cast<const char *>(data), size);
    input = input.substr(0, input.find('\0'));
    if (input.empty() || input.size() > 100000)
        return 0;
    char *escaped = url_escape(input.data(), static_cast<std::int32_t>(input.size()));
    if (!escaped)
        return 0;
    for (const char *p = escaped; *p; ++p) {
        const unsigned char c = static_cast<unsigned char>(*p);
        if (!(std::isalnum(c) || c == '%' || c == '+'))
            std::abort();
    }
    char *back = url_unescape(escaped, 0);
    std::string expected = input;
    for (char &c : expected)
        if (c == ' ')
            c = '+';
    if (back == nullptr || expected != back)
        std::abort();
    // The C++ forms agree with the C functions.
    if (auralist::urlEncoded(input) != escaped || auralist::urlDecoded(escaped) != back)
        std::abort();
    std::free(back);
    std::free(escaped);

    // Unescaping arbitrary text never reads past it.
    char *raw = url_unescape(input.data(), static_cast<std::int32_t>(input.size()));
    std::free(raw);
    return 0;
}
