// The process's environment: its variables and the path of its executable.
#pragma once

#include "foundation/TBString.h"

namespace terbin {

// The value of the environment variable `name`; empty when it is not defined.
TBString tb_misc_getEnvironmentVariable(const TBString& name);
// Stores the value of `name` in `value` and returns true when the variable is
// defined (possibly empty); returns false and empties `value` otherwise.
bool tb_misc_getEnvironmentVariable(const TBString& name, TBString& value);

// Full path of the running executable as the kernel reports it (links
// resolved), or the path given to tb_misc_setExecutablePath. Empty when
// neither is available.
TBString tb_misc_getExecutablePath();
// Makes tb_misc_getExecutablePath report `path` instead of the real
// executable; an empty path restores the real one. Lets tests place a
// pretended executable beside the files it would find.
void tb_misc_setExecutablePath(const TBString& path);

}  // namespace terbin
