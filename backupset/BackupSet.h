// The record of one backup set: what to copy, where to, with which scripts and
// switches, and the run-time side (status, current activity, statistics,
// failure lists, pause and stop requests) that a running BackupJob fills in
// and the user interface reads.
//
// Threads: the user-interface thread and the pool thread that runs the set's
// job. The activity snapshot and the failure lists are read and written under
// the set's lock; status, flags and counters are atomics written by one thread
// and read by the other without it. Settings change only while no job runs.
#pragma once

#include <atomic>
#include <cstdint>

#include "foundation/TBLockableObject.h"
#include "foundation/TBString.h"
#include "foundation/TBStringArray.h"

enum BackupType : int32_t {
    NoSubfolder = 0,
    DateSubfolder = 1,
    DateTimeSubfolder = 2,
};

enum BackupStatus : int32_t {
    Ready = 0,
    NotStarted = 1,
    Running = 2,
    Complete = 3,
    Failed = 4,
    Cancelled = 5,
    RunningPreScript = 6,
    RunningPostScript = 7,
};

enum BackupActivity : int32_t {
    ScanningFolder = 1,
    CopyingFolder = 2,
    CopyingFile = 3,
    RemovingFolder = 4,
    RemovingFile = 5,
};

// A value snapshot of a set's current activity.
class BackupSetState {
public:
    int32_t activity = 0;
    terbin::TBString message;     // folder of activities 1 and 4
    terbin::TBString sourcePath;  // first path of activities 2, 3 and 5
    terbin::TBString targetPath;  // second path of activities 2, 3 and 5
    int64_t fileBytesCopied = 0;
    int64_t fileSize = 0;
};

class BackupSet : public terbin::TBLockableObject {
public:
    BackupSet();
    // Copies the record as the assignment does; snapshot, flags and log path
    // of the new record start empty.
    BackupSet(const BackupSet& other);
    // Under this record's lock (the source is not locked), copies the name,
    // target, the four lists, every setting from backupType to postBackupArgs,
    // modified, registryKeyName, registryIdentity, the counters, bytesCopied, both failure lists,
    // the failure reason and status. Leaves state, pauseRequested, stopRequested,
    // waitingForDiskSpace and logFilePath as they are.
    BackupSet& operator=(const BackupSet& other);
    ~BackupSet() override;

    // Display text of backupType ("No subfolder" for unknown values).
    terbin::TBString backupTypeName() const;
    // Display text of status ("Unknown" for unknown values). Takes no lock.
    terbin::TBString getStatusString() const;
    static terbin::TBString backupTypeName(int32_t type);
    static terbin::TBString statusString(int32_t status);
    // True only while status is Running (not NotStarted, not a script state).
    bool isRunning() const { return status == Running; }

    // Resets statistics, failure lists, waitingForDiskSpace and status (Ready)
    // for a new run. Takes no lock; leaves state, pause and stop requests,
    // modified and logFilePath alone.
    void initstats();

    // Copies the activity snapshot out under the lock.
    void getState(BackupSetState& out);
    // Under the lock: stores the activity; for 1 and 4 text1 becomes the
    // message; for 2, 3 and 5 the texts become the two paths and the numbers
    // the bytes copied and the size. Other fields keep their values.
    void setState(int32_t activity, const terbin::TBString& text1, const terbin::TBString& text2,
                  int64_t number1, int64_t number2);
    // Under the lock: stores the bytes of the current file written so far.
    void setCopyProgress(int64_t bytes);
    // Appends to a failure list under the lock.
    void addFailedFile(const terbin::TBString& path);
    void addFailedFolder(const terbin::TBString& path);
    // Under the lock: the first reason given since initstats() is why the
    // run did not end Complete, in words for a person; later ones are
    // consequences and are dropped.
    void setFailureReason(const terbin::TBString& reason);
    terbin::TBString getFailureReason();
    // Stores `path` normalised by the installed BackupSetConfiguration.
    void setTargetFolder(const terbin::TBString& path);

    // Source folders and exclusions. None of these takes the lock: the lists
    // change only while the set is edited or created.
    //
    // Appends `pattern`, normalised by the installed BackupSetConfiguration,
    // to excludeFiles / excludeFolders (duplicates allowed).
    void excludeFile(const terbin::TBString& pattern);
    void excludeFolder(const terbin::TBString& pattern);
    // True when an entry of sourceFolders equals `path` but for letter case;
    // `path` is compared as given.
    bool containsSourceFolder(const terbin::TBString& path) const;
    // Appends the normalised `path` unless an entry equals it but for case,
    // or (without `force`) it is not an existing folder.
    void addSourceFolder(const terbin::TBString& path, bool force);
    // True when the folder at the full "/"-joined `path` is excluded: some
    // pattern of excludeFolders matches a trailing run of its components.
    bool isFolderExcluded(const terbin::TBString& path) const;
    // True when the file `name` (without folder) fails an include pattern or
    // matches an exclude pattern. Letter case does not count.
    bool isFileExcluded(const terbin::TBString& name) const;

    // Registry persistence under <registry root>/BackupSets/<keyName> in
    // hive 2. save writes the settings (nothing of the run-time side) in one
    // transaction, so a set is never found half written. It gives the set a
    // new registryIdentity when it had none or is saved under another key,
    // and writes it with the settings. Saved under the key it was loaded from
    // or last saved under (registryKeyName), it writes only while that key
    // exists and holds the set's identity (none, for a set stored before
    // identities were kept), checked inside the transaction: a set removed by
    // another process is not brought back, and a set saved since under the
    // same name is not overwritten. 0 with registryKeyName set to `keyName`;
    // otherwise registryKeyName and registryIdentity are left as they were
    // and the result is TB_KEY_DELETED when the key was gone or held another
    // set, else the failure's code.
    uint32_t save(const terbin::TBString& keyName);
    // Sets registryKeyName to `keyName` and reads the settings and
    // registryIdentity back, leaving a setting whose value is missing at what
    // it held. False when there is no such key: the settings are left alone
    // and registryIdentity is empty.
    bool load(const terbin::TBString& keyName);
    // Saves the set, with a new registryIdentity, under a key no other set has: `preferred` when it
    // is free, else the smallest free decimal name. The name is chosen and the set written in one
    // transaction, so processes creating sets at the same time never share a key. Returns the key
    // name and sets registryKeyName to it; both empty when nothing was saved.
    terbin::TBString saveNew(const terbin::TBString& preferred);
    // Whether `name` can serve as a set's name: it becomes a folder name and
    // part of file names, so it must be one plain name (not empty, not "."
    // or "..", without "/" and without control characters).
    static bool isPlainName(const terbin::TBString& name);
    // The key (hive 2) that holds every set: <registry root>/BackupSets.
    static terbin::TBString setsKeyPath();
    // The value beside the settings that holds a set's identity.
    static constexpr const wchar_t* IdentityValueName = L"Identity";
    // The file whose lock a run of the set saved under `keyName` holds,
    // beside the registry's store: one per key, the same in every process.
    // Empty when the registry has no store.
    static terbin::TBString runLockPath(const terbin::TBString& keyName);
    // The key (hive 2) of the set stored under `keyName`.
    static terbin::TBString registryKeyPath(const terbin::TBString& keyName);

    // Fields, in declaration order.
    BackupSetState state;
    terbin::TBString backupName;
    terbin::TBString targetFolder;
    terbin::TBStringArray sourceFolders;
    terbin::TBStringArray includeFiles;
    terbin::TBStringArray excludeFiles;
    terbin::TBStringArray excludeFolders;
    int32_t backupType = DateSubfolder;
    int32_t backupFolderCount = 4;
    int32_t backupFullPath = 1;
    int32_t backupAddComputerFolder = 1;
    int32_t backupAddBackupSetFolder = 0;
    int32_t backupFollowSymLinks = 0;
    int32_t backupCreateLog = 1;
    int32_t backupExcludeFromStartAll = 0;
    int32_t preBackupEnabled = 0;
    int32_t preBackupWaitForCompletion = 1;
    int32_t preBackupIgnoreStatus = 0;
    int32_t preBackupTimeout = 0;
    int32_t preBackupTimeoutMS = 60000;
    terbin::TBString preBackupProgram;
    terbin::TBString preBackupArgs;
    int32_t postBackupEnabled = 0;
    int32_t postBackupWaitForCompletion = 0;
    int32_t postBackupIgnoreStatus = 0;
    int32_t postBackupTimeout = 0;
    int32_t postBackupTimeoutMS = 60000;
    terbin::TBString postBackupProgram;
    terbin::TBString postBackupArgs;
    std::atomic<bool> pauseRequested{false};
    std::atomic<bool> stopRequested{false};
    std::atomic<bool> modified{false};
    std::atomic<bool> waitingForDiskSpace{false};
    terbin::TBString registryKeyName;
    // Tells this set from a later one saved under the same key name once this
    // one is removed: key names are reused, identities never. Empty for a
    // set never saved, or stored before identities were kept.
    terbin::TBString registryIdentity;
    terbin::TBString logFilePath;
    std::atomic<int32_t> foldersScanned{0};
    std::atomic<int32_t> foldersSkipped{0};
    std::atomic<int32_t> filesCopied{0};
    std::atomic<int32_t> filesSkipped{0};
    std::atomic<int32_t> filesUnchanged{0};
    std::atomic<int64_t> bytesCopied{0};
    terbin::TBStringArray failedFiles;
    terbin::TBStringArray failedFolders;
    terbin::TBString failureReason;
    std::atomic<int32_t> status{Ready};
};
