// The one AVI input of the process: open, probe, frames for the video
// engine, PCM blocks for the audio encoder.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/AviFile.h"

// Channel count the audio pass asks the source for (0 none, 1 mono, 2 stereo);
// profile reads set it from the settings.
extern int AviRequestedChannels;

// Set by the job while it opens the input only to describe it: the audio
// stream's problems are then told to the user.
extern int AviProbeActive;
// 2 stereo, 1 mono source sound; 0 without usable audio.
extern int AviAudioChannelMode;
// Why the sound of the file opened last cannot be used: the id of the message
// that says so (whether or not it was shown), 0 when it can be used or there is none.
extern int AviAudioRefusal;
// The refusal of sound that starts only after the video has ended (its format is fine).
constexpr int kSoundAfterVideoRefusal = 64391;
// The sound of the file opened last as the user would name it ("PCM 24 bits,
// 6 channels, 96000 Hz"); empty when its format could not be read.
std::string AviAudioFormatText();

// The audio pass's sample range and read position, in sample frames.
extern int64_t AudioPosition, AudioStartSample, AudioEndSample;

// Bytes of the staging buffer the PCM reader fills before converting.
constexpr int kAviAudioStagingBytes = 64000;

// The state of the open input. Frames may be read from the read-ahead worker
// while the engine thread reads too: `frameLock` serialises the decoding, and
// every thread gets the frame in a buffer of its own.
struct AviInputState {
    std::string AviInputPath;
    int AviLibraryOpen = 0;
    std::unique_ptr<platform::AviFile> AviFile;
    platform::AviStream* AviVideoStream = nullptr;
    platform::AviStream* AviAudioStream = nullptr;
    std::unique_ptr<platform::AviFrameGetter> AviFrameGetter;
    int AviVideoOpen = 0;
    platform::AviFileInfo AviFileInfo;
    platform::AviStreamInfo AviVideoInfo, AviAudioInfo;
    platform::AviWaveFormat AviWaveFormat;
    int AviAudioUsable = 0;
    int AviAudioChannels = 0, AviAudioBlockAlign = 0, AviAudioBits = 0;
    int64_t AviAudioStart = 0, AviAudioLength = 0;
    int64_t AviVideoStartFrame = 0;
    int AviSourceBitDepth = 0;
    int AviResizeMode = 0;  // 0 same size, 1 width and height differ, 2 only the width
    int AviNeedsConversion = 0;
    // The frames are deinterlaced here (before resizing) rather than by the engine.
    int AviDeinterlacesFrames = 0;
    // Source-size 24-bit bottom-up picture the decoded frames are drawn into.
    std::vector<uint8_t> AviConversionBits;
    // The frame handed out to the thread that opened the input; other threads get their own.
    std::vector<uint8_t> AviFrameBuffer;
    std::vector<std::pair<std::thread::id, std::vector<uint8_t>>> OtherFrameBuffers;
    platform::BitmapInfoHeader AviEncodeFrameHeader;
    int32_t AviAudioCarry[3] = {0, 0, 0};  // last mono, left, right sample of the previous block
    std::vector<uint8_t> AviAudioStaging;
    std::thread::id OwnerThread;  // the thread that opened the input and may show messages
    std::string ReadError;        // what went wrong on a thread that may not show it
    std::mutex frameLock;
};
extern AviInputState AviInput;

// Texts of the AVI information dialogs.
struct AviInfoTexts {
    std::string frameSize, frameRate, frameCount, compression, duration, compressionRatio;
    bool hasAudio = false;  // the audio texts below are filled
    std::string audioFormat, audioRate, audioBits, audioChannels;
    bool highCompression = false;  // ratio above 5:1
};
// Shows the information dialog unless in batch mode; set by the program.
extern void (*ShowAviInfoUnlessBatch)(const AviInfoTexts& texts);

// 0 on failure (after its own message); on success the engine's input path
// (InputAvi) reads its frames from here.
// Frame rates (frames per second) of AVI input that the encoder takes: outside
// them no frame-rate conversion could map the frame numbers.
inline constexpr double kLowestAviFrameRate = 0.01, kHighestAviFrameRate = 1000.0;
bool UsableFrameRate(uint32_t rate, uint32_t scale);
// The refusal of a rate outside them, naming it.
std::string FrameRateRefusal(uint32_t rate, uint32_t scale);

// Opens the input; a frame rate outside the usable ones is refused with its message.
int AviOpenInputFile(const char* fileName);
void AviCloseInputFile();                    // safe when nothing is open
// Frame n of the stream as a packed 24-bit DIB of the encoded size, or null.
// On a thread other than the opener's no message is shown: the error is kept
// for AviTakeReadError.
uint8_t* AviReadVideoFrame(platform::AviFrameGetter* getter, int64_t n);
std::string AviTakeReadError();
int AviReadAudioSamples(void* buffer, int64_t bufferBytes, int64_t count, int64_t* framesRead, int64_t* bytesRead);
int AviConvertAudioSamples(void* buffer, int64_t bufferBytes, int64_t* samples, int64_t* byteCount);
int AviGetAudioData(int16_t* destination, int wanted);
void AviFormatFileInfo(AviInfoTexts* description);
int AviHasVideoStream();
int AviHasAudioStream();
int AviGetVideoRate();
int AviGetVideoScale();
int AviGetVideoStartFrame();
int AviGetVideoEndFrame();  // one past the last frame
int AviGetFrameWidth();
int AviGetFrameHeight();
void AviResetAudioState();
// Whether a sound stream that starts at sample `start` (at `samplesPerSec`) begins
// only when or after the open file's video ends: nothing of it goes with a picture.
bool SoundStartsAfterVideo(int64_t start, uint32_t samplesPerSec);
// Why the audio pass's range holds none of the file's sound, which starts after the
// last picture encoded; empty when some of it is there.
std::string SoundOutsideEncodedRange();
// The audio pass's sample range [first, end) for the settings' frame range over a video
// of frames [startFrame, endFrame) at rate/scale, both counted from the AVI's time zero,
// limited to `streamLimit`.
std::pair<int64_t, int64_t> AudioRangeOfFrames(int rate, int scale, int64_t startFrame, int64_t endFrame,
                                               int64_t streamLimit, double sampleRate);
// The same as SoundOutsideEncodedRange for the settings' input file, before anything is
// opened for the passes: a job whose sound starts after its last picture is refused at Start.
std::string SoundOutsideRangeAtStart();

// Frames the open AVI's headers name: more than the readable ones when the file was cut short.
int AviGetAnnouncedVideoFrames();
