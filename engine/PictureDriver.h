// Drives the coding of one sequence: sequence headers, then one picture per
// call in coding order (type, group start, frame-store rotation, B-picture
// skipping, input, motion estimation, prediction, coding, reconstruction,
// previews, quality statistics), then the sequence end.
#pragma once

#include <atomic>
#include <cstdint>

#include "engine/EngineTypes.h"

// The picture being coded, set by the driver before each picture and read by
// the modules that code it.
struct PictureStateRecord {
    // Coding-order index (0 first), type, the input frame the picture came
    // from and its display-order number.
    int PictureIndex = 0;
    int PictureCodingType = I_PICTURE;
    int CurrentInputFrame = 0;
    int CurrentDisplayNumber = 0;
    // Sums of motion estimation: final error measures (V) and intra variance
    // measures (W).
    int PictureErrorSum = 0;
    int PictureIntraVarianceSum = 0;
    // Kept for rate control: running level of V, and pictures since the last
    // P-size increase.
    int TotalVlcLevel = 0;
    int PicturesSinceIncrease = 0;
    // Anchors around the picture, and the flags motion estimation reads.
    int PrevAnchorInputFrame = -1, NextAnchorInputFrame = -1;
    // 1 for a P picture with M = 1 right before a group start: nothing uses its motion tables.
    int NextIsGopStart = 0;
    // 1 for an anchor whose input frame repeats the previous anchor's.
    int AnchorRepeatsInput = 0;
    // 1 for the B pictures that follow the I picture of a closed group (other than the first).
    int ClosedGopBPictures = 0;
    // Picture header values: temporal_reference and the four f_codes (15
    // where a direction is unused).
    int TemporalReference = 0;
    int ForwardHorFCode = 15, ForwardVertFCode = 15, BackwardHorFCode = 15, BackwardVertFCode = 15;
};
extern PictureStateRecord CurrentPicture;

extern int DisplayFrameNumber;
extern int GopStartIndex;
extern int GopCount;
extern FramePlanes CurrentSource, CurrentRecon;
extern int BPicturesPending;
extern int PrevAnchorDisplay, NextAnchorDisplay;
extern int LastBInputFrame;  // the anchors' input frames are in CurrentPicture
extern int RepeatBPicture, SaveForRepeat;
extern std::atomic<int> UpperHalfDone;
extern int LastPictureCoded;
extern int CurrentPictureNumber, ElapsedSeconds, VideoPassPhase;
// Set by the engine's set-up: repeated B pictures reuse saved records and blocks.
extern int RepeatStoresAllocated;
extern MacroblockInfo* RepeatMacroblockInfo;
extern int16_t* RepeatBlockStore;
// Search widths of the current picture, from its motion-data record.
extern int ForwardSearchX, ForwardSearchY, BackwardSearchX, BackwardSearchY;

int StartSequenceEncoding();
int EncodePicture();
int FinishSequenceEncoding();

// Variance of the reconstruction and its mean squared error against the
// source over width x height samples of planes with the given line length.
void CalcPlaneVarianceMse(const uint8_t* recon, const uint8_t* source, int width, int height, int lineLength,
                          float* variance, float* mse);
int DrawInputPreview();

int DrawInputPreviewTask(void* argument, int slot);
int DrawOutputPreviewTask(void* argument, int slot);
int DrawOutputPreviewYuvTask(void* argument, int slot);
