// Process-wide words of the video engine that the rest of the program reads.
#pragma once

#include <cstdint>

// Pictures the video pass runs, and pictures encoded so far.
extern int EncodingFrameCount;
extern int EncodedFrameCount;
// The engine's own name for EncodingFrameCount: one variable serves both.
extern int& OutputFrameCount;

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

#include <cstdio>

// The picture being coded: coding-order index (0 first), type (1 I, 2 P, 3 B),
// the input frame it came from and its display-order number.
extern int PictureIndex;
extern int PictureCodingType;
extern int CurrentInputFrame;
extern int CurrentDisplayNumber;
// Per-picture sums of motion estimation: final error measures (V) and intra
// variance measures (W).
extern int PictureErrorSum;
extern int PictureIntraVarianceSum;
// Kept by the picture driver for rate control: running level of V, and
// pictures since the last P-size increase.
extern int TotalVlcLevel;
extern int PicturesSinceIncrease;
// Quality figures (0..100) when quality statistics are on.
extern float PictureQuality, AverageQuality, MinimumQuality;
// 1 keeps the engine's own diagnostic lines off stderr.
extern int QuietMode;
// Per-picture statistics file (null when none) and VBV statistics file.
extern FILE* StatisticsFile;
extern FILE* VbvStatsFile;
extern int VbvStatsEnabled;
// A line of the per-picture statistics file, written (in the C locale) only
// at statistics level 2.
void StatisticsLine(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

#include <mutex>

// 1 when the stream is MPEG-2 and coded interlaced.
extern int& InterlacedCoding;  // the settings record's interlacedCoding
// Output frame number of the first picture.
extern int FirstOutputFrame;
// Timing reports asked for on the command line ("ttt1", "tttt").
extern int EngineTimingReport, EngineTimingDetail;
// Film-cadence deinterlacing runs for this encoding.
extern int SmartDeinterlace;
// 1 on an 8-bit palette display (never on this platform's displays).
extern int PaletteDisplay;

// Preview pictures: bottom-up 24-bit RGB buffers of the encoding size and
// their ready flags, each guarded by its lock while it is converted and drawn.
extern uint8_t* InputPreviewBuffer;
extern uint8_t* OutputPreviewBuffer;
extern const uint8_t* InputPreviewPixels;
extern int InputPreviewReady, OutputPreviewReady;
extern int PreviewPictureWidth, PreviewPictureHeight;
extern std::mutex InputPreviewLock, OutputPreviewLock;
// Anchors around the current picture, and the picture-driver flags that
// motion estimation reads.
extern int PrevAnchorInputFrame, NextAnchorInputFrame;
// 1 for a P picture with M = 1 right before a group start: nothing uses its motion tables.
extern int NextIsGopStart;
// 1 for an anchor whose input frame repeats the previous anchor's.
extern int AnchorRepeatsInput;
// 1 for the B pictures that follow the I picture of a closed group (other than the first).
extern int ClosedGopBPictures;

// Picture header values the picture driver sets before each picture:
// temporal_reference and the four f_codes (15 where a direction is unused).
extern int TemporalReference;
extern int ForwardHorFCode, ForwardVertFCode, BackwardHorFCode, BackwardVertFCode;
// Output frame number of the picture being read (display index plus the
// sequence's first output frame); the picture driver sets it before each read.
extern int CurrentFrameNumber;
