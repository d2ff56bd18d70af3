// Which loaded module holds an address. Internal to the framework stand-in.
#pragma once

#include "foundation/TBString.h"
#include "mfc/afxwin.h"

// Path of the module that holds `address`, as the loader knows it; empty
// when no module does.
terbin::TBString afxModulePathOf(const void* address);
// The module that holds `address`; the program's handle when that module
// cannot be found by its path (as for the program itself).
HMODULE afxModuleOf(const void* address);
// The module that holds this framework code.
HMODULE afxThisModule();
