#include "engine/BackupJob.h"

#include "base/ULVbase.h"
#include "engine/TargetLister.h"
#include "foundation/TBThread.h"

using terbin::TBString;
using terbin::TBThread;

BackupJob::BackupJob(BackupSet* set)
    : TBJob(nullptr),
      backupSet(set),
      log(TBString()),
      copyBuffer(new unsigned char[CopyBufferSize]),
      copyBufferSize(CopyBufferSize) {}

BackupJob::~BackupJob() = default;

bool BackupJob::runnable() const {
    return theBaseApp.runAllowed.load() && !backupSet->stopRequested.load();
}

bool BackupJob::waitAndCheck() const {
    if (!runnable()) return false;
    while (runnable() && backupSet->pauseRequested.load()) TBThread::sleep(100);
    return runnable();
}

void BackupJob::error(const TBString& message) { log.error("%s", message.narrow().c_str()); }
