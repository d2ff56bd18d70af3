#include "base/ULVbase.h"
