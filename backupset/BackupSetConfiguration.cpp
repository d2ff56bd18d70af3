#include "backupset/BackupSetConfiguration.h"

#include <atomic>

#include "foundation/TBException.h"

namespace {

// Read by the worker as well (fix); written only at start-up and shut-down.
std::atomic<const BackupSetConfiguration*> current{nullptr};

}  // namespace

BackupSetConfiguration::~BackupSetConfiguration() = default;

void BackupSetConfiguration::install(const BackupSetConfiguration* configuration) {
    current.store(configuration);
}

const BackupSetConfiguration& BackupSetConfiguration::installed() {
    const BackupSetConfiguration* configuration = current.load();
    if (configuration == nullptr)
        TB_THROW(terbin::TBIllegalStateException, "no backup set configuration is installed");
    return *configuration;
}

bool BackupSetConfiguration::isInstalled(const BackupSetConfiguration* configuration) {
    return current.load() == configuration;
}
