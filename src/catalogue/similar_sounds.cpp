#include "catalogue/similar_sounds.h"

#include <algorithm>

namespace auralist::catalogue {

namespace {

// The most nearest kept in a heap while scanning: the farthest on top.
class Nearest {
public:
    explicit Nearest(std::size_t most) : m_most(most) { m_heap.reserve(most + 1); }

    // Worth offering: nearer than the farthest kept, or room left.
    bool wants(float distance) const { return m_heap.size() < m_most || distance < m_heap.front().second; }
    void offer(std::uint32_t label, float distance)
    {
        if (!wants(distance))
            return;
        m_heap.emplace_back(label, distance);
        std::push_heap(m_heap.begin(), m_heap.end(), farther);
        if (m_heap.size() > m_most) {
            std::pop_heap(m_heap.begin(), m_heap.end(), farther);
            m_heap.pop_back();
        }
    }
    std::vector<DescriptionIndex::Near> sorted() &&
    {
        std::sort_heap(m_heap.begin(), m_heap.end(), farther);
        return std::move(m_heap);
    }

private:
    static bool farther(const DescriptionIndex::Near &a, const DescriptionIndex::Near &b)
    {
        return a.second < b.second || (a.second == b.second && a.first < b.first);
    }
    std::size_t m_most;
    std::vector<DescriptionIndex::Near> m_heap;
};

} // namespace

void DescriptionIndex::reserve(std::size_t count)
{
    m_rows.reserve(count * m_width);
    m_labels.reserve(count);
}

void DescriptionIndex::put(std::uint32_t label, std::span<const float> description)
{
    if (description.size() != m_width)
        return;
    if (label >= m_slotOf.size())
        m_slotOf.resize(static_cast<std::size_t>(label) + 1, 0);
    std::uint32_t &slot = m_slotOf[label];
    if (slot == 0) {
        m_labels.push_back(label);
        m_rows.insert(m_rows.end(), description.begin(), description.end());
        slot = static_cast<std::uint32_t>(m_labels.size());
        return;
    }
    std::copy(description.begin(), description.end(),
              m_rows.begin() + static_cast<std::ptrdiff_t>((slot - 1) * m_width));
}

void DescriptionIndex::remove(std::uint32_t label)
{
    if (label >= m_slotOf.size() || m_slotOf[label] == 0)
        return;
    // The last slot moves into the one freed.
    const std::size_t slot = m_slotOf[label] - 1;
    const std::size_t last = m_labels.size() - 1;
    if (slot != last) {
        std::copy_n(m_rows.begin() + static_cast<std::ptrdiff_t>(last * m_width), m_width,
                    m_rows.begin() + static_cast<std::ptrdiff_t>(slot * m_width));
        m_labels[slot] = m_labels[last];
        m_slotOf[m_labels[slot]] = static_cast<std::uint32_t>(slot + 1);
    }
    m_labels.pop_back();
    m_rows.resize(m_labels.size() * m_width);
    m_slotOf[label] = 0;
}

std::span<const float> DescriptionIndex::description(std::uint32_t label) const
{
    if (label >= m_slotOf.size() || m_slotOf[label] == 0)
        return {};
    return {m_rows.data() + (m_slotOf[label] - 1) * m_width, m_width};
}

float DescriptionIndex::distance(std::span<const float> query, std::size_t slot) const
{
    const float *row = m_rows.data() + slot * m_width;
    float sum = 0;
    for (std::size_t j = 0; j < m_width; ++j) {
        const float d = row[j] - query[j];
        sum += d * d;
    }
    return sum;
}

std::vector<DescriptionIndex::Near> DescriptionIndex::nearest(std::span<const float> query, std::size_t most) const
{
    if (query.size() != m_width || most == 0)
        return {};
    Nearest found(most);
    for (std::size_t slot = 0; slot < m_labels.size(); ++slot) {
        const float d = distance(query, slot);
        if (found.wants(d))
            found.offer(m_labels[slot], d);
    }
    return std::move(found).sorted();
}

std::vector<DescriptionIndex::Near> DescriptionIndex::nearestAmong(std::span<const float> query,
                                                                   std::span<const std::uint32_t> among,
                                                                   std::size_t most) const
{
    if (query.size() != m_width || most == 0)
        return {};
    Nearest found(most);
    for (std::size_t k = 0; k < among.size(); ++k) {
        const std::uint32_t label = among[k];
        if (label < m_slotOf.size() && m_slotOf[label] != 0)
            found.offer(static_cast<std::uint32_t>(k), distance(query, m_slotOf[label] - 1));
    }
    return std::move(found).sorted();
}

void SimilarSounds::clear()
{
    m_index.emplace(0);
    m_contents.clear();
    m_labels.clear();
}

std::optional<std::uint32_t> SimilarSounds::put(const ContentKey &content, std::span<const float> description)
{
    if (!m_index || description.empty())
        return std::nullopt;
    if (m_index->width() == 0)
        m_index.emplace(description.size());
    if (description.size() != m_index->width())
        return std::nullopt;
    const auto [at, added] = m_labels.try_emplace(content, static_cast<std::uint32_t>(m_contents.size()));
    if (added)
        m_contents.push_back(content);
    m_index->put(at->second, description);
    return at->second;
}

std::optional<std::uint32_t> SimilarSounds::labelOf(const ContentKey &content) const
{
    const auto at = m_labels.find(content);
    if (at == m_labels.end())
        return std::nullopt;
    return at->second;
}

} // namespace auralist::catalogue
