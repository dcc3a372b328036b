// Variable-length coding of macroblock syntax: intra DC differences, DCT
// coefficients as (run, level), address increments, macroblock types, coded
// block patterns and motion codes. Every code goes through PutBits.
#pragma once

#include <cstdint>

#include "engine/BitWriter.h"
#include "engine/VlcTables.h"

// Intra DC differences; out of range (2048 and above, 256 and above in MPEG-1)
// is a fatal error and nothing is written.
void PutDCLuminance(int difference);
void PutDCChrominance(int difference);
void PutDCDifference(const VlcCode* table, int difference);

// The first coefficient of a non-intra block (run 0, level +-1 has a short code there).
void PutFirstACCoefficient(int run, int level);
// Any other coefficient; intraVlc selects the table for intra_vlc_format 1.
// Run 0..63 and level 1..2047 in magnitude (1..255 in MPEG-1) are allowed;
// anything else is a fatal error and nothing is written.
void PutACCoefficient(int run, int level, int intraVlc);
// The same for coefficients outside the short codes of PutShortACCoefficient.
void PutLongACCoefficient(int run, int level, int intraVlc);

// The short coefficient codes of both tables for run 0..31 and level 1..40
// in magnitude, in one array without holes to test: the code with room for
// its sign bit above six bits, then the length with the sign bit counted; 0
// where the pair has no short code.
constexpr int kShortCodeRuns = 32, kShortCodeLevels = 40;
extern uint32_t AcShortCodes[2][kShortCodeRuns * kShortCodeLevels];

// PutACCoefficient on a run of codes being queued: the common short codes
// (their run and level are valid in every standard) go out in line with their
// sign bit, the others through PutLongACCoefficient.
inline void AppendACCoefficient(BitQueueAppender& out, int run, int level, int intraVlc) {
    const int a = level < 0 ? -level : level;
    if (unsigned(run) < kShortCodeRuns && unsigned(a - 1) < kShortCodeLevels) {
        const uint32_t entry = AcShortCodes[intraVlc ? 1 : 0][run * kShortCodeLevels + a - 1];
        if (entry != 0) {
            out.Put(static_cast<int>(entry & 63), (entry >> 6) | (level < 0 ? 1u : 0u));
            return;
        }
    }
    out.Commit();
    PutLongACCoefficient(run, level, intraVlc);
    out.Reload();
}

// PutFirstACCoefficient on a run of codes being queued.
inline void AppendFirstACCoefficient(BitQueueAppender& out, int run, int level) {
    if (run == 0 && (level == 1 || level == -1)) out.Put(2, level == 1 ? 0b10 : 0b11);
    else AppendACCoefficient(out, run, level, 0);
}

// Increment 1 or more; above 33 with one escape per 33.
void PutAddressIncrement(int increment);
// Picture type 1 to 3, type flags as in MacroblockInfo::typeFlags.
void PutMacroblockType(int pictureType, int typeFlags);
// Pattern 0 to 63, block 0 in the highest bit.
void PutCodedBlockPattern(int pattern);
// motion_code -16 to 16: the magnitude's code, then a sign bit unless 0.
void PutMotionCode(int motionCode);

// Bit n set where the coefficient at zigzag scan position n of the 8x8 block
// is not zero. Both forms give the same mask.
uint64_t ScanNonzeroMaskPlain(const int16_t* block);
uint64_t ScanNonzeroMaskSse2(const int16_t* block);

struct VlcKernels {
    uint64_t (*scanNonzeroMask)(const int16_t* block);
};
// Fills the table with the plain kernel, or with the SIMD one when `simd`.
void vlc_init(bool simd, VlcKernels& kernels);
// The kernels the engine runs: plain until SelectEngineKernels fills it
// when an encoding is set up.
extern VlcKernels VlcKernelSet;

inline uint64_t ScanNonzeroMask(const int16_t* block) { return VlcKernelSet.scanNonzeroMask(block); }
