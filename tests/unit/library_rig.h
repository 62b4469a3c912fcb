#pragma once

// What the catalogue library's tests share: a listener that writes down
// what it hears, quiet output, a folder of files made on the spot.

#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "catalogue/library.h"
#include "intake/scanner.h"
#include "platform/posix_file_system.h"
#include "test_support.h"

namespace auralist::testing {

// Everything the library told the window, in the window's thread.
struct Heard : Catalogue::Listener {
    std::vector<CataloguedFolder> folders;
    int folderReports = 0;
    std::optional<std::pair<std::uint64_t, RecordStorePtr>> list;
    std::vector<Marks> marks;
    RecordStorePtr marked;
    std::optional<Changes> changes;
    std::optional<std::pair<std::uint64_t, std::uint64_t>> asked;
    std::vector<Catalogue::Problem> problems;

    void catalogueFoldersChanged(std::vector<CataloguedFolder> f) override
    {
        folders = std::move(f);
        ++folderReports;
    }
    void catalogueListArrived(std::uint64_t request, RecordStorePtr store) override { list = {request, store}; }
    void catalogueMarksArrived(const RecordStorePtr &store, std::vector<Marks> m) override
    {
        marked = store;
        marks = std::move(m);
    }
    void catalogueCheckFound(std::uint64_t, Changes c) override { changes = std::move(c); }
    void catalogueAsksToForget(const std::string &, std::uint64_t gone, std::uint64_t known) override
    {
        asked = {gone, known};
    }
    void catalogueProblem(Catalogue::Problem problem, const std::string &) override { problems.push_back(problem); }
    std::optional<std::vector<AnalysisResult>> analyses;
    std::optional<std::vector<Likeness>> similar;
    std::optional<std::pair<std::int64_t, std::vector<std::string>>> unanalysed;
    void catalogueUnanalysedArrived(std::uint64_t, std::int64_t last, const std::vector<std::string> &paths) override
    {
        unanalysed = {last, paths};
    }
    RecordStorePtr similarStore;
    void catalogueSimilarFound(std::uint64_t, const RecordStorePtr &store, const std::vector<Likeness> &found) override
    {
        similar = found;
        similarStore = store;
    }
    void catalogueAnalysesArrived(std::uint64_t, const RecordStorePtr &,
                                  const std::vector<AnalysisResult> &results) override
    {
        analyses = results;
    }
};

inline void writeFile(const std::string &path, const std::string &content)
{
    std::ofstream(path, std::ios::binary) << content;
}

struct DiscardedOutput : LineOutput {
    void write(std::string_view) override { }
    void flush() override { }
};

const std::vector<std::string> kTypes{"wav", "WAV", "aif"};

// A store of the files at paths, as a walk makes it.
inline RecordStorePtr storeOf(const std::vector<std::string> &paths)
{
    auto store = std::make_shared<RecordStore>();
    for (const auto &p : paths)
        store->add(p);
    return store;
}

// Waits for everything posted so far to be written and told.
inline void settle(catalogue::Library &library)
{
    // Set on the writer's thread.
    std::atomic<bool> done{false};
    library.whenWritten([&done] { done = true; });
    ASSERT_TRUE(spinUntil([&] { return done.load(); }));
    // What the writer told the window arrives after.
    for (int i = 0; i < 5; ++i)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}

inline std::vector<std::string> pathsIn(const RecordStore &store)
{
    std::vector<std::string> out;
    for (std::uint32_t i = 0; i < store.size(); ++i)
        out.emplace_back(store.path(i));
    return out;
}

struct Folder {
    TempDir dir;
    std::string root = dir.path() + "/Drums";
    Folder()
    {
        std::filesystem::create_directory(root);
        writeFile(root + "/kick.wav", std::string(3000, 'k'));
        writeFile(root + "/snare.wav", std::string(2000, 's'));
        writeFile(root + "/hat.wav", std::string(1000, 'h'));
        writeFile(root + "/tom.wav", std::string(500, 't'));
    }
    std::string at(const char *name) const { return root + "/" + name; }
    std::vector<std::string> all() const { return {at("kick.wav"), at("snare.wav"), at("hat.wav"), at("tom.wav")}; }
};

inline std::time_t g_clock = 1000;

} // namespace auralist::testing
