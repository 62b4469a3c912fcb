#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include <QVariantMap>

// Percent-escaping of byte strings. A length of 0 means "up to the first
// zero byte". Both return a zero-terminated buffer from malloc that the
// caller frees; url_escape returns null when memory runs out.
extern "C" char *url_escape(const char *bytes, std::int32_t length);
extern "C" char *url_unescape(const char *bytes, std::int32_t length);

namespace auralist {

// Appends bytes to out, each byte that keep(byte) refuses written as %XX
// with upper-case hex digits.
template <class Keep> void appendPercentEscaped(std::string &out, std::string_view bytes, Keep keep)
{
    static constexpr char kHex[] = "0123456789ABCDEF";
    for (char ch : bytes) {
        const auto c = static_cast<unsigned char>(ch);
        if (keep(c)) {
            out.push_back(ch);
        } else {
            out.push_back('%');
            out.push_back(kHex[c >> 4]);
            out.push_back(kHex[c & 0xF]);
        }
    }
}

// Space becomes '+', letters and digits stay, every other byte %XX.
std::string urlEncoded(const std::string &text);
// Decodes %XX; '+' becomes a space only after the first '?'. The result
// ends at the first decoded zero byte.
std::string urlDecoded(const std::string &text);

// "key=value&key=value" with characters that may not stand in a URL
// escaped; '&', '=' and '+' are legal and stay.
std::string formatForHTTP(const QVariantMap &dictionary);

} // namespace auralist
