// The library unit: the record store and its views, the sort keys, the
// intake scanner on real trees (threaded and cancelled mid-walk), and the
// header pool with a reader that blocks until told.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>

#include <condition_variable>
#include <future>
#include <map>
#include <mutex>
#include <random>
#include <set>
#include <thread>

#include <sys/stat.h>

#include "audio/decoder.h"
#include "core/header_facts.h"
#include "core/numeric_compare.h"
#include "core/records.h"
#include "core/sort_order.h"
#include "intake/header_pool.h"
#include "intake/scanner.h"
#include "platform/posix_file_system.h"
#include "platform/sound_file.h"
#include "platform/sound_header_reader.h"
#include "sound_files.h"
#include "test_support.h"

using namespace auralist;
using auralist::testing::CapturedOutput;
using auralist::testing::spinUntil;
using auralist::testing::TempDir;

namespace {

// Listing a folder whose path ends in gated (every folder, when gated is
// empty) waits until the test opens the gate, as on a slow or dead disk.
struct GatedFs : PosixFileSystem {
    explicit GatedFs(std::string suffix) : gated(std::move(suffix)) { }
    bool listDirectory(const std::string &path, const EntryCallback &callback) override
    {
        if (path.ends_with(gated)) {
            entered.store(true);
            while (!open.load())
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return PosixFileSystem::listDirectory(path, callback);
    }
    void waitUntilEntered() const
    {
        while (!entered.load())
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    const std::string gated;
    std::atomic<bool> entered{false};
    std::atomic<bool> open{false};
};

struct Collecting : IntakeScanner::Listener {
    std::vector<std::string> paths;
    std::vector<std::uint64_t> batchesOf;
    std::map<std::uint64_t, bool> finished;
    void scanBatch(std::uint64_t scan, RecordStore &&batch) override
    {
        batchesOf.push_back(scan);
        for (std::uint32_t i = 0; i < batch.size(); ++i)
            paths.emplace_back(batch.path(i));
    }
    void scanFinished(std::uint64_t scan, bool completed) override { finished[scan] = completed; }
};

} // namespace

TEST(Records, OneStoreManyViewsNamesFoldedAndEdits)
{
    SoundList list = makeSoundList();
    list->append("/s/Kick 1.WAV");
    list->append("/s/sub/caf\xC3\x89.aif");
    list->append("/s/odd\xFF name.wav");
    const SoundRecord kick = (*list)[0];
    EXPECT_EQ(kick.name(), "Kick 1.WAV");
    EXPECT_EQ(kick.path(), "/s/Kick 1.WAV");
    EXPECT_EQ(kick.foldedName(), "kick 1.wav");
    EXPECT_EQ((*list)[1].foldedName(), "caf\xC3\xA9.aif");
    EXPECT_EQ((*list)[2].foldedName(), "odd\xFF name.wav"); // not UTF-8: ASCII folding only

    // A second view shares the records: same record, not a copy.
    SoundList view = makeSoundList(list->store());
    view->push_back((*list)[2]);
    EXPECT_TRUE(view->operator[](0) == (*list)[2]);
    kick.setValue("name", "Snare.wav");
    EXPECT_EQ((*list)[0].foldedName(), "snare.wav");
    EXPECT_EQ(*kick.value("name"), "Snare.wav");
    EXPECT_FALSE(kick.value("comment"));
    kick.setValue("comment", "loud");
    EXPECT_EQ(*kick.value("comment"), "loud");

    // Equal entries across stores, different identity.
    SoundList other = makeSoundList();
    other->append("/s/odd\xFF name.wav");
    EXPECT_TRUE((*other)[0].equalEntries((*list)[2]));
    EXPECT_FALSE((*other)[0] == (*list)[2]);
    EXPECT_FALSE((*other)[0].equalEntries(kick));

    // Batches moved in keep their order and bytes, across chunk borders.
    RecordStore big;
    std::string longName(70000, 'a');
    big.add("/x/" + longName);
    for (int i = 0; i < 5000; ++i)
        big.add("/x/f" + std::to_string(i) + ".wav");
    RecordStore &store = *list->store();
    const std::uint32_t before = store.size();
    store.append(std::move(big));
    EXPECT_EQ(big.size(), 0U);
    ASSERT_EQ(store.size(), before + 5001);
    EXPECT_EQ(store.name(before).size(), longName.size());
    EXPECT_EQ(store.path(before + 5000), "/x/f4999.wav");
    EXPECT_EQ(store.path(0), "/s/Kick 1.WAV");
}

// Each folder is kept once and every path comes back byte for byte,
// whatever its shape; batches with folders of their own keep theirs when
// moved in; an edited path wins.
TEST(Records, PathsAreKeptByFolderAndComeBackExactly)
{
    const std::vector<std::string> paths{"/s/Drums/kick.wav", "/s/Drums/snare.wav", "/top.wav",  "loose.wav",
                                         "/s//double.wav",    "/s/trailing/",       "/s/\xff/x", "/s/Drums/kick.wav"};
    RecordStore store;
    for (const std::string &p : paths)
        store.add(p);
    RecordStore batch;
    batch.add("/s/Drums/hat.wav");
    batch.add("/b/new.wav");
    store.append(std::move(batch));
    std::vector<std::string> all = paths;
    all.insert(all.end(), {"/s/Drums/hat.wav", "/b/new.wav"});
    ASSERT_EQ(store.size(), all.size());
    std::string into = "left over from before, and long";
    for (std::uint32_t i = 0; i < store.size(); ++i) {
        EXPECT_EQ(store.path(i), all[i]);
        store.pathInto(i, into);
        EXPECT_EQ(into, all[i]);
        EXPECT_TRUE(store.pathIs(i, all[i]));
        EXPECT_FALSE(store.pathIs(i, all[i] + "x"));
        EXPECT_FALSE(store.pathIs(i, "x" + all[i]));
    }
    EXPECT_EQ(store.name(5), "");
    EXPECT_EQ(store.name(6), "x");
    EXPECT_EQ(store.folderOf(3), RecordStore::kNoFolder);
    // One folder each: "/s/Drums" for the first, second, last and the
    // batch's first.
    EXPECT_EQ(store.folderOf(0), store.folderOf(8));
    EXPECT_EQ(store.folderOf(0), store.folderOf(7));
    EXPECT_EQ(store.folderCount(), 6U); // /s/Drums, "", /s/, /s/trailing, /s/\xff and /b
    EXPECT_EQ(store.folderPath(store.folderOf(9)), "/b");

    // A rename's edit is the path from then on, for every way of asking.
    SoundList list = makeSoundList(std::make_shared<RecordStore>());
    list->append("/s/a.wav");
    (*list)[0].setValue("path", "/t/b.wav");
    EXPECT_EQ((*list)[0].path(), "/t/b.wav");
    EXPECT_TRUE(hasPath((*list)[0], "/t/b.wav"));
    EXPECT_FALSE(hasPath((*list)[0], "/s/a.wav"));
    EXPECT_TRUE(list->containsPath("/t/b.wav"));
    list->removePaths(PathSet{"/t/b.wav"});
    EXPECT_TRUE(list->empty());
}

// A store taken into another brings everything known of its records, a
// small one copied, a big one's name chunks taken over as they are.
TEST(Records, AStoreTakenInBringsEverythingKnownOfItsRecords)
{
    for (const std::size_t count : {std::size_t(3), std::size_t(70000)}) {
        RecordStore into;
        into.add("/a/first.wav");
        into.setFacts(0, HeaderFacts{.frames = 1, .state = HeaderFacts::State::Read});
        SoundTraits failedHere;
        failedHere.state = SoundTraits::State::Failed;
        failedHere.reason = into.reasonNumber("unreadable");
        into.setTraits(0, failedHere);
        RecordStore batch;
        for (std::size_t i = 0; i < count; ++i)
            batch.add("/b/Take " + std::to_string(i) + ".wav");
        const std::uint32_t last = batch.size() - 1;
        batch.setFacts(last, HeaderFacts{.frames = 44100, .rate = 44100, .state = HeaderFacts::State::Read});
        SoundTraits failed;
        failed.state = SoundTraits::State::Failed;
        failed.reason = batch.reasonNumber("truncated");
        batch.setTraits(1, failed);
        batch.setFavourite(2, true);
        batch.setTags(last, "dry, short");
        FileMetadata said;
        said.description = "a take";
        batch.setMetadata(1, said);
        into.append(std::move(batch));
        into.add("/c/after.wav");

        ASSERT_EQ(into.size(), count + 2) << count;
        EXPECT_EQ(into.path(1), "/b/Take 0.wav");
        EXPECT_EQ(into.path(static_cast<std::uint32_t>(count)), "/b/Take " + std::to_string(count - 1) + ".wav");
        EXPECT_EQ(into.path(static_cast<std::uint32_t>(count + 1)), "/c/after.wav");
        EXPECT_EQ(into.foldedName(1), "take 0.wav");
        EXPECT_EQ(into.facts(0).frames, 1);
        EXPECT_EQ(into.facts(static_cast<std::uint32_t>(count)).frames, 44100);
        EXPECT_EQ(into.facts(1).state, HeaderFacts::State::Unknown);
        EXPECT_EQ(into.reason(into.traits(0).reason), "unreadable");
        EXPECT_EQ(into.reason(into.traits(2).reason), "truncated");
        EXPECT_FALSE(into.favourite(1));
        EXPECT_TRUE(into.favourite(3));
        EXPECT_EQ(into.tags(static_cast<std::uint32_t>(count)), "dry, short");
        ASSERT_NE(into.metadata(2), nullptr);
        EXPECT_EQ(into.metadata(2)->description, "a take");
        EXPECT_EQ(into.metadata(1), nullptr);
    }
}

TEST(SortOrder, KeysAgreeWithTheNumericComparisonAndTheSortIsStable)
{
    std::mt19937 random(3);
    const char alphabet[] = "a0b91A _.\xC3\xFF";
    std::vector<std::string> values;
    for (int i = 0; i < 3000; ++i) {
        std::string v;
        const int n = static_cast<int>(random() % 14);
        for (int k = 0; k < n; ++k)
            v.push_back(alphabet[random() % (sizeof alphabet - 1)]);
        values.push_back(v);
    }
    values.push_back("kick 007");
    values.push_back("kick 7");
    values.push_back("kick 10");
    for (size_t i = 0; i + 1 < values.size(); ++i) {
        const int expected = compareNumeric(values[i], values[i + 1]);
        const int got = numericSortKey(values[i]).compare(numericSortKey(values[i + 1]));
        ASSERT_EQ(expected, got < 0 ? -1 : (got > 0 ? 1 : 0)) << values[i] << " | " << values[i + 1];
    }
    const auto order = numericSortOrder(static_cast<std::uint32_t>(values.size()),
                                        [&](std::uint32_t i) { return std::string_view(values[i]); });
    for (size_t i = 0; i + 1 < order.size(); ++i) {
        const int c = compareNumeric(values[order[i]], values[order[i + 1]]);
        ASSERT_LE(c, 0);
        if (c == 0) {
            ASSERT_LT(order[i], order[i + 1]); // equal values keep their order
        }
    }
}

TEST(Scanner, ThreadedScanPrintsWhatTheInlineScanPrintsAndHandsOverEveryRecord)
{
    TempDir dir;
    dir.file("a.aiff");
    dir.file("b.txt");
    dir.file("sub/c.wav");
    dir.file("sub/deeper/d 10.wav");
    dir.file("sub/deeper/d 9.wav");
    dir.dir("empty.wav");
    ::mkfifo((dir.path() + "/pipe.wav").c_str(), 0600);
    ::symlink(dir.path().c_str(), (dir.path() + "/loop").c_str());
    const std::vector<std::string> types{"aiff", "wav"};
    const std::vector<std::string> paths{dir.path(), dir.path() + "/missing.wav", dir.path() + "/a.aiff"};

    PosixFileSystem fs;
    CapturedOutput inlineOut;
    Collecting inlineHeard;
    InlineScanner(fs, inlineOut.file()).start(1, paths, types, inlineHeard);

    CapturedOutput threadOut;
    Collecting heard;
    {
        ThreadedScanner scanner(std::make_shared<PosixFileSystem>(), threadOut.file());
        scanner.start(7, paths, types, heard);
        ASSERT_TRUE(spinUntil([&] { return heard.finished.count(7) != 0; }));
    }
    EXPECT_TRUE(heard.finished[7]);
    EXPECT_EQ(threadOut.take(), inlineOut.take());
    EXPECT_EQ(heard.paths, inlineHeard.paths);
    const std::vector<std::string> expected{dir.path() + "/a.aiff",
                                            dir.path() + "/empty.wav",
                                            dir.path() + "/pipe.wav",
                                            dir.path() + "/sub/c.wav",
                                            dir.path() + "/sub/deeper/d 9.wav",
                                            dir.path() + "/sub/deeper/d 10.wav",
                                            dir.path() + "/missing.wav",
                                            dir.path() + "/a.aiff"};
    EXPECT_EQ(heard.paths, expected);
}

TEST(Scanner, ANewScanCancelsTheOneRunningAndTheirLinesNeverMix)
{
    TempDir dir;
    for (int f = 0; f < 40; ++f) {
        for (int i = 0; i < 100; ++i)
            dir.file("big/f" + std::to_string(f) + "/s" + std::to_string(i) + ".wav");
    }
    dir.file("small/one.wav");
    // Folder f20 of the first scan is stuck until the test lets it go, as
    // on a slow disk; what was found before it still arrives meanwhile.
    auto fs = std::make_shared<GatedFs>("/f20");
    CapturedOutput out;
    Collecting heard;
    ThreadedScanner scanner(fs, out.file());
    scanner.start(1, {dir.path() + "/big"}, {"wav"}, heard);
    ASSERT_TRUE(spinUntil([&] { return heard.paths.size() >= 1000; }));
    scanner.start(2, {dir.path() + "/small"}, {"wav"}, heard);
    fs->open.store(true);
    ASSERT_TRUE(spinUntil([&] { return heard.finished.count(2) != 0; }));
    EXPECT_FALSE(heard.finished[1]);
    EXPECT_TRUE(heard.finished[2]);
    EXPECT_LT(heard.paths.size(), 4001U);
    EXPECT_EQ(heard.paths.back(), dir.path() + "/small/one.wav");
    // The second scan's lines come after the first one's last line, whole.
    const std::string text = out.take();
    const std::string second = dir.path() + "/small/one.wav\nformat: wav\n";
    ASSERT_GE(text.size(), second.size());
    EXPECT_EQ(text.substr(text.size() - second.size()), second);
    for (size_t at = 0, next; at < text.size(); at = next + 1) {
        next = text.find('\n', at);
        const std::string line = text.substr(at, next - at);
        ASSERT_TRUE(line.rfind(dir.path(), 0) == 0 || line == "format: wav") << line;
    }
}

TEST(Scanner, ACancelBeforeTheWorkerTakesTheJobHoldsAndNothingMoreIsTold)
{
    TempDir dir;
    dir.file("first/a.wav");
    dir.file("second/b.wav");
    dir.file("third/c.wav");
    // The first scan's folder is stuck until the test lets it go, so the
    // second job waits, not yet taken, while it is cancelled.
    auto fs = std::make_shared<GatedFs>("/first");
    CapturedOutput out;
    Collecting heard;
    ThreadedScanner scanner(fs, out.file());
    scanner.start(1, {dir.path() + "/first"}, {"wav"}, heard);
    fs->waitUntilEntered();
    scanner.start(2, {dir.path() + "/second"}, {"wav"}, heard);
    scanner.cancel();
    fs->open.store(true);
    // Scans run in order: once the third has finished, anything of the
    // first two would have arrived before it.
    scanner.start(3, {dir.path() + "/third"}, {"wav"}, heard);
    ASSERT_TRUE(spinUntil([&] { return heard.finished.count(3) != 0; }));
    EXPECT_EQ(heard.finished.count(1), 0U);
    EXPECT_EQ(heard.finished.count(2), 0U);
    EXPECT_EQ(heard.paths, std::vector<std::string>{dir.path() + "/third/c.wav"});
    EXPECT_EQ(out.take().find("/second/"), std::string::npos); // never begun
}

TEST(Scanner, StoppingDoesNotWaitForAWalkStuckOnADeadDisk)
{
    TempDir dir;
    dir.file("stuck/a.wav");
    auto fs = std::make_shared<GatedFs>(""); // no folder can be listed
    CapturedOutput out;
    Collecting heard;
    ThreadedScanner scanner(fs, out.file());
    scanner.start(1, {dir.path() + "/stuck"}, {"wav"}, heard);
    fs->waitUntilEntered();
    QElapsedTimer t;
    t.start();
    scanner.requestStop();
    EXPECT_FALSE(scanner.waitStopped(std::chrono::steady_clock::now() + std::chrono::milliseconds(200)));
    EXPECT_LT(t.elapsed(), 1000);
    fs->open.store(true); // the walk, let go, ends on its own and reports nothing
    EXPECT_TRUE(scanner.waitStopped(std::chrono::steady_clock::now() + std::chrono::seconds(10)));
    QCoreApplication::processEvents();
    EXPECT_TRUE(heard.paths.empty());
}

namespace {

// A reader that waits until told, and records what it was asked, in order.
struct GatedReader : HeaderReader {
    std::mutex mutex;
    std::condition_variable cv;
    bool open = false;
    std::vector<std::string> asked;
    HeaderFacts read(const std::string &path, std::string &error) override
    {
        std::unique_lock<std::mutex> lock(mutex);
        asked.push_back(path);
        cv.wait(lock, [&] { return open; });
        if (path.find("bad") != std::string::npos) {
            error = "Format not recognised.";
            HeaderFacts f;
            f.state = HeaderFacts::State::Failed;
            return f;
        }
        return factsFromInfo(0x010000 | 0x0003, 44100 * 2 + 4410, 44100, 2, 1234567);
    }
    void letGo()
    {
        const std::lock_guard<std::mutex> lock(mutex);
        open = true;
        cv.notify_all();
    }
};

} // namespace

TEST(HeaderPool, RowsOnScreenGoFirstAndResultsReachTheStoreOnTheMainThread)
{
    SoundList list = makeSoundList();
    for (int i = 0; i < 200; ++i)
        list->append("/s/" + std::string(i == 150 ? "bad" : "good") + std::to_string(i) + ".wav");
    auto reader = std::make_shared<GatedReader>();
    std::vector<FactsResult> arrived;
    const std::thread::id mainThread = std::this_thread::get_id();
    bool offThread = false;
    HeaderPool pool(
        reader,
        [&](const RecordStorePtr &store, const std::vector<FactsResult> &results) {
            offThread |= std::this_thread::get_id() != mainThread;
            for (const FactsResult &r : results)
                store->setFacts(r.record, r.facts);
            arrived.insert(arrived.end(), results.begin(), results.end());
        },
        1);
    pool.readStore(list->store(), list->rows());
    // The one worker is held on its first read; meanwhile rows 150-159 come
    // on screen.
    ASSERT_TRUE(spinUntil([&] {
        const std::lock_guard<std::mutex> lock(reader->mutex);
        return !reader->asked.empty();
    }));
    pool.prefer(list->store(), {150, 151, 152, 153, 154, 155, 156, 157, 158, 159});
    reader->letGo();
    ASSERT_TRUE(spinUntil([&] { return arrived.size() == 200; }));
    EXPECT_FALSE(offThread);
    EXPECT_EQ(pool.pending(), 0U);
    // After whatever the worker had in hand, the rows on screen came next.
    std::vector<std::string> asked;
    {
        const std::lock_guard<std::mutex> lock(reader->mutex);
        asked = reader->asked;
    }
    const auto at150 = std::find(asked.begin(), asked.end(), "/s/bad150.wav") - asked.begin();
    EXPECT_LE(at150, 8 + 1);
    const RecordStore &store = *list->store();
    EXPECT_EQ(store.facts(150).state, HeaderFacts::State::Failed);
    EXPECT_EQ(factText(store.facts(150), kLengthKey), kNoValue);
    const HeaderFacts &good = store.facts(3);
    EXPECT_EQ(factText(good, kLengthKey), "0:02.1");
    EXPECT_EQ(factText(good, kFormatKey), "WAV 24-bit");
    EXPECT_EQ(factText(good, kRateKey), "44100");
    EXPECT_EQ(factText(good, kChannelsKey), "2");
    EXPECT_EQ(factText(good, kSizeKey), "1.2 MB");
    auto failed = std::find_if(arrived.begin(), arrived.end(), [](const FactsResult &r) { return r.record == 150; });
    ASSERT_NE(failed, arrived.end());
    EXPECT_EQ(failed->error, "Format not recognised.");
}

TEST(HeaderReader, RealFilesAndHostileOnes)
{
    TempDir dir;
    SoundHeaderReader reader;
    std::string error;
    // A hand-made 16-bit mono WAV of 8000 frames at 8 kHz.
    std::string wav = "RIFF";
    auto u32 = [](std::string &s, std::uint32_t v) {
        for (int i = 0; i < 4; ++i)
            s.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
    };
    auto u16 = [](std::string &s, std::uint16_t v) {
        s.push_back(static_cast<char>(v & 0xFF));
        s.push_back(static_cast<char>(v >> 8));
    };
    u32(wav, 36 + 16000);
    wav += "WAVEfmt ";
    u32(wav, 16);
    u16(wav, 1);
    u16(wav, 1);
    u32(wav, 8000);
    u32(wav, 16000);
    u16(wav, 2);
    u16(wav, 16);
    wav += "data";
    u32(wav, 16000);
    wav += std::string(16000, '\0');
    const HeaderFacts f = reader.read(dir.file("one.wav", wav), error);
    ASSERT_EQ(f.state, HeaderFacts::State::Read) << error;
    EXPECT_EQ(factText(f, kLengthKey), "0:01.0");
    EXPECT_EQ(factText(f, kFormatKey), "WAV 16-bit");
    EXPECT_EQ(f.size, wav.size());

    EXPECT_EQ(reader.read(dir.file("junk.wav", "not a sound at all"), error).state, HeaderFacts::State::Failed);
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(reader.read(dir.file("cut.wav", wav.substr(0, 30)), error).state, HeaderFacts::State::Failed);
    EXPECT_EQ(reader.read(dir.path() + "/gone.wav", error).state, HeaderFacts::State::Failed);
    EXPECT_EQ(reader.read(dir.dir("folder.wav"), error).state, HeaderFacts::State::Failed);
    ::mkfifo((dir.path() + "/fifo.wav").c_str(), 0600);
    EXPECT_EQ(reader.read(dir.path() + "/fifo.wav", error).state, HeaderFacts::State::Failed); // and returns
    EXPECT_EQ(reader.read("/dev/zero", error).state, HeaderFacts::State::Failed);
}

TEST(HeaderReader, AReadWaitingOnASlowDiskNeverHoldsUpThePlayersOpen)
{
    TempDir dir;
    const std::string path = dir.file("tone.wav");
    auralist::testing::writeSoundFile(path, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 44100, 2,
                                      std::vector<float>(2 * 4410, 0.25F));
    // The header reader's disk answers only when the test says so.
    std::mutex mutex;
    std::condition_variable changed;
    bool waiting = false;
    bool answer = false;
    std::thread::id slowThread;
    SoundFile::setOpenReadHook([&] {
        std::unique_lock<std::mutex> lock(mutex);
        if (std::this_thread::get_id() != slowThread)
            return;
        waiting = true;
        changed.notify_all();
        changed.wait(lock, [&] { return answer; });
    });
    std::string headerError;
    HeaderFacts facts;
    std::thread reader([&] {
        {
            const std::lock_guard<std::mutex> lock(mutex);
            slowThread = std::this_thread::get_id();
        }
        facts = SoundHeaderReader().read(path, headerError);
    });
    {
        std::unique_lock<std::mutex> lock(mutex);
        changed.wait(lock, [&] { return waiting; });
    }
    // Meanwhile the player opens the next sound: it must not wait.
    auto opened = std::async(std::launch::async, [&] {
        std::string error;
        return audio::openSndfileDecoder(path, error) != nullptr;
    });
    const bool inTime = opened.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
    {
        const std::lock_guard<std::mutex> lock(mutex);
        answer = true;
        changed.notify_all();
    }
    reader.join();
    SoundFile::setOpenReadHook(nullptr);
    ASSERT_TRUE(inTime) << "the player's open waited for the slow header read";
    EXPECT_TRUE(opened.get());
    EXPECT_EQ(facts.state, HeaderFacts::State::Read) << headerError;
    EXPECT_EQ(facts.frames, 4410);
}
