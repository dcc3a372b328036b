// Disc-format compliance: what Video-CD 1.1 and 2.0, CD-i, DVD and SVCD
// require of the video, the audio and the multiplexed sectors. Every problem
// is a question; a No stops the check at once.
#include <string>

#include "settings/AudioRates.h"
#include "settings/EncoderSettings.h"
#include "settings/Validate.h"

namespace {

constexpr int kRate25 = 3, kRate2997 = 4;

bool IsVcdFamily(int type) { return type == kApplicationVcd11 || type == kApplicationVcd20 || type == kApplicationCdi; }

// Asks one compliance question when `problem` holds; true when the user stops.
bool Stops(bool problem, const std::string& detail) {
    return problem && AskContinueAfterComplianceWarning(detail) == 2;
}

std::string PalTwinOfGroupText(std::string text) {
    auto replace = [&text](const std::string& from, const std::string& to) {
        size_t at = text.find(from);
        if (at != std::string::npos) text.replace(at, from.size(), to);
    };
    replace("NTSC", "PAL");
    replace("18", "15");
    return text;
}

int CheckVcdVideo(const EncoderSettingsRecord& s) {
    const int w = s.horizontalSize, h = s.verticalSize, code = s.frameRateCode;
    if (Stops(!(w == 352 && (h == 240 || h == 288)), "Frame size must be 352x240 or\n352x288.\n")) return -1;
    if (Stops(h == 240 && code != kRate2997,
              "For NTSC system, vertical picture size\nmust be 240 and frame rate must be\n29.97.\n"))
        return -1;
    if (Stops(h == 288 && code != kRate25, "For PAL system vertical picture size \nmust be 288 and frame rate must be 25."))
        return -1;
    if (Stops(h == 240 && s.mpeg1AspectRatio != 12, "For NTSC system, pixel aspect \nratio must be 12.")) return -1;
    if (Stops(h == 288 && s.mpeg1AspectRatio != 8, "For PAL system, pixel aspect \nratio must be 8.")) return -1;
    if (Stops(!s.mpeg1, "Must be MPEG-1 video stream.")) return -1;
    if (Stops(s.mpeg1 && !s.constrainedParameters, "MPEG stream must be MPEG-1\nConstrained System Stream.\n"))
        return -1;
    if (s.applicationType == kApplicationCdi)
        return Stops(s.bitRate > 1178765.0,
                     "Video stream data rate must be \nless than or equal to 1144 kbits/sec.")
                   ? -1
                   : 0;
    if (Stops(s.bitRate > 1149952.0, "Video stream data rate must be \nless than or equal to 1123 kbits/sec.\n"))
        return -1;
    const int pPictures = s.ipDistance > 0 ? s.gopSize / s.ipDistance - 1 : 0;
    if (Stops(pPictures != 4, "Frame sequence may be incorrect.\nNumber of P frames in group should be 4.")) return -1;
    return 0;
}

int CheckDvdPictureFormat(const EncoderSettingsRecord& s) {
    const int w = s.horizontalSize, h = s.verticalSize, code = s.frameRateCode;
    if (!s.mpeg1) {
        if (Stops(s.mpegProfile != 4 || s.mpegLevel != 8, "Only Main Profile & Main Level is permitted.\n")) return -1;
        if (Stops(s.interlaceMode == 0,
                  "Interlaced video format is recommended for DVD.\nYou have selected progressive video format.\n"))
            return -1;
        if (Stops(code != kRate25 && code != kRate2997,
                  "Frame rate must be 29.97 for NTSC system or 25 for\nPAL system. No other frame rate is "
                  "permitted\nfor DVD.\n"))
            return -1;
        const bool fullWidth = (w == 720 || w == 704 || w == 352) && (h == 480 || h == 576);
        const bool cifSize = w == 352 && (h == 240 || h == 288);
        if (Stops(!fullWidth && !cifSize,
                  "Unsupported picture size for DVD.  For NTSC system\npermitted picture sizes are 720x480, "
                  "704x480, 352x480,\n352x240 for PAL system permitted picture sizes are \n720x576, 704x576, "
                  "352x576, 352x288.\n"))
            return -1;
        if (Stops((h == 480 || h == 240) && code != kRate2997,
                  "For NTSC system, vertical size must be 480 or 240 \nand frame rate must be 29.97 frames/sec.\n"))
            return -1;
        if (Stops((h == 576 || h == 288) && code != kRate25,
                  "For PAL, system vertical size must be 576 or 288 and\nframe rate must be 25 frames/sec.\n"))
            return -1;
        const bool aspectOk = s.mpeg2AspectRatio == 2 || (s.mpeg2AspectRatio == 3 && w != 352);
        if (Stops(!aspectOk,
                  "Pixel aspect ratio must be 3:4 or 16:9. 3:4 permitted\nfor all picture formats, 9:16 permitted "
                  "for all formats\nexcept the formats with horizontal size 352.\n"))
            return -1;
        return 0;
    }
    if (Stops(true, "You have selected MPEG-1 standard for DVD.\nMPEG-1 can be used for DVD, \nbut MPEG-2 is more "
                    "appropriate."))
        return -1;
    if (Stops(!(w == 352 && (h == 240 || h == 288)), "In case of MPEG-1 DVD frame size must be 352 x 240 or 352 x 288 "))
        return -1;
    if (Stops(h == 240 && code != kRate2997,
              "In case of MPEG-1 DVD for NTSC system, vertical picture\nsize must be 240 and frame rate must be "
              "29.97."))
        return -1;
    if (Stops(h == 288 && code != kRate25,
              "In case of MPEG-1 DVD for PAL system, vertical picture\nsize must be 288 and frame rate must be 25."))
        return -1;
    return 0;
}

int CheckSvcdPictureFormat(const EncoderSettingsRecord& s) {
    const int w = s.horizontalSize, h = s.verticalSize, code = s.frameRateCode;
    if (s.mpeg1)
        return Stops(true,
                     "You have selected MPEG-1 standard for SVCD.  The\nSVCD standard requires MPEG-2 format.\n"
                     "Output file will not conform SVCD specification.\n")
                   ? -1
                   : 0;
    if (Stops(s.mpegProfile != 4 || s.mpegLevel != 8, "Only Main Profile & Main Level is permitted.\n")) return -1;
    if (Stops(s.interlaceMode == 0,
              "Interlaced video format is required for SVCD.\nYou have selected progressive video format.\n"))
        return -1;
    if (Stops(code != kRate25 && code != kRate2997,
              "Frame rate must be 29.97 for NTSC system\nor 25 for PAL system. No other frame rate\nis permitted "
              "for SVCD.\n"))
        return -1;
    if (Stops(!(w == 480 && (h == 480 || h == 576)),
              "SVCD standard requires that horizontal picture \nsize must be equal to 480 and vertical size "
              "equal\nto 480 for NTSC or 576 for PAL.\n"))
        return -1;
    if (Stops((h == 480 && code != kRate2997) || (h == 576 && code != kRate25),
              "SVCD standard requires that for NTSC system,\nvertical size must be 480 and frame rate\nmust be "
              "29.97 frames/sec.\n\nFor PAL system, vertical size must be 576 and\nframe rate must be 25 "
              "frames/sec.\n"))
        return -1;
    if (Stops(s.mpeg2AspectRatio != 2 && s.mpeg2AspectRatio != 3,
              "For SVCD, pixel aspect ratio must be 3:4 or 9:16./n"))
        return -1;
    return 0;
}

// Data rate, group length and source format, shared by DVD and SVCD.
int CheckDvdSvcdStream(const EncoderSettingsRecord& s) {
    const bool dvd = s.applicationType == kApplicationDvd;
    const int code = s.frameRateCode;
    if (dvd) {
        if (Stops(s.bitRate > 9800000.0,
                  "Video stream data rate must be less than or equal\nto 9800000 bits/sec.  (9570 kBits/sec.)\n"))
            return -1;
    } else if (Stops(s.bitRate > 2600000.0,
                     "For SVCD, video stream data rate must\nbe less than or equal to 2600000 bits/sec.\n"
                     "(2539 kBits/sec.)\n")) {
        return -1;
    }
    const std::string ntscGroup =
        dvd ? "Too many frames in group. According to the DVD\nspecification, the maximum number of frames in\ngroup "
              "for NTSC system is 18.  You must reduce\nthe number of P or B frames in sequence.\n"
            : "Too many frames in group. According to the\nSVCD specification, the maximum number of\nframes in "
              "group for NTSC system is 18.  You\nmust reduce the number of P or B frames\nin sequence.\n";
    if (Stops(code == kRate2997 && s.gopSize >= 19, ntscGroup)) return -1;
    if (Stops(code == kRate25 && s.gopSize >= 16, PalTwinOfGroupText(ntscGroup))) return -1;

    if (Stops(code == kRate2997 && s.videoFormat != 2,
              "If frame rate equals 29.97 frames/sec,\nsource video format NTSC must be selected.\n"))
        return -1;
    if (Stops(code == kRate25 && s.videoFormat != 1,
              "If frame rate equals 25 frames/sec., source video\nformat PAL must be selected.\n"))
        return -1;
    return 0;
}

}  // namespace

int CheckVideoFormatCompliance() {
    const EncoderSettingsRecord& s = EncoderSettings;
    ComplianceWarningCount = 0;
    if (IsVcdFamily(s.applicationType)) return CheckVcdVideo(s);
    if (s.applicationType == kApplicationDvd) {
        if (CheckDvdPictureFormat(s) < 0) return -1;
        return CheckDvdSvcdStream(s);
    }
    if (s.applicationType == kApplicationSvcd) {
        if (CheckSvcdPictureFormat(s) < 0) return -1;
        return CheckDvdSvcdStream(s);
    }
    return 0;
}

int CheckAudioCompliance() {
    EncoderSettingsRecord& s = EncoderSettings;
    s.audioBitRate = AudioBitrateFromIndex(s.audioMode, s.audioBitRateIndex);
    const double total = s.bitRate + 1024.0 * s.audioBitRate;
    const char* totalText =
        "Bit rate of video stream + bit rate of \naudio stream is greater than maximum \npermitted total bit rate "
        "of 1411200 bits/sec.\n";
    const bool notVcdAudio = s.audioMode == 0 || s.audioBitRate != 224;
    const bool cdRate = s.audioSampleRate == 44100 || s.audioSampleRate == 22050 || s.audioSampleRate == 11025;
    switch (s.applicationType) {
        case kApplicationVcd11:
            if (Stops(notVcdAudio, "Audio stream must be 224 kbit/sec stereo.")) return -1;
            if (Stops(total > 1340640.0, totalText)) return -1;
            break;
        case kApplicationVcd20:
            if (Stops(notVcdAudio,
                      "VideoCD specification requires one of\nthe following audio formats: Stereo,\nDual Channel, "
                      "or Joint Stereo, bit rate\nmust be 224 KBits/sec. \n\nMono audio format is not permitted "
                      "for\nVCD.  This program does not convert\nmono audio to stereo.\n"))
                return -1;
            if (Stops(total > 1411200.0, totalText)) return -1;
            break;
        case kApplicationCdi:
            if (Stops(total > 1340640.0, totalText)) return -1;
            break;
        case kApplicationDvd:
            return Stops(s.audioSampleRate != 48000,
                         "DVD audio format requires 48 kHz audio sampling rate.\nAudio sampling rate in the input "
                         "file is not valid.  This\nprogram cannot convert audio sampling rate.\n")
                       ? -1
                       : 0;
        case kApplicationSvcd:
            return Stops(!cdRate,
                         "SVCD audio format requires 44.1kHz audio\nsampling rate. Audio sampling rate in the\ninput "
                         "file will not be converted to that\nfrequency. Output file will remain at 48kHz\nsample "
                         "rate.\n")
                       ? -1
                       : 0;
        default: return 0;
    }
    if (Stops(!cdRate,
              "Audio sample rate must be 44100Hz,\n22050Hz or 11025Hz. Sample rate 48kHz\nis not permitted for VCD. "
              "This program\ncan not resample input audio data.\n"))
        return -1;
    return 0;
}

int CheckMuxSectorSize() {
    const EncoderSettingsRecord& s = EncoderSettings;
    if (!IsVcdFamily(s.applicationType)) return 0;
    return Stops(s.muxPackSize != 2324, "Sector size in the multiplexed system \nstream must be 2324 bytes.") ? -1 : 0;
}
