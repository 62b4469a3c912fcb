// Marks while a large folder is recorded, and what the catalogue costs:
//   markDuringRecording/N  N sounds (paths of no file, looked at quickly)
//       recorded into a new catalogue; once the first of them has landed,
//       a favourite is set every 100 ms on a sound recorded before, and
//       each is timed from the call to the moment another connection sees
//       it (mark_ms_max, mark_ms_median), against the whole recording
//       (record_ms); the write-ahead log's largest size meanwhile
//       (wal_MB_max) and after the catalogue is closed (wal_MB_after), and
//       the database's size per sound after closing (bytes_per_sound).
//   stopDuringRecording/N  the same recording, stopped (as at quit) once its
//       first rows have landed: the time the stop takes (stop_ms), and how
//       many of the sounds were kept (kept).
#include <benchmark/benchmark.h>

#include <sqlite3.h>
#include <unistd.h>

#include <QCoreApplication>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "catalogue/library.h"
#include "core/records.h"

using namespace auralist;
namespace fs = std::filesystem;
using Steady = std::chrono::steady_clock;

namespace {

int favouriteIn(sqlite3 *db, const std::string &path)
{
    sqlite3_stmt *st = nullptr;
    sqlite3_prepare_v2(db, "SELECT s.favourite FROM sounds s JOIN sound_paths p ON p.id = s.id WHERE p.path = ?", -1,
                       &st, nullptr);
    sqlite3_bind_blob(st, 1, path.data(), static_cast<int>(path.size()), SQLITE_TRANSIENT);
    const int found = sqlite3_step(st) == SQLITE_ROW ? sqlite3_column_int(st, 0) : -1;
    sqlite3_finalize(st);
    return found;
}

double megabytes(const std::string &path)
{
    std::error_code error;
    const auto size = fs::file_size(path, error);
    return error ? 0.0 : static_cast<double>(size) / 1e6;
}

void markDuringRecording(benchmark::State &state)
{
    const auto count = static_cast<std::size_t>(state.range(0));
    for (auto _ : state) {
        const fs::path dir = fs::temp_directory_path() / ("auralist-catalogue-bench-" + std::to_string(::getpid()));
        fs::remove_all(dir);
        fs::create_directories(dir / "Known");
        const std::string file = (dir / "library.db").string();
        std::vector<std::string> known;
        for (int i = 0; i < 50; ++i) {
            known.push_back((dir / "Known" / ("k" + std::to_string(i) + ".wav")).string());
            std::ofstream(known.back()) << "k" << i;
        }
        std::vector<double> marks;
        double recordMs = 0;
        double walMax = 0;
        {
            catalogue::Library library(file);
            auto knownStore = std::make_shared<RecordStore>();
            for (const auto &p : known)
                knownStore->add(p);
            library.recordIntake({(dir / "Known").string()}, knownStore);
            std::atomic<bool> ready{false};
            library.whenWritten([&] { ready = true; });
            while (!ready)
                std::this_thread::sleep_for(std::chrono::milliseconds(5));

            auto big = std::make_shared<RecordStore>();
            const std::string root = (dir / "Big").string();
            for (std::size_t i = 0; i < count; ++i)
                big->add(root + "/folder " + std::to_string(i / 1000) + "/sound " + std::to_string(i) + ".wav");
            std::atomic<bool> recorded{false};
            const auto start = Steady::now();
            library.recordIntake({root}, big);
            library.whenWritten([&] { recorded = true; });
            sqlite3 *reader = nullptr;
            sqlite3_open_v2(file.c_str(), &reader, SQLITE_OPEN_READONLY, nullptr);
            sqlite3_busy_timeout(reader, 1000);
            const std::string first(big->path(0));
            while (favouriteIn(reader, first) < 0 && !recorded)
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
            for (std::size_t k = 0; !recorded && k < known.size(); ++k) {
                const auto asked = Steady::now();
                library.setFavourite({known[k]}, true);
                while (favouriteIn(reader, known[k]) != 1)
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
                marks.push_back(std::chrono::duration<double, std::milli>(Steady::now() - asked).count());
                walMax = std::max(walMax, megabytes(file + "-wal"));
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
            }
            while (!recorded) {
                walMax = std::max(walMax, megabytes(file + "-wal"));
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
            recordMs = std::chrono::duration<double, std::milli>(Steady::now() - start).count();
            sqlite3_close(reader);
        }
        std::sort(marks.begin(), marks.end());
        state.counters["record_ms"] = recordMs;
        state.counters["marks"] = static_cast<double>(marks.size());
        state.counters["mark_ms_median"] = marks.empty() ? 0 : marks[marks.size() / 2];
        state.counters["mark_ms_max"] = marks.empty() ? 0 : marks.back();
        state.counters["wal_MB_max"] = walMax;
        state.counters["wal_MB_after"] = megabytes(file + "-wal");
        state.counters["bytes_per_sound"] = megabytes(file) * 1e6 / static_cast<double>(count + known.size());
        fs::remove_all(dir);
    }
}

void stopDuringRecording(benchmark::State &state)
{
    const auto count = static_cast<std::size_t>(state.range(0));
    for (auto _ : state) {
        const fs::path dir = fs::temp_directory_path() / ("auralist-catalogue-stop-" + std::to_string(::getpid()));
        fs::remove_all(dir);
        fs::create_directories(dir);
        const std::string file = (dir / "library.db").string();
        double stopMs = 0;
        {
            catalogue::Library library(file);
            auto big = std::make_shared<RecordStore>();
            const std::string root = (dir / "Big").string();
            for (std::size_t i = 0; i < count; ++i)
                big->add(root + "/folder " + std::to_string(i / 1000) + "/sound " + std::to_string(i) + ".wav");
            library.recordIntake({root}, big);
            sqlite3 *reader = nullptr;
            sqlite3_open_v2(file.c_str(), &reader, SQLITE_OPEN_READONLY, nullptr);
            sqlite3_busy_timeout(reader, 1000);
            const std::string first(big->path(0));
            while (favouriteIn(reader, first) < 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
            sqlite3_close(reader);
            const auto asked = Steady::now();
            library.requestStop();
            library.waitStopped(asked + std::chrono::seconds(30));
            stopMs = std::chrono::duration<double, std::milli>(Steady::now() - asked).count();
        }
        sqlite3 *db = nullptr;
        sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
        sqlite3_stmt *st = nullptr;
        sqlite3_prepare_v2(db, "SELECT count(*) FROM sounds", -1, &st, nullptr);
        const double kept = sqlite3_step(st) == SQLITE_ROW ? sqlite3_column_double(st, 0) : 0;
        sqlite3_finalize(st);
        sqlite3_close(db);
        state.counters["stop_ms"] = stopMs;
        state.counters["kept"] = kept;
        fs::remove_all(dir);
    }
}

} // namespace

BENCHMARK(stopDuringRecording)->Arg(1000000)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(markDuringRecording)->Arg(1000000)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

int main(int argc, char **argv)
{
    // The catalogue answers through a mailbox on the thread that made it.
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
