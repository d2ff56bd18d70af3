// A backup set, its source tree and its target in a temporary folder, with
// the application's run context set as a batch start would set it.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/ULVbase.h"
#include "engine/BackupJob.h"
#include "engine/RunLog.h"
#include "support/Eventually.h"
#include "support/FaultySystem.h"
#include "support/TempDir.h"

// Makes `folder` the current folder for the rest of the scope.
struct CurrentFolder {
    explicit CurrentFolder(const std::string& folder) { std::filesystem::current_path(folder); }
    ~CurrentFolder() { std::filesystem::current_path(previous, ignored); }
    std::filesystem::path previous = std::filesystem::current_path();
    std::error_code ignored;
};

class RunFixture : public ::testing::Test {
protected:
    void SetUp() override {
        // The set is saved, so its runs keep records and take its run lock,
        // in a registry of the test's own.
        setenv("ULVAREN_REGISTRY", (dir / "registry.db").c_str(), 1);
        theBaseApp.runAllowed = true;
        theBaseApp.backupDate = L"20261206";
        theBaseApp.backupDateTime = L"20261206-101500";
        theBaseApp.computerFolderName = L"pc";
        theBaseApp.defaultTargetFolder = terbin::TBString::fromBytes(dir / "default");
        source = dir / "src";
        target = dir / "dst";
        makeDirs(source);
        makeDirs(target);
        set.backupName = L"Docs";
        set.targetFolder = terbin::TBString::fromBytes(target);
        set.sourceFolders.add(terbin::TBString::fromBytes(source));
        ASSERT_FALSE(set.saveNew(L"").isEmpty());
    }
    void TearDown() override {
        theBaseApp.runAllowed = false;
        unsetenv("ULVAREN_REGISTRY");
    }

    // Copies straight into the target: no dated subfolder, no computer
    // folder, no full source path.
    void plainLayout() {
        set.backupType = NoSubfolder;
        set.backupFullPath = 0;
        set.backupAddComputerFolder = 0;
    }

    // a.txt, b.tmp, sub/c.txt, sub/deeper/d.txt and cache/e.txt: 5 files, 28 bytes.
    void writeTree() {
        writeFile(source + "/a.txt", "alpha");
        writeFile(source + "/b.tmp", "scratch");
        writeFile(source + "/sub/c.txt", "charlie!");
        writeFile(source + "/sub/deeper/d.txt", "delta");
        writeFile(source + "/cache/e.txt", "cached");
    }
    // The rest of the test copies into a new (empty) target folder `name`.
    void intoFreshTarget(const std::string& name) {
        target = dir / name;
        makeDirs(target);
        set.targetFolder = terbin::TBString::fromBytes(target);
    }
    // From the first open through `faults` of a path holding `part` on, the
    // folder `path` lies aside and a link to `outside` stands in its place.
    void swapForLinkWhenOpened(FaultySystem& faults, const std::string& part,
                               const std::string& path) {
        faults.on(FaultySystem::Open, part, [this, path](int call) {
            if (call == 0) {
                EXPECT_EQ(::rename(path.c_str(), (dir / "aside").c_str()), 0) << path;
                EXPECT_EQ(::symlink(outside.c_str(), path.c_str()), 0) << path;
            }
            return FaultySystem::Outcome();
        });
    }
    void run() {
        BackupJob job(&set);
        job.run();
    }
    // A run as if started at `stamp` ("YYYYMMDD-HHMMSS").
    void runAt(const std::string& stamp) {
        theBaseApp.backupDateTime = terbin::TBString::fromBytes(stamp);
        theBaseApp.backupDate = terbin::TBString::fromBytes(stamp.substr(0, 8));
        run();
    }
    // The names in `folder`, sorted; none when it cannot be listed.
    static std::vector<std::string> namesIn(const std::string& folder) {
        std::vector<std::string> names;
        std::error_code ignored;
        for (const auto& entry : std::filesystem::directory_iterator(folder, ignored))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
    std::vector<std::string> log() { return RunLog::readMessages(set.logFilePath); }
    // What follows `prefix` on the lines of the log that begin with it, in order.
    std::vector<std::string> logLines(const std::string& prefix) {
        std::vector<std::string> rests;
        for (const std::string& line : log()) {
            if (line.rfind(prefix, 0) == 0)
                rests.push_back(line.substr(prefix.size()));
        }
        return rests;
    }
    std::vector<std::string> strings(const terbin::TBStringArray& list) {
        std::vector<std::string> out;
        for (const auto& s : list) out.push_back(s.narrow());
        return out;
    }
    static struct stat statOf(const std::string& path) {
        struct stat st {};
        EXPECT_EQ(::lstat(path.c_str(), &st), 0) << path;
        return st;
    }

    TempDir dir;
    // A folder beside the source and target that no run may write to.
    const std::string outside = dir / "outside";
    std::string source;
    std::string target;
    BackupSet set;
};
