#include "engine/BackupJob.h"
#include "foundation/TBProcess.h"

using terbin::TBProcess;
using terbin::TBString;

uint32_t BackupJob::executeScript(const TBString& program, const TBString& args, int32_t wait,
                                  uint64_t timeoutMs, int32_t ignoreStatus) {
    TBString commandLine = program.quote(L'"', true, 0);
    if (!args.isEmpty())
        commandLine += L" " + args;

    TBProcess process;
    uint32_t result = process.create(commandLine);
    if (result != 0)
        return result;
    if (wait == 0) {
        process.detach();
        return 0;
    }
    // A stop of the run must not wait for a script that may never end.
    result = process.waitUntilStopped(timeoutMs, [this] { return runnable(); });
    if (result != 0)
        return result;
    return ignoreStatus != 0 ? 0 : static_cast<uint32_t>(process.getExitCode());
}
