// Variable-length coding of macroblock syntax elements.
#include "engine/Vlc.h"

#include <emmintrin.h>

#include <array>
#include <cstdlib>

#include "engine/BitWriter.h"
#include "engine/EngineState.h"
#include "engine/PictureCoder.h"
#include "platform/Format.h"
#include "settings/EncoderSettings.h"
#include "settings/Report.h"

namespace {

void PutCode(VlcCode c) { PutBits(c.length, c.code); }

// A code followed by its sign bit, as one queue entry.
void PutSignedCode(VlcCode c, bool negative) { PutBits(c.length + 1, (uint32_t{c.code} << 1) | (negative ? 1u : 0u)); }

// Bits of a non-negative value without its leading zeros (0 for 0).
int SignificantBits(int a) { return a == 0 ? 0 : 32 - __builtin_clz(static_cast<unsigned>(a)); }

// For each group of four raster positions (4 k to 4 k + 3) and each pattern
// of them being nonzero, the same positions as scan-order bits.
using NibbleScanTables = std::array<std::array<uint64_t, 16>, 16>;
const NibbleScanTables& RasterNibbleToScan() {
    static const NibbleScanTables tables = [] {
        int scanPosition[64];
        for (int n = 0; n < 64; ++n) scanPosition[ZigzagScanTable[n]] = n;
        NibbleScanTables t{};
        for (int k = 0; k < 16; ++k)
            for (int v = 0; v < 16; ++v)
                for (int j = 0; j < 4; ++j)
                    if (v & (1 << j)) t[k][v] |= uint64_t{1} << scanPosition[4 * k + j];
        return t;
    }();
    return tables;
}

uint64_t RasterToScan(uint64_t raster) {
    const NibbleScanTables& t = RasterNibbleToScan();
    uint64_t scan = 0;
    for (int k = 0; k < 16; ++k) scan |= t[k][(raster >> (4 * k)) & 15];
    return scan;
}

}  // namespace

uint64_t ScanNonzeroMaskPlain(const int16_t* block) {
    uint64_t raster = 0;
    for (int i = 0; i < 64; ++i) raster |= uint64_t{block[i] != 0} << i;
    return RasterToScan(raster);
}

uint64_t ScanNonzeroMaskSse2(const int16_t* block) {
    const __m128i zero = _mm_setzero_si128();
    uint64_t raster = 0;
    for (int r = 0; r < 4; ++r) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + 16 * r));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + 16 * r + 8));
        const uint32_t zeros =
            uint32_t(_mm_movemask_epi8(_mm_packs_epi16(_mm_cmpeq_epi16(a, zero), _mm_cmpeq_epi16(b, zero))));
        raster |= uint64_t(~zeros & 0xFFFFu) << (16 * r);
    }
    return RasterToScan(raster);
}

uint32_t AcShortCodes[2][kShortCodeRuns * kShortCodeLevels];

namespace {

// The table code of (run, level magnitude a), a >= 1, in the tables of
// intra_vlc_format `format`; length 0 when the pair has none.
VlcCode TableCoefficientCode(int format, int run, int a) {
    if (run >= 0 && run < 2 && a <= 40) return format ? AcCoeffIntraVlcTable1[run][a - 1] : AcCoeffVlcTable1[run][a - 1];
    if (run >= 2 && run < 32 && a <= 5) return format ? AcCoeffIntraVlcTable2[run - 2][a - 1] : AcCoeffVlcTable2[run - 2][a - 1];
    return {0, 0};
}

void FillShortCodes() {
    for (int format = 0; format < 2; ++format)
        for (int run = 0; run < kShortCodeRuns; ++run)
            for (int a = 1; a <= kShortCodeLevels; ++a) {
                const VlcCode c = TableCoefficientCode(format, run, a);
                AcShortCodes[format][run * kShortCodeLevels + a - 1] =
                    c.length == 0 ? 0 : (uint32_t{c.code} << 7) | static_cast<uint32_t>(c.length + 1);
            }
}

}  // namespace

VlcKernels VlcKernelSet = [] {
    VlcKernels k;
    vlc_init(false, k);
    return k;
}();

// Also runs while the program starts (VlcKernelSet), so the short codes are
// in place before the first code is written.
void vlc_init(bool simd, VlcKernels& kernels) {
    static const bool filled = (FillShortCodes(), true);
    (void)filled;
    kernels.scanNonzeroMask = simd ? ScanNonzeroMaskSse2 : ScanNonzeroMaskPlain;
}

void PutDCDifference(const VlcCode* table, int difference) {
    const int a = std::abs(difference);
    if (a >= 2048 || (EncoderSettings.mpeg1 && a >= 256)) {
        ErrorMessageBuffer = platform::Format("DC value out of range (%d)\n", difference);
        ReportFatalError(ErrorMessageBuffer);
        return;
    }
    const int size = SignificantBits(a);
    PutCode(table[size]);
    if (size > 0) PutBits(size, static_cast<uint32_t>(difference > 0 ? difference : difference + (1 << size) - 1));
}

void PutDCLuminance(int difference) { PutDCDifference(DcLumaVlcTable, difference); }
void PutDCChrominance(int difference) { PutDCDifference(DcChromaVlcTable, difference); }

void PutFirstACCoefficient(int run, int level) {
    BitQueueAppender out(1);
    AppendFirstACCoefficient(out, run, level);
    out.Commit();
}

void PutACCoefficient(int run, int level, int intraVlc) {
    BitQueueAppender out(1);
    AppendACCoefficient(out, run, level, intraVlc);
    out.Commit();
}

void PutLongACCoefficient(int run, int level, int intraVlc) {
    const int a = std::abs(level);
    if (run < 0 || run > 63 || level == 0 || a >= 2048 || (EncoderSettings.mpeg1 && a >= 256)) {
        ErrorMessageBuffer = platform::Format("AC value out of range (run=%d, signed_level=%d)\n", run, level);
        ReportFatalError(ErrorMessageBuffer);
        return;
    }
    const VlcCode entry = TableCoefficientCode(intraVlc ? 1 : 0, run, a);
    if (entry.length != 0) {
        PutSignedCode(entry, level < 0);
        return;
    }
    PutCode(CoefficientEscapeCode);
    PutBits(6, static_cast<uint32_t>(run));
    if (!EncoderSettings.mpeg1) {
        PutBits(12, static_cast<uint32_t>(level));
        return;
    }
    if (level > 127) PutBits(8, 0x00);
    else if (level < -127) PutBits(8, 0x80);
    PutBits(8, static_cast<uint32_t>(level));
}

void PutAddressIncrement(int increment) {
    if (increment < 1) return;
    for (int escapes = (increment - 1) / 33; escapes > 0; --escapes) {
        PutCode(AddressEscapeCode);
        increment -= 33;
    }
    PutCode(AddressIncrementVlcTable[increment - 1]);
}

void PutMacroblockType(int pictureType, int typeFlags) {
    if (pictureType < 1 || pictureType > 3 || typeFlags < 0 || typeFlags > 31) return;
    PutCode(MacroblockTypeVlcTable[pictureType - 1][typeFlags]);
}

void PutCodedBlockPattern(int pattern) {
    if (pattern < 0 || pattern > 63) return;
    PutCode(CodedBlockPatternVlcTable[pattern]);
}

void PutMotionCode(int motionCode) {
    const int a = std::abs(motionCode);
    if (a > 16) return;
    if (a == 0) PutCode(MotionCodeVlcTable[0]);
    else PutSignedCode(MotionCodeVlcTable[a], motionCode < 0);
}
