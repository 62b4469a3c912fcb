#pragma once

#include <string>
#include <string_view>
#include <vector>

// Collection operations in the manner of a collection protocol. A selector
// is any callable taking an element (and, for the `with` forms, one extra
// argument) and returning something testable for null: a pointer, a
// std::optional, a shared_ptr or a bool.
namespace auralist::smalltalk {

template <typename T, typename Selector> auto collect(const std::vector<T> &items, Selector selector)
{
    std::vector<decltype(selector(items.front()))> out;
    out.reserve(items.size());
    for (const T &item : items)
        out.push_back(selector(item));
    return out;
}

template <typename T, typename Selector> std::vector<T> select(const std::vector<T> &items, Selector selector)
{
    std::vector<T> out;
    for (const T &item : items) {
        if (static_cast<bool>(selector(item)))
            out.push_back(item);
    }
    return out;
}

template <typename T, typename Selector> std::vector<T> reject(const std::vector<T> &items, Selector selector)
{
    std::vector<T> out;
    for (const T &item : items) {
        if (!static_cast<bool>(selector(item)))
            out.push_back(item);
    }
    return out;
}

// The first element whose result is not null; null when there is none.
// Elements after it are not visited.
template <typename T, typename Selector> const T *delect(const std::vector<T> &items, Selector selector)
{
    for (const T &item : items) {
        if (static_cast<bool>(selector(item)))
            return &item;
    }
    return nullptr;
}

template <typename T, typename Selector, typename Arg>
std::vector<T> selectWith(const std::vector<T> &items, Selector selector, const Arg &arg)
{
    return select(items, [&](const T &item) { return selector(item, arg); });
}

template <typename T, typename Selector, typename Arg>
std::vector<T> rejectWith(const std::vector<T> &items, Selector selector, const Arg &arg)
{
    return reject(items, [&](const T &item) { return selector(item, arg); });
}

template <typename T, typename Selector, typename Arg>
const T *delectWith(const std::vector<T> &items, Selector selector, const Arg &arg)
{
    return delect(items, [&](const T &item) { return selector(item, arg); });
}

} // namespace auralist::smalltalk

namespace auralist {

// Case folding for case-insensitive search: ASCII is folded byte by byte;
// text with other characters is folded by Unicode rules when it is valid
// UTF-8. Bytes that are not UTF-8 are kept as they are.
std::string caseFold(std::string_view text);

// True when needle occurs in haystack, ignoring case; false for an empty
// needle.
bool contains(std::string_view haystack, std::string_view needle);
// The same on already folded text.
bool containsFolded(std::string_view foldedHaystack, std::string_view foldedNeedle);

} // namespace auralist
