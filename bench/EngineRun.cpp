// Runs the backup engine once over SOURCE into TARGET (no dated subfolder, no
// computer folder, source contents directly in TARGET) and prints the wall
// time and the run's figures. Used by tree-bench.sh to time whole runs.
//
//   EngineRun SOURCE TARGET
#include <chrono>
#include <cstdio>

#include "base/ULVbase.h"
#include "engine/BackupJob.h"
#include "foundation/TBFilename.h"
#include "foundation/TBFolder.h"

using terbin::TBFilename;
using terbin::TBString;

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s SOURCE TARGET\n", argv[0]);
        return 2;
    }
    BackupSet set;
    set.backupName = L"Bench";
    set.targetFolder = TBFilename::absolute(TBString::fromBytes(argv[2]));
    set.sourceFolders.add(TBFilename::absolute(TBString::fromBytes(argv[1])));
    set.backupType = NoSubfolder;
    set.backupFullPath = 0;
    set.backupAddComputerFolder = 0;
    theBaseApp.runAllowed = true;
    // A run never makes its set's own target; saving a set does, as here.
    terbin::TBFolder::create(set.targetFolder, true);

    const auto start = std::chrono::steady_clock::now();
    {
        BackupJob job(&set);
        job.run();
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("%.3f s  status=%s copied=%d unchanged=%d failed=%d bytes=%lld\n", seconds,
                set.getStatusString().narrow().c_str(), set.filesCopied.load(),
                set.filesUnchanged.load(), static_cast<int>(set.failedFiles.size()),
                static_cast<long long>(set.bytesCopied.load()));
    return set.status == Complete ? 0 : 1;
}
