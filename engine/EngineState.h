// Process-wide words of the video engine that the rest of the program reads.
#pragma once

#include <cstdint>

// 1 when the SIMD kernels are used (the user can switch them off).
extern int MmxEnabled;
// 0 none, 1 pictures being coded, 2 sequence end written.
extern int VideoSequenceState;
// Pictures the video pass runs, and pictures encoded so far.
extern int EncodingFrameCount;
extern int EncodedFrameCount;
// Two values rate control carries between pictures; cleared by profile reads.
extern int RateControlCarry[2];

#include "engine/EngineTypes.h"

// Picture geometry of the current encoding.
extern int MbWidth, MbHeight;
extern int EncodeWidth, EncodeHeight;  // multiples of 16
extern int ChromaWidth, ChromaHeight;

// The seven frame stores.
extern FramePlanes NextAnchorRecon, PrevAnchorRecon, BPictureRecon;
extern FramePlanes NextAnchorSource, PrevAnchorSource, BPictureSource;
extern FramePlanes PredictionFrame;

extern MacroblockInfo* MacroblockInfoArray;
// BlockCount blocks of 64 coefficients per macroblock, macroblocks in raster order.
extern int16_t* BlockStore;
