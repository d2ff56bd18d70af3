#include "foundation/CRuntime.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>

#include "foundation/SystemInterface.h"

int _chmod(const terbin::TBString& path, int mode) {
    terbin::SystemInterface& sys = terbin::tb_system();
    const std::string bytes = path.narrow();
    struct statx sx {};
    if (sys.statx(AT_FDCWD, bytes.c_str(), AT_SYMLINK_NOFOLLOW, STATX_MODE | STATX_TYPE, &sx) !=
        0) {
        return -1;
    }
    if (S_ISLNK(sx.stx_mode))
        return 0;
    mode_t bits = sx.stx_mode & 07777;
    if (mode & 0200) {
        bits |= S_IWUSR;
    } else {
        bits &= ~static_cast<mode_t>(0222);
    }
    return sys.chmod(bytes.c_str(), bits);
}
