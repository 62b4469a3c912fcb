// Finding similar sounds and duplicates at the catalogue's scale:
//   similar/everywhere/1000000  Find Similar over every folder: from the
//       request to the answer on the window's thread (the writer looks up
//       the sound's content, scans every description, reads the rows of
//       the 200 nearest); the first request also waits for every
//       description to be read from the database once (first_ms), and
//       index_MB is what keeping them takes
//   similar/list/10000          Find Similar within a list of 10,000
//   scan/1000000                the scan of the descriptions alone
//   hnsw/100000                 for comparison, hnswlib's graph index:
//       build_s to build it, and the time of a query
//   duplicates/100000           Find Duplicates' grouping of 100,000
//       analysed sounds (10 % of them copies)
// Descriptions are 32 numbers, in clusters, as real ones are.
#include <benchmark/benchmark.h>

#include <hnswlib/hnswlib.h>
#include <sqlite3.h>
#include <unistd.h>

#include <QCoreApplication>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "catalogue/database.h"
#include "catalogue/library.h"
#include "catalogue/similar_sounds.h"
#include "core/records.h"
#include "core/sound_traits.h"

using namespace auralist;
namespace fs = std::filesystem;

namespace {

constexpr std::size_t kWidth = 32;
constexpr std::size_t kMost = 200;

std::vector<float> descriptions(std::size_t count, std::uint32_t seed)
{
    std::mt19937 random(seed);
    std::normal_distribution<float> normal;
    constexpr std::size_t kClusters = 5000;
    std::vector<float> centres(kClusters * kWidth);
    for (float &x : centres)
        x = normal(random);
    std::vector<float> out(count * kWidth);
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t c = random() % kClusters;
        for (std::size_t j = 0; j < kWidth; ++j)
            out[i * kWidth + j] = centres[c * kWidth + j] + 0.3F * normal(random);
    }
    return out;
}

std::string pathOf(std::size_t i)
{
    return "/sounds/pack" + std::to_string(i / 1000) + "/sound " + std::to_string(i) + ".wav";
}

// A catalogue of count analysed sounds, made once per run.
std::string catalogueOf(std::size_t count)
{
    const std::string dir = "/tmp/auralist-similarity-bench-" + std::to_string(count);
    const std::string file = dir + "/library.db";
    if (fs::exists(dir + "/done"))
        return file;
    fs::remove_all(dir);
    fs::create_directories(dir);
    {
        catalogue::Database db(file);
        db.open();
        const std::int64_t root = db.rememberRoot("/sounds");
        std::vector<catalogue::SoundRow> rows;
        rows.reserve(count);
        for (std::size_t i = 0; i < count; ++i) {
            catalogue::SoundRow row;
            row.path = pathOf(i);
            row.size = 44 + static_cast<std::int64_t>(i % 5000) * 2;
            row.fingerprint = std::to_string(row.size) + ":" + std::to_string(i + 1);
            row.lengthFrames = 44100;
            row.rate = 44100;
            row.channels = 2;
            row.format = "WAV";
            rows.push_back(std::move(row));
        }
        db.begin();
        db.insertSounds(root, rows);
        db.commit();
    }
    sqlite3 *db = nullptr;
    sqlite3_open(file.c_str(), &db);
    sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
    sqlite3_stmt *insert = nullptr;
    sqlite3_prepare_v2(db,
                       "INSERT INTO analysis(print, size, version, loudness, peak, loop, bpm, note, audio_hash,"
                       " descriptor, error) SELECT fingerprint, size, ?2, -20, -1, 0, NULL, -1, id, ?3, ''"
                       " FROM sounds WHERE id = ?1",
                       -1, &insert, nullptr);
    const std::vector<float> all = descriptions(count, 7);
    for (std::size_t i = 0; i < count; ++i) {
        sqlite3_bind_int64(insert, 1, static_cast<sqlite3_int64>(i + 1));
        sqlite3_bind_int64(insert, 2, catalogue::Database::kAnalysisVersion);
        sqlite3_bind_blob(insert, 3, all.data() + i * kWidth, static_cast<int>(kWidth * sizeof(float)), SQLITE_STATIC);
        sqlite3_step(insert);
        sqlite3_reset(insert);
    }
    sqlite3_finalize(insert);
    sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    sqlite3_close(db);
    std::ofstream(dir + "/done") << "";
    return file;
}

double residentMB()
{
    std::ifstream statm("/proc/self/statm");
    long pages = 0;
    long resident = 0;
    statm >> pages >> resident;
    return static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE)) / 1e6;
}

struct Answers : Catalogue::Listener {
    std::atomic<std::uint64_t> answered{0};
    std::size_t found = 0;
    void catalogueFoldersChanged(std::vector<CataloguedFolder>) override { }
    void catalogueListArrived(std::uint64_t, RecordStorePtr) override { }
    void catalogueMarksArrived(const RecordStorePtr &, std::vector<Marks>) override { }
    void catalogueCheckFound(std::uint64_t, Changes) override { }
    void catalogueAsksToForget(const std::string &, std::uint64_t, std::uint64_t) override { }
    void catalogueProblem(Catalogue::Problem, const std::string &) override { }
    void catalogueAnalysesArrived(std::uint64_t request, const RecordStorePtr &,
                                  const std::vector<AnalysisResult> &) override
    {
        answered = request;
    }
    void catalogueSimilarFound(std::uint64_t request, const RecordStorePtr &,
                               const std::vector<Likeness> &nearest) override
    {
        found = nearest.size();
        answered = request;
    }
    // Runs the window's events until request is answered.
    void await(std::uint64_t request) const
    {
        while (answered.load() != request)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
    }
};

void similar(benchmark::State &state, bool everywhere)
{
    const auto count = static_cast<std::size_t>(state.range(0));
    const std::string file = catalogueOf(everywhere ? count : 1000000);
    Answers answers;
    catalogue::Library library(file);
    library.addListener(&answers);
    auto store = std::make_shared<RecordStore>();
    for (std::size_t i = 0; i < (everywhere ? 1000 : count); ++i)
        store->add(pathOf(i * 7 % 1000000));
    std::uint64_t request = 0;
    // The descriptions are read once, after the list's analyses: the
    // first search waits for them.
    const double before = residentMB();
    library.requestAnalyses(++request, store);
    answers.await(request);
    const auto start = std::chrono::steady_clock::now();
    library.findSimilar(++request, store, 0, kMost, everywhere);
    answers.await(request);
    state.counters["first_ms"] = static_cast<double>(
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count());
    state.counters["index_MB"] = residentMB() - before;
    std::uint32_t asked = 0;
    for (auto _ : state) {
        library.findSimilar(++request, store, asked, kMost, everywhere);
        answers.await(request);
        asked = (asked + 97) % store->size();
    }
    state.counters["found"] = static_cast<double>(answers.found);
    library.requestStop();
    library.waitStopped(std::chrono::steady_clock::now() + std::chrono::seconds(30));
}

void everywhere(benchmark::State &state)
{
    similar(state, true);
}
void inList(benchmark::State &state)
{
    similar(state, false);
}

void scan(benchmark::State &state)
{
    const auto count = static_cast<std::size_t>(state.range(0));
    const std::vector<float> all = descriptions(count, 7);
    catalogue::DescriptionIndex index(kWidth);
    index.reserve(count);
    for (std::size_t i = 0; i < count; ++i)
        index.put(static_cast<std::uint32_t>(i), std::span<const float>(all.data() + i * kWidth, kWidth));
    std::size_t q = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(index.nearest(std::span<const float>(all.data() + q * kWidth, kWidth), kMost));
        q = (q + 997) % count;
    }
}

void hnsw(benchmark::State &state)
{
    const auto count = static_cast<std::size_t>(state.range(0));
    const std::vector<float> all = descriptions(count, 7);
    hnswlib::L2Space space(kWidth);
    const auto start = std::chrono::steady_clock::now();
    hnswlib::HierarchicalNSW<float> index(&space, count, 12, 64);
    for (std::size_t i = 0; i < count; ++i)
        index.addPoint(all.data() + i * kWidth, i);
    state.counters["build_s"] = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    index.setEf(kMost + 50);
    std::size_t q = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(index.searchKnn(all.data() + q * kWidth, kMost));
        q = (q + 997) % count;
    }
}

void duplicates(benchmark::State &state)
{
    const auto count = static_cast<std::uint32_t>(state.range(0));
    RecordStore store;
    std::vector<std::uint32_t> rows;
    for (std::uint32_t i = 0; i < count; ++i) {
        store.add(pathOf(i));
        SoundTraits traits;
        traits.state = SoundTraits::State::Analysed;
        // Every tenth sound a copy of the one before it.
        traits.audioHash = 0x9E3779B97F4A7C15ULL * (i % 10 == 9 ? i : i + 1);
        store.setTraits(i, traits);
        rows.push_back(i);
    }
    for (auto _ : state)
        benchmark::DoNotOptimize(duplicateGroups(store, rows));
    state.counters["groups"] = static_cast<double>(duplicateGroups(store, rows).size() / 2);
}

} // namespace

BENCHMARK(everywhere)->Name("similar/everywhere")->Arg(1000000)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(inList)->Name("similar/list")->Arg(10000)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(scan)->Name("scan")->Arg(1000000)->Unit(benchmark::kMillisecond);
BENCHMARK(hnsw)->Name("hnsw")->Arg(100000)->Unit(benchmark::kMillisecond)->Iterations(200);
BENCHMARK(duplicates)->Name("duplicates")->Arg(100000)->Unit(benchmark::kMillisecond);

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
