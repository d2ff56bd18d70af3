#include "engine/BackupJob.h"

#include "engine/TreeLister.h"
#include "foundation/TBThread.h"

using terbin::TBString;
using terbin::TBThread;

BackupJob::BackupJob(BackupSet* set) : BackupJob(set, RunContext::installed()) {}

BackupJob::BackupJob(BackupSet* set, RunContext& runContext)
    : TBJob(nullptr),
      backupSet(set),
      context(runContext),
      log(TBString()),
      copyBuffer(new unsigned char[CopyBufferSize]),
      copyBufferSize(CopyBufferSize) {}

BackupJob::~BackupJob() = default;

bool BackupJob::runnable() const {
    return context.runAllowed.load() && !backupSet->stopRequested.load();
}

bool BackupJob::waitAndCheck() const {
    if (!runnable())
        return false;
    while (runnable() && backupSet->pauseRequested.load()) TBThread::sleep(100);
    return runnable();
}

void BackupJob::error(const TBString& message) {
    log.error("%s", message.narrow().c_str());
}
