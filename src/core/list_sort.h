#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "core/records.h"
#include "core/worker_thread.h"

namespace auralist {

// Sorting by a column's values in three steps, which may run on two
// threads: what to sort by is taken from the store on the window's thread
// (numbers copied, names viewed where the store keeps them), put in order
// on any thread, and the order then put on a list on the window's thread,
// keeping the rows added meanwhile and leaving out those gone.
struct SortInput {
    static constexpr std::uint32_t kNoHead = 0xFFFFFFFF;
    struct Text {
        std::uint32_t head = kNoHead; // heads[head] + '/' before tail
        std::string_view tail;
    };
    RecordStorePtr store; // keeps the text viewed where it is
    std::vector<std::uint32_t> records;
    bool ascending = true;
    bool byNumber = false;
    std::vector<double> numbers; // each record's, by position in records
    std::vector<Text> texts;
    std::vector<std::string> heads; // the folders' paths, for a sort by path
    std::deque<std::string> owned; // text the store does not keep as it is
};

// What records of store sort by under key (see TableController::sortList).
// Window's thread.
SortInput sortInputOf(const RecordStorePtr &store, std::vector<std::uint32_t> records, const std::string &key,
                      bool ascending, const std::unordered_map<std::uint32_t, double> *listValues);
// The records of input in its order. Any thread.
std::vector<std::uint32_t> sortedRecords(const SortInput &input);
// Puts rows in the order of sorted (records, each once): the rows whose
// record is in sorted come first in its order, then the others as they
// were. A record listed twice stays twice.
void takeOrder(std::vector<std::uint32_t> &rows, const std::vector<std::uint32_t> &sorted);

class ListSorter;
class Mailbox;

// The window's side of the sorter: which lists go to it, and the order
// each comes back with, handed over on the window's thread. Without a
// sorter none does.
class BackgroundSort {
public:
    // Lists of at least this many records (in their store) go to the sorter.
    static constexpr std::uint32_t kFrom = 100000;
    BackgroundSort();
    ~BackgroundSort();
    BackgroundSort(const BackgroundSort &) = delete;
    BackgroundSort &operator=(const BackgroundSort &) = delete;

    // Without a sorter, sorts still under way come to nothing.
    void setSorter(ListSorter *sorter);
    bool takes(const RecordStore &store) const { return m_sorter && store.size() >= kFrom; }
    // Sorts every record of store by key (see TableController::sortList) on
    // the sorter's thread; landed gets them in order on this thread. Every
    // record, not only a list's: a find shows part of the sound list,
    // which takes the same order.
    void sort(const RecordStorePtr &store, const std::string &key, bool ascending,
              const std::unordered_map<std::uint32_t, double> *listValues,
              std::function<void(std::vector<std::uint32_t>)> landed);

private:
    ListSorter *m_sorter = nullptr;
    std::unique_ptr<Mailbox> m_done; // the sorter's answers come in here
};

// Sorts on a thread of its own, one sort at a time, in the order asked.
// done runs on the sorting thread with the records in order: hand it to
// the window's thread.
class ListSorter : public Stoppable {
public:
    using Done = std::function<void(std::vector<std::uint32_t> sorted)>;
    ListSorter();
    ~ListSorter() override;
    ListSorter(const ListSorter &) = delete;
    ListSorter &operator=(const ListSorter &) = delete;

    void sort(SortInput input, Done done);

    void requestStop() override;
    bool waitStopped(Deadline deadline) override;

private:
    void run();
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<std::pair<SortInput, Done>> m_next; // guarded by m_mutex
    bool m_quit = false; // guarded by m_mutex
    WorkerThread m_thread;
};

} // namespace auralist
