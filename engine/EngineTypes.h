// Records the engine's modules share: frame stores and the per-macroblock record.
#pragma once

#include <cstdint>

// One picture as three 8-bit planes, 4:2:0; each plane has a spare line below it.
struct FramePlanes {
    uint8_t* y = nullptr;
    uint8_t* cb = nullptr;
    uint8_t* cr = nullptr;
};

// Picture types, as picture_coding_type codes them.
enum PictureType : int {
    I_PICTURE = 1,
    P_PICTURE = 2,
    B_PICTURE = 3,
};

// Macroblock type flags.
enum : int {
    MB_INTRA = 1,
    MB_PATTERN = 2,
    MB_BACKWARD = 4,
    MB_FORWARD = 8,
    MB_QUANT = 16,
};

// One record per macroblock, raster order, in MacroblockInfoArray.
struct MacroblockInfo {
    int typeFlags = 0;
    int motionType = 0;
    int dctType = 0;
    int quantScale = 0;  // doubled: 2..62 stands for quantiser_scale_code 1..31
    int codedBlockPattern = 0;
    int skipped = 0;
    int firstStageResult[3] = {0, 0, 0};  // error, absolute half-sample x, y
    int forwardVector[2] = {0, 0};        // horizontal, vertical, half samples
    int backwardVector[2] = {0, 0};
    uint8_t matchWindows[6] = {0, 0, 0, 0, 0, 0};
    int fieldSelect[2] = {0, 0};  // never used by frame pictures
    int spatialActivity = 0;
    int meanLuma = 0;
    int predictionError = 0;
    int searchResults[2] = {0, 0};
    // 1 when the error blocks were transformed with their layout, before
    // coding: the blocks hold DCT coefficients, and pretestLevels the
    // threshold-free part of each block's pre-test (FdctPretestLevels).
    int transformedAhead = 0;
    uint32_t pretestLevels[6][2] = {};
};

constexpr int BlockCount = 6;  // 4:2:0: four luma blocks, Cb, Cr

// Asks for the coefficient blocks of one macroblock (BlockCount blocks of 64)
// ahead of their use, when another thread wrote them last.
inline void PrefetchMacroblockBlocks(const int16_t* blocks) {
    const char* bytes = reinterpret_cast<const char*>(blocks);
    for (int line = 0; line < BlockCount * 64 * 2; line += 64) __builtin_prefetch(bytes + line);
}
