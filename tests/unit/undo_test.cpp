#include <gtest/gtest.h>

#include <deque>
#include <map>

#include "core/undo.h"
#include "platform/posix_file_system.h"
#include "test_support.h"

using namespace auralist;

namespace {

// The world of the changes, written down: file steps answered from a
// script, at once.
struct FakeContext : ChangeContext {
    PosixFileSystem fs;
    std::vector<std::vector<FileStep>> jobs;
    std::deque<std::vector<FileResult>> answers;
    std::map<std::uint32_t, std::string> at; // record index -> path
    std::vector<std::pair<std::string, std::string>> moved;
    std::vector<MarksOf> marks;
    std::vector<std::string> problems;

    void runFileSteps(const QString &, std::vector<FileStep> steps,
                      std::function<void(std::vector<FileResult>)> finished) override
    {
        jobs.push_back(steps);
        std::vector<FileResult> results = answers.empty() ? std::vector<FileResult>() : answers.front();
        if (!answers.empty())
            answers.pop_front();
        finished(std::move(results));
    }
    FileSystem &files() override { return fs; }
    void fileChanged(const std::string &) override { }
    void recordNowAt(const SoundRecord &record, const std::string &path) override { at[record.index()] = path; }
    void soundsMoved(std::vector<std::pair<std::string, std::string>> moves) override
    {
        moved.insert(moved.end(), moves.begin(), moves.end());
    }
    bool isShown(const SoundRecord &) const override { return true; }
    void putBack(const SoundRecord &, std::ptrdiff_t, std::ptrdiff_t) override { }
    void fileGone(const SoundRecord &record) override { gone.push_back(record.index()); }
    std::vector<std::uint32_t> gone;
    void setMarks(const std::vector<MarksOf> &m) override { marks = m; }
    void listChanged() override { }
    void tellProblems(const QString &, const std::vector<std::string> &p) override
    {
        problems.insert(problems.end(), p.begin(), p.end());
    }
};

FileResult done(std::string made = {})
{
    FileResult r;
    r.status = FileResult::Status::Done;
    r.made = std::move(made);
    return r;
}

FileResult refused(std::string why)
{
    FileResult r;
    r.status = FileResult::Status::Refused;
    r.error = std::move(why);
    return r;
}

} // namespace

// The Edit menu names the latest change; a new change takes away what could
// be redone; the oldest go past a hundred; an undo that leaves a file where
// it is can redo only the others.
TEST(UndoStack, UndoesAndRedoesWhatCanBeTakenBack)
{
    auto store = std::make_shared<RecordStore>();
    store->add("/a/one.wav");
    store->add("/a/two.wav");
    const SoundRecord one(store, 0);
    const SoundRecord two(store, 1);
    int titles = 0;
    UndoStack stack([&titles] { ++titles; });
    FakeContext context;
    EXPECT_EQ(stack.undoTitle(), QString());
    stack.push(std::make_unique<FileChange>(FileChange::Kind::Copy, "/b", std::vector<ChangedFile>{}));
    EXPECT_EQ(stack.undoTitle(), QString()); // nothing done, nothing to undo
    stack.push(std::make_unique<MarksChange>(std::vector<MarksChange::Marked>{{one, false, true, "", "dry"}}));
    stack.push(
        std::make_unique<FileChange>(FileChange::Kind::Move, "/b",
                                     std::vector<ChangedFile>{ChangedFile::of(one, "/a/one.wav", "/b/one.wav", {}),
                                                              ChangedFile::of(two, "/a/two.wav", "/b/two.wav", {})}));
    EXPECT_EQ(stack.undoTitle(), QString("Undo Move"));

    // One file comes back; the other was changed since and stays.
    context.answers.push_back({done(), refused("\u201ctwo.wav\u201d has been changed since")});
    stack.undo(context);
    ASSERT_EQ(context.jobs.size(), 1U);
    EXPECT_EQ(context.jobs[0][0].kind, FileStep::Kind::MoveBack);
    EXPECT_EQ(context.jobs[0][0].path, "/b/one.wav");
    EXPECT_EQ(context.jobs[0][0].target, "/a/one.wav");
    EXPECT_EQ(context.at[0], "/a/one.wav");
    EXPECT_EQ(context.moved, (std::vector<std::pair<std::string, std::string>>{{"/b/one.wav", "/a/one.wav"}}));
    EXPECT_EQ(context.problems.size(), 1U);
    EXPECT_EQ(stack.undoTitle(), QString("Undo Favourite and Tags"));
    EXPECT_EQ(stack.redoTitle(), QString("Redo Move"));

    // The redo moves only the one that came back.
    context.answers.push_back({done("/b/one.wav")});
    stack.redo(context);
    ASSERT_EQ(context.jobs.size(), 2U);
    ASSERT_EQ(context.jobs[1].size(), 1U);
    EXPECT_EQ(context.jobs[1][0].kind, FileStep::Kind::MoveInto);
    EXPECT_EQ(context.jobs[1][0].target, "/b");
    EXPECT_EQ(context.at[0], "/b/one.wav");
    EXPECT_EQ(stack.undoTitle(), QString("Undo Move"));

    // Marks go back as they were, then forward again.
    context.answers.push_back({done()});
    stack.undo(context);
    stack.undo(context);
    ASSERT_EQ(context.marks.size(), 1U);
    EXPECT_FALSE(context.marks[0].favourite);
    EXPECT_EQ(context.marks[0].tags, "");
    stack.redo(context);
    EXPECT_TRUE(context.marks[0].favourite);
    EXPECT_EQ(context.marks[0].tags, "dry");
    EXPECT_EQ(stack.redoTitle(), QString("Redo Move"));
    // A new change: nothing to redo.
    stack.push(std::make_unique<FileChange>(
        FileChange::Kind::Rename, "", std::vector<ChangedFile>{ChangedFile::of(two, "/a/two.wav", "/a/2.wav", {})}));
    EXPECT_EQ(stack.redoTitle(), QString());
    EXPECT_EQ(stack.undoTitle(), QString("Undo Rename"));
    // Only the last hundred are kept.
    for (std::size_t i = 0; i < UndoStack::kKept + 5; ++i)
        stack.push(std::make_unique<MarksChange>(std::vector<MarksChange::Marked>{{one, false, true, "", ""}}));
    int undone = 0;
    while (!stack.undoTitle().isEmpty()) {
        stack.undo(context);
        ++undone;
    }
    EXPECT_EQ(undone, static_cast<int>(UndoStack::kKept));
    EXPECT_GT(titles, 0);
}

// Redoing a deletion to the Trash goes through the file worker: only a file
// that is still the one that came out is asked for, its row goes once the
// worker says it is in the Trash, and one the worker could not move is
// said and left out of what can be undone.
TEST(UndoStack, ARedoneDeletionGoesThroughTheFileWorker)
{
    auralist::testing::TempDir tmp;
    const std::string back = tmp.file("back.wav");
    const std::string stuck = tmp.file("stuck.wav");
    const std::string swapped = tmp.file("swapped.wav");
    PosixFileSystem fs;
    auto store = std::make_shared<RecordStore>();
    std::vector<ChangedFile> files;
    for (const std::string &path : {back, stuck, swapped}) {
        const SoundRecord record(store, store->add(path));
        files.push_back(ChangedFile::of(record, "/Trash/files/x", path, *fs.stamp(path)));
        files.back().from = path;
        files.back().to = "/Trash/files/" + std::string(record.name());
    }
    // Another file in its place (made while the first is still there, so
    // it cannot be given the same inode).
    std::filesystem::rename(tmp.file("other.wav", "another file"), swapped);

    FakeContext context;
    FileResult inTrash = done("/Trash/files/back.wav");
    inTrash.removal = RemovalResult::Status::Removed;
    FileResult failed;
    failed.status = FileResult::Status::Failed;
    failed.error = "Read-only file system";
    context.answers.push_back({inTrash, failed});
    TrashChange change(std::move(files));
    bool finished = false;
    change.redo(context, [&finished] { finished = true; });
    EXPECT_TRUE(finished);
    ASSERT_EQ(context.jobs.size(), 1U);
    ASSERT_EQ(context.jobs[0].size(), 2U);
    EXPECT_EQ(context.jobs[0][0].kind, FileStep::Kind::Remove);
    EXPECT_TRUE(context.jobs[0][0].toTrash);
    EXPECT_TRUE(context.jobs[0][0].identity.has_value());
    EXPECT_EQ(context.jobs[0][1].path, stuck);
    EXPECT_EQ(context.gone, std::vector<std::uint32_t>{0});
    ASSERT_EQ(context.problems.size(), 2U);
    EXPECT_NE(context.problems[0].find("swapped.wav\u201d has changed since"), std::string::npos);
    EXPECT_NE(context.problems[1].find("Read-only file system"), std::string::npos);
    EXPECT_FALSE(change.empty());
}
