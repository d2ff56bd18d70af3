#include "foundation/TBRegistry.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "foundation/TBResult.h"
#include "support/TempDir.h"

using namespace terbin;
namespace fs = std::filesystem;

namespace {

TBString stored(TBRegistryKey& key, const TBString& name) {
    TBValue value;
    return key.getValue(name, value) == TB_OK ? value.toString() : TBString(L"<missing>");
}

TBStringArray subkeys(const TBString& path) {
    TBRegistryKey key(TBHiveCurrentUser, path, false);
    TBStringArray names{L"left from before"};
    key.keyNames(names);
    return names;
}

}  // namespace

class Registry : public ::testing::Test {
protected:
    Registry() { setenv("ULVAREN_REGISTRY", store.c_str(), 1); }
    ~Registry() override { unsetenv("ULVAREN_REGISTRY"); }

    TempDir dir;
    const std::string store = dir / "registry.db";
};

TEST_F(Registry, ValuesComeBackWithTheirTypeAndExactBytesFromAPrivateStore) {
    const TBString text = TBString(L"caf\u00e9 \U0001F600 ") + TBString::fromBytes("\xff\x80\xe9");
    const unsigned char binary[] = {0, 1, 0, 0xff, 0};
    const TBMultiString list(TBStringArray{L"/a", L"", text});
    const TBRegistryValue values[] = {{L"s", text},
                                      {L"d", -5},
                                      {L"b", RegBinary, binary, sizeof binary},
                                      {L"m", RegMultiString, list.data(), list.datasize()}};
    for (const auto& value : values) TBRegistryKey(TBHiveCurrentUser, L"T", true).setValue(value);
    EXPECT_EQ(fs::status(store).permissions(), fs::perms::owner_read | fs::perms::owner_write);
    TBRegistryKey key(TBHiveCurrentUser, L"t", false);
    TBValue read;
    for (const auto& value : values) {
        EXPECT_EQ(key.getValue(value.getName(), read), TB_OK);
        EXPECT_EQ(read, value) << value.getName().narrow();
    }
}

TEST_F(Registry, SubkeysKeepCreationOrderIgnoreCaseAndRemovalTakesTheWholeBranchOnly) {
    for (const wchar_t* path : {L"R/b", L"R/Alpha", L"r/ALPHA/x", L"R/B/y"})
        TBRegistryKey(TBHiveCurrentUser, path, true).setValue(TBRegistryValue(L"v", path));
    EXPECT_EQ(subkeys(L"R"), (TBStringArray{L"b", L"Alpha"}));
    TBRegistryKey held(TBHiveCurrentUser, L"R/b/y", false);
    EXPECT_EQ(tb_registry_removeKey(TBHiveCurrentUser, L"r/B"), TB_OK);
    EXPECT_EQ(held.setValue(TBRegistryValue(L"v", 1)), TB_KEY_DELETED);
    EXPECT_EQ(subkeys(L"/r//"), TBStringArray{L"Alpha"});
    TBRegistryKey other(TBHiveCurrentUser, L"R/alpha/X", false);
    EXPECT_EQ(stored(other, L"V"), TBString(L"r/ALPHA/x"));
}

TEST_F(Registry, TransactionShowsNothingUntilCommittedAndNothingWhenAbandoned) {
    TBRegistryKey parent(TBHiveCurrentUser, L"P", true);
    TBRegistryKey observer(TBHiveCurrentUser, L"P", false);
    {
        TBRegistryTransaction transaction(parent);
        TBRegistryKey child(parent, L"new", true);
        EXPECT_EQ(child.setValue(TBRegistryValue(L"v", 1)), TB_OK);
        EXPECT_FALSE(observer.keyExists(L"new"));
        EXPECT_EQ(transaction.commit(), TB_OK);
    }
    EXPECT_TRUE(observer.keyExists(L"new"));
    {
        TBRegistryTransaction transaction(parent);
        TBRegistryKey(parent, L"abandoned", true).setValue(TBRegistryValue(L"v", 1));
        parent.setValue(TBRegistryValue(L"v", 2));
    }
    EXPECT_EQ(subkeys(L"P"), TBStringArray{L"new"});
    EXPECT_EQ(stored(observer, L"v"), TBString(L"<missing>"));
}

TEST_F(Registry, UnusableStoreIsLeftByteForByteAndBehavesAsEmpty) {
    const std::string damaged = "SQLite format 3" + std::string(1, '\0') + "torn page";
    for (const std::string& contents : {std::string("not a database\n"), damaged}) {
        writeFile(store, contents);
        TBRegistryKey key(TBHiveCurrentUser, L"Software/X", true);
        EXPECT_FALSE(key.isOpen());
        EXPECT_NE(key.setValue(TBRegistryValue(L"v", 1)), TB_OK);
        EXPECT_EQ(subkeys(L"Software"), TBStringArray{});
        EXPECT_NE(tb_registry_removeKey(TBHiveCurrentUser, L"Software"), TB_OK);
        EXPECT_EQ(readFile(store), contents);
        EXPECT_FALSE(fs::exists(store + "-wal"));
        EXPECT_FALSE(fs::exists(store + "-journal"));
    }
}

TEST_F(Registry, TwoProcessesCreatingAndWritingTheStoreAtOnceBothSucceed) {
    constexpr int Writes = 12;
    // Each round the two race to lay out a fresh store, then on writing to it.
    for (int round = 0; round < 10; ++round) {
        setenv("ULVAREN_REGISTRY", (dir / ("fresh" + std::to_string(round) + ".db")).c_str(), 1);
        pid_t children[2];
        for (int n = 0; n < 2; ++n) {
            if ((children[n] = fork()) == 0) {
                int failures = 0;
                for (int i = 0; i < Writes; ++i) {
                    TBRegistryKey key(TBHiveCurrentUser, L"Shared/" + TBString::valueOf(i % 3),
                                      true);
                    TBRegistryTransaction transaction(key);
                    failures += key.setValue(TBRegistryValue(TBString::valueOf(n * Writes + i), i));
                    failures += key.setValue(TBRegistryValue(L"last", n)) + transaction.commit();
                }
                _exit(failures == 0 ? 0 : 1);
            }
        }
        for (pid_t child : children) {
            int status = -1;
            waitpid(child, &status, 0);
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "round " << round;
        }
        TBValue value;
        for (int i = 0; i < 2 * Writes; ++i) {
            TBRegistryKey key(TBHiveCurrentUser, L"shared/" + TBString::valueOf(i % Writes % 3),
                              false);
            EXPECT_EQ(key.getValue(TBString::valueOf(i), value), TB_OK) << round << " " << i;
            EXPECT_EQ(value.toInt32(), i % Writes);
        }
    }
}
