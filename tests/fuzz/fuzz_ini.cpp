// INI files: reading keys of the program's sections, and rewriting one key in place.
#include <cstddef>
#include <cstdint>

#include "platform/Ini.h"
#include "tests/fuzz/FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const auto path = fuzz::WriteInput("input.ini", fuzz::Bytes(data, size));
    for (const char* section : {"ZRN-MPEG", "Settings", ""}) {
        for (const char* key : {"Default_ME_Threads", "x", ""}) {
            platform::IniReadString(section, key, "default", path);
            platform::IniReadInt(section, key, 7, path);
        }
    }
    platform::IniWriteString("ZRN-MPEG", "Default_ME_Threads", "3", path);
    platform::IniWriteInt("New section", "key", -5, path);
    return 0;
}
