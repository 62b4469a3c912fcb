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
    const char *key;
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

// The keys of positions from..to-1 into arena (which keeps them) and
// items.
void makeKeys(std::vector<Item> &items, std::uint32_t from, std::uint32_t to,
              const std::function<std::string_view(std::uint32_t)> &value, LetterCase letterCase, std::string &arena)
{
    std::vector<std::uint32_t> offsets(to - from);
    arena.reserve(std::size_t(to - from) * 32);
    for (std::uint32_t i = from; i < to; ++i) {
        const size_t at = arena.size();
        appendKey(arena, value(i), letterCase);
        offsets[i - from] = static_cast<std::uint32_t>(at);
        items[i].length = static_cast<std::uint32_t>(arena.size() - at);
        items[i].position = i;
    }
    for (std::uint32_t i = from; i < to; ++i) {
        Item &item = items[i];
        item.key = arena.data() + offsets[i - from];
        item.prefix = prefixOf(item.key, item.length);
        item.second = item.length > 8 ? prefixOf(item.key + 8, item.length - 8) : 0;
    }
}

bool lessItem(const Item &a, const Item &b)
{
    if (a.prefix != b.prefix)
        return a.prefix < b.prefix;
    if (a.second != b.second)
        return a.second < b.second;
    const size_t common = std::min(a.length, b.length);
    if (common > 16) {
        const int c = std::memcmp(a.key + 16, b.key + 16, common - 16);
        if (c != 0)
            return c < 0;
    }
    if (a.length != b.length)
        return a.length < b.length;
    return a.position < b.position;
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
    std::vector<Item> items(count);
    std::vector<std::uint32_t> order(count);
    std::string arena;
    if (count < 65536) {
        makeKeys(items, 0, count, value, letterCase, arena);
        std::sort(items.begin(), items.end(), lessItem);
        for (std::uint32_t i = 0; i < count; ++i)
            order[i] = items[i].position;
        return order;
    }
    // Large lists: each half keyed and sorted on a thread of its own, then
    // merged. The helper only touches its half (and its own arena), and is
    // joined before the merge.
    const std::uint32_t half = count / 2;
    const auto middle = items.begin() + half;
    std::string helperArena;
    std::thread helper([&] {
        makeKeys(items, half, count, value, letterCase, helperArena);
        std::sort(middle, items.end(), lessItem);
    });
    makeKeys(items, 0, half, value, letterCase, arena);
    std::sort(items.begin(), middle, lessItem);
    helper.join();
    std::vector<Item> merged(count);
    std::merge(items.begin(), middle, middle, items.end(), merged.begin(), lessItem);
    for (std::uint32_t i = 0; i < count; ++i)
        order[i] = merged[i].position;
    return order;
}

} // namespace auralist
