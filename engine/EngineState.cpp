// Storage of the engine's shared words.
#include "engine/EngineState.h"

#include "job/EncoderSettings.h"

int EncodingFrameCount = 0;
int EncodedFrameCount = 0;
int& OutputFrameCount = EncodingFrameCount;

int MbWidth = 0, MbHeight = 0;
int EncodeWidth = 0, EncodeHeight = 0;
int ChromaWidth = 0, ChromaHeight = 0;

FramePlanes NextAnchorRecon, PrevAnchorRecon, BPictureRecon;
FramePlanes NextAnchorSource, PrevAnchorSource, BPictureSource;
FramePlanes PredictionFrame;

MacroblockInfo* MacroblockInfoArray = nullptr;
int16_t* BlockStore = nullptr;

int PictureIndex = 0;
int PictureCodingType = 1;
int CurrentInputFrame = 0;
int CurrentDisplayNumber = 0;
int PictureErrorSum = 0;
int PictureIntraVarianceSum = 0;
int TotalVlcLevel = 0;
int PicturesSinceIncrease = 0;
float PictureQuality = 0.0f, AverageQuality = 0.0f, MinimumQuality = 100.0f;
int QuietMode = 1;
FILE* StatisticsFile = nullptr;
FILE* VbvStatsFile = nullptr;
int VbvStatsEnabled = 0;

int& InterlacedCoding = EncoderSettings.interlacedCoding;
int FirstOutputFrame = 0;
int EngineTimingReport = 0, EngineTimingDetail = 0;
int SmartDeinterlace = 0;
int PaletteDisplay = 0;
uint8_t* InputPreviewBuffer = nullptr;
uint8_t* OutputPreviewBuffer = nullptr;
const uint8_t* InputPreviewPixels = nullptr;
int InputPreviewReady = 0, OutputPreviewReady = 0;
int PreviewPictureWidth = 0, PreviewPictureHeight = 0;
std::mutex InputPreviewLock, OutputPreviewLock;
int PrevAnchorInputFrame = -1, NextAnchorInputFrame = -1;
int NextIsGopStart = 0;
int AnchorRepeatsInput = 0;
int ClosedGopBPictures = 0;

int TemporalReference = 0;
int ForwardHorFCode = 15, ForwardVertFCode = 15, BackwardHorFCode = 15, BackwardVertFCode = 15;
int CurrentFrameNumber = 0;
