// Quantiser matrix files, as the intra and as the non-intra matrix.
#include <cstddef>
#include <cstdint>

#include "job/Profile.h"
#include "settings/EncoderSettings.h"
#include "settings/Report.h"
#include "tests/fuzz/FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::SilenceMessageBoxes();
    BatchMode = 0;
    const std::string path = fuzz::WriteInput("input.mat", fuzz::Bytes(data, size)).string();
    EncoderSettings.intraMatrixFileName = path;
    EncoderSettings.nonIntraMatrixFileName = "-";
    LoadQuantMatrices();
    EncoderSettings.intraMatrixFileName = "-";
    EncoderSettings.nonIntraMatrixFileName = path;
    LoadQuantMatrices();
    return 0;
}
