// libFuzzer entry for the backup set definition file reader; built by the
// "fuzz" preset and run by fuzz/run-fuzz.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "fuzz/DefinitionFileInput.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    BackupSet set;
    runDefinitionFileInput(std::string_view(reinterpret_cast<const char*>(data), size), set);
    return 0;
}
