#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "audio/decoder.h"
#include "core/worker_thread.h"
#include "waveform/peak_summary.h"

namespace auralist::waveform {

// Builds peak summaries on a thread of its own, one at a time, the newest
// request first: asking for another sound cancels the one being built.
//
// Threads: request() from any thread (the GUI's) through a briefly locked
// slot; the worker owns the decoder and the summary being built and hands
// out immutable copies. Results go to the sink on the worker's thread,
// with the request's generation, so late answers can be told apart. The
// cancel flag is set and cleared only under the slot's lock, so a request
// the worker has taken can never be cancelled by its own arrival.
class SummaryWorker : public Stoppable {
public:
    using Opener = std::function<std::unique_ptr<audio::Decoder>(const std::string &path, std::string &error)>;
    // (generation, path, summary so far or whole, complete)
    using Sink = std::function<void(std::uint64_t, const std::string &, std::shared_ptr<const PeakSummary>)>;

    SummaryWorker(Opener opener, Sink sink);
    ~SummaryWorker() override;
    SummaryWorker(const SummaryWorker &) = delete;
    SummaryWorker &operator=(const SummaryWorker &) = delete;

    void request(std::uint64_t generation, const std::string &path);

    void requestStop() override;
    bool waitStopped(Deadline deadline) override;

    // Tests: called in request() once the slot's lock is let go.
    std::function<void()> afterRequestQueued;

private:
    struct Request {
        std::uint64_t generation;
        std::string path;
    };
    void run();

    Opener m_opener;
    Sink m_sink;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::optional<Request> m_next; // guarded by m_mutex
    bool m_quit = false; // guarded by m_mutex
    std::atomic<bool> m_cancel{false}; // written under m_mutex
    WorkerThread m_thread;
};

} // namespace auralist::waveform
