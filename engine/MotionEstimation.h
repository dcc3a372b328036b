// Motion estimation of one picture: kernel choice at set-up, the two
// motion-table buffers, the macroblock-type decisions and the split of the
// search into bands of macroblock rows on the worker pool.
#pragma once

#include <atomic>
#include <cstdint>

#include "engine/EngineTypes.h"
#include "engine/MotionKernels.h"
#include "engine/MotionSearch.h"

// Kernels installed by InitMotionEstimation.
extern FullPelSadFn FullPelSadKernel;
extern HalfPelMatchFn HalfPelMatchKernel;
extern MotionKernelTable MeKernels;  // plain or SIMD, by the set-up's SIMD flag
// 1: with SIMD on, the AVX2 kernels where the processor has them; 0 keeps the
// SSE2 ones (the results are the same either way).
extern int UseAvx2Kernels;
// Whether kernels chosen with SIMD `simd` take their AVX2 forms.
inline bool Avx2KernelsChosen(bool simd) { return simd && UseAvx2Kernels && ProcessorHasAvx2(); }

// Motion estimation's words for one encoding: the search mode the set-up
// chose, the two motion-table buffers, the search words of the picture being
// coded, and the timing totals. Only the encoding thread writes them; a
// search reads the copy of its words it is handed (SearchWords).
struct MotionStateRecord {
    // 1 when the threshold is 0 (performance mode 5): set by the encoder
    // set-up before InitMotionEstimation.
    int MeExhaustive = 0;
    // 1 for performance modes 4 and 5; MeLowMode is its negation.
    int MeHighMode = 0, MeLowMode = 1;

    // Motion-table buffers: `priz` describes the forward reference, `prizn`
    // the newest anchor. Allocated and freed by the encoder set-up and
    // shut-down. While MotionTablesShared is 1 both name one buffer and the
    // other waits in SavedPrizBuffer.
    uint8_t* priz = nullptr;
    uint8_t* prizn = nullptr;
    int MotionTablesShared = 0;
    uint8_t* SavedPrizBuffer = nullptr;

    // Bit value 2 always; bit value 1 when the picture repeats an anchor's
    // input frame (the full-sample stage is skipped).
    int PictureMatchFlags = 2;
    // 0 P picture or single-stage B picture, 1 first (forward) stage of a B
    // picture, 2 its second stage.
    int SearchStage = 0;
    // Settings copied for the search at the start of each picture.
    int MeSearchPoints = 32;
    int MeThresholdScaled = 0;
    int MeWindowTolerance = 0;

    // Timing totals in milliseconds, zeroed by the encoder set-up.
    uint32_t MotionTableTimeMs = 0;
    uint32_t MotionEstimationTimeMs = 0;
};
extern MotionStateRecord MotionState;

// The table calculation running ahead on a worker: 0 idle or finished,
// 1 running, -1 failed. The picture coder reads it.
extern std::atomic<int> TableTaskState;
struct MotionTableTaskArgs {
    const uint8_t* source = nullptr;
    uint8_t* tables = nullptr;
};
extern MotionTableTaskArgs TableTaskArgs;

// How long a picture waits for its motion tasks (10000 ms; tests shorten it).
extern int MotionTaskWaitMs;

// Chooses the kernels and the table geometry; reports the size of one
// motion-table buffer in *tableBytes. Returns 1, or 0 for illegal parameters.
int InitMotionEstimation(int width, int height, int performanceMode, int mmx, int pRangeX,
                         int pRangeY, int bRangeX, int bRangeY, int* tableBytes, int options,
                         int optionArgument);
// Undoes the sharing of one buffer by `priz` and `prizn` so that both blocks
// can be freed. Also waits for any task still using them.
void RestoreMotionTableBuffers();

struct MotionAhead;
// Estimates the motion of the current picture (PictureCodingType) into `records`.
// A search `ahead` that searched exactly what this call would search gives
// its results instead (the motion tables are handled all the same).
void RunMotionEstimation(const uint8_t* prevAnchorSource, const uint8_t* nextAnchorSource,
                         const uint8_t* prevAnchorRecon, const uint8_t* nextAnchorRecon,
                         const uint8_t* currentSource, const uint8_t* currentRecon, int forwardRangeX,
                         int forwardRangeY, int backwardRangeX, int backwardRangeY,
                         MacroblockInfo* records, int secondField, int anchorFlag,
                         const MotionAhead* ahead = nullptr);

// What the search of one P or B picture reads: its kind, the pictures, the
// search ranges, the motion tables and the match flags; the records it writes.
struct MotionPicture {
    int type = 0;  // 2 P, 3 B
    int closedGop = 0;
    const uint8_t* prevAnchorSource = nullptr;
    const uint8_t* nextAnchorSource = nullptr;
    const uint8_t* prevAnchorRecon = nullptr;
    const uint8_t* nextAnchorRecon = nullptr;
    const uint8_t* currentSource = nullptr;
    int forwardRangeX = 0, forwardRangeY = 0, backwardRangeX = 0, backwardRangeY = 0;
    MacroblockInfo* records = nullptr;
    const uint8_t* forwardTables = nullptr;   // `priz` at the time
    const uint8_t* backwardTables = nullptr;  // `prizn`
    int matchFlags = 2;
    // Only the forward first stage of a B picture: its backward anchor is
    // still being coded.
    bool firstStageOnly = false;
    // The settings the search reads (the stage is set by the search), and
    // how many bands of rows it may run on.
    SearchWords words;
    int bands = 1;
};

// The bands a search made ahead of its picture may use: it leaves a
// processor and the picture's row helpers to the picture being coded.
int SearchAheadBandCount();

// PictureMatchFlags of a picture of the given type and input frames.
int PictureMatchFlagsFor(int type, int currentInput, int prevAnchorInput, int nextAnchorInput);

// The search of the P or B picture `p` into p.records, on the bands of the
// worker pool; the sums of the second stage to *intraSum and *errorSum. With
// `ahead` it runs on a worker ahead of its picture: it pumps no messages,
// takes at most half the pool, and returns false on a failure without a
// report (the picture then runs its own search). Never two at a time.
// `firstStage` holds the first-stage results of a search made ahead: they
// are taken over instead of searched.
bool EstimatePictureMotion(const MotionPicture& p, int64_t* intraSum, int64_t* errorSum, bool ahead,
                           const MacroblockInfo* firstStage = nullptr);
// True when no band task of an earlier search is left in flight.
bool MotionBandsSettled();
// Runs rows of the search ahead while one of its stages is open (every
// thread takes rows from the same count, so the records and sums are those of
// the bands alone); false when there was no row to run.
bool HelpSearchAhead();
// True when no motion task of an earlier picture (tables or bands) is in
// flight, so that a search may start on a worker.
bool MotionTasksSettled();
// What a search of a picture of `type` wrote into its records, copied from
// `from` to `to` (count records): the same records as if it had searched `to`.
void CopySearchResults(int type, int closedGop, int matchFlags, const MacroblockInfo* from, MacroblockInfo* to,
                       int count);

// A search made ahead of its picture on a worker: what it searched, its
// records and sums, and how long it took.
struct MotionAhead {
    MotionPicture picture;
    const MacroblockInfo* results = nullptr;
    int64_t intraSum = 0, errorSum = 0;
    uint32_t milliseconds = 0;
};

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
