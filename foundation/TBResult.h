// Result codes of the foundation: 0 for success, otherwise a Windows-compatible
// error number mapped from errno, so callers can test for 5, 112 and the like.
#pragma once

#include <cerrno>
#include <cstdint>

namespace terbin {

constexpr uint32_t TB_OK = 0;
constexpr uint32_t TB_FILE_NOT_FOUND = 2;
constexpr uint32_t TB_PATH_NOT_FOUND = 3;
constexpr uint32_t TB_ACCESS_DENIED = 5;
constexpr uint32_t TB_NOT_ENOUGH_MEMORY = 8;
constexpr uint32_t TB_OUTOFMEMORY = 14;
constexpr uint32_t TB_HANDLE_DISK_FULL = 39;
constexpr uint32_t TB_BUSY = 32;
constexpr uint32_t TB_INVALID_PARAMETER = 87;
constexpr uint32_t TB_DISK_FULL = 112;
constexpr uint32_t TB_DIR_NOT_EMPTY = 145;
constexpr uint32_t TB_ALREADY_EXISTS = 183;
constexpr uint32_t TB_FILENAME_TOO_LONG = 206;
constexpr uint32_t TB_FILE_TOO_LARGE = 223;
// Every errno without an entry of its own maps here (Windows' "general failure").
constexpr uint32_t TB_GEN_FAILURE = 31;

// Maps an errno value to a result code; 0 stays 0.
uint32_t tb_result_fromErrno(int error);

// Puts errno back as it was at construction, however the scope ends: for
// work (logging, say) that must not disturb the error a caller reads next.
class TBErrnoKeeper {
public:
    TBErrnoKeeper() : saved_(errno) {}
    ~TBErrnoKeeper() { errno = saved_; }
    TBErrnoKeeper(const TBErrnoKeeper&) = delete;
    TBErrnoKeeper& operator=(const TBErrnoKeeper&) = delete;

private:
    int saved_;
};

}  // namespace terbin

// The calling thread's last foundation error, as a result code. Set by every
// foundation operation that fails.
uint32_t tb_status_getLastError();
void tb_status_setLastError(uint32_t code);
// Sets the calling thread's last error to `code` and returns `code`, so that a
// failing operation can record and report its result in one step.
uint32_t tb_status_fail(uint32_t code);
