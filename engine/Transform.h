// Macroblock transform and reconstruction: lays out the prediction-error
// blocks of a picture in the block store before coding, and rebuilds the
// reconstructed picture from the quantised blocks afterwards.
#pragma once

#include <cstdint>

#include "engine/EngineTypes.h"
#include "engine/Fdct.h"

// Sample kernels of the block layout and the reconstruction; blocks are 8x8,
// lines `lineStep` bytes apart.
struct TransformKernels {
    // Intra samples less 128.
    void (*intraBlock)(int16_t* block, const uint8_t* source, int lineStep);
    // Source less prediction.
    void (*differenceBlock)(int16_t* block, const uint8_t* source, const uint8_t* prediction, int lineStep);
    // target = clip(block + 128), 0..255.
    void (*reconstructIntraBlock)(uint8_t* target, const int16_t* block, int lineStep);
    // target = clip(prediction + block), 0..255; target and prediction share the layout.
    void (*reconstructPredictedBlock)(uint8_t* target, const uint8_t* prediction, const int16_t* block,
                                      int lineStep);
};

// Fills the table with the plain kernels, then with the SIMD ones when `simd`.
void transform_init(bool simd, TransformKernels& kernels);
// The kernels the engine runs: plain until SelectEngineKernels fills it
// when an encoding is set up.
extern TransformKernels TransformKernelSet;

// Fills the six blocks of every macroblock of the picture (EncodeWidth x
// EncodeHeight) and, for interlaced MPEG-2 pictures, decides each macroblock's
// DCT type (MacroblockInfo.dctType; 0 otherwise). The prediction is not read
// for intra macroblocks.
void FormPredictionErrorBlocks(const FramePlanes& prediction, const FramePlanes& source,
                               MacroblockInfo* macroblocks, int16_t* blocks);

// The same one macroblock row at a time, for callers that follow it row by
// row (rows are independent and may run at once). With `transformAhead` the
// blocks are transformed and pre-tested too (MacroblockInfo.transformedAhead).
struct ErrorBlockRows {
    FdctKernels fdct{};
    TransformKernels kernels{};
    bool choose = false;
    bool transformAhead = false;
    const FramePlanes *prediction = nullptr, *source = nullptr;
    MacroblockInfo* macroblocks = nullptr;
    int16_t* blocks = nullptr;
};
ErrorBlockRows SetUpErrorBlockRows(const FramePlanes& prediction, const FramePlanes& source,
                                   MacroblockInfo* macroblocks, int16_t* blocks, bool transformAhead);
void FormErrorBlockRow(const ErrorBlockRows& rows, int row);
// Asks for the source lines of macroblock row `row` ahead of FormErrorBlockRow:
// on a thread that did not read them last they come from far away.
void PrefetchErrorBlockRow(const ErrorBlockRows& rows, int row);

// Rebuilds macroblock rows [firstRow, endRow) of `reconstruction` from the
// quantised blocks: inverse quantisation, inverse DCT, prediction added. A bad
// range or slot is a fatal error and nothing is written. Rows are independent:
// calls for different rows may run at once.
void itransform(const FramePlanes& prediction, const FramePlanes& reconstruction,
                const MacroblockInfo* macroblocks, const int16_t* blocks, int firstRow, int endRow, int slot);

// The same one macroblock row at a time (rows from 0), for callers that
// follow the coding loop row by row; `slot` chooses the inverse DCT as above.
struct ReconstructionRows {
    void (*inverse)(int16_t*) = nullptr;
    TransformKernels kernels{};
    bool choose = false;
    const FramePlanes *prediction = nullptr, *reconstruction = nullptr;
    const MacroblockInfo* macroblocks = nullptr;
    const int16_t* blocks = nullptr;
    int firstRow = 0;
};
ReconstructionRows SetUpReconstructionRows(const FramePlanes& prediction, const FramePlanes& reconstruction,
                                           const MacroblockInfo* macroblocks, const int16_t* blocks, int slot);
// A row body for the row loops: context is a ReconstructionRows.
void ReconstructRow(void* context, int row);

// The largest sum of absolute differences over the first line and left eight
// samples of each macroblock, leaving out the last macroblock column; luma
// planes of EncodeWidth x EncodeHeight.
int MaxLineDifference(const uint8_t* a, const uint8_t* b);
