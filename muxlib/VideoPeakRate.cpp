// Measuring a variable-rate video stream's peak rate from its picture sizes.
#include "muxlib/VideoPeakRate.h"

#include "muxlib/SequenceHeader.h"

#include <vector>

uint32_t MeasureVariableVideoRate(FILE* file)
{
    const long start = std::ftell(file);
    if (start < 0) return 0;
    std::vector<uint8_t> block(65536);
    uint32_t window = 0xFFFFFF00;  // the last bytes seen, so codes across blocks are found
    uint64_t position = 0;
    uint64_t pictureStart = 0;
    bool inPicture = false;
    bool headerRead = false;
    uint8_t header[SequenceHeaderBytes - 4] = {};
    int headerBytes = -1;  // bytes of the sequence header after its start code, while collecting
    PeakRateMeter* meter = nullptr;
    PeakRateMeter storage(0.0);
    size_t got;
    while ((got = std::fread(block.data(), 1, block.size(), file)) > 0) {
        for (size_t i = 0; i < got; ++i, ++position) {
            const uint8_t byte = block[i];
            if (headerBytes >= 0 && headerBytes < static_cast<int>(sizeof header)) {
                header[headerBytes++] = byte;
                if (headerBytes == static_cast<int>(sizeof header)) {
                    headerRead = true;
                    const SequenceHeader sequence = ParseSequenceHeader(header);
                    if (sequence.bitRate != VariableBitRateCode || sequence.pictureRate == nullptr) {
                        std::fseek(file, start, SEEK_SET);
                        return 0;
                    }
                    const auto& rate = *sequence.pictureRate;
                    storage = PeakRateMeter(static_cast<double>(rate.num) / rate.den);
                    meter = &storage;
                }
            }
            window = window << 8 | byte;
            if ((window & 0xFFFFFF00u) != 0x00000100u) continue;
            const uint8_t code = static_cast<uint8_t>(window);
            if (code == 0xB3 && !headerRead && headerBytes < 0) headerBytes = 0;
            if (code != 0x00) continue;
            // A picture's bytes run from its start code to the next one's.
            const uint64_t codeStart = position - 3;
            if (inPicture && meter != nullptr) meter->AddPicture(codeStart - pictureStart);
            pictureStart = codeStart;
            inPicture = true;
        }
    }
    const bool failed = std::ferror(file) != 0;
    std::clearerr(file);
    std::fseek(file, start, SEEK_SET);
    if (failed || meter == nullptr) return 0;
    if (inPicture) meter->AddPicture(position - pictureStart);
    return meter->PeakBitRate();
}
