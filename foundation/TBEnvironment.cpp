#include "foundation/TBEnvironment.h"

#include <unistd.h>

#include <cstdlib>
#include <mutex>
#include <string>

namespace terbin {

namespace {

std::mutex& overrideMutex() {
    static std::mutex mutex;
    return mutex;
}

TBString& executableOverride() {
    static TBString path;
    return path;
}

}  // namespace

TBString tb_misc_getEnvironmentVariable(const TBString& name) {
    TBString value;
    tb_misc_getEnvironmentVariable(name, value);
    return value;
}

bool tb_misc_getEnvironmentVariable(const TBString& name, TBString& value) {
    const char* text = std::getenv(name.narrow().c_str());
    value = text ? TBString::fromBytes(text) : TBString();
    return text != nullptr;
}

TBString tb_misc_getExecutablePath() {
    {
        std::lock_guard<std::mutex> guard(overrideMutex());
        if (!executableOverride().isEmpty())
            return executableOverride();
    }
    // readlink does not say how long the target is; grow until it fits.
    std::string buffer(256, '\0');
    for (;;) {
        const ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
        if (n < 0)
            return TBString();
        if (static_cast<size_t>(n) < buffer.size()) {
            buffer.resize(static_cast<size_t>(n));
            return TBString::fromBytes(buffer);
        }
        buffer.resize(buffer.size() * 2);
    }
}

void tb_misc_setExecutablePath(const TBString& path) {
    std::lock_guard<std::mutex> guard(overrideMutex());
    executableOverride() = path;
}

}  // namespace terbin
