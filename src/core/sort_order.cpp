#include "core/sort_order.h"

#include "core/numeric_compare.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <thread>

namespace auralist {

namespace {

// A run of digits becomes '0', its length without leading zeros in two
// bytes, then those digits. Any digit byte sorts the same against any
// other byte, so the marker '0' stands for all of them; two runs then
// compare by length, then digit by digit: by value.
void appendKey(std::string &out, std::string_view value, LetterCase letterCase)
{
    size_t i = 0;
    while (i < value.size()) {
        if (!isAsciiDigit(value[i])) {
            // Runs without digits go over whole.
            size_t end = i + 1;
            while (end < value.size() && !isAsciiDigit(value[end]))
                ++end;
            const size_t from = out.size();
            out.append(value.substr(i, end - i));
            if (letterCase == LetterCase::Ignored) {
                for (size_t k = from; k < out.size(); ++k) {
                    if (out[k] >= 'A' && out[k] <= 'Z')
                        out[k] = static_cast<char>(out[k] - 'A' + 'a');
                }
            }
            i = end;
            continue;
        }
        const auto [start, end] = digitRunAt(value, i);
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
    std::uint64_t second; // the next eight
    std::uint32_t offset; // where the key is in the arena
    std::uint32_t length;
    std::uint32_t position;
};

std::uint64_t prefixOf(const char *key, size_t length)
{
    unsigned char bytes[8] = {};
    if (length > 0)
        std::memcpy(bytes, key, std::min<size_t>(length, 8));
    std::uint64_t p = 0;
    for (unsigned char b : bytes)
        p = (p << 8) | b;
    return p;
}

} // namespace

std::string numericSortKey(std::string_view value, LetterCase letterCase)
{
    std::string key;
    appendKey(key, value, letterCase);
    return key;
}

std::vector<std::uint32_t> numericSortOrder(std::uint32_t count,
                                            const std::function<std::string_view(std::uint32_t)> &value,
                                            LetterCase letterCase)
{
    std::string arena;
    std::vector<Item> items(count);
    for (std::uint32_t i = 0; i < count; ++i) {
        const size_t at = arena.size();
        appendKey(arena, value(i), letterCase);
        items[i] = {0, 0, static_cast<std::uint32_t>(at), static_cast<std::uint32_t>(arena.size() - at), i};
    }
    const char *keys = arena.data();
    for (Item &item : items) {
        item.prefix = prefixOf(keys + item.offset, item.length);
        item.second = item.length > 8 ? prefixOf(keys + item.offset + 8, item.length - 8) : 0;
    }
    const auto less = [keys](const Item &a, const Item &b) {
        if (a.prefix != b.prefix)
            return a.prefix < b.prefix;
        if (a.second != b.second)
            return a.second < b.second;
        const size_t common = std::min(a.length, b.length);
        if (common > 16) {
            const int c = std::memcmp(keys + a.offset + 16, keys + b.offset + 16, common - 16);
            if (c != 0)
                return c < 0;
        }
        if (a.length != b.length)
            return a.length < b.length;
        return a.position < b.position;
    };
    std::vector<std::uint32_t> order(count);
    if (count < 65536) {
        std::sort(items.begin(), items.end(), less);
        for (std::uint32_t i = 0; i < count; ++i)
            order[i] = items[i].position;
        return order;
    }
    // Large lists: each half sorted on its own thread, then merged. The
    // helper thread only touches its half, and is joined before the merge.
    const auto middle = items.begin() + count / 2;
    std::thread helper([&] { std::sort(items.begin(), middle, less); });
    std::sort(middle, items.end(), less);
    helper.join();
    std::vector<Item> merged(count);
    std::merge(items.begin(), middle, middle, items.end(), merged.begin(), less);
    for (std::uint32_t i = 0; i < count; ++i)
        order[i] = merged[i].position;
    return order;
}

} // namespace auralist
