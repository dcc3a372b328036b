// The outer interface of the video encoder engine: one-time tables, the three
// steps of a video pass (start, one picture, end) and the set-up and shut-down
// behind them.
#pragma once

#include <cstdint>

#include "engine/EngineTypes.h"
#include "settings/EncoderSettings.h"

// The sequence being encoded: its frame counts, geometry and stores, set up
// once per encoding by the set-up below and read by every module after it.
struct SequenceStateRecord {
    // Pictures the video pass runs, and pictures encoded so far.
    int EncodingFrameCount = 0;
    int EncodedFrameCount = 0;
    // The engine's own name for EncodingFrameCount: one variable serves both.
    int& OutputFrameCount = EncodingFrameCount;
    // Output frame number of the first picture.
    int FirstOutputFrame = 0;
    // 1 when the stream is MPEG-2 and coded interlaced: the settings record's word.
    int& InterlacedCoding = EncoderSettings.interlacedCoding;

    // Picture geometry.
    int MbWidth = 0, MbHeight = 0;
    int EncodeWidth = 0, EncodeHeight = 0;  // multiples of 16
    int ChromaWidth = 0, ChromaHeight = 0;

    // The frame stores. The raw input frame of the next picture is read
    // ahead into ReadAheadSource, which then changes places with the store
    // that picture reads into.
    FramePlanes NextAnchorRecon, PrevAnchorRecon, BPictureRecon;
    FramePlanes NextAnchorSource, PrevAnchorSource, BPictureSource;
    FramePlanes PredictionFrame, ReadAheadSource;

    MacroblockInfo* MacroblockInfoArray = nullptr;
    // BlockCount blocks of 64 coefficients per macroblock, macroblocks in raster order.
    int16_t* BlockStore = nullptr;
};
extern SequenceStateRecord Sequence;

// 0 shut down, -3 set-up running, -2 no output file, -1 set-up failed after
// the output file was opened, 1 ready.
extern int EncoderSetupState;
extern int SequenceStarted, SequenceFinished;
extern int PreviewLocksCreated;
// 1 before the shut-down, 2 once the output file has been checked.
extern int& VideoPassState;  // the job's VideoEngineStage
extern int MeExhaustiveSetting;
// Look-up tables the set-up builds.
extern const int32_t* SquareTable;     // index -255..255
extern const int32_t* AbsValueTable;   // index -255..255

// What the engine reaches the job through. The job installs it
// (InstallJobHooks) before the engine runs; unset, a profile read or an AVI
// open fails.
struct EngineJobHooks {
    // Reads a profile: "+" the built-in defaults, "-" the current settings
    // re-derived and re-checked.
    void (*readProfile)(const char* name) = nullptr;
    // Opens the AVI input and installs its InputAvi; 0 on failure, after its own message.
    int (*openAvi)(const char* fileName) = nullptr;
    void (*closeAvi)() = nullptr;  // safe when nothing is open
};
extern EngineJobHooks EngineJob;

// 0, or -1 when no profile reader is installed (the defaults are then not loaded).
int InitEncoderTables();
// Fills the kernel record of each engine family (motion estimation's is
// InitMotionEstimation's): the plain kernels, or with `simd` the SSE2 ones and
// with `avx2` too the AVX2 ones where a family has them. Start-up and the
// encoder set-up call it from MmxEnabled, before any worker runs a kernel.
void SelectEngineKernels(bool simd, bool avx2);
int FreeEncoderParameterBuffers();
// Frees only the two preview RGB buffers.
void FreeEncoderParameterBuffersPreviewOnly();
// 0 success, -1 set-up failed, -2 the sequence start failed.
int BeginVideoEncoding();
// 0 success, -1 the picture failed, -2 no sequence was started.
int EncodeNextPicture();
// 0 success, -1 no successful sequence end.
int EndVideoEncoding();
// 1 ready, 0 parameter or input failure, -1 resource failure.
int SetupVideoEncoder();
int ShutdownVideoEncoder();
void SetupEncoderBuffers();

// Motion-estimation tuning of the performance mode, written into the settings.
void TuneMotionEstimation();
// Pre-test factors of the picture coder from bit rate, size and performance mode.
void ComputePretestFactors();
