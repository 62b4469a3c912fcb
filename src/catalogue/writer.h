#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>

#include "catalogue/database.h"
#include "core/worker_thread.h"

namespace auralist::catalogue {

// The catalogue's writer: the one thread with the read-write connection.
//
// Threads: post() from any thread puts a job on a queue under a brief
// lock; the writer thread owns the Database, opens it first (telling
// opened how that went), and runs what is queued in order, as many jobs as
// have gathered in one transaction, so a burst of edits costs one commit.
// A job never waits on the window; answers go out through what the job
// itself was given (a Mailbox sender, in the application). Jobs posted
// after a stop request are dropped; those queued before it are run.
class Writer : public Stoppable {
public:
    using Job = std::function<void(Database &)>;
    using OpenedHandler = std::function<void(Database::Opened, const std::string &problem)>;

    // failed(why) runs on the writer after a batch of which something could
    // not be written.
    using FailedHandler = std::function<void(const std::string &why)>;
    Writer(std::string path, OpenedHandler opened, FailedHandler failed = {});
    ~Writer() override;
    Writer(const Writer &) = delete;
    Writer &operator=(const Writer &) = delete;

    // committed (if any) runs on the writer once the job's transaction is
    // on disk.
    void post(Job job, std::function<void()> committed = {});

    void requestStop() override;
    bool waitStopped(Deadline deadline) override;

private:
    void run();

    std::string m_path;
    OpenedHandler m_opened;
    FailedHandler m_failed;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    struct Queued {
        Job job;
        std::function<void()> committed;
    };
    std::deque<Queued> m_jobs; // guarded by m_mutex
    bool m_quit = false; // guarded by m_mutex
    WorkerThread m_thread;
};

} // namespace auralist::catalogue
