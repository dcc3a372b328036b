// Variable-length coder: every table entry and escape form against the
// standard's code lists, the range errors, and the address escapes.
#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <set>
#include <utility>

#include "engine/EngineTypes.h"
#include "engine/PictureCoder.h"
#include "engine/Vlc.h"
#include "platform/MessageBox.h"
#include "settings/EncoderSettings.h"
#include "tests/engine/StreamCapture.h"

namespace {

struct CoefficientCode {
    int run, level;
    const char* nonIntra;
    const char* intra;
};
struct MacroblockTypeCode {
    int pictureType, flags;
    const char* code;
};

// Every (run, level) pair with a code: Table B.14 code, then Table B.15 code (no sign bit).
const CoefficientCode kCoefficientCodes[] = {
    {0, 1, "11", "10"}, {0, 2, "0100", "110"},
    {0, 3, "00101", "0111"}, {0, 4, "0000110", "11100"},
    {0, 5, "00100110", "11101"}, {0, 6, "00100001", "000101"},
    {0, 7, "0000001010", "000100"}, {0, 8, "000000011101", "1111011"},
    {0, 9, "000000011000", "1111100"}, {0, 10, "000000010011", "00100011"},
    {0, 11, "000000010000", "00100010"}, {0, 12, "0000000011010", "11111010"},
    {0, 13, "0000000011001", "11111011"}, {0, 14, "0000000011000", "11111110"},
    {0, 15, "0000000010111", "11111111"}, {0, 16, "00000000011111", "00000000011111"},
    {0, 17, "00000000011110", "00000000011110"}, {0, 18, "00000000011101", "00000000011101"},
    {0, 19, "00000000011100", "00000000011100"}, {0, 20, "00000000011011", "00000000011011"},
    {0, 21, "00000000011010", "00000000011010"}, {0, 22, "00000000011001", "00000000011001"},
    {0, 23, "00000000011000", "00000000011000"}, {0, 24, "00000000010111", "00000000010111"},
    {0, 25, "00000000010110", "00000000010110"}, {0, 26, "00000000010101", "00000000010101"},
    {0, 27, "00000000010100", "00000000010100"}, {0, 28, "00000000010011", "00000000010011"},
    {0, 29, "00000000010010", "00000000010010"}, {0, 30, "00000000010001", "00000000010001"},
    {0, 31, "00000000010000", "00000000010000"}, {0, 32, "000000000011000", "000000000011000"},
    {0, 33, "000000000010111", "000000000010111"}, {0, 34, "000000000010110", "000000000010110"},
    {0, 35, "000000000010101", "000000000010101"}, {0, 36, "000000000010100", "000000000010100"},
    {0, 37, "000000000010011", "000000000010011"}, {0, 38, "000000000010010", "000000000010010"},
    {0, 39, "000000000010001", "000000000010001"}, {0, 40, "000000000010000", "000000000010000"},
    {1, 1, "011", "010"}, {1, 2, "000110", "00110"},
    {1, 3, "00100101", "1111001"}, {1, 4, "0000001100", "00100111"},
    {1, 5, "000000011011", "00100000"}, {1, 6, "0000000010110", "0000000010110"},
    {1, 7, "0000000010101", "0000000010101"}, {1, 8, "000000000011111", "000000000011111"},
    {1, 9, "000000000011110", "000000000011110"}, {1, 10, "000000000011101", "000000000011101"},
    {1, 11, "000000000011100", "000000000011100"}, {1, 12, "000000000011011", "000000000011011"},
    {1, 13, "000000000011010", "000000000011010"}, {1, 14, "000000000011001", "000000000011001"},
    {1, 15, "0000000000010011", "0000000000010011"}, {1, 16, "0000000000010010", "0000000000010010"},
    {1, 17, "0000000000010001", "0000000000010001"}, {1, 18, "0000000000010000", "0000000000010000"},
    {2, 1, "0101", "00101"}, {2, 2, "0000100", "0000111"},
    {2, 3, "0000001011", "11111100"}, {2, 4, "000000010100", "0000001100"},
    {2, 5, "0000000010100", "0000000010100"}, {3, 1, "00111", "00111"},
    {3, 2, "00100100", "00100110"}, {3, 3, "000000011100", "000000011100"},
    {3, 4, "0000000010011", "0000000010011"}, {4, 1, "00110", "000110"},
    {4, 2, "0000001111", "11111101"}, {4, 3, "000000010010", "000000010010"},
    {5, 1, "000111", "000111"}, {5, 2, "0000001001", "000000100"},
    {5, 3, "0000000010010", "0000000010010"}, {6, 1, "000101", "0000110"},
    {6, 2, "000000011110", "000000011110"}, {6, 3, "0000000000010100", "0000000000010100"},
    {7, 1, "000100", "0000100"}, {7, 2, "000000010101", "000000010101"},
    {8, 1, "0000111", "0000101"}, {8, 2, "000000010001", "000000010001"},
    {9, 1, "0000101", "1111000"}, {9, 2, "0000000010001", "0000000010001"},
    {10, 1, "00100111", "1111010"}, {10, 2, "0000000010000", "0000000010000"},
    {11, 1, "00100011", "00100001"}, {11, 2, "0000000000011010", "0000000000011010"},
    {12, 1, "00100010", "00100101"}, {12, 2, "0000000000011001", "0000000000011001"},
    {13, 1, "00100000", "00100100"}, {13, 2, "0000000000011000", "0000000000011000"},
    {14, 1, "0000001110", "000000101"}, {14, 2, "0000000000010111", "0000000000010111"},
    {15, 1, "0000001101", "000000111"}, {15, 2, "0000000000010110", "0000000000010110"},
    {16, 1, "0000001000", "0000001101"}, {16, 2, "0000000000010101", "0000000000010101"},
    {17, 1, "000000011111", "000000011111"}, {18, 1, "000000011010", "000000011010"},
    {19, 1, "000000011001", "000000011001"}, {20, 1, "000000010111", "000000010111"},
    {21, 1, "000000010110", "000000010110"}, {22, 1, "0000000011111", "0000000011111"},
    {23, 1, "0000000011110", "0000000011110"}, {24, 1, "0000000011101", "0000000011101"},
    {25, 1, "0000000011100", "0000000011100"}, {26, 1, "0000000011011", "0000000011011"},
    {27, 1, "0000000000011111", "0000000000011111"}, {28, 1, "0000000000011110", "0000000000011110"},
    {29, 1, "0000000000011101", "0000000000011101"}, {30, 1, "0000000000011100", "0000000000011100"},
    {31, 1, "0000000000011011", "0000000000011011"},
};
// dct_dc_size by size: luminance code, chrominance code.
const char* const kDcSizeCodes[12][2] = {
    {"100", "00"}, {"00", "01"}, {"01", "10"}, {"101", "110"},
    {"110", "1110"}, {"1110", "11110"}, {"11110", "111110"}, {"111110", "1111110"},
    {"1111110", "11111110"}, {"11111110", "111111110"}, {"111111110", "1111111110"}, {"111111111", "1111111111"},
};
const char* const kAddressIncrementCodes[33] = {
    "1", "011", "010", "0011", "0010", "00011", "00010", "0000111",
    "0000110", "00001011", "00001010", "00001001", "00001000", "00000111", "00000110", "0000010111",
    "0000010110", "0000010101", "0000010100", "0000010011", "0000010010", "00000100011", "00000100010", "00000100001",
    "00000100000", "00000011111", "00000011110", "00000011101", "00000011100", "00000011011", "00000011010", "00000011001",
    "00000011000",
};
// (picture type, type flags, code)
const MacroblockTypeCode kMacroblockTypeCodes[] = {
    {I_PICTURE, 1, "1"}, {I_PICTURE, 17, "01"}, {P_PICTURE, 10, "1"}, {P_PICTURE, 2, "01"},
    {P_PICTURE, 8, "001"}, {P_PICTURE, 18, "00001"}, {P_PICTURE, 26, "00010"}, {P_PICTURE, 1, "00011"},
    {P_PICTURE, 17, "000001"}, {B_PICTURE, 12, "10"}, {B_PICTURE, 14, "11"}, {B_PICTURE, 4, "010"},
    {B_PICTURE, 6, "011"}, {B_PICTURE, 8, "0010"}, {B_PICTURE, 10, "0011"}, {B_PICTURE, 30, "00010"},
    {B_PICTURE, 1, "00011"}, {B_PICTURE, 17, "000001"}, {B_PICTURE, 22, "000010"}, {B_PICTURE, 26, "000011"},
};
const char* const kCodedBlockPatternCodes[64] = {
    "000000001", "01011", "01001", "001101", "1101", "0010111", "0010011", "00011111",
    "1100", "0010110", "0010010", "00011110", "10011", "00011011", "00010111", "00010011",
    "1011", "0010101", "0010001", "00011101", "10001", "00011001", "00010101", "00010001",
    "001111", "00001111", "00001101", "000000011", "01111", "00001011", "00000111", "000000111",
    "1010", "0010100", "0010000", "00011100", "001110", "00001110", "00001100", "000000010",
    "10000", "00011000", "00010100", "00010000", "01110", "00001010", "00000110", "000000110",
    "10010", "00011010", "00010110", "00010010", "01101", "00001001", "00000101", "000000101",
    "01100", "00001000", "00000100", "000000100", "111", "01010", "01000", "001100",
};
const char* const kMotionCodes[17] = {
    "1", "01", "001", "0001", "000011", "0000101",
    "0000100", "0000011", "000001011", "000001010", "000001001", "0000010001",
    "0000010000", "0000001111", "0000001110", "0000001101", "0000001100",
};

std::string Emit(const std::function<void()>& write) {
    StreamCapture capture;
    write();
    return capture.FinishBits();
}

std::string Binary(int value, int bits) {
    std::string s;
    for (int i = bits - 1; i >= 0; --i) s += (value >> i) & 1 ? '1' : '0';
    return s;
}

class VlcTest : public ::testing::Test {
protected:
    void SetUp() override { savedMpeg1_ = EncoderSettings.mpeg1; }
    void TearDown() override { EncoderSettings.mpeg1 = savedMpeg1_; }
    int savedMpeg1_ = 0;
    platform::ScriptedMessageBoxes boxes_;
};

TEST_F(VlcTest, EveryCoefficientCodeOfBothTablesWithItsSign) {
    EncoderSettings.mpeg1 = 0;
    std::set<std::pair<int, int>> coded;
    for (const auto& c : kCoefficientCodes) {
        coded.insert({c.run, c.level});
        EXPECT_EQ(Emit([&] { PutACCoefficient(c.run, c.level, 0); }), std::string(c.nonIntra) + "0")
            << c.run << "," << c.level;
        EXPECT_EQ(Emit([&] { PutACCoefficient(c.run, -c.level, 0); }), std::string(c.nonIntra) + "1");
        EXPECT_EQ(Emit([&] { PutACCoefficient(c.run, c.level, 1); }), std::string(c.intra) + "0");
        EXPECT_EQ(Emit([&] { PutACCoefficient(c.run, -c.level, 1); }), std::string(c.intra) + "1");
    }
    // Every other pair is escaped, the same way in both tables.
    for (int run = 0; run < 64; ++run) {
        for (int level = 1; level <= 45; ++level) {
            if (coded.count({run, level})) continue;
            const std::string escaped = "000001" + Binary(run, 6) + Binary(level, 12);
            ASSERT_EQ(Emit([&] { PutACCoefficient(run, level, 0); }), escaped) << run << "," << level;
            ASSERT_EQ(Emit([&] { PutACCoefficient(run, level, 1); }), escaped);
        }
    }
    EXPECT_TRUE(boxes_.Texts().empty());
}

TEST_F(VlcTest, FirstCoefficientOfANonIntraBlock) {
    EncoderSettings.mpeg1 = 0;
    EXPECT_EQ(Emit([] { PutFirstACCoefficient(0, 1); }), "10");
    EXPECT_EQ(Emit([] { PutFirstACCoefficient(0, -1); }), "11");
    EXPECT_EQ(Emit([] { PutFirstACCoefficient(0, 2); }), "01000");
    EXPECT_EQ(Emit([] { PutFirstACCoefficient(1, -1); }), "0111");
}

TEST_F(VlcTest, EscapeFormsOfBothStreamKinds) {
    EncoderSettings.mpeg1 = 1;
    const std::string head = "000001" + Binary(3, 6);
    EXPECT_EQ(Emit([] { PutACCoefficient(3, 127, 0); }), head + "01111111");
    EXPECT_EQ(Emit([] { PutACCoefficient(3, -127, 0); }), head + "10000001");
    EXPECT_EQ(Emit([] { PutACCoefficient(3, 128, 0); }), head + "00000000" + "10000000");
    EXPECT_EQ(Emit([] { PutACCoefficient(3, -128, 0); }), head + "10000000" + "10000000");
    EXPECT_EQ(Emit([] { PutACCoefficient(3, 200, 0); }), head + "00000000" + "11001000");
    EXPECT_EQ(Emit([] { PutACCoefficient(3, -255, 0); }), head + "10000000" + "00000001");
    EXPECT_EQ(Emit([] { PutACCoefficient(0, 41, 0); }), "000001000000" "00101001");
    EXPECT_EQ(Emit([] { PutACCoefficient(1, 19, 1); }), "000001000001" "00010011");
    EXPECT_EQ(Emit([] { PutACCoefficient(32, 1, 0); }), "000001100000" "00000001");

    EncoderSettings.mpeg1 = 0;
    EXPECT_EQ(Emit([] { PutACCoefficient(3, 127, 0); }), head + "000001111111");
    EXPECT_EQ(Emit([] { PutACCoefficient(3, 128, 0); }), head + "000010000000");
    EXPECT_EQ(Emit([] { PutACCoefficient(63, -2047, 1); }), "000001111111" "100000000001");
    EXPECT_TRUE(boxes_.Texts().empty());
}

TEST_F(VlcTest, OutOfRangeValuesAreReportedAndWriteNothing) {
    struct Case {
        int mpeg1, run, level;
        const char* text;
    } cases[] = {
        {0, 64, 1, "AC value out of range (run=64, signed_level=1)\n"},
        {0, -1, 1, "AC value out of range (run=-1, signed_level=1)\n"},
        {0, 0, 0, "AC value out of range (run=0, signed_level=0)\n"},
        {0, 5, 2048, "AC value out of range (run=5, signed_level=2048)\n"},
        {0, 5, -2048, "AC value out of range (run=5, signed_level=-2048)\n"},
        {1, 5, 256, "AC value out of range (run=5, signed_level=256)\n"},
    };
    for (const auto& c : cases) {
        EncoderSettings.mpeg1 = c.mpeg1;
        boxes_.Clear();
        EXPECT_EQ(Emit([&] { PutACCoefficient(c.run, c.level, 0); }), "");
        ASSERT_EQ(boxes_.Texts().size(), 1u);
        EXPECT_EQ(boxes_.Texts()[0], c.text);
    }
    EncoderSettings.mpeg1 = 1;
    boxes_.Clear();
    EXPECT_EQ(Emit([] { PutDCLuminance(256); }), "");
    EXPECT_EQ(Emit([] { PutDCChrominance(-256); }), "");
    EncoderSettings.mpeg1 = 0;
    EXPECT_EQ(Emit([] { PutDCLuminance(2048); }), "");
    EXPECT_EQ(boxes_.Texts(), (std::vector<std::string>{"DC value out of range (256)\n",
                                                         "DC value out of range (-256)\n",
                                                         "DC value out of range (2048)\n"}));
}

TEST_F(VlcTest, DcDifferencesOfEverySize) {
    EncoderSettings.mpeg1 = 0;
    EXPECT_EQ(Emit([] { PutDCLuminance(0); }), "100");
    EXPECT_EQ(Emit([] { PutDCChrominance(0); }), "00");
    EXPECT_EQ(Emit([] { PutDCLuminance(-1); }), "000");
    for (int size = 1; size <= 11; ++size) {
        const int low = 1 << (size - 1), high = (1 << size) - 1;
        for (int table = 0; table < 2; ++table) {
            auto put = [&](int d) { return Emit([&] { table ? PutDCChrominance(d) : PutDCLuminance(d); }); };
            const std::string code = kDcSizeCodes[size][table];
            EXPECT_EQ(put(low), code + Binary(low, size)) << size;
            EXPECT_EQ(put(high), code + Binary(high, size));
            EXPECT_EQ(put(-low), code + Binary(low - 1, size));  // difference + 2^size - 1
            EXPECT_EQ(put(-high), code + Binary(0, size));
        }
    }
    EncoderSettings.mpeg1 = 1;
    EXPECT_EQ(Emit([] { PutDCLuminance(255); }), std::string(kDcSizeCodes[8][0]) + "11111111");
    EXPECT_TRUE(boxes_.Texts().empty());
}

TEST_F(VlcTest, AddressIncrementsWithEscapes) {
    for (int k = 1; k <= 33; ++k) EXPECT_EQ(Emit([&] { PutAddressIncrement(k); }), kAddressIncrementCodes[k - 1]);
    const std::string escape = "00000001000";
    EXPECT_EQ(Emit([] { PutAddressIncrement(34); }), escape + "1");
    EXPECT_EQ(Emit([] { PutAddressIncrement(66); }), escape + kAddressIncrementCodes[32]);
    EXPECT_EQ(Emit([] { PutAddressIncrement(67); }), escape + escape + "1");
}

TEST_F(VlcTest, MacroblockTypesPatternsAndMotionCodes) {
    for (const auto& m : kMacroblockTypeCodes)
        EXPECT_EQ(Emit([&] { PutMacroblockType(m.pictureType, m.flags); }), m.code) << m.pictureType << "/" << m.flags;
    for (int p = 0; p < 64; ++p) EXPECT_EQ(Emit([&] { PutCodedBlockPattern(p); }), kCodedBlockPatternCodes[p]) << p;
    EXPECT_EQ(Emit([] { PutMotionCode(0); }), "1");
    for (int m = 1; m <= 16; ++m) {
        EXPECT_EQ(Emit([&] { PutMotionCode(m); }), std::string(kMotionCodes[m]) + "0") << m;
        EXPECT_EQ(Emit([&] { PutMotionCode(-m); }), std::string(kMotionCodes[m]) + "1");
    }
}

}  // namespace

// The scan-order mask of nonzero coefficients, both forms, against the scan
// table itself on blocks from empty to full.
TEST(ScanNonzeroMask, BothFormsFollowTheScanTable) {
    std::mt19937 rng(3);
    for (int trial = 0; trial < 2000; ++trial) {
        int16_t block[64];
        const unsigned density = trial % 9;  // of 8: 0 empty, 8 full
        for (int16_t& c : block) c = (rng() % 8 < density) ? int16_t(int(rng() % 4095) - 2047) : 0;
        for (int16_t& c : block)
            if (c == 0 && density == 8) c = -1;
        uint64_t expected = 0;
        for (int n = 0; n < 64; ++n)
            if (block[ZigzagScanTable[n]] != 0) expected |= uint64_t{1} << n;
        EXPECT_EQ(ScanNonzeroMaskPlain(block), expected);
        EXPECT_EQ(ScanNonzeroMaskSse2(block), expected);
    }
}

// Blocks written when the code queue is nearly full: what reaches the stream
// does not depend on where in the queue the block's codes fall, escapes
// (written past the in-line path) included.
TEST_F(VlcTest, BlocksAcrossTheEndOfTheCodeQueue) {
    EncoderSettings.mpeg1 = 0;
    // full: 64 short codes and the end of block; dense: escapes among them.
    int16_t full[64], dense[64], sparse[64] = {};
    for (int i = 0; i < 64; ++i) {
        full[i] = static_cast<int16_t>(i % 2 ? -1 - i % 3 : 1 + i % 5);
        dense[i] = static_cast<int16_t>(i % 7 == 3 ? 300 - 11 * i : full[i]);
    }
    sparse[0] = 5;
    sparse[ZigzagScanTable[20]] = -1;
    sparse[ZigzagScanTable[63]] = 2000;
    const auto blocks = [&] {
        DcPredictors[0] = DcPredictors[1] = DcPredictors[2] = 0;
        PutNonIntraBlock(full);
        PutIntraBlock(full, 0);
        PutNonIntraBlock(dense);
        PutIntraBlock(dense, 0);
        PutNonIntraBlock(sparse);
        PutIntraBlock(sparse, 1);
    };
    const std::string alone = Emit(blocks);
    for (int before = BitQueueSize - 140; before < BitQueueSize; ++before) {
        std::string prefix;
        const std::string written = Emit([&] {
            for (int i = 0; i < before; ++i) PutBits(1, static_cast<uint32_t>(i % 3 == 0));
            blocks();
        });
        for (int i = 0; i < before; ++i) prefix += i % 3 == 0 ? '1' : '0';
        ASSERT_EQ(written, prefix + alone) << before;
    }
}
