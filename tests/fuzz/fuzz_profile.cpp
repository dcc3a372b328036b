// Profile files: the full reader with its checks, and the summary the profile lists read.
#include <cstddef>
#include <cstdint>
#include <string>

#include "job/Profile.h"
#include "settings/Report.h"
#include "tests/fuzz/FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::SilenceMessageBoxes();
    BatchMode = 0;
    const std::string path = fuzz::WriteInput("input.prf", fuzz::Bytes(data, size)).string();
    ReadProfile("+");
    ReadProfile(path.c_str());

    std::string description;
    int mpeg1 = 0, width = 0, height = 0, frameRate = 0, unused1 = 0, unused2 = 0, videoBitRate = 0,
        audioBitRate = 0, audioMode = 0, muxBitRate = 0;
    ReadProfileHeader(path.c_str(), &description, &mpeg1, &width, &height, &frameRate, &unused1, &unused2,
                      &videoBitRate, &audioBitRate, &audioMode, &muxBitRate);
    return 0;
}
