// Speed and memory of the browser on a library of AURALIST_BENCH_ENTRIES
// entries (100,000 unless set; the README's table uses 1,000,000). Each
// figure that has a target is also reported as a ratio or an absolute
// counter, so a run on any machine shows whether the target holds:
//   intake_vs_find   whole intake / `find TREE -printf '%p\n' > file`, <= 1.2
//   find keystroke   filter plus table reset, <= 5 ms at 1,000,000
//   query keystroke  the same for "kick 12 len:<3s", <= 20 ms
//   path keystroke   the same for "path:vol 300" over deep paths, <= 50 ms
//   sort by name     numeric-aware sort, <= 300 ms at 1,000,000
//   remove rows      a thousand rows deleted at once, <= 50 ms at 1,000,000
//   bytes_per_record heap per record, its path and name included, <= 250
#include <benchmark/benchmark.h>
#include <sndfile.h>

#include <QCoreApplication>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <malloc.h>
#include <random>
#include <string>
#include <sys/xattr.h>
#include <unistd.h>

#include "browser_rig.h"
#include "core/diagnostics.h"
#include "core/table_controller.h"
#include "intake/header_pool.h"
#include "platform/sound_header_reader.h"
#include "platform/sound_types.h"
#include "sound_files.h"

using namespace auralist;
using auralist::testing::Rig;

namespace {

const int kEntries = [] {
    const char *n = std::getenv("AURALIST_BENCH_ENTRIES"); // NOLINT(concurrency-mt-unsafe)
    return n && std::atoi(n) > 0 ? std::atoi(n) : 100000;
}();

// The entries, one in twenty a folder, mixed extensions, and some names
// without an extension that carry a type code instead.
std::string g_treeRoot;

// AURALIST_BENCH_TREE names a tree made beforehand (bench/million_e2e.py
// makes one) to use instead.
const std::string &libraryTree()
{
    static const std::string given = [] {
        const char *t = std::getenv("AURALIST_BENCH_TREE"); // NOLINT(concurrency-mt-unsafe)
        return std::string(t ? t : "");
    }();
    if (!given.empty())
        return given;
    static const std::string &root = g_treeRoot = [] {
        char templ[] = "/tmp/auralist-bench-XXXXXX";
        std::string dir = ::mkdtemp(templ);
        std::mt19937 random(42);
        const char *extensions[] = {".wav", ".aif", ".flac", ".mp3", ".txt", ".ogg", ".WAV", ".png", ""};
        std::vector<std::string> folders{dir};
        int made = 0;
        while (made < kEntries) {
            const std::string &parent = folders[random() % folders.size()];
            if (made % 20 == 0) {
                const std::string folder = parent + "/folder " + std::to_string(made);
                std::filesystem::create_directory(folder);
                folders.push_back(folder);
            } else {
                const char *ext = extensions[random() % std::size(extensions)];
                const std::string file = parent + "/kick " + std::to_string(made) + ext;
                std::ofstream(file).put('x');
                if (*ext == '\0') {
                    char info[32] = {'A', 'I', 'F', 'F', 'a', 'b', 'c', 'd'};
                    ::setxattr(file.c_str(), "user.com.apple.FinderInfo", info, sizeof info, 0);
                }
            }
            ++made;
        }
        return dir;
    }();
    return root;
}

double secondsOf(const std::function<void()> &work)
{
    const auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void intakeVersusFind(benchmark::State &state)
{
    const std::string &tree = libraryTree();
    const std::string findCommand = "find '" + tree + "' -printf '%p\\n' > /tmp/auralist-bench-find.txt";
    double intake = 0, find = 0;
    for (auto _ : state) {
        find += secondsOf([&] {
            if (std::system(findCommand.c_str()) != 0)
                state.SkipWithError("find failed");
        });
        // The diagnostics go to a file, as when standard output is redirected.
        Rig browser;
        browser.engine.types = sndfileSoundTypes();
        intake += secondsOf([&] { browser.controller.droppedFilesInWell({tree}); });
        benchmark::DoNotOptimize(browser.controller.state().items->size());
    }
    state.counters["intake_ms"] = 1000 * intake / state.iterations();
    state.counters["find_ms"] = 1000 * find / state.iterations();
    state.counters["intake_vs_find"] = intake / find;
}
BENCHMARK(intakeVersusFind)->Unit(benchmark::kMillisecond)->Iterations(5);

SoundList syntheticList(int count)
{
    SoundList list = makeSoundList();
    std::mt19937 random(7);
    const char *words[] = {"Kick", "snare", "HAT", "crash", "Bass", "pad", "vox", "fx"};
    list->rows().reserve(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) {
        const std::string name = std::string(words[random() % 8]) + " " + std::to_string(random() % 5000) + ".wav";
        list->append("/home/user/Samples/pack " + std::to_string(i % 300) + "/" + name);
    }
    return list;
}

// Each iteration puts the next of texts in the find field and finds.
void typeInTurn(benchmark::State &state, Rig &browser, const std::vector<QString> &texts)
{
    size_t i = 0;
    for (auto _ : state) {
        browser.view.find = texts[i++ % texts.size()];
        browser.controller.find();
        benchmark::DoNotOptimize(browser.tableController.rowCount());
        browser.out.take();
    }
}

// One keystroke after another, as a user types "kick 12" and clears it.
void findKeystroke(benchmark::State &state)
{
    Rig browser;
    browser.controller.setItems(syntheticList(kEntries));
    typeInTurn(state, browser, {"k", "ki", "kic", "kick", "kick ", "kick 1", "kick 12", ""});
}
BENCHMARK(findKeystroke)->Unit(benchmark::kMillisecond);

// A keystroke of a three-term query (two words and a length) over sounds
// whose headers are read: "kick 12 len:<3s" typed on and back.
void findQueryKeystroke(benchmark::State &state)
{
    Rig browser;
    SoundList list = syntheticList(kEntries);
    RecordStore &store = *list->store();
    std::mt19937 random(11);
    for (std::uint32_t r = 0; r < store.size(); ++r) {
        HeaderFacts facts;
        facts.state = HeaderFacts::State::Read;
        facts.rate = 44100;
        facts.channels = 2;
        facts.frames = static_cast<std::int64_t>(random() % (10 * 44100));
        store.setFacts(r, facts);
    }
    browser.controller.setItems(list);
    typeInTurn(state, browser, {"kick 1 len:<3", "kick 12 len:<3", "kick 12 len:<3s", "kick 12 len:<3"});
}
BENCHMARK(findQueryKeystroke)->Unit(benchmark::kMillisecond);

// A keystroke of a find by folder over deep paths (about 300 bytes):
// "path:vol 3" typed on and back.
void findPathKeystroke(benchmark::State &state)
{
    Rig browser;
    SoundList list = makeSoundList();
    const std::string deep = "/home/user/Sound Libraries/Cinematic Impacts Vol 93 - Processed/Ambience Vol 35 - "
                             "Processed/Field Recordings Vol 82 - Processed/";
    for (int i = 0; i < kEntries; ++i)
        list->append(deep + "Pack Vol " + std::to_string(i % 3000) + "/Kick " + std::to_string(i) + ".wav");
    browser.controller.setItems(list);
    typeInTurn(state, browser, {"path:vol 3", "path:vol 30", "path:vol 300", "path:vol 30"});
}
BENCHMARK(findPathKeystroke)->Unit(benchmark::kMillisecond);

void sortByName(benchmark::State &state)
{
    Diagnostics diagnostics(stdout);
    TableController table(diagnostics);
    const SoundList original = syntheticList(kEntries);
    for (auto _ : state) {
        state.PauseTiming();
        auto copy = std::make_shared<RecordList>(*original);
        table.setItems(copy);
        state.ResumeTiming();
        table.sortBy("name");
    }
}
BENCHMARK(sortByName)->Unit(benchmark::kMillisecond);

// Deleting a thousand rows spread over the list at once, as the table
// takes them out when the files are gone: paths as deep as a collector's
// (about 300 bytes), <= 50 ms at 1,000,000.
void removeThousandRows(benchmark::State &state)
{
    Diagnostics diagnostics(stdout);
    TableController table(diagnostics);
    const std::string deep = "/home/user/Sound Libraries/Cinematic Impacts Vol 93 - Processed/Ambience Vol 35 - "
                             "Processed/Field Recordings Vol 82 - Processed/Ambience Vol 67 - Processed/";
    const SoundList original = makeSoundList();
    for (int i = 0; i < kEntries; ++i)
        original->append(deep + "pack " + std::to_string(i % 3000) + "/Kick " + std::to_string(i) + " Tight.wav");
    PathSet going;
    for (int i = 0; i < 1000; ++i)
        going.emplace(original->store()->path(static_cast<std::uint32_t>(i * (kEntries / 1000))));
    for (auto _ : state) {
        state.PauseTiming();
        table.setItems(std::make_shared<RecordList>(*original));
        state.ResumeTiming();
        table.removeItemsWithPaths(going);
    }
}
BENCHMARK(removeThousandRows)->Unit(benchmark::kMillisecond);

void memoryPerRecord(benchmark::State &state)
{
    for (auto _ : state) {
        std::vector<std::string> paths;
        for (int i = 0; i < kEntries; ++i)
            paths.push_back("/home/user/Samples/pack " + std::to_string(i % 300) + "/kick " + std::to_string(i)
                            + ".wav");
        malloc_trim(0);
        const size_t before = mallinfo2().uordblks;
        // The list as an intake leaves it: the records, the sound list, a
        // match list of every record, and the header facts.
        SoundList list = makeSoundList();
        for (const auto &p : paths)
            list->append(p);
        SoundList matches = makeSoundList(list->store());
        matches->rows() = list->rows();
        list->store()->setFacts(0, HeaderFacts{});
        const size_t after = mallinfo2().uordblks;
        state.counters["bytes_per_record"] = static_cast<double>(after - before) / kEntries;
        state.counters["path_bytes"] = static_cast<double>(paths.back().size());
    }
}
BENCHMARK(memoryPerRecord)->Unit(benchmark::kMillisecond)->Iterations(1);

// Reads the facts alone, as the reader did before it read metadata.
class FactsOnlyReader : public HeaderReader {
public:
    HeaderFacts read(const std::string &path, std::string &error) override { return m_reader.read(path, error); }

private:
    SoundHeaderReader m_reader;
};

// Header facts of 4,000 short sounds (half WAV, half FLAC; every other WAV
// with a Broadcast WAV description and a RIFF INFO title, every other FLAC
// with a comment) read by the pool the window uses: files_per_second,
// >= 2000 on these machines. headerReads/0 reads the facts alone,
// headerReads/1 the metadata inside the files too.
void headerReads(benchmark::State &state)
{
    char templ[] = "/tmp/auralist-bench-headers-XXXXXX";
    const std::string dir = ::mkdtemp(templ);
    SoundList list = makeSoundList();
    const std::vector<float> samples(2 * 4410, 1000.0F / 32768.0F);
    for (int i = 0; i < 4000; ++i) {
        const bool flac = i % 2 == 1;
        const std::string path = dir + "/s" + std::to_string(i) + (flac ? ".flac" : ".wav");
        SF_INFO info{};
        info.samplerate = 44100;
        info.channels = 2;
        info.format = (flac ? SF_FORMAT_FLAC : SF_FORMAT_WAV) | SF_FORMAT_PCM_16;
        SNDFILE *f = sf_open(path.c_str(), SFM_WRITE, &info);
        if (i % 4 < 2) {
            if (!flac) {
                SF_BROADCAST_INFO bext{};
                std::snprintf(bext.description, sizeof bext.description, "Sound %d, a description", i);
                sf_command(f, SFC_SET_BROADCAST_INFO, &bext, sizeof bext);
                sf_set_string(f, SF_STR_TITLE, "A title");
            } else {
                sf_set_string(f, SF_STR_COMMENT, "A comment");
            }
        }
        sf_writef_float(f, samples.data(), static_cast<sf_count_t>(samples.size() / 2));
        sf_close(f);
        list->append(path);
    }
    const bool metadata = state.range(0) == 1;
    double seconds = 0;
    size_t read = 0;
    for (auto _ : state) {
        size_t arrived = 0;
        std::shared_ptr<HeaderReader> reader;
        if (metadata)
            reader = std::make_shared<SoundHeaderReader>();
        else
            reader = std::make_shared<FactsOnlyReader>();
        HeaderPool pool(reader,
                        [&](const RecordStorePtr &, const std::vector<FactsResult> &r) { arrived += r.size(); });
        // A fresh store each round, so nothing is known yet.
        SoundList fresh = makeSoundList();
        for (const SoundRecord &r : *list)
            fresh->append(r.path());
        seconds += secondsOf([&] {
            pool.readStore(fresh->store(), fresh->rows());
            while (arrived < fresh->size())
                QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        });
        read += arrived;
    }
    state.counters["files_per_second"] = static_cast<double>(read) / seconds;
    std::filesystem::remove_all(dir);
}
BENCHMARK(headerReads)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(5);

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (!g_treeRoot.empty())
        std::filesystem::remove_all(g_treeRoot);
    return 0;
}
