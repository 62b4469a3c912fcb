#include <gtest/gtest.h>

#include <QCoreApplication>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

#include "browser_rig.h"
#include "core/url_escape.h"

using namespace auralist;
using auralist::testing::listing;
using namespace auralist::fakes;
using auralist::testing::CapturedOutput;
using auralist::testing::dropNames;
using auralist::testing::Rig;
using auralist::testing::TempDir;
namespace fs = std::filesystem;

namespace {

std::map<std::string, std::string> without(std::map<std::string, std::string> map, const std::string &key)
{
    EXPECT_EQ(map.erase(key), 1U) << key;
    return map;
}

int rowOf(const Rig &rig, const std::string &name)
{
    const auto names = rig.names();
    const auto it = std::find(names.begin(), names.end(), name);
    return it == names.end() ? -1 : static_cast<int>(it - names.begin());
}

// Selects the record called name, asks, lets change() run while the
// question is open, then approves.
void deleteWith(Rig &rig, const std::string &name, const std::function<void()> &change = {})
{
    const int row = rowOf(rig, name);
    ASSERT_GE(row, 0) << name;
    rig.select(row);
    rig.controller.deleteSelected();
    ASSERT_TRUE(rig.controller.isDeletePanelOpen());
    if (change)
        change();
    rig.controller.approveDelete();
}

class ScopedEnv {
public:
    ScopedEnv(const char *name, const std::string &value) : m_name(name)
    {
        if (const char *old = std::getenv(name))
            m_old = old;
        ::setenv(name, value.c_str(), 1);
    }
    ~ScopedEnv()
    {
        if (m_old)
            ::setenv(m_name, m_old->c_str(), 1);
        else
            ::unsetenv(m_name);
    }
    ScopedEnv(const ScopedEnv &) = delete;
    ScopedEnv &operator=(const ScopedEnv &) = delete;

private:
    const char *m_name;
    std::optional<std::string> m_old;
};

} // namespace

TEST(DeleteOnDisk, TakesOnlyWhatTheQuestionNamed)
{
    TempDir tmp;
    const std::string root = tmp.dir("tree");
    tmp.file("tree/Loops.wav/inner.wav", "inner");
    tmp.file("tree/keep.txt", "keep");
    tmp.file("tree/other.wav", "other");
    tmp.file("tree/swap-link.wav", "swapped for a link");
    tmp.file("tree/swap-file.wav", "swapped for a file");
    tmp.file("tree/sub/deep.wav", "deep");
    tmp.file("elsewhere/deep.wav", "outside the tree");
    fs::create_symlink(root + "/keep.txt", root + "/link.wav");
    Rig rig;
    rig.controller.droppedFilesInWell({root});
    ASSERT_EQ(rig.names().size(), 7U); // the folder Loops.wav is listed too

    // A folder: the tree stays, the record stays, the user is told.
    auto before = listing(tmp.path());
    deleteWith(rig, "Loops.wav");
    EXPECT_EQ(listing(tmp.path()), before);
    EXPECT_GE(rowOf(rig, "Loops.wav"), 0);
    ASSERT_EQ(rig.alerts.shown.size(), 1U);
    EXPECT_EQ(rig.alerts.shown[0].message,
              "\xe2\x80\x9cLoops.wav\xe2\x80\x9d is a folder. Folders are not deleted from Auralist.");

    // A link: the link goes, its target stays.
    deleteWith(rig, "link.wav");
    EXPECT_EQ(listing(tmp.path()), without(before, "tree/link.wav"));
    EXPECT_EQ(rowOf(rig, "link.wav"), -1);

    // Swapped for a link to another file, or for another file, while the
    // question was open: nothing is removed.
    before = listing(tmp.path());
    deleteWith(rig, "swap-link.wav", [&] {
        fs::remove(root + "/swap-link.wav");
        fs::create_symlink(root + "/other.wav", root + "/swap-link.wav");
    });
    deleteWith(rig, "swap-file.wav", [&] {
        fs::rename(root + "/swap-file.wav", root + "/moved.wav");
        tmp.file("tree/swap-file.wav", "a new file");
    });
    auto after = listing(tmp.path());
    EXPECT_EQ(after.count("tree/swap-file.wav"), 1U);
    EXPECT_EQ(after["tree/swap-link.wav"], "link to " + root + "/other.wav");
    EXPECT_EQ(after.size(), before.size() + 1); // moved.wav
    EXPECT_EQ(after["tree/other.wav"], before["tree/other.wav"]);
    EXPECT_NE(rig.alerts.shown.back().message.find("was not deleted"), std::string::npos);

    // The parent folder replaced by a link to a folder holding a file of
    // the same name: nothing outside the tree is removed.
    before = listing(tmp.path());
    deleteWith(rig, "deep.wav", [&] {
        fs::rename(root + "/sub", root + "/sub-moved");
        fs::create_directory_symlink(tmp.path() + "/elsewhere", root + "/sub");
    });
    EXPECT_EQ(listing(tmp.path()).count("elsewhere/deep.wav"), 1U);
    EXPECT_EQ(listing(tmp.path()).at("elsewhere/deep.wav"), before.at("elsewhere/deep.wav"));

    // Moved away and back is a different file to the system? No: same
    // inode, so it is the file that was named, and it goes.
    deleteWith(rig, "other.wav", [&] {
        fs::rename(root + "/other.wav", tmp.path() + "/away.wav");
        fs::rename(tmp.path() + "/away.wav", root + "/other.wav");
    });
    EXPECT_FALSE(fs::exists(fs::symlink_status(root + "/other.wav")));
}

// The file is removed on the file worker; what follows (the row gone,
// playback, the panel hidden) waits for its word, and the buttons do
// nothing meanwhile.
TEST(DeleteOnDisk, WhatFollowsWaitsForTheWorker)
{
    TempDir tmp;
    const std::string root = tmp.dir("tree");
    for (const char *name : {"a.wav", "b.wav", "c.wav"})
        tmp.file(std::string("tree/") + name, name);
    Rig rig;
    rig.controller.droppedFilesInWell({root});
    rig.files.hold = true;
    rig.select(1);
    rig.controller.deleteSelected();
    const int playsBefore = static_cast<int>(rig.engine.loads.size());
    rig.controller.approveDelete();
    EXPECT_EQ(rig.files.held(), 1U);
    EXPECT_TRUE(fs::exists(root + "/b.wav"));
    EXPECT_EQ(rig.names(), (std::vector<std::string>{"a.wav", "b.wav", "c.wav"}));
    EXPECT_TRUE(rig.view.panelOpen);
    EXPECT_EQ(static_cast<int>(rig.engine.loads.size()), playsBefore);
    rig.controller.cancelDelete();
    rig.controller.approveDelete();
    rig.controller.deleteSelected();
    EXPECT_EQ(rig.files.held(), 1U);
    EXPECT_TRUE(rig.view.panelOpen);

    rig.files.release();
    EXPECT_FALSE(fs::exists(root + "/b.wav"));
    EXPECT_EQ(rig.names(), (std::vector<std::string>{"a.wav", "c.wav"}));
    EXPECT_FALSE(rig.view.panelOpen);
    ASSERT_EQ(static_cast<int>(rig.engine.loads.size()), playsBefore + 1);
    EXPECT_EQ(rig.engine.loads.back(), root + "/c.wav");
    EXPECT_TRUE(rig.alerts.shown.empty());
}

TEST(DeleteOnDisk, CanMoveToTheTrashAndNeverFallsBackToRemoval)
{
    TempDir tmp;
    const std::string data = tmp.dir("data");
    ScopedEnv dataHome("XDG_DATA_HOME", data);
    const std::string file = tmp.file("tree/take 3%.wav", "take three");
    tmp.file("tree/take 4.wav", "take four");
    tmp.file("tree/take 5.wav", "take five");
    Rig rig;
    EXPECT_FALSE(rig.controller.options().moveToTrash()); // off by default
    rig.controller.options().setMoveToTrash(true);
    EXPECT_EQ(rig.settings.values.at("moveToTrash"), "true");
    rig.controller.droppedFilesInWell({tmp.path() + "/tree"});

    deleteWith(rig, "take 3%.wav");
    EXPECT_FALSE(fs::exists(file));
    EXPECT_EQ(rowOf(rig, "take 3%.wav"), -1);
    const std::string trashed = data + "/Trash/files/take 3%.wav";
    ASSERT_TRUE(fs::exists(trashed));
    std::ifstream info(data + "/Trash/info/take 3%.wav.trashinfo");
    std::string header, pathLine, dateLine;
    std::getline(info, header);
    std::getline(info, pathLine);
    std::getline(info, dateLine);
    EXPECT_EQ(header, "[Trash Info]");
    ASSERT_EQ(pathLine.rfind("Path=", 0), 0U);
    // Restorable: the recorded path leads back to where the file was.
    const std::string original = urlDecoded(pathLine.substr(5));
    EXPECT_EQ(fs::canonical(fs::path(original).parent_path()), fs::canonical(tmp.path() + "/tree"));
    EXPECT_EQ(fs::path(original).filename(), "take 3%.wav");
    EXPECT_NE(pathLine.find("take%203%25.wav"), std::string::npos);
    EXPECT_EQ(dateLine.rfind("DeletionDate=", 0), 0U);
    fs::rename(trashed, original);
    EXPECT_TRUE(fs::exists(file));

    // A second file of the same name in the Trash gets a name of its own.
    tmp.file("tree/take 3%.wav", "again");
    rig.controller.droppedFilesInWell({file});
    deleteWith(rig, "take 3%.wav");
    EXPECT_TRUE(fs::exists(data + "/Trash/files/take 3%.wav.1"));
    EXPECT_TRUE(fs::exists(data + "/Trash/info/take 3%.wav.1.trashinfo"));

    // No Trash can be made: nothing removed, the user told.
    rig.controller.droppedFilesInWell({tmp.path() + "/tree"});
    fs::remove_all(data + "/Trash");
    std::ofstream(data + "/Trash") << "not a folder";
    auto before = listing(tmp.path());
    rig.alerts.shown.clear();
    deleteWith(rig, "take 4.wav");
    EXPECT_EQ(listing(tmp.path()), before);
    EXPECT_GE(rowOf(rig, "take 4.wav"), 0);
    ASSERT_EQ(rig.alerts.shown.size(), 1U);
    EXPECT_NE(rig.alerts.shown[0].message.find("could not be moved to the Trash"), std::string::npos);

    // A read-only Trash folder (permissions bind everyone but root).
    if (::geteuid() != 0) {
        fs::remove(data + "/Trash");
        tmp.dir("data/Trash/files");
        tmp.dir("data/Trash/info");
        fs::permissions(data + "/Trash/files", fs::perms::owner_read | fs::perms::owner_exec);
        fs::permissions(data + "/Trash/info", fs::perms::owner_read | fs::perms::owner_exec);
        before = listing(tmp.path());
        deleteWith(rig, "take 5.wav");
        EXPECT_EQ(listing(tmp.path()), before);
        fs::permissions(data + "/Trash/files", fs::perms::owner_all);
        fs::permissions(data + "/Trash/info", fs::perms::owner_all);
    }
}

TEST(DeleteOnDisk, AFileThatCannotBeRemovedKeepsItsRecord)
{
    TempDir tmp;
    const std::string file = tmp.file("locked/take.wav", "take");
    Rig rig;
    rig.controller.droppedFilesInWell({file});
    rig.fs.failRemovals = true;
    deleteWith(rig, "take.wav");
    EXPECT_TRUE(fs::exists(file));
    EXPECT_EQ(rowOf(rig, "take.wav"), 0);
    ASSERT_EQ(rig.alerts.shown.size(), 1U);
    EXPECT_EQ(rig.alerts.shown[0].message,
              "\xe2\x80\x9ctake.wav\xe2\x80\x9d could not be deleted: Read-only file system");
    EXPECT_TRUE(rig.desktop.changed.empty());

    // Permissions stop everyone but root: then the real system says no.
    if (::geteuid() != 0) {
        rig.fs.failRemovals = false;
        rig.alerts.shown.clear();
        fs::permissions(tmp.path() + "/locked", fs::perms::owner_read | fs::perms::owner_exec);
        deleteWith(rig, "take.wav");
        fs::permissions(tmp.path() + "/locked", fs::perms::owner_all);
        EXPECT_TRUE(fs::exists(file));
        ASSERT_EQ(rig.alerts.shown.size(), 1U);
        EXPECT_NE(rig.alerts.shown[0].message.find("Permission denied"), std::string::npos);
    }
}

TEST(Delete, RemovesExactlyTheConfirmedFile)
{
    TempDir tmp;
    Rig rig;
    const auto paths = dropNames(rig, tmp, {"a.wav", "b.wav", "c.wav", "d.wav", "e.wav"});
    Controller &c = rig.controller;
    rig.select(2);
    c.deleteSelected();
    EXPECT_EQ(rig.view.panelMessage, "Are you sure you want to delete c.wav?");
    EXPECT_FALSE(c.state().playModeOn);
    c.cancelDelete();
    EXPECT_TRUE(std::filesystem::exists(paths[2]));
    EXPECT_EQ(rig.names().size(), 5U);
    EXPECT_TRUE(c.state().playModeOn);

    c.deleteSelected();
    c.approveDelete();
    EXPECT_FALSE(std::filesystem::exists(paths[2]));
    EXPECT_EQ(rig.names(), (std::vector<std::string>{"a.wav", "b.wav", "d.wav", "e.wav"}));
    EXPECT_EQ(rig.view.trackName, "d.wav"); // the record that moved up plays
    EXPECT_EQ(rig.desktop.changed, (std::vector<std::string>{paths[2]}));
    for (size_t i : {0U, 1U, 3U, 4U})
        EXPECT_TRUE(std::filesystem::exists(paths[i]));

    // Several rows selected: the question names how many and which, and
    // exactly those files go.
    rig.table.rows = {0, 1};
    rig.table.current = 1;
    c.deleteSelected();
    EXPECT_EQ(rig.view.panelMessage, "Are you sure you want to delete these 2 sounds?");
    EXPECT_TRUE(rig.view.panelDetail.startsWith("a.wav\nb.wav\n\n"));
    c.approveDelete();
    EXPECT_EQ(rig.names(), (std::vector<std::string>{"d.wav", "e.wav"}));
    EXPECT_FALSE(std::filesystem::exists(paths[0]));
    EXPECT_FALSE(std::filesystem::exists(paths[1]));
    EXPECT_TRUE(std::filesystem::exists(paths[3]));
    EXPECT_TRUE(rig.view.title.contains(QStringLiteral(" 2 sounds "))) << rig.view.title.toStdString();

    // While filtered, the record leaves the sound list too.
    rig.view.find = "e";
    c.find();
    rig.select(0);
    c.deleteSelected();
    c.approveDelete();
    rig.view.find = "";
    c.find();
    EXPECT_EQ(rig.names(), (std::vector<std::string>{"d.wav"}));

    // Deleting the last row leaves currentTrack past the end: no crash.
    rig.select(0);
    c.deleteSelected();
    c.approveDelete();
    EXPECT_TRUE(rig.names().empty());
    EXPECT_EQ(c.state().sound, nullptr);
}

TEST(Delete, FoldersLinksAndReplacedFilesAreSafe)
{
    TempDir tmp;
    Rig rig;
    const std::string folder = tmp.dir("drop/Loops.wav");
    tmp.file("drop/Loops.wav/inner.wav");
    const std::string target = tmp.file("target.txt", "keep");
    std::filesystem::create_symlink(target, tmp.path() + "/drop/link.wav");
    const std::string swapped = tmp.file("drop/swap.wav", "original");
    rig.controller.droppedFilesInWell({folder, tmp.path() + "/drop/link.wav", swapped});
    ASSERT_EQ(rig.names(), (std::vector<std::string>{"inner.wav", "link.wav", "swap.wav"}));

    // A folder record from inside a scan: never removed, user told.
    rig.controller.droppedFilesInWell({tmp.path() + "/drop"});
    int folderRow = -1;
    for (size_t i = 0; i < rig.controller.state().items->size(); ++i)
        if ((*rig.controller.state().items)[i].path() == folder)
            folderRow = static_cast<int>(i);
    ASSERT_GE(folderRow, 0);
    rig.select(folderRow);
    rig.controller.deleteSelected();
    rig.controller.approveDelete();
    EXPECT_TRUE(std::filesystem::exists(folder + "/inner.wav"));
    ASSERT_EQ(rig.alerts.shown.size(), 1U);
    EXPECT_NE(rig.alerts.shown[0].message.find("Folders are not deleted"), std::string::npos);

    auto rowOf = [&](const std::string &name) {
        const auto n = rig.names();
        return static_cast<int>(std::find(n.begin(), n.end(), name) - n.begin());
    };
    // A link goes, its target stays.
    rig.select(rowOf("link.wav"));
    rig.controller.deleteSelected();
    rig.controller.approveDelete();
    EXPECT_FALSE(std::filesystem::is_symlink(tmp.path() + "/drop/link.wav"));
    EXPECT_TRUE(std::filesystem::exists(target));

    // Replaced between question and answer: nothing removed, user told.
    rig.select(rowOf("swap.wav"));
    rig.controller.deleteSelected();
    // Made before the original goes, so it cannot get the original's inode.
    const std::string other = tmp.file("drop/other.tmp", "another file");
    std::filesystem::rename(other, swapped);
    rig.controller.approveDelete();
    EXPECT_TRUE(std::filesystem::exists(swapped));
    EXPECT_NE(rig.alerts.shown.back().message.find("not deleted"), std::string::npos);
    EXPECT_NE(rowOf("swap.wav"), static_cast<int>(rig.names().size()));
}

TEST(Delete, AFileListedTwiceLeavesNoGhostAndTheSheetSaysWhereItGoes)
{
    TempDir tmp;
    const std::string a = tmp.file("drop/a.wav");
    tmp.file("drop/b.wav");
    Rig rig;
    Controller &c = rig.controller;
    // The folder and a file inside it: the file has two equal records.
    rig.controller.droppedFilesInWell({tmp.path() + "/drop", a});
    ASSERT_EQ(rig.names(), (std::vector<std::string>{"a.wav", "b.wav", "a.wav"}));
    rig.select(2);
    c.deleteSelected();
    EXPECT_EQ(rig.view.panelDetail, "The file is removed from the disk. This cannot be undone.");
    c.approveDelete();
    EXPECT_FALSE(std::filesystem::exists(a));
    EXPECT_EQ(rig.names(), (std::vector<std::string>{"b.wav"}));

    // While filtered: gone from the rows, the match list and the sound list.
    const std::string e = tmp.file("e.wav");
    rig.controller.droppedFilesInWell({e, tmp.path() + "/drop", e});
    rig.view.find = "e";
    c.find();
    ASSERT_EQ(rig.names(), (std::vector<std::string>{"e.wav", "e.wav"}));
    c.options().setMoveToTrash(true);
    rig.select(1);
    c.deleteSelected();
    EXPECT_EQ(rig.view.panelDetail, "The file is moved to the Trash.");
    c.approveDelete();
    EXPECT_TRUE(rig.names().empty());
    EXPECT_TRUE(c.state().matches->empty());
    rig.view.find = "";
    c.find();
    EXPECT_EQ(rig.names(), (std::vector<std::string>{"b.wav"}));
}

TEST(Delete, EachSoundOfSeveralIsCheckedAndEachRefusalIsReported)
{
    TempDir tmp;
    Rig rig;
    const auto paths = dropNames(rig, tmp, {"a.wav", "b.wav", "c.wav"});
    Controller &c = rig.controller;
    rig.table.rows = {0, 1, 2};
    rig.table.current = 0;
    c.deleteSelected();
    // b.wav is replaced after the question: it stays, and so does the
    // new file; a refusal to remove c.wav is told too, in one alert.
    const std::string other = tmp.file("other.wav");
    std::filesystem::rename(other, paths[1]);
    c.approveDelete();
    EXPECT_FALSE(std::filesystem::exists(paths[0]));
    EXPECT_TRUE(std::filesystem::exists(paths[1]));
    EXPECT_FALSE(std::filesystem::exists(paths[2]));
    ASSERT_EQ(rig.alerts.shown.size(), 1U);
    EXPECT_NE(rig.alerts.shown[0].message.find("b.wav\xe2\x80\x9d was not deleted"), std::string::npos);
    EXPECT_EQ(rig.names(), (std::vector<std::string>{"b.wav"}));

    TempDir more;
    dropNames(rig, more, {"x.wav", "y.wav"});
    rig.table.rows = {0, 1};
    c.deleteSelected();
    rig.fs.failRemovals = true;
    c.approveDelete();
    ASSERT_EQ(rig.alerts.shown.size(), 2U);
    const std::string &both = rig.alerts.shown[1].message;
    EXPECT_NE(both.find("x.wav\xe2\x80\x9d could not be deleted: Read-only file system\n"), std::string::npos);
    EXPECT_NE(both.find("y.wav\xe2\x80\x9d could not be deleted"), std::string::npos);
    EXPECT_EQ(rig.names().size(), 2U);
}
