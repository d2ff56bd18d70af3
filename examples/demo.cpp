// Generates a small folder of files and backs it up with the backup engine,
// printing the run's log. Run it twice on the same folders to see that
// unchanged files are not copied again.
//
//   ulvaren-demo SOURCE_DIR TARGET_DIR
#include <cstdio>
#include <string>

#include "backupset/BackupSet.h"
#include "base/ULVbase.h"
#include "engine/BackupJob.h"
#include "foundation/TBFile.h"
#include "foundation/TBFileInfo.h"
#include "foundation/TBFilename.h"
#include "foundation/TBFolder.h"
#include "foundation/TBTime.h"

using terbin::TBFile;
using terbin::TBFilename;
using terbin::TBFolder;
using terbin::TBString;

namespace {

// Writes a few files of different sizes (once: files already there are kept).
bool generate(const TBString& root) {
    const struct {
        const wchar_t* name;
        int64_t size;
    } files[] = {{L"notes.txt", 1200},          {L"letters/letter-1.txt", 4096},
                 {L"letters/letter-2.txt", 0}, {L"photos/2026/beach.raw", 3 * 65536 + 17},
                 {L"photos/2026/hills.raw", 65536}, {L"~scratch.tmp", 512}};
    std::string block(65536, '\0');
    for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<char>('a' + i % 26);
    for (const auto& f : files) {
        const TBString path = TBFilename::concatPaths(root, f.name);
        if (terbin::TBFileInfo::isFile(path)) continue;
        if (TBFolder::create(TBFilename::dirname(path), true) != 0) return false;
        TBFile out;
        if (out.open(path, TBFile::WriteMode) != 0) return false;
        for (int64_t left = f.size; left > 0;) {
            const int64_t n = std::min<int64_t>(left, static_cast<int64_t>(block.size()));
            int64_t written = 0;
            if (out.write(block.data(), n, written) != 0 || written != n) return false;
            left -= n;
        }
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s SOURCE_DIR TARGET_DIR\n", argv[0]);
        return 2;
    }
    const TBString source = TBFilename::absolute(TBString::fromBytes(argv[1]));
    const TBString target = TBFilename::absolute(TBString::fromBytes(argv[2]));
    if (!generate(source)) {
        std::fprintf(stderr, "cannot create the sample files in %s\n", argv[1]);
        return 1;
    }

    BackupSet set;
    set.backupName = L"Demo";
    set.setTargetFolder(target);
    set.backupType = NoSubfolder;
    set.backupAddComputerFolder = 0;
    set.sourceFolders.add(source);
    set.excludeFiles.add(L"*.tmp");

    // The log of a set without dated subfolders grows run after run; show
    // only what this run adds.
    const TBString logPath = TBFilename::concatPaths(target, L"backup-Demo.log");
    const int64_t logStart = terbin::TBFileInfo(logPath).getSize();
    theBaseApp.runAllowed = true;
    {
        BackupJob job(&set);
        job.run();
    }
    // The run's own log tells what was copied and what was left alone.
    std::FILE* logFile = std::fopen(set.logFilePath.narrow().c_str(), "r");
    if (logFile) {
        std::fseek(logFile, static_cast<long>(logStart), SEEK_SET);
        char line[4096];
        while (std::fgets(line, sizeof line, logFile)) std::fputs(line, stdout);
        std::fclose(logFile);
    }
    std::printf("status: %s; %d file(s) copied (%lld bytes), %d unchanged, %d skipped\n",
                set.getStatusString().narrow().c_str(), set.filesCopied.load(),
                static_cast<long long>(set.bytesCopied.load()), set.filesUnchanged.load(),
                set.filesSkipped.load());
    std::printf("log: %s\n", set.logFilePath.narrow().c_str());
    return set.status == Complete ? 0 : 1;
}
