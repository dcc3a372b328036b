// Block layout before coding and the reconstruction after it, with the plain
// sample kernels and the choice of kernels.
#include "engine/Transform.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "engine/EngineState.h"
#include "engine/Fdct.h"
#include "engine/Idct.h"
#include "engine/Quant.h"
#include "engine/Threads.h"
#include "settings/EncoderSettings.h"
#include "settings/Report.h"

// The SIMD sample kernels (TransformSse2.cpp).
void transform_init_sse2(TransformKernels& kernels);

namespace {

void IntraBlock(int16_t* block, const uint8_t* source, int lineStep) {
    for (int y = 0; y < 8; ++y, source += lineStep)
        for (int x = 0; x < 8; ++x) block[8 * y + x] = static_cast<int16_t>(source[x] - 128);
}

void DifferenceBlock(int16_t* block, const uint8_t* source, const uint8_t* prediction, int lineStep) {
    for (int y = 0; y < 8; ++y, source += lineStep, prediction += lineStep)
        for (int x = 0; x < 8; ++x) block[8 * y + x] = static_cast<int16_t>(source[x] - prediction[x]);
}

uint8_t ClipPixel(int value) { return static_cast<uint8_t>(std::clamp(value, 0, 255)); }

void ReconstructIntraBlock(uint8_t* target, const int16_t* block, int lineStep) {
    for (int y = 0; y < 8; ++y, target += lineStep)
        for (int x = 0; x < 8; ++x) target[x] = ClipPixel(block[8 * y + x] + 128);
}

void ReconstructPredictedBlock(uint8_t* target, const uint8_t* prediction, const int16_t* block, int lineStep) {
    for (int y = 0; y < 8; ++y, target += lineStep, prediction += lineStep)
        for (int x = 0; x < 8; ++x) target[x] = ClipPixel(prediction[x] + block[8 * y + x]);
}

void CopyBlock(uint8_t* target, const uint8_t* source, int lineStep) {
    for (int y = 0; y < 8; ++y, target += lineStep, source += lineStep) std::memcpy(target, source, 8);
}

// Where block b of a macroblock lies: plane (0 luma, 1 Cb, 2 Cr), offset of
// its first sample and the step between its lines.
struct BlockPlace {
    int plane;
    size_t offset;
    int lineStep;
};

void PlaceBlocks(int mbColumn, int mbRow, int dctType, BlockPlace places[BlockCount]) {
    const size_t width = static_cast<size_t>(Sequence.EncodeWidth);
    const size_t lumaOrigin = 16 * static_cast<size_t>(mbRow) * width + 16 * static_cast<size_t>(mbColumn);
    // Field DCT: blocks 0 and 1 take the even lines, 2 and 3 the odd lines.
    const size_t lowerStart = dctType ? width : 8 * width;
    const int lumaStep = static_cast<int>(dctType ? 2 * width : width);
    places[0] = {0, lumaOrigin, lumaStep};
    places[1] = {0, lumaOrigin + 8, lumaStep};
    places[2] = {0, lumaOrigin + lowerStart, lumaStep};
    places[3] = {0, lumaOrigin + lowerStart + 8, lumaStep};
    const size_t chromaOrigin =
        8 * static_cast<size_t>(mbRow) * Sequence.ChromaWidth + 8 * static_cast<size_t>(mbColumn);
    places[4] = {1, chromaOrigin, Sequence.ChromaWidth};
    places[5] = {2, chromaOrigin, Sequence.ChromaWidth};
}

uint8_t* Plane(const FramePlanes& planes, int plane) {
    return plane == 0 ? planes.y : plane == 1 ? planes.cb : planes.cr;
}

// Frame and field DCT are chosen per macroblock only for interlaced MPEG-2 pictures.
bool ChoosesDctType() { return EncoderSettings.mpeg1 == 0 && EncoderSettings.progressiveFrame == 0; }

}  // namespace

TransformKernels TransformKernelSet = [] {
    TransformKernels k;
    transform_init(false, k);
    return k;
}();

void transform_init(bool simd, TransformKernels& kernels) {
    kernels.intraBlock = IntraBlock;
    kernels.differenceBlock = DifferenceBlock;
    kernels.reconstructIntraBlock = ReconstructIntraBlock;
    kernels.reconstructPredictedBlock = ReconstructPredictedBlock;
    if (simd) transform_init_sse2(kernels);
}

void PrefetchErrorBlockRow(const ErrorBlockRows& j, int row) {
    // All the lines at once, so that their waits overlap.
    const FramePlanes& source = *j.source;
    auto lines = [](const uint8_t* first, size_t width, int count) {
        for (int line = 0; line < count; ++line, first += width)
            for (size_t x = 0; x < width; x += 64) __builtin_prefetch(first + x);
    };
    const size_t width = Sequence.EncodeWidth, chromaWidth = Sequence.ChromaWidth;
    lines(source.y + 16 * static_cast<size_t>(row) * width, width, 16);
    lines(source.cb + 8 * static_cast<size_t>(row) * chromaWidth, chromaWidth, 8);
    lines(source.cr + 8 * static_cast<size_t>(row) * chromaWidth, chromaWidth, 8);
}

void FormErrorBlockRow(const ErrorBlockRows& j, int row) {
    const FramePlanes &prediction = *j.prediction, &source = *j.source;
    const int mbColumns = Sequence.EncodeWidth / 16;
    for (int column = 0; column < mbColumns; ++column) {
        MacroblockInfo& mb = j.macroblocks[row * mbColumns + column];
        const bool intra = (mb.typeFlags & MB_INTRA) != 0;
        const size_t lumaOrigin =
            16 * static_cast<size_t>(row) * Sequence.EncodeWidth + 16 * static_cast<size_t>(column);
        if (j.choose) {
            mb.dctType = intra ? j.fdct.dctTypeEstimateIntra(source.y + lumaOrigin, Sequence.EncodeWidth)
                               : j.fdct.dctTypeEstimateInter(prediction.y + lumaOrigin, source.y + lumaOrigin,
                                                             Sequence.EncodeWidth);
        } else {
            mb.dctType = 0;
        }
        BlockPlace places[BlockCount];
        PlaceBlocks(column, row, mb.dctType, places);
        int16_t* block = j.blocks + static_cast<size_t>(row * mbColumns + column) * BlockCount * 64;
        mb.transformedAhead = j.transformAhead ? 1 : 0;
        for (int b = 0; b < BlockCount; ++b, block += 64) {
            const BlockPlace& place = places[b];
            const uint8_t* from = Plane(source, place.plane) + place.offset;
            if (intra)
                j.kernels.intraBlock(block, from, place.lineStep);
            else
                j.kernels.differenceBlock(block, from, Plane(prediction, place.plane) + place.offset,
                                          place.lineStep);
            if (!j.transformAhead) continue;
            if (!intra) j.fdct.pretestLevels(block, mb.pretestLevels[b]);
            j.fdct.fdct(block);
        }
    }
}

namespace {

void ErrorBlockRow(void* context, int row) { FormErrorBlockRow(*static_cast<const ErrorBlockRows*>(context), row); }

}  // namespace

void ReconstructRow(void* context, int rowIndex) {
    const ReconstructionRows& j = *static_cast<const ReconstructionRows*>(context);
    const FramePlanes &prediction = *j.prediction, &reconstruction = *j.reconstruction;
    const int row = j.firstRow + rowIndex;
    alignas(16) int16_t work[64];
    const int mbColumns = Sequence.EncodeWidth / 16;
    for (int column = 0; column < mbColumns; ++column) {
        const int index = row * mbColumns + column;
        const MacroblockInfo& mb = j.macroblocks[index];
        const bool intra = (mb.typeFlags & MB_INTRA) != 0;
        BlockPlace places[BlockCount];
        PlaceBlocks(column, row, j.choose ? mb.dctType : 0, places);
        const int16_t* block = j.blocks + static_cast<size_t>(index) * BlockCount * 64;
        // The next macroblock's blocks were quantised on the coding thread.
        if (column + 1 < mbColumns) PrefetchMacroblockBlocks(block + BlockCount * 64);
        for (int b = 0; b < BlockCount; ++b, block += 64) {
            const BlockPlace& place = places[b];
            uint8_t* target = Plane(reconstruction, place.plane) + place.offset;
            if (intra) {
                DequantizeIntra(block, work, EncoderSettings.intraDcPrecision, mb.quantScale);
                j.inverse(work);
                j.kernels.reconstructIntraBlock(target, work, place.lineStep);
                continue;
            }
            const uint8_t* predicted = Plane(prediction, place.plane) + place.offset;
            if (!(mb.codedBlockPattern >> (BlockCount - 1 - b) & 1)) {
                CopyBlock(target, predicted, place.lineStep);
                continue;
            }
            DequantizeNonIntra(block, work, mb.quantScale);
            j.inverse(work);
            j.kernels.reconstructPredictedBlock(target, predicted, work, place.lineStep);
        }
    }
}

ReconstructionRows SetUpReconstructionRows(const FramePlanes& prediction, const FramePlanes& reconstruction,
                                           const MacroblockInfo* macroblocks, const int16_t* blocks, int slot) {
    ReconstructionRows j;
    j.inverse = IdctKernelSet.idct[slot];
    j.kernels = TransformKernelSet;
    j.choose = ChoosesDctType();
    j.prediction = &prediction;
    j.reconstruction = &reconstruction;
    j.macroblocks = macroblocks;
    j.blocks = blocks;
    return j;
}

ErrorBlockRows SetUpErrorBlockRows(const FramePlanes& prediction, const FramePlanes& source,
                                   MacroblockInfo* macroblocks, int16_t* blocks, bool transformAhead) {
    ErrorBlockRows j;
    j.fdct = FdctKernelSet;
    j.kernels = TransformKernelSet;
    j.choose = ChoosesDctType();
    j.transformAhead = transformAhead;
    j.prediction = &prediction;
    j.source = &source;
    j.macroblocks = macroblocks;
    j.blocks = blocks;
    return j;
}

void FormPredictionErrorBlocks(const FramePlanes& prediction, const FramePlanes& source,
                               MacroblockInfo* macroblocks, int16_t* blocks) {
    // With helpers the transforms run here, off the serial coding loop, also
    // for the blocks the pre-test will let go; alone it would only add work.
    const int helpers = PictureRowHelpers();
    const ErrorBlockRows j = SetUpErrorBlockRows(prediction, source, macroblocks, blocks, helpers > 0);
    // Each row writes only its own macroblocks' records and blocks.
    RunRowsInParallel(Sequence.EncodeHeight / 16, helpers, ErrorBlockRow, const_cast<ErrorBlockRows*>(&j));
}

void itransform(const FramePlanes& prediction, const FramePlanes& reconstruction,
                const MacroblockInfo* macroblocks, const int16_t* blocks, int firstRow, int endRow, int slot) {
    const int rows = Sequence.EncodeHeight / 16;
    if (firstRow < 0 || firstRow > rows || endRow < firstRow || endRow > rows || slot < 0 || slot > 1) {
        // Returns only when no engine step is armed; the range is not touched then either.
        ReportFatalError(" Error in itransform arguments ");
        return;
    }
    ReconstructionRows j = SetUpReconstructionRows(prediction, reconstruction, macroblocks, blocks, slot);
    j.firstRow = firstRow;
    for (int row = 0; row < endRow - firstRow; ++row) ReconstructRow(&j, row);
}

int MaxLineDifference(const uint8_t* a, const uint8_t* b) {
    int largest = 0;
    const int mbRows = (Sequence.EncodeHeight + 15) / 16;
    const int mbColumns = (Sequence.EncodeWidth - 16 + 15) / 16;
    for (int row = 0; row < mbRows; ++row) {
        const size_t line = 16 * static_cast<size_t>(row) * Sequence.EncodeWidth;
        for (int column = 0; column < mbColumns; ++column) {
            int sum = 0;
            for (int x = 16 * column; x < 16 * column + 8; ++x) sum += std::abs(a[line + x] - b[line + x]);
            largest = std::max(largest, sum);
        }
    }
    return largest;
}
