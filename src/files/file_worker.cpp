#include "files/file_worker.h"

#include <chrono>

#include "core/file_jobs.h"
#include "files/file_ops.h"
#include "files/region_export.h"

namespace auralist::files {

FileWorker::FileWorker(AudioHash hashOf, FileSystem *fs) : m_hashOf(std::move(hashOf)), m_fs(fs)
{
    m_thread.start([this] { loop(); });
}

FileWorker::~FileWorker()
{
    stop();
    m_thread.join();
}

std::uint64_t FileWorker::run(std::vector<FileStep> steps, Finished finished, Progress progress)
{
    const std::uint64_t id = ++m_lastJob;
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_jobs.push_back(Job{id, std::move(steps), std::move(finished), std::move(progress)});
    }
    m_wake.notify_one();
    return id;
}

void FileWorker::cancel(std::uint64_t job)
{
    m_cancelled.store(job, std::memory_order_relaxed);
}

void FileWorker::requestStop()
{
    stop();
}

void FileWorker::stop()
{
    m_stopping.store(true, std::memory_order_relaxed);
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_quit = true;
    }
    m_wake.notify_all();
}

bool FileWorker::waitStopped(Deadline deadline)
{
    return m_thread.joinUntil(deadline);
}

void FileWorker::loop()
{
    for (;;) {
        Job job;
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_wake.wait(lock, [this] { return m_quit || !m_jobs.empty(); });
            if (m_quit)
                return; // a step under way is never left half done; the rest are not begun
            job = std::move(m_jobs.front());
            m_jobs.pop_front();
        }
        std::vector<FileResult> results = carryOut(job);
        m_mailbox.post([finished = std::move(job.finished), results = std::move(results)]() mutable {
            if (finished)
                finished(std::move(results));
        });
    }
}

std::vector<FileResult> FileWorker::carryOut(const Job &job)
{
    std::uint64_t total = 0;
    for (const FileStep &step : job.steps)
        total += bytesToCopy(step);
    std::uint64_t bytes = 0;
    std::size_t stepsDone = 0;
    auto told = std::chrono::steady_clock::now();
    const auto tell = [&](bool now) {
        const auto at = std::chrono::steady_clock::now();
        if (!job.progress || (!now && at - told < std::chrono::milliseconds(100)))
            return;
        told = at;
        m_mailbox.post([progress = job.progress, stepsDone, bytes, total] { progress(stepsDone, bytes, total); });
    };
    Hooks hooks;
    hooks.cancelled = [this, id = job.id] {
        return m_cancelled.load(std::memory_order_relaxed) == id || m_stopping.load(std::memory_order_relaxed);
    };
    hooks.copied = [&](std::uint64_t n) {
        bytes += n;
        tell(false);
    };
    std::vector<FileResult> results;
    results.reserve(job.steps.size());
    for (const FileStep &step : job.steps) {
        if (hooks.cancelled()) {
            FileResult r;
            r.status = FileResult::Status::Cancelled;
            results.push_back(r);
            continue;
        }
        switch (step.kind) {
        case FileStep::Kind::CopyInto: results.push_back(copyInto(step.path, step.target, hooks)); break;
        case FileStep::Kind::MoveInto: results.push_back(moveInto(step.path, step.target, hooks)); break;
        case FileStep::Kind::Rename: results.push_back(renameTo(step.path, step.target)); break;
        case FileStep::Kind::RemoveCopy:
            results.push_back(step.expected ? removeCopy(step.path, *step.expected) : FileResult{});
            break;
        case FileStep::Kind::MoveBack:
            results.push_back(step.expected ? moveBack(step.path, *step.expected, step.target, step.trashInfo, hooks)
                                            : FileResult{});
            break;
        case FileStep::Kind::WriteText: results.push_back(writeText(step.path, step.target)); break;
        case FileStep::Kind::CheckSound: results.push_back(checkSound(step.path, step.audio, m_hashOf, hooks)); break;
        case FileStep::Kind::Remove: results.push_back(m_fs ? removeAsStep(*m_fs, step) : FileResult{}); break;
        case FileStep::Kind::ExportRegion:
            results.push_back(exportRegion(step.path, step.first, step.last, step.target, hooks));
            break;
        }
        ++stepsDone;
        tell(false);
    }
    tell(true);
    return results;
}

} // namespace auralist::files
