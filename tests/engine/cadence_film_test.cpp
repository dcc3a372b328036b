// Film mode: the energy measure, the cadence hypotheses, edge selection and a
// 3:2 pulled-down sequence woven back into its film frames.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "engine/Deinterlace.h"
#include "engine/EngineState.h"
#include "engine/Input.h"
#include "settings/EncoderSettings.h"
#include "tests/engine/input_test_frames.h"

namespace {

constexpr int W = 256, H = 96;

using Frame = std::vector<uint8_t>;

// Slanted bars (a period of 32 pixels, edges moving half a pixel per row),
// shifted right by `shift` pixels.
Frame Bars(int shift) {
    const size_t line = BitmapRowBytes(W);
    Frame f(line * H);
    for (int r = 0; r < H; ++r)
        for (int x = 0; x < W; ++x) {
            const int v = ((x + r / 2 + 64 * 32 - shift) % 32) < 16 ? 200 : 40;
            uint8_t* p = f.data() + r * line + 3 * x;
            p[0] = uint8_t(v);
            p[1] = uint8_t(v - 10);
            p[2] = uint8_t(v + 20);
        }
    return f;
}

// Odd rows from `odd`, even rows from `even`.
Frame Interleave(const Frame& even, const Frame& odd) {
    const size_t line = BitmapRowBytes(W);
    Frame f = even;
    for (int r = 1; r < H; r += 2) std::memcpy(f.data() + r * line, odd.data() + r * line, line);
    return f;
}

// 24-bit frames as the input cache hands them out: 40-byte header, then rows.
std::vector<Frame> Packed;
const uint8_t* GetPacked(int n) { return n >= 0 && n < int(Packed.size()) ? Packed[n].data() : nullptr; }

Frame Pack(const Frame& pixels, int bits = 24) {
    Frame p(40 + pixels.size(), 0);
    auto put32 = [&p](int at, uint32_t v) {
        for (int i = 0; i < 4; ++i) p[at + i] = uint8_t(v >> (8 * i));
    };
    put32(0, 40);
    put32(4, W);
    put32(8, H);
    p[12] = 1;
    p[14] = uint8_t(bits);
    std::memcpy(p.data() + 40, pixels.data(), pixels.size());
    return p;
}

class FilmMode : public ::testing::Test {
protected:
    std::vector<std::vector<uint8_t>> buffers;
    void SetUp() override {
        Sequence.EncodeWidth = W;
        Sequence.EncodeHeight = H;
        const size_t size = size_t(W + 4) * H * 3 + 32;
        buffers.assign(4, std::vector<uint8_t>(size));
        for (int i = 0; i < 4; ++i) DeinterlaceBuffers[i] = buffers[i].data();
        ResetFieldAnalysis();
        Packed.clear();
    }
    void TearDown() override {
        for (auto& b : DeinterlaceBuffers) b = nullptr;
        InputState.SmartDeinterlace = 0;
        EncoderSettings.smartDeinterlaceMode = 0;
    }
    FilmFrameSource Source() const {
        FilmFrameSource s;
        s.getFrame = GetPacked;
        s.firstFrame = 0;
        s.endFrame = int(Packed.size());
        return s;
    }
};

}  // namespace

TEST(FilmAnalysis, EnergyKeepsItsRunningSumAndDoesNotWrap) {
    // Width 8: one byte per row is looked at; rows 1 and 3 of an 8-row frame.
    const size_t line = BitmapRowBytes(8);
    std::vector<uint8_t> a(line * 8, 0), b(line * 8, 0);
    b[1 * line] = 16;  // 256 on row 1, carried into row 3's sum as well
    b[1 * line + 1] = 200;  // outside the first eighth of the row
    EXPECT_EQ(FieldDifferenceEnergy(a.data(), b.data(), 8, 8), 2u);
    EXPECT_EQ(FieldDifferenceEnergy(a.data(), b.data(), 8, 5), 0u);  // no row pair to look at

    // A large frame with the largest differences: far beyond 32 bits.
    const int w = 1920, h = 1080;
    std::vector<uint8_t> black(BitmapRowBytes(w) * h, 0), white(BitmapRowBytes(w) * h, 255);
    uint64_t expected = 0, running = 0;
    for (int k = 1; k <= h / 2 - 2; ++k) {
        running += uint64_t(240) * 255 * 255;
        expected += running >> 8;
    }
    EXPECT_GT(expected, uint64_t(1) << 32);
    EXPECT_EQ(FieldDifferenceEnergy(black.data(), white.data(), w, h), expected);
}

TEST(FilmAnalysis, CadenceHypotheses) {
    const int h0[5] = {0, 0, 0, 1, 1};
    const int h6[5] = {0, 0, 2, 2, 0};
    for (int f = 0; f < 10; ++f) {
        EXPECT_EQ(FilmCadenceMatches(0, f), h0[f % 5]);
        EXPECT_EQ(FilmCadenceMatches(6, f), h6[f % 5]);
    }
    // C remainders: -1 + 1 = 0 -> current; -4 + 4 = 0; -1 + 4 = 3 -> previous.
    EXPECT_EQ(FilmCadenceMatches(1, -1), 0);
    EXPECT_EQ(FilmCadenceMatches(4, -1), 1);
    EXPECT_EQ(FilmCadenceMatches(9, -7), 0);
}

TEST_F(FilmMode, EdgesPickTheFrameWhoseFieldContinuesTheKeptOne) {
    const Frame film = Bars(0), later = Bars(12), earlier = Bars(-12);
    const Frame current = Interleave(film, later);  // kept field of `film`, other field moved on
    EXPECT_EQ(SelectFieldByEdges(current.data(), film.data(), earlier.data(), W, H), FIELD_PREVIOUS);
    EXPECT_EQ(SelectFieldByEdges(current.data(), earlier.data(), film.data(), W, H), FIELD_NEXT);
    EXPECT_EQ(SelectFieldByEdges(film.data(), earlier.data(), later.data(), W, H), FIELD_CURRENT);
    // Nothing fits: no usable field.
    EXPECT_EQ(SelectFieldByEdges(current.data(), earlier.data(), nullptr, W, H), EDGE_NO_FIELD_USABLE);
    // A flat picture has no edges to go by.
    const Frame flat(BitmapRowBytes(W) * H, 77);
    EXPECT_EQ(SelectFieldByEdges(flat.data(), flat.data(), flat.data(), W, H), EDGE_NO_RELIABLE_SELECTION);
}

TEST_F(FilmMode, PulldownIsWovenBackIntoTheFilmFrames) {
    // 3:2 pulldown of film frames moving 12 pixels each: per five input frames
    // A/A, B/B, C/B, D/C, D/D (kept field / other field).
    const int frames = 40;
    std::vector<Frame> film;
    for (int k = 0; k < frames; ++k) film.push_back(Bars(12 * k));
    std::vector<Frame> video;
    std::vector<int> kept;
    for (int n = 0; n < frames; ++n) {
        const int base = 4 * (n / 5);
        const int keptFilm[5] = {0, 1, 2, 3, 3}, otherFilm[5] = {0, 1, 1, 2, 3};
        kept.push_back(base + keptFilm[n % 5]);
        video.push_back(Interleave(film[base + keptFilm[n % 5]], film[base + otherFilm[n % 5]]));
        Packed.push_back(Pack(video.back()));
    }
    const int expected[5] = {FIELD_CURRENT, FIELD_CURRENT, FIELD_NEXT, FIELD_NEXT, FIELD_CURRENT};
    const size_t line = BitmapRowBytes(W);
    for (int n = 0; n < frames; ++n) {
        const uint8_t* out = FilmModeDeinterlace(video[n].data(), W, H, n, Source(), DEINTERLACE_FILM);
        ASSERT_EQ(out, DeinterlaceBuffers[1]);
        EXPECT_EQ(FieldChoiceHistory.entries[n % 32].frame, n);
        EXPECT_EQ(FieldChoiceHistory.entries[n % 32].choice, expected[n % 5]) << "frame " << n;
        // No combing: apart from the top picture line, the film frame itself.
        EXPECT_EQ(std::memcmp(out, film[kept[n]].data(), line * (H - 1)), 0) << "frame " << n;
    }
    EXPECT_EQ(FieldChoiceHistory.count, frames);
    // Once the cadence is known its suggestions are what was chosen.
    EXPECT_GE(FieldSelectionWorkedCount, frames - 18);
    EXPECT_EQ(EdgeSelectionWrongCount, 0);
}

TEST_F(FilmMode, StillPicturesAndMissingNeighboursInterpolate) {
    // Identical neighbours give equal energies: interpolation, and the output is the blend.
    const Frame still = Interleave(Bars(0), Bars(5));
    for (int n = 0; n < 3; ++n) Packed.push_back(Pack(still));
    uint8_t* out = FilmModeDeinterlace(still.data(), W, H, 1, Source(), DEINTERLACE_FILM);
    EXPECT_EQ(FieldChoiceHistory.entries[0].choice, FIELD_INTERPOLATE);
    Frame blended = still;
    BlendFieldRows(blended.data(), W, H, BitmapRowBytes(W), false);
    EXPECT_EQ(std::memcmp(out, blended.data(), blended.size()), 0);

    // The first frame has no previous one, and a neighbour of the wrong depth or
    // size cannot be had: the moving field of the current frame is never woven
    // from a frame that is not there.
    ResetFieldAnalysis();
    Packed.clear();
    const Frame film = Bars(0);
    const Frame torn = Interleave(film, Bars(12));
    Packed.push_back(Pack(torn));
    Packed.push_back(Pack(film, 8));
    out = FilmModeDeinterlace(torn.data(), W, H, 0, Source(), DEINTERLACE_FILM);
    EXPECT_EQ(FieldChoiceHistory.entries[0].choice, FIELD_CURRENT);  // the only frame there is
    FilmFrameSource none;
    out = FilmModeDeinterlace(torn.data(), W, H, 5, none, DEINTERLACE_FILM);
    EXPECT_EQ(FieldChoiceHistory.entries[1].choice, FIELD_CURRENT);
}

TEST_F(FilmMode, MarkerRowShowsTheWovenFrame) {
    const Frame film = Bars(0), later = Bars(12);
    Packed = {Pack(Interleave(Bars(-12), Bars(-12))), Pack(Interleave(film, later)), Pack(Interleave(later, film))};
    const Frame current = Interleave(film, later);
    const uint8_t* out =
        FilmModeDeinterlace(current.data(), W, H, 1, Source(), DEINTERLACE_FILM | DEINTERLACE_MARKER);
    ASSERT_EQ(FieldChoiceHistory.entries[0].choice, FIELD_NEXT);
    const size_t line = BitmapRowBytes(W);
    const uint8_t* marker = out + (2 * (H / 4) + 1) * line;
    for (int x = 0; x < W; ++x) {
        EXPECT_EQ(marker[3 * x], 0);
        EXPECT_EQ(marker[3 * x + 1], 0xF0);
        EXPECT_EQ(marker[3 * x + 2], 0);
    }
    // Every other woven row is the film frame's.
    EXPECT_EQ(std::memcmp(out + line, film.data() + line, line), 0);
}

TEST_F(FilmMode, InputStepChoosesFilmModeOnlyWhenItCan) {
    Frame frame = Interleave(Bars(0), Bars(12));
    Packed.push_back(Pack(frame));
    EncoderSettings.smartDeinterlaceMode = DEINTERLACE_FILM;
    InputState.SmartDeinterlace = 1;
    EXPECT_EQ(DeinterlaceFrame(frame.data(), W, H, BitmapRowBytes(W), 24, 0, Source()), DeinterlaceBuffers[1]);
    // An 8-bit source, a frame too big for the film buffers, or no film mode: blended in place.
    EXPECT_EQ(DeinterlaceFrame(frame.data(), W, H, BitmapRowBytes(W), 8, 0, Source()), frame.data());
    Sequence.EncodeWidth = W - 16;
    EXPECT_EQ(DeinterlaceFrame(frame.data(), W, H, BitmapRowBytes(W), 24, 0, Source()), frame.data());
    Sequence.EncodeWidth = W;
    InputState.SmartDeinterlace = 0;
    Frame plain = Interleave(Bars(0), Bars(12));
    EXPECT_EQ(DeinterlaceFrame(plain.data(), W, H, BitmapRowBytes(W), 24, 0, Source()), plain.data());
    Frame blended = Interleave(Bars(0), Bars(12));
    BlendFieldRows(blended.data(), W, H, BitmapRowBytes(W), false);
    EXPECT_EQ(plain, blended);
}

TEST_F(FilmMode, BordersStayBlackAfterTheStep) {
    // The input path clears the border rows before this step; blending would
    // bring half the picture back into the row next to them.
    Frame frame(BitmapRowBytes(W) * H, 255);
    const size_t line = BitmapRowBytes(W);
    std::memset(frame.data(), 0, 2 * line);
    std::memset(frame.data() + (H - 4) * line, 0, 4 * line);
    EncoderSettings.bottomBorderLines = 2;
    EncoderSettings.topBorderLines = 3;
    InputState.SmartDeinterlace = 0;
    uint8_t* out = DeinterlaceInputFrame(frame.data(), W, H, int(line), 24);
    EncoderSettings.bottomBorderLines = 0;
    EncoderSettings.topBorderLines = 0;
    ASSERT_EQ(out, frame.data());
    for (int r : {0, 1, H - 4, H - 3, H - 2, H - 1}) EXPECT_EQ(out[r * line + 30], 0) << r;
    EXPECT_EQ(out[2 * line + 30], 255);
    EXPECT_EQ(out[(H - 5) * line + 30], 128);  // rebuilt between picture and border
}

TEST_F(FilmMode, InputPathWeavesPulldownFromTheCache) {
    // The whole road: frames from the read-ahead cache, the step installed by
    // the analysis reset, the woven frame handed to the input preview.
    inputtest::SetPictureSize(W, H);
    inputtest::TestAviSource::Install(0, 15);
    std::vector<Frame> film;
    for (int k = 0; k < 12; ++k) film.push_back(Bars(12 * k));
    const int keptFilm[5] = {0, 1, 2, 3, 3}, otherFilm[5] = {0, 1, 1, 2, 3};
    const size_t line = BitmapRowBytes(W);
    for (int n = 0; n < 15; ++n) {
        const int base = 4 * (n / 5);
        const Frame video = Interleave(film[base + keptFilm[n % 5]], film[base + otherFilm[n % 5]]);
        inputtest::TestAviSource::overrides[n] = inputtest::MakeBitmap(
            W, H, 24, {}, [&](int x, int r, int c) { return video[r * line + 3 * x + c]; });
    }
    EncoderSettings.inputType = 2;
    EncoderSettings.deinterlace = 1;
    EncoderSettings.interlacedCoding = 0;
    EncoderSettings.showInput = 1;
    EncoderSettings.smartDeinterlaceMode = DEINTERLACE_FILM;
    InputState.SmartDeinterlace = 1;
    ResetFieldAnalysis();
    inputtest::Store store;
    for (int n = 0; n < 15; ++n) {
        InputState.CurrentFrameNumber = n;
        ReadInputFrame("unused", store.planes);
        ASSERT_EQ(PreviewPictures.InputPreviewPixels, DeinterlaceBuffers[1]);
        EXPECT_EQ(
            std::memcmp(PreviewPictures.InputPreviewPixels, film[4 * (n / 5) + keptFilm[n % 5]].data(), line * (H - 1)),
            0)
            << "frame " << n;
    }
    EXPECT_EQ(FieldChoiceHistory.count, 15);
    EncoderSettings.deinterlace = 0;
    EncoderSettings.showInput = 0;
    DeinterlaceAndAnalyseFrame = nullptr;
    FreeInputFrameCache();
    InputAvi = {};
}
