#pragma once

#include <QElapsedTimer>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "core/services.h"

namespace auralist {

class BrowserView;

// The jobs handed to the file worker (copies, moves, renames, deletions,
// checks, written lists and regions): their progress in the window once one
// takes a while, Stop, and the problems they met, told once a job is done.
//
// Threads: the window's; the worker's answers arrive there.
class FileJobs {
public:
    // files: null when there is no worker (nothing is then carried out).
    FileJobs(FileOperations *files, BrowserView &view, Alerts &alerts);
    FileJobs(const FileJobs &) = delete;
    FileJobs &operator=(const FileJobs &) = delete;

    bool available() const { return m_files != nullptr; }
    // Runs steps, showing "doing 3 of 40 sounds (12%)…" once it takes a
    // while; finished gets one result a step.
    void run(const QString &doing, std::vector<FileStep> steps, std::function<void(std::vector<FileResult>)> finished);
    // Runs steps without a word to the user, whatever becomes of them.
    void runUnseen(std::vector<FileStep> steps);
    bool running() const { return m_job != 0; }
    // Stop: the job under way ends after the step it is taking.
    void cancel();
    // An alert titled title listing the problems (the first dozen), if any.
    void tellProblems(const QString &title, const std::vector<std::string> &problems);

private:
    FileOperations *m_files;
    BrowserView &m_view;
    Alerts &m_alerts;
    std::uint64_t m_job = 0; // the job under way (0: none)
    std::size_t m_jobs = 0; // jobs asked for and not finished
    QElapsedTimer m_started;
};

// Carries out a Remove step with fs, on whatever thread runs it.
FileResult removeAsStep(FileSystem &fs, const FileStep &step);

} // namespace auralist
