// Copying to a destination, in process, against cp in the same run:
//   copy/1000x1MB   1,000 files of 1 MB copied into a new folder on the
//                   same disk by the file operations (copy_file_range into
//                   an unnamed file, then linked under its name), and by
//                   `cp SOURCE/* DEST`, taking turns at going first, each
//                   begun with nothing left to write back; counter vs_cp is
//                   cp's time over ours (>= 0.9 wanted). AURALIST_BENCH_DIR
//                   names the disk's folder (default /var/tmp).
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <unistd.h>

#include "files/file_ops.h"

namespace {

namespace fs = std::filesystem;

double secondsOf(const std::function<void()> &run)
{
    const auto start = std::chrono::steady_clock::now();
    run();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void copyThousand(benchmark::State &state)
{
    const char *where = std::getenv("AURALIST_BENCH_DIR"); // NOLINT(concurrency-mt-unsafe)
    const fs::path root = fs::path(where ? where : "/var/tmp") / ("auralist-copy-bench-" + std::to_string(::getpid()));
    const fs::path source = root / "source";
    fs::create_directories(source);
    std::string block(std::size_t(1) << 20, '\0');
    std::mt19937 random(3);
    for (char &c : block)
        c = static_cast<char>(random());
    for (int i = 0; i < 1000; ++i) {
        block[0] = static_cast<char>(i);
        block[1] = static_cast<char>(i >> 8);
        std::ofstream(source / ("take " + std::to_string(i) + ".wav"), std::ios::binary) << block;
    }
    ::sync();
    double ours = 0;
    double cp = 0;
    int round = 0;
    for (auto _ : state) {
        const fs::path a = root / ("ours" + std::to_string(round));
        const fs::path b = root / ("cp" + std::to_string(round++));
        fs::create_directories(a);
        fs::create_directories(b);
        // Each begins with nothing left to write back, and they take turns
        // at going first.
        const auto byUs = [&] {
            ::sync();
            ours += secondsOf([&] {
                for (const auto &entry : fs::directory_iterator(source))
                    benchmark::DoNotOptimize(auralist::files::copyInto(entry.path().string(), a.string()));
            });
        };
        const std::string command = "cp '" + source.string() + "'/* '" + b.string() + "'";
        const auto byCp = [&] {
            ::sync();
            cp += secondsOf([&] {
                if (std::system(command.c_str()) != 0) // NOLINT(concurrency-mt-unsafe)
                    state.SkipWithError("cp failed");
            });
        };
        if (round % 2 == 1) {
            byUs();
            byCp();
        } else {
            byCp();
            byUs();
        }
        fs::remove_all(a);
        fs::remove_all(b);
    }
    state.counters["ours_ms"] = 1000 * ours / state.iterations();
    state.counters["cp_ms"] = 1000 * cp / state.iterations();
    state.counters["vs_cp"] = cp / ours;
    fs::remove_all(root);
}
BENCHMARK(copyThousand)->Name("copy/1000x1MB")->Unit(benchmark::kMillisecond)->Iterations(6);

} // namespace

BENCHMARK_MAIN();
