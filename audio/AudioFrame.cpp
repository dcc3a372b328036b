// Coding of one Layer II frame: analysis, scale factors and their selection,
// bit allocation with the joint-stereo bound, CRC, quantisation and output.
#include <emmintrin.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

#include "audio/AudioEncoder.h"
#include "settings/EncoderSettings.h"
#include "settings/RunState.h"

float ScaleFactorFloat[63];
int32_t ScaleFactorInt[63];
const float AudioSnr[18] = {0.00f,  7.00f,  11.00f, 16.00f, 20.84f, 25.28f, 31.59f, 37.75f, 43.84f,
                            49.89f, 55.93f, 61.96f, 67.98f, 74.01f, 80.03f, 86.05f, 92.01f, 98.01f};

namespace {

const float kA[17] = {0.75f,         0.625f,          0.875f,           0.5625f,           0.9375f,
                      0.96875f,      0.984375f,       0.9921875f,       0.99609375f,       0.998046875f,
                      0.9990234375f, 0.99951171875f,  0.999755859375f,  0.9998779296875f,  0.99993896484375f,
                      0.999969482421875f, 0.9999847412109375f};
const float kB[17] = {-0.25f,        -0.375f,       -0.125f,       -0.4375f,     -0.0625f,     -0.03125f,
                      -0.015625f,    -0.0078125f,   -0.00390625f,  -0.001953125f, -0.000976563f, -0.000488281f,
                      -0.000244141f, -0.00012207f,  -0.000061035f, -0.000030518f, -0.000015259f};
float QuantFactor[63][17];
float PowerOfTwo[17];
const int kBoundTable[4] = {4, 8, 12, 16};
const int kScaleCount[4] = {3, 2, 1, 2};
const int kPattern[5][5] = {{0x123, 0x122, 0x122, 0x133, 0x123},
                            {0x113, 0x111, 0x111, 0x444, 0x113},
                            {0x111, 0x111, 0x111, 0x333, 0x113},
                            {0x222, 0x222, 0x222, 0x333, 0x123},
                            {0x123, 0x122, 0x122, 0x133, 0x123}};

int DifferenceClass(int d) {
    if (d <= -3) return 0;
    if (d < 0) return 1;
    if (d == 0) return 2;
    if (d < 3) return 3;
    return 4;
}

int AllocationFieldBits(const AudioFrameParams& p) {
    int bits = 0;
    for (int sb = 0; sb < p.subbandLimit; sb++)
        bits += p.allocation[sb][0].bits * (sb < p.jointStereoBound ? p.channels : 1);
    return bits;
}

int SampleBits(const AllocationEntry& e) { return 12 * e.grouping * e.bits; }

int FirstSmallestPlain(const float* values, float limit) {
    int at = -1;
    for (int i = 0; i < 64; i++)
        if (values[i] < limit) {
            limit = values[i];
            at = i;
        }
    return at;
}

int FirstSmallestSse2(const float* values, float limit) {
    const __m128* v = reinterpret_cast<const __m128*>(values);
    __m128 low = _mm_set1_ps(limit);
    for (int i = 0; i < 16; i++) low = _mm_min_ps(low, v[i]);
    low = _mm_min_ps(low, _mm_shuffle_ps(low, low, _MM_SHUFFLE(1, 0, 3, 2)));
    low = _mm_min_ps(low, _mm_shuffle_ps(low, low, _MM_SHUFFLE(2, 3, 0, 1)));
    if (!(_mm_cvtss_f32(low) < limit)) return -1;
    for (int i = 0;; i++)
        if (int hit = _mm_movemask_ps(_mm_cmpeq_ps(v[i], low))) return 4 * i + __builtin_ctz(hit);
}

}  // namespace

AudioCodingKernels AudioCodingKernelSet = [] {
    AudioCodingKernels k;
    audio_coding_init(false, k);
    return k;
}();

void audio_coding_init(bool simd, AudioCodingKernels& table) {
    table.firstSmallest = simd ? FirstSmallestSse2 : FirstSmallestPlain;
}

void BuildQuantizationTables() {
    ScaleFactorFloat[0] = 134217728.0f;
    ScaleFactorFloat[1] = 106528680.0f;
    ScaleFactorFloat[2] = 84551872.0f;
    for (int i = 3; i < 63; i++) ScaleFactorFloat[i] = ScaleFactorFloat[i - 3] * 0.5f;
    ScaleFactorInt[0] = 134217728;
    ScaleFactorInt[1] = 106528681;
    ScaleFactorInt[2] = 84551870;
    for (int i = 3; i < 63; i++) ScaleFactorInt[i] = static_cast<int32_t>(ScaleFactorFloat[i]);
    for (int i = 0; i < 63; i++)
        for (int q = 0; q < 17; q++) QuantFactor[i][q] = kA[q] / ScaleFactorFloat[i];
    for (int q = 0; q < 17; q++) PowerOfTwo[q] = static_cast<float>(1 << q);
}

void ComputeScaleFactors(const int32_t samples[][3][12][32], int scaleIndex[][3][32], int channels, int limit) {
    for (int ch = 0; ch < channels; ch++)
        for (int part = 0; part < 3; part++) {
            uint32_t peak[32] = {};
            for (int s = 0; s < 12; s++)
                for (int sb = 0; sb < 32; sb++) {
                    int32_t v = samples[ch][part][s][sb];
                    uint32_t magnitude = v < 0 ? 0u - static_cast<uint32_t>(v) : static_cast<uint32_t>(v);
                    peak[sb] = std::max(peak[sb], magnitude);
                }
            for (int sb = 0; sb < 32; sb++) {
                if (sb >= limit) {
                    scaleIndex[ch][part][sb] = 63;
                    continue;
                }
                // The last (smallest) scale factor not below the peak; the
                // table falls from index to index. Index 0 when none is.
                int64_t m = peak[sb];
                int low = 0, high = 62;
                if (ScaleFactorInt[0] < m) high = 0;
                while (low < high) {
                    int mid = (low + high + 1) / 2;
                    if (ScaleFactorInt[mid] >= m)
                        low = mid;
                    else
                        high = mid - 1;
                }
                scaleIndex[ch][part][sb] = low;
            }
        }
}

void SelectScaleFactorPatterns(int scaleIndex[2][3][32], int selection[2][32], const AudioFrameParams& params) {
    for (int ch = 0; ch < params.channels; ch++)
        for (int sb = 0; sb < params.subbandLimit; sb++) {
            int& sf0 = scaleIndex[ch][0][sb];
            int& sf1 = scaleIndex[ch][1][sb];
            int& sf2 = scaleIndex[ch][2][sb];
            switch (kPattern[DifferenceClass(sf0 - sf1)][DifferenceClass(sf1 - sf2)]) {
            case 0x123: selection[ch][sb] = 0; break;
            case 0x122: selection[ch][sb] = 3; sf2 = sf1; break;
            case 0x133: selection[ch][sb] = 3; sf1 = sf2; break;
            case 0x113: selection[ch][sb] = 1; sf1 = sf0; break;
            case 0x111: selection[ch][sb] = 2; sf1 = sf2 = sf0; break;
            case 0x222: selection[ch][sb] = 2; sf0 = sf2 = sf1; break;
            case 0x333: selection[ch][sb] = 2; sf0 = sf1 = sf2; break;
            case 0x444:
                selection[ch][sb] = 2;
                if (sf0 > sf2) sf0 = sf2;
                sf1 = sf2 = sf0;
                break;
            }
        }
}

int BitsForNoNoise(const float smr[2][32], const int selection[2][32], const AudioFrameParams& p) {
    int req = 32 + (p.header->errorProtection ? 16 : 0) + AllocationFieldBits(p);
    bool stereo = p.channels == 2;
    for (int sb = 0; sb < p.subbandLimit; sb++) {
        const AllocationEntry* row = p.allocation[sb];
        int maxAlloc = (1 << row[0].bits) - 1;
        int coded = sb < p.jointStereoBound ? p.channels : 1;
        for (int ch = 0; ch < coded; ch++) {
            int a = 0;
            for (; a < maxAlloc - 1; a++)
                if (AudioSnr[row[a].quantClass + (a > 0 ? 1 : 0)] - smr[ch][sb] >= 0) break;
            if (stereo && sb >= p.jointStereoBound)
                for (; a < maxAlloc - 2; a++)
                    if (AudioSnr[row[a].quantClass + (a > 0 ? 1 : 0)] - smr[1 - ch][sb] >= 0) break;
            if (a > 0) {
                req += SampleBits(row[a]) + 2 + 6 * kScaleCount[selection[ch][sb]];
                if (stereo && sb >= p.jointStereoBound) req += 2 + 6 * kScaleCount[selection[1 - ch][sb]];
            }
        }
    }
    return req;
}

void AllocateBits(const float smr[2][32], const int selection[2][32], int allocation[2][32], int* availableBits,
                  AudioFrameParams& p) {
    if (p.actualMode == 1) {
        p.header->mode = 0;
        p.header->modeExtension = 0;
        p.jointStereoBound = p.subbandLimit;
        if (BitsForNoNoise(smr, selection, p) > *availableBits) {
            p.header->mode = 1;
            int ext = p.subbandLimit <= 8 ? 2 : 4;
            do {
                ext--;
                p.jointStereoBound = kBoundTable[ext];
            } while (BitsForNoNoise(smr, selection, p) > *availableBits && ext > 0);
            p.header->modeExtension = ext;
        }
    }
    AllocateBitsGreedy(smr, selection, allocation, availableBits, p);
}

void AllocateBitsGreedy(const float smr[2][32], const int selection[2][32], int allocation[2][32], int* availableBits,
                        const AudioFrameParams& p) {
    int headerBits = 32, crcBits = p.header->errorProtection ? 16 : 0;
    *availableBits -= AllocationFieldBits(p) + headerBits + crcBits;
    bool stereo = p.channels == 2;
    // The noise-to-mask ratio of every subband still open, channel after
    // channel; closed ones and those past the limit hold +infinity.
    alignas(16) float mnr[64];
    int used[2][32];  // 0 empty, 1 granted, 2 full
    auto setMnr = [&](int ch, int sb, float value) {
        mnr[32 * ch + sb] = used[ch][sb] == 2 || value != value ? INFINITY : value;
    };
    for (int ch = 0; ch < 2; ch++)
        for (int sb = 0; sb < 32; sb++) {
            allocation[ch][sb] = 0;
            used[ch][sb] = 2;
            mnr[32 * ch + sb] = INFINITY;
        }
    for (int ch = 0; ch < p.channels; ch++)
        for (int sb = 0; sb < p.subbandLimit; sb++) {
            used[ch][sb] = 0;
            setMnr(ch, sb, AudioSnr[0] - smr[ch][sb]);
        }
    int (*const firstSmallest)(const float*, float) = AudioCodingKernelSet.firstSmallest;
    int sampleBits = 0, scaleBits = 0, selectBits = 0;
    for (;;) {
        int at = firstSmallest(mnr, 999999.0f);
        if (at < 0) break;
        int minCh = at / 32, minSb = at % 32;
        const AllocationEntry* row = p.allocation[minSb];
        int a = allocation[minCh][minSb];
        int increment = SampleBits(row[a + 1]) - (used[minCh][minSb] == 1 ? SampleBits(row[a]) : 0);
        int sel = 0, scale = 0;
        if (used[minCh][minSb] == 0) {
            sel = 2;
            scale = 6 * kScaleCount[selection[minCh][minSb]];
            if (stereo && minSb >= p.jointStereoBound) {
                sel += 2;
                scale += 6 * kScaleCount[selection[1 - minCh][minSb]];
            }
        }
        if (*availableBits >= sampleBits + scaleBits + selectBits + increment + scale + sel) {
            a = ++allocation[minCh][minSb];
            sampleBits += increment;
            scaleBits += scale;
            selectBits += sel;
            used[minCh][minSb] = 1;
            if (a >= (1 << row[0].bits) - 1) used[minCh][minSb] = 2;
            setMnr(minCh, minSb, AudioSnr[row[a].quantClass + 1] - smr[minCh][minSb]);
        } else {
            used[minCh][minSb] = 2;
            setMnr(minCh, minSb, 0);
        }
        if (stereo && minSb >= p.jointStereoBound) {
            int other = 1 - minCh;
            allocation[other][minSb] = allocation[minCh][minSb];
            used[other][minSb] = used[minCh][minSb];
            setMnr(other, minSb, AudioSnr[row[allocation[other][minSb]].quantClass + 1] - smr[other][minSb]);
        }
    }
    *availableBits -= sampleBits + scaleBits + selectBits;
}

void UpdateAudioCrc(uint32_t value, int bits, uint32_t* crc) {
    for (int i = bits - 1; i >= 0; i--) {
        uint32_t carry = ((*crc >> 15) ^ (value >> i)) & 1;
        *crc = (*crc << 1) & 0xFFFF;
        if (carry) *crc ^= 0x8005;
    }
}

void ComputeAudioFrameCrc(const AudioFrameParams& p, const int allocation[2][32], const int selection[2][32],
                          uint32_t* crc) {
    const AudioFrameHeader& h = *p.header;
    *crc = 0xFFFF;
    UpdateAudioCrc(h.bitrateIndex, 4, crc);
    UpdateAudioCrc(h.samplingFrequency, 2, crc);
    UpdateAudioCrc(h.padding, 1, crc);
    UpdateAudioCrc(h.extension, 1, crc);
    UpdateAudioCrc(h.mode, 2, crc);
    UpdateAudioCrc(h.modeExtension, 2, crc);
    UpdateAudioCrc(h.copyright, 1, crc);
    UpdateAudioCrc(h.original, 1, crc);
    UpdateAudioCrc(h.emphasis, 2, crc);
    for (int sb = 0; sb < p.subbandLimit; sb++)
        for (int ch = 0; ch < (sb < p.jointStereoBound ? p.channels : 1); ch++)
            UpdateAudioCrc(allocation[ch][sb], p.allocation[sb][0].bits, crc);
    for (int sb = 0; sb < p.subbandLimit; sb++)
        for (int ch = 0; ch < p.channels; ch++)
            if (allocation[ch][sb]) UpdateAudioCrc(selection[ch][sb], 2, crc);
}

void WriteAudioFrameHeader(const AudioFrameParams& p, AudioBitStream& s) {
    const AudioFrameHeader& h = *p.header;
    PutAudioBits(s, 0xFFF, 12);
    PutAudioBits(s, h.version, 1);
    PutAudioBits(s, 4 - h.layer, 2);
    PutAudioBit(s, h.errorProtection ? 0 : 1);
    PutAudioBits(s, h.bitrateIndex, 4);
    PutAudioBits(s, h.samplingFrequency, 2);
    PutAudioBit(s, h.padding);
    PutAudioBit(s, h.extension);
    PutAudioBits(s, h.mode, 2);
    PutAudioBits(s, h.modeExtension, 2);
    PutAudioBit(s, h.copyright);
    PutAudioBit(s, h.original);
    PutAudioBits(s, h.emphasis, 2);
}

void WriteScaleFactors(const int allocation[2][32], const int selection[2][32], const int scaleIndex[2][3][32],
                       const AudioFrameParams& p, AudioBitStream& s) {
    for (int sb = 0; sb < p.subbandLimit; sb++)
        for (int ch = 0; ch < p.channels; ch++)
            if (allocation[ch][sb]) PutAudioBits(s, selection[ch][sb], 2);
    for (int sb = 0; sb < p.subbandLimit; sb++)
        for (int ch = 0; ch < p.channels; ch++) {
            if (!allocation[ch][sb]) continue;
            switch (selection[ch][sb]) {
            case 0:
                for (int part = 0; part < 3; part++) PutAudioBits(s, scaleIndex[ch][part][sb], 6);
                break;
            case 1:
            case 3:
                PutAudioBits(s, scaleIndex[ch][0][sb], 6);
                PutAudioBits(s, scaleIndex[ch][2][sb], 6);
                break;
            case 2:
                PutAudioBits(s, scaleIndex[ch][0][sb], 6);
                break;
            }
        }
}

void QuantizeSubbandSamples(const int scaleIndex[2][3][32], const int32_t samples[2][3][12][32],
                            const int jointScaleIndex[3][32], const int32_t jointSamples[3][12][32],
                            const int allocation[2][32], uint32_t codes[2][3][12][32], const AudioFrameParams& p) {
    bool stereo = p.channels == 2;
    for (int sb = 0; sb < p.subbandLimit; sb++)
        for (int ch = 0; ch < (sb < p.jointStereoBound ? p.channels : 1); ch++) {
            int a = allocation[ch][sb];
            if (!a) continue;
            const AllocationEntry& e = p.allocation[sb][a];
            bool joint = stereo && sb >= p.jointStereoBound;
            int q = e.quantClass, n = e.signPosition;
            const float offset = kB[q], steps = PowerOfTwo[n];
            const int32_t signBit = 1 << n;
            // A sample exactly at its scale factor would give one step past
            // the top code, which decoders misread.
            const uint32_t top = static_cast<uint32_t>(e.steps - 1);
            for (int part = 0; part < 3; part++) {
                const float factor = QuantFactor[joint ? jointScaleIndex[part][sb] : scaleIndex[ch][part][sb]][q];
                const int32_t(*in)[32] = joint ? jointSamples[part] : samples[ch][part];
                for (int smp = 0; smp < 12; smp++) {
                    // 0 x factor + offset is the offset itself.
                    float d = static_cast<float>(in[smp][sb]) * factor + offset;
                    // Both candidates lie well inside the int32 range.
                    int32_t high = static_cast<int32_t>(d * steps) | signBit;
                    int32_t low = static_cast<int32_t>((d + 1.0f) * steps);
                    uint32_t code = static_cast<uint32_t>(d >= 0 ? high : low);
                    codes[ch][part][smp][sb] = code > top ? top : code;
                }
            }
        }
}

void WriteSubbandSamples(const uint32_t codes[2][3][12][32], const int allocation[2][32], const AudioFrameParams& p,
                         AudioBitStream& s) {
    for (int part = 0; part < 3; part++)
        for (int smp = 0; smp < 12; smp += 3)
            for (int sb = 0; sb < p.subbandLimit; sb++)
                for (int ch = 0; ch < (sb < p.jointStereoBound ? p.channels : 1); ch++) {
                    int a = allocation[ch][sb];
                    if (!a) continue;
                    const AllocationEntry& e = p.allocation[sb][a];
                    if (e.grouping == 3) {
                        for (int k = 0; k < 3; k++) PutAudioBits(s, codes[ch][part][smp + k][sb], e.bits);
                    } else {
                        uint32_t steps = static_cast<uint32_t>(e.steps);
                        uint32_t code = codes[ch][part][smp][sb] +
                                        steps * (codes[ch][part][smp + 1][sb] + steps * codes[ch][part][smp + 2][sb]);
                        PutAudioBits(s, code, e.bits);
                    }
                }
}

int EncodeAudioFrame() {
    if (Audio.AudioWriteState != 0) return -1;
    try {
        Audio.AudioRunFlag = PumpMessagesDuringAudio();
        AudioFrameParams& p = Audio.params;
        AudioFrameHeader& h = Audio.header;
        Audio.readPos[0] = Audio.pcm[0];
        Audio.readPos[1] = Audio.pcm[1];
        if (Audio.fractionalSlots != 0) {
            if (Audio.slotLag <= Audio.fractionalSlots - 1.0f) {
                h.padding = 1;
                Audio.extraSlot = 1;
                Audio.slotLag += 1.0f - Audio.fractionalSlots;
            } else {
                h.padding = 0;
                Audio.extraSlot = 0;
                Audio.slotLag -= Audio.fractionalSlots;
            }
        }
        Audio.availableBits = (Audio.wholeSlots + Audio.extraSlot) * 8;

        for (int part = 0; part < 3; part++)
            for (int smp = 0; smp < 12; smp++)
                for (int ch = 0; ch < p.channels; ch++) {
                    WindowSubband(ch);
                    FilterSubband(Audio.windowed[ch], Audio.sbSample[ch][part][smp]);
                }
        ComputeScaleFactors(Audio.sbSample, Audio.scaleIndex, p.channels, p.subbandLimit);
        if (p.actualMode == 1) {
            for (int part = 0; part < 3; part++)
                for (int smp = 0; smp < 12; smp++)
                    for (int sb = 0; sb < p.subbandLimit; sb++)
                        Audio.jSample[part][smp][sb] =
                            (Audio.sbSample[0][part][smp][sb] >> 1) + (Audio.sbSample[1][part][smp][sb] >> 1);
            int32_t(*joint)[3][12][32] = &Audio.jSample;
            int(*jointIndex)[3][32] = &Audio.jointScaleIndex;
            ComputeScaleFactors(joint, jointIndex, 1, p.subbandLimit);
        }
        for (int ch = 0; ch < p.channels; ch++)
            PsychoacousticModel(Audio.pcm[ch], Audio.modelHistory[ch], ch, Audio.smr[ch], Audio.sampleRate);

        SelectScaleFactorPatterns(Audio.scaleIndex, Audio.selection, p);
        AllocateBits(Audio.smr, Audio.selection, Audio.allocation, &Audio.availableBits, p);
        uint32_t crc = 0;
        if (h.errorProtection) ComputeAudioFrameCrc(p, Audio.allocation, Audio.selection, &crc);

        AudioBitStream& s = Audio.stream;
        WriteAudioFrameHeader(p, s);
        if (h.errorProtection) PutAudioBits(s, crc, 16);
        for (int sb = 0; sb < p.subbandLimit; sb++)
            for (int ch = 0; ch < (sb < p.jointStereoBound ? p.channels : 1); ch++)
                PutAudioBits(s, Audio.allocation[ch][sb], p.allocation[sb][0].bits);
        WriteScaleFactors(Audio.allocation, Audio.selection, Audio.scaleIndex, p, s);
        QuantizeSubbandSamples(Audio.scaleIndex, Audio.sbSample, Audio.jointScaleIndex, Audio.jSample,
                               Audio.allocation, Audio.codes, p);
        WriteSubbandSamples(Audio.codes, Audio.allocation, p, s);
        for (int i = 0; i < Audio.availableBits; i++) PutAudioBit(s, 0);

        int64_t frameBits = s.totalBits - Audio.sentBits;
        if (frameBits % 8 != 0)
            Audio.AudioMessageBuffer = "Sent " + std::to_string(frameBits) + " bits = " + std::to_string(frameBits / 8) +
                                       " slots plus " + std::to_string(frameBits % 8) + "\n";
        Audio.sentBits += frameBits;
    } catch (const AudioJump&) {
        Audio.AudioEncodeFailed = 1;
        return -1;
    } catch (const std::bad_alloc&) {
        Audio.AudioMessageBuffer = "Unable to allocate frame blocks\n";
        Audio.AudioEncodeFailed = 1;
        return -1;
    }
    return Audio.AudioWriteState != 0 ? -1 : 0;
}
