// Batch list files: the loader, the entry conversions and writing the list back.
#include <cstddef>
#include <cstdint>

#include "app/BatchList.h"
#include "tests/fuzz/FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::SilenceMessageBoxes();
    const auto path = fuzz::WriteInput("input.btc", fuzz::Bytes(data, size));
    BatchListContents shown;
    if (!LoadJobList(path.string(), shown)) return 0;
    SaveJobList((fuzz::WorkDir() / "again.btc").string(), shown);
    BatchListContents again;
    LoadJobList((fuzz::WorkDir() / "again.btc").string(), again);
    return 0;
}
