#include "foundation/TBRegistryWatch.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include "foundation/RegistryStore.h"
#include "foundation/SystemInterface.h"
#include "foundation/TBRegistry.h"

namespace terbin {

namespace {

// The device and inode of the file at `path`; false when there is none.
bool fileIdentity(const std::string& path, uint64_t& device, uint64_t& inode) {
    struct statx info {};
    if (tb_system().statx(AT_FDCWD, path.c_str(), 0, STATX_INO, &info) != 0)
        return false;
    device = makedev(info.stx_dev_major, info.stx_dev_minor);
    inode = info.stx_ino;
    return true;
}

}  // namespace

TBRegistryWatch::TBRegistryWatch(int hive) : hive_(hive) {
    open();
}

TBRegistryWatch::~TBRegistryWatch() = default;

bool TBRegistryWatch::open() {
    store_.reset();
    path_ = tb_registry_storePath(hive_).narrow();
    if (path_.empty())
        return false;
    uint32_t result = TB_OK;
    auto store = TBRegistryStore::open(hive_, false, result);
    // The version counts from this moment: what was committed before the
    // store was opened is already in what the caller reads next.
    if (!store ||
        registry::queryInteger(store->db(), "PRAGMA data_version", version_) != SQLITE_ROW ||
        !fileIdentity(path_, device_, inode_)) {
        return false;
    }
    store_ = std::move(store);
    return true;
}

bool TBRegistryWatch::sameFile() const {
    uint64_t device = 0;
    uint64_t inode = 0;
    return fileIdentity(path_, device, inode) && device == device_ && inode == inode_;
}

bool TBRegistryWatch::changed() {
    if (!store_)
        return open();
    // The connection keeps the file it opened, whatever happens to its name:
    // a store deleted, replaced or moved elsewhere would never change again.
    if (tb_registry_storePath(hive_).narrow() != path_ || !sameFile()) {
        open();
        return true;
    }
    int64_t version = 0;
    if (registry::queryInteger(store_->db(), "PRAGMA data_version", version) != SQLITE_ROW ||
        version == version_) {
        return false;
    }
    version_ = version;
    return true;
}

}  // namespace terbin
