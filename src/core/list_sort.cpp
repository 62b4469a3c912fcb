#include "core/list_sort.h"

#include <algorithm>
#include <chrono>
#include <numeric>

#include "core/diagnostics.h"
#include "core/header_facts.h"
#include "core/mailbox.h"
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
        // Each folder's path copied once, only those of the records sorted.
        std::vector<std::uint32_t> headOf(s.folderCount(), SortInput::kNoHead);
        for (std::size_t i = 0; i < count; ++i) {
            const std::uint32_t r = in.records[i];
            const std::uint32_t folder = s.folderOf(r);
            if (s.edited(r)) {
                in.texts[i] = {SortInput::kNoHead, own(s.path(r))};
                continue;
            }
            if (folder != RecordStore::kNoFolder && headOf[folder] == SortInput::kNoHead) {
                headOf[folder] = static_cast<std::uint32_t>(in.heads.size());
                in.heads.emplace_back(s.folderPath(folder));
            }
            in.texts[i] = {folder == RecordStore::kNoFolder ? SortInput::kNoHead : headOf[folder], s.scannedName(r)};
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

BackgroundSort::BackgroundSort() = default;

BackgroundSort::~BackgroundSort() = default;

void BackgroundSort::setSorter(ListSorter *sorter)
{
    m_sorter = sorter;
    if (!sorter)
        m_done.reset();
    else if (!m_done)
        m_done = std::make_unique<Mailbox>();
}

void BackgroundSort::sort(const RecordStorePtr &store, const std::string &key, bool ascending,
                          const std::unordered_map<std::uint32_t, double> *listValues,
                          std::function<void(std::vector<std::uint32_t>)> landed)
{
    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    std::vector<std::uint32_t> records(store->size());
    std::iota(records.begin(), records.end(), 0U);
    SortInput input = sortInputOf(store, std::move(records), key, ascending, listValues);
    const auto asked = Clock::now();
    m_sorter->sort(
        std::move(input),
        [start, asked, key, landed = std::move(landed), done = m_done->sender()](std::vector<std::uint32_t> sorted) {
            done.post([start, asked, key, landed, sorted = std::move(sorted)]() mutable {
                const auto came = Clock::now();
                const std::size_t count = sorted.size();
                landed(std::move(sorted));
                const auto ms = [](Clock::duration d) {
                    return std::to_string(std::chrono::duration_cast<std::chrono::milliseconds>(d).count());
                };
                debugLog("table: sorted " + std::to_string(count) + " records by " + key + " in " + ms(came - start)
                         + " ms; on the window's thread " + ms(asked - start) + " ms to ask, " + ms(Clock::now() - came)
                         + " ms to take the order");
            });
        });
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
