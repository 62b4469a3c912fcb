#pragma once

#include <atomic>
#include <cstddef>
#include <deque>
#include <mutex>

#include "core/mailbox.h"
#include "core/services.h"
#include "core/worker_thread.h"

namespace auralist {

// HTTP(S) GET with libcurl, bounded in time and size.
struct HttpLimits {
    long connectTimeoutMs = 5000;
    long totalTimeoutMs = 10000;
    std::size_t maxBodyBytes = std::size_t{1024} * 1024;
};

// Threads: get() runs where it is called; fetch() hands the request to a
// thread of its own, started with the first fetch, and the answer comes
// back to the calling thread through a mailbox. requestStop() ends a
// transfer under way at once (the transfer waits in curl_multi_poll, which
// it wakes), so quitting never waits for a slow server.
class CurlHttp : public Http, public Stoppable {
public:
    using Limits = HttpLimits;

    explicit CurlHttp(const Limits &limits = Limits());
    CurlHttp(const CurlHttp &) = delete;
    CurlHttp &operator=(const CurlHttp &) = delete;
    ~CurlHttp() override;
    std::optional<std::string> get(const std::string &url) override;
    void fetch(const std::string &url, Answer done) override;

    void requestStop() override;
    bool waitStopped(Deadline deadline) override;

private:
    struct Job {
        std::string url;
        Answer done;
    };
    void run();

    Limits m_limits;
    Mailbox m_mailbox;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<Job> m_jobs; // guarded by m_mutex
    // The transfers under way, to be woken when stopping; guarded by m_mutex.
    std::vector<void *> m_transfers;
    // Set under m_mutex (so a waiting worker cannot miss it); read by a
    // transfer between its polls without the lock.
    std::atomic<bool> m_stopping{false};
    WorkerThread m_worker;
};

} // namespace auralist
