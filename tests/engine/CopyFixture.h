// A job copying single files from the fixture's source folder to its target
// folder, logging to a file of its own, and what the copy tests look at.
#pragma once

#include <dirent.h>
#include <sys/stat.h>

#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "tests/engine/RunFixture.h"

// Writes `size` bytes whose values depend on their offset, so a misplaced chunk shows.
inline void writePatternFile(const std::string& path, size_t size, unsigned seed = 1) {
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(i * seed + i / 251);
    writeFile(path, bytes);
}
// Whether the file at `b` holds what the file at `a` holds; compared a
// block at a time, since copies of many megabytes are compared.
inline bool sameContents(const std::string& a, const std::string& b) {
    std::ifstream left(a, std::ios::binary), right(b, std::ios::binary);
    std::string blockA(1 << 20, '\0'), blockB(1 << 20, '\0');
    while (left && right) {
        left.read(blockA.data(), static_cast<std::streamsize>(blockA.size()));
        right.read(blockB.data(), static_cast<std::streamsize>(blockB.size()));
        if (left.gcount() != right.gcount() || blockA != blockB)
            return false;
    }
    return left.eof() && right.eof();
}
// What a fault hook names to reach a copy into the target while it is written.
inline const std::string Temporary = "dst/.~ulvaren-";
// The paths of the temporary files of copies in `folder`.
inline std::vector<std::string> temporariesIn(const std::string& folder) {
    std::vector<std::string> found;
    if (DIR* listing = ::opendir(folder.c_str())) {
        while (const dirent* entry = ::readdir(listing)) {
            if (BackupJob::isTemporaryName(terbin::TBString::fromBytes(entry->d_name)))
                found.push_back(folder + "/" + entry->d_name);
        }
        ::closedir(listing);
    }
    return found;
}

class CopyFileTest : public RunFixture {
protected:
    void SetUp() override {
        RunFixture::SetUp();
        makeDirs(target);
        job = std::make_unique<BackupJob>(&set);
        ASSERT_EQ(
            job->log.setHandler(terbin::TBString::fromBytes("file:" + dir / "job.log" + ";0;0")),
            0u);
    }

    uint32_t copy(const std::string& from, const std::string& to) {
        return job->copyFile(terbin::TBString::fromBytes(from), terbin::TBString::fromBytes(to));
    }
    std::vector<std::string> messages() {
        return RunLog::readMessages(terbin::TBString::fromBytes(dir / "job.log"));
    }
    // Copies `name` of `size` bytes and checks contents, time and mode.
    void expectFaithfulCopy(const std::string& name, uint64_t size, mode_t mode) {
        const std::string from = source + "/" + name, to = target + "/" + name;
        writePatternFile(from, size, static_cast<uint32_t>(size));
        setMtime(from, 1600000000, 123456789);
        ASSERT_EQ(::chmod(from.c_str(), mode), 0);
        EXPECT_EQ(copy(from, to), 0u);
        EXPECT_TRUE(sameContents(from, to)) << name;
        const struct stat s = statOf(from), t = statOf(to);
        EXPECT_EQ(t.st_mtim.tv_nsec, s.st_mtim.tv_nsec) << name;
        EXPECT_EQ(t.st_mtim.tv_sec, s.st_mtim.tv_sec) << name;
        EXPECT_EQ(t.st_mode & 07777, s.st_mode & 07777) << name;
    }

    std::unique_ptr<BackupJob> job;
};
