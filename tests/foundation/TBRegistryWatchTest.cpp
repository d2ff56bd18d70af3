#include "foundation/TBRegistryWatch.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "foundation/TBRegistry.h"
#include "foundation/TBResult.h"
#include "support/TempDir.h"

using namespace terbin;
namespace fs = std::filesystem;

namespace {

void write(const wchar_t* key, int32_t number) {
    TBRegistryKey(TBHiveCurrentUser, key, true).setValue(TBRegistryValue(L"v", number));
}

// Runs `change` in a child process, as another program would, and waits for it.
void inAnotherProcess(const std::function<void()>& change) {
    const pid_t child = fork();
    if (child == 0) {
        change();
        _exit(0);
    }
    int status = -1;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

}  // namespace

class RegistryWatch : public ::testing::Test {
protected:
    RegistryWatch() { setenv("ULVAREN_REGISTRY", store.c_str(), 1); }
    ~RegistryWatch() override { unsetenv("ULVAREN_REGISTRY"); }

    TempDir dir;
    const std::string store = dir / "registry.db";
};

// Each step happens, then the watch is asked twice: the first answer is the
// step's, the second must be "unchanged" as nothing happened in between.
TEST_F(RegistryWatch, SaysChangedOnceForEachCommitElsewhereAndNeverForReads) {
    TBRegistryWatch watch(TBHiveCurrentUser);  // before the store exists
    struct Step {
        const char* what;
        std::function<void()> happen;
        bool changed;
    };
    const std::vector<Step> steps{
        {"nothing, no store", [] {}, false},
        {"store made", [] { write(L"A", 1); }, true},
        {"read elsewhere",
         [] {
             TBValue v;
             TBRegistryKey(TBHiveCurrentUser, L"A", false).getValue(L"v", v);
         },
         false},
        {"value changed", [] { write(L"A", 2); }, true},
        {"value changed by another process", [] { inAnotherProcess([] { write(L"A", 3); }); },
         true},
        {"key removed by another process",
         [] { inAnotherProcess([] { tb_registry_removeKey(TBHiveCurrentUser, L"A"); }); }, true},
        {"transaction rolled back",
         [] {
             TBRegistryKey key(TBHiveCurrentUser, L"", false);
             TBRegistryTransaction transaction(key);
             TBRegistryKey(key, L"B", true);
         },
         false},
        {"store replaced by another file",
         [&] {
             fs::rename(store, dir / "old.db");
             fs::remove(store + "-wal");
             fs::remove(store + "-shm");
             write(L"C", 1);
         },
         true},
        {"other store chosen",
         [&] {
             setenv("ULVAREN_REGISTRY", (dir / "other.db").c_str(), 1);
             write(L"D", 1);
         },
         true},
        {"nothing", [] {}, false},
    };
    for (const Step& step : steps) {
        step.happen();
        EXPECT_EQ(watch.changed(), step.changed) << step.what;
        EXPECT_FALSE(watch.changed()) << "asked again after: " << step.what;
    }
}
