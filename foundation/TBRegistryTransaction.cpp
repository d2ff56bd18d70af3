#include "foundation/TBRegistry.h"

#include "foundation/RegistryStore.h"
#include "foundation/TBResult.h"

namespace terbin {

TBRegistryTransaction::TBRegistryTransaction(TBRegistryKey& key) {
    if (!key.store_) {
        result_ = tb_status_fail(TB_FILE_NOT_FOUND);
    } else if (key.store_->inTransaction()) {
        result_ = tb_status_fail(TB_INVALID_PARAMETER);
    } else {
        store_ = key.store_;
        result_ = store_->begin();
    }
}

TBRegistryTransaction::~TBRegistryTransaction() {
    if (store_)
        store_->end(false);
}

uint32_t TBRegistryTransaction::commit() {
    if (!store_)
        return tb_status_fail(result_ != TB_OK ? result_ : TB_INVALID_PARAMETER);
    result_ = store_->end(true);
    store_.reset();
    return result_;
}

}  // namespace terbin
