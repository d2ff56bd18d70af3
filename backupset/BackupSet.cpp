#include "backupset/BackupSet.h"

#include "backupset/BackupSetConfiguration.h"
#include "backupset/BackupSetFields.h"

using terbin::TBString;

BackupSet::BackupSet() {
    synchronize();
    initstats();
}

BackupSet::BackupSet(const BackupSet& other) : TBLockableObject() {
    synchronize();
    *this = other;
}

BackupSet::~BackupSet() = default;

BackupSet& BackupSet::operator=(const BackupSet& other) {
    if (this == &other)
        return *this;
    terbin::TBWriteLock guard(*this);
    forEachSetting([&](const auto& setting) { this->*setting.field = other.*setting.field; });
    modified = other.modified.load();
    registryKeyName = other.registryKeyName;
    registryIdentity = other.registryIdentity;
    foldersScanned = other.foldersScanned.load();
    foldersSkipped = other.foldersSkipped.load();
    filesCopied = other.filesCopied.load();
    filesSkipped = other.filesSkipped.load();
    filesUnchanged = other.filesUnchanged.load();
    bytesCopied = other.bytesCopied.load();
    failedFiles = other.failedFiles;
    failedFolders = other.failedFolders;
    failureReason = other.failureReason;
    status = other.status.load();
    return *this;
}

TBString BackupSet::backupTypeName(int32_t type) {
    switch (type) {
        case DateSubfolder:
            return L"Date SubFolder";
        case DateTimeSubfolder:
            return L"Date-Time SubFolder";
        default:
            return L"No subfolder";
    }
}

TBString BackupSet::statusString(int32_t value) {
    switch (value) {
        case Ready:
            return L"Ready";
        case NotStarted:
            return L"Not Started";
        case Running:
            return L"Running";
        case Complete:
            return L"Complete";
        case Failed:
            return L"Failed";
        case Cancelled:
            return L"Cancelled";
        case RunningPreScript:
            return L"Running pre-backup script";
        case RunningPostScript:
            return L"Running post-backup script";
        default:
            return L"Unknown";
    }
}

TBString BackupSet::backupTypeName() const {
    return backupTypeName(backupType);
}

TBString BackupSet::getStatusString() const {
    return statusString(status);
}

void BackupSet::initstats() {
    foldersScanned = 0;
    foldersSkipped = 0;
    filesCopied = 0;
    filesSkipped = 0;
    filesUnchanged = 0;
    bytesCopied = 0;
    // The user interface reads the lists under the lock while a new run
    // starts, so emptying them takes it too (briefly; nothing is awaited).
    {
        terbin::TBWriteLock guard(*this);
        failedFiles.clear();
        failedFolders.clear();
        failureReason = TBString();
    }
    status = Ready;
    waitingForDiskSpace = false;
}

void BackupSet::getState(BackupSetState& out) {
    terbin::TBReadLock guard(*this);
    out = state;
}

void BackupSet::setState(int32_t activity, const TBString& text1, const TBString& text2,
                         int64_t number1, int64_t number2) {
    terbin::TBWriteLock guard(*this);
    state.activity = activity;
    if (activity == ScanningFolder || activity == RemovingFolder) {
        state.message = text1;
    } else if (activity == CopyingFolder || activity == CopyingFile || activity == RemovingFile) {
        state.sourcePath = text1;
        state.targetPath = text2;
        state.fileBytesCopied = number1;
        state.fileSize = number2;
    }
}

void BackupSet::setCopyProgress(int64_t bytes) {
    terbin::TBWriteLock guard(*this);
    state.fileBytesCopied = bytes;
}

void BackupSet::addFailedFile(const TBString& path) {
    terbin::TBWriteLock guard(*this);
    failedFiles.add(path);
}

void BackupSet::addFailedFolder(const TBString& path) {
    terbin::TBWriteLock guard(*this);
    failedFolders.add(path);
}

void BackupSet::setTargetFolder(const TBString& path) {
    targetFolder = BackupSetConfiguration::installed().fix(path);
}

void BackupSet::setFailureReason(const TBString& reason) {
    terbin::TBWriteLock guard(*this);
    if (failureReason.isEmpty())
        failureReason = reason;
}

TBString BackupSet::getFailureReason() {
    terbin::TBReadLock guard(*this);
    return failureReason;
}

bool BackupSet::isPlainName(const TBString& name) {
    if (name.isEmpty() || name == L"." || name == L"..")
        return false;
    for (const wchar_t c : name.view()) {
        if (c == L'/' || c < 0x20 || c == 0x7f)
            return false;
    }
    return true;
}
