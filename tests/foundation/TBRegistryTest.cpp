#include "foundation/TBRegistry.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

#include "foundation/TBResult.h"
#include "support/TempDir.h"

using namespace terbin;

namespace {

// Sets an environment variable (or unsets it, for nullopt) until destroyed.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const std::optional<std::string>& value) : name_(name) {
        if (const char* old = std::getenv(name))
            old_ = old;
        value ? setenv(name, value->c_str(), 1) : unsetenv(name);
    }
    ~ScopedEnv() { old_ ? setenv(name_, old_->c_str(), 1) : unsetenv(name_); }

private:
    const char* name_;
    std::optional<std::string> old_;
};

int modeOf(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 ? static_cast<int>(info.st_mode & 07777) : -1;
}

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
    TempDir dir;
    const std::string store = dir / "registry.db";
    ScopedEnv env{"ULVAREN_REGISTRY", store};
};

TEST_F(Registry, ValueNamesIgnoreLetterCaseAndKeepTheLatestSpelling) {
    TBRegistryKey key(TBHiveCurrentUser, L"Software/Test", true);
    ASSERT_TRUE(key.isOpen());
    EXPECT_EQ(key.setValue(TBRegistryValue(L"Ärger", L"first")), TB_OK);
    EXPECT_EQ(key.setValue(TBRegistryValue(L"äRGER", L"second")), TB_OK);
    EXPECT_EQ(stored(key, L"ärger"), TBString(L"second"));
    EXPECT_EQ(key.removeValue(L"ÄRGER"), TB_OK);
    EXPECT_EQ(stored(key, L"Ärger"), TBString(L"<missing>"));
    EXPECT_EQ(key.removeValue(L"Ärger"), TB_FILE_NOT_FOUND);
}

TEST_F(Registry, ValuesComeBackWithTheirTypeAndExactBytes) {
    const TBString text = TBString(L"caf\u00e9 \U0001F600 ") + TBString::fromBytes("\xff\x80\xe9");
    const unsigned char binary[] = {0, 1, 0, 0xff, 0};
    const TBMultiString list(TBStringArray{L"/a", L"", text});
    const TBRegistryValue values[] = {{L"s", text},
                                      {L"d", -5},
                                      {L"b", RegBinary, binary, sizeof binary},
                                      {L"m", RegMultiString, list.data(), list.datasize()}};
    for (const auto& value : values) TBRegistryKey(TBHiveCurrentUser, L"T", true).setValue(value);
    TBRegistryKey key(TBHiveCurrentUser, L"t", false);
    TBValue read;
    for (const auto& value : values) {
        EXPECT_EQ(key.getValue(value.getName(), read), TB_OK);
        EXPECT_EQ(read, value) << value.getName().narrow();
    }
    TBStringArray entries;
    EXPECT_EQ(TBMultiString(read).toStringArray(entries), 3);
    EXPECT_EQ(entries, (TBStringArray{L"/a", L"", text}));
    EXPECT_NE(key.getValue(L"absent", read), TB_OK);
    EXPECT_EQ(read.getType(), RegMultiString) << "a missing value leaves the holder alone";
    EXPECT_EQ(TBValue(-5).toString(), TBString(L"-5"));
    EXPECT_EQ(TBValue(TBString(L"42 apples")).toInt32(), 42);
}

TEST(MultiString, BlockIsEntriesEachEndedByNulAndOneMoreNul) {
    const TBMultiString block(TBStringArray{L"ab", L"c"});
    EXPECT_EQ(std::wstring(block.data(), block.datasize() / sizeof(wchar_t)),
              std::wstring(L"ab\0c\0\0", 6));
    EXPECT_EQ(TBMultiString(TBStringArray{}).datasize(), sizeof(wchar_t));
}

TEST_F(Registry, SubkeysAreListedInOrderOfCreationWithTheirFirstSpelling) {
    for (const wchar_t* path : {L"R/b", L"R/Alpha", L"R/c", L"r/ALPHA/x", L"R/B/y"}) {
        TBRegistryKey(TBHiveCurrentUser, path, true);
    }
    EXPECT_EQ(subkeys(L"R"), (TBStringArray{L"b", L"Alpha", L"c"}));
    EXPECT_EQ(tb_registry_removeKey(TBHiveCurrentUser, L"r/b"), TB_OK);
    TBRegistryKey(TBHiveCurrentUser, L"R/b", true);
    EXPECT_EQ(subkeys(L"/r//"), (TBStringArray{L"Alpha", L"c", L"b"}));
    TBRegistryKey root(TBHiveCurrentUser, L"R", false);
    EXPECT_TRUE(root.keyExists(L"alpha/X"));
    EXPECT_FALSE(root.keyExists(L"alpha/y"));
}

TEST_F(Registry, RemovingAKeyTakesItsValuesAndSubkeysAndNothingElse) {
    for (const wchar_t* path : {L"S/x", L"S/x/y", L"S/x/y/z", L"S/w"}) {
        TBRegistryKey(TBHiveCurrentUser, path, true).setValue(TBRegistryValue(L"v", path));
    }
    TBRegistryKey held(TBHiveCurrentUser, L"S/x/y", false);
    EXPECT_EQ(tb_registry_removeKey(TBHiveCurrentUser, L"s/X"), TB_OK);
    EXPECT_EQ(subkeys(L"S"), TBStringArray{L"w"});
    EXPECT_EQ(held.setValue(TBRegistryValue(L"v", 1)), TB_KEY_DELETED);
    TBRegistryKey again(TBHiveCurrentUser, L"S/x", true);
    EXPECT_EQ(stored(again, L"v"), TBString(L"<missing>"));
    EXPECT_EQ(subkeys(L"S/x"), TBStringArray{});
    TBRegistryKey sibling(TBHiveCurrentUser, L"S/w", false);
    EXPECT_EQ(stored(sibling, L"v"), TBString(L"S/w"));
    EXPECT_EQ(tb_registry_removeKey(TBHiveCurrentUser, L"S/gone"), TB_FILE_NOT_FOUND);
    EXPECT_EQ(tb_registry_removeKey(TBHiveCurrentUser, L"/"), TB_INVALID_PARAMETER);
}

TEST_F(Registry, TransactionShowsNothingUntilCommittedAndNothingWhenAbandoned) {
    TBRegistryKey parent(TBHiveCurrentUser, L"P", true);
    TBRegistryKey observer(TBHiveCurrentUser, L"P", false);
    {
        TBRegistryTransaction transaction(parent);
        TBRegistryKey child(parent, L"new", true);
        EXPECT_EQ(child.setValue(TBRegistryValue(L"v", 1)), TB_OK);
        EXPECT_FALSE(observer.keyExists(L"new"));
        EXPECT_EQ(TBRegistryTransaction(child).commit(), TB_INVALID_PARAMETER);
        EXPECT_EQ(transaction.commit(), TB_OK);
        EXPECT_EQ(transaction.commit(), TB_INVALID_PARAMETER);
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

TEST_F(Registry, ReadingAMissingStoreCreatesNothing) {
    TBRegistryKey key(TBHiveCurrentUser, L"A", false);
    EXPECT_FALSE(key.isOpen());
    EXPECT_EQ(key.setValue(TBRegistryValue(L"v", 1)), TB_FILE_NOT_FOUND);
    EXPECT_EQ(tb_registry_removeKey(TBHiveCurrentUser, L"A"), TB_FILE_NOT_FOUND);
    EXPECT_FALSE(std::filesystem::exists(store));
}

TEST_F(Registry, StoreIsFoundWhereTheEnvironmentSaysAndMadeForTheOwnerAlone) {
    EXPECT_EQ(tb_registry_storePath(TBHiveCurrentUser), TBString::fromBytes(store));
    ScopedEnv unset("ULVAREN_REGISTRY", std::nullopt);
    ScopedEnv home("HOME", dir.path());
    {
        ScopedEnv relative("XDG_CONFIG_HOME", "relative/ignored");
        EXPECT_EQ(tb_registry_storePath(TBHiveCurrentUser),
                  TBString::fromBytes(dir / ".config/ulvaren/registry.db"));
    }
    ScopedEnv config("XDG_CONFIG_HOME", dir / "cfg");
    const std::string expected = dir / "cfg/ulvaren/registry.db";
    EXPECT_EQ(tb_registry_storePath(TBHiveCurrentUser), TBString::fromBytes(expected));
    EXPECT_TRUE(TBRegistryKey(TBHiveCurrentUser, L"K", true).isOpen());
    EXPECT_EQ(modeOf(dir / "cfg"), 0700);
    EXPECT_EQ(modeOf(dir / "cfg/ulvaren"), 0700);
    EXPECT_EQ(modeOf(expected), 0600);
}

TEST_F(Registry, UnusableStoreIsLeftByteForByteAndBehavesAsEmpty) {
    sqlite3* other = nullptr;
    sqlite3_open((dir / "other.db").c_str(), &other);
    sqlite3_exec(other, "CREATE TABLE t(x); INSERT INTO t VALUES(1)", nullptr, nullptr, nullptr);
    sqlite3_close(other);
    const std::string damaged = "SQLite format 3" + std::string(1, '\0') + "torn page";
    for (const std::string& contents :
         {std::string("not a database\n"), damaged, readFile(dir / "other.db")}) {
        writeFile(store, contents);
        TBRegistryKey key(TBHiveCurrentUser, L"Software/X", true);
        EXPECT_FALSE(key.isOpen());
        EXPECT_NE(key.setValue(TBRegistryValue(L"v", 1)), TB_OK);
        EXPECT_EQ(subkeys(L"Software"), TBStringArray{});
        EXPECT_NE(tb_registry_removeKey(TBHiveCurrentUser, L"Software"), TB_OK);
        EXPECT_EQ(readFile(store), contents);
        EXPECT_FALSE(std::filesystem::exists(store + "-wal"));
        EXPECT_FALSE(std::filesystem::exists(store + "-journal"));
    }
    writeFile(store, "");
    EXPECT_TRUE(TBRegistryKey(TBHiveCurrentUser, L"Software/X", true).isOpen())
        << "an empty file holds nothing to keep";
}

TEST_F(Registry, TwoProcessesWritingAtOnceBothSucceed) {
    constexpr int Rounds = 60;
    int go[2];
    ASSERT_EQ(pipe(go), 0);
    pid_t children[2];
    for (int n = 0; n < 2; ++n) {
        if ((children[n] = fork()) == 0) {
            char byte;
            int failures = read(go[0], &byte, 1) == 1 ? 0 : 1;
            for (int i = 0; i < Rounds; ++i) {
                TBRegistryKey key(TBHiveCurrentUser, L"Shared/" + TBString::valueOf(i % 3), true);
                TBRegistryTransaction transaction(key);
                failures += key.setValue(TBRegistryValue(TBString::valueOf(n * Rounds + i), i));
                failures += key.setValue(TBRegistryValue(L"last", n)) + transaction.commit();
            }
            _exit(failures == 0 ? 0 : 1);
        }
    }
    ASSERT_EQ(write(go[1], "gg", 2), 2);
    for (pid_t child : children) {
        int status = -1;
        waitpid(child, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    TBValue value;
    for (int i = 0; i < 2 * Rounds; ++i) {
        TBRegistryKey key(TBHiveCurrentUser, L"shared/" + TBString::valueOf(i % Rounds % 3), false);
        EXPECT_EQ(key.getValue(TBString::valueOf(i), value), TB_OK) << i;
        EXPECT_EQ(value.toInt32(), i % Rounds);
    }
    close(go[0]);
    close(go[1]);
}
