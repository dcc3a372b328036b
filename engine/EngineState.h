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

// Picture-driver words that motion estimation reads for the current picture.
extern int PictureCodingType;  // 1 I, 2 P, 3 B
extern int PictureIndex;       // coding-order number, 0 for the first picture
extern int CurrentInputFrame, PrevAnchorInputFrame, NextAnchorInputFrame;
// 1 for a P picture with M = 1 right before a group start: nothing uses its motion tables.
extern int NextIsGopStart;
// 1 for an anchor whose input frame repeats the previous anchor's.
extern int AnchorRepeatsInput;
// 1 for the B pictures that follow the I picture of a closed group (other than the first).
extern int ClosedGopBPictures;
