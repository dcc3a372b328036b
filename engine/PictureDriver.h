// Drives the coding of one sequence: sequence headers, then one picture per
// call in coding order (type, group start, frame-store rotation, B-picture
// skipping, input, motion estimation, prediction, coding, reconstruction,
// previews, quality statistics), then the sequence end.
#pragma once

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
    // The display-order number as the driver works it out, before the type
    // and the input frame are settled.
    int DisplayFrameNumber = 0;
    // The frame stores the picture is read into and reconstructed into.
    FramePlanes CurrentSource, CurrentRecon;
    // Sums of motion estimation: final error measures (V) and intra variance
    // measures (W).
    int PictureErrorSum = 0;
    int PictureIntraVarianceSum = 0;
    // Kept for rate control: running level of V, and pictures since the last
    // P-size increase.
    int TotalVlcLevel = 0;
    int PicturesSinceIncrease = 0;
    // Anchors around the picture (input frames and display-order numbers),
    // and the flags motion estimation reads.
    int PrevAnchorInputFrame = -1, NextAnchorInputFrame = -1;
    int PrevAnchorDisplay = 0, NextAnchorDisplay = 0;
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
    // Search widths, from the picture's motion-data record.
    int ForwardSearchX = 0, ForwardSearchY = 0, BackwardSearchX = 0, BackwardSearchY = 0;
    // 1 for a B picture whose input frame repeats the last B picture's: its
    // saved records and blocks are used again. 1 for a B picture whose
    // records and blocks are saved because the next picture repeats its frame.
    int RepeatBPicture = 0, SaveForRepeat = 0;
    // 0 the B picture is coded; 1 it is shown as the previous anchor, 2 as the next.
    int SkipBPicture = 0;
};
extern PictureStateRecord CurrentPicture;

// The driver's words for the whole sequence: the group it is in, what the
// pictures before the current one left behind, the progress it shows and
// the stores of repeated B pictures.
struct PictureDriverStateRecord {
    // Coding-order index of the current group's first picture, and groups started.
    int GopStartIndex = 0;
    int GopCount = 0;
    // Set at each anchor: 1 when B pictures that come before it in display
    // order follow it in coding order (any anchor but the first, with M > 1).
    int BPicturesPending = 0;
    // Input frame of the last coded B picture (-2 after an anchor or a skipped one).
    int LastBInputFrame = -2;
    // 1 once the last picture of the sequence has been coded.
    int LastPictureCoded = 0;
    // Progress: the picture number (1 first), the seconds since the pass
    // began, and 1 while pictures are coded, 2 once the sequence has ended.
    int CurrentPictureNumber = 0, ElapsedSeconds = 0, VideoPassPhase = 0;
    // Set by the engine's set-up: repeated B pictures reuse saved records and blocks.
    int RepeatStoresAllocated = 0;
    MacroblockInfo* RepeatMacroblockInfo = nullptr;
    int16_t* RepeatBlockStore = nullptr;
};
extern PictureDriverStateRecord PictureDriver;

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
