// Session interface of the multiplexer library: one session joins a video and an
// audio elementary stream file into a multiplexed output of the chosen mux type.
#pragma once

#include <cstdint>

// Mux types (option 0).
enum MuxType : int32_t {
    MuxTypeMpeg1System = 1,
    MuxTypeMpeg2Program = 2,
    MuxTypeVideoCd = 3,
    MuxTypeDvdVolume = 4,
    MuxTypeTransport = 5,
    MuxTypeSvcd = 6,
};

// Option ids of MuxSetOption, MuxSetParameter and MuxGetOption (7, 8 and 9 are
// stored but mean nothing).
enum MuxOptionId : int32_t {
    MuxOptionType = 0,               // a MuxType
    MuxOptionPacketsPerPack = 1,     // at least 1
    MuxOptionAudioBufferBound = 2,   // system header's audio buffer bound, 128-byte units
    MuxOptionVideoBufferBound = 3,   // system header's video buffer bound, 1024-byte units
    MuxOptionFixedRate = 4,          // 0 variable, 1 or more fixed
    MuxOptionMuxRate = 5,            // 50 bytes per second; 0: computed by the engine
    MuxOptionPackSize = 6,           // bytes
    MuxOptionInterleaving = 10,      // the schedulers' rule, 1 or 2
    MuxOptionDvdOutput = 11,         // MuxDvdOutputBits
    MuxOptionSvcdPatchAtFinish = 12, // 1: the SVCD user-data patch at the engine's finish, 0: in MuxEnd
    MuxOptionDvdSplitBytes = 13,     // largest video object file in bytes (whole packs, at most 1,073,709,056); 0: 1,022,900,000
};

// Bits of option 11.
enum MuxDvdOutputBits : int32_t {
    MuxDvdClockFromPictures = 1,  // the DVD engine's clock follows the video's picture time
    MuxDvdVolume = 2,             // hints file, DVD folder sink and the volume at MuxEnd
    MuxDvdSplitVolume = 4,        // the same, the output split into video object files
};

// Results of every call; also handed to the message callback.
enum MuxStatus : int32_t {
    MuxOk = 0,
    MuxNotApplicable = 2,
    MuxPackTooLarge = 3,
    MuxErrGeneral = -500,
    MuxErrUnknown = -501,
    MuxErrVideoStream = -502,
    MuxErrAudioStream = -503,
    MuxErrSequencing = -504,
    MuxErrContext = -505,
    MuxErrWrite = -506,
    MuxErrRead = -507,
    MuxErrFormat = -508,
    MuxErrParameterValue = -509,
    MuxErrParameterId = -510,
    MuxErrNotImplemented = -511,
    MuxErrUnpaired = -512,
    MuxErrOutOfMemory = -516,
    MuxErrDvdFolder = -517,
};

constexpr int MuxOptionCount = 14;

class MuxSession;
using MuxHandle = MuxSession*;

// A sink's write function: data and length in bits; null data with length 0 asks for a flush.
using MuxWriteFunction = int32_t (*)(const uint8_t* data, uint32_t bits, void* context);
// Hands the library a malloc'ed copy of the output file name; the library frees it.
using MuxFileNameFunction = int32_t (*)(char** name);
using MuxMessageFunction = int32_t (*)(int32_t status, int32_t zero, int32_t userValue);
// Called with the number of input bytes just multiplexed; its result is not looked at.
using MuxProgressFunction = int (*)(int64_t bytes);

// Sink kinds of MuxAddSink.
enum MuxSinkKind : int32_t {
    MuxSinkFile = 1,
    MuxSinkCaller = 2,
    MuxSinkDvdFolder = 3,
};

// Kind 2: the caller's function receives one piece record per part of a pack.
struct MuxCallerSink {
    int32_t (*function)(const void* piece, int32_t length, void* value);
    void* value;
};

// Piece kinds handed to a caller sink.
enum MuxPieceKind : int32_t {
    MuxPieceSystemHeader = 0,
    MuxPiecePackHeader = 1,
    MuxPieceAudioPacket = 2,
    MuxPieceVideoPacket = 3,
};

struct MuxPiece {
    int32_t kind;
    int32_t length;
    const uint8_t* bytes;
};

// Next-file callback of the DVD folder sink. `path` (360 bytes) holds the path of the
// video object file being written. Code 1 copies it into `name` (360 bytes); code 2
// does the same, closes the file sinks and opens the next free "Vts_01_%d.vob" in the
// same folder as the output, whose path it leaves in `path`. Other codes do nothing.
using MuxNextFileFunction = int32_t (*)(int32_t code, char* name, char* path);

// Kind 3 (DVD output): the folder the volume is written to ("./" when the output
// name has none; it always ends in '/').
struct MuxDvdFolderDescriptor {
    int32_t size = sizeof(MuxDvdFolderDescriptor);
    char outputName[360] = {};
    char folder[360] = {};
    MuxNextFileFunction nextFile = nullptr;
};

int32_t MakeVobFileName(int32_t code, char* name, char* path);

MuxHandle MuxCreateSession();
int32_t MuxSelectSession(MuxHandle handle);
int32_t MuxDestroySession(MuxHandle handle);
MuxHandle MuxGetCurrentSession();

int32_t MuxBegin();
int32_t MuxSetOption(int32_t id, int32_t value);
int32_t MuxReadOption(int32_t id, int32_t* out);
int32_t MuxSetParameter(int32_t id, int32_t value);
int32_t MuxGetOption(int32_t id, int32_t* out);
int32_t MuxSetFileNameCallback(MuxFileNameFunction callback);
int32_t MuxSetMessageCallback(MuxMessageFunction callback, int32_t userValue);
// Kinds 1 and 3: descriptor is the output path (const char*); kind 2: a MuxCallerSink*;
// any other kind: the kind value is taken as a MuxWriteFunction and descriptor as its context.
int32_t MuxAddSink(intptr_t kind, const void* descriptor);
int32_t MuxRemoveSink(intptr_t kind);
int32_t MuxSetDvdOutputFolder(const MuxDvdFolderDescriptor* descriptor);
// The application's video settings that the readers record with the video stream:
// the VBV buffer size in units of 2048 bytes, the profile and the level settings.
int32_t MuxSetVideoSettings(int32_t vbvBufferSize, int32_t mpegProfile, int32_t mpegLevel);
int32_t MuxRun(const char* videoFile, const char* audioFile, const char* outputFile,
               MuxProgressFunction progress);
int32_t MuxEnd();
// The words of the current session's last failure that its status alone does not
// carry (which stream, how many units, how late); empty when there are none.
const char* MuxLastProblemText();
// The file the current session's last failed write was about; empty when it names none.
const char* MuxLastFailedFile();
// True when MuxRun has an engine for the mux type, so that a caller can refuse
// a type before it spends time making the elementary streams.
bool MuxTypeIsBuilt(int type);

// Feed operations chosen by MuxRun and MuxEnd; null data ends the stream.
int32_t MuxFeedVideoSystem(const uint8_t* data, uint32_t length, int32_t zero);
int32_t MuxFeedAudioSystem(const uint8_t* data, uint32_t length, int32_t zero);
int32_t MuxFeedVideoProgram(const uint8_t* data, uint32_t length, int32_t zero);
int32_t MuxFeedAudioProgram(const uint8_t* data, uint32_t length, int32_t zero);
int32_t MuxFeedVideoDvd(const uint8_t* data, uint32_t length, int32_t zero);
int32_t MuxFeedAudioDvd(const uint8_t* data, uint32_t length, int32_t zero);
