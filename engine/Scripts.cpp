#include "engine/BackupJob.h"
#include "foundation/TBFile.h"
#include "foundation/TBFilename.h"
#include "foundation/TBFolder.h"
#include "foundation/TBProcess.h"
#include "foundation/TBThread.h"

using terbin::TBFile;
using terbin::TBFileInfo;
using terbin::TBFilename;
using terbin::TBFolder;
using terbin::TBProcess;
using terbin::TBString;
using terbin::TBThread;

uint32_t BackupJob::executeScript(const TBString& program, const TBString& args, int32_t wait,
                                  uint64_t timeoutMs, int32_t ignoreStatus) {
    TBString commandLine = program.quote(L'"', true, 0);
    if (!args.isEmpty()) commandLine += L" " + args;

    TBProcess process;
    uint32_t result = process.create(commandLine);
    if (result != 0) return result;
    if (wait == 0) {
        process.detach();
        return 0;
    }
    result = process.waitUntilStopped(timeoutMs);
    if (result != 0) return result;
    return ignoreStatus != 0 ? 0 : static_cast<uint32_t>(process.getExitCode());
}

uint32_t BackupJob::removeFolder(const TBString& folder, bool recurse) {
    backupSet->setState(RemovingFolder, folder, TBString(), 0, 0);
    if (!recurse) return TBFolder::remove(folder);

    // A link is removed as a link: nothing it points to is ever deleted.
    if (TBFileInfo(folder).isSymbolicLink()) return TBFile::remove(folder);

    uint32_t firstError = 0;
    {
        TBFolder listing(folder);
        TBFileInfo info;
        while (runnable()) {
            if (listing.read(info) != 0) break;
            while (runnable() && backupSet->pauseRequested.load()) TBThread::sleep(100);
            if (!runnable()) break;
            const TBString& name = info.getName();
            if (terbin::tb_file_isDotEntry(name)) continue;
            // The entry's path is not run through the path clean-up: a name
            // may hold a backslash here, which the clean-up would turn into a
            // separator.
            const TBString path = TBFilename::concatPaths(folder, name, TBFilename::NativePath);
            uint32_t removed;
            if (info.isDirectory() && !info.isSymbolicLink()) {
                removed = removeFolder(path, true);
            } else {
                backupSet->setState(RemovingFile, folder, TBString(), 0, 0);
                removed = TBFile::remove(path);
            }
            if (removed != 0 && firstError == 0) firstError = removed;
        }
    }
    const uint32_t own = TBFolder::remove(folder);
    return own != 0 ? own : firstError;
}
