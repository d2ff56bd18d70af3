#include <cstdio>
#include <string>
#include <string_view>

#include "base/ULVbase.h"
#include "host/Commands.h"
#include "host/LastRun.h"

namespace {

// Names, paths and what a log file says reach the terminal escaped: shown,
// never obeyed, even when the log file was written by someone else.
std::string shown(std::string_view text) {
    return terbin::TBString::escapeBytes(text);
}

}  // namespace

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
        std::printf("%d  %s\n", i, set->backupName.escaped().c_str());
        if (!last) {
            std::printf("     status: Ready (never run)\n");
            continue;
        }
        std::printf("     status: %s (last run %s)\n", shown(last->status).c_str(),
                    shown(last->started).c_str());
        std::printf(
            "     last run: %d file(s) %s copied, %d unchanged, %d skipped, %d failed; "
            "%d folder(s) scanned, %d failed\n",
            last->filesCopied,
            last->bytesCopied.empty() ? "0 bytes" : shown(last->bytesCopied).c_str(),
            last->filesUnchanged, last->filesSkipped, last->filesFailed, last->foldersScanned,
            last->foldersFailed);
        std::printf("     log: %s\n", shown(last->logPath).c_str());
    }
    return 0;
}
