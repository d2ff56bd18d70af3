#include "foundation/TBResult.h"

#include <cerrno>

namespace terbin {

uint32_t tb_result_fromErrno(int error) {
    switch (error) {
        case 0:
            return TB_OK;
        case ENOENT:
            return TB_FILE_NOT_FOUND;
        case ENOTDIR:
            return TB_PATH_NOT_FOUND;
        case EACCES:
        case EPERM:
        case EROFS:
            return TB_ACCESS_DENIED;
        case ENOMEM:
            return TB_NOT_ENOUGH_MEMORY;
        case EBUSY:
            return TB_BUSY;
        case EINVAL:
            return TB_INVALID_PARAMETER;
        case ENOSPC:
        case EDQUOT:
            return TB_DISK_FULL;
        case ENOTEMPTY:
            return TB_DIR_NOT_EMPTY;
        case EEXIST:
            return TB_ALREADY_EXISTS;
        case ENAMETOOLONG:
            return TB_FILENAME_TOO_LONG;
        default:
            return TB_GEN_FAILURE;
    }
}

}  // namespace terbin

namespace {
thread_local uint32_t lastError = 0;
}

uint32_t tb_status_getLastError() {
    return lastError;
}
void tb_status_setLastError(uint32_t code) {
    lastError = code;
}

uint32_t tb_status_fail(uint32_t code) {
    lastError = code;
    return code;
}
