#include "host/LastRun.h"

#include "base/ULVbase.h"
#include "engine/BackupJob.h"

using terbin::TBString;

std::optional<LastRun> findLastRun(const BackupSet& set) {
    const TBString top = BackupJob::topLevelTarget(set, theBaseApp);
    const TBString path = RunLog::newestFileOf(top, set.backupName);
    if (path.isEmpty())
        return std::nullopt;
    const auto recorded = RunLog::readLastRun(path, set.backupName);
    if (!recorded)
        return std::nullopt;
    return LastRun{*recorded, path.narrow()};
}
