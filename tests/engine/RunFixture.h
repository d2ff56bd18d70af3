// A backup set, its source tree and its target in a temporary folder, with
// the application's run context set as a batch start would set it.
#pragma once

#include <sys/stat.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "base/ULVbase.h"
#include "engine/BackupJob.h"
#include "engine/RunLog.h"
#include "support/TempDir.h"

class RunFixture : public ::testing::Test {
protected:
    void SetUp() override {
        theBaseApp.runAllowed = true;
        theBaseApp.backupDate = L"20261206";
        theBaseApp.backupDateTime = L"20261206-101500";
        theBaseApp.computerFolderName = L"pc";
        theBaseApp.defaultTargetFolder = terbin::TBString::fromBytes(dir / "default");
        source = dir / "src";
        target = dir / "dst";
        makeDirs(source);
        set.backupName = L"Docs";
        set.targetFolder = terbin::TBString::fromBytes(target);
        set.sourceFolders.add(terbin::TBString::fromBytes(source));
    }
    void TearDown() override { theBaseApp.runAllowed = false; }

    // Copies straight into the target: no dated subfolder, no computer
    // folder, no full source path.
    void plainLayout() {
        set.backupType = NoSubfolder;
        set.backupFullPath = 0;
        set.backupAddComputerFolder = 0;
    }

    void run() {
        BackupJob job(&set);
        job.run();
    }
    std::vector<std::string> log() { return RunLog::readMessages(set.logFilePath); }
    std::vector<std::string> strings(const terbin::TBStringArray& list) {
        std::vector<std::string> out;
        for (const auto& s : list) out.push_back(s.narrow());
        return out;
    }
    static bool exists(const std::string& path) {
        struct stat st {};
        return ::lstat(path.c_str(), &st) == 0;
    }
    static struct stat statOf(const std::string& path) {
        struct stat st {};
        EXPECT_EQ(::lstat(path.c_str(), &st), 0) << path;
        return st;
    }
    // Waits up to ten seconds for `condition`; whether it came true.
    static bool waitFor(const std::function<bool()>& condition) {
        for (int i = 0; i < 2000 && !condition(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        return condition();
    }

    TempDir dir;
    std::string source;
    std::string target;
    BackupSet set;
};
