#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <unordered_map>
#include <utility>
#include <vector>

#include "catalogue/database.h"

namespace auralist::catalogue {

// Descriptions of sounds (equal-length vectors of numbers), each under a
// label, and the labels nearest a query by Euclidean distance.
//
// Exact: every description is compared. Kept as one contiguous block, a
// million descriptions of 32 numbers are scanned in about 12 ms on one
// core, with no index to build or keep (a graph index such as HNSW answers
// in well under a millisecond but takes a minute and half as much memory
// again to build at that size; bench/similarity_bench.cpp has both).
class DescriptionIndex {
public:
    explicit DescriptionIndex(std::size_t width) : m_width(width) { }

    std::size_t width() const { return m_width; }
    std::size_t size() const { return m_labels.size(); }
    void reserve(std::size_t count);

    // Keeps description under label, in place of any it had.
    void put(std::uint32_t label, std::span<const float> description);
    void remove(std::uint32_t label);
    // label's description, or nothing.
    std::span<const float> description(std::uint32_t label) const;

    // Label and squared distance, nearest first.
    using Near = std::pair<std::uint32_t, float>;
    // Up to most of all the labels.
    std::vector<Near> nearest(std::span<const float> query, std::size_t most) const;
    // Up to most of among, each as its position in among (labels that have
    // no description are passed over).
    std::vector<Near> nearestAmong(std::span<const float> query, std::span<const std::uint32_t> among,
                                   std::size_t most) const;

private:
    float distance(std::span<const float> query, std::size_t slot) const;

    std::size_t m_width;
    std::vector<float> m_rows; // slot by slot
    std::vector<std::uint32_t> m_labels; // by slot
    std::vector<std::uint32_t> m_slotOf; // by label: slot + 1, 0 for none
};

struct ContentKeyHash {
    std::size_t operator()(const ContentKey &k) const
    {
        return static_cast<std::size_t>(k.print ^ (static_cast<std::uint64_t>(k.size) * 0x9E3779B97F4A7C15ULL)
                                        ^ (k.audio * 0xC2B2AE3D27D4EB4FULL));
    }
};

// Every analysed content of the catalogue with its description, each
// under a small label, for finding similar sounds. Thread: the catalogue's
// writer only.
class SimilarSounds {
public:
    bool loaded() const { return m_index.has_value(); }
    // Starts over with no description (the descriptions' width set by the
    // first put).
    void clear();
    // Keeps content's description; its label.
    std::optional<std::uint32_t> put(const ContentKey &content, std::span<const float> description);
    std::optional<std::uint32_t> labelOf(const ContentKey &content) const;
    const ContentKey &content(std::uint32_t label) const { return m_contents[label]; }
    // The index, once anything was put.
    const DescriptionIndex *index() const { return m_index && m_index->width() > 0 ? &*m_index : nullptr; }

private:
    std::optional<DescriptionIndex> m_index;
    std::vector<ContentKey> m_contents; // by label
    std::unordered_map<ContentKey, std::uint32_t, ContentKeyHash> m_labels;
};

} // namespace auralist::catalogue
