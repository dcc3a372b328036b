// Macroblock transform and reconstruction: block layout by DCT type, the
// round trip through transform, quantiser and reconstruction, the row range of
// itransform, and the plain and SIMD sample kernels against each other.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <thread>
#include <vector>

#include "engine/Encoder.h"
#include "engine/EngineState.h"
#include "engine/Fdct.h"
#include "engine/MotionEstimation.h"
#include "engine/Quant.h"
#include "engine/Transform.h"
#include "platform/MessageBox.h"
#include "settings/EncoderSettings.h"
#include "transform_util.h"

namespace {

// A 4:2:0 picture of its own, with the spare line below each plane.
struct Picture {
    std::vector<uint8_t> y, cb, cr;
    FramePlanes planes;
    Picture(int width, int height)
        : y(static_cast<size_t>(width) * (height + 1)),
          cb(static_cast<size_t>(width / 2) * (height / 2 + 1)),
          cr(static_cast<size_t>(width / 2) * (height / 2 + 1)) {
        planes = {y.data(), cb.data(), cr.data()};
    }
};

// Geometry and settings of a small interlaced MPEG-2 picture, quantised with
// weights of 8 at the finest scale, where every level equals its coefficient.
class TransformTest : public ::testing::Test {
protected:
    static constexpr int kWidth = 64, kHeight = 48;
    static constexpr int kMbColumns = kWidth / 16, kMbRows = kHeight / 16, kMacroblocks = kMbColumns * kMbRows;

    void SetUp() override {
        Sequence.EncodeWidth = kWidth;
        Sequence.EncodeHeight = kHeight;
        Sequence.ChromaWidth = kWidth / 2;
        Sequence.ChromaHeight = kHeight / 2;
        Sequence.MbWidth = kMbColumns;
        Sequence.MbHeight = kMbRows;
        EncoderSettings.mpeg1 = 0;
        EncoderSettings.progressiveFrame = 0;
        EncoderSettings.intraDcPrecision = 3;
        EncoderSettings.intraQuantMatrix.fill(8);
        EncoderSettings.nonIntraQuantMatrix.fill(8);
        InitQuantizerTables();
        blocks_.assign(static_cast<size_t>(kMacroblocks) * BlockCount * 64, 0);
        macroblocks_.assign(kMacroblocks, MacroblockInfo{});
    }
    void TearDown() override { SelectEngineKernels(false, false); }
    // The kernels of every family at the given level, as an encoding sets them up.
    static void UseKernels(bool simd) { SelectEngineKernels(simd, Avx2KernelsChosen(simd)); }

    // What the picture coder does between layout and reconstruction: transform
    // and quantise every block in place and note the coded blocks.
    void TransformAndQuantise(int m) {
        const FdctKernels fdct = FdctKernelSet;
        for (int i = 0; i < kMacroblocks; ++i) {
            MacroblockInfo& mb = macroblocks_[i];
            mb.quantScale = m;
            mb.codedBlockPattern = 0;
            for (int b = 0; b < BlockCount; ++b) {
                int16_t* block = &blocks_[(static_cast<size_t>(i) * BlockCount + b) * 64];
                int16_t levels[64];
                fdct.fdct(block);
                QuantOverflowFlag = 0;
                int coded = 1;
                if (mb.typeFlags & MB_INTRA)
                    QuantizeIntra(block, levels, EncoderSettings.intraDcPrecision, m);
                else
                    coded = QuantizeNonIntra(block, levels, m);
                ASSERT_EQ(QuantOverflowFlag, 0);
                std::copy(levels, levels + 64, block);
                mb.codedBlockPattern |= coded << (BlockCount - 1 - b);
            }
        }
    }

    void RoundTrip(bool mpeg1);

    std::vector<int16_t> blocks_;
    std::vector<MacroblockInfo> macroblocks_;
};

// Smooth content with noise; every other macroblock row is combed (its odd
// lines far from its even lines) so that both DCT types occur.
void FillSource(Picture& picture, std::mt19937& random, int width, int height) {
    std::uniform_int_distribution<int> noise(-12, 12);
    for (int l = 0; l < height; ++l)
        for (int c = 0; c < width; ++c) {
            int value = 60 + c + 2 * l + noise(random);
            if ((l / 16) % 2 == 1 && l % 2 == 1) value += 90;
            picture.y[static_cast<size_t>(l) * width + c] = static_cast<uint8_t>(std::clamp(value, 0, 255));
        }
    for (size_t i = 0; i < picture.cb.size(); ++i) {
        picture.cb[i] = static_cast<uint8_t>(std::clamp(128 + noise(random) * 3, 0, 255));
        picture.cr[i] = static_cast<uint8_t>(std::clamp(90 + int(i % 37) + noise(random), 0, 255));
    }
}

// Decodes the quantised picture as a decoder would, with a double-precision
// inverse DCT, placing each block by its macroblock's DCT type.
Picture ReferenceReconstruction(const Picture& prediction, const std::vector<MacroblockInfo>& macroblocks,
                                const std::vector<int16_t>& blocks, int width, int height) {
    Picture out(width, height);
    const int mbColumns = width / 16;
    for (size_t index = 0; index < macroblocks.size(); ++index) {
        const MacroblockInfo& mb = macroblocks[index];
        const int row = static_cast<int>(index) / mbColumns, column = static_cast<int>(index) % mbColumns;
        const bool intra = mb.typeFlags & MB_INTRA;
        for (int b = 0; b < BlockCount; ++b) {
            const int16_t* levels = &blocks[(index * BlockCount + b) * 64];
            int16_t coefficients[64];
            const bool coded = intra || (mb.codedBlockPattern >> (BlockCount - 1 - b) & 1);
            if (intra)
                DequantizeIntra(levels, coefficients, EncoderSettings.intraDcPrecision, mb.quantScale);
            else
                DequantizeNonIntra(levels, coefficients, mb.quantScale);
            transform_test::DoubleBlock c{};
            for (int i = 0; i < 64; ++i) c[i] = coded ? coefficients[i] : 0;
            const transform_test::DoubleBlock samples = transform_test::ReferenceInverseDct(c);
            for (int y = 0; y < 8; ++y)
                for (int x = 0; x < 8; ++x) {
                    size_t at;
                    const std::vector<uint8_t>* from;
                    std::vector<uint8_t>* to;
                    if (b < 4) {
                        const int line = 16 * row + (mb.dctType ? 2 * y + b / 2 : y + 8 * (b / 2));
                        at = static_cast<size_t>(line) * width + 16 * column + 8 * (b % 2) + x;
                        from = &prediction.y;
                        to = &out.y;
                    } else {
                        at = static_cast<size_t>(8 * row + y) * (width / 2) + 8 * column + x;
                        from = b == 4 ? &prediction.cb : &prediction.cr;
                        to = b == 4 ? &out.cb : &out.cr;
                    }
                    const int residual = static_cast<int>(std::clamp(std::floor(samples[8 * y + x] + 0.5), -256.0, 255.0));
                    (*to)[at] = static_cast<uint8_t>(std::clamp((intra ? 128 : (*from)[at]) + residual, 0, 255));
                }
        }
    }
    return out;
}

TEST_F(TransformTest, RoundTripReconstructsTheSourceForFrameAndFieldDct) {
    RoundTrip(false);
}

// MPEG-1 has frame DCT only and levels up to 255, so it runs at a quantiser
// step of 4; coefficients come back within half a step and are made odd.
TEST_F(TransformTest, RoundTripReconstructsTheSourceInMpeg1) {
    RoundTrip(true);
}

void TransformTest::RoundTrip(bool mpeg1) {
    EncoderSettings.mpeg1 = mpeg1 ? 1 : 0;
    EncoderSettings.intraDcPrecision = mpeg1 ? 0 : 3;
    std::mt19937 random(1140);
    Picture source(kWidth, kHeight), prediction(kWidth, kHeight);
    FillSource(source, random, kWidth, kHeight);
    // The prediction is the source blurred and shifted a little, so that the
    // prediction errors are small but not zero.
    for (size_t i = 0; i < source.y.size(); ++i)
        prediction.y[i] = static_cast<uint8_t>(std::clamp(source.y[i] + int(random() % 31) - 15, 0, 255));
    for (size_t i = 0; i < source.cb.size(); ++i) {
        prediction.cb[i] = static_cast<uint8_t>(std::clamp(source.cb[i] + int(random() % 11) - 5, 0, 255));
        prediction.cr[i] = static_cast<uint8_t>(std::clamp(source.cr[i] + int(random() % 11) - 5, 0, 255));
    }

    std::vector<std::vector<uint8_t>> results;
    std::vector<std::vector<int16_t>> stores;
    for (bool simd : {false, true}) {
        UseKernels(simd);
        for (int i = 0; i < kMacroblocks; ++i) macroblocks_[i].typeFlags = (i % 3 == 0) ? MB_INTRA : MB_FORWARD;
        FormPredictionErrorBlocks(prediction.planes, source.planes, macroblocks_.data(), blocks_.data());
        int fieldMacroblocks = 0;
        for (const auto& mb : macroblocks_) fieldMacroblocks += mb.dctType;
        if (mpeg1) {
            EXPECT_EQ(fieldMacroblocks, 0);
        } else {
            EXPECT_GT(fieldMacroblocks, 0);
            EXPECT_LT(fieldMacroblocks, kMacroblocks);
        }

        TransformAndQuantise(mpeg1 ? 8 : 2);
        Picture recon(kWidth, kHeight);
        // The split reconstruction: upper half on another thread with slot 0,
        // lower half here with slot 1.
        std::thread upper([&] {
            itransform(prediction.planes, recon.planes, macroblocks_.data(), blocks_.data(), 0, kMbRows / 2, 0);
        });
        itransform(prediction.planes, recon.planes, macroblocks_.data(), blocks_.data(), kMbRows / 2, kMbRows, 1);
        upper.join();

        // Against a decoder's reconstruction of the same levels: within the
        // accuracy of the inverse DCT.
        const Picture reference = ReferenceReconstruction(prediction, macroblocks_, blocks_, kWidth, kHeight);
        int decoderDifference = 0;
        for (size_t i = 0; i < static_cast<size_t>(kWidth) * kHeight; ++i)
            decoderDifference = std::max(decoderDifference, std::abs(recon.y[i] - reference.y[i]));
        for (size_t i = 0; i < static_cast<size_t>(kWidth / 2) * (kHeight / 2); ++i)
            decoderDifference = std::max({decoderDifference, std::abs(recon.cb[i] - reference.cb[i]),
                                          std::abs(recon.cr[i] - reference.cr[i])});
        EXPECT_LE(decoderDifference, 1) << "simd " << simd;

        // Against the source: at the finest MPEG-2 step only the transforms'
        // rounding is lost; MPEG-1's step of 4 loses up to a step per coefficient.
        int worst = 0;
        long totalError = 0;
        for (size_t i = 0; i < static_cast<size_t>(kWidth) * kHeight; ++i) {
            const int error = std::abs(recon.y[i] - source.y[i]);
            worst = std::max(worst, error);
            totalError += error;
        }
        for (size_t i = 0; i < static_cast<size_t>(kWidth / 2) * (kHeight / 2); ++i) {
            worst = std::max({worst, std::abs(recon.cb[i] - source.cb[i]), std::abs(recon.cr[i] - source.cr[i])});
        }
        EXPECT_LE(worst, mpeg1 ? 8 : 2) << "simd " << simd;
        EXPECT_LT(double(totalError) / (kWidth * kHeight), mpeg1 ? 2.0 : 0.3) << "simd " << simd;
        std::vector<uint8_t> all = recon.y;
        all.insert(all.end(), recon.cb.begin(), recon.cb.end());
        all.insert(all.end(), recon.cr.begin(), recon.cr.end());
        results.push_back(all);
        stores.push_back(blocks_);
    }
    EXPECT_EQ(results[0], results[1]);
    EXPECT_EQ(stores[0], stores[1]);
}

TEST_F(TransformTest, FieldDctBlocksHoldEvenAndOddLines) {
    Picture source(kWidth, kHeight), prediction(kWidth, kHeight);
    for (int l = 0; l < kHeight; ++l)
        for (int c = 0; c < kWidth; ++c) source.y[static_cast<size_t>(l) * kWidth + c] = l % 2 ? 200 : 10;
    for (bool simd : {false, true}) {
        UseKernels(simd);
        for (auto& mb : macroblocks_) mb.typeFlags = MB_INTRA;
        FormPredictionErrorBlocks(prediction.planes, source.planes, macroblocks_.data(), blocks_.data());
        for (const auto& mb : macroblocks_) ASSERT_EQ(mb.dctType, 1);
        // Blocks 0 and 1 take the even lines (10 - 128), 2 and 3 the odd ones.
        for (int b = 0; b < 4; ++b)
            for (int i = 0; i < 64; ++i) ASSERT_EQ(blocks_[b * 64 + i], b < 2 ? -118 : 72) << b;

        // Reconstruction writes them back to the same lines: levels of a flat
        // block at DC precision 3 are the DC coefficient itself.
        for (auto& mb : macroblocks_) mb.quantScale = 2;
        std::fill(blocks_.begin(), blocks_.end(), 0);
        for (int i = 0; i < kMacroblocks; ++i)
            for (int b = 0; b < 4; ++b) blocks_[(static_cast<size_t>(i) * BlockCount + b) * 64] = b < 2 ? -944 : 576;
        Picture recon(kWidth, kHeight);
        itransform(prediction.planes, recon.planes, macroblocks_.data(), blocks_.data(), 0, kMbRows, 0);
        for (int l = 0; l < kHeight; ++l) ASSERT_EQ(recon.y[static_cast<size_t>(l) * kWidth + 5], l % 2 ? 200 : 10) << l;
    }
}

TEST_F(TransformTest, DctTypeIsFrameOutsideInterlacedMpeg2) {
    Picture source(kWidth, kHeight), prediction(kWidth, kHeight);
    for (size_t i = 0; i < source.y.size(); ++i) source.y[i] = (i / kWidth) % 2 ? 255 : 0;
    for (auto [mpeg1, progressive] : {std::pair{1, 0}, std::pair{0, 1}}) {
        EncoderSettings.mpeg1 = mpeg1;
        EncoderSettings.progressiveFrame = progressive;
        for (auto& mb : macroblocks_) {
            mb.typeFlags = MB_INTRA;
            mb.dctType = 1;
        }
        FormPredictionErrorBlocks(prediction.planes, source.planes, macroblocks_.data(), blocks_.data());
        for (const auto& mb : macroblocks_) EXPECT_EQ(mb.dctType, 0);
        // Frame layout: block 2 starts at line 8.
        EXPECT_EQ(blocks_[2 * 64], -128);
        EXPECT_EQ(blocks_[2 * 64 + 8], 127);
    }
}

TEST_F(TransformTest, UncodedPredictedBlocksCopyThePrediction) {
    std::mt19937 random(7);
    Picture prediction(kWidth, kHeight), recon(kWidth, kHeight);
    for (auto* plane : {&prediction.y, &prediction.cb, &prediction.cr})
        for (auto& v : *plane) v = static_cast<uint8_t>(random());
    for (auto& mb : macroblocks_) {
        mb.typeFlags = MB_FORWARD;
        mb.codedBlockPattern = 0;
        mb.quantScale = 8;
        mb.dctType = 1;
    }
    // Levels that would change the picture if they were used.
    std::fill(blocks_.begin(), blocks_.end(), 5);
    itransform(prediction.planes, recon.planes, macroblocks_.data(), blocks_.data(), 0, kMbRows, 1);
    const size_t lumaSize = static_cast<size_t>(kWidth) * kHeight, chromaSize = lumaSize / 4;
    EXPECT_TRUE(std::equal(recon.y.begin(), recon.y.begin() + lumaSize, prediction.y.begin()));
    EXPECT_TRUE(std::equal(recon.cb.begin(), recon.cb.begin() + chromaSize, prediction.cb.begin()));
    EXPECT_TRUE(std::equal(recon.cr.begin(), recon.cr.begin() + chromaSize, prediction.cr.begin()));
}

TEST_F(TransformTest, RowRangeIsCheckedAndHonoured) {
    platform::ScriptedMessageBoxes boxes;
    Picture prediction(kWidth, kHeight), recon(kWidth, kHeight);
    std::fill(recon.y.begin(), recon.y.end(), 7);
    for (auto& mb : macroblocks_) {
        mb.typeFlags = MB_INTRA;
        mb.quantScale = 2;
    }
    itransform(prediction.planes, recon.planes, macroblocks_.data(), blocks_.data(), 0, 0, 0);
    itransform(prediction.planes, recon.planes, macroblocks_.data(), blocks_.data(), kMbRows, kMbRows, 1);
    EXPECT_TRUE(boxes.Shown().empty());
    EXPECT_EQ(recon.y[0], 7);

    const int badRanges[][3] = {{1, 0, 0}, {-1, 1, 0}, {0, kMbRows + 1, 0}, {kMbRows + 1, kMbRows + 1, 1}, {0, 1, 2}};
    for (const auto& r : badRanges)
        itransform(prediction.planes, recon.planes, macroblocks_.data(), blocks_.data(), r[0], r[1], r[2]);
    ASSERT_EQ(boxes.Shown().size(), std::size(badRanges));
    EXPECT_EQ(boxes.Shown()[0].text, " Error in itransform arguments ");
    EXPECT_TRUE(std::all_of(recon.y.begin(), recon.y.end(), [](uint8_t v) { return v == 7; }));

    // Row 1 only: intra blocks of zero levels at precision 3 give 128.
    itransform(prediction.planes, recon.planes, macroblocks_.data(), blocks_.data(), 1, 2, 0);
    EXPECT_EQ(recon.y[15 * kWidth], 7);
    EXPECT_EQ(recon.y[16 * kWidth], 128);
    EXPECT_EQ(recon.y[31 * kWidth + kWidth - 1], 128);
    EXPECT_EQ(recon.y[32 * kWidth], 7);
}

TEST_F(TransformTest, MaxLineDifferenceLooksAtTheFirstLineOfEachMacroblock) {
    Picture a(kWidth, kHeight), b(kWidth, kHeight);
    EXPECT_EQ(MaxLineDifference(a.y.data(), b.y.data()), 0);
    // Below the first line of a row, right of the first eight samples, and in
    // the last macroblock column: not looked at.
    b.y[1 * kWidth + 3] = 200;
    b.y[16 * kWidth + 8] = 200;
    b.y[32 * kWidth + 48] = 200;
    EXPECT_EQ(MaxLineDifference(a.y.data(), b.y.data()), 0);
    b.y[16 * kWidth + 16 + 7] = 30;
    b.y[16 * kWidth + 16 + 0] = 20;
    b.y[32 * kWidth + 2] = 45;
    EXPECT_EQ(MaxLineDifference(a.y.data(), b.y.data()), 50);
}

// The sample kernels, plain against SIMD, on random samples and on the
// extreme values the clipping has to handle.
TEST(TransformKernels, SimdMatchesPlainOnRandomInput) {
    TransformKernels plain, simd;
    transform_init(false, plain);
    transform_init(true, simd);
    std::mt19937 random(1140);
    constexpr int kStride = 24;
    for (int n = 0; n < 5000; ++n) {
        std::vector<uint8_t> source(kStride * 8), prediction(kStride * 8);
        for (auto& v : source) v = static_cast<uint8_t>(random());
        for (auto& v : prediction) v = static_cast<uint8_t>(n % 4 == 0 ? (random() % 2) * 255 : random());
        int16_t a[64], b[64];
        plain.intraBlock(a, source.data() + 3, kStride);
        simd.intraBlock(b, source.data() + 3, kStride);
        ASSERT_TRUE(std::equal(a, a + 64, b));
        plain.differenceBlock(a, source.data() + 5, prediction.data() + 5, kStride);
        simd.differenceBlock(b, source.data() + 5, prediction.data() + 5, kStride);
        ASSERT_TRUE(std::equal(a, a + 64, b));

        int16_t residual[64];
        for (auto& r : residual)
            r = static_cast<int16_t>(n % 3 == 0 ? int(random() % 65536) - 32768 : int(random() % 512) - 256);
        std::vector<uint8_t> targetA(kStride * 8, 1), targetB(kStride * 8, 1);
        plain.reconstructIntraBlock(targetA.data() + 1, residual, kStride);
        simd.reconstructIntraBlock(targetB.data() + 1, residual, kStride);
        ASSERT_EQ(targetA, targetB);
        plain.reconstructPredictedBlock(targetA.data() + 2, prediction.data() + 2, residual, kStride);
        simd.reconstructPredictedBlock(targetB.data() + 2, prediction.data() + 2, residual, kStride);
        ASSERT_EQ(targetA, targetB);
    }
}

TEST(TransformKernels, ReconstructionClipsToSampleRange) {
    for (bool simd : {false, true}) {
        TransformKernels k;
        transform_init(simd, k);
        int16_t residual[64];
        uint8_t prediction[64], target[64];
        std::fill(residual, residual + 64, int16_t{255});
        std::fill(prediction, prediction + 64, uint8_t{250});
        k.reconstructPredictedBlock(target, prediction, residual, 8);
        EXPECT_EQ(target[9], 255);
        std::fill(residual, residual + 64, int16_t{-256});
        std::fill(prediction, prediction + 64, uint8_t{3});
        k.reconstructPredictedBlock(target, prediction, residual, 8);
        EXPECT_EQ(target[9], 0);
        k.reconstructIntraBlock(target, residual, 8);
        EXPECT_EQ(target[63], 0);
        std::fill(residual, residual + 64, int16_t{255});
        k.reconstructIntraBlock(target, residual, 8);
        EXPECT_EQ(target[0], 255);
    }
}

}  // namespace
