#pragma once

#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>

#include "core/mailbox.h"
#include "core/services.h"
#include "core/worker_thread.h"
#include "files/file_ops.h"

namespace auralist::files {

// The thread that carries out the user's file operations, one job after
// another.
//
// Threads: made, called and destroyed on the window's thread, which gets
// progress and results through a mailbox. The worker thread owns the job
// under way; the queue is guarded by m_mutex, and the number of the job
// to cancel is an atomic the worker reads between blocks. A job never
// waits on the window.
class FileWorker : public FileOperations, public Stoppable {
public:
    // hashOf: how a CheckSound step hashes a file's decoded audio; fs:
    // what carries out a Remove step (null: none is).
    explicit FileWorker(AudioHash hashOf = {}, FileSystem *fs = nullptr);
    ~FileWorker() override;
    FileWorker(const FileWorker &) = delete;
    FileWorker &operator=(const FileWorker &) = delete;

    std::uint64_t run(std::vector<FileStep> steps, Finished finished, Progress progress) override;
    void cancel(std::uint64_t job) override;

    void requestStop() override;
    bool waitStopped(Deadline deadline) override;

private:
    struct Job {
        std::uint64_t id = 0;
        std::vector<FileStep> steps;
        Finished finished;
        Progress progress;
    };
    void loop();
    void stop();
    std::vector<FileResult> carryOut(const Job &job);

    AudioHash m_hashOf;
    FileSystem *m_fs;
    Mailbox m_mailbox;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<Job> m_jobs; // guarded by m_mutex
    bool m_quit = false; // guarded by m_mutex
    std::uint64_t m_lastJob = 0; // the window's thread
    std::atomic<std::uint64_t> m_cancelled{0};
    std::atomic<bool> m_stopping{false};
    WorkerThread m_thread;
};

} // namespace auralist::files
