#include "core/list_sort.h"

#include <algorithm>

#include "core/header_facts.h"
#include "core/sort_order.h"
#include "core/sound_traits.h"

namespace auralist {

SortInput sortInputOf(const RecordStorePtr &store, std::vector<std::uint32_t> records, const std::string &key,
                      bool ascending, const std::unordered_map<std::uint32_t, double> *listValues)
{
    SortInput in;
    in.store = store;
    in.records = std::move(records);
    in.ascending = ascending;
    const RecordStore &s = *store;
    const std::size_t count = in.records.size();
    const bool listed = key == kDuplicateKey || key == kSimilarityKey;
    if ((isFactKey(key) && key != kFormatKey) || isTraitKey(key) || listed) {
        // By value: a length by its duration, a size by its bytes, a
        // loudness by its LUFS.
        in.byNumber = true;
        in.numbers.resize(count);
        const bool trait = isTraitKey(key);
        for (std::size_t i = 0; i < count; ++i) {
            const std::uint32_t r = in.records[i];
            if (listed) {
                const auto it
                    = listValues ? listValues->find(r) : std::unordered_map<std::uint32_t, double>::const_iterator{};
                in.numbers[i] = listValues && it != listValues->end() ? it->second : -1e300;
            } else
                in.numbers[i] = trait ? traitSortValue(s.traits(r), key) : factSortValue(s.facts(r), key);
        }
        return in;
    }
    // By text. A name as scanned stays where the store keeps it (its text
    // never moves nor changes); anything else is copied.
    in.texts.resize(count);
    const auto own = [&in](std::string text) { return std::string_view(in.owned.emplace_back(std::move(text))); };
    if (key == "path") {
        in.heads.reserve(s.folderCount());
        for (std::uint32_t f = 0; f < s.folderCount(); ++f)
            in.heads.emplace_back(s.folderPath(f));
        for (std::size_t i = 0; i < count; ++i) {
            const std::uint32_t r = in.records[i];
            if (s.edited(r))
                in.texts[i] = {SortInput::kNoHead, own(s.path(r))};
            else
                in.texts[i] = {s.folderOf(r), s.scannedName(r)};
        }
    } else if (key == "name") {
        for (std::size_t i = 0; i < count; ++i) {
            const std::uint32_t r = in.records[i];
            in.texts[i].tail = s.edited(r) ? own(std::string(s.name(r))) : s.scannedName(r);
        }
    } else {
        const bool fact = isFactKey(key);
        for (std::size_t i = 0; i < count; ++i) {
            const std::uint32_t r = in.records[i];
            if (fact)
                in.texts[i].tail = own(factText(s.facts(r), key));
            else if (const auto v = s.value(r, key); v && !v->empty())
                in.texts[i].tail = own(std::string(*v));
        }
    }
    return in;
}

std::vector<std::uint32_t> sortedRecords(const SortInput &in)
{
    const auto count = static_cast<std::uint32_t>(in.records.size());
    std::vector<std::uint32_t> order;
    if (in.byNumber) {
        std::vector<std::pair<double, std::uint32_t>> values(count);
        for (std::uint32_t i = 0; i < count; ++i)
            values[i] = {in.numbers[i], i};
        std::stable_sort(values.begin(), values.end(), [](const auto &a, const auto &b) { return a.first < b.first; });
        order.reserve(count);
        for (const auto &v : values)
            order.push_back(v.second);
    } else {
        // Called from two threads at once for a big list: a path is put
        // together in a scratch string of each thread's own.
        order = numericSortOrder(
            count,
            [&in](std::uint32_t i) -> std::string_view {
                const SortInput::Text &t = in.texts[i];
                if (t.head == SortInput::kNoHead)
                    return t.tail;
                thread_local std::string scratch;
                scratch.assign(in.heads[t.head]);
                scratch.push_back('/');
                scratch.append(t.tail);
                return scratch;
            },
            LetterCase::Ignored);
    }
    if (!in.ascending)
        std::reverse(order.begin(), order.end());
    std::vector<std::uint32_t> sorted(count);
    for (std::uint32_t i = 0; i < count; ++i)
        sorted[i] = in.records[order[i]];
    return sorted;
}

void takeOrder(std::vector<std::uint32_t> &rows, const std::vector<std::uint32_t> &sorted)
{
    std::uint32_t most = 0;
    for (std::uint32_t r : rows)
        most = std::max(most, r + 1);
    std::vector<std::uint32_t> times(most); // how often each record is listed
    for (std::uint32_t r : rows)
        ++times[r];
    std::vector<std::uint32_t> out;
    out.reserve(rows.size());
    for (std::uint32_t r : sorted) {
        if (r < most && times[r] > 0) {
            out.insert(out.end(), times[r], r);
            times[r] = 0;
        }
    }
    for (std::uint32_t r : rows) {
        if (times[r] > 0) {
            out.insert(out.end(), times[r], r);
            times[r] = 0;
        }
    }
    rows.swap(out);
}

ListSorter::ListSorter()
{
    m_thread.start([this] { run(); });
}

ListSorter::~ListSorter()
{
    ListSorter::requestStop(); // this class's own: no override runs in a destructor
    m_thread.join();
}

void ListSorter::sort(SortInput input, Done done)
{
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_next.emplace_back(std::move(input), std::move(done));
    }
    m_wake.notify_one();
}

void ListSorter::requestStop()
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    m_quit = true;
    m_wake.notify_all();
}

bool ListSorter::waitStopped(Deadline deadline)
{
    return m_thread.joinUntil(deadline);
}

void ListSorter::run()
{
    for (;;) {
        std::optional<std::pair<SortInput, Done>> job;
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_wake.wait(lock, [this] { return m_quit || !m_next.empty(); });
            if (m_quit)
                return;
            job.emplace(std::move(m_next.front()));
            m_next.pop_front();
        }
        job->second(sortedRecords(job->first));
    }
}

} // namespace auralist
