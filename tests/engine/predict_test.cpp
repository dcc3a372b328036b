// Motion-compensated prediction: kernel twins and picture-level rules.
#include <gtest/gtest.h>
#include <random>
#include <vector>

#include "engine/EngineState.h"
#include "engine/Predict.h"
#include "settings/EncoderSettings.h"

namespace {

struct Frame {
    std::vector<uint8_t> y, cb, cr;
    FramePlanes planes;
    Frame(int w, int h) : y((h + 1) * w), cb((h / 2 + 1) * (w / 2)), cr((h / 2 + 1) * (w / 2)) {
        planes = {y.data(), cb.data(), cr.data()};
    }
};

void SetGeometry(int w, int h) {
    Sequence.EncodeWidth = w;
    Sequence.EncodeHeight = h;
    Sequence.ChromaWidth = w / 2;
    Sequence.ChromaHeight = h / 2;
    Sequence.MbWidth = w / 16;
    Sequence.MbHeight = h / 16;
}

}  // namespace

TEST(Predict, Sse2MatchesPlain) {
    std::mt19937 rng(7);
    const int line = 64;
    std::vector<uint8_t> ref(line * 40);
    for (auto& v : ref) v = static_cast<uint8_t>(rng());
    for (int dx = -3; dx <= 3; ++dx)
        for (int dy = -3; dy <= 3; ++dy)
            for (int average = 0; average < 2; ++average)
                for (int width : {8, 16}) {
                    std::vector<uint8_t> a(line * 40), b;
                    for (auto& v : a) v = static_cast<uint8_t>(rng());
                    b = a;
                    PredictBlockPlain(ref.data(), a.data(), line, width, width, 16, 8, dx, dy, average);
                    PredictBlockSse2(ref.data(), b.data(), line, width, width, 16, 8, dx, dy, average);
                    ASSERT_EQ(a, b) << dx << "," << dy << " avg " << average << " w " << width;
                }
}

TEST(Predict, HalfSampleRules) {
    const int line = 32;
    std::vector<uint8_t> ref(line * 32), pred(line * 32, 0);
    for (int i = 0; i < line * 32; ++i) ref[i] = static_cast<uint8_t>(i % line * 3 + i / line * 7);
    auto at = [&](int x, int y) { return int(ref[y * line + x]); };
    // (-1, 0): the sample to the left and the sample itself, rounded up.
    PredictBlockPlain(ref.data(), pred.data(), line, 8, 8, 8, 8, -1, 0, 0);
    EXPECT_EQ(pred[8 * line + 8], (at(7, 8) + at(8, 8) + 1) >> 1);
    // (-3, -3): integer part -2, both half flags.
    PredictBlockPlain(ref.data(), pred.data(), line, 8, 8, 8, 8, -3, -3, 0);
    EXPECT_EQ(pred[8 * line + 8], (at(6, 6) + at(7, 6) + at(6, 7) + at(7, 7) + 2) >> 2);
    // Averaging into an existing prediction rounds up.
    pred[8 * line + 8] = 10;
    ref[8 * line + 8] = 13;
    PredictBlockPlain(ref.data(), pred.data(), line, 8, 8, 8, 8, 0, 0, 1);
    EXPECT_EQ(pred[8 * line + 8], 12);
}

TEST(Predict, PictureLevelChoices) {
    for (bool simd : {false, true}) {
        predict_init(simd, PredictKernelSet);
        SetGeometry(48, 32);
        Frame fwd(48, 32), bwd(48, 32), pred(48, 32);
        for (size_t i = 0; i < fwd.y.size(); ++i) fwd.y[i] = static_cast<uint8_t>(i % 48 * 2);
        for (size_t i = 0; i < fwd.cb.size(); ++i) fwd.cb[i] = static_cast<uint8_t>(i % 24 * 4);
        std::fill(fwd.cr.begin(), fwd.cr.end(), 90);
        std::fill(bwd.y.begin(), bwd.y.end(), 201);
        std::fill(bwd.cb.begin(), bwd.cb.end(), 31);
        std::fill(bwd.cr.begin(), bwd.cr.end(), 31);
        std::vector<MacroblockInfo> mbs(6);
        mbs[0].typeFlags = MB_INTRA;
        mbs[1].typeFlags = 0;  // P macroblock without coded motion: still forward predicted
        mbs[1].forwardVector[0] = 2;
        mbs[2].typeFlags = MB_FORWARD;
        mbs[2].forwardVector[0] = -3;  // chroma vector -1
        mbs[3].typeFlags = MB_FORWARD | MB_BACKWARD;
        mbs[4].typeFlags = MB_BACKWARD;
        mbs[5].typeFlags = MB_FORWARD;
        mbs[5].forwardVector[0] = 3;  // chroma vector 1

        PredictPicture(fwd.planes, bwd.planes, pred.planes, mbs.data(), P_PICTURE);
        EXPECT_EQ(pred.y[0], 128);
        EXPECT_EQ(pred.cb[0], 128);
        EXPECT_EQ(pred.y[16], fwd.y[17]);
        const int cw = 24;
        // Macroblock 2 chroma at x 16 with vector -1: average of x 15 and 16.
        EXPECT_EQ(pred.cb[16], (fwd.cb[15] + fwd.cb[16] + 1) >> 1);

        PredictPicture(fwd.planes, bwd.planes, pred.planes, mbs.data(), B_PICTURE);
        const int row = 16 * 48;
        EXPECT_EQ(pred.y[row + 0], (fwd.y[row] + 201 + 1) >> 1);  // bidirectional
        EXPECT_EQ(pred.y[row + 16], 201);                           // backward only
        EXPECT_EQ(pred.cb[8 * cw + 8], 31);
        // Macroblock 5 chroma at x 40 (chroma 8 * 3... row 1) with vector +1.
        EXPECT_EQ(pred.cb[8 * cw + 16], (fwd.cb[8 * cw + 16] + fwd.cb[8 * cw + 17] + 1) >> 1);

        PredictPicture(fwd.planes, bwd.planes, pred.planes, mbs.data(), I_PICTURE);
        EXPECT_EQ(pred.y[5], 128);
        EXPECT_EQ(pred.cr[Sequence.ChromaWidth * Sequence.ChromaHeight - 1], 128);
    }
    predict_init(false, PredictKernelSet);
}
