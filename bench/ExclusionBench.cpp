// Cost of the exclusion tests the copy makes for every file and folder it
// meets, over ~10,000 generated names and paths of a home folder. The
// "per_file" counter is the time for one name.
#include <benchmark/benchmark.h>

#include <random>
#include <string>
#include <vector>

#include "backupset/BackupSet.h"

using terbin::TBString;

namespace {

constexpr int FileCount = 10000;

struct Corpus {
    std::vector<TBString> names;
    std::vector<TBString> folders;
};

const Corpus& corpus() {
    static const Corpus generated = [] {
        const std::vector<std::wstring> stems = {
            L"report", L"IMG_", L"DSC",    L"notes",  L"invoice", L"Thumbs", L"ntuser",
            L"budget", L"main", L"index",  L"README", L"photo",   L"backup", L"~$letter",
            L"Ärger",  L"café", L"Straße", L"setup",  L"data",    L"song"};
        const std::vector<std::wstring> extensions = {
            L".docx", L".jpg", L".tmp", L".pdf", L".xlsx", L".txt", L".db",  L".dat",
            L".LOG1", L".cpp", L".h",   L".mp3", L".png",  L".TMP", L".bak", L""};
        const std::vector<std::wstring> components = {
            L"Documents", L"Projects", L"src",      L"Temp",  L"AppData", L"node_modules",
            L"Users",     L"Pictures", L"2023",     L"Local", L"Cache",   L"Music",
            L"build",     L"Roaming",  L"Vacation", L"old",   L"Desktop", L"Übersicht"};
        std::mt19937 random(7);
        const auto pick = [&](const std::vector<std::wstring>& from) {
            return from[random() % from.size()];
        };
        Corpus c;
        for (int i = 0; i < FileCount; ++i) {
            std::wstring name = pick(stems);
            if (random() % 2)
                name += std::to_wstring(random() % 10000);
            c.names.emplace_back(name + pick(extensions));

            std::wstring folder = (random() % 3 ? L"/home/" : L"C:/Users/") +
                                  std::wstring(random() % 2 ? L"ann" : L"joe");
            for (int depth = 1 + static_cast<int>(random() % 6); depth > 0; --depth) {
                folder += L"/" + pick(components);
            }
            c.folders.emplace_back(folder);
        }
        return c;
    }();
    return generated;
}

BackupSet& typicalSet() {
    static BackupSet set = [] {
        BackupSet s;
        s.includeFiles.add(L"*");
        for (const wchar_t* pattern : {L"*.tmp", L"thumbs.db", L"ntuser.dat*"}) {
            s.excludeFile(pattern);
        }
        for (const wchar_t* pattern : {L"Temp", L"Users/*/AppData", L"node_modules", L"Cache*"}) {
            s.excludeFolder(pattern);
        }
        return s;
    }();
    return set;
}

// The same amount of patterns, each with an operator that leaves it to ICU.
BackupSet& classPatternSet() {
    static BackupSet set = [] {
        BackupSet s;
        for (const wchar_t* pattern : {L"*.[ot]mp", L"thumbs.d[b]", L"ntuser.dat*", L"~$*"}) {
            s.excludeFile(pattern);
        }
        for (const wchar_t* pattern :
             {L"Tem[p]", L"Users/*/App(Data)", L"node_modules", L"Cache*"}) {
            s.excludeFolder(pattern);
        }
        return s;
    }();
    return set;
}

void setPerFile(benchmark::State& state) {
    state.counters["per_file"] = benchmark::Counter(
        FileCount, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void runFiles(benchmark::State& state, const BackupSet& set) {
    const Corpus& c = corpus();
    for (auto _ : state) {
        int excluded = 0;
        for (const TBString& name : c.names) excluded += set.isFileExcluded(name);
        benchmark::DoNotOptimize(excluded);
    }
    setPerFile(state);
}

void runFolders(benchmark::State& state, const BackupSet& set) {
    const Corpus& c = corpus();
    for (auto _ : state) {
        int excluded = 0;
        for (const TBString& folder : c.folders) excluded += set.isFolderExcluded(folder);
        benchmark::DoNotOptimize(excluded);
    }
    setPerFile(state);
}

void runBoth(benchmark::State& state, const BackupSet& set) {
    const Corpus& c = corpus();
    for (auto _ : state) {
        int excluded = 0;
        for (int i = 0; i < FileCount; ++i) {
            excluded += set.isFolderExcluded(c.folders[i]);
            excluded += set.isFileExcluded(c.names[i]);
        }
        benchmark::DoNotOptimize(excluded);
    }
    setPerFile(state);
}

void BM_IsFileExcluded(benchmark::State& state) {
    runFiles(state, typicalSet());
}
void BM_IsFolderExcluded(benchmark::State& state) {
    runFolders(state, typicalSet());
}
void BM_FileAndFolderExcluded(benchmark::State& state) {
    runBoth(state, typicalSet());
}
void BM_IsFileExcludedIcuPatterns(benchmark::State& state) {
    runFiles(state, classPatternSet());
}
void BM_IsFolderExcludedIcuPatterns(benchmark::State& state) {
    runFolders(state, classPatternSet());
}

BENCHMARK(BM_IsFileExcluded);
BENCHMARK(BM_IsFolderExcluded);
BENCHMARK(BM_FileAndFolderExcluded);
BENCHMARK(BM_IsFileExcludedIcuPatterns);
BENCHMARK(BM_IsFolderExcludedIcuPatterns);

}  // namespace

BENCHMARK_MAIN();
