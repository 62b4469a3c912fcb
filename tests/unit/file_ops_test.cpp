#include <gtest/gtest.h>

#include <sndfile.h>

#include <cmath>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "files/file_ops.h"
#include "files/file_worker.h"
#include "files/region_export.h"
#include "platform/posix_file_system.h"
#include "test_support.h"

using namespace auralist;
using namespace auralist::files;
using auralist::testing::listing;
using auralist::testing::spinUntil;
using auralist::testing::TempDir;
namespace fs = std::filesystem;

namespace {

void writeFile(const std::string &path, const std::string &content)
{
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << content;
}

std::string contentsOf(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

using Listing = std::map<std::string, std::string>;

// The listing with the entries of changes put in (a value) or taken out
// (an empty value).
Listing changed(Listing l, const std::map<std::string, std::string> &changes)
{
    for (const auto &[key, value] : changes) {
        if (value.empty())
            EXPECT_EQ(l.erase(key), 1U) << key;
        else
            l[key] = value;
    }
    return l;
}

Hooks copying()
{
    Hooks h;
    h.alwaysCopy = true;
    return h;
}

} // namespace

TEST(FileOps, CopiesAndMovesNeverOverwriteAndNumberTakenNames)
{
    TempDir tmp;
    const std::string root = tmp.path();
    writeFile(root + "/in/kick.wav", "kick");
    writeFile(root + "/in/.hidden", "dot");
    writeFile(root + "/out/kick.wav", "older kick");
    writeFile(root + "/out/kick 2.wav", "second older kick");
    const Listing before = listing(root);

    FileResult r = copyInto(root + "/in/kick.wav", root + "/out");
    ASSERT_EQ(r.status, FileResult::Status::Done) << r.error;
    EXPECT_EQ(r.made, root + "/out/kick 3.wav");
    EXPECT_EQ(r.stamp, *stampAt(r.made));
    Listing now = changed(before, {{"out/kick 3.wav", before.at("in/kick.wav")}});
    EXPECT_EQ(listing(root), now);
    // Into its own folder: a copy beside it. A name of a dot alone has no
    // extension.
    EXPECT_EQ(copyInto(root + "/in/kick.wav", root + "/in").made, root + "/in/kick 2.wav");
    EXPECT_EQ(copyInto(root + "/in/.hidden", root + "/in").made, root + "/in/.hidden 2");
    now = changed(now, {{"in/kick 2.wav", before.at("in/kick.wav")}, {"in/.hidden 2", before.at("in/.hidden")}});
    EXPECT_EQ(listing(root), now);

    // Moves, on one file system and as across two: the source goes only
    // when the file is at its new name.
    for (const bool across : {false, true}) {
        writeFile(root + "/in/snare.wav", across ? "snare across" : "snare");
        now = listing(root);
        r = moveInto(root + "/in/snare.wav", root + "/out", across ? copying() : Hooks{});
        ASSERT_EQ(r.status, FileResult::Status::Done) << r.error;
        EXPECT_TRUE(r.error.empty()) << r.error;
        const std::string made = across ? "out/snare 2.wav" : "out/snare.wav";
        EXPECT_EQ(r.made, root + "/" + made);
        EXPECT_EQ(listing(root), changed(now, {{"in/snare.wav", ""}, {made, now.at("in/snare.wav")}}));
    }
    // Moved where it is: nothing happens.
    now = listing(root);
    EXPECT_EQ(moveInto(root + "/out/snare.wav", root + "/out").made, root + "/out/snare.wav");
    EXPECT_EQ(listing(root), now);

    // Renames: never onto another file, never to a name that is no name.
    r = renameTo(root + "/out/snare.wav", "snare dry.wav");
    ASSERT_EQ(r.status, FileResult::Status::Done) << r.error;
    EXPECT_EQ(r.made, root + "/out/snare dry.wav");
    now = listing(root);
    EXPECT_EQ(renameTo(root + "/out/snare dry.wav", "kick.wav").status, FileResult::Status::Refused);
    for (const char *bad : {"", ".", "..", "a/b"})
        EXPECT_EQ(renameTo(root + "/out/snare dry.wav", bad).status, FileResult::Status::Refused) << bad;
    EXPECT_EQ(renameTo(root + "/out/gone.wav", "x.wav").status, FileResult::Status::Refused);
    EXPECT_EQ(listing(root), now);
}

TEST(FileOps, UndoingTouchesOnlyTheFileThatWasMade)
{
    TempDir tmp;
    const std::string root = tmp.path();
    writeFile(root + "/in/kick.wav", "kick");
    fs::create_directories(root + "/out");
    const Listing before = listing(root);

    // A copy is taken back while it is the file made; changed, it stays.
    FileResult copy = copyInto(root + "/in/kick.wav", root + "/out");
    ASSERT_EQ(copy.status, FileResult::Status::Done);
    EXPECT_EQ(removeCopy(copy.made, copy.stamp).status, FileResult::Status::Done);
    EXPECT_EQ(listing(root), before);
    copy = copyInto(root + "/in/kick.wav", root + "/out");
    writeFile(copy.made, "edited since");
    const Listing edited = listing(root);
    EXPECT_EQ(removeCopy(copy.made, copy.stamp).status, FileResult::Status::Refused);
    EXPECT_EQ(listing(root), edited);
    fs::remove(copy.made);

    // A move goes back to exactly where it was, unless that name is taken
    // again or the file is another now.
    for (const bool across : {false, true}) {
        const FileResult moved = moveInto(root + "/in/kick.wav", root + "/out", across ? copying() : Hooks{});
        ASSERT_EQ(moved.status, FileResult::Status::Done);
        writeFile(root + "/in/kick.wav", "a new kick");
        const Listing taken = listing(root);
        EXPECT_EQ(moveBack(moved.made, moved.stamp, root + "/in/kick.wav").status, FileResult::Status::Refused);
        EXPECT_EQ(listing(root), taken);
        fs::remove(root + "/in/kick.wav");
        const FileResult back
            = moveBack(moved.made, moved.stamp, root + "/in/kick.wav", {}, across ? copying() : Hooks{});
        ASSERT_EQ(back.status, FileResult::Status::Done) << back.error;
        EXPECT_EQ(listing(root), before);
    }
    const FileResult moved = moveInto(root + "/in/kick.wav", root + "/out");
    writeFile(moved.made, "changed after the move");
    const Listing later = listing(root);
    EXPECT_EQ(moveBack(moved.made, moved.stamp, root + "/in/kick.wav").status, FileResult::Status::Refused);
    EXPECT_EQ(listing(root), later);
}

TEST(FileOps, AFileInTheTrashComesBackWithoutItsTrashInfo)
{
    TempDir tmp;
    const std::string root = tmp.path();
    const char *dataHome = std::getenv("XDG_DATA_HOME"); // NOLINT(concurrency-mt-unsafe)
    const std::string kept = dataHome ? dataHome : "";
    ::setenv("XDG_DATA_HOME", (root + "/data").c_str(), 1); // NOLINT(concurrency-mt-unsafe)
    writeFile(root + "/sounds/hat.wav", "hat");
    const Listing before = listing(root + "/sounds");
    PosixFileSystem posix;
    const RemovalResult trashed
        = posix.removeFile(root + "/sounds/hat.wav", *posix.identify(root + "/sounds/hat.wav"), true);
    ASSERT_EQ(trashed.status, RemovalResult::Status::Removed) << trashed.error;
    EXPECT_EQ(contentsOf(trashed.trashedAs), "hat");
    EXPECT_TRUE(fs::exists(trashed.trashInfo));
    const FileResult back
        = moveBack(trashed.trashedAs, *stampAt(trashed.trashedAs), root + "/sounds/hat.wav", trashed.trashInfo);
    ASSERT_EQ(back.status, FileResult::Status::Done) << back.error;
    EXPECT_EQ(listing(root + "/sounds"), before);
    EXPECT_TRUE(fs::is_empty(root + "/data/Trash/files"));
    EXPECT_TRUE(fs::is_empty(root + "/data/Trash/info"));
    // A name of 251 bytes goes in under a shortened one (its .trashinfo
    // would not fit a name otherwise), extension kept, and comes back whole.
    const std::string longName = std::string(119, 'x') + "\xc3\xa9" + std::string(126, 'y') + ".wav";
    ASSERT_EQ(longName.size(), 251U);
    writeFile(root + "/sounds/" + longName, "long");
    const RemovalResult shortened
        = posix.removeFile(root + "/sounds/" + longName, *posix.identify(root + "/sounds/" + longName), true);
    ASSERT_EQ(shortened.status, RemovalResult::Status::Removed) << shortened.error;
    const std::string trashedName = fs::path(shortened.trashedAs).filename().string();
    EXPECT_LT(trashedName.size() + 10, 256U);
    EXPECT_TRUE(trashedName.ends_with(".wav"));
    EXPECT_NE(contentsOf(shortened.trashInfo).find("yyyy.wav\n"), std::string::npos);
    const FileResult whole = moveBack(shortened.trashedAs, *stampAt(shortened.trashedAs), root + "/sounds/" + longName,
                                      shortened.trashInfo);
    ASSERT_EQ(whole.status, FileResult::Status::Done) << whole.error;
    EXPECT_EQ(contentsOf(root + "/sounds/" + longName), "long");
    if (dataHome)
        ::setenv("XDG_DATA_HOME", kept.c_str(), 1); // NOLINT(concurrency-mt-unsafe)
    else
        ::unsetenv("XDG_DATA_HOME"); // NOLINT(concurrency-mt-unsafe)
}

// A copy or move cut short, however, leaves the trees as they were: no
// partial file under any name, the source where it was.
TEST(FileOps, AnInterruptedCopyOrMoveLeavesNothingBehind)
{
    TempDir tmp;
    const std::string root = tmp.path();
    std::string big(9 << 20, '\0');
    for (std::size_t i = 0; i < big.size(); ++i)
        big[i] = static_cast<char>(i * 7 + i / 4096);
    writeFile(root + "/in/long take.wav", big);
    writeFile(root + "/out/other.wav", "other");
    const Listing before = listing(root);
    for (const bool move : {false, true}) {
        SCOPED_TRACE(move ? "move" : "copy");
        const auto attempt = [&](const Hooks &hooks) {
            return move ? moveInto(root + "/in/long take.wav", root + "/out", hooks)
                        : copyInto(root + "/in/long take.wav", root + "/out", hooks);
        };
        // Cancelled after the first block.
        Hooks cancel = copying();
        int asked = 0;
        cancel.cancelled = [&] { return ++asked > 1; };
        EXPECT_EQ(attempt(cancel).status, FileResult::Status::Cancelled);
        EXPECT_EQ(listing(root), before);

        // The source changes under the copy.
        Hooks changing = copying();
        bool once = false;
        changing.copied = [&](std::uint64_t) {
            if (!std::exchange(once, true))
                std::ofstream(root + "/in/long take.wav", std::ios::app) << "more";
        };
        EXPECT_EQ(attempt(changing).status, FileResult::Status::Refused);
        EXPECT_EQ(
            listing(root),
            changed(before, {{"in/long take.wav", "file " + std::to_string(std::hash<std::string>{}(big + "more"))}}));
        writeFile(root + "/in/long take.wav", big);

        // The disk will take no more (a file size limit stands in for it).
        const pid_t writer = ::fork();
        if (writer == 0) {
            std::signal(SIGXFSZ, SIG_IGN);
            const rlimit limit{1 << 20, 1 << 20};
            ::setrlimit(RLIMIT_FSIZE, &limit);
            const FileResult r = attempt(copying());
            ::_exit(r.status == FileResult::Status::Failed ? 0 : 1);
        }
        int status = 0;
        ::waitpid(writer, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
        EXPECT_EQ(listing(root), before);

        // The program is killed in the middle of the copy.
        const pid_t killed = ::fork();
        if (killed == 0) {
            Hooks dying = copying();
            dying.copied = [](std::uint64_t) { ::raise(SIGKILL); };
            attempt(dying);
            ::_exit(0);
        }
        ::waitpid(killed, &status, 0);
        EXPECT_TRUE(WIFSIGNALED(status));
        EXPECT_EQ(listing(root), before);

        // The folder is not there, or is a file.
        EXPECT_EQ((move ? moveInto(root + "/in/long take.wav", root + "/nowhere")
                        : copyInto(root + "/in/long take.wav", root + "/nowhere"))
                      .status,
                  FileResult::Status::Failed);
        EXPECT_EQ(copyInto(root + "/in/long take.wav", root + "/out/other.wav").status, FileResult::Status::Failed);
        EXPECT_EQ(listing(root), before);
    }
    // A source gone before the move begins.
    EXPECT_EQ(moveInto(root + "/in/gone.wav", root + "/out").status, FileResult::Status::Refused);
    EXPECT_EQ(listing(root), before);
}

TEST(FileOps, TheWorkerReportsEachStepAndCancels)
{
    TempDir tmp;
    const std::string root = tmp.path();
    for (int i = 0; i < 3; ++i)
        writeFile(root + "/in/" + std::to_string(i) + ".wav", std::string(1000, char('a' + i)));
    fs::create_directories(root + "/out");
    FileWorker worker;
    std::vector<FileStep> steps;
    for (int i = 0; i < 3; ++i)
        steps.push_back(
            FileStep::of(FileStep::Kind::CopyInto, root + "/in/" + std::to_string(i) + ".wav", root + "/out"));
    steps.push_back(FileStep::of(FileStep::Kind::Rename, root + "/in/0.wav", "zero.wav"));
    std::optional<std::vector<FileResult>> results;
    std::size_t lastSteps = 0;
    std::uint64_t lastBytes = 0;
    worker.run(
        steps, [&](std::vector<FileResult> r) { results = std::move(r); },
        [&](std::size_t s, std::uint64_t bytes, std::uint64_t total) {
            lastSteps = s;
            lastBytes = bytes;
            EXPECT_EQ(total, 3000U);
        });
    ASSERT_TRUE(spinUntil([&] { return results.has_value(); }));
    ASSERT_EQ(results->size(), 4U);
    for (const FileResult &r : *results)
        EXPECT_EQ(r.status, FileResult::Status::Done) << r.error;
    EXPECT_EQ((*results)[3].made, root + "/in/zero.wav");
    EXPECT_EQ(lastSteps, 4U);
    EXPECT_EQ(lastBytes, 3000U);
    EXPECT_EQ(contentsOf(root + "/out/2.wav"), std::string(1000, 'c'));

    // A job cancelled before it begins does nothing.
    results.reset();
    const std::uint64_t job = worker.run({FileStep::of(FileStep::Kind::CopyInto, root + "/in/1.wav", root + "/in")},
                                         [&](std::vector<FileResult> r) { results = std::move(r); }, {});
    worker.cancel(job);
    ASSERT_TRUE(spinUntil([&] { return results.has_value(); }));
    EXPECT_FALSE(fs::exists(root + "/in/1 2.wav") && (*results)[0].status != FileResult::Status::Done);
}

namespace {

// A sound of frames frames whose every sample differs from the next.
void writeSound(const std::string &path, int format, int channels, sf_count_t frames)
{
    SF_INFO info{};
    info.samplerate = 48000;
    info.channels = channels;
    info.format = format;
    SNDFILE *f = sf_open(path.c_str(), SFM_WRITE, &info);
    ASSERT_NE(f, nullptr) << sf_strerror(nullptr);
    std::vector<double> samples(static_cast<std::size_t>(frames * channels));
    for (std::size_t i = 0; i < samples.size(); ++i)
        samples[i] = std::sin(static_cast<double>(i) * 0.001) * 0.9 * (i % 2 ? 1 : -0.5);
    sf_writef_double(f, samples.data(), frames);
    sf_close(f);
}

std::vector<double> framesOf(const std::string &path, SF_INFO &info)
{
    SNDFILE *f = sf_open(path.c_str(), SFM_READ, &info);
    EXPECT_NE(f, nullptr) << path;
    if (!f)
        return {};
    std::vector<double> samples(static_cast<std::size_t>(info.frames * info.channels));
    sf_readf_double(f, samples.data(), info.frames);
    sf_close(f);
    return samples;
}

} // namespace

TEST(FileOps, ARegionIsWrittenSampleExactInTheSourcesFormat)
{
    TempDir tmp;
    const std::string root = tmp.path();
    fs::create_directories(root + "/out");
    struct Case {
        const char *name;
        int format;
        int channels;
        int expected; // the region's format
    };
    const Case cases[] = {
        {"take.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 2, SF_FORMAT_WAV | SF_FORMAT_PCM_16},
        {"take24.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_24, 1, SF_FORMAT_WAV | SF_FORMAT_PCM_24},
        {"float.wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT, 2, SF_FORMAT_WAV | SF_FORMAT_FLOAT},
        {"room.aiff", SF_FORMAT_AIFF | SF_FORMAT_PCM_24, 2, SF_FORMAT_AIFF | SF_FORMAT_PCM_24},
        {"take.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 2, SF_FORMAT_FLAC | SF_FORMAT_PCM_16},
        {"take.ogg", SF_FORMAT_OGG | SF_FORMAT_VORBIS, 2, SF_FORMAT_FLAC | SF_FORMAT_PCM_24},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const std::string source = root + "/" + c.name;
        writeSound(source, c.format, c.channels, 48000);
        const FileResult r = exportRegion(source, 12000, 35999, root + "/out");
        ASSERT_EQ(r.status, FileResult::Status::Done) << r.error;
        SF_INFO sourceInfo{};
        SF_INFO regionInfo{};
        const std::vector<double> all = framesOf(source, sourceInfo);
        const std::vector<double> region = framesOf(r.made, regionInfo);
        EXPECT_EQ(regionInfo.format, c.expected);
        EXPECT_EQ(regionInfo.samplerate, 48000);
        EXPECT_EQ(regionInfo.channels, c.channels);
        ASSERT_EQ(regionInfo.frames, 24000);
        const auto from = all.begin() + 12000 * c.channels;
        if ((c.format & SF_FORMAT_SUBMASK) == SF_FORMAT_VORBIS) {
            // Decoded, then kept to 24 bits.
            for (std::size_t i = 0; i < region.size(); ++i)
                ASSERT_NEAR(region[i], from[static_cast<std::ptrdiff_t>(i)], 1.0 / (1 << 22)) << i;
        } else {
            EXPECT_TRUE(std::equal(region.begin(), region.end(), from));
        }
    }
    EXPECT_EQ(fs::path(exportRegion(root + "/take.wav", 12000, 35999, root + "/out").made).filename(),
              "take 0.250-0.750s 2.wav");
    EXPECT_EQ(regionFileName("take.ogg", 0.25, 0.75, true), "take 0.250-0.750s.flac");
    const Listing before = listing(root);
    EXPECT_EQ(exportRegion(root + "/take.wav", 40000, 48000, root + "/out").status, FileResult::Status::Refused);
    EXPECT_EQ(exportRegion(root + "/take.wav", 10, 5, root + "/out").status, FileResult::Status::Refused);
    writeFile(root + "/junk.wav", "RIFF not really");
    EXPECT_EQ(exportRegion(root + "/junk.wav", 0, 5, root + "/out").status, FileResult::Status::Failed);
    EXPECT_EQ(listing(root),
              changed(before, {{"junk.wav", "file " + std::to_string(std::hash<std::string>{}("RIFF not really"))}}));
}

// A pipe (or a link to one) is left out at once, and says so; the copies
// after it go on. A move takes the file itself: a link put in its place
// is not followed to move what it points to.
TEST(FileOps, PipesAreLeftOutAndAMoveNeverFollowsALink)
{
    TempDir tmp;
    const std::string root = tmp.path();
    writeFile(root + "/in/kick.wav", "kick");
    writeFile(root + "/private/secret.wav", "secret");
    fs::create_directories(root + "/out");
    ASSERT_EQ(::mkfifo((root + "/in/pipe.wav").c_str(), 0644), 0);
    fs::create_symlink(root + "/in/pipe.wav", root + "/in/link to pipe.wav");
    fs::create_symlink(root + "/private/secret.wav", root + "/in/swapped.wav");
    const Listing before = listing(root);

    for (const char *name : {"pipe.wav", "link to pipe.wav"}) {
        const FileResult r = copyInto(root + "/in/" + name, root + "/out");
        EXPECT_EQ(r.status, FileResult::Status::Refused) << name;
        EXPECT_NE(r.error.find("not a file"), std::string::npos) << r.error;
    }
    EXPECT_EQ(moveInto(root + "/in/pipe.wav", root + "/out", copying()).status, FileResult::Status::Refused);
    EXPECT_EQ(copyInto(root + "/in/kick.wav", root + "/out").status, FileResult::Status::Done);
    // The link, moved as across file systems: refused, both left alone.
    const FileResult moved = moveInto(root + "/in/swapped.wav", root + "/out", copying());
    EXPECT_EQ(moved.status, FileResult::Status::Refused) << moved.error;
    EXPECT_EQ(listing(root), changed(before, {{"out/kick.wav", before.at("in/kick.wav")}}));
}

// On a volume anyone may write to (here a tmpfs such as /dev/shm, apart
// from the home Trash), another user's link in place of this user's Trash
// is never followed: nothing is moved, and the reason is told. Without it,
// the Trash made is this user's alone.
TEST(FileOps, TheTrashOfAnotherVolumeIsNeverSomeoneElsesFolder)
{
    TempDir home;
    const char *dataHome = std::getenv("XDG_DATA_HOME"); // NOLINT(concurrency-mt-unsafe)
    const std::string kept = dataHome ? dataHome : "";
    ::setenv("XDG_DATA_HOME", (home.path() + "/data").c_str(), 1); // NOLINT(concurrency-mt-unsafe)
    const auto restore = [&] {
        if (dataHome)
            ::setenv("XDG_DATA_HOME", kept.c_str(), 1); // NOLINT(concurrency-mt-unsafe)
        else
            ::unsetenv("XDG_DATA_HOME"); // NOLINT(concurrency-mt-unsafe)
    };
    struct stat homeStat { };
    ASSERT_EQ(::stat(home.path().c_str(), &homeStat), 0);
    // A mount of its own (its parent lies on another device; not a link to
    // somewhere else), so that it is the top of the volume its Trash goes to.
    std::string volume;
    for (const char *candidate : {"/dev/shm", "/run/shm", "/run"}) {
        struct stat st { };
        struct stat parent { };
        if (::lstat(candidate, &st) == 0 && S_ISDIR(st.st_mode) && st.st_dev != homeStat.st_dev
            && ::stat(fs::path(candidate).parent_path().c_str(), &parent) == 0 && parent.st_dev != st.st_dev
            && ::access(candidate, W_OK) == 0) {
            volume = candidate;
            break;
        }
    }
    const std::string uidTrash = volume + "/.Trash-" + std::to_string(::getuid());
    std::error_code error;
    if (volume.empty() || fs::exists(fs::symlink_status(uidTrash, error))) {
        restore();
        GTEST_SKIP() << "no volume apart from the home Trash without a Trash already";
    }
    std::string folder = volume + "/auralist-trash-XXXXXX";
    ASSERT_TRUE(::mkdtemp(folder.data()));
    writeFile(folder + "/hat.wav", "hat");
    fs::create_directories(home.path() + "/attacker");
    fs::create_directory_symlink(home.path() + "/attacker", uidTrash);
    PosixFileSystem posix;
    const RemovalResult refused = posix.removeFile(folder + "/hat.wav", *posix.identify(folder + "/hat.wav"), true);
    EXPECT_EQ(refused.status, RemovalResult::Status::Failed);
    EXPECT_NE(refused.error.find("safely yours"), std::string::npos) << refused.error;
    EXPECT_EQ(contentsOf(folder + "/hat.wav"), "hat");
    EXPECT_TRUE(fs::is_empty(home.path() + "/attacker"));
    fs::remove(uidTrash);

    const RemovalResult trashed = posix.removeFile(folder + "/hat.wav", *posix.identify(folder + "/hat.wav"), true);
    EXPECT_EQ(trashed.status, RemovalResult::Status::Removed) << trashed.error;
    EXPECT_EQ(trashed.trashedAs, uidTrash + "/files/hat.wav");
    struct stat made { };
    EXPECT_EQ(::lstat(uidTrash.c_str(), &made), 0);
    EXPECT_TRUE(S_ISDIR(made.st_mode));
    EXPECT_EQ(made.st_mode & 0777, 0700U);
    fs::remove_all(uidTrash, error);
    fs::remove_all(folder, error);
    restore();
}
