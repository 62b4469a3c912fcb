#include "catalogue/writer.h"

#include <chrono>
#include <utility>

namespace auralist::catalogue {

Writer::Writer(std::string path, OpenedHandler opened, FailedHandler failed)
    : m_path(std::move(path)), m_opened(std::move(opened)), m_failed(std::move(failed))
{
    m_thread.start([this] { run(); });
}

Writer::~Writer()
{
    Writer::requestStop();
    m_thread.join();
}

void Writer::post(Job job, std::function<void()> committed, Order order, std::function<void()> first)
{
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        if (m_quit)
            return;
        m_jobs.push_back({std::move(job), std::move(committed), order, std::move(first)});
    }
    m_wake.notify_one();
}

void Writer::setIdle(std::function<bool(Database &)> idle)
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    m_idle = std::move(idle);
}

void Writer::requestStop()
{
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_quit = true;
        // What waits on another connection's lock now waits a moment at
        // most: marks are kept to be written at the next start.
        if (m_db)
            m_db->setLockPatience(kStoppingPatience);
    }
    m_wake.notify_one();
}

bool Writer::waitStopped(Deadline deadline)
{
    return m_thread.joinUntil(deadline);
}

void Writer::runBatch(Database &db, std::deque<Queued> &jobs)
{
    for (Queued &q : jobs) {
        if (q.first)
            q.first();
    }
    // One transaction for all that gathered: the jobs' own transactions
    // become part of it.
    bool batched = db.begin();
    for (Queued &q : jobs) {
        if (q.order == Order::Alone) {
            if (batched)
                db.commit();
            q.job(db);
            batched = db.begin();
        } else {
            q.job(db);
        }
    }
    if (batched && db.inTransaction())
        db.commit();
    if (std::string why = db.takeWriteError(); !why.empty() && m_failed)
        m_failed(why);
    for (Queued &q : jobs) {
        if (q.committed)
            q.committed();
    }
}

void Writer::breathe(Database &db)
{
    std::deque<Queued> soon;
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        for (auto it = m_jobs.begin(); it != m_jobs.end();) {
            if (it->order == Order::Soon) {
                soon.push_back(std::move(*it));
                it = m_jobs.erase(it);
            } else {
                ++it;
            }
        }
    }
    if (!soon.empty())
        runBatch(db, soon);
}

void Writer::run()
{
    Database db(m_path);
    const Database::Opened opened = db.open();
    if (m_opened)
        m_opened(opened, db.problem());
    db.setBreath([this](Database &open) { breathe(open); });
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_db = &db;
        if (m_quit)
            db.setLockPatience(kStoppingPatience);
    }
    bool retrying = false;
    for (;;) {
        std::deque<Queued> jobs;
        bool quit = false;
        std::function<bool(Database &)> idle;
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            const auto ready = [this] { return m_quit || !m_jobs.empty(); };
            if (retrying) {
                if (!m_wake.wait_for(lock, std::chrono::seconds(1), ready))
                    idle = m_idle;
            } else {
                m_wake.wait(lock, ready);
            }
            jobs.swap(m_jobs);
            quit = m_quit;
        }
        if (db.isOpen()) {
            if (!jobs.empty())
                runBatch(db, jobs);
            if (idle)
                retrying = idle(db);
            else if (!jobs.empty())
                retrying = true; // the idle work looks once after each burst
        }
        if (quit)
            break;
    }
    if (db.isOpen())
        db.checkpoint();
    const std::lock_guard<std::mutex> lock(m_mutex);
    m_db = nullptr;
}

} // namespace auralist::catalogue
