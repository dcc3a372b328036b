// The AVI input: opening and checking the file, video frames as 24-bit RGB
// pictures of the encoded size, and the information texts.
#include "job/AviSource.h"

#include "engine/Deinterlace.h"
#include "engine/Input.h"
#include "job/AviFilters.h"
#include "platform/Format.h"
#include "platform/MessageBox.h"
#include "platform/ResStrings.h"
#include "platform/System.h"
#include "settings/EncoderSettings.h"
#include "settings/Report.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <new>

using platform::AviStatus;
using platform::BitmapInfoHeader;

int AviRequestedChannels = 0;
int AviProbeActive = 0;
int AviAudioChannelMode = 0;
int AviAudioRefusal = 0;
namespace {
bool AviWaveFormatRead = false;
}
int64_t AudioPosition = 0, AudioStartSample = 0, AudioEndSample = 0;
AviInputState AviInput;
void (*ShowAviInfoUnlessBatch)(const AviInfoTexts& texts) = nullptr;

namespace {

constexpr int kCaptionError = 64417;
// Encoded sizes beyond this are refused before any buffer is sized from them.
constexpr int kMaxEncodedSide = 16384;

void OpenMessage(const std::string& text) {
    // A quiet batch logs the reason, which its own line after it cannot name.
    if (BatchMode >= 2) {
        WriteBatchLogMessage(text);
        return;
    }
    platform::ShowMessageBox(text, LoadResString(kCaptionError), platform::MbButtons::Ok, platform::MbIcon::None,
                             MessageOwnerWindow);
}

// Why a file could not be opened as an AVI file, in words the user can act on.
std::string OpenFailureReason(const std::string& path) {
    struct stat info {};
    if (stat(path.c_str(), &info) != 0)
        return errno == ENOENT ? "The file does not exist."
                               : platform::Format("The file cannot be reached: %s.", std::strerror(errno));
    if (S_ISDIR(info.st_mode)) return "This is a folder, not a file.";
    FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) return platform::Format("The file cannot be read: %s.", std::strerror(errno));
    char head[12] = {};
    const size_t got = std::fread(head, 1, sizeof head, file);
    std::fclose(file);
    if (got < sizeof head || std::memcmp(head, "RIFF", 4) != 0 || std::memcmp(head + 8, "AVI ", 4) != 0)
        return "This is not an AVI file.";
    return "The AVI file is damaged, or its contents are of a kind this program does not support.";
}

void AudioProbeMessage(int id) {
    AviAudioRefusal = id;
    if (!AviProbeActive || BatchMode >= 2) return;
    platform::ShowMessageBox(LoadResString(id), "Tessmar", platform::MbButtons::Ok,
                             platform::MbIcon::Information, nullptr);
}

bool IsAudioRate(uint32_t rate) { return rate == 48000 || rate == 44100 || rate == 22050 || rate == 11025; }

// Step 5 of the open: the audio stream, when there is one that can be used.
void OpenAudio() {
    AviInputState& in = AviInput;
    platform::AviStream* audio = in.AviFile->GetStream(platform::kAviStreamAudio, 0);
    if (!audio) return;
    in.AviAudioStream = audio;
    bool infoOk = audio->GetInfo(&in.AviAudioInfo) == AviStatus::Ok;
    const std::vector<uint8_t>& format = audio->Format();
    bool sizeOk = !format.empty();
    if (!infoOk) {
        AudioProbeMessage(!sizeOk ? 64381 : format.size() < 19 ? 64383 : 64382);
        return;
    }
    if (!sizeOk) return AudioProbeMessage(64384);
    platform::AviWaveFormat w;
    if (!platform::AviWaveFormat::Load(format.data(), format.size(), &w)) return AudioProbeMessage(64386);
    in.AviWaveFormat = w;
    AviWaveFormatRead = true;
    // Only what the sound reader can deliver (8 or 16 bits) is usable; the
    // block must be one sample of every channel, or reads would split samples.
    bool pcm = w.formatTag == platform::kWaveFormatPcm && (w.channels == 1 || w.channels == 2) &&
               IsAudioRate(w.samplesPerSec) && (w.bitsPerSample == 8 || w.bitsPerSample == 16) &&
               w.blockAlign == w.channels * (w.bitsPerSample / 8);
    if (!pcm) return AudioProbeMessage(64390);
    if (audio->Length() <= 0 || audio->Start() < 0) return AudioProbeMessage(64389);
    if (SoundStartsAfterVideo(audio->Start(), w.samplesPerSec)) return AudioProbeMessage(kSoundAfterVideoRefusal);

    in.AviAudioStart = audio->Start();
    in.AviAudioLength = audio->Length();
    in.AviAudioBlockAlign = w.blockAlign;
    in.AviAudioBits = w.bitsPerSample;
    in.AviAudioChannels = w.channels;
    EncoderSettings.audioSampleRate = int(w.samplesPerSec);
    in.AviAudioUsable = 1;
    EncoderSettings.inputHasAudio = 1;
    if (w.channels == 2) {
        if (EncoderSettings.audioMode < 1 || EncoderSettings.audioMode > 3) EncoderSettings.audioMode = 1;
        AviAudioChannelMode = 2;
    } else {
        EncoderSettings.audioMode = 0;
        AviAudioChannelMode = 1;
    }
    AviResetAudioState();
    AudioPosition = in.AviAudioStart;
}

bool AllocateBytes(std::vector<uint8_t>& v, int64_t bytes) {
    try {
        v.assign(size_t(bytes), 0);
    } catch (const std::bad_alloc&) {
        v.clear();
        return false;
    } catch (const std::length_error&) {
        v.clear();
        return false;
    }
    return true;
}

// Step 9: frames in the decoder's own format, drawn as RGB before use.
bool OpenConvertedGetter() {
    AviInputState& in = AviInput;
    std::unique_ptr<platform::AviFrameGetter> getter;
    if (platform::AviFrameGetter::Open(in.AviVideoStream, nullptr, &getter) != AviStatus::Ok) return false;
    const uint8_t* first = getter->GetFrame(0);
    if (!first) return false;
    BitmapInfoHeader decoded = BitmapInfoHeader::Load(first);
    if (decoded.compression != platform::kBiRgb && decoded.compression != platform::kBiBitFields) return false;
    if (AviProbeActive && (decoded.bitCount == 16 || decoded.bitCount == 32)) in.AviSourceBitDepth = decoded.bitCount;

    int width = in.AviFileInfo.width, height = in.AviFileInfo.height;
    int encodedWidth = EncoderSettings.horizontalSize, encodedHeight = EncoderSettings.verticalSize;
    in.AviEncodeFrameHeader = platform::Rgb24Header(encodedWidth, encodedHeight);
    if (!AllocateBytes(in.AviConversionBits, int64_t(Rgb24RowBytes(width)) * height)) {
        OpenMessage(LoadResString(64402));
        return false;
    }
    bool sizeOk = encodedWidth > 0 && encodedHeight > 0 && encodedWidth <= kMaxEncodedSide &&
                  encodedHeight <= kMaxEncodedSide;
    if (!sizeOk || !AllocateBytes(in.AviFrameBuffer, BitmapInfoHeader::kSize +
                                                         int64_t(Rgb24RowBytes(encodedWidth)) * encodedHeight + 1024)) {
        in.AviConversionBits.clear();
        OpenMessage(LoadResString(64401));
        return false;
    }
    in.AviNeedsConversion = 1;
    in.AviFrameGetter = std::move(getter);
    return true;
}

// The buffer the calling thread's frames are handed out in.
std::vector<uint8_t>& FrameBufferForThisThread() {
    AviInputState& in = AviInput;
    std::thread::id self = std::this_thread::get_id();
    if (self == in.OwnerThread) return in.AviFrameBuffer;
    for (auto& entry : in.OtherFrameBuffers)
        if (entry.first == self) return entry.second;
    in.OtherFrameBuffers.emplace_back(self, std::vector<uint8_t>());
    return in.OtherFrameBuffers.back().second;
}

// A failure of the frame reader: told to the user on the thread that opened the
// input; kept for that thread to report when it happens on a worker.
void ReaderProblem(const std::string& text, bool fatal) {
    AviInputState& in = AviInput;
    platform::DebugOutput(text + "\n");
    if (std::this_thread::get_id() != in.OwnerThread) {
        in.ReadError = text;
        return;
    }
    if (fatal)
        ReportFatalError(text);
    else
        platform::ShowMessageBox(text, "", platform::MbButtons::Ok, platform::MbIcon::None, MessageOwnerWindow);
}

uint8_t* ConvertFrame(const uint8_t* decoded, std::vector<uint8_t>& out) {
    AviInputState& in = AviInput;
    int width = in.AviFileInfo.width, height = in.AviFileInfo.height;
    BitmapInfoHeader d = BitmapInfoHeader::Load(decoded);
    int decodedHeight = d.height < 0 ? -d.height : d.height;
    if (in.AviConversionBits.empty() || d.width <= 4 || decodedHeight <= 4) {
        ReaderProblem(LoadResString(64419), false);
        return nullptr;
    }
    uint8_t* source = in.AviConversionBits.data();
    if (!DrawDibAsRgb24(decoded, source, width, height)) {
        ReaderProblem(LoadResString(64418), false);
        return nullptr;
    }
    const BitmapInfoHeader& enc = in.AviEncodeFrameHeader;
    size_t encodedBytes = Rgb24RowBytes(enc.width) * size_t(enc.height);
    if (out.size() < BitmapInfoHeader::kSize + encodedBytes + 1024) out.assign(BitmapInfoHeader::kSize + encodedBytes + 1024, 0);
    enc.Store(out.data());
    if (in.AviResizeMode == 0) {
        std::memcpy(out.data() + BitmapInfoHeader::kSize, source, std::min(encodedBytes, in.AviConversionBits.size()));
        return out.data();
    }
    if (EncoderSettings.deinterlace == 1 && in.AviResizeMode == 1) {
        AverageOddRows(source, width, height);
        if (enc.height > height / 2 + 16) EdgeDirectedDeinterlace(source, width, height);
    }
    if (enc.width <= width - 16) PrefilterRows(source, width, height, ChoosePrefilterKernel(width, enc.width));
    if (enc.height <= height - 16) PrefilterColumns(source, width, height, ChoosePrefilterKernel(height, enc.height));
    std::string error;
    if (!ResizeRgb24(source, width, height, out.data() + BitmapInfoHeader::kSize, enc.width, enc.height, &error)) {
        ReaderProblem(error, true);
        return nullptr;
    }
    return out.data();
}

// The engine's input path reads frames through these.
const uint8_t* ReadFrameForEngine(int frame) { return AviReadVideoFrame(AviInput.AviFrameGetter.get(), frame); }
int InputIsOpen() { return AviInput.AviFile && AviInput.AviFrameGetter ? 1 : 0; }
int InputDeinterlacesItself() { return AviInput.AviDeinterlacesFrames; }

std::string FourCcText(uint32_t code) {
    std::string text(4, ' ');
    for (int i = 0; i < 4; ++i) {
        unsigned char c = static_cast<unsigned char>(code >> (8 * i));
        text[size_t(i)] = std::isprint(c) ? char(std::toupper(c)) : '?';
    }
    return text;
}

}  // namespace

bool UsableFrameRate(uint32_t rate, uint32_t scale) {
    if (rate < 1 || scale < 1) return false;
    const double perSecond = double(rate) / scale;
    return perSecond >= kLowestAviFrameRate && perSecond <= kHighestAviFrameRate;
}

std::string FrameRateRefusal(uint32_t rate, uint32_t scale) {
    const std::string perSecond = scale > 0 ? platform::Format("%.6g", double(rate) / scale) : "no";
    return platform::Format(LoadResString(64494), perSecond.c_str(), rate, scale,
                            platform::Format("%g", kLowestAviFrameRate).c_str(),
                            platform::Format("%g", kHighestAviFrameRate).c_str());
}

std::string AviAudioFormatText() {
    if (!AviWaveFormatRead) return {};
    const platform::AviWaveFormat& w = AviInput.AviWaveFormat;
    const std::string kind = w.formatTag == platform::kWaveFormatPcm ? std::string("PCM")
                             : w.formatTag == 0xFFFE                ? std::string("extensible format")
                                                                    : platform::Format("format tag %u", w.formatTag);
    return platform::Format("%s %u bits, %u channel%s, %u Hz", kind.c_str(), w.bitsPerSample, w.channels,
                            w.channels == 1 ? "" : "s", w.samplesPerSec);
}

int AviOpenInputFile(const char* fileName) {
    AviInputState& in = AviInput;
    AviAudioChannelMode = 0;
    AviAudioRefusal = 0;
    AviWaveFormatRead = false;
    in.AviSourceBitDepth = 0;
    EncoderSettings.inputHasAudio = 0;
    // Any length of path is accepted: only a missing name is refused.
    if (!fileName || !*fileName) {
        OpenMessage(LoadResString(64374));
        return 0;
    }
    std::string path = fileName;
    AviCloseInputFile();
    in.AviInputPath = path;
    in.AviLibraryOpen = 1;
    in.OwnerThread = std::this_thread::get_id();
    in.ReadError.clear();

    if (platform::AviFile::Open(path, &in.AviFile) != AviStatus::Ok) {
        in.AviFile.reset();
        OpenMessage(platform::Format(LoadResString(64375), path.c_str(), OpenFailureReason(path).c_str()));
        return 0;
    }
    in.AviFileInfo = in.AviFile->Info();
    if (in.AviFileInfo.streams == 0) {
        OpenMessage(LoadResString(64376));
        return 0;
    }
    in.AviVideoStream = in.AviFile->GetStream(platform::kAviStreamVideo, 0);
    if (!in.AviVideoStream) {
        OpenMessage(LoadResString(64377));
        return 0;
    }
    if (in.AviVideoStream->GetInfo(&in.AviVideoInfo) != AviStatus::Ok) {
        OpenMessage(LoadResString(64378));
        return 0;
    }

    if (!UsableFrameRate(in.AviVideoInfo.rate, in.AviVideoInfo.scale)) {
        OpenMessage(FrameRateRefusal(in.AviVideoInfo.rate, in.AviVideoInfo.scale));
        return 0;
    }

    OpenAudio();

    int width = in.AviFileInfo.width, height = in.AviFileInfo.height;
    in.AviResizeMode = 0;
    if (EncoderSettings.inputType == 2) {
        bool sameWidth = width == EncoderSettings.horizontalSize;
        bool sameHeight = height == EncoderSettings.verticalSize;
        in.AviResizeMode = sameWidth && sameHeight ? 0 : !sameWidth && sameHeight ? 2 : 1;
        bool interlaced = EncoderSettings.mpeg1 == 0 && EncoderSettings.progressiveSequence == 0 &&
                          EncoderSettings.progressiveFrame == 0;
        if (!sameHeight && interlaced) {
            OpenMessage(
                "Vertical resizing of interlaced picture is not supported.\nTemporal reference on fields can not "
                "remain intact\nif fields are scaled vertically.\n\nPlease match vertical frame size of input and "
                "output\nvideo.");
            return 0;
        }
    }
    in.AviDeinterlacesFrames = EncoderSettings.deinterlace == 1 && in.AviResizeMode == 1;

    bool open = false;
    if (in.AviResizeMode == 0) {
        BitmapInfoHeader want = platform::Rgb24Header(width, height);
        if (platform::AviFrameGetter::Open(in.AviVideoStream, &want, &in.AviFrameGetter) == AviStatus::Ok) {
            in.AviSourceBitDepth = 24;
            open = true;
        }
    }
    if (!open) open = OpenConvertedGetter();
    if (!open) {
        OpenMessage(LoadResString(64405));
        return 0;
    }
    in.AviVideoStartFrame = in.AviVideoStream->Start();
    in.AviVideoOpen = 1;
    InputAvi.readFrame = ReadFrameForEngine;
    InputAvi.isOpen = InputIsOpen;
    InputAvi.firstFrame = AviGetVideoStartFrame;
    InputAvi.endFrame = AviGetVideoEndFrame;
    InputAvi.deinterlacesItself = InputDeinterlacesItself;
    InputAvi.hasVideo = AviHasVideoStream;
    InputAvi.rate = AviGetVideoRate;
    InputAvi.scale = AviGetVideoScale;
    InputAvi.takeReadError = AviTakeReadError;
    return 1;
}

void AviCloseInputFile() {
    AviInputState& in = AviInput;
    std::lock_guard<std::mutex> lock(in.frameLock);
    in.AviVideoOpen = 0;
    in.AviNeedsConversion = 0;
    in.AviDeinterlacesFrames = 0;
    in.AviConversionBits = {};
    in.AviFrameBuffer = {};
    in.OtherFrameBuffers = {};
    in.AviFrameGetter.reset();
    in.AviVideoStream = nullptr;
    in.AviAudioUsable = 0;
    in.AviAudioStream = nullptr;
    in.AviFile.reset();
    in.AviAudioStaging = {};
    if (in.AviLibraryOpen) {
        in.AviLibraryOpen = 0;
        platform::DebugOutput(" AVI library closed ");
        platform::DebugOutput("\n");
    }
}

uint8_t* AviReadVideoFrame(platform::AviFrameGetter* getter, int64_t n) {
    AviInputState& in = AviInput;
    std::lock_guard<std::mutex> lock(in.frameLock);
    if (!getter || getter != in.AviFrameGetter.get() || !in.AviVideoStream || in.AviVideoInfo.length <= 0)
        return nullptr;
    const uint8_t* decoded = getter->GetFrame(n - in.AviVideoStartFrame);
    if (!decoded) {
        platform::DebugOutput(platform::Format("AVI frame %lld: %s\n", static_cast<long long>(n),
                                               getter->LastError().c_str()));
        // Kept for whichever thread reports the failure.
        in.ReadError = getter->LastError();
        return nullptr;
    }
    std::vector<uint8_t>& out = FrameBufferForThisThread();
    if (in.AviNeedsConversion) return ConvertFrame(decoded, out);
    BitmapInfoHeader h = BitmapInfoHeader::Load(decoded);
    size_t bytes = BitmapInfoHeader::kSize + size_t(h.PixelBytes());
    if (out.size() < bytes) out.assign(bytes + 1024, 0);
    std::memcpy(out.data(), decoded, bytes);
    return out.data();
}

std::string AviTakeReadError() {
    std::lock_guard<std::mutex> lock(AviInput.frameLock);
    std::string text;
    text.swap(AviInput.ReadError);
    return text;
}

void AviFormatFileInfo(AviInfoTexts* description) {
    AviInputState& in = AviInput;
    if (!description || !in.AviVideoStream) return;
    platform::CLocaleScope cLocale;
    AviInfoTexts& t = *description;
    t = AviInfoTexts();
    int width = in.AviFileInfo.width, height = in.AviFileInfo.height;
    t.frameSize = platform::Format("%d x %d", width, height);
    double rate = in.AviVideoInfo.scale ? double(in.AviVideoInfo.rate) / in.AviVideoInfo.scale : 0.0;
    t.frameRate = platform::Format("%.3f  f/sec", rate);
    long frames = long(AviGetVideoEndFrame() - AviGetVideoStartFrame());
    t.frameCount = platform::Format("%ld", frames);
    std::string code = FourCcText(in.AviVideoInfo.handler);
    if (code == "DIB " && in.AviSourceBitDepth >= 8 && in.AviSourceBitDepth <= 32)
        t.compression = platform::Format("RGB %d bit  ", in.AviSourceBitDepth);
    else
        t.compression = platform::Format("%s   ", code.c_str());

    double seconds = std::max(0.0, double(frames - 1) / (std::max(rate, 0.01) + 0.0001));
    // Shown: each frame lasts one frame period, so 300 frames at 25 f/sec play 12 seconds.
    const long whole = std::lround(std::max(0.0, double(frames) / std::max(rate, 0.01)));
    t.duration = platform::Format("%ld:%2.2ld:%2.2ld ", whole / 3600, whole / 60 % 60, whole % 60);

    int64_t fileSize = in.AviFileInfo.fileSize;
    double raw = double(width) * height * 3 * double(frames - 1);
    double share = double(fileSize);
    if (in.AviAudioUsable) {
        double sound = double(in.AviAudioBits) * in.AviAudioChannels * in.AviWaveFormat.samplesPerSec / 8 * seconds;
        double rest = double(fileSize) - sound;
        if (rest >= 1 && rest <= double(fileSize) - 1) share = rest;
    }
    int ratio = 1;
    if (share > 100 && share < raw) {
        double r = raw / share;
        if (r >= 1 && r <= 10000000) ratio = int(r);
    }
    t.compressionRatio = platform::Format("%d :1  ", ratio);
    t.highCompression = ratio > 5;

    if (in.AviAudioUsable) {
        t.hasAudio = true;
        t.audioFormat = LoadResString(64414);
        t.audioRate = platform::Format("%d Hz", int(in.AviWaveFormat.samplesPerSec));
        t.audioBits = platform::Format("%d bits", in.AviAudioBits);
        t.audioChannels = in.AviAudioChannels == 1   ? LoadResString(64415)
                          : in.AviAudioChannels == 2 ? LoadResString(64416)
                                                     : " ";
    }
    if (ShowAviInfoUnlessBatch) ShowAviInfoUnlessBatch(t);
}

int AviHasVideoStream() { return AviInput.AviVideoStream ? 1 : 0; }
int AviHasAudioStream() { return AviInput.AviAudioStream ? 1 : 0; }
int AviGetVideoRate() { return int(AviInput.AviFileInfo.rate); }
int AviGetVideoScale() { return int(AviInput.AviFileInfo.scale); }
int AviGetVideoStartFrame() { return int(AviInput.AviVideoStartFrame); }
int AviGetAnnouncedVideoFrames() { return int(AviInput.AviVideoInfo.announced); }
int AviGetVideoEndFrame() { return int(AviInput.AviVideoStartFrame + AviInput.AviVideoInfo.length); }
int AviGetFrameWidth() { return AviInput.AviFileInfo.width; }
int AviGetFrameHeight() { return AviInput.AviFileInfo.height; }
