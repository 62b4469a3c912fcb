#include "catalogue/writer.h"

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

void Writer::post(Job job, std::function<void()> committed)
{
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        if (m_quit)
            return;
        m_jobs.push_back({std::move(job), std::move(committed)});
    }
    m_wake.notify_one();
}

void Writer::requestStop()
{
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_quit = true;
    }
    m_wake.notify_one();
}

bool Writer::waitStopped(Deadline deadline)
{
    return m_thread.joinUntil(deadline);
}

void Writer::run()
{
    Database db(m_path);
    const Database::Opened opened = db.open();
    if (m_opened)
        m_opened(opened, db.problem());
    for (;;) {
        std::deque<Queued> jobs;
        bool quit = false;
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_wake.wait(lock, [this] { return m_quit || !m_jobs.empty(); });
            jobs.swap(m_jobs);
            quit = m_quit;
        }
        if (!jobs.empty() && db.isOpen()) {
            // One transaction for all that gathered: the jobs' own
            // transactions become part of it.
            const bool batched = db.begin();
            for (Queued &q : jobs)
                q.job(db);
            if (batched)
                db.commit();
            if (std::string why = db.takeWriteError(); !why.empty() && m_failed)
                m_failed(why);
            for (Queued &q : jobs) {
                if (q.committed)
                    q.committed();
            }
        }
        if (quit)
            return;
    }
}

} // namespace auralist::catalogue
