// The picture coder: walks the macroblocks in raster order, chooses each
// quantiser through rate control, transforms and quantises the blocks that
// matter, decides skipping and writes the macroblock layer.
#include "engine/PictureCoder.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <vector>

#include "engine/BitWriter.h"
#include "engine/EngineState.h"
#include "engine/Fdct.h"
#include "engine/Headers.h"
#include "engine/Input.h"
#include "engine/MotionEstimation.h"
#include "engine/PictureDriver.h"
#include "engine/Quant.h"
#include "engine/RateControl.h"
#include "engine/Threads.h"
#include "engine/Transform.h"
#include "engine/Vlc.h"
#include "engine/VlcTables.h"
#include "settings/EncoderSettings.h"
#include "settings/Report.h"

// Scan position n to raster index (row = vertical frequency).
const uint8_t ZigzagScanTable[64] = {
    0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,  12, 19, 26, 33, 40, 48,
    41, 34, 27, 20, 13, 6,  7,  14, 21, 28, 35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23,
    30, 37, 44, 51, 58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63};

int PretestFactorIP = 5, PretestFactorB = 10;
RowStream* CodingRowsInFlight = nullptr;
RowStream* ReconstructionRowsInFlight = nullptr;
int16_t QuantizedBlockBuffer[6 * 64];
int BlockSignificant[6];
int DcPredictors[3];

namespace {

int MaskQuant = 0;       // quantiser the masks were last built for
int VectorPredictors[4];  // forward x, y, backward x, y
int AddressIncrement = 1;

int PictureTypeIndex() {
    return std::clamp(CurrentPicture.PictureCodingType, int{I_PICTURE}, int{B_PICTURE}) - I_PICTURE;
}
int IntraVlcFormatOfPicture() { return EncoderSettings.mpeg1 ? 0 : EncoderSettings.intraVlcFormat[PictureTypeIndex()]; }
int FramePredFrameDctOfPicture() {
    return EncoderSettings.mpeg1 ? 1 : EncoderSettings.framePredFrameDct[PictureTypeIndex()];
}

int IntraCutOff(int m) {
    if (m <= 10) return 16;
    if (m <= 14) return 10;
    if (m <= 20) return 8;
    if (m <= 30) return 6;
    if (m <= 50) return 4;
    return 2;
}

int NonIntraCutOff(int m) { return m > 40 && m <= 50 ? 2 : IntraCutOff(m); }

void ResetVectorPredictors() { VectorPredictors[0] = VectorPredictors[1] = VectorPredictors[2] = VectorPredictors[3] = 0; }

int16_t* MacroblockBlocks(int k) { return Sequence.BlockStore + static_cast<std::ptrdiff_t>(k) * BlockCount * 64; }

// Decides per block whether a forward DCT is needed and runs it, unless the
// blocks were transformed ahead; `significant` gets the decision per block.
void TransformMacroblock(const FdctKernels& fdct, MacroblockInfo& mb, int16_t* blocks, int* significant) {
    const bool bPicture = CurrentPicture.PictureCodingType == B_PICTURE;
    const int k = bPicture ? PretestFactorB : PretestFactorIP;
    const int s = mb.quantScale * k;
    int e = mb.quantScale * s * (bPicture ? 3 : 2);
    if (EncoderSettings.performanceMode > 2) e /= 8;
    const int t = (s * 298) >> 10;
    const int t1 = t << 17, t2 = (t * 2896) >> 10;
    const bool ahead = mb.transformedAhead != 0;
    if ((mb.typeFlags & MB_INTRA) || t1 < 1) {
        for (int b = 0; b < BlockCount; ++b) {
            significant[b] = 1;
            if (!ahead) fdct.fdct(blocks + b * 64);
        }
        return;
    }
    const bool lumaPredictedWell = mb.predictionError <= e;
    for (int b = 0; b < BlockCount; ++b) {
        int16_t* block = blocks + b * 64;
        if (b < 4 && lumaPredictedWell) {
            significant[b] = 0;
            continue;
        }
        if (ahead) {
            significant[b] = PretestLevelsAreSignificant(mb.pretestLevels[b], t1, t2);
            continue;
        }
        significant[b] = fdct.blockIsSignificant(block, t1, t2);
        if (significant[b]) fdct.fdct(block);
    }
}

// Quantises the macroblock's blocks (through `levels`, room for six) at
// mb.quantScale, raised while a level overflows; returns the coded block pattern.
int QuantizeMacroblock(MacroblockInfo& mb, int16_t* blocks, const int* significant, int16_t* levels) {
    const int all = (1 << BlockCount) - 1;
    if (mb.typeFlags & MB_INTRA) {
        for (;;) {
            QuantOverflowFlag = 0;
            for (int b = 0; b < BlockCount && !QuantOverflowFlag; ++b)
                QuantizeIntra(blocks + b * 64, levels + b * 64, EncoderSettings.intraDcPrecision,
                              mb.quantScale);
            if (!QuantOverflowFlag || mb.quantScale >= kLargestQuantScale) break;
            mb.quantScale += 2;
        }
        std::memcpy(blocks, levels, sizeof(int16_t) * 64 * BlockCount);
        return all;
    }
    int cbp;
    for (;;) {
        QuantOverflowFlag = 0;
        cbp = 0;
        for (int b = 0; b < BlockCount && !QuantOverflowFlag; ++b) {
            int nonZero = 0;
            if (significant[b]) nonZero = QuantizeNonIntra(blocks + b * 64, levels + b * 64, mb.quantScale);
            cbp = (cbp << 1) | (nonZero ? 1 : 0);
        }
        if (!QuantOverflowFlag || mb.quantScale >= kLargestQuantScale) break;
        mb.quantScale += 2;
    }
    // Only coded blocks are read again (by the macroblock layer and the
    // reconstruction); the others keep what they held.
    for (int b = 0; b < BlockCount; ++b)
        if (cbp & (1 << (BlockCount - 1 - b)))
            std::memcpy(blocks + b * 64, levels + b * 64, sizeof(int16_t) * 64);
    return cbp;
}

// Rows whose macroblocks all take the row's quantiser are quantised on row
// helpers, a few macroblocks per item, while the coding loop writes the
// macroblocks before them. The quantiser, its masks and each macroblock's
// results are the ones the loop itself would use, so the stream is the same.
constexpr int kQuantChunk = 5;
constexpr int kQuantRowsMinWidth = 40;  // macroblocks
struct QuantRowsState {
    FdctKernels fdct;
    int chunksPerRow = 0;
    // Per row, set before its items are released: the quantiser, or 0 when
    // the coding loop quantises the row itself.
    std::vector<int> rowQuant;
};
QuantRowsState QuantRows;

void QuantizeRowChunk(void* context, int item) {
    const QuantRowsState& q = *static_cast<const QuantRowsState*>(context);
    const int r = item / q.chunksPerRow, first = item % q.chunksPerRow * kQuantChunk;
    const int m = q.rowQuant[static_cast<size_t>(r)];
    if (m == 0) return;
    int significant[6];
    alignas(16) int16_t levels[6 * 64];
    for (int c = first; c < std::min(first + kQuantChunk, Sequence.MbWidth); ++c) {
        const int k = r * Sequence.MbWidth + c;
        MacroblockInfo& mb = Sequence.MacroblockInfoArray[k];
        int16_t* blocks = MacroblockBlocks(k);
        mb.quantScale = m;
        TransformMacroblock(q.fdct, mb, blocks, significant);
        mb.codedBlockPattern = QuantizeMacroblock(mb, blocks, significant, levels);
    }
}

bool MayNeverSkip(int r, int c) {
    if (EncoderSettings.mpeg1) return (r == 0 && c == 0) || (r == Sequence.MbHeight - 1 && c == Sequence.MbWidth - 1);
    return c == 0 || c == Sequence.MbWidth - 1;
}

void PutMacroblock(MacroblockInfo& mb, int* currentQuant, int framePredFrameDct) {
    int flags = mb.typeFlags;
    mb.skipped = 0;
    if (CurrentPicture.PictureCodingType == P_PICTURE && !(flags & (MB_INTRA | MB_FORWARD))) flags |= MB_FORWARD;
    PutAddressIncrement(AddressIncrement);
    AddressIncrement = 1;
    PutMacroblockType(CurrentPicture.PictureCodingType, flags);
    if ((flags & (MB_FORWARD | MB_BACKWARD)) && framePredFrameDct == 0) PutBits(2, static_cast<uint32_t>(mb.motionType));
    if (mb.codedBlockPattern != 0 && framePredFrameDct == 0) PutBits(1, static_cast<uint32_t>(mb.dctType));
    if (flags & MB_QUANT) {
        PutBits(5, static_cast<uint32_t>(mb.quantScale / 2));
        *currentQuant = mb.quantScale;
    }
    if (flags & MB_FORWARD) {
        PutMotionVector(mb.forwardVector[0] - VectorPredictors[0], CurrentPicture.ForwardHorFCode);
        PutMotionVector(mb.forwardVector[1] - VectorPredictors[1], CurrentPicture.ForwardVertFCode);
        VectorPredictors[0] = mb.forwardVector[0];
        VectorPredictors[1] = mb.forwardVector[1];
    }
    if (flags & MB_BACKWARD) {
        PutMotionVector(mb.backwardVector[0] - VectorPredictors[2], CurrentPicture.BackwardHorFCode);
        PutMotionVector(mb.backwardVector[1] - VectorPredictors[3], CurrentPicture.BackwardVertFCode);
        VectorPredictors[2] = mb.backwardVector[0];
        VectorPredictors[3] = mb.backwardVector[1];
    }
    if (flags & MB_PATTERN) PutCodedBlockPattern((mb.codedBlockPattern >> (BlockCount - 6)) & 63);
    const int16_t* blocks = MacroblockBlocks(static_cast<int>(&mb - Sequence.MacroblockInfoArray));
    for (int b = 0; b < BlockCount; ++b) {
        if (!(mb.codedBlockPattern & (1 << (BlockCount - 1 - b)))) continue;
        if (flags & MB_INTRA) PutIntraBlock(blocks + b * 64, b < 4 ? 0 : b - 3);
        else PutNonIntraBlock(blocks + b * 64);
    }
    if (!(flags & MB_INTRA)) DcPredictors[0] = DcPredictors[1] = DcPredictors[2] = 0;
    if ((flags & MB_INTRA) || (CurrentPicture.PictureCodingType == P_PICTURE && !(mb.typeFlags & MB_FORWARD)))
        ResetVectorPredictors();
    mb.typeFlags = flags;
}

}  // namespace

void BuildCoefficientMasks(int m, int pictureType, int overload) {
    int intraCut = IntraCutOff(m), nonIntraCut = NonIntraCutOff(m);
    if (overload) {
        intraCut = std::max(intraCut - 2, 2);
        nonIntraCut = std::max(nonIntraCut - (pictureType == B_PICTURE ? 4 : 2), 2);
    }
    for (int i = 0; i < 8; ++i)
        for (int j = 0; j < 8; ++j) {
            IntraCoefficientMask[i * 8 + j] = static_cast<int16_t>(i + j <= intraCut ? -1 : 0);
            NonIntraCoefficientMask[i * 8 + j] = static_cast<int16_t>(i + j <= nonIntraCut ? -1 : 0);
        }
}

void PutIntraBlock(const int16_t* block, int component) {
    const int difference = block[0] - DcPredictors[component];
    DcPredictors[component] = block[0];
    if (component == 0) PutDCLuminance(difference);
    else PutDCChrominance(difference);
    const int intraVlc = IntraVlcFormatOfPicture();
    // Room for 63 coefficients and the end of block.
    BitQueueAppender out(64);
    int next = 1;
    for (uint64_t nonzero = ScanNonzeroMask(block) & ~uint64_t{1}; nonzero; nonzero &= nonzero - 1) {
        const int n = __builtin_ctzll(nonzero);
        AppendACCoefficient(out, n - next, block[ZigzagScanTable[n]], intraVlc);
        next = n + 1;
    }
    if (intraVlc) out.Put(4, 6);
    else out.Put(2, 2);
    out.Commit();
}

void PutNonIntraBlock(const int16_t* block) {
    uint64_t nonzero = ScanNonzeroMask(block);
    BitQueueAppender out(65);
    if (nonzero) {
        int n = __builtin_ctzll(nonzero);
        AppendFirstACCoefficient(out, n, block[ZigzagScanTable[n]]);
        int next = n + 1;
        for (nonzero &= nonzero - 1; nonzero; nonzero &= nonzero - 1) {
            n = __builtin_ctzll(nonzero);
            AppendACCoefficient(out, n - next, block[ZigzagScanTable[n]], 0);
            next = n + 1;
        }
    }
    out.Put(2, 2);
    out.Commit();
}

void PutMotionVector(int difference, int fCode) {
    const int f = 1 << (fCode - 1);
    if (difference > 16 * f - 1) difference -= 32 * f;
    else if (difference < -16 * f) difference += 32 * f;
    if (difference > 16 * f - 1 || difference < -16 * f) {
        ReportFatalError(" Internal error: motion vector outside its f_code range ");
        return;
    }
    const int a = std::abs(difference) + f - 1;
    int motionCode = a >> (fCode - 1);
    if (difference < 0) motionCode = -motionCode;
    const int residual = a & (f - 1);
    PutMotionCode(motionCode);
    if (fCode > 1 && motionCode != 0) PutBits(fCode - 1, static_cast<uint32_t>(residual));
}

void PutPicture() {
    CheckVbvAndWriteStats();
    if (CurrentPicture.SkipBPicture) RcInitSkippedPicture();
    else RcInitPicture();

    PutPictureHeader();
    if (!EncoderSettings.mpeg1) PutPictureCodingExtension();
    if (EncoderSettings.applicationType == kApplicationSvcd && CurrentPicture.PictureCodingType == I_PICTURE) PutPictureUserData();

    int qs = CurrentPicture.SkipBPicture ? 10 : RcStartPictureQuant();
    int currentQuant = qs;
    MaskQuant = 0;
    const int framePredFrameDct = FramePredFrameDctOfPicture();
    const FdctKernels fdct = FdctKernelSet;

    // Helpers quantise rows of anchor pictures, when a row keeps its quantiser
    // in this rate control; B pictures leave the processors to the search
    // ahead, and narrow rows cost more to hand over than they take to quantise.
    std::optional<RowStream> quantRows;
    const bool quantizeOnHelpers = CurrentPicture.PictureCodingType != B_PICTURE && !CurrentPicture.SkipBPicture &&
                                   Sequence.MbWidth >= kQuantRowsMinWidth;
    const int quantHelpers = quantizeOnHelpers ? std::min(PictureRowHelpers(), 2) : 0;
    if (quantHelpers > 0 && RcRowQuantIsUniform(0)) {
        QuantRows.fdct = fdct;
        QuantRows.chunksPerRow = (Sequence.MbWidth + kQuantChunk - 1) / kQuantChunk;
        QuantRows.rowQuant.assign(static_cast<size_t>(Sequence.MbHeight), 0);
        quantRows.emplace(Sequence.MbHeight * QuantRows.chunksPerRow, quantHelpers, QuantizeRowChunk, &QuantRows, true);
    }
    bool rowQuantized = false;  // the row's macroblocks come quantised from the helpers

    int previousDirections = -1;
    for (int r = 0; r < Sequence.MbHeight; ++r) {
        if (CodingRowsInFlight) CodingRowsInFlight->WaitForRow(r);
        for (int c = 0; c < Sequence.MbWidth; ++c) {
            const int k = r * Sequence.MbWidth + c;
            MacroblockInfo& mb = Sequence.MacroblockInfoArray[k];
            int16_t* blocks = MacroblockBlocks(k);
            // The next macroblock's blocks and record were written on
            // other threads: asked for now, they arrive while this one is coded.
            if (c + 1 < Sequence.MbWidth) {
                PrefetchMacroblockBlocks(MacroblockBlocks(k + 1));
                __builtin_prefetch(&Sequence.MacroblockInfoArray[k + 1]);
            }
            if (c == 0 && (!EncoderSettings.mpeg1 || r == 0)) {
                PutSliceHeader(r, currentQuant);
                DcPredictors[0] = DcPredictors[1] = DcPredictors[2] = 0;
                ResetVectorPredictors();
                AddressIncrement = 1;
                previousDirections = -1;
            }
            RateControlState.CurrentMbRow = r;
            RateControlState.CurrentMbColumn = c;
            int cbp = 0;
            if (CurrentPicture.SkipBPicture) {
                mb.quantScale = 10;
            } else {
                int m = RcCalcMquant(k) & ~1;
                m = std::clamp(m, 2, 62);
                if (m != MaskQuant) {
                    BuildCoefficientMasks(m, CurrentPicture.PictureCodingType, RateControlState.RateOverload);
                    MaskQuant = m;
                }
                if (c == 0 && quantRows) {
                    // In a row of one quantiser the masks stay the row's from
                    // here on: the helpers may start.
                    rowQuantized = RcRowQuantIsUniform(r);
                    QuantRows.rowQuant[static_cast<size_t>(r)] = rowQuantized ? m : 0;
                    quantRows->Release((r + 1) * QuantRows.chunksPerRow);
                }
                if (rowQuantized) {
                    if (c % kQuantChunk == 0) quantRows->WaitForRow(r * QuantRows.chunksPerRow + c / kQuantChunk);
                    cbp = mb.codedBlockPattern;
                } else {
                    mb.quantScale = m;
                    TransformMacroblock(fdct, mb, blocks, BlockSignificant);
                    cbp = QuantizeMacroblock(mb, blocks, BlockSignificant, QuantizedBlockBuffer);
                }
            }
            mb.codedBlockPattern = cbp;
            mb.typeFlags &= ~(MB_PATTERN | MB_QUANT);
            // Intra macroblocks carry every block without a pattern code.
            if (cbp && !(mb.typeFlags & MB_INTRA)) mb.typeFlags |= MB_PATTERN;
            if (cbp && mb.quantScale != currentQuant) mb.typeFlags |= MB_QUANT;

            bool skip = false;
            if (cbp == 0 && !(mb.typeFlags & MB_INTRA) && !MayNeverSkip(r, c)) {
                if (CurrentPicture.PictureCodingType == P_PICTURE) {
                    if (!(mb.typeFlags & MB_FORWARD)) {
                        skip = true;
                        DcPredictors[0] = DcPredictors[1] = DcPredictors[2] = 0;
                        ResetVectorPredictors();
                    }
                } else if (CurrentPicture.PictureCodingType == B_PICTURE) {
                    const int directions = mb.typeFlags & (MB_FORWARD | MB_BACKWARD);
                    bool vectorsMatch = true;
                    if (directions & MB_FORWARD)
                        vectorsMatch = vectorsMatch && mb.forwardVector[0] == VectorPredictors[0] &&
                                       mb.forwardVector[1] == VectorPredictors[1];
                    if (directions & MB_BACKWARD)
                        vectorsMatch = vectorsMatch && mb.backwardVector[0] == VectorPredictors[2] &&
                                       mb.backwardVector[1] == VectorPredictors[3];
                    skip = CurrentPicture.SkipBPicture ||
                           (mb.motionType == 2 && directions == previousDirections && vectorsMatch);
                }
            }
            if (skip) {
                mb.skipped = 1;
                ++AddressIncrement;
            } else {
                PutMacroblock(mb, &currentQuant, framePredFrameDct);
            }
            if (CurrentPicture.PictureCodingType == B_PICTURE && !(mb.typeFlags & MB_INTRA))
                previousDirections = mb.typeFlags & (MB_FORWARD | MB_BACKWARD);
            else if (CurrentPicture.PictureCodingType == B_PICTURE) previousDirections = -1;
        }
        if (ReconstructionRowsInFlight) ReconstructionRowsInFlight->Release(r + 1);
    }
    if (quantRows) quantRows->Finish();

    if (CurrentPicture.SkipBPicture) RcUpdateSkippedPicture();
    else RcUpdatePicture();
    RcEndPicture();
}
