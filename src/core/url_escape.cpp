#include "core/url_escape.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

std::int32_t countedLength(const char *bytes, std::int32_t length)
{
    if (length > 0)
        return length;
    return bytes ? static_cast<std::int32_t>(std::strlen(bytes)) : 0;
}

bool isAlnum(unsigned char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

} // namespace

extern "C" char *url_escape(const char *bytes, std::int32_t length)
{
    const std::int32_t n = countedLength(bytes, length);
    size_t capacity = static_cast<size_t>(n) + 1;
    size_t needed = capacity;
    auto *out = static_cast<char *>(std::malloc(capacity));
    if (!out)
        return nullptr;
    size_t pos = 0;
    static constexpr char kHex[] = "0123456789ABCDEF";
    for (std::int32_t i = 0; i < n; ++i) {
        const auto c = static_cast<unsigned char>(bytes[i]);
        if (c == ' ') {
            out[pos++] = '+';
        } else if (isAlnum(c)) {
            out[pos++] = static_cast<char>(c);
        } else {
            needed += 2;
            if (needed > capacity) {
                while (capacity < needed)
                    capacity *= 2;
                auto *grown = static_cast<char *>(std::realloc(out, capacity));
                if (!grown) {
                    std::free(out);
                    return nullptr;
                }
                out = grown;
            }
            out[pos++] = '%';
            out[pos++] = kHex[c >> 4];
            out[pos++] = kHex[c & 0xF];
        }
    }
    out[pos] = '\0';
    return out;
}

extern "C" char *url_unescape(const char *bytes, std::int32_t length)
{
    const std::int32_t n = countedLength(bytes, length);
    auto *out = static_cast<char *>(std::malloc(static_cast<size_t>(n) + 1));
    if (!out)
        return nullptr;
    // The hexadecimal conversion must not read past the counted bytes, so
    // it reads from a zero-terminated copy of them.
    std::unique_ptr<char[]> counted(new char[static_cast<size_t>(n) + 1]);
    if (n > 0)
        std::memcpy(counted.get(), bytes, static_cast<size_t>(n));
    counted[static_cast<size_t>(n)] = '\0';

    bool inQuery = false;
    size_t pos = 0;
    for (std::int32_t i = 0; i < n; ++i) {
        auto b = static_cast<unsigned char>(counted[static_cast<size_t>(i)]);
        if (inQuery && b == '+') {
            b = ' ';
        } else if (!inQuery && b == '?') {
            inQuery = true;
        } else if (b == '%' && i + 1 < n) {
            unsigned int value = 0;
            // NOLINTNEXTLINE(cert-err34-c): a failed conversion is checked by the count
            if (std::sscanf(counted.get() + i + 1, "%02X", &value) == 1) {
                b = static_cast<unsigned char>(value & 0xFF);
                i += 2;
            }
        }
        out[pos++] = static_cast<char>(b);
    }
    out[pos] = '\0';
    return out;
}

namespace auralist {

namespace {

std::string adopt(char *buffer)
{
    if (!buffer)
        return {};
    std::string s(buffer);
    std::free(buffer);
    return s;
}

bool legalInUrl(unsigned char c)
{
    return isAlnum(c) || std::strchr("-_.!~*'();/?:@&=+$,#", c) != nullptr;
}

std::string escapeIllegal(const QByteArray &bytes)
{
    std::string out;
    appendPercentEscaped(out, std::string_view(bytes.constData(), static_cast<size_t>(bytes.size())),
                         [](unsigned char c) { return c != 0 && legalInUrl(c); });
    return out;
}

} // namespace

std::string urlEncoded(const std::string &text)
{
    if (text.empty())
        return {};
    // A zero byte inside the text ends it, as it ends a C string.
    return adopt(url_escape(text.c_str(), static_cast<std::int32_t>(std::strlen(text.c_str()))));
}

std::string urlDecoded(const std::string &text)
{
    if (text.empty())
        return {};
    return adopt(url_unescape(text.c_str(), static_cast<std::int32_t>(std::strlen(text.c_str()))));
}

std::string formatForHTTP(const QVariantMap &dictionary)
{
    std::string out;
    out.reserve(256);
    for (auto it = dictionary.constBegin(); it != dictionary.constEnd(); ++it) {
        out += escapeIllegal(it.key().toUtf8());
        out += '=';
        out += escapeIllegal(it.value().toString().toUtf8());
        out += '&';
    }
    if (!out.empty())
        out.pop_back();
    return out;
}

} // namespace auralist
