// BackupJob::copyFile against `cp -a` on the same data in one run: one 1 GiB
// file, and a folder of 10,000 files of 4 KiB. Sources are read once before
// timing so the page cache is warm for both; each iteration writes into a
// fresh target folder that is removed outside the timed part.
//
//   build/release/bench/CopyFileBench [--benchmark_filter=...]
// Data goes to $ULV_BENCH_DIR (default: /tmp/ulv-bench).
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "base/ULVbase.h"
#include "engine/BackupJob.h"

namespace fs = std::filesystem;
using terbin::TBString;

namespace {

fs::path benchRoot() {
    const char* dir = std::getenv("ULV_BENCH_DIR");
    return fs::path(dir ? dir : "/tmp/ulv-bench");
}

void writeData(const fs::path& path, size_t size) {
    std::vector<char> block(1 << 20);
    for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<char>(i * 2654435761u >> 13);
    std::ofstream out(path, std::ios::binary);
    for (size_t done = 0; done < size;) {
        const size_t n = std::min(block.size(), size - done);
        out.write(block.data(), static_cast<std::streamsize>(n));
        done += n;
    }
}

void warm(const fs::path& path) {
    std::vector<char> buffer(1 << 20);
    if (fs::is_directory(path)) {
        for (const auto& e : fs::directory_iterator(path)) warm(e.path());
        return;
    }
    std::ifstream in(path, std::ios::binary);
    while (in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()))) {
    }
}

const fs::path& bigFile() {
    static const fs::path path = [] {
        fs::create_directories(benchRoot());
        const fs::path p = benchRoot() / "big.bin";
        if (!fs::exists(p) || fs::file_size(p) != (1ull << 30))
            writeData(p, 1ull << 30);
        warm(p);
        return p;
    }();
    return path;
}

const fs::path& smallFiles() {
    static const fs::path path = [] {
        const fs::path p = benchRoot() / "small";
        if (!fs::exists(p / "f9999")) {
            fs::create_directories(p);
            for (int i = 0; i < 10000; ++i) writeData(p / ("f" + std::to_string(i)), 4096);
        }
        warm(p);
        return p;
    }();
    return path;
}

// Writes back what earlier iterations left dirty, so that no iteration pays
// for the one before it.
void settle() {
    sync();
}

void runCp(const fs::path& from, const fs::path& to) {
    const std::string command = "cp -a '" + from.string() + "' '" + to.string() + "'";
    if (std::system(command.c_str()) != 0)
        std::abort();
}

void BM_CopyFile_1GiB(benchmark::State& state) {
    const fs::path target = benchRoot() / "out";
    BackupSet set;
    theBaseApp.runAllowed = true;
    BackupJob job(&set);
    const TBString from = TBString::fromBytes(bigFile().string());
    for (auto _ : state) {
        state.PauseTiming();
        fs::remove_all(target);
        fs::create_directories(target);
        settle();
        state.ResumeTiming();
        job.copyFile(from, TBString::fromBytes((target / "big.bin").string()));
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * (1ll << 30));
    fs::remove_all(target);
}

void BM_CpA_1GiB(benchmark::State& state) {
    const fs::path target = benchRoot() / "out";
    bigFile();
    for (auto _ : state) {
        state.PauseTiming();
        fs::remove_all(target);
        fs::create_directories(target);
        settle();
        state.ResumeTiming();
        runCp(bigFile(), target / "big.bin");
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * (1ll << 30));
    fs::remove_all(target);
}

void BM_CopyFile_10000x4KiB(benchmark::State& state) {
    const fs::path target = benchRoot() / "out";
    BackupSet set;
    theBaseApp.runAllowed = true;
    BackupJob job(&set);
    std::vector<std::pair<TBString, TBString>> pairs;
    for (int i = 0; i < 10000; ++i) {
        const std::string name = "f" + std::to_string(i);
        pairs.emplace_back(TBString::fromBytes((smallFiles() / name).string()),
                           TBString::fromBytes((target / name).string()));
    }
    for (auto _ : state) {
        state.PauseTiming();
        fs::remove_all(target);
        settle();
        state.ResumeTiming();
        fs::create_directory(target);  // cp -a makes its folder too
        for (const auto& [from, to] : pairs) job.copyFile(from, to);
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * 10000);
    fs::remove_all(target);
}

void BM_CpA_10000x4KiB(benchmark::State& state) {
    const fs::path target = benchRoot() / "out";
    smallFiles();
    for (auto _ : state) {
        state.PauseTiming();
        fs::remove_all(target);
        settle();
        state.ResumeTiming();
        runCp(smallFiles(), target);
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * 10000);
    fs::remove_all(target);
}

}  // namespace

BENCHMARK(BM_CopyFile_1GiB)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();
BENCHMARK(BM_CpA_1GiB)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();
BENCHMARK(BM_CopyFile_10000x4KiB)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();
BENCHMARK(BM_CpA_10000x4KiB)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();

BENCHMARK_MAIN();
