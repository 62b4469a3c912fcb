#include "core/file_jobs.h"

#include <algorithm>

#include "core/browser_view.h"
#include "core/diagnostics.h"
#include "core/string_utils.h"

namespace auralist {

namespace {

// A job shows its progress once it has taken this long.
constexpr qint64 kProgressAfterMs = 1000;

QString soundsCounted(std::size_t n)
{
    return QString::fromStdString(groupedDigits(n)) + (n == 1 ? QStringLiteral(" sound") : QStringLiteral(" sounds"));
}

} // namespace

FileJobs::FileJobs(FileOperations *files, BrowserView &view, Alerts &alerts)
    : m_files(files), m_view(view), m_alerts(alerts)
{
}

void FileJobs::run(const QString &doing, std::vector<FileStep> steps,
                   std::function<void(std::vector<FileResult>)> finished)
{
    if (!m_files || steps.empty())
        return;
    const std::size_t count = steps.size();
    ++m_jobs;
    m_started.start();
    QElapsedTimer took;
    took.start();
    const std::uint64_t job = m_files->run(
        std::move(steps),
        [this, doing, count, took, finished = std::move(finished)](std::vector<FileResult> results) {
            debugLog("files: " + doing.toStdString() + ' ' + std::to_string(count) + " in "
                     + std::to_string(took.elapsed()) + " ms");
            if (--m_jobs == 0) {
                m_job = 0;
                m_view.hideFileProgress();
            }
            finished(std::move(results));
        },
        [this, doing, count](std::size_t steps, std::uint64_t bytes, std::uint64_t total) {
            if (m_started.elapsed() < kProgressAfterMs)
                return;
            QString text = doing + QLatin1Char(' ') + QString::fromStdString(groupedDigits(std::min(count, steps + 1)))
                + QStringLiteral(" of ") + soundsCounted(count);
            if (total > 0)
                text += QStringLiteral(" (%1%)").arg(
                    static_cast<int>(100.0 * static_cast<double>(bytes) / static_cast<double>(total)));
            m_view.showFileProgress(text + QStringLiteral("\u2026"));
        });
    // A worker that answered at once has nothing under way.
    if (m_jobs > 0)
        m_job = job;
}

void FileJobs::runUnseen(std::vector<FileStep> steps)
{
    if (m_files && !steps.empty())
        m_files->run(std::move(steps), [](const std::vector<FileResult> &) {}, {});
}

void FileJobs::cancel()
{
    if (m_files && m_job != 0)
        m_files->cancel(m_job);
}

void FileJobs::tellProblems(const QString &title, const std::vector<std::string> &problems)
{
    if (problems.empty())
        return;
    constexpr std::size_t kShown = 12;
    std::string text;
    for (std::size_t i = 0; i < problems.size() && i < kShown; ++i)
        text += (text.empty() ? "" : "\n") + problems[i];
    if (problems.size() > kShown)
        text += "\n\u2026and " + std::to_string(problems.size() - kShown) + " more";
    m_alerts.runAlert(title.toStdString(), text, "OK", "");
}

FileResult removeAsStep(FileSystem &fs, const FileStep &step)
{
    FileResult r;
    if (!step.identity) {
        // Nothing was there when the user was asked.
        r.status = FileResult::Status::Done;
        r.removal = RemovalResult::Status::Gone;
        return r;
    }
    RemovalResult removal = fs.removeFile(step.path, *step.identity, step.toTrash);
    r.removal = removal.status;
    r.error = std::move(removal.error);
    const bool gone = removal.status == RemovalResult::Status::Removed || removal.status == RemovalResult::Status::Gone;
    r.status = gone ? FileResult::Status::Done : FileResult::Status::Failed;
    // What is in the Trash can come back, once it is known what it is.
    if (!removal.trashedAs.empty()) {
        if (const auto stamp = fs.stamp(removal.trashedAs)) {
            r.made = std::move(removal.trashedAs);
            r.stamp = *stamp;
            r.trashInfo = std::move(removal.trashInfo);
        }
    }
    return r;
}

} // namespace auralist
