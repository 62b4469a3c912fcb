#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/background.h"
#include "core/mailbox.h"
#include "core/records.h"
#include "core/worker_thread.h"

namespace auralist {

// Works on the records of a store on a few background threads, the rows on
// screen first, and hands the results back on the main thread in batches:
// the header pool (one header read a record) and the analysis (one
// decoded sound a record) are two of these.
//
// Threads: a few workers and the main thread. The workers own nothing but
// the records in their hands; the queue of what is still to do (an order to
// follow, the rows on screen to take first) is guarded by one mutex. A
// worker reads only the paths of a store that takes no more records;
// results travel back to the main thread a batch a worker every 200 ms or
// so (the table is painted again for each batch) as queued calls to deliver, which alone writes them into the store. A
// job can ask whether it is still wanted (the pool stopping, or a new start since it began); what it returns once it is
// not is dropped. The destructor joins the workers; the application object stops them first with a limit, so one stuck
// on a dead disk does not hold up quitting.
template <class Result> class RecordPool : public Stoppable {
public:
    // Still wanted? Cheap, and safe to ask from the job's own thread.
    using Wanted = std::function<bool()>;
    using Work = std::function<Result(std::uint32_t record, const std::string &path, const Wanted &wanted)>;
    // The results may be moved from.
    using Deliver = std::function<void(const RecordStorePtr &, std::vector<Result> &)>;
    // Whether a record needs no work (its result is known already).
    using Known = std::function<bool(const RecordStore &, std::uint32_t)>;

    // NOLINTNEXTLINE(performance-unnecessary-value-param): moved from; the check misreads the template
    RecordPool(Work work, Deliver deliver, Known known, int threads, std::size_t take)
        : m_shared(std::make_unique<Shared>())
    {
        m_shared->work = std::move(work);
        m_shared->deliver = std::move(deliver);
        m_shared->known = std::move(known);
        m_shared->take = take;
        m_shared->toMain = m_mailbox.sender();
        m_shared->running = threads;
        m_workers = std::vector<WorkerThread>(static_cast<std::size_t>(threads));
        Shared *shared = m_shared.get();
        for (WorkerThread &worker : m_workers)
            worker.start([shared] { Shared::run(shared); });
    }
    ~RecordPool() override
    {
        RecordPool::requestStop(); // this class's own: no override runs in a destructor
        m_mailbox.close();
        m_workers.clear(); // joins
    }
    RecordPool(const RecordPool &) = delete;
    RecordPool &operator=(const RecordPool &) = delete;

    // Starts on the records of store, in the order given; drops whatever an
    // earlier call asked for. Records known already are passed over.
    // NOLINTNEXTLINE(performance-unnecessary-value-param): moved from; the check misreads the template
    void start(const RecordStorePtr &store, std::vector<std::uint32_t> order)
    {
        const std::lock_guard<std::mutex> lock(m_shared->mutex);
        m_shared->store = store;
        m_shared->generation.fetch_add(1, std::memory_order_relaxed);
        m_shared->order = std::move(order);
        m_shared->cursor = 0;
        m_shared->preferred.clear();
        m_shared->taken.assign(store ? store->size() : 0, 0);
        std::size_t remaining = 0;
        for (std::uint32_t r : m_shared->order) {
            if (r < m_shared->taken.size() && !m_shared->taken[r]) {
                if (m_shared->known && m_shared->known(*store, r))
                    m_shared->taken[r] = 1;
                else
                    ++remaining;
            }
        }
        m_shared->remaining = remaining;
        m_shared->wake.notify_all();
    }
    // These records (the rows on screen) go first.
    void prefer(const RecordStorePtr &store, std::vector<std::uint32_t> records)
    {
        const std::lock_guard<std::mutex> lock(m_shared->mutex);
        if (store != m_shared->store)
            return;
        m_shared->preferred.assign(records.begin(), records.end());
    }
    // How many records are still to do (tests and measurement).
    std::size_t pending() const
    {
        const std::lock_guard<std::mutex> lock(m_shared->mutex);
        return m_shared->remaining;
    }

    void requestStop() override
    {
        const std::lock_guard<std::mutex> lock(m_shared->mutex);
        m_shared->quit = true;
        m_shared->quitting.store(true, std::memory_order_relaxed);
        m_shared->wake.notify_all();
    }
    bool waitStopped(Deadline deadline) override
    {
        bool all = true;
        for (WorkerThread &worker : m_workers)
            all = worker.joinUntil(deadline) && all;
        return all;
    }

private:
    struct Shared {
        Work work;
        Deliver deliver; // called on the main thread only
        Known known;
        std::size_t take = 8;
        mutable std::mutex mutex;
        std::condition_variable wake;
        std::atomic<bool> quitting{false};
        std::atomic<std::uint64_t> generation{0};
        // Guarded by mutex.
        RecordStorePtr store;
        std::vector<std::uint32_t> order;
        std::size_t cursor = 0;
        std::deque<std::uint32_t> preferred;
        std::vector<std::uint8_t> taken; // by record index
        std::size_t remaining = 0;
        bool quit = false;
        int running = 0;
        Mailbox::Sender toMain;

        // Up to take records not yet taken, those on screen first.
        std::vector<std::uint32_t> takeLocked()
        {
            std::vector<std::uint32_t> out;
            auto consider = [&](std::uint32_t r) {
                if (r < taken.size() && !taken[r]) {
                    taken[r] = 1;
                    --remaining;
                    out.push_back(r);
                }
            };
            while (out.size() < take && !preferred.empty()) {
                consider(preferred.front());
                preferred.pop_front();
            }
            while (out.size() < take && cursor < order.size())
                consider(order[cursor++]);
            return out;
        }

        void post(const RecordStorePtr &from, std::vector<Result> results)
        {
            if (results.empty())
                return;
            auto moved = std::make_shared<std::vector<Result>>(std::move(results));
            // The mailbox is closed before this object goes.
            toMain.post([this, from, moved] { deliver(from, *moved); });
        }

        static void run(Shared *self)
        {
            becomeBackgroundThread();
            using Clock = std::chrono::steady_clock;
            std::vector<Result> results;
            RecordStorePtr resultsFrom;
            Clock::time_point since = Clock::now();
            for (;;) {
                RecordStorePtr store;
                std::vector<std::uint32_t> batch;
                std::uint64_t generation = 0;
                {
                    std::unique_lock<std::mutex> lock(self->mutex);
                    if (results.empty() || self->remaining != 0) {
                        --self->running;
                        self->wake.notify_all();
                        self->wake.wait(lock, [&] { return self->quit || self->remaining != 0 || !results.empty(); });
                        ++self->running;
                    }
                    if (self->quit)
                        return;
                    store = self->store;
                    generation = self->generation.load(std::memory_order_relaxed);
                    batch = self->takeLocked();
                }
                if (store != resultsFrom && !results.empty()) {
                    self->post(resultsFrom, std::move(results));
                    results.clear();
                }
                resultsFrom = store;
                const Wanted wanted = [self, generation] {
                    return !self->quitting.load(std::memory_order_relaxed)
                        && self->generation.load(std::memory_order_relaxed) == generation;
                };
                for (std::uint32_t r : batch) {
                    Result result = self->work(r, std::string(store->scannedPath(r)), wanted);
                    // A job cut short has no result: it is done again if
                    // its store is asked for again.
                    if (wanted())
                        results.push_back(std::move(result));
                }
                if (!results.empty() && (batch.empty() || Clock::now() - since >= std::chrono::milliseconds(200))) {
                    self->post(resultsFrom, std::move(results));
                    results.clear();
                    since = Clock::now();
                }
            }
        }
    };

    std::unique_ptr<Shared> m_shared;
    Mailbox m_mailbox;
    std::vector<WorkerThread> m_workers; // last: they go first
};

} // namespace auralist
