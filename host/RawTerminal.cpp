#include "host/RawTerminal.h"

#include <unistd.h>

#include <cerrno>

RawTerminal::RawTerminal() {
    termios mode{};
    if (!isatty(STDIN_FILENO) || tcgetattr(STDIN_FILENO, &mode) != 0)
        return;
    termios keys = mode;
    keys.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
    // A read returns at once, with a key or with nothing: the descriptor is
    // shared with the shell, so its flags (O_NONBLOCK) are left alone.
    keys.c_cc[VMIN] = 0;
    keys.c_cc[VTIME] = 0;
    keys.c_cc[VSUSP] = _POSIX_VDISABLE;
    if (tcsetattr(STDIN_FILENO, TCSANOW, &keys) == 0)
        saved_ = mode;
}

RawTerminal::~RawTerminal() {
    if (saved_)
        tcsetattr(STDIN_FILENO, TCSANOW, &*saved_);
}

std::optional<char> RawTerminal::nextKey() {
    if (!saved_)
        return std::nullopt;
    char key = 0;
    ssize_t n = 0;
    while ((n = ::read(STDIN_FILENO, &key, 1)) < 0 && errno == EINTR) {
    }
    if (n != 1)
        return std::nullopt;
    return key;
}
