#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <limits>
#include <random>
#include <string_view>

#include "engine/BackupJob.h"
#include "engine/RunLog.h"
#include "foundation/TBFile.h"
#include "foundation/TBFileInfo.h"
#include "foundation/TBFilename.h"
#include "foundation/TBFolder.h"
#include "foundation/TBResult.h"
#include "foundation/TBThread.h"

using terbin::TBFile;
using terbin::TBFileInfo;
using terbin::TBFilename;
using terbin::TBFolder;
using terbin::TBString;
using terbin::TBThread;

int32_t BackupJob::filemode(const TBFileInfo& info) {
    return info.isReadOnly() ? 0555 : 0777;
}

int32_t BackupJob::filemode(const TBString& path) {
    return filemode(TBFileInfo(path));
}

namespace {

// A copy is written as ".~ulvaren-" + 16 lowercase hex digits + ".tmp" next
// to the file it replaces.
constexpr std::wstring_view TemporaryPrefix = L".~ulvaren-";
constexpr std::wstring_view TemporarySuffix = L".tmp";
constexpr int TemporaryDigits = 16;
// Names tried before giving up on finding a free one.
constexpr int TemporaryAttempts = 8;
// The result of a file that changed during its copy and again during the
// copy made once more: the file is busy.
constexpr int ChangedWhileCopied = EBUSY;

bool isDiskFull(uint32_t error) {
    return error == terbin::TB_NOT_ENOUGH_MEMORY || error == terbin::TB_OUTOFMEMORY ||
           error == terbin::TB_HANDLE_DISK_FULL || error == terbin::TB_DISK_FULL;
}

TBString newTemporaryName() {
    thread_local std::mt19937_64 random = [] {
        std::random_device device;
        std::seed_seq seed{device(), device(), device(), device()};
        return std::mt19937_64(seed);
    }();
    uint64_t bits = random();
    TBString name(TemporaryPrefix);
    for (int i = 0; i < TemporaryDigits; ++i, bits >>= 4) name += L"0123456789abcdef"[bits & 15];
    return name + TBString(TemporarySuffix);
}

// Size and modification time, as the change test of the folder copy sees
// them, are what a change to the contents moves.
bool sameState(const TBFileInfo& before, const TBFileInfo& after) {
    return before.getSize() == after.getSize() &&
           before.getLastModificationTime() == after.getLastModificationTime();
}

// What one step of a copy came to.
enum class Step { More, Done, Stopped, Failed };

// The bytes of one open source going into one open file, through the kernel
// where it can and through the job's buffer where it cannot, with the job's
// progress, pause, stop and disk-full wait. A failure is logged where it is
// met; result() is then errno.
class Transfer {
public:
    Transfer(BackupJob& job, TBFile& in, TBFile& out, const TBString& source,
             const TBString& target)
        : job_(job), in_(in), out_(out), source_(source), target_(target) {}

    // Copies the whole source, once more from the start when it changed
    // meanwhile. `state` is the source as it was opened, and becomes the
    // source as copied; with `known` false there is no telling a change.
    Step copySteady(TBFileInfo& state, bool known) {
        for (int pass = 1;; ++pass) {
            // A pseudo file that reports size 0 has no blocks either, so it
            // is never taken for a file with holes.
            const Step step = copyAll(known && in_.isSparse(), state.getSize());
            TBFileInfo now;
            if (step != Step::Done || !known || in_.getInfo(now) != 0 || sameState(state, now))
                return step;
            // What was copied may mix old and new bytes.
            if (pass == 2) {
                RunLog::changedWhileCopied(job_.log, source_);
                result_ = ChangedWhileCopied;
                return Step::Failed;
            }
            state = now;
            if (const Step rewound = rewind(); rewound != Step::More)
                return rewound;
        }
    }
    int64_t total() const { return total_; }
    uint32_t result() const { return result_; }

private:
    static constexpr int64_t Unbounded = std::numeric_limits<int64_t>::max();

    // Copies the source from the current positions to its end; with `sparse`
    // only its stretches of data, leaving holes where it has them, and then
    // gives the copy the source's `size`.
    Step copyAll(bool sparse, int64_t size) {
        total_ = 0;
        kernelCopy_ = true;
        if (!sparse)
            return copyStretch(Unbounded);
        for (int64_t offset = 0;;) {
            int64_t start = 0, end = 0;
            if (in_.findData(offset, start, end) != 0 || (start >= 0 && in_.seek(start) != 0))
                return readFailed();
            if (start < 0)
                break;
            if (out_.seek(start) != 0)
                return writeFailed(out_.getLastError());
            position_ = start;
            const Step step = copyStretch(end);
            // A file that ends short of its stretch of data ends there,
            // whatever size it reported: its copy is not made longer.
            if (step != Step::Done || position_ != end)
                return step;
            offset = end;
        }
        return out_.setSize(size) == 0 ? Step::Done : writeFailed(out_.getLastError());
    }
    // Empties the copy and puts both files back at their start.
    Step rewind() {
        if (in_.seek(0) != 0)
            return readFailed();
        if (out_.setSize(0) != 0 || out_.seek(0) != 0)
            return writeFailed(out_.getLastError());
        position_ = 0;
        job_.backupSet->setCopyProgress(0);
        return Step::More;
    }
    // Copies up to the source offset `end`; Done there or where the file ends.
    Step copyStretch(int64_t end) {
        while (position_ < end) {
            if (!job_.waitAndCheck())
                return Step::Stopped;
            const int64_t count = std::min<int64_t>(job_.copyBufferSize, end - position_);
            const Step step = copyNextChunk(count);
            if (step != Step::More)
                return step;
        }
        return Step::Done;
    }
    // Moves up to `count` bytes; Done when a read through the buffer comes
    // up short, which alone may decide that the file has ended (some file
    // systems report pseudo files as empty to the kernel's copy).
    Step copyNextChunk(int64_t count) {
        int64_t n = 0;
        if (kernelCopy_) {
            uint32_t error;
            while ((error = out_.transferFrom(in_, count, n)) != 0 && isDiskFull(error)) {
                if (!waitForSpace())
                    return Step::Stopped;
            }
            if (error == 0 && n > 0)
                chunkWritten(n);
            if (error == 0 && n == count)
                return Step::More;
            // A chunk the kernel declines or cuts short goes through the
            // buffer, and so does the rest of the file.
            kernelCopy_ = false;
            if (error == 0 && n > 0)
                return Step::More;
        }
        if (in_.read(job_.copyBuffer.get(), count, n) != 0)
            return readFailed();
        if (n > 0) {
            if (const Step step = writeChunk(n); step != Step::More)
                return step;
        }
        return n == count ? Step::More : Step::Done;
    }
    // Writes the `n` bytes in the buffer, as often as a full disk asks.
    Step writeChunk(int64_t n) {
        for (;;) {
            int64_t written = 0;
            if (out_.write(job_.copyBuffer.get(), n, written) != 0) {
                const uint32_t error = out_.getLastError();
                if (!isDiskFull(error))
                    return writeFailed(error);
                if (!waitForSpace())
                    return Step::Stopped;
                continue;
            }
            if (written != n) {
                RunLog::shortWrite(job_.log, target_, n, written);
                return failed();
            }
            chunkWritten(written);
            return Step::More;
        }
    }
    // Shows the wait for disk space; false when the job was stopped.
    bool waitForSpace() {
        job_.backupSet->waitingForDiskSpace = true;
        if (!job_.runnable())
            return false;
        TBThread::sleep(500);
        return true;
    }
    void chunkWritten(int64_t count) {
        job_.backupSet->waitingForDiskSpace = false;
        total_ += count;
        position_ += count;
        job_.backupSet->setCopyProgress(total_);
    }
    Step readFailed() {
        RunLog::readFailed(job_.log, source_, errno);
        return failed();
    }
    Step writeFailed(uint32_t error) {
        RunLog::writeFailed(job_.log, target_, error);
        return failed();
    }
    Step failed() {
        result_ = static_cast<uint32_t>(errno);
        return Step::Failed;
    }

    BackupJob& job_;
    TBFile& in_;
    TBFile& out_;
    const TBString& source_;
    const TBString& target_;
    // Source offset of the next byte to copy.
    int64_t position_ = 0;
    int64_t total_ = 0;
    uint32_t result_ = 0;
    bool kernelCopy_ = true;
};

// Creates a file of a new temporary name in `folder`, open in `out`.
uint32_t createTemporary(TBFile& out, const TBFolder& folder, TBString& name) {
    uint32_t result = 0;
    for (int attempt = 0; attempt < TemporaryAttempts; ++attempt) {
        name = newTemporaryName();
        result = out.createIn(folder, name);
        if (result != terbin::TB_ALREADY_EXISTS)
            break;
    }
    return result;
}

// Gives the complete copy `out` the times, permissions and owner of the
// source as `state` has it. Through the open handle: no lookup of a path,
// and nothing can be swapped in under it meanwhile.
void giveState(TBFile& out, const TBFileInfo& state) {
    out.setTimes(state.getLastAccessTime(), state.getLastModificationTime());
    mode_t mode = state.getMode();
    if ((BackupJob::filemode(state) & 0200) == 0)
        mode &= ~static_cast<mode_t>(0222);
    out.setOwnerAndMode(mode, state.getOwner(), state.getGroup());
}

// Closes the complete copy `out`, the file `temporary` of `folder`, and
// renames it to `name` there: Done, or Failed with the failure logged under
// the `target` path and `result` set to errno.
Step putInPlace(terbin::TBLog& log, TBFile& out, const TBFolder& folder, const TBString& temporary,
                const TBString& name, const TBString& target, uint32_t& result) {
    auto failed = [&](uint32_t error, bool writing) {
        const int code = errno;
        if (writing) {
            RunLog::writeFailed(log, target, error);
        } else {
            RunLog::targetNotOpened(log, target, error);
        }
        result = static_cast<uint32_t>(code);
        return Step::Failed;
    };
    // A new name first: it puts no older copy at risk, and the run flushes
    // the whole file system at its end.
    uint32_t error = TBFile::renameNewIn(folder, temporary, name);
    if (error == 0) {
        if ((error = out.close()) == 0)
            return Step::Done;
        // The copy may not be whole on disk: it must not pass for a good one.
        const Step step = failed(error, true);
        TBFolder::removeIn(folder, name, false);
        return step;
    }
    // A file system that cannot refuse to replace says the call is invalid;
    // then the copy is taken for a replacement.
    if (error != terbin::TB_ALREADY_EXISTS && error != terbin::TB_INVALID_PARAMETER)
        return failed(error, false);
    // Replacing an older copy (or anything else of that name): the data
    // reaches the disk before the rename can, so a power cut leaves one
    // complete copy or the other.
    if ((error = out.sync()) != 0 || (error = out.close()) != 0)
        return failed(error, true);
    // A folder of that name, say, is not replaced.
    if ((error = TBFile::renameIn(folder, temporary, name)) != 0)
        return failed(error, false);
    return Step::Done;
}

// Copies the file `entry` of `sourceFolder` to `targetName` in
// `targetFolder`, as BackupJob::copyFileAt says.
uint32_t copyInto(BackupJob& job, const TBFolder& sourceFolder, const TBFileInfo& entry,
                  const TBFolder& targetFolder, const TBString& targetName, const TBString& source,
                  const TBString& target) {
    TBFile in;
    // A link to a file is followed once, where the listing saw one.
    if (in.openIn(sourceFolder, entry.getName(), entry.isSymbolicLink() && entry.isFile()) != 0) {
        RunLog::sourceNotOpened(job.log, source, in.getLastError());
        job.backupSet->addFailedFile(source);
        return static_cast<uint32_t>(errno);
    }
    // Times, mode and owner come from the open source, so they belong to the
    // very file whose bytes are copied. Should that query fail, the copy
    // keeps the private mode it is made with rather than taking made-up
    // times and permissions, and nothing tells a change during the copy.
    TBFileInfo sourceInfo;
    const bool haveInfo = in.getInfo(sourceInfo) == 0;

    // The copy goes to a temporary file and replaces the older copy only
    // once complete, so a failed or stopped copy, or a power cut, leaves the
    // older copy as it was.
    TBFile out;
    TBString temporary;
    if (createTemporary(out, targetFolder, temporary) != 0) {
        RunLog::targetNotOpened(job.log, target, out.getLastError());
        job.backupSet->addFailedFile(source);
        return static_cast<uint32_t>(errno);
    }

    Transfer transfer(job, in, out, source, target);
    Step step = transfer.copySteady(sourceInfo, haveInfo);
    uint32_t result = transfer.result();
    in.close();
    if (step == Step::Done) {
        if (haveInfo)
            giveState(out, sourceInfo);
        step = putInPlace(job.log, out, targetFolder, temporary, targetName, target, result);
    }
    if (step != Step::Done) {
        out.close();
        TBFolder::removeIn(targetFolder, temporary, false);
    }
    if (!job.runnable())
        RunLog::copyCancelled(job.log, target);

    if (step == Step::Done) {
        job.backupSet->filesCopied += 1;
        job.backupSet->bytesCopied += transfer.total();
        return 0;
    }
    job.backupSet->addFailedFile(source);
    return step == Step::Stopped ? 0 : result;
}

}  // namespace

bool BackupJob::isTemporaryName(const TBString& name) {
    const std::wstring_view text = name.view();
    if (text.size() != TemporaryPrefix.size() + TemporaryDigits + TemporarySuffix.size() ||
        !text.starts_with(TemporaryPrefix) || !text.ends_with(TemporarySuffix)) {
        return false;
    }
    const std::wstring_view digits = text.substr(TemporaryPrefix.size(), TemporaryDigits);
    return std::all_of(digits.begin(), digits.end(), [](wchar_t c) {
        return (c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'f');
    });
}

uint32_t BackupJob::copyFile(const TBString& source, const TBString& target) {
    const TBString name = TBFilename::basename(source);
    const TBFolder sourceFolder(TBFilename::dirname(source));
    if (sourceFolder.handle() < 0) {
        const int error = errno;
        RunLog::sourceNotOpened(log, source, sourceFolder.getError());
        backupSet->addFailedFile(source);
        return static_cast<uint32_t>(error);
    }
    TBFileInfo entry;
    // A source that is not there is refused when it is opened.
    entry.query(sourceFolder.handle(), name.narrow().c_str(), name);
    const TBFolder targetFolder(TBFilename::dirname(target));
    if (targetFolder.handle() < 0) {
        const int error = errno;
        // A source that cannot be opened is the failure reported first.
        TBFile in;
        if (in.openIn(sourceFolder, name, entry.isSymbolicLink() && entry.isFile()) != 0) {
            RunLog::sourceNotOpened(log, source, in.getLastError());
            backupSet->addFailedFile(source);
            return static_cast<uint32_t>(errno);
        }
        RunLog::targetNotOpened(log, target, targetFolder.getError());
        backupSet->addFailedFile(source);
        return static_cast<uint32_t>(error);
    }
    return copyInto(*this, sourceFolder, entry, targetFolder, TBFilename::basename(target), source,
                    target);
}

uint32_t BackupJob::copyFileAt(const TBFolder& sourceFolder, const TBFileInfo& entry,
                               const TBFolder& targetFolder, const TBString& source,
                               const TBString& target) {
    return copyInto(*this, sourceFolder, entry, targetFolder, entry.getName(), source, target);
}
