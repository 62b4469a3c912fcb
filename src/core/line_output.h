#pragma once

#include <condition_variable>
#include <cstdio>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>

#include "core/worker_thread.h"

namespace auralist {

// Where the event lines go (standard output: tests and scripts read them
// byte for byte). Text is handed in as whole lines and comes out in the
// order it was handed in, whichever thread it came from.
class LineOutput {
public:
    LineOutput() = default;
    virtual ~LineOutput() = default;
    LineOutput(const LineOutput &) = delete;
    LineOutput &operator=(const LineOutput &) = delete;

    // One or more whole lines.
    virtual void write(std::string_view lines) = 0;
    // The lines make() returns, in their place among the others; made
    // where the writing is done, so a caller with many lines to write
    // does not spend its own time on them.
    virtual void writeMade(std::function<std::string()> make)
    {
        const std::function<std::string()> here = std::move(make);
        write(here());
    }
    // What was written reaches the stream (or is on its way there).
    virtual void flush() = 0;
};

// Writes to a stream where it is called: for tests and tools.
class FileLineOutput : public LineOutput {
public:
    explicit FileLineOutput(std::FILE *out) : m_out(out) { }
    void write(std::string_view lines) override;
    void flush() override;

private:
    std::FILE *m_out;
};

// Writes to a stream on a thread of its own, so that no caller ever waits
// for the reader of a pipe: a write only appends to a queue. flush() asks
// the writer to flush the stream once it has written what came before.
//
// Threads: any thread writes; the writer thread alone touches the stream.
// Stopping writes what is queued, then ends; a writer stuck on a pipe
// nobody reads is left to the application object (see Stoppable).
class QueuedLineOutput : public LineOutput, public Stoppable {
public:
    explicit QueuedLineOutput(std::FILE *out);
    ~QueuedLineOutput() override;

    void write(std::string_view lines) override;
    void writeMade(std::function<std::string()> make) override;
    void flush() override;

    void requestStop() override;
    bool waitStopped(Deadline deadline) override;

    // Waits until all that was written so far is in the stream (tests).
    void drain();

private:
    void run();

    std::FILE *m_out;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    // What is still to be written, in order: text, or lines to be made.
    struct Pending {
        std::string text;
        std::function<std::string()> make;
        std::uint64_t upTo = 0; // the count of writes this entry completes
    };
    std::deque<Pending> m_queue; // guarded by m_mutex
    bool m_flushAsked = false; // guarded by m_mutex
    bool m_quit = false; // guarded by m_mutex
    std::uint64_t m_queued = 0; // guarded by m_mutex: writes handed in
    std::uint64_t m_written = 0; // guarded by m_mutex: writes in the stream
    WorkerThread m_thread;
};

} // namespace auralist
