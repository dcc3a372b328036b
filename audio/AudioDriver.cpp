// Entry of the audio encoder: initialisation, option setup, PCM reader,
// frame loop and finishing, with the failure paths.
#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "audio/AudioEncoder.h"
#include "muxlib/StreamTables.h"
#include "platform/Format.h"
#include "settings/EncoderSettings.h"
#include "settings/JobUtil.h"
#include "settings/Report.h"

AudioEncoderState Audio;

namespace {

constexpr uint64_t kNoSampleLimit = UINT64_MAX;
uint64_t SampleLimit = kNoSampleLimit;

// Zero-filled block; on failure the encoding is abandoned through AudioJump.
void* AudioMemAlloc(size_t bytes, const char* name) {
    void* block = std::calloc(1, bytes);
    if (!block) {
        Audio.AudioMessageBuffer = platform::Format("Unable to allocate %s\n", name);
        throw AudioJump{};
    }
    return block;
}

void ResetWorkingState() {
    std::memset(Audio.pcm, 0, sizeof Audio.pcm);
    std::memset(Audio.sbSample, 0, sizeof Audio.sbSample);
    std::memset(Audio.jSample, 0, sizeof Audio.jSample);
    std::memset(Audio.windowed, 0, sizeof Audio.windowed);
    std::memset(Audio.codes, 0, sizeof Audio.codes);
    std::memset(Audio.scaleIndex, 0, sizeof Audio.scaleIndex);
    std::memset(Audio.jointScaleIndex, 0, sizeof Audio.jointScaleIndex);
    std::memset(Audio.selection, 0, sizeof Audio.selection);
    std::memset(Audio.allocation, 0, sizeof Audio.allocation);
    std::memset(Audio.smr, 0, sizeof Audio.smr);
    std::memset(Audio.modelHistory, 0, sizeof Audio.modelHistory);
    std::memset(Audio.filterHistory, 0, sizeof Audio.filterHistory);
    Audio.filterOffset[0] = Audio.filterOffset[1] = 0;
    Audio.cosineReady = false;
}

}  // namespace

int AudioBitrateIndexOf(int bitRate) {
    for (int i = 1; i < 15; i++)
        if (static_cast<int>(muxtables::Layer2Kbps[i]) == bitRate) return i;
    return -1;
}

void SetupAudioFrameOptions(AudioFrameParams& params, int* modelNumber, uint64_t* sampleLimit,
                            const char* outputName, int bitRate) {
    AudioFrameHeader& h = *params.header;
    h.layer = 2;
    *modelNumber = 2;
    h.modeExtension = 0;
    h.samplingFrequency = Audio.sampleRate == 44100 ? 0 : 1;
    h.bitrateIndex = 14;
    h.emphasis = h.copyright = h.original = h.errorProtection = 0;
    if (EncoderSettings.applicationType == kApplicationSvcd) h.errorProtection = 1;
    h.bitrateIndex = AudioBitrateIndexOf(bitRate);

    AudioBitStream& s = Audio.stream;
    s.file = std::fopen(outputName, "wb");
    if (!s.file) {
        int error = errno;
        Audio.AudioMessageBuffer = platform::Format("Program can't create output file %s.  ", outputName);
        CheckPathDrive(Audio.AudioMessageBuffer, outputName, error);
        Audio.AudioWriteState = 2;
        throw AudioJump{};
    }
    s.buffer = static_cast<uint8_t*>(AudioMemAlloc(4096, "buffer"));
    s.bufferSize = 4096;
    s.byteIndex = 4095;
    s.bitIndex = 8;
    s.totalBits = 0;
    s.mode = 1;
    s.endFlags[0] = s.endFlags[1] = 0;
    *sampleLimit = kNoSampleLimit;
}

void SelectAudioKernels(bool simd) {
    audio_filter_init(simd, AudioFilterKernelSet);
    audio_model_init(simd, AudioModelKernelSet);
    audio_coding_init(simd, AudioCodingKernelSet);
}

int InitAudioEncoder(const char* outputName, int bitRate, char modeLetter) {
    int rate = EncoderSettings.audioSampleRate;
    if (rate == 48000)
        Audio.sampleRate = 48000;
    else if (rate == 44100 || rate == 22050 || rate == 11025)
        Audio.sampleRate = 44100;
    else
        return -1;
    if (!AudioPcmSource) {
        Audio.AudioMessageBuffer = "No PCM source is installed\n";
        return -1;
    }
    // A rate no frame header can carry is refused before anything is opened.
    if (AudioBitrateIndexOf(bitRate) < 0) {
        Audio.AudioMessageBuffer = platform::Format("BitrateIndex: %d  is not a legal bitrate\n", bitRate);
        return -1;
    }
    // Pairs Layer II leaves out: one channel above 192 kbit/s, two channels
    // at 32, 48, 56 and 80 kbit/s.
    const bool oneChannel = modeLetter == 'm';
    if (oneChannel ? bitRate > 192 : (bitRate == 32 || bitRate == 48 || bitRate == 56 || bitRate == 80)) {
        Audio.AudioMessageBuffer =
            platform::Format("%d kbit/s is not allowed with %s\n", bitRate, oneChannel ? "one channel" : "two channels");
        return -1;
    }
    Audio.extraSlot = 0;
    Audio.sentBits = 0;
    Audio.AudioEncodeFailed = 0;
    Audio.AudioRunFlag = 1;
    Audio.AudioWriteState = 0;
    Audio.pcmFirstCall = 1;
    Audio.reinitAllocation = 1;
    Audio.modelRelease = 0;
    Audio.stream = AudioBitStream{};
    Audio.bitRate = bitRate;
    SelectAudioKernels(MmxEnabled != 0);
    BuildQuantizationTables();
    try {
        ResetWorkingState();
        Audio.inputName = "dummy input file name";
        Audio.header = AudioFrameHeader{};
        Audio.header.version = 1;
        Audio.outputName = outputName;
        Audio.params = AudioFrameParams{};
        Audio.params.header = &Audio.header;
        int mode;
        switch (modeLetter) {
        case 'd': mode = 2; break;
        case 'j': mode = 1; break;
        case 'm': mode = 3; break;
        case 's': mode = 0; break;
        default:
            Audio.AudioMessageBuffer = platform::Format("%s: Bad mode dflt %c\n", "aud_encode", 's');
            throw AudioJump{};
        }
        Audio.header.mode = mode;
        SetupAudioFrameOptions(Audio.params, &Audio.modelNumber, &SampleLimit, outputName,
                               bitRate);
    } catch (const AudioJump&) {
        Audio.AudioEncodeFailed = 1;
        return -1;
    }
    AudioFrameParams& p = Audio.params;
    p.actualMode = Audio.header.mode;
    p.channels = p.actualMode == 3 ? 1 : 2;
    int perChannel = bitRate / p.channels;
    if (perChannel <= 48) {
        p.tableNumber = 2;
        p.subbandLimit = 8;
        p.allocation = AllocationTableC;
    } else if (perChannel <= 80 || Audio.sampleRate == 48000) {
        p.tableNumber = 0;
        p.subbandLimit = 27;
        p.allocation = AllocationTableA;
    } else {
        p.tableNumber = 1;
        p.subbandLimit = 30;
        p.allocation = AllocationTableA;
    }
    p.jointStereoBound = p.subbandLimit;
    if (p.actualMode == 1) p.jointStereoBound = 4;

    // Worked out in double: in single precision 48 kHz would come out a hair
    // under a whole slot count and pad nearly every frame.
    Audio.averageSlots = static_cast<float>(bitRate * 0.125 * (1152.0 / (Audio.sampleRate * 0.001)));
    Audio.wholeSlots = static_cast<int>(Audio.averageSlots + 0.000001f);
    Audio.AudioMessageBuffer = platform::Format("slots/frame = %d\n", Audio.wholeSlots);
    Audio.fractionalSlots = Audio.averageSlots - Audio.wholeSlots;
    if (Audio.fractionalSlots < 0) Audio.fractionalSlots = 0;
    Audio.slotLag = -Audio.fractionalSlots;
    if (Audio.fractionalSlots == 0) Audio.header.padding = 0;
    return 0;
}

int ReadPcmFrame(int16_t buffer[2][1152], uint64_t sampleLimit, int channels) {
    int frameSize = channels == 2 ? 2304 : 1152;
    if (Audio.pcmFirstCall) {
        Audio.pcmRemaining = sampleLimit;
        Audio.pcmFirstCall = 0;
    }
    int16_t block[2304] = {};
    int wanted = static_cast<int>(std::min<uint64_t>(Audio.pcmRemaining, frameSize));
    int got = wanted > 0 ? AudioPcmSource(block, wanted) : 0;
    if (got < 0) got = 0;
    if (got > wanted) got = wanted;
    if (got == 0) Audio.AudioMessageBuffer = "Hit end of audio data\n";
    Audio.pcmRemaining -= got;
    if (got > 0 && got < frameSize) {
        Audio.AudioMessageBuffer = "Insufficient PCM input for one frame - fillout with zeros\n";
        std::memset(block + got, 0, (frameSize - got) * sizeof(int16_t));
        got = frameSize;
        Audio.pcmRemaining = 0;
    }
    if (channels == 2) {
        for (int i = 0; i < 1152; i++) {
            buffer[0][i] = block[2 * i];
            buffer[1][i] = block[2 * i + 1];
        }
    } else {
        std::memcpy(buffer[0], block, 1152 * sizeof(int16_t));
        std::memset(buffer[1], 0, 1152 * sizeof(int16_t));
    }
    return got;
}

int FinishAudioEncoder() {
    AudioBitStream& s = Audio.stream;
    if (s.buffer) {
        if (s.file) {
            // The byte in hand is written only when it holds bits: an empty
            // byte after the last frame would be junk to every decoder.
            FlushAudioBitBuffer(s, s.bitIndex == 8 ? s.byteIndex + 1 : s.byteIndex);
            // Data still buffered by the C library can fail to reach the disk
            // here: that is a write failure too.
            bool failed = std::fflush(s.file) != 0 || std::ferror(s.file);
            if (std::fclose(s.file) != 0) failed = true;
            s.file = nullptr;
            if (failed && Audio.AudioWriteState == 0) {
                Audio.AudioWriteState = 1;
                ReportAudioWriteError();
            }
        }
        std::free(s.buffer);
        s.buffer = nullptr;
    } else if (s.file) {
        std::fclose(s.file);
        s.file = nullptr;
    }
    if (!Audio.AudioEncodeFailed) {
        Audio.AudioMessageBuffer = platform::Format("Encoding of %s with psychoacoustic model %d is finished\n",
                                                    Audio.inputName.c_str(), 2);
        Audio.AudioMessageBuffer +=
            platform::Format("The MPEG encoded output file name is %s\n", Audio.outputName.c_str());
    }
    Audio.modelRelease = 1;
    PsychoacousticModel(nullptr, nullptr, 0, nullptr, 0.0);
    Audio.cosineReady = false;
    return Audio.AudioEncodeFailed ? -1 : 0;
}

int EncodeAudioFile(const std::string& outputPath, int kbitPerSecond, char modeLetter) {
    if (InitAudioEncoder(outputPath.c_str(), kbitPerSecond, modeLetter) != 0) {
        Audio.AudioEncodeFailed = 1;
    } else {
        int result = 0;
        while (Audio.AudioRunFlag && result == 0) {
            if (ReadPcmFrame(Audio.pcm, SampleLimit, Audio.params.channels) == 0) break;
            result = EncodeAudioFrame();
        }
    }
    int finished = FinishAudioEncoder();
    // A stream with bytes missing is no output, even when the user was told at once.
    return (finished != 0 || Audio.AudioEncodeFailed || Audio.AudioWriteState != 0) ? 1 : 0;
}
