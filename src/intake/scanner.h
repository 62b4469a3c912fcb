#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/line_output.h"
#include "core/mailbox.h"
#include "core/records.h"
#include "core/services.h"
#include "core/worker_thread.h"

namespace auralist {

// Calls visit with the full path of everything below folder, and whether it
// is a folder, at every
// depth, files and folders alike, hidden entries included, each folder's
// entries in a file manager's order (compareForListing), a folder's
// contents right after it. Symbolic links are listed but never followed,
// so a link loop ends; folders that cannot be read, or that vanish
// meanwhile, add nothing below themselves. Folders are listed ahead on a
// second thread; while the walk waits for a slow one, idle is called every
// 100 ms. Returns false when stop was set before the walk ended.
bool walkSubpaths(FileSystem &fs, const std::string &folder,
                  const std::function<void(std::string_view, bool folder)> &visit,
                  const std::atomic<bool> *stop = nullptr, const std::function<void()> &idle = {});

// One intake's scan: for each path in order, a folder is walked and every
// path below it printed, then a "format: " line for each of those entries
// that has a type string; any other path gets its "format: " line. Each
// entry whose type string is in supportedTypes becomes a record. Records
// are handed to batch in order, batchSize at a time (the last batch may be
// smaller or empty). Lines go to out in whole lines, buffered; out is
// flushed at the end. Returns false when stop was set before the end.
struct ScanRequest {
    std::vector<std::string> paths;
    std::vector<std::string> supportedTypes;
};
bool scanPaths(FileSystem &fs, const ScanRequest &request, LineOutput &out,
               const std::function<void(RecordStore &&)> &batch, const std::atomic<bool> *stop = nullptr,
               std::size_t batchSize = 16384);

// The intake scanner used by the window.
//
// Threads: one worker thread, started with the first scan. The worker owns
// the scan in progress (its walk, its batch, its share of standard output);
// the main thread owns everything else. Scans run one after another, so
// their lines never mix. The worker never touches the listener: batches and
// the end travel to the main thread as queued calls, tagged with the scan's
// number. The worker may block on a slow disk; the main thread never waits
// for it, except in the destructor: the application object stops it first,
// with a limit (requestStop, waitStopped).
class ThreadedScanner : public IntakeScanner, public Stoppable {
public:
    ThreadedScanner(std::shared_ptr<FileSystem> fs, LineOutput &out);
    // Writing to out where the worker runs (tests).
    ThreadedScanner(std::shared_ptr<FileSystem> fs, std::FILE *out);
    ~ThreadedScanner() override;
    ThreadedScanner(const ThreadedScanner &) = delete;
    ThreadedScanner &operator=(const ThreadedScanner &) = delete;

    void start(std::uint64_t scan, const std::vector<std::string> &paths, const std::vector<std::string> &types,
               Listener &listener) override;
    void cancel() override;

    void requestStop() override;
    bool waitStopped(Deadline deadline) override;

private:
    ThreadedScanner(std::shared_ptr<FileSystem> fs, std::unique_ptr<LineOutput> owned);

    struct Shared;
    std::shared_ptr<Shared> m_shared;
    std::unique_ptr<LineOutput> m_ownedOutput;
    Mailbox m_mailbox; // results are delivered on the main thread
    WorkerThread m_worker;
};

// Runs the scan where it is asked for, before start returns: for tests and
// for tools without an event loop.
class InlineScanner : public IntakeScanner {
public:
    InlineScanner(FileSystem &fs, LineOutput &out) : m_fs(fs), m_out(&out) { }
    InlineScanner(FileSystem &fs, std::FILE *out)
        : m_fs(fs), m_owned(std::make_unique<FileLineOutput>(out)), m_out(m_owned.get())
    {
    }
    void start(std::uint64_t scan, const std::vector<std::string> &paths, const std::vector<std::string> &types,
               Listener &listener) override;
    void cancel() override { }

private:
    FileSystem &m_fs;
    std::unique_ptr<LineOutput> m_owned;
    LineOutput *m_out;
};

} // namespace auralist
