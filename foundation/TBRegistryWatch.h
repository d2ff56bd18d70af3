// Tells a long-running program that the registry changed under it: another
// process imported or removed a set, say, and what the program holds in memory
// may be out of date.
//
// The watch keeps a connection of its own to the hive's store and asks it for
// the store's data version, which SQLite moves on whenever any other
// connection commits a change. A change made through this process's keys
// counts as well: each of them has a connection of its own. Asking costs one
// small query and one file status when nothing changed, so a window can ask
// every second.
//
// One thread at a time, in the process that made the watch.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace terbin {

class TBRegistryStore;

class TBRegistryWatch {
public:
    // Watches the store of `hive` as it is now; a missing store is watched
    // for its appearance. Reading only: nothing is created.
    explicit TBRegistryWatch(int hive);
    ~TBRegistryWatch();
    TBRegistryWatch(const TBRegistryWatch&) = delete;
    TBRegistryWatch& operator=(const TBRegistryWatch&) = delete;

    // True when a change was committed to the store since the watch was made
    // or last said true; also when the store appeared, went, was replaced by
    // another file or moved (the hive's location is looked up afresh). A store
    // that cannot be read at the moment says false and is asked again next
    // time, so a change made meanwhile is not lost.
    bool changed();

private:
    // Opens the store at its present location; false when there is none.
    bool open();
    // Whether the file at `path_` is still the one the connection has open.
    bool sameFile() const;

    int hive_;
    std::shared_ptr<TBRegistryStore> store_;
    std::string path_;
    uint64_t device_ = 0;
    uint64_t inode_ = 0;
    int64_t version_ = 0;
};

}  // namespace terbin
