// Drives the coding of one sequence: sequence headers, then one picture per
// call in coding order (type, group start, frame-store rotation, B-picture
// skipping, input, motion estimation, prediction, coding, reconstruction,
// previews, quality statistics), then the sequence end.
#pragma once

#include <atomic>
#include <cstdint>

#include "engine/EngineState.h"
#include "engine/EngineTypes.h"

extern int DisplayFrameNumber;
extern int GopStartIndex;
extern int GopCount;
extern FramePlanes CurrentSource, CurrentRecon;
extern int BPicturesPending;
extern int PrevAnchorDisplay, NextAnchorDisplay;
extern int LastBInputFrame;  // the anchors' input frames are engine words
extern int RepeatBPicture, SaveForRepeat;
extern std::atomic<int> UpperHalfDone;
extern int LastPictureCoded;
extern int CurrentPictureNumber, ElapsedSeconds, VideoPassPhase;
extern int QualityPictureCount, MinimumQualityFrame;
extern uint32_t CompressionTimeMs, TotalEncodingTimeMs, EncodingStartTime;
// Set by the engine's set-up: repeated B pictures reuse saved records and blocks.
extern int RepeatStoresAllocated;
extern MacroblockInfo* RepeatMacroblockInfo;
extern int16_t* RepeatBlockStore;
// The last frame read from the input, and the last shown in the input preview.
extern int LastReadInputFrame, LastShownInputFrame;
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
