#include "library/sort_order.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace auralist {

namespace {

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

// A run of digits becomes '0', its length without leading zeros in two
// bytes, then those digits. Any digit byte sorts the same against any
// other byte, so the marker '0' stands for all of them; two runs then
// compare by length, then digit by digit: by value.
void appendKey(std::string &out, std::string_view value)
{
    size_t i = 0;
    while (i < value.size()) {
        if (!isDigit(value[i])) {
            out.push_back(value[i++]);
            continue;
        }
        size_t end = i;
        while (end < value.size() && isDigit(value[end]))
            ++end;
        size_t start = i;
        while (start + 1 < end && value[start] == '0')
            ++start;
        const size_t length = std::min<size_t>(end - start, 0xFFFF);
        out.push_back('0');
        out.push_back(static_cast<char>(length >> 8));
        out.push_back(static_cast<char>(length & 0xFF));
        out.append(value.substr(start, end - start));
        i = end;
    }
}

struct Item {
    std::uint64_t prefix; // the key's first eight bytes, big-endian
    std::uint32_t offset; // where the key is in the arena
    std::uint32_t length;
    std::uint32_t position;
};

std::uint64_t prefixOf(const char *key, size_t length)
{
    unsigned char bytes[8] = {};
    std::memcpy(bytes, key, std::min<size_t>(length, 8));
    std::uint64_t p = 0;
    for (unsigned char b : bytes)
        p = (p << 8) | b;
    return p;
}

} // namespace

std::string numericSortKey(std::string_view value)
{
    std::string key;
    appendKey(key, value);
    return key;
}

std::vector<std::uint32_t> numericSortOrder(std::uint32_t count,
                                            const std::function<std::string_view(std::uint32_t)> &value)
{
    std::string arena;
    std::vector<Item> items(count);
    for (std::uint32_t i = 0; i < count; ++i) {
        const size_t at = arena.size();
        appendKey(arena, value(i));
        items[i] = {0, static_cast<std::uint32_t>(at), static_cast<std::uint32_t>(arena.size() - at), i};
    }
    const char *keys = arena.data();
    for (Item &item : items)
        item.prefix = prefixOf(keys + item.offset, item.length);
    std::sort(items.begin(), items.end(), [keys](const Item &a, const Item &b) {
        if (a.prefix != b.prefix)
            return a.prefix < b.prefix;
        const size_t common = std::min(a.length, b.length);
        if (common > 8) {
            const int c = std::memcmp(keys + a.offset + 8, keys + b.offset + 8, common - 8);
            if (c != 0)
                return c < 0;
        }
        if (a.length != b.length)
            return a.length < b.length;
        return a.position < b.position;
    });
    std::vector<std::uint32_t> order(count);
    for (std::uint32_t i = 0; i < count; ++i)
        order[i] = items[i].position;
    return order;
}

} // namespace auralist
