#include <cerrno>

#include "engine/BackupJob.h"
#include "engine/RunLog.h"
#include "foundation/CRuntime.h"
#include "foundation/TBFile.h"
#include "foundation/TBFileInfo.h"
#include "foundation/TBResult.h"
#include "foundation/TBThread.h"

using terbin::TBFile;
using terbin::TBFileInfo;
using terbin::TBString;
using terbin::TBThread;

int32_t BackupJob::filemode(const TBFileInfo& info) {
    return info.isReadOnly() ? 0555 : 0777;
}

int32_t BackupJob::filemode(const TBString& path) {
    return filemode(TBFileInfo(path));
}

namespace {

bool isDiskFull(uint32_t error) {
    return error == terbin::TB_NOT_ENOUGH_MEMORY || error == terbin::TB_OUTOFMEMORY ||
           error == terbin::TB_HANDLE_DISK_FULL || error == terbin::TB_DISK_FULL;
}

}  // namespace

uint32_t BackupJob::copyFile(const TBString& source, const TBString& target) {
    TBFile in;
    if (in.open(source, TBFile::ReadMode) != 0) {
        RunLog::sourceNotOpened(log, source, in.getLastError());
        backupSet->addFailedFile(source);
        return static_cast<uint32_t>(errno);
    }
    // Times, mode and owner come from the open source, so they belong to the
    // very file whose bytes are copied.
    TBFileInfo sourceInfo;
    // Should that query fail, the copy keeps the private mode it is made
    // with rather than taking made-up times and permissions.
    const bool haveInfo = in.getInfo(sourceInfo) == 0;

    TBFile out;
    if (out.open(target, TBFile::WriteMode) != 0) {
        _chmod(target, 0666);
        TBFile::remove(target);
        if (out.open(target, TBFile::WriteMode) != 0) {
            in.close();
            RunLog::targetNotOpened(log, target, out.getLastError());
            backupSet->addFailedFile(source);
            return static_cast<uint32_t>(errno);
        }
    }

    uint32_t result = 0;
    bool completed = false;
    int64_t total = 0;
    // Chunks are first handed to the kernel to copy, which spares the data
    // two trips through this process; a chunk the kernel declines, or one
    // that comes up short, goes through copyBuffer instead, and so does the
    // rest of the file. Only a read through the buffer may decide that the
    // file has ended.
    bool kernelCopy = true;
    // Set while a write waits for disk space; false when the job was stopped.
    auto waitForSpace = [this] {
        backupSet->waitingForDiskSpace = true;
        if (!runnable())
            return false;
        TBThread::sleep(500);
        return true;
    };
    auto chunkWritten = [&](int64_t count) {
        backupSet->waitingForDiskSpace = false;
        total += count;
        backupSet->setCopyProgress(total);
    };
    for (;;) {
        if (!runnable())
            break;
        while (runnable() && backupSet->pauseRequested.load()) TBThread::sleep(100);
        if (!runnable())
            break;

        int64_t n = 0;
        if (kernelCopy) {
            uint32_t error;
            bool stopped = false;
            while ((error = out.transferFrom(in, copyBufferSize, n)) != 0 && isDiskFull(error)) {
                if (!waitForSpace()) {
                    stopped = true;
                    break;
                }
            }
            if (stopped)
                break;
            if (error == 0 && n > 0)
                chunkWritten(n);
            if (error == 0 && n == copyBufferSize)
                continue;
            kernelCopy = false;
            if (error == 0 && n > 0)
                continue;
        }

        if (in.read(copyBuffer.get(), copyBufferSize, n) != 0) {
            RunLog::readFailed(log, source, errno);
            result = static_cast<uint32_t>(errno);
            break;
        }
        if (n > 0) {
            bool stopped = false;
            bool failed = false;
            for (;;) {
                int64_t written = 0;
                if (out.write(copyBuffer.get(), n, written) != 0) {
                    const uint32_t error = out.getLastError();
                    if (isDiskFull(error)) {
                        if (waitForSpace())
                            continue;
                        stopped = true;
                        break;
                    }
                    RunLog::writeFailed(log, target, error);
                    result = static_cast<uint32_t>(errno);
                    failed = true;
                    break;
                }
                if (written != n) {
                    RunLog::shortWrite(log, target, n, written);
                    result = static_cast<uint32_t>(errno);
                    failed = true;
                    break;
                }
                chunkWritten(written);
                break;
            }
            if (stopped || failed)
                break;
        }
        if (n != copyBufferSize) {
            completed = true;
            break;
        }
    }

    in.close();
    if (completed && haveInfo) {
        // Times and permissions go through the open handle: no second lookup
        // of the path, and nothing can be swapped in under it meanwhile. The
        // handle is open for writing, so no write permission is needed first.
        out.setTimes(sourceInfo.getLastAccessTime(), sourceInfo.getLastModificationTime());
        mode_t mode = sourceInfo.getMode();
        if ((filemode(sourceInfo) & 0200) == 0)
            mode &= ~static_cast<mode_t>(0222);
        out.setOwnerAndMode(mode, sourceInfo.getOwner(), sourceInfo.getGroup());
    }
    out.close();
    if (!runnable())
        RunLog::copyCancelled(log, target);

    if (completed) {
        backupSet->filesCopied += 1;
        backupSet->bytesCopied += total;
    } else {
        backupSet->addFailedFile(source);
    }
    return result;
}
