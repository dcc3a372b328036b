// Motion estimation of a picture: set-up, the two motion-table buffers and
// the table calculation run ahead, the split into bands of macroblock rows on
// the worker pool, and the per-macroblock choice of the prediction.
#include "engine/MotionEstimation.h"

#include <algorithm>
#include <climits>

#include "engine/EngineState.h"
#include "engine/MotionSearch.h"
#include "engine/Threads.h"
#include "settings/EncoderSettings.h"
#include "settings/JobUtil.h"
#include "settings/Report.h"
#include "settings/RunState.h"

FullPelSadFn FullPelSadKernel = FullPelSad;
HalfPelMatchFn HalfPelMatchKernel = HalfPelSse;
MotionKernelTable MeKernels = [] {
    MotionKernelTable t;
    motion_kernels_init(false, t, false);
    return t;
}();

int UseAvx2Kernels = 1;
MotionStateRecord MotionState;

std::atomic<int> TableTaskState{0};
MotionTableTaskArgs TableTaskArgs;
int MotionTaskWaitMs = 10000;

namespace {

// A predicted macroblock whose error is at least this and above its intra
// variance is coded intra.
constexpr int IntraErrorFloor = 2304;

const char* const TableTaskFailedText =
    " Error in the table calculation thread function. \n Disable parallel table calculations and try again.";

// One stage of a search, as every band of it reads it: a copy of the
// search's record with the stage's words, and the row count the bands take
// their macroblock rows from (null: one band does every row itself). Static
// so that it outlives the posting call (a band a wait gave up on still reads
// it), and never refilled while a task that reads it may still run.
struct StageSearch {
    MotionPicture picture;
    std::atomic<int>* nextRow = nullptr;
};
// The band tasks' argument blocks: the stage they search, and the sums a
// band of the second stage adds up.
struct FirstStageBand {
    const StageSearch* search = nullptr;
};
struct SecondStageBand {
    const StageSearch* search = nullptr;
    // Wider than the records' words: the sums of a large noisy picture pass 2^31.
    int64_t intraVarianceSum = 0, errorSum = 0;
};
StageSearch FirstStage, SecondStage;
FirstStageBand FirstStageBands[WorkerPoolSize];
SecondStageBand SecondStageBands[WorkerPoolSize];

// Band tasks a wait gave up on; they keep their slots reserved until a
// later wait has seen them end.
int StraySlots[WorkerPoolSize];
int StrayCount = 0;
// Slot of the table task in flight, or -1.
int TableTaskSlot = -1;

int SaturateToInt(int64_t v) { return v > INT_MAX ? INT_MAX : static_cast<int>(v); }

// Shared row counters of the bands of one picture; only reset while no band runs.
std::atomic<int> FirstStageNextRow{0}, SecondStageNextRow{0};

// The next macroblock row for a band, or -1 when none is left. The rows are
// independent of each other, so whichever band takes a row gives the same
// records; the sums of the second stage are exact in any order.
int NextBandRow(std::atomic<int>* nextRow, int* ownRow) {
    // The picture being coded waits for its rows; they go first.
    while (HelpRowStream()) {
    }
    const int rows = MeTableGeometry.height / 16;
    const int row = nextRow ? nextRow->fetch_add(1) : (*ownRow)++;
    return row < rows ? row : -1;
}

void RunFirstStageRow(const StageSearch& s, int row) {
    const MotionPicture& p = s.picture;
    const int w = MeTableGeometry.width, columns = w / 16;
    for (int column = 0; column < columns; ++column) {
        const int x = column * 16, y = row * 16;
        MacroblockInfo& r = p.records[row * columns + column];
        int bestX = 0, bestY = 0;
        r.firstStageResult[0] = MotionSearchMacroblock(p.prevAnchorSource, p.prevAnchorRecon,
                                                       p.currentSource + y * w + x, x, y, p.forwardRangeX,
                                                       p.forwardRangeY, &bestX, &bestY, nullptr, p.forwardTables,
                                                       p.matchFlags, r.matchWindows, p.words);
        r.firstStageResult[1] = bestX;
        r.firstStageResult[2] = bestY;
    }
}

void RunFirstStageBand(const FirstStageBand& b) {
    int own = 0;
    for (int row; (row = NextBandRow(b.search->nextRow, &own)) >= 0;) RunFirstStageRow(*b.search, row);
}

void EstimateMacroblock(const MotionPicture& p, int x, int y, MacroblockInfo* record, int* intraVarianceSum,
                        int* errorSum);

void RunSecondStageRow(const StageSearch& s, int row, int64_t* intraVarianceSum, int64_t* errorSum) {
    const MotionPicture& p = s.picture;
    const int columns = MeTableGeometry.width / 16;
    for (int column = 0; column < columns; ++column) {
        int variance = 0, error = 0;
        EstimateMacroblock(p, column * 16, row * 16, &p.records[row * columns + column], &variance, &error);
        *intraVarianceSum += variance;
        *errorSum += error;
    }
}

void RunSecondStageBand(SecondStageBand& b) {
    b.intraVarianceSum = 0;
    b.errorSum = 0;
    int own = 0;
    for (int row; (row = NextBandRow(b.search->nextRow, &own)) >= 0;)
        RunSecondStageRow(*b.search, row, &b.intraVarianceSum, &b.errorSum);
}

// A search ahead with several bands is open to threads that find themselves
// waiting for it: the stage running (1 the first, 2 the second, 0 none), the
// threads inside, and the sums of the second-stage rows they ran. Rows are
// taken from the bands' own count, so a row runs once whoever runs it.
std::atomic<int> OpenAheadStage{0};
std::atomic<int> AheadHelpers{0};
std::atomic<int64_t> HelperIntraSum{0}, HelperErrorSum{0};

// The bands' records of the stage are complete when it opens.
void OpenAheadSearch(int stage) {
    HelperIntraSum.store(0, std::memory_order_relaxed);
    HelperErrorSum.store(0, std::memory_order_relaxed);
    OpenAheadStage.store(stage, std::memory_order_release);
}

// After the bands: no helper may still run a row once this returns.
void CloseAheadSearch() {
    OpenAheadStage.store(0, std::memory_order_release);
    while (AheadHelpers.load(std::memory_order_acquire) > 0) CpuRelax();
}

bool WorkerAvailable() {
    for (const WorkerSlot& s : WorkerPool)
        if (s.state.load() == WORKER_IDLE && s.reserved.load() == 0) return true;
    return false;
}

// Waits for band tasks that an earlier wait left running. False when they
// still run, so that nothing they use may be touched.
bool SettleStrayTasks(int timeoutMs) {
    if (StrayCount == 0) return true;
    if (WaitForWorkerTasks(StraySlots, StrayCount, timeoutMs) == -2) return false;
    ReleaseWorkerSlots(StraySlots, StrayCount);
    StrayCount = 0;
    return true;
}

// Runs the n bands: one task per band while a worker is free, the bands that
// find no free worker here on the calling thread, so that busy slots never
// make the picture fail. Returns false after a failure, reported unless
// `quiet` (a worker's estimate ahead, which the picture repeats).
template <class Band, class RunBand>
bool RunBands(Band* bands, int n, WorkerTask task, RunBand runBand, const char* postError,
              const char* waitError, bool quiet) {
    int slots[WorkerPoolSize];
    int posted = 0;
    bool local[WorkerPoolSize] = {};
    for (int k = 0; k < n; ++k) {
        // The calling thread takes the last band's share itself.
        if (k == n - 1) {
            local[k] = true;
            continue;
        }
        // Reserved until the wait has ended, so no later post lands on it.
        const int slot = RunOnIdleWorker(task, &bands[k]);
        if (slot == -2) {
            local[k] = true;
            continue;
        }
        if (slot < 0) {
            // Let what was posted end before anyone may refill its block.
            if (posted && WaitForWorkerTasks(slots, posted, MotionTaskWaitMs) == -2) {
                std::copy(slots, slots + posted, StraySlots);
                StrayCount = posted;
            } else {
                ReleaseWorkerSlots(slots, posted);
            }
            if (!quiet) ReportFatalError(postError);
            return false;
        }
        slots[posted++] = slot;
    }
    for (int k = 0; k < n; ++k)
        if (local[k]) runBand(bands[k]);
    // Every row is taken now: a band its worker has not started yet is taken
    // back (it would find no row), so that a late worker delays nobody.
    int started = 0;
    for (int i = 0; i < posted; ++i) {
        if (RevokeWorkerTask(slots[i]) == 1) ReleaseWorkerSlots(&slots[i], 1);
        else slots[started++] = slots[i];
    }
    posted = started;
    if (posted == 0) return true;
    const int result = WaitForWorkerTasks(slots, posted, MotionTaskWaitMs);
    if (result == -2) {
        std::copy(slots, slots + posted, StraySlots);
        StrayCount = posted;
        if (!quiet) ReportFatalError(waitError);
        return false;
    }
    ReleaseWorkerSlots(slots, posted);
    if (result < 0) {
        if (!quiet) ReportFatalError(waitError);
        return false;
    }
    return true;
}

int BandCount() { return std::clamp(MeThreadCount, 1, WorkerPoolSize); }

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

    motion_kernels_init(mmx == 1, MeKernels, Avx2KernelsChosen(mmx == 1));
    FullPelSadKernel = MotionState.MeExhaustive ? MeKernels.fullPelSad : MeKernels.fullPelSadRowBudget;
    HalfPelMatchKernel = performanceMode >= 4 ? MeKernels.halfPelSseModes45 : MeKernels.halfPelSse;
    MotionState.MeHighMode = performanceMode >= 4 ? 1 : 0;
    MotionState.MeLowMode = !MotionState.MeHighMode;

    // A new encoding: whatever an earlier pool ran has ended with that pool.
    MotionState.MotionTablesShared = 0;
    MotionState.SavedPrizBuffer = nullptr;
    TableTaskState.store(0);
    TableTaskSlot = -1;
    StrayCount = 0;
    return 1;
}

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

namespace {
// The picture being searched, with the motion tables of the moment.
MotionPicture CurrentMotionPicture(const uint8_t* prevAnchorSource, const uint8_t* nextAnchorSource,
                                   const uint8_t* prevAnchorRecon, const uint8_t* nextAnchorRecon,
                                   const uint8_t* currentSource, int forwardRangeX, int forwardRangeY,
                                   int backwardRangeX, int backwardRangeY) {
    MotionPicture p;
    p.type = CurrentPicture.PictureCodingType;
    p.closedGop = CurrentPicture.ClosedGopBPictures;
    p.prevAnchorSource = prevAnchorSource;
    p.nextAnchorSource = nextAnchorSource;
    p.prevAnchorRecon = prevAnchorRecon;
    p.nextAnchorRecon = nextAnchorRecon;
    p.currentSource = currentSource;
    p.forwardRangeX = forwardRangeX;
    p.forwardRangeY = forwardRangeY;
    p.backwardRangeX = backwardRangeX;
    p.backwardRangeY = backwardRangeY;
    p.forwardTables = MotionState.priz;
    p.backwardTables = MotionState.prizn;
    p.words = CurrentSearchWords();
    p.bands = BandCount();
    return p;
}

}  // namespace

SearchWords CurrentSearchWords() {
    return {MotionState.SearchStage, MotionState.MeSearchPoints, MotionState.MeThresholdScaled,
            MotionState.MeWindowTolerance};
}

SearchWords SearchWordsFromSettings(int stage) {
    return {stage, EncoderSettings.meSearchPoints, EncoderSettings.meThreshold * 256, EncoderSettings.meSearchLevel};
}

int SearchAheadBandCount() {
    // Ahead of its picture, a search leaves a processor and the picture's row
    // helpers to the picture being coded (two bands at least, half the pool at most).
    if (MeThreadCount < 2) return 1;
    return std::max(2, std::min({BandCount(), WorkerPoolSize / 2, ProcessorCount - 1 - PictureRowHelpersBesideSearch()}));
}

void EstimateMacroblockMotion(const uint8_t* prevAnchorSource, const uint8_t* nextAnchorSource,
                              const uint8_t* prevAnchorRecon, const uint8_t* nextAnchorRecon,
                              const uint8_t* currentSource, int x, int y, int forwardRangeX,
                              int forwardRangeY, int backwardRangeX, int backwardRangeY,
                              MacroblockInfo* record, int* intraVarianceSum, int* errorSum) {
    MotionPicture p = CurrentMotionPicture(prevAnchorSource, nextAnchorSource, prevAnchorRecon, nextAnchorRecon,
                                           currentSource, forwardRangeX, forwardRangeY, backwardRangeX,
                                           backwardRangeY);
    p.matchFlags = MotionState.PictureMatchFlags;
    EstimateMacroblock(p, x, y, record, intraVarianceSum, errorSum);
}

namespace {

void EstimateMacroblock(const MotionPicture& p, int x, int y, MacroblockInfo* record, int* intraVarianceSum,
                        int* errorSum) {
    const uint8_t* prevAnchorSource = p.prevAnchorSource;
    const uint8_t* nextAnchorSource = p.nextAnchorSource;
    const uint8_t* prevAnchorRecon = p.prevAnchorRecon;
    const uint8_t* nextAnchorRecon = p.nextAnchorRecon;
    const int forwardRangeX = p.forwardRangeX, forwardRangeY = p.forwardRangeY;
    const int backwardRangeX = p.backwardRangeX, backwardRangeY = p.backwardRangeY;
    const int w = MeTableGeometry.width;
    const uint8_t* current = p.currentSource + y * w + x;
    const int variance = IntraVarianceMeasure(current, w);
    int type = MB_INTRA;
    int error = variance;

    if (p.type == P_PICTURE) {
        *intraVarianceSum += variance;
        int column = 0, row = 0, zeroError = 0;
        const int best = MotionSearchMacroblock(prevAnchorSource, prevAnchorRecon, current, x, y,
                                                forwardRangeX, forwardRangeY, &column, &row,
                                                &zeroError, p.forwardTables, p.matchFlags,
                                                record->matchWindows, p.words);
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
                                                    &backRow, nullptr, p.backwardTables, p.matchFlags,
                                                    record->matchWindows, p.words);
        const int forward = record->firstStageResult[0];
        const int forwardColumn = record->firstStageResult[1];
        const int forwardRow = record->firstStageResult[2];
        int chosen;
        if (p.closedGop) {
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

}  // namespace

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

int MotionEstimationBandTask(void* block, int slot) {
    if (!block || slot < 0) return -1;
    RunFirstStageBand(*static_cast<FirstStageBand*>(block));
    return 1;
}

int MotionEstimationBandTask2(void* block, int slot) {
    if (!block || slot < 0) return -1;
    RunSecondStageBand(*static_cast<SecondStageBand*>(block));
    return 1;
}

void RestoreMotionTableBuffers() {
    // Nothing may still write or read the buffers once they are handed back.
    if (TableTaskSlot >= 0) {
        WaitForWorkerTasks(&TableTaskSlot, 1, -1);
        ReleaseWorkerSlots(&TableTaskSlot, 1);
        TableTaskSlot = -1;
    }
    SettleStrayTasks(-1);
    TableTaskState.store(0);
    if (MotionState.MotionTablesShared) {
        MotionState.MotionTablesShared = 0;
        MotionState.priz = MotionState.SavedPrizBuffer;
        MotionState.SavedPrizBuffer = nullptr;
    }
}

int PictureMatchFlagsFor(int type, int currentInput, int prevAnchorInput, int nextAnchorInput) {
    if (type == P_PICTURE) return 2 | (currentInput == prevAnchorInput ? 1 : 0);
    return currentInput == prevAnchorInput || currentInput == nextAnchorInput ? 3 : 2;
}

bool MotionBandsSettled() { return StrayCount == 0; }

bool HelpSearchAhead() {
    const int stage = OpenAheadStage.load(std::memory_order_acquire);
    if (stage == 0) return false;
    // Inside before looking: the stage's owner waits for everyone inside.
    AheadHelpers.fetch_add(1, std::memory_order_acq_rel);
    bool ran = false;
    if (OpenAheadStage.load(std::memory_order_acquire) == stage) {
        int row;
        if (stage == 1) {
            while ((row = NextBandRow(FirstStage.nextRow, nullptr)) >= 0) {
                RunFirstStageRow(FirstStage, row);
                ran = true;
            }
        } else {
            int64_t intra = 0, error = 0;
            while ((row = NextBandRow(SecondStage.nextRow, nullptr)) >= 0) {
                RunSecondStageRow(SecondStage, row, &intra, &error);
                ran = true;
            }
            HelperIntraSum.fetch_add(intra, std::memory_order_relaxed);
            HelperErrorSum.fetch_add(error, std::memory_order_relaxed);
        }
    }
    AheadHelpers.fetch_sub(1, std::memory_order_acq_rel);
    return ran;
}

namespace {
StageSearch StageOf(const MotionPicture& p, const SearchWords& words, std::atomic<int>* nextRow) {
    StageSearch s{p, nextRow};
    s.picture.words = words;
    return s;
}
}  // namespace

bool EstimatePictureMotion(const MotionPicture& p, int64_t* intraSum, int64_t* errorSum, bool ahead,
                           const MacroblockInfo* firstStage) {
    // Everything the search reads comes from `p`; the search words of the
    // picture being coded are the encoding thread's, and only its own search
    // leaves them behind.
    SearchWords words = p.words;
    words.stage = p.type == B_PICTURE && !(p.matchFlags & 1) ? 1 : 0;
    if (!ahead) {
        MotionState.PictureMatchFlags = p.matchFlags;
        MotionState.SearchStage = words.stage;
    }
    // Only the encoding thread may pump its messages.
    auto pump = [ahead] {
        if (!ahead) PumpMessagesDuringMotionSearch();
    };
    const int bands = std::clamp(p.bands, 1, WorkerPoolSize);
    bool firstStageRan = false;
    if (p.type == B_PICTURE) {
        pump();
        // The leading B pictures of a closed group are predicted backward only.
        if (!p.closedGop && firstStage) {
            firstStageRan = true;
            const int count = (MeTableGeometry.width / 16) * (MeTableGeometry.height / 16);
            const bool windows = words.stage == 1;
            for (int k = 0; k < count; ++k) {
                std::copy(firstStage[k].firstStageResult, firstStage[k].firstStageResult + 3,
                          p.records[k].firstStageResult);
                if (windows) std::copy(firstStage[k].matchWindows, firstStage[k].matchWindows + 6,
                                       p.records[k].matchWindows);
            }
        } else if (!p.closedGop) {
            firstStageRan = true;
            if (bands > 1 && !(p.matchFlags & 1)) {
                const int n = bands;
                FirstStageNextRow.store(0);
                FirstStage = StageOf(p, words, &FirstStageNextRow);
                for (int k = 0; k < n; ++k) FirstStageBands[k] = {&FirstStage};
                if (ahead) OpenAheadSearch(1);
                const bool ran = RunBands(FirstStageBands, n, MotionEstimationBandTask, RunFirstStageBand,
                                          " Error during starting ME thread ", " Unknown error in wait for ME threads",
                                          ahead);
                if (ahead) CloseAheadSearch();
                if (!ran) return false;
            } else {
                const StageSearch alone = StageOf(p, words, nullptr);
                RunFirstStageBand({&alone});
            }
        }
    }

    if (p.firstStageOnly) {
        *intraSum = *errorSum = 0;
        return true;
    }
    pump();
    words.stage = words.stage == 1 && firstStageRan ? 2 : 0;
    if (!ahead) MotionState.SearchStage = words.stage;
    const int n = bands;
    SecondStageNextRow.store(0);
    SecondStage = StageOf(p, words, n > 1 ? &SecondStageNextRow : nullptr);
    for (int k = 0; k < n; ++k) SecondStageBands[k] = {&SecondStage};
    if (n > 1) {
        if (ahead) OpenAheadSearch(2);
        const bool ran = RunBands(SecondStageBands, n, MotionEstimationBandTask2, RunSecondStageBand,
                                  " Error during starting second ME thread ",
                                  " Unknown error in second wait for ME threads", ahead);
        if (ahead) CloseAheadSearch();
        if (!ran) return false;
    } else {
        RunSecondStageBand(SecondStageBands[0]);
    }
    int64_t intra = 0, error = 0;
    if (ahead && n > 1) {
        intra = HelperIntraSum.load(std::memory_order_relaxed);
        error = HelperErrorSum.load(std::memory_order_relaxed);
    }
    for (int k = 0; k < n; ++k) {
        intra += SecondStageBands[k].intraVarianceSum;
        error += SecondStageBands[k].errorSum;
    }
    *intraSum = intra;
    *errorSum = error;
    return true;
}

bool MotionTasksSettled() { return StrayCount == 0 && TableTaskSlot < 0 && TableTaskState.load() == 0; }

void CopySearchResults(int type, int closedGop, int matchFlags, const MacroblockInfo* from, MacroblockInfo* to,
                       int count) {
    // The fields EstimateMacroblock and the first stage write, and only those.
    const bool firstStage = type == B_PICTURE && !closedGop;
    const bool windows = firstStage && !(matchFlags & 1);
    for (int k = 0; k < count; ++k) {
        const MacroblockInfo& f = from[k];
        MacroblockInfo& t = to[k];
        if (firstStage) std::copy(f.firstStageResult, f.firstStageResult + 3, t.firstStageResult);
        if (windows) std::copy(f.matchWindows, f.matchWindows + 6, t.matchWindows);
        t.motionType = f.motionType;
        t.typeFlags = f.typeFlags;
        t.predictionError = f.predictionError;
        if (f.typeFlags & MB_INTRA) continue;
        if (type == P_PICTURE) {
            // Written on every path but intra.
            t.forwardVector[0] = f.forwardVector[0];
            t.forwardVector[1] = f.forwardVector[1];
        } else {
            std::copy(f.forwardVector, f.forwardVector + 2, t.forwardVector);
            std::copy(f.backwardVector, f.backwardVector + 2, t.backwardVector);
        }
    }
}

namespace {

// Whether a search of `a` gives what a search of `p` would: the same inputs
// but for the current picture's store, which holds the same frame.
bool SameSearch(const MotionPicture& a, const MotionPicture& p) {
    if (a.type != p.type || a.prevAnchorSource != p.prevAnchorSource || a.prevAnchorRecon != p.prevAnchorRecon ||
        a.forwardRangeX != p.forwardRangeX || a.forwardRangeY != p.forwardRangeY ||
        a.forwardTables != p.forwardTables || a.matchFlags != p.matchFlags)
        return false;
    if (p.type == P_PICTURE) return true;  // a P picture's search reads nothing else
    return a.closedGop == p.closedGop && a.nextAnchorSource == p.nextAnchorSource &&
           a.nextAnchorRecon == p.nextAnchorRecon && a.backwardRangeX == p.backwardRangeX &&
           a.backwardRangeY == p.backwardRangeY && a.backwardTables == p.backwardTables;
}

// Whether the first stage searched ahead for `a` is the first stage of `p`.
bool SameFirstStage(const MotionPicture& a, const MotionPicture& p) {
    return a.firstStageOnly && p.type == B_PICTURE && a.type == B_PICTURE && !a.closedGop && !p.closedGop &&
           a.prevAnchorSource == p.prevAnchorSource && a.prevAnchorRecon == p.prevAnchorRecon &&
           a.forwardRangeX == p.forwardRangeX && a.forwardRangeY == p.forwardRangeY &&
           a.forwardTables == p.forwardTables && a.matchFlags == p.matchFlags;
}

}  // namespace

void RunMotionEstimation(const uint8_t* prevAnchorSource, const uint8_t* nextAnchorSource,
                         const uint8_t* prevAnchorRecon, const uint8_t* nextAnchorRecon,
                         const uint8_t* currentSource, const uint8_t* /*currentRecon*/,
                         int forwardRangeX, int forwardRangeY, int backwardRangeX,
                         int backwardRangeY, MacroblockInfo* records, int /*secondField*/,
                         int /*anchorFlag*/, const MotionAhead* ahead) {
    // Tasks of an earlier call must have ended before their blocks, records,
    // tables or the search words are touched again.
    if (!SettleStrayTasks(MotionTaskWaitMs)) {
        ReportFatalError(" Unknown error in wait for ME threads");
        return;
    }
    if (TableTaskSlot >= 0) {
        const int result = WaitForWorkerTasks(&TableTaskSlot, 1, MotionTaskWaitMs);
        if (result == -2) {
            // Still writing its buffer: keep it in flight for the next look.
            ReportFatalError(TableTaskFailedText);
            return;
        }
        ReleaseWorkerSlots(&TableTaskSlot, 1);
        TableTaskSlot = -1;
        if (result != 1) TableTaskState.store(-1);
    }
    if (TableTaskState.load() != 0) {
        TableTaskState.store(0);
        ReportFatalError(TableTaskFailedText);
        return;
    }
    MotionState.SearchStage = 0;
    CurrentPicture.PictureErrorSum = 0;
    CurrentPicture.PictureIntraVarianceSum = 0;

    MotionState.MeSearchPoints = EncoderSettings.meSearchPoints;
    MotionState.MeThresholdScaled = EncoderSettings.meThreshold * 256;
    MotionState.MeWindowTolerance = EncoderSettings.meSearchLevel;
    if (MeThreadCount > WorkerPoolSize) MeThreadCount = WorkerPoolSize;
    const uint32_t start = GetElapsedMilliseconds();

    const int w = MeTableGeometry.width;
    const int columns = w / 16, rows = MeTableGeometry.height / 16;
    bool postTables = false;
    if (CurrentPicture.PictureCodingType != B_PICTURE &&
        !(EncoderSettings.ipDistance == 1 && EncoderSettings.gopSize == 1)) {
        if (CurrentPicture.AnchorRepeatsInput) {
            // Same input frame as the previous anchor: its tables serve both roles.
            if (!MotionState.MotionTablesShared) {
                MotionState.SavedPrizBuffer = MotionState.priz;
                MotionState.MotionTablesShared = 1;
                MotionState.priz = MotionState.prizn;
            }
        } else {
            uint8_t* older = MotionState.MotionTablesShared ? MotionState.SavedPrizBuffer : MotionState.priz;
            MotionState.priz = MotionState.prizn;
            MotionState.prizn = older;
            MotionState.MotionTablesShared = 0;
            MotionState.SavedPrizBuffer = nullptr;
            if (!CurrentPicture.NextIsGopStart) {
                if (ThreadTablesFlag == 0)
                    CalcMotionSearchTables(currentSource, MotionState.prizn);
                else
                    postTables = true;
            }
        }
        MotionState.MotionTableTimeMs += GetElapsedMilliseconds() - start;
    }

    if (CurrentPicture.PictureCodingType == I_PICTURE) {
        PumpMessagesDuringMotionSearch();
        int64_t sum = 0;
        for (int row = 0; row < rows; ++row) {
            for (int column = 0; column < columns; ++column) {
                MacroblockInfo& r = records[row * columns + column];
                r.typeFlags = MB_INTRA;
                r.predictionError = IntraVarianceMeasure(currentSource + row * 16 * w + column * 16, w);
                sum += r.predictionError;
            }
        }
        CurrentPicture.PictureErrorSum = SaturateToInt(sum);
    } else {
        MotionPicture p = CurrentMotionPicture(prevAnchorSource, nextAnchorSource, prevAnchorRecon,
                                               nextAnchorRecon, currentSource, forwardRangeX, forwardRangeY,
                                               backwardRangeX, backwardRangeY);
        p.records = records;
        p.matchFlags = PictureMatchFlagsFor(CurrentPicture.PictureCodingType, CurrentPicture.CurrentInputFrame,
                                            CurrentPicture.PrevAnchorInputFrame, CurrentPicture.NextAnchorInputFrame);
        int64_t intraSum = 0, errorSum = 0;
        if (ahead && ahead->results && SameFirstStage(ahead->picture, p)) {
            if (!EstimatePictureMotion(p, &intraSum, &errorSum, false, ahead->results)) return;
            MotionState.MotionEstimationTimeMs += ahead->milliseconds;
        } else if (ahead && ahead->results && !ahead->picture.firstStageOnly && SameSearch(ahead->picture, p)) {
            CopySearchResults(p.type, p.closedGop, p.matchFlags, ahead->results, records, columns * rows);
            intraSum = ahead->intraSum;
            errorSum = ahead->errorSum;
            // The words the search leaves behind.
            MotionState.PictureMatchFlags = p.matchFlags;
            MotionState.SearchStage = p.type == B_PICTURE && !p.closedGop && !(p.matchFlags & 1) ? 2 : 0;
            MotionState.MotionEstimationTimeMs += ahead->milliseconds;
            PumpMessagesDuringMotionSearch();
        } else if (!EstimatePictureMotion(p, &intraSum, &errorSum, false)) {
            return;
        }
        CurrentPicture.PictureIntraVarianceSum = SaturateToInt(intraSum);
        CurrentPicture.PictureErrorSum = SaturateToInt(errorSum);
        MotionState.MotionEstimationTimeMs += GetElapsedMilliseconds() - start;
    }

    if (postTables) {
        TableTaskArgs = {currentSource, MotionState.prizn};
        // Running from the moment it is posted: the coder and the next picture look at it.
        TableTaskState.store(1);
        const int slot = WorkerAvailable() ? RunOnWorkerThread(CalcMotionSearchTablesTask, &TableTaskArgs) : -2;
        if (slot >= 0) {
            // Reserved until collected: a later task on the same slot would
            // otherwise take the completion the next picture waits for.
            ReserveWorkerSlot(slot);
            TableTaskSlot = slot;
        } else if (slot == -2) {
            // No free worker: the tables are needed all the same.
            const uint32_t tablesStart = GetElapsedMilliseconds();
            CalcMotionSearchTables(currentSource, MotionState.prizn);
            TableTaskState.store(0);
            MotionState.MotionTableTimeMs += GetElapsedMilliseconds() - tablesStart;
        } else {
            TableTaskState.store(0);
            ReportFatalError(" Error starting parallel table caculation ");
        }
    }
}
