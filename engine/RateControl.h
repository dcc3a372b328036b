// Rate control: group and picture bit budgets, the VBV model on a 90 kHz
// clock, macroblock quantisers and the end-of-picture updates. Quantisers
// are doubled throughout (2..62 stand for quantiser_scale 1..31).
#pragma once

#include <cstdint>

// The engine's rate-control modes: constant rate, and the variable modes with
// VBV planning (kRcFirstPlannedVbr and above) or without.
enum RateControlModeId : int {
    kRcConstant = 1,
    kRcAverageNoVbv = 2,        // average bit rate, no VBV control
    kRcConstantQuantNoVbv = 3,  // constant quantiser, no VBV control
    kRcFirstPlannedVbr = 10,
    kRcConstantQuant = 15,       // constant quantiser within the VBV
    kRcQuantWithinAverage = 16,  // quantiser kept between limits of the average rate
    kRcAverage = 17,             // average bit rate within the VBV
};

struct RateControlStateRecord {
    // The mode chosen from the settings when the sequence starts.
    int RateControlMode = kRcConstant;
    // Group and picture budgets.
    int R = 0, R0 = 0, Np = 0, Nb = 0;
    int Xi = 0, Xp = 0, Xb = 0;
    float R1 = 0.0f;  // sum of group budgets before correction minus all bits spent
    double Kb = 1.8, KbAdaptive = 1.8;
    int T = 0, T0 = 0;
    int PictureStartBits = 0;  // after the update: S, the bits the picture took
    double TargetBitRate = 0.0;
    int BitsPerPixelX256 = 0;
    float StartQuantI = 0, StartQuantP = 0, StartQuantB = 0, StartQuant = 0;
    int StartQuantMin = 0, StartQuantMax = 0;
    int MacroblockCount = 0, ComplexityUpdateLimit = 0, RowCheckStart = 0;
    // VBV geometry.
    double BitsPerTick = 0, VbvSizeBits = 0, VbvSizeTicks = 0;
    int VbvHighBits = 0, VbvPanicBits = 0;
    double VbvMidLevel = 0;
    // Buffer-position trackers, bits.
    double FullnessBefore = 0, FullnessAfter = 0, GopMaxFullness = 0, GopMinFullness = 0;
    double PrevGopMaxFullness = 0, PrevGopMinFullness = 0, MaxFullness = 0, MinFullness = 0;
    double FullnessSpreadChange = 0;
    // Planned-VBV limits of the current picture.
    int MinPictureBits = 0, MaxPictureBits = 0, SafeMinPictureBits = 0, SafeMaxPictureBits = 0;
    // Per-row planning.
    int RowStartBits = 0, BitsPerMacroblock = 0, BitsPerRow = 0, RowBitsMax = 0, RowBitsMin = 0;
    // Variable bit rate.
    int VbrQuant = 0, BaseQuant = 0;
    double InitialQuant = 0, SmoothedQuant = 0, ExpectedBits = 0, RateTolerance = 0;
    double MeasuredBitRate = 0, SimulatedStuffing = 0;
    int BitCountWraps = 0;
    double AverageQuant = 8.0;
    // VBV clock.
    double DecodingTime = 0, BitsDelivered = 0, PrevBitsDelivered = 0, AnchorInterval = 0;
    int VbvWarningShown = 0;
    // Quantiser selection.
    int RowQuant = 0, mquant = 0, PictureStartQuant = 0, RowQuantMin = 0, RowQuantMax = 0;
    int Reaction5 = 0, MquantSum = 0, MquantCount = 0;
    int AverageActivity = 0, AverageMeanLuma = 0;
    // 1 from a picture close to its upper bit limit at a coarse quantiser
    // until one well below it (updated after each picture).
    int RateOverload = 0;
    // Macroblock row and column the picture coder is at (set before RcCalcMquant).
    int CurrentMbRow = 0, CurrentMbColumn = 0;
    // vbv_delay of the picture header about to be written.
    int VbvDelay = 0;
    // Set by the picture driver when a skipped B picture is still counted in Nb.
    int SkippedBCountedInNb = 0;
};

extern RateControlStateRecord RateControlState;

// One line of the VBV statistics file.
struct VbvStatsRecordType {
    int pictureIndex = 0, displayNumber = 0, inputFrame = 0, pictureType = 0, skipped = 0;
    int target = 0, actual = 0, mode = 0;
    double targetRate = 0, bitRate = 0, quantiser = 0, quality = 0, decodingTime = 0;
    int fullnessBefore = 0, fullnessAfter = 0, vbvSize = 0, vbvDelay = 0, status = 0, statusSoFar = 0;
};
extern VbvStatsRecordType VbvStatsRecord;

void RcReset();
// 0 when the sequence may start; -1 after a fatal report that did not unwind.
int RcInitSequence();
void InitialQuantFromBitrate(double rate);
// np: P pictures of the group; nbTotal: all its B pictures; nbCoded: those really coded.
void RcInitGop(int np, int nbTotal, int nbCoded);
void RcInitPicture();
void RcInitSkippedPicture();

void CheckVbvAndWriteStats();
void RcEndPicture();

void CalcSpatialActivity(const uint8_t* luma);
int RcStartPictureQuant();
int RcCalcMquant(int k);
// True when RcCalcMquant gives every macroblock of row `row` the quantiser it
// gives the row's first one (no activity modulation, no buffer protection).
bool RcRowQuantIsUniform(int row);
void RcUpdatePicture();
void RcUpdateSkippedPicture();
void RcUpdateVbrState();

// Activity sums of one 8x8 block: sum and sum of squares of its samples.
using ActivitySumsFn = void (*)(const uint8_t* p, int lineLength, int* sum, int* sumSquares);
void ActivitySumsPlain(const uint8_t* p, int lineLength, int* sum, int* sumSquares);
void ActivitySumsSse2(const uint8_t* p, int lineLength, int* sum, int* sumSquares);
struct RateControlKernels {
    ActivitySumsFn activitySums = ActivitySumsPlain;
};
// Fills the table with the plain kernels, or with the SIMD ones when `simd`.
void ratecontrol_init(bool simd, RateControlKernels& kernels);
// The kernels rate control runs: plain until SelectEngineKernels fills it
// when an encoding is set up.
extern RateControlKernels RcKernels;
