// Storage of the engine's shared words.
#include "engine/EngineState.h"

int MmxEnabled = 1;
int VideoSequenceState = 0;
int EncodingFrameCount = 0;
int EncodedFrameCount = 0;
int RateControlCarry[2] = {0, 0};

int MbWidth = 0, MbHeight = 0;
int EncodeWidth = 0, EncodeHeight = 0;
int ChromaWidth = 0, ChromaHeight = 0;

FramePlanes NextAnchorRecon, PrevAnchorRecon, BPictureRecon;
FramePlanes NextAnchorSource, PrevAnchorSource, BPictureSource;
FramePlanes PredictionFrame;

MacroblockInfo* MacroblockInfoArray = nullptr;
int16_t* BlockStore = nullptr;

int PictureCodingType = 1;
int PictureIndex = 0;
int CurrentInputFrame = 0, PrevAnchorInputFrame = -1, NextAnchorInputFrame = -1;
int NextIsGopStart = 0;
int AnchorRepeatsInput = 0;
int ClosedGopBPictures = 0;
