#include "library/header_pool.h"

#include "library/background.h"

#include <QMetaObject>
#include <QObject>

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
    QObject *context = nullptr;
    std::vector<std::thread> workers;

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
        const std::lock_guard<std::mutex> lock(mutex);
        if (!context || results.empty())
            return;
        auto moved = std::make_shared<std::vector<FactsResult>>(std::move(results));
        Deliver *target = &deliver;
        // The Shared object outlives the context, so target stays valid for
        // any call that still runs.
        QMetaObject::invokeMethod(
            context, [target, from, moved] { (*target)(from, *moved); }, Qt::QueuedConnection);
    }

    static void run(const std::shared_ptr<Shared> &self)
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
    : m_shared(std::make_shared<Shared>()), m_context(new QObject)
{
    m_shared->reader = std::move(reader);
    m_shared->deliver = std::move(deliver);
    m_shared->context = m_context;
    if (threads <= 0)
        threads = static_cast<int>(std::clamp(std::thread::hardware_concurrency(), 2U, 3U));
    m_shared->running = threads;
    for (int i = 0; i < threads; ++i)
        m_shared->workers.emplace_back(&Shared::run, m_shared);
}

HeaderPool::~HeaderPool()
{
    std::unique_lock<std::mutex> lock(m_shared->mutex);
    m_shared->quit = true;
    m_shared->context = nullptr;
    m_shared->wake.notify_all();
    // A read stuck on a dead disk must not hold up quitting.
    const bool idle = m_shared->wake.wait_for(lock, std::chrono::milliseconds(300),
                                              [&] { return m_shared->running == 0; });
    std::vector<std::thread> workers = std::move(m_shared->workers);
    lock.unlock();
    for (std::thread &t : workers) {
        if (idle)
            t.join();
        else
            t.detach();
    }
    delete m_context;
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
