// Helpers of the audio encoder tests: generated PCM fed through the
// encoder's replaceable source, decoding with ffmpeg, tone measurement.
#pragma once

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

// Interleaved 16-bit PCM the encoder reads next (through AudioPcmSource).
void SetTestPcm(std::vector<int16_t> samples);
// `seconds` of a tone per channel (frequency 0 gives silence), interleaved.
std::vector<int16_t> Tone(int rate, int channels, double seconds, double frequency, double amplitude,
                          double rightFrequency = -1);
std::vector<int16_t> Noise(int rate, int channels, double seconds, double amplitude, uint32_t seed);

// Encodes the test PCM; returns EncodeAudioFile's result.
int EncodeTestPcm(const std::filesystem::path& out, int rate, int bitRate, char mode, int applicationType = 0,
                  bool simd = false);

// Decoded interleaved samples; fails the test on any decoder error.
std::vector<int16_t> DecodeWithFfmpeg(const std::filesystem::path& file, int channels);

// Least-squares fit of a tone of `frequency` to one channel; returns the
// signal-to-residual ratio in dB and the fitted amplitude.
double ToneSnr(const std::vector<int16_t>& pcm, int channels, int channel, int rate, double frequency,
               double* amplitude = nullptr);

// The decoded stream against its input, both interleaved, over all channels:
// the coder's delay (481 samples) taken off, a frame's worth of edges left out.
struct DecodeError {
    double errorDb;   // RMS of the difference, dB below full scale
    double dcLsb;     // mean of the difference, in 16-bit steps
    double outputDb;  // RMS of the decoded samples, dB below full scale
    double snrDb;     // input RMS over difference RMS
};
DecodeError MeasureDecodeError(const std::vector<int16_t>& input, const std::vector<int16_t>& decoded, int channels);

struct ParsedFrame {
    size_t offset;
    int bitrateIndex, samplingFrequency, padding, mode, modeExtension, protectionAbsent;
    size_t length;
};
// Walks the stream frame by frame from its sync words; stops at the first
// position that is not a frame start and reports that position in *end.
std::vector<ParsedFrame> ParseFrames(const std::string& bytes, size_t* end);
