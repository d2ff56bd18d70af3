#include <cstdio>
#include <optional>
#include <string>

#include "backupset/RunRecords.h"
#include "base/ULVbase.h"
#include "host/Commands.h"
#include "host/Figures.h"

int listSets(const HostOptions& options) {
    HostSession session(options);
    if (theBaseApp.backupSets.isEmpty()) {
        std::printf(
            "no backup sets (add one with: ulvaren new, ulvaren add-folder DIR or ulvaren import "
            "FILE.xml)\n");
        return 0;
    }
    for (int i = 0; i < theBaseApp.backupSets.size(); ++i) {
        const BackupSet* set = theBaseApp.backupSets[i];
        if (!set)
            continue;
        std::printf("%d  %s\n", i, set->backupName.escaped().c_str());
        // The record the run keeps with the set, never a log in the target:
        // a run that could not reach its target has its say here too.
        const std::optional<LastRunRecord> last = RunRecords(*set).lastRun();
        if (!last) {
            std::printf("     status: Ready (never run)\n");
            continue;
        }
        std::printf("     status: %s (last run %s)\n",
                    BackupSet::statusString(last->status).narrow().c_str(),
                    timeText(last->started).c_str());
        if (!last->reason.isEmpty())
            std::printf("     why: %s\n", last->reason.escaped().c_str());
        std::printf(
            "     last run: %d file(s) %s copied, %d unchanged, %d skipped, %d failed; "
            "%d folder(s) scanned, %d failed\n",
            last->filesCopied, byteText(last->bytesCopied).c_str(), last->filesUnchanged,
            last->filesSkipped, last->filesFailed, last->foldersScanned, last->foldersFailed);
        if (!last->logFile.isEmpty())
            std::printf("     log: %s\n", last->logFile.escaped().c_str());
    }
    return 0;
}
