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
// A long job breathes (Database::breathe) between its steps: what it wrote
// so far is committed, and jobs posted Soon (marks, tags, moves) run and
// commit then, so they never wait behind it for more than a breath. A job
// posted Alone runs with no transaction open (a backup). A job never waits
// on the window; answers go out through what the job itself was given (a
// Mailbox sender, in the application). Jobs posted after a stop request
// are dropped; those queued before it are run, and from the stop on a
// lock held by another connection is not waited for.
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

    // How long a write waits for another connection's lock once a stop is
    // asked for (a brief write of another window passes; a long hold does
    // not hold up quitting).
    static constexpr int kStoppingPatience = 150;

    enum class Order {
        InTurn, // after everything posted before it
        Soon, // at the next breath of a long job, else in turn
        Alone, // in turn, outside any transaction
    };
    // committed (if any) runs on the writer once the job's transaction is
    // on disk; first (if any) runs on the writer before the transaction
    // the job is in is begun, so before any wait on a lock.
    void post(Job job, std::function<void()> committed = {}, Order order = Order::InTurn,
              std::function<void()> first = {});
    // Runs on the writer when nothing has been queued for a second; true
    // while it has something left to try again.
    void setIdle(std::function<bool(Database &)> idle);

    void requestStop() override;
    bool waitStopped(Deadline deadline) override;

private:
    struct Queued {
        Job job;
        std::function<void()> committed;
        Order order = Order::InTurn;
        std::function<void()> first;
    };
    void run();
    // Runs jobs in one transaction (those Alone outside it); then tells of
    // failures and runs each committed.
    void runBatch(Database &db, std::deque<Queued> &jobs);
    // Between the steps of a long job: runs what was posted Soon.
    void breathe(Database &db);

    std::string m_path;
    OpenedHandler m_opened;
    FailedHandler m_failed;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<Queued> m_jobs; // guarded by m_mutex
    bool m_quit = false; // guarded by m_mutex
    Database *m_db = nullptr; // guarded by m_mutex: the open one, for a stop to cut its waits short
    std::function<bool(Database &)> m_idle; // guarded by m_mutex
    WorkerThread m_thread;
};

} // namespace auralist::catalogue
