#include "library/header_pool.h"

#include "library/background.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

namespace auralist {

struct HeaderPool::Shared {
    std::shared_ptr<HeaderReader> reader;
    Deliver deliver; // called on the main thread only
    mutable std::mutex mutex;
    std::condition_variable wake;
    // Guarded by mutex.
    RecordStorePtr store;
    std::uint64_t generation = 0;
    std::vector<std::uint32_t> order;
    std::size_t cursor = 0;
    std::deque<std::uint32_t> preferred;
    std::vector<std::uint8_t> taken; // by record index
    std::size_t remaining = 0;
    bool quit = false;
    int running = 0;
    Mailbox::Sender toMain;

    // Up to n records not yet taken, those on screen first.
    std::vector<std::uint32_t> takeLocked(std::size_t n)
    {
        std::vector<std::uint32_t> out;
        auto consider = [&](std::uint32_t r) {
            if (r < taken.size() && !taken[r]) {
                taken[r] = 1;
                --remaining;
                out.push_back(r);
            }
        };
        while (out.size() < n && !preferred.empty()) {
            consider(preferred.front());
            preferred.pop_front();
        }
        while (out.size() < n && cursor < order.size())
            consider(order[cursor++]);
        return out;
    }

    void post(const RecordStorePtr &from, std::vector<FactsResult> results)
    {
        if (results.empty())
            return;
        auto moved = std::make_shared<std::vector<FactsResult>>(std::move(results));
        // The mailbox is closed before this object goes.
        toMain.post([this, from, moved] { deliver(from, *moved); });
    }

    static void run(Shared *self)
    {
        becomeBackgroundThread();
        using Clock = std::chrono::steady_clock;
        std::vector<FactsResult> results;
        RecordStorePtr resultsFrom;
        Clock::time_point since = Clock::now();
        std::string error;
        for (;;) {
            RecordStorePtr store;
            std::vector<std::uint32_t> batch;
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
                batch = self->takeLocked(8);
            }
            if (store != resultsFrom && !results.empty()) {
                self->post(resultsFrom, std::move(results));
                results.clear();
            }
            resultsFrom = store;
            for (std::uint32_t r : batch) {
                error.clear();
                FactsResult result{r, self->reader->read(std::string(store->scannedPath(r)), error), {}};
                if (result.facts.state == HeaderFacts::State::Failed)
                    result.error = error;
                results.push_back(std::move(result));
            }
            if (!results.empty() && (batch.empty() || Clock::now() - since >= std::chrono::milliseconds(50))) {
                self->post(resultsFrom, std::move(results));
                results.clear();
                since = Clock::now();
            }
        }
    }
};

HeaderPool::HeaderPool(std::shared_ptr<HeaderReader> reader, Deliver deliver, int threads)
    : m_shared(std::make_unique<Shared>())
{
    m_shared->reader = std::move(reader);
    m_shared->deliver = std::move(deliver);
    m_shared->toMain = m_mailbox.sender();
    if (threads <= 0)
        threads = static_cast<int>(std::clamp(std::thread::hardware_concurrency(), 2U, 3U));
    m_shared->running = threads;
    m_workers = std::vector<WorkerThread>(static_cast<std::size_t>(threads));
    Shared *shared = m_shared.get();
    for (WorkerThread &worker : m_workers)
        worker.start([shared] { Shared::run(shared); });
}

HeaderPool::~HeaderPool()
{
    HeaderPool::requestStop(); // this class's own: no override runs in a destructor
    m_mailbox.close();
    m_workers.clear(); // joins
}

void HeaderPool::requestStop()
{
    const std::lock_guard<std::mutex> lock(m_shared->mutex);
    m_shared->quit = true;
    m_shared->wake.notify_all();
}

bool HeaderPool::waitStopped(Deadline deadline)
{
    bool all = true;
    for (WorkerThread &worker : m_workers)
        all = worker.joinUntil(deadline) && all;
    return all;
}

void HeaderPool::readStore(const RecordStorePtr &store, std::vector<std::uint32_t> order)
{
    const std::lock_guard<std::mutex> lock(m_shared->mutex);
    m_shared->store = store;
    m_shared->order = std::move(order);
    m_shared->cursor = 0;
    m_shared->preferred.clear();
    m_shared->taken.assign(store ? store->size() : 0, 0);
    // Records whose facts are known already need no second read.
    std::size_t remaining = 0;
    for (std::uint32_t r : m_shared->order) {
        if (r < m_shared->taken.size() && !m_shared->taken[r]) {
            if (store->facts(r).state != HeaderFacts::State::Unknown)
                m_shared->taken[r] = 1;
            else
                ++remaining;
        }
    }
    m_shared->remaining = remaining;
    m_shared->wake.notify_all();
}

void HeaderPool::prefer(const RecordStorePtr &store, std::vector<std::uint32_t> records)
{
    const std::lock_guard<std::mutex> lock(m_shared->mutex);
    if (store != m_shared->store)
        return;
    m_shared->preferred.assign(records.begin(), records.end());
}

std::size_t HeaderPool::pending() const
{
    const std::lock_guard<std::mutex> lock(m_shared->mutex);
    return m_shared->remaining;
}

} // namespace auralist
