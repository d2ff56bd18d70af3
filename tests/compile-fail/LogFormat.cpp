// Calls that the compile-time check of TBLog's formats must refuse, one per
// kind of fault; each is built on its own (see CMakeLists.txt beside this
// file). Case 0 holds the same calls put right and must build.
#include "foundation/TBLog.h"

void logCopyResult([[maybe_unused]] terbin::TBLog& log, [[maybe_unused]] int files,
                   [[maybe_unused]] long long bytes, [[maybe_unused]] const char* folder) {
#if LOG_FORMAT_CASE == 0
    log.info("%d file(s) %llk copied", files, bytes);
    log.info(" copy folder %s", folder);
    log.info("  pre-backup script failed");
#elif LOG_FORMAT_CASE == 1
    // %llk takes a 64-bit byte count; an int is only half of one.
    log.info("%d file(s) %llk copied", files, files);
#elif LOG_FORMAT_CASE == 2
    // No such conversion.
    log.info(" copy folder %y", folder);
#elif LOG_FORMAT_CASE == 3
    // The byte count is missing.
    log.info("%d file(s) %llk copied", files);
#elif LOG_FORMAT_CASE == 4
    // One argument more than the format uses.
    log.info(" copy folder %s", folder, files);
#else
#error "unknown LOG_FORMAT_CASE"
#endif
}
