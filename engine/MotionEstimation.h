// Motion estimation of one picture: kernel choice at set-up, the two
// motion-table buffers, the macroblock-type decisions and the split of the
// search into bands of macroblock rows on the worker pool.
#pragma once

#include <atomic>
#include <cstdint>

#include "engine/EngineTypes.h"
#include "engine/MotionKernels.h"

// Kernels installed by InitMotionEstimation.
extern FullPelSadFn FullPelSadKernel;
extern HalfPelMatchFn HalfPelMatchKernel;
extern MotionKernelTable MeKernels;  // plain or SIMD, by the set-up's SIMD flag
// 1: with SIMD on, the AVX2 kernels where the processor has them; 0 keeps the
// SSE2 ones (the results are the same either way).
extern int UseAvx2Kernels;

// 1 when the threshold is 0 (performance mode 5): set by the encoder set-up
// before InitMotionEstimation.
extern int MeExhaustive;
// 1 for performance modes 4 and 5; MeLowMode is its negation.
extern int MeHighMode, MeLowMode;

// Motion-table buffers: `priz` describes the forward reference, `prizn` the
// newest anchor. Allocated and freed by the encoder set-up and shut-down.
extern uint8_t* priz;
extern uint8_t* prizn;
extern int MotionTablesShared;
extern uint8_t* SavedPrizBuffer;

// The table calculation running ahead on a worker: 0 idle or finished,
// 1 running, -1 failed. The picture coder reads it.
extern std::atomic<int> TableTaskState;
struct MotionTableTaskArgs {
    const uint8_t* source = nullptr;
    uint8_t* tables = nullptr;
};
extern MotionTableTaskArgs TableTaskArgs;

// Bit value 2 always; bit value 1 when the picture repeats an anchor's input
// frame (the full-sample stage is skipped).
extern int PictureMatchFlags;
// 0 P picture or single-stage B picture, 1 first (forward) stage of a B
// picture, 2 its second stage.
extern int SearchStage;

// Timing totals in milliseconds, zeroed by the encoder set-up.
extern uint32_t MotionTableTimeMs;
extern uint32_t MotionEstimationTimeMs;

// How long a picture waits for its motion tasks (10000 ms; tests shorten it).
extern int MotionTaskWaitMs;

// Settings copied for the search at the start of each picture.
extern int MeSearchPoints;
extern int MeThresholdScaled;
extern int MeWindowTolerance;

// Chooses the kernels and the table geometry; reports the size of one
// motion-table buffer in *tableBytes. Returns 1, or 0 for illegal parameters.
int InitMotionEstimation(int width, int height, int performanceMode, int mmx, int pRangeX,
                         int pRangeY, int bRangeX, int bRangeY, int* tableBytes, int options,
                         int optionArgument);
// Undoes the sharing of one buffer by `priz` and `prizn` so that both blocks
// can be freed. Also waits for any task still using them.
void RestoreMotionTableBuffers();

// Estimates the motion of the current picture (PictureCodingType) into `records`.
void RunMotionEstimation(const uint8_t* prevAnchorSource, const uint8_t* nextAnchorSource,
                         const uint8_t* prevAnchorRecon, const uint8_t* nextAnchorRecon,
                         const uint8_t* currentSource, const uint8_t* currentRecon, int forwardRangeX,
                         int forwardRangeY, int backwardRangeX, int backwardRangeY,
                         MacroblockInfo* records, int secondField, int anchorFlag);

// The second stage for the macroblock at luma column x, row y.
void EstimateMacroblockMotion(const uint8_t* prevAnchorSource, const uint8_t* nextAnchorSource,
                              const uint8_t* prevAnchorRecon, const uint8_t* nextAnchorRecon,
                              const uint8_t* currentSource, int x, int y, int forwardRangeX,
                              int forwardRangeY, int backwardRangeX, int backwardRangeY,
                              MacroblockInfo* record, int* intraVarianceSum, int* errorSum);

// Squared-difference error of the interpolated prediction; the pointers name
// the integer-sample corners, the flags the vectors' half-sample bits.
int InterpolatedPredictionError(const uint8_t* forward, const uint8_t* backward,
                                const uint8_t* current, int lineLength, int forwardHalfX,
                                int forwardHalfY, int backwardHalfX, int backwardHalfY, int height);

// Intra variance measure of the 16x16 block.
int IntraVarianceMeasure(const uint8_t* block, int lineLength);

// Worker tasks (argument block, slot index).
int MotionEstimationBandTask(void* block, int slot);
int MotionEstimationBandTask2(void* block, int slot);
int CalcMotionSearchTablesTask(void* block, int slot);
