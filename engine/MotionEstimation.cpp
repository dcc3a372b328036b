// Motion estimation set-up and the per-macroblock choice of the prediction:
// kernels and table geometry, the intra variance measure, and the P and B
// decisions of the second search stage.
#include "engine/MotionEstimation.h"

#include <algorithm>

#include "engine/EngineState.h"
#include "engine/MotionSearch.h"

FullPelSadFn FullPelSadKernel = FullPelSad;
HalfPelMatchFn HalfPelMatchKernel = HalfPelSse;
MotionKernelTable MeKernels = [] {
    MotionKernelTable t;
    motion_kernels_init(false, t);
    return t;
}();

int MeExhaustive = 0;
int MeHighMode = 0, MeLowMode = 1;

uint8_t* priz = nullptr;
uint8_t* prizn = nullptr;
int MotionTablesShared = 0;
uint8_t* SavedPrizBuffer = nullptr;

std::atomic<int> TableTaskState{0};
MotionTableTaskArgs TableTaskArgs;

int PictureMatchFlags = 2;
int SearchStage = 0;
uint32_t MotionTableTimeMs = 0;
uint32_t MotionEstimationTimeMs = 0;
int MeSearchPoints = 32;
int MeThresholdScaled = 0;
int MeWindowTolerance = 0;

namespace {

// A predicted macroblock whose error is at least this and above its intra
// variance is coded intra.
constexpr int IntraErrorFloor = 2304;

}  // namespace

int InitMotionEstimation(int width, int height, int performanceMode, int mmx, int pRangeX,
                         int pRangeY, int bRangeX, int bRangeY, int* tableBytes, int options,
                         int optionArgument) {
    // The table planes need at least one block position in each direction.
    if (width < 16 || height < 16 || width % 16 || height % 16) return 0;
    if (performanceMode < 1 || performanceMode > 5) return 0;
    if (mmx != 0 && mmx != 1) return 0;
    if (std::max(pRangeX, bRangeX) % 8 || std::max(pRangeY, bRangeY) % 8) return 0;
    if ((options & 16) && optionArgument == 0) return 0;

    MeTableGeometry = MakeMotionTableGeometry(width, height);
    if (tableBytes) *tableBytes = static_cast<int>(MeTableGeometry.totalBytes);

    motion_kernels_init(mmx == 1, MeKernels);
    FullPelSadKernel = MeExhaustive ? MeKernels.fullPelSad : MeKernels.fullPelSadRowBudget;
    HalfPelMatchKernel = performanceMode >= 4 ? MeKernels.halfPelSseModes45 : MeKernels.halfPelSse;
    MeHighMode = performanceMode >= 4 ? 1 : 0;
    MeLowMode = !MeHighMode;

    MotionTablesShared = 0;
    SavedPrizBuffer = nullptr;
    TableTaskState.store(0);
    return 1;
}

int CloseMotionEstimation() { return 1; }

int InterpolatedPredictionError(const uint8_t* forward, const uint8_t* backward,
                                const uint8_t* current, int lineLength, int forwardHalfX,
                                int forwardHalfY, int backwardHalfX, int backwardHalfY, int height) {
    return MeKernels.interpolatedError(forward, backward, current, lineLength, forwardHalfX,
                                       forwardHalfY, backwardHalfX, backwardHalfY, height);
}

int IntraVarianceMeasure(const uint8_t* block, int lineLength) {
    uint32_t sum = 0, squares = 0;
    MeKernels.blockSums(block, lineLength, &sum, &squares);
    return IntraVarianceFromSums(sum, squares);
}

void EstimateMacroblockMotion(const uint8_t* prevAnchorSource, const uint8_t* nextAnchorSource,
                              const uint8_t* prevAnchorRecon, const uint8_t* nextAnchorRecon,
                              const uint8_t* currentSource, int x, int y, int forwardRangeX,
                              int forwardRangeY, int backwardRangeX, int backwardRangeY,
                              MacroblockInfo* record, int* intraVarianceSum, int* errorSum) {
    const int w = MeTableGeometry.width;
    const uint8_t* current = currentSource + y * w + x;
    const int variance = IntraVarianceMeasure(current, w);
    int type = MB_INTRA;
    int error = variance;

    if (PictureCodingType == 2) {
        *intraVarianceSum += variance;
        int column = 0, row = 0, zeroError = 0;
        const int best = MotionSearchMacroblock(prevAnchorSource, prevAnchorRecon, current, x, y,
                                                forwardRangeX, forwardRangeY, &column, &row,
                                                &zeroError, priz, PictureMatchFlags,
                                                record->matchWindows);
        record->motionType = 2;
        if (best > variance && best >= IntraErrorFloor) {
            type = MB_INTRA;
            error = variance;
        } else if (4 * zeroError <= 5 * best || zeroError < IntraErrorFloor) {
            // Close enough to the zero vector: no motion is coded.
            type = 0;
            record->forwardVector[0] = 0;
            record->forwardVector[1] = 0;
            error = zeroError;
        } else {
            type = MB_FORWARD;
            record->forwardVector[0] = column - 2 * x;
            record->forwardVector[1] = row - 2 * y;
            error = best;
        }
    } else {
        int backColumn = 0, backRow = 0;
        const int backward = MotionSearchMacroblock(nextAnchorSource, nextAnchorRecon, current, x,
                                                    y, backwardRangeX, backwardRangeY, &backColumn,
                                                    &backRow, nullptr, prizn, PictureMatchFlags,
                                                    record->matchWindows);
        const int forward = record->firstStageResult[0];
        const int forwardColumn = record->firstStageResult[1];
        const int forwardRow = record->firstStageResult[2];
        int chosen;
        if (ClosedGopBPictures) {
            type = MB_BACKWARD;
            chosen = backward;
        } else {
            const int interpolated = InterpolatedPredictionError(
                prevAnchorRecon + (forwardRow >> 1) * w + (forwardColumn >> 1),
                nextAnchorRecon + (backRow >> 1) * w + (backColumn >> 1), current, w,
                forwardColumn & 1, forwardRow & 1, backColumn & 1, backRow & 1, 16);
            if (forward <= backward && forward <= interpolated) {
                type = MB_FORWARD;
                chosen = forward;
            } else if (backward <= interpolated) {
                type = MB_BACKWARD;
                chosen = backward;
            } else {
                type = MB_FORWARD | MB_BACKWARD;
                chosen = interpolated;
            }
        }
        record->motionType = 2;
        if (chosen > variance && chosen >= IntraErrorFloor) {
            type = MB_INTRA;
            error = variance;
        } else {
            error = chosen;
            record->forwardVector[0] = forwardColumn - 2 * x;
            record->forwardVector[1] = forwardRow - 2 * y;
            record->backwardVector[0] = backColumn - 2 * x;
            record->backwardVector[1] = backRow - 2 * y;
        }
    }
    record->typeFlags = type;
    record->predictionError = error;
    *errorSum += error;
}

int CalcMotionSearchTablesTask(void* block, int slot) {
    auto* args = static_cast<MotionTableTaskArgs*>(block);
    if (slot < 0) return -1;
    TableTaskState.store(1);
    if (!args || !args->source || !args->tables) {
        TableTaskState.store(-1);
        return -1;
    }
    CalcMotionSearchTables(args->source, args->tables);
    TableTaskState.store(0);
    return 1;
}
