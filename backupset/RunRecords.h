// What the registry keeps about a set's runs, in subkeys of the set's key
// that save() leaves alone: the outcome of the last run, the identity of the
// target folder at the last complete run, and one record per dated backup
// folder the set made. The run writes them; pruning and the hosts read them.
//
// The records live where a target cannot hide or forge them: a log file or
// a marker inside a backup could be written by anyone who writes there, and
// is gone with an unplugged drive. A set without a key has no records. A
// write for a set whose key is gone (removed by another process meanwhile)
// writes nothing, so a run never brings back a set removed elsewhere. Each
// write is one transaction. Any thread; one RunRecords per thread.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "foundation/TBString.h"

class BackupSet;

// The outcome of a set's last run. Times are seconds since the epoch.
struct LastRunRecord {
    int32_t status = 0;
    int64_t started = 0;
    int64_t ended = 0;
    int32_t foldersScanned = 0;
    int32_t filesCopied = 0;
    int32_t filesUnchanged = 0;
    int32_t filesSkipped = 0;
    int32_t filesFailed = 0;
    int32_t foldersFailed = 0;
    int64_t bytesCopied = 0;
    terbin::TBString reason;   // why it did not end Complete; may be empty
    terbin::TBString logFile;  // empty when the run wrote no log
};

// Which file system a folder lives on: its device number, and the file
// system's own id (0 when unknown). A drive that comes back under another
// device number (plugged in elsewhere) usually keeps its id; an empty mount
// point has neither.
struct VolumeIdentity {
    uint64_t device = 0;
    uint64_t fileSystem = 0;
    // The ids decide when both are known: two drives used in turn at one
    // mount point often get the same device number.
    bool sameVolumeAs(const VolumeIdentity& other) const {
        if (fileSystem != 0 && other.fileSystem != 0)
            return fileSystem == other.fileSystem;
        return device == other.device;
    }
};

// The target folder of the last complete run, and the volume it was on.
struct TargetRecord {
    terbin::TBString folder;
    VolumeIdentity volume;
};

// One dated backup folder a run of the set made.
struct BackupFolderRecord {
    terbin::TBString id;        // the record's own name, given when added
    terbin::TBString topLevel;  // the folder that holds it
    terbin::TBString name;      // its own name
    VolumeIdentity volume;
    uint64_t inode = 0;
    int32_t status = 0;  // how the run that made it ended (Running while it runs)
    int64_t started = 0;
};

class RunRecords {
public:
    // The records of `set`, as saved under its registryKeyName (none when it
    // has no key).
    explicit RunRecords(const BackupSet& set);

    std::optional<LastRunRecord> lastRun() const;
    // 0, or a result code (TB_FILE_NOT_FOUND when the set has no key).
    uint32_t saveLastRun(const LastRunRecord& run) const;

    std::optional<TargetRecord> target() const;
    uint32_t saveTarget(const TargetRecord& target) const;

    // Every recorded backup folder, oldest record first.
    std::vector<BackupFolderRecord> backupFolders() const;
    // Records `folder` under a new id (stored into it).
    uint32_t addBackupFolder(BackupFolderRecord& folder) const;
    // Rewrites the record `folder.id` with the fields of `folder`.
    uint32_t updateBackupFolder(const BackupFolderRecord& folder) const;
    uint32_t removeBackupFolder(const terbin::TBString& id) const;

    // Whether a set other than the one under `ownKey` has a record of the
    // very folder `folder` records (same place, name, inode and volume): two
    // sets that share a target and run on the same day share a dated folder.
    static bool recordedByAnotherSet(const terbin::TBString& ownKey,
                                     const BackupFolderRecord& folder);

private:
    terbin::TBString keyName_;
    terbin::TBString identity_;
};
