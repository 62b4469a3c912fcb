#pragma once

#include <functional>
#include <set>
#include <string>
#include <vector>

#include "core/controller.h"
#include "core/diagnostics.h"
#include "core/file_jobs.h"
#include "core/table_controller.h"
#include "fakes/fakes.h"
#include "intake/scanner.h"
#include "platform/posix_file_system.h"
#include "test_support.h"

namespace auralist::testing {

using namespace auralist::fakes;

// The real file system, except that a removal can be made to fail as a
// read-only file system would, folders can be made unreadable, and a hook
// can change the tree while a folder is being listed, whoever runs the tests.
class TestFileSystem : public PosixFileSystem {
public:
    bool listDirectory(const std::string &path, const EntryCallback &callback) override
    {
        if (unreadable.count(path))
            return false;
        if (whileListing)
            whileListing(path);
        return PosixFileSystem::listDirectory(path, callback);
    }
    std::set<std::string> unreadable;
    std::function<void(const std::string &)> whileListing;

    RemovalResult removeFile(const std::string &path, const FileIdentity &expected, bool toTrash) override
    {
        if (failRemovals)
            return {RemovalResult::Status::Failed, "Read-only file system", {}, {}};
        return PosixFileSystem::removeFile(path, expected, toTrash);
    }
    bool failRemovals = false;
};

// A file worker that carries out each job at once, on the caller's thread:
// removals with the file system given; what else it is asked is refused.
class InlineFiles : public FileOperations {
public:
    explicit InlineFiles(FileSystem &fs) : m_fs(fs) { }
    std::uint64_t run(std::vector<FileStep> steps, Finished finished, Progress) override
    {
        m_held.emplace_back(std::move(steps), std::move(finished));
        if (!hold)
            release();
        return ++m_jobs;
    }
    void cancel(std::uint64_t) override { }
    // Held, a job waits until release() carries it out.
    bool hold = false;
    std::size_t held() const { return m_held.size(); }
    void release()
    {
        while (!m_held.empty()) {
            auto [steps, finished] = std::move(m_held.front());
            m_held.erase(m_held.begin());
            std::vector<FileResult> results;
            for (const FileStep &step : steps) {
                if (step.kind == FileStep::Kind::Remove)
                    results.push_back(removeAsStep(m_fs, step));
                else
                    results.push_back(FileResult{FileResult::Status::Failed, {}, {}, "Not done here.", {}, {}});
            }
            finished(std::move(results));
        }
    }

private:
    FileSystem &m_fs;
    std::uint64_t m_jobs = 0;
    std::vector<std::pair<std::vector<FileStep>, Finished>> m_held;
};

// The controller and table controller wired as at start-up, over fake
// services and the real file system.
struct Rig {
    // scanner: where intakes are scanned (null: before the drop returns).
    explicit Rig(IntakeScanner *scanner = nullptr)
        : diagnostics(out.file()),
          inlineScanner(fs, diagnostics.output()),
          tableController(diagnostics),
          controller(Controller::Services{engine, fs, desktop, alerts, settings, diagnostics,
                                          scanner ? *scanner : inlineScanner, nullptr, &files},
                     tableController, view)
    {
        tableController.setTableView(&table);
        tableController.setDelegate(&controller);
        table.onChange = [this] { tableController.tableViewSelectionDidChange(&table); };
        controller.awakeFromNib();
    }
    std::vector<std::string> names() const
    {
        std::vector<std::string> n;
        for (const auto &r : *tableController.items())
            n.emplace_back(r.name());
        return n;
    }
    void select(int row) { table.selectRow(row); }

    CapturedOutput out;
    Diagnostics diagnostics;
    FakeEngine engine;
    TestFileSystem fs;
    InlineFiles files{fs};
    FakeDesktop desktop;
    FakeAlerts alerts;
    FakeSettings settings;
    InlineScanner inlineScanner;
    FakeView view;
    FakeTableView table;
    TableController tableController;
    Controller controller;
};

inline std::vector<std::string> dropNames(Rig &rig, TempDir &tmp, const std::vector<std::string> &names)
{
    std::vector<std::string> paths;
    for (const auto &n : names)
        paths.push_back(tmp.file(n));
    rig.controller.droppedFilesInWell(paths);
    return paths;
}

} // namespace auralist::testing
