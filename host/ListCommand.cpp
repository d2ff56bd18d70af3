#include <cstdio>

#include "base/ULVbase.h"
#include "host/Commands.h"
#include "host/LastRun.h"

int listSets(const HostOptions& options) {
    HostSession session(options);
    if (theBaseApp.backupSets.isEmpty()) {
        std::printf("no backup sets (add some with: ulvaren import FILE.xml)\n");
        return 0;
    }
    for (int i = 0; i < theBaseApp.backupSets.size(); ++i) {
        const BackupSet* set = theBaseApp.backupSets[i];
        if (!set)
            continue;
        const auto last = findLastRun(*set);
        std::printf("%d  %s\n", i, set->backupName.narrow().c_str());
        if (!last) {
            std::printf("     status: Ready (never run)\n");
            continue;
        }
        std::printf("     status: %s (last run %s)\n", last->status.c_str(), last->started.c_str());
        std::printf(
            "     last run: %d file(s) %s copied, %d unchanged, %d skipped, %d failed; "
            "%d folder(s) scanned, %d failed\n",
            last->filesCopied, last->bytesCopied.empty() ? "0 bytes" : last->bytesCopied.c_str(),
            last->filesUnchanged, last->filesSkipped, last->filesFailed, last->foldersScanned,
            last->foldersFailed);
        std::printf("     log: %s\n", last->logPath.c_str());
    }
    return 0;
}
