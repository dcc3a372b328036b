// The job's bridge to the multiplexer library (see MuxInterfaces.h).
#include "mux/MuxInterfaces.h"

#include "mux/Mplex.h"
#include "muxlib/MuxLib.h"
#include "platform/Format.h"
#include "platform/Ini.h"
#include "platform/ResStrings.h"
#include "settings/AudioRates.h"
#include "settings/EncoderSettings.h"
#include "settings/JobState.h"
#include "settings/JobUtil.h"
#include "settings/RunState.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>

namespace {

// String ids of statuses -514 .. -500.
constexpr int StatusStrings[15] = {64194, 64195, 64193, 64192, 64191, 64190, 64189, 64188,
                                   64187, 64186, 64185, 64184, 64183, 64195, 64182};
constexpr int UnknownStatusString = 64195;
constexpr int CannotCreateString = 64196;
constexpr int CannotWriteString = 64197;

constexpr const char* IllegalBufferSizeText = " Multiplexer pack size or buffer size has illegal value. ";

// Largest bounds the system header's 13-bit buffer fields can name.
constexpr int MaxVideoBufferKb = 8191;        // 1024-byte units
constexpr int MaxAudioBufferKb = 8191 / 8;    // 128-byte units

}  // namespace

bool MuxBufferSizesUsable(int audioBufferKb, int videoBufferKb, int packSize)
{
    // Each decoder buffer must take a whole pack, or its stream could never be sent.
    const int64_t pack = packSize > 0 ? packSize : 0;
    return audioBufferKb >= 1 && audioBufferKb <= MaxAudioBufferKb && videoBufferKb >= 1 &&
           videoBufferKb <= MaxVideoBufferKb && int64_t{audioBufferKb} * 1024 >= pack &&
           int64_t{videoBufferKb} * 1024 >= pack;
}

std::string DiscRateRefusal()
{
    const EncoderSettingsRecord& e = EncoderSettings;
    // What a disc's byte clock carries of the video and audio streams together: the
    // SVCD rate of 6972 x 50 bytes/s about 2.75 Mbit/s; the DVD clock of 10.08 Mbit/s
    // about 9.9 Mbit/s (packs less their headers and the navigation packs), where
    // constant-rate video above it falls further behind with every minute; the
    // Video-CD's 75 sectors a second of 2324 bytes, each with a pack and a packet
    // header, about 2296 bytes of stream each (measured beside 224 kbit/s sound: video
    // of 1126 Kbits/sec. arrives on time through 90 s, of 1140 late from 19 s on).
    // Variable-rate video may run at its maximum for as long as its pictures ask,
    // which the clock cannot carry any better: its maximum is judged.
    const char* disc = nullptr;
    double carried = 0.0;
    if (e.applicationType == kApplicationSvcd) {
        disc = "SVCD";
        carried = 2750000.0;
    } else if (e.applicationType == kApplicationDvd && e.createVob == 1) {
        disc = "DVD";
        carried = 9900000.0;
    } else if (e.applicationType != kApplicationDvd && e.streamType == kStreamTypeVideoCd) {
        disc = "Video-CD";
        carried = 75 * 2296 * 8.0;
    } else {
        return std::string();
    }
    const int kbps = AudioBitrateFromIndex(e.audioMode, e.audioBitRateIndex);
    const bool variable = e.rateControl == kRateVariable;
    const double videoBits = variable ? std::max(e.maxBitRate, e.bitRate) : e.bitRate;
    if (videoBits + kbps * 1000.0 <= carried) return std::string();
    // The form counts the video rate in Kbits/sec. of 1024 bit/s; the largest such
    // figure that fits beside the sound is the one to offer.
    const long largest = std::max(0L, static_cast<long>(std::floor((carried - kbps * 1000.0) / 1024.0)));
    return platform::Format(
        "The %s of %ld Kbits/sec. and the sound's %d kbit/s are more than the %s rate carries (%.2f Mbit/s).\n"
        "Nothing was encoded. Please lower the %s to %ld Kbits/sec. or less.",
        variable ? "maximum video bit rate" : "video bit rate", std::lround(videoBits / 1024.0), kbps, disc,
        carried / 1e6, variable ? "maximum video bit rate" : "video bit rate", largest);
}

std::string SvcdLengthRefusal()
{
    const EncoderSettingsRecord& e = EncoderSettings;
    if (e.applicationType != kApplicationSvcd) return std::string();
    // Scan information gives sector addresses as two BCD digits of minutes of 75 sectors
    // a second: 450000 sectors. The stream's bytes need at least their own sectors,
    // 2324 bytes each; a title playing longer than those 99 minutes passes them at any
    // rate an SVCD is made at (the multiplex sends no fewer than 55 sectors a second
    // even for 100 Kbits/sec. of video, 84 for 600).
    static constexpr double FramesPerSecond[9] = {0, 24000.0 / 1001, 24, 25, 30000.0 / 1001, 30, 50, 60000.0 / 1001, 60};
    constexpr double Sectors = 100.0 * 60 * 75;
    if (e.frameRateCode < 1 || e.frameRateCode > 8 || e.framesToEncode <= 0) return std::string();
    const double fps = FramesPerSecond[e.frameRateCode];
    const double seconds = e.framesToEncode / fps;
    const double kbps = AudioBitrateFromIndex(e.audioMode, e.audioBitRateIndex);
    // Variable-rate video may take far less than its figures: only constant-rate video counts.
    const double bitsPerSecond = kbps * 1000.0 + (e.rateControl == kRateVariable ? 0.0 : e.bitRate);
    const double sectorsPerSecond = bitsPerSecond / 8 / 2324;
    const double longest = std::min(99.0 * 60, Sectors / std::max(sectorsPerSecond, 1.0));
    if (seconds <= longest) return std::string();
    return platform::Format(
        "An SVCD of %d pictures (%.1f minutes) is longer than its scan information can address\n"
        "(99 minutes of sectors, at most %.1f minutes at its rates).\n"
        "Nothing was encoded. Please encode %ld pictures or fewer.",
        e.framesToEncode, seconds / 60, longest / 60, static_cast<long>(std::floor(longest * fps)));
}

std::string MultiplexSettingsProblem(bool compact)
{
    const EncoderSettingsRecord& e = EncoderSettings;
    const int kbps = AudioBitrateFromIndex(e.audioMode, e.audioBitRateIndex);
    // The frames are sized at the rate the encoder writes: 11.025 and 22.05 kHz sources are raised to 44.1 kHz.
    const int sampleRate = e.audioSampleRate == 48000 ? 48000 : 44100;
    const int64_t frameBytes = int64_t{144} * kbps * 1000 / sampleRate + 1;  // Layer II, padded
    if (e.streamType != kStreamTypeMpeg1 || e.mpeg1 == 0 || e.applicationType == kApplicationDvd) return std::string();
    // The largest payload of a packet: the compact multiplexer's slot, or the library's 2048-byte pack.
    const int64_t payload = compact ? e.muxPackSize / std::max(e.muxPacketsPerPack, 1) - 18 : 2048 - 21;
    const int64_t audioBuffer = compact ? int64_t{e.muxAudioBufferKb} * 1024 : (int64_t{e.muxAudioBufferKb} * 8 - 3) * 128;
    if (audioBuffer < payload + frameBytes) {
        char text[240];
        std::snprintf(text, sizeof text,
                      "the audio buffer of %d KB cannot take a %lld-byte packet while it holds the next "
                      "%lld-byte frame to decode; a larger audio buffer or smaller packs are needed",
                      e.muxAudioBufferKb, static_cast<long long>(payload), static_cast<long long>(frameBytes));
        return text;
    }
    return std::string();
}

int32_t ReportMuxLibraryError(int32_t status, int32_t, int32_t)
{
    const int id = status >= -514 && status <= -500 ? StatusStrings[status + 514] : UnknownStatusString;
    MuxMessageText = id == UnknownStatusString ? platform::Format(LoadResString(id), static_cast<int>(status))
                                               : std::string(LoadResString(id));
    const std::string detail = MuxLastProblemText();
    // A general failure that says why is known: its reason is the message.
    if (!detail.empty()) MuxMessageText = status == MuxErrGeneral ? detail : MuxMessageText + ":\n" + detail;
    return status;
}

int32_t MuxFileNameCallback(char** name)
{
    if (name != nullptr) *name = strdup(EncoderSettings.outputFileName.c_str());
    return 0;
}

int PrepareMuxProgress(const std::string& audioFile, const std::string& videoFile)
{
    MuxBytesTotal = std::max<int64_t>(0, GetFileSizeByName(videoFile)) + std::max<int64_t>(0, GetFileSizeByName(audioFile));
    MultiplexFinished = 0;
    MuxLastProgress = 0;
    MuxBytesDone = 0;
    return PumpMessagesDuringMultiplex() == 1 ? 0 : -500;
}

std::string MuxSettingsNotApplied;

namespace {

// The library writes one packet per pack, and packs of the size its stream kind
// sets; the pack size of the settings is the MPEG-1 system stream's.
void NoteUnappliedPackSettings(int32_t type)
{
    const EncoderSettingsRecord& e = EncoderSettings;
    int32_t packSize = 0;
    MuxGetOption(MuxOptionPackSize, &packSize);
    std::string text;
    if (e.muxPacketsPerPack > 1)
        text = platform::Format(" %d packets per pack (the multiplexer writes one packet in each pack)",
                                e.muxPacketsPerPack);
    if (type == MuxTypeMpeg1System && packSize > 0 && e.muxPackSize != packSize)
        text += platform::Format("%s a pack size of %d bytes (it writes %d-byte packs)", text.empty() ? "" : ",",
                                 e.muxPackSize, packSize);
    if (!text.empty())
        MuxSettingsNotApplied = "These multiplex settings were not applied:" + text +
                                ". They apply to MPEG-1 system streams when the MPEG-1 multiplexer is used.";
}

}  // namespace

int32_t ConfigureMuxSession()
{
    const EncoderSettingsRecord& e = EncoderSettings;
    MuxSettingsNotApplied.clear();
    if (e.applicationType == kApplicationDvd && e.createVob == 1) {
        NoteUnappliedPackSettings(MuxTypeDvdVolume);
        int32_t status = MuxSetOption(MuxOptionType, MuxTypeDvdVolume) + MuxSetOption(MuxOptionDvdOutput, MuxDvdSplitVolume);
        // The program's INI file may ask for video object files smaller than the format's;
        // any size past the option's range is past the format's largest file too, which the
        // library takes instead.
        const int64_t split = platform::IniReadInt64(LoadResString(63498), "DVD_VOB_Split_Bytes", 0,
                                                     platform::ConfigFile("ROZARAZ2.INI"));
        if (status == 0 && split > 0)
            status = MuxSetOption(MuxOptionDvdSplitBytes, static_cast<int32_t>(std::min<int64_t>(split, INT32_MAX)));
        return status;
    }
    if (e.applicationType == kApplicationSvcd) {
        NoteUnappliedPackSettings(MuxTypeSvcd);
        MuxSetOption(MuxOptionType, MuxTypeSvcd);
        MuxSetFileNameCallback(MuxFileNameCallback);
        MuxSetOption(MuxOptionSvcdPatchAtFinish, 1);
        return 0;
    }
    // MPEG-2 video under an MPEG-1 stream type goes into the MPEG-2 program stream:
    // an MPEG-1 system stream cannot carry it.
    // The stream types 1..3 are the mux types of the same number.
    const int streamType = e.streamType == kStreamTypeMpeg1 && e.mpeg1 == 0 ? int{MuxTypeMpeg2Program} : e.streamType;
    int32_t status = MuxSetOption(MuxOptionType, streamType);
    if (status == 0 && streamType == MuxTypeMpeg1System)
        status = MuxSetParameter(MuxOptionFixedRate, e.muxConstantRate);
    if (status == 0 && streamType == MuxTypeMpeg2Program)
        status = MuxSetParameter(MuxOptionFixedRate, e.mpeg2MuxConstantRate);
    const int64_t vbvBytes = int64_t{e.vbvBufferSize} * 2048;
    if (status == 0 && streamType == MuxTypeMpeg2Program && vbvBytes >= 47104 && vbvBytes / 1024 <= INT32_MAX)
        status = MuxSetParameter(MuxOptionVideoBufferBound, static_cast<int32_t>(vbvBytes / 1024));
    if (status == 0 && streamType == MuxTypeMpeg1System) {
        int32_t packSize = 0;
        MuxGetOption(MuxOptionPackSize, &packSize);
        if (!MuxBufferSizesUsable(e.muxAudioBufferKb, e.muxVideoBufferKb, packSize)) {
            MuxMessageText = IllegalBufferSizeText;
            return MuxErrParameterValue;
        }
        status = MuxSetParameter(MuxOptionVideoBufferBound, e.muxVideoBufferKb);
        if (status == 0) status = MuxSetParameter(MuxOptionAudioBufferBound, e.muxAudioBufferKb * (1024 / 128));
    }
    if (status == 0) NoteUnappliedPackSettings(streamType);
    if (status == 0)
        status = MuxSetParameter(MuxOptionInterleaving,
                                 e.rateControl == kRateVariable && streamType == MuxTypeMpeg2Program ? 2 : 1);
    return status;
}

int MultiplexWithLibrary(const std::string& audioFile, const std::string& videoFile, const std::string& outputFile)
{
    MuxHandle handle = nullptr;
    bool selected = false;
    int status;
    try {
        MuxJumpArm arm;
        status = PrepareMuxProgress(audioFile, videoFile);
        if (status != 0) return status;
        handle = MuxCreateSession();
        status = MuxSelectSession(handle);
        selected = status == 0;
        if (status == 0) status = MuxBegin();
        if (status == 0) status = ConfigureMuxSession();
        if (status == 0)
            status = MuxSetVideoSettings(EncoderSettings.vbvBufferSize, EncoderSettings.mpegProfile, EncoderSettings.mpegLevel);
        if (status == 0) status = MuxSetMessageCallback(ReportMuxLibraryError, 0);
        if (status == 0) status = MuxRun(videoFile.c_str(), audioFile.c_str(), outputFile.c_str(), MuxProgressCallback);
    } catch (const MuxJump&) {
        status = 1;
    }
    // A DVD session's end writes the volume: a stopped or failed run has none, so the
    // session is only destroyed, which removes what it wrote.
    const bool dvdVolume = EncoderSettings.applicationType == kApplicationDvd && EncoderSettings.createVob == 1;
    // Another session may be current when this one could not be selected: leave it alone.
    if (selected && (status == 0 || !dvdVolume)) {
        // The end writes the last packs and closes the output: its failure is the job's failure.
        const int32_t endStatus = MuxEnd();
        if (status == 0 && endStatus != 0) status = endStatus;
    }
    // The message names the file that failed, when the library knows it.
    const std::string failed = selected ? MuxLastFailedFile() : "";
    if (status == MuxErrWrite)
        MuxMessageText = platform::Format(LoadResString(MuxBytesDone < 100 ? CannotCreateString : CannotWriteString),
                                          failed.empty() ? outputFile.c_str() : failed.c_str());
    MuxDestroySession(handle);
    return status;
}
