#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "core/vector_state.h"

namespace auralist {

// A thread that tells when it has ended, so its owner can wait for it with
// a limit: a thread stuck in a system call on a dead disk must not hold up
// quitting. It is never detached; the destructor joins.
class WorkerThread {
public:
    using Deadline = std::chrono::steady_clock::time_point;

    WorkerThread() = default;
    ~WorkerThread() { join(); }
    WorkerThread(const WorkerThread &) = delete;
    WorkerThread &operator=(const WorkerThread &) = delete;

    void start(std::function<void()> body)
    {
        join();
        m_exited = false;
        m_thread = std::thread([this, body = std::move(body)] {
            clearWideVectorState();
            body();
            const std::lock_guard<std::mutex> lock(m_mutex);
            m_exited = true;
            m_ended.notify_all();
        });
    }
    bool started() const { return m_thread.joinable(); }
    // Joins the thread if it ends before deadline; true when there is no
    // thread left.
    bool joinUntil(Deadline deadline)
    {
        if (!m_thread.joinable())
            return true;
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            if (!m_ended.wait_until(lock, deadline, [this] { return m_exited; }))
                return false;
        }
        m_thread.join();
        return true;
    }
    void join()
    {
        if (m_thread.joinable())
            m_thread.join();
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_ended;
    bool m_exited = false; // guarded by m_mutex
    std::thread m_thread;
};

// What the application object needs of every unit that runs threads: a
// request to stop that never waits (cancel what is under way, wake the
// threads), then a wait with a limit for the threads to end.
class Stoppable {
public:
    using Deadline = WorkerThread::Deadline;
    Stoppable() = default;
    virtual ~Stoppable() = default;
    Stoppable(const Stoppable &) = delete;
    Stoppable &operator=(const Stoppable &) = delete;

    virtual void requestStop() = 0;
    // True once every thread of the unit has been joined.
    virtual bool waitStopped(Deadline deadline) = 0;
};

// Stops units in the order given: each is asked first (so all of them
// begin to end at once), then each is waited for in turn, all before
// deadline. True when every thread has been joined; false leaves the rest
// running (stuck in a system call), and the caller must not destroy them.
inline bool stopInOrder(const std::vector<Stoppable *> &units, Stoppable::Deadline deadline)
{
    for (Stoppable *unit : units)
        unit->requestStop();
    bool all = true;
    for (Stoppable *unit : units)
        all = unit->waitStopped(deadline) && all;
    return all;
}

} // namespace auralist
