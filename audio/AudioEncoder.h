// MPEG-1 Layer II audio encoder: turns the PCM of the open AVI input into an
// audio elementary stream file, one 1152-sample frame at a time.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "audio/AudioTables.h"

// 0 when the encoding ran to its end (also after a user stop), 1 when it
// failed, a failed write included. Mode letters: 's', 'j', 'd', 'm'.
int EncodeAudioFile(const std::string& outputPath, int kbitPerSecond, char modeLetter);

// Where the PCM comes from: the job installs its AVI source's AviGetAudioData
// (InstallJobHooks); tests feed their own samples. Unset, InitAudioEncoder fails. Returns the 16-bit samples delivered, 0 at the end.
using AudioPcmSourceFn = int (*)(int16_t* destination, int wanted);
extern AudioPcmSourceFn AudioPcmSource;

struct AudioFrameHeader {
    int32_t version, layer, errorProtection, bitrateIndex, samplingFrequency, padding, extension, mode,
        modeExtension, copyright, original, emphasis;
};

struct AudioFrameParams {
    AudioFrameHeader* header;
    int actualMode;
    const AllocationEntry (*allocation)[16];
    int tableNumber;
    int channels;
    int jointStereoBound;
    int subbandLimit;
};

struct AudioBitStream {
    FILE* file;
    uint8_t* buffer;
    int bufferSize;
    int64_t totalBits;  // 32 bits last only about 93 minutes at 384 kbit/s
    int byteIndex;
    int bitIndex;
    int mode;
    int endFlags[2];
};

// Thrown only on the thread that armed it (inside InitAudioEncoder and
// EncodeAudioFrame) to abandon initialisation or the frame in hand.
struct AudioJump {};

// Process-wide state of the one running encoding.
struct AudioEncoderState {
    AudioFrameHeader header;
    AudioFrameParams params;
    AudioBitStream stream;
    int AudioRunFlag;
    int AudioEncodeFailed;
    int AudioWriteState;  // 0 healthy, 1 a write failed, 2 the output could not be created
    int sampleRate;
    int bitRate;
    int modelNumber;
    float averageSlots;
    int wholeSlots;
    float fractionalSlots;
    float slotLag;
    int extraSlot;
    int availableBits;
    int64_t sentBits;
    uint64_t pcmRemaining;
    int pcmFirstCall;
    int reinitAllocation;
    int modelRelease;
    std::string AudioMessageBuffer;
    std::string inputName;
    std::string outputName;

    int16_t pcm[2][1152];
    const int16_t* readPos[2];
    int32_t sbSample[2][3][12][32];
    int32_t jSample[3][12][32];
    float windowed[2][64];  // the window's 64 partial sums of the last 32 samples, per channel
    uint32_t codes[2][3][12][32];
    int scaleIndex[2][3][32];
    int jointScaleIndex[3][32];
    int selection[2][32];
    int allocation[2][32];
    float smr[2][32];
    int16_t modelHistory[2][1056];

    // Analysis stage: per channel history (samples x 2048, so that the
    // outputs come in 2^26 units) and write offset, and the cosine table of
    // the matrixing, built on the first frame of an encoding.
    float filterHistory[2][512];
    int filterOffset[2];
    bool cosineReady;
    alignas(16) float cosine[32][16];  // [folded term][k]: cos((2k+1) t pi / 64)
};
extern AudioEncoderState Audio;

int InitAudioEncoder(const char* outputName, int bitRate, char modeLetter);
void SetupAudioFrameOptions(AudioFrameParams& params, int* modelNumber, uint64_t* sampleLimit,
                            const char* outputName, int bitRate);
int ReadPcmFrame(int16_t buffer[2][1152], uint64_t sampleLimit, int channels);
int EncodeAudioFrame();
int FinishAudioEncoder();
// Index in the bit-rate table, or -1 for a rate not listed.
int AudioBitrateIndexOf(int bitRate);

void PutAudioBits(AudioBitStream& stream, uint32_t value, int n);
void PutAudioBit(AudioBitStream& stream, int bit);
void FlushAudioBitBuffer(AudioBitStream& stream, int keep);

// Frame coding steps.
void BuildQuantizationTables();
extern float ScaleFactorFloat[63];
extern int32_t ScaleFactorInt[63];
extern const float AudioSnr[18];
void WindowSubband(int channel);
void FilterSubband(const float windowed[64], int32_t out[32]);
void ComputeScaleFactors(const int32_t samples[][3][12][32], int scaleIndex[][3][32], int channels, int limit);
void SelectScaleFactorPatterns(int scaleIndex[2][3][32], int selection[2][32], const AudioFrameParams& params);
int BitsForNoNoise(const float smr[2][32], const int selection[2][32], const AudioFrameParams& params);
void AllocateBits(const float smr[2][32], const int selection[2][32], int allocation[2][32], int* availableBits,
                  AudioFrameParams& params);
void AllocateBitsGreedy(const float smr[2][32], const int selection[2][32], int allocation[2][32], int* availableBits,
                        const AudioFrameParams& params);
void UpdateAudioCrc(uint32_t value, int bits, uint32_t* crc);
void ComputeAudioFrameCrc(const AudioFrameParams& params, const int allocation[2][32], const int selection[2][32],
                          uint32_t* crc);
void WriteAudioFrameHeader(const AudioFrameParams& params, AudioBitStream& stream);
void WriteScaleFactors(const int allocation[2][32], const int selection[2][32], const int scaleIndex[2][3][32],
                       const AudioFrameParams& params, AudioBitStream& stream);
void QuantizeSubbandSamples(const int scaleIndex[2][3][32], const int32_t samples[2][3][12][32],
                            const int jointScaleIndex[3][32], const int32_t jointSamples[3][12][32],
                            const int allocation[2][32], uint32_t codes[2][3][12][32], const AudioFrameParams& params);
void WriteSubbandSamples(const uint32_t codes[2][3][12][32], const int allocation[2][32],
                         const AudioFrameParams& params, AudioBitStream& stream);

// Psychoacoustic model 2: the 32 signal-to-mask ratios (dB) of one channel of
// one frame. With Audio.modelRelease set it frees its state and returns.
void PsychoacousticModel(const int16_t* samples, int16_t* history, int channel, float smrOut[32], double sampleRate);

// Filterbank kernels, plain and packed; both give identical results (single
// precision, every sum in the same order).
struct AudioFilterKernels {
    // y[i] = sum over j = 0..7, in that order, of history[(offset + i + 64 j)
    // mod 512] x window[i + 64 j], i = 0..63; offset is a multiple of 32.
    void (*window)(const float* history, int offset, const float* window, float y[64]);
    // For k = 0..15: A = the sum over the even terms t (0, 2, .., 30) and B
    // over the odd ones, in that order, of folded[t] x cosine[t][k];
    // out[k] = A + B and out[31 - k] = A - B, rounded to the nearest integer.
    void (*matrix)(const float folded[32], const float cosine[32][16], int32_t out[32]);
};
void audio_filter_init(bool simd, AudioFilterKernels& table);

// Psychoacoustic model kernels, plain and packed; both give identical results.
struct AudioModelKernels {
    // 1024-point FFT in place: natural order in, bit-reversed order out.
    void (*fft)(float* re, float* im);
    // Energy and phase of lines 0..count-1 from their FFT output in line
    // order. Lines below `floored` get energy 0.0005 and phase 0 when their
    // energy is not above that; the others a phase only when their energy is
    // not 0.
    void (*spectrum)(const float* re, const float* im, int count, int floored, float* power, float* phase);
    // Unpredictability c of lines 0..count-1 from their energy, the cosine and
    // sine of their phase and of the predicted phase, and the magnitudes of
    // the last analysis and the one before, which the new ones replace.
    // Energy and weighted energy spread over the partitions: for the four
    // partitions j of each group g, ecb[j] and ct[j] are the sums over k from
    // band[g][0] to band[g][1], in that order, of spread[k][j] x e[k] and
    // spread[k][j] x cw[k]. Terms outside the band must be zero.
    void (*spreading)(const float (*spread)[64], const int (*band)[2], int groups, const float* e, const float* cw,
                      float* ecb, float* ct);
    // Sine and cosine of count angles.
    void (*sincos)(const float* angle, int count, float* sine, float* cosine);
    void (*unpredictability)(const float* power, const float* cosNow, const float* sinNow, const float* cosPred,
                             const float* sinPred, const float* last, float* oldest, int count, float* c);
};
// wide: AVX2 (with FMA) where the processor has it; else SSE2 only.
void audio_model_init(bool simd, AudioModelKernels& table, bool wide = true);
// The model's arc tangent, the same on every system.
float ModelAtan2(float y, float x);
// cos (true) or -sin of 2 pi i / 1024, i = 0..511.
const float* AudioModelRotation(bool cosine);

// Frame coding kernels, plain and packed; both give identical results.
struct AudioCodingKernels {
    // Index of the first of 64 values (16-byte aligned, no NaN) holding the
    // smallest one below `limit`, or -1 when none is below it.
    int (*firstSmallest)(const float* values, float limit);
};
void audio_coding_init(bool simd, AudioCodingKernels& table);

// The kernels the audio encoder runs: plain until SelectAudioKernels fills
// them when an audio encoding is set up.
extern AudioFilterKernels AudioFilterKernelSet;
extern AudioModelKernels AudioModelKernelSet;
extern AudioCodingKernels AudioCodingKernelSet;
// Fills the three records: the plain kernels, or with `simd` the packed ones
// (the model's widest where the processor has them). InitAudioEncoder calls
// it from MmxEnabled.
void SelectAudioKernels(bool simd);
