#include "foundation/TBException.h"

#include <cstring>

namespace terbin {

TBException::TBException(const char* kind, const std::string& message, const char* file, int line)
    : std::runtime_error(std::string(kind) + ": " + message + " (" + file + ":" +
                         std::to_string(line) + ")"),
      file_(file),
      line_(line) {}

const char* tb_source_path(const char* file) {
    // Build paths are absolute; keep the part from the subsystem folder on.
    for (const char* root : {"/foundation/", "/backupset/", "/engine/", "/base/"}) {
        if (const char* hit = std::strstr(file, root))
            return hit + 1;
    }
    return file;
}

}  // namespace terbin
