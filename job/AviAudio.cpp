// The AVI input's sound: PCM sample frames read by position and turned into
// 16-bit samples at 44.1 or 48 kHz for the audio encoder.
#include "job/AviSource.h"

#include "platform/Format.h"
#include "platform/MessageBox.h"
#include "platform/ResStrings.h"
#include "settings/EncoderSettings.h"
#include "settings/Report.h"

#include <algorithm>
#include <cstring>

namespace {

bool IsAudioRate(uint32_t rate) { return rate == 48000 || rate == 44100 || rate == 22050 || rate == 11025; }

void AudioMessage(int id) {
    platform::ShowMessageBox(LoadResString(id), "", platform::MbButtons::Ok, platform::MbIcon::None,
                             MessageOwnerWindow);
}

int16_t Clamp16(int32_t v) { return int16_t(std::clamp(v, -32768, 32767)); }

}  // namespace

void AviResetAudioState() { std::fill(std::begin(AviInput.AviAudioCarry), std::end(AviInput.AviAudioCarry), 0); }

// Frame and sample positions both count from the AVI's time zero.
bool SoundStartsAfterVideo(int64_t start, uint32_t samplesPerSec) {
    const AviInputState& in = AviInput;
    if (in.AviFileInfo.rate == 0 || in.AviFileInfo.scale == 0 || samplesPerSec == 0) return false;
    const double videoEnd =
        double(in.AviVideoInfo.start + in.AviVideoInfo.length) * in.AviFileInfo.scale / in.AviFileInfo.rate;
    return double(start) / samplesPerSec >= videoEnd;
}

namespace {

// The range's last sample is never read: a start at or after it leaves only silence.
std::string SoundOutside(const std::string& path, int64_t soundStart, int64_t rangeEnd, double sampleRate) {
    if (soundStart + 1 < rangeEnd) return std::string();
    const double rate = sampleRate > 0 ? sampleRate : 1;
    return platform::Format(LoadResString(63649), path.c_str(), double(soundStart) / rate, double(rangeEnd) / rate);
}

}  // namespace

std::pair<int64_t, int64_t> AudioRangeOfFrames(int rate, int scale, int64_t startFrame, int64_t endFrame,
                                               int64_t streamLimit, double sampleRate) {
    const int64_t first = std::max<int64_t>(EncoderSettings.firstFrame, startFrame);
    int64_t count = EncoderSettings.framesToEncode;
    // To the end of the input means every frame the video pass encodes: the
    // sound of the last frame belongs to the stream too (a one-frame input
    // would otherwise have no sound at all).
    if (first + count >= endFrame || count == 1) count = endFrame - first;
    const double secondsPerFrame = static_cast<double>(scale) / rate;
    const int64_t start = std::min(static_cast<int64_t>(first * secondsPerFrame * sampleRate), streamLimit);
    return {start, std::min(static_cast<int64_t>(sampleRate * count * secondsPerFrame + start), streamLimit)};
}

std::string SoundOutsideEncodedRange() {
    return SoundOutside(AviInput.AviInputPath, AviInput.AviAudioStart, AudioEndSample, EncoderSettings.audioSampleRate);
}

std::string SoundOutsideRangeAtStart() {
    const EncoderSettingsRecord& e = EncoderSettings;
    if (e.inputType != 2 || !e.encodeAudio || !e.inputHasAudio) return std::string();
    // A file that does not open, or streams the passes would not take, are for the passes to report.
    std::unique_ptr<platform::AviFile> file;
    if (platform::AviFile::Open(e.inputFileName, &file) != platform::AviStatus::Ok) return std::string();
    platform::AviStream* video = file->GetStream(platform::kAviStreamVideo, 0);
    platform::AviStream* audio = file->GetStream(platform::kAviStreamAudio, 0);
    platform::AviStreamInfo videoInfo;
    platform::AviWaveFormat wave;
    const platform::AviFileInfo& info = file->Info();
    if (!video || !audio || video->GetInfo(&videoInfo) != platform::AviStatus::Ok || info.rate == 0 ||
        info.scale == 0 || audio->Start() < 0 || audio->Length() <= 0 ||
        !platform::AviWaveFormat::Load(audio->Format().data(), audio->Format().size(), &wave) ||
        !IsAudioRate(wave.samplesPerSec))
        return std::string();
    const int64_t videoStart = video->Start();
    // A frame range outside the video is the settings check's to refuse, in its own words.
    if (std::max<int64_t>(e.firstFrame, videoStart) >= videoStart + videoInfo.length) return std::string();
    const int64_t end = AudioRangeOfFrames(int(info.rate), int(info.scale), videoStart, videoStart + videoInfo.length,
                                           audio->Start() + audio->Length(), wave.samplesPerSec)
                            .second;
    return SoundOutside(e.inputFileName, audio->Start(), end, wave.samplesPerSec);
}

int AviReadAudioSamples(void* buffer, int64_t bufferBytes, int64_t count, int64_t* framesRead, int64_t* bytesRead) {
    AviInputState& in = AviInput;
    if (framesRead) *framesRead = 0;
    if (bytesRead) *bytesRead = 0;
    if (!buffer || !in.AviAudioStream || !in.AviAudioUsable || count < 0 || in.AviAudioBlockAlign <= 0 ||
        bufferBytes < count * in.AviAudioBlockAlign || AudioPosition >= AudioEndSample)
        return 0;
    // The last sample of the range is left unread.
    if (AudioPosition + count >= AudioEndSample) count = AudioEndSample - AudioPosition - 1;
    // Before the stream's start the sound is silent.
    const int64_t silent = std::clamp<int64_t>(in.AviAudioStart - AudioPosition, 0, count);
    const int64_t silentBytes = silent * in.AviAudioBlockAlign;
    std::memset(buffer, in.AviWaveFormat.bitsPerSample == 8 ? 0x80 : 0, size_t(silentBytes));
    int64_t frames = 0, bytes = 0;
    if (count > silent &&
        (in.AviAudioStream->ReadSamples(AudioPosition + silent, count - silent, static_cast<char*>(buffer) + silentBytes,
                                        bufferBytes - silentBytes, &bytes, &frames) != platform::AviStatus::Ok ||
         bytes <= 0 || frames <= 0))
        return 0;
    frames += silent;
    bytes += silentBytes;
    if (frames <= 0) return 0;
    if (framesRead) *framesRead = frames;
    if (bytesRead) *bytesRead = bytes;
    AudioPosition += frames;
    return 1;
}

int AviConvertAudioSamples(void* buffer, int64_t bufferBytes, int64_t* samples, int64_t* byteCount) {
    AviInputState& in = AviInput;
    const platform::AviWaveFormat& w = in.AviWaveFormat;
    if (!buffer || !samples || !byteCount || !in.AviAudioStream || !in.AviAudioUsable || *samples <= 0 ||
        *byteCount <= 0)
        return 0;
    if ((w.bitsPerSample != 8 && w.bitsPerSample != 16) || (w.channels != 1 && w.channels != 2) ||
        !IsAudioRate(w.samplesPerSec))
        return 0;
    bool eightBit = w.bitsPerSample == 8;
    int rateFactor = w.samplesPerSec == 22050 ? 2 : w.samplesPerSec == 11025 ? 4 : 1;
    int factor = (eightBit ? 2 : 1) * rateFactor;
    if (factor == 1) return 1;
    if (bufferBytes < *byteCount * factor) return 0;

    // Samples of every channel, interleaved, as 16-bit values.
    int64_t count = eightBit ? *byteCount : *byteCount / 2;
    std::vector<int32_t> in16(static_cast<size_t>(count));
    const uint8_t* bytes = static_cast<const uint8_t*>(buffer);
    for (int64_t i = 0; i < count; ++i)
        in16[size_t(i)] = eightBit ? (int32_t(bytes[i]) - 127) * 255 : int16_t(bytes[2 * i] | bytes[2 * i + 1] << 8);

    int channels = w.channels;
    std::vector<int16_t> out(size_t(count / channels * channels) * size_t(rateFactor));
    if (rateFactor == 1) {
        for (size_t i = 0; i < out.size(); ++i) out[i] = Clamp16(in16[i]);
    } else {
        int64_t frames = count / channels;
        for (int c = 0; c < channels; ++c) {
            int32_t& carry = in.AviAudioCarry[channels == 1 ? 0 : 1 + c];
            int32_t previous = carry;
            for (int64_t i = 0; i < frames; ++i) {
                int32_t s = in16[size_t(i * channels + c)];
                int16_t* o = out.data() + (i * rateFactor) * channels + c;
                if (rateFactor == 2) {
                    o[0] = Clamp16((previous + s) / 2);
                    o[channels] = Clamp16(s);
                } else {
                    o[0] = Clamp16((3 * previous + s) / 4);
                    o[channels] = Clamp16(2 * (previous + s) / 4);
                    o[2 * channels] = Clamp16((previous + 3 * s) / 4);
                    o[3 * channels] = Clamp16(s);
                }
                previous = s;
            }
            if (frames > 0) carry = Clamp16(previous);
        }
    }
    uint8_t* dst = static_cast<uint8_t*>(buffer);
    for (size_t i = 0; i < out.size(); ++i) {
        dst[2 * i] = uint8_t(uint16_t(out[i]));
        dst[2 * i + 1] = uint8_t(uint16_t(out[i]) >> 8);
    }
    *samples *= rateFactor;
    *byteCount = int64_t(out.size()) * 2;
    return factor;
}

int AviGetAudioData(int16_t* destination, int wanted) {
    AviInputState& in = AviInput;
    const platform::AviWaveFormat& w = in.AviWaveFormat;
    if ((w.bitsPerSample != 8 && w.bitsPerSample != 16) || (w.channels != 1 && w.channels != 2) ||
        !IsAudioRate(w.samplesPerSec)) {
        AudioMessage(64424);
        return 0;
    }
    int growth = w.samplesPerSec == 22050 ? 2 : w.samplesPerSec == 11025 ? 4 : 1;
    if (w.bitsPerSample == 8) growth *= 2;
    if (!destination || wanted < 1) return 0;
    if (!in.AviAudioUsable || in.AviAudioBlockAlign <= 0) {
        AudioMessage(64427);
        return 0;
    }
    if (in.AviAudioStaging.size() != size_t(kAviAudioStagingBytes)) in.AviAudioStaging.assign(kAviAudioStagingBytes, 0);
    int64_t frames = (int64_t(wanted) * 2 / growth) / in.AviAudioBlockAlign;
    int64_t read = 0, bytes = 0;
    if (!AviReadAudioSamples(in.AviAudioStaging.data(), kAviAudioStagingBytes, frames, &read, &bytes)) return 0;
    if (!AviConvertAudioSamples(in.AviAudioStaging.data(), kAviAudioStagingBytes, &read, &bytes)) {
        AudioMessage(64426);
        return 0;
    }
    if (bytes / 2 > wanted) {
        AudioMessage(64425);
        return 0;
    }
    std::memcpy(destination, in.AviAudioStaging.data(), size_t(bytes));
    return int(bytes / 2);
}
