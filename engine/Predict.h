// Motion-compensated prediction of frame pictures: one vector per direction
// and macroblock, half-sample accuracy.
#pragma once

#include <cstdint>

#include "engine/EngineTypes.h"

// Predicts a width x height rectangle at (x, y) of `prediction` from `reference`
// displaced by (dx, dy) half samples; with `average` set, averages into what
// the prediction already holds.
using PredictBlockFn = void (*)(const uint8_t* reference, uint8_t* prediction, int lineLength, int width,
                                int height, int x, int y, int dx, int dy, int average);

struct PredictKernels {
    PredictBlockFn predictBlock;
};

void predict_init(bool simd, PredictKernels& kernels);
// The kernels the engine runs: plain until SelectEngineKernels fills it
// when an encoding is set up.
extern PredictKernels PredictKernelSet;

void PredictBlockPlain(const uint8_t* reference, uint8_t* prediction, int lineLength, int width, int height,
                       int x, int y, int dx, int dy, int average);
void PredictBlockSse2(const uint8_t* reference, uint8_t* prediction, int lineLength, int width, int height,
                      int x, int y, int dx, int dy, int average);

// Fills `prediction` for the current picture (1 I, 2 P, 3 B) from the forward
// and backward reconstructions and the vectors of the macroblock records.
// Uses the picture geometry of EngineState.h and PredictKernelSet.
void PredictPicture(const FramePlanes& forward, const FramePlanes& backward, const FramePlanes& prediction,
                    const MacroblockInfo* records, int pictureType);

// The same prediction one macroblock row at a time, for callers that follow
// it row by row: set up once, then PredictPictureRow for every row (rows are
// independent and may run at once).
struct PredictionRows {
    PredictBlockFn predict = nullptr;
    const FramePlanes *forward = nullptr, *backward = nullptr, *prediction = nullptr;
    const MacroblockInfo* records = nullptr;
    int pictureType = 1;
};
PredictionRows SetUpPredictionRows(const FramePlanes& forward, const FramePlanes& backward,
                                   const FramePlanes& prediction, const MacroblockInfo* records, int pictureType);
void PredictPictureRow(const PredictionRows& rows, int row);
