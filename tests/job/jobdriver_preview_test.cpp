// Start-up of the encoding side and the drawing of the preview pictures
// through the panes' hooks.
#include <gtest/gtest.h>

#include <vector>

#include "engine/EngineState.h"
#include "job/Profile.h"
#include "platform/MessageBox.h"
#include "settings/EncoderSettings.h"
#include "settings/Preview.h"

namespace {

std::vector<PreviewBlit> gBlits;
std::vector<int> gAcquired, gReleased;
int gSurface[2];
bool gPaneExists[2] = {true, true};
int gDisplayBits = 24;
int gRealized = 0;

class PreviewTest : public ::testing::Test {
protected:
    void SetUp() override {
        gBlits.clear();
        gAcquired.clear();
        gReleased.clear();
        gPaneExists[0] = gPaneExists[1] = true;
        gDisplayBits = 24;
        gRealized = 0;
        saved_ = PreviewWindows;
        PreviewWindows = PreviewWindowHooks{};
        PreviewWindows.acquireSurface = [](int pane) -> void* {
            gAcquired.push_back(pane);
            return gPaneExists[pane] ? &gSurface[pane] : nullptr;
        };
        PreviewWindows.releaseSurface = [](int pane, void*) { gReleased.push_back(pane); };
        PreviewWindows.clientSize = [](int, int* w, int* h) {
            *w = 200;
            *h = 150;
            return true;
        };
        PreviewWindows.blit = [](void*, const PreviewBlit& b) { gBlits.push_back(b); };
        PreviewWindows.displayBitsPerPixel = [] { return gDisplayBits; };
        Prepare();
    }
    // The start-up loads the built-in settings, so this runs again after it.
    void Prepare() {
        ReadProfile("+");
        PreviewPictures.PreviewPictureWidth = 6;
        PreviewPictures.PreviewPictureHeight = 4;
        PreviewPictures.InputPreviewBuffer = pixels_.data();
        PreviewPictures.OutputPreviewBuffer = pixels_.data();
        PreviewPictures.InputPreviewReady = PreviewPictures.OutputPreviewReady = 1;
        EncoderSettings.showInput = EncoderSettings.showOutput = 1;
    }
    void TearDown() override {
        PreviewPictures.InputPreviewBuffer = PreviewPictures.OutputPreviewBuffer = nullptr;
        PreviewPictures.InputPreviewReady = PreviewPictures.OutputPreviewReady = 0;
        CleanupEncoderEnvironment();
        PreviewWindows = saved_;
    }

    std::vector<uint8_t> pixels_ = std::vector<uint8_t>(4 * 24);
    PreviewWindowHooks saved_;
};

TEST_F(PreviewTest, StartUpBuildsTheClipTableAndNoPaletteOnATrueColourDisplay) {
    ASSERT_EQ(InitEncoderLibrary(), 1);
    EXPECT_EQ(DisplayBitsPerPixel, 24);
    EXPECT_EQ(PreviewPaletteMode, 0);
    EXPECT_TRUE(PreviewPalette.empty());
    ASSERT_NE(PreviewClipTable, nullptr);
    EXPECT_EQ(PreviewClipTable[-384], 0);
    EXPECT_EQ(PreviewClipTable[-1], 0);
    EXPECT_EQ(PreviewClipTable[0], 0);
    EXPECT_EQ(PreviewClipTable[200], 200);
    EXPECT_EQ(PreviewClipTable[255], 255);
    EXPECT_EQ(PreviewClipTable[639], 255);

    gDisplayBits = 0;
    EXPECT_EQ(InitEncoderLibrary(), 0);
}

TEST_F(PreviewTest, EightBitDisplayGetsThePaletteOfTheColourMatrix) {
    gDisplayBits = 8;
    EncoderSettings.matrixCoefficients = 5;
    ASSERT_EQ(InitEncoderLibrary(), 1);
    Prepare();
    EXPECT_EQ(PreviewPaletteMode, 1);
    ASSERT_EQ(PreviewPalette.size(), 224u);
    // Level 8, both chroma offsets +16: red 165, green 121, blue 172.
    EXPECT_EQ(PreviewPalette[122], 0xA579ACu);
    // The darkest entry with the most negative offsets clips to black in red and blue.
    EXPECT_EQ(PreviewPalette[0] & 0xFF00FFu, 0u);
    // Code 0 takes code 1's row; code 1 differs from code 5.
    EXPECT_EQ(BuildPreviewPalette(0), BuildPreviewPalette(1));
    EXPECT_NE(BuildPreviewPalette(1), BuildPreviewPalette(5));

    gBlits.clear();
    DrawOutputPreviewFrame(&gSurface[1]);
    ASSERT_EQ(gBlits.size(), 1u);
    EXPECT_EQ(gBlits[0].bitsPerPixel, 8);
    EXPECT_EQ(gBlits[0].colorsUsed, 224);
    EXPECT_EQ(gBlits[0].imageBytes, 24);
    EXPECT_EQ(gBlits[0].palette, PreviewPalette.data());
    PreviewPictures.InputPreviewBuffer = PreviewPictures.OutputPreviewBuffer = nullptr;
    CleanupEncoderEnvironment();
    EXPECT_EQ(PreviewPictures.PaletteDisplay, 0);
}

TEST_F(PreviewTest, DrawingCoversThePictureOrStretchesToThePane) {
    ASSERT_EQ(InitEncoderLibrary(), 1);
    Prepare();
    EncoderSettings.stretchPreview = 0;
    DrawInputPreviewFrame(&gSurface[0]);
    ASSERT_EQ(gBlits.size(), 1u);
    const PreviewBlit& b = gBlits[0];
    EXPECT_EQ(b.pixels, pixels_.data());
    EXPECT_EQ(b.bitsPerPixel, 24);
    EXPECT_EQ(b.imageBytes, 6 * 4 * 3);
    EXPECT_EQ(b.srcWidth, 6);
    EXPECT_EQ(b.srcHeight, 4);
    EXPECT_EQ(b.srcY, 0);
    EXPECT_EQ(b.dstWidth, 6);
    EXPECT_EQ(b.dstHeight, 4);
    EXPECT_EQ(InputPreviewDrawn, 1);

    EncoderSettings.stretchPreview = 1;
    DrawOutputPreviewFrame(&gSurface[1]);
    ASSERT_EQ(gBlits.size(), 2u);
    EXPECT_EQ(gBlits[1].dstWidth, 200);
    EXPECT_EQ(gBlits[1].dstHeight, 150);

    // Nothing without a surface, a buffer, the ready flag or the show setting.
    gBlits.clear();
    DrawInputPreviewFrame(nullptr);
    EXPECT_EQ(InputPreviewDrawn, 0);
    PreviewPictures.InputPreviewReady = 0;
    DrawInputPreviewFrame(&gSurface[0]);
    PreviewPictures.InputPreviewReady = 1;
    EncoderSettings.showOutput = 0;
    EXPECT_EQ(DrawOutputPreviewIfShown(&gSurface[1]), 1);
    EXPECT_TRUE(gBlits.empty());
}

TEST_F(PreviewTest, DrawingDoesNotReenterItself) {
    PreviewWindows.blit = [](void* surface, const PreviewBlit& b) {
        gBlits.push_back(b);
        DrawInputPreviewFrame(surface);
    };
    DrawInputPreviewFrame(&gSurface[0]);
    EXPECT_EQ(gBlits.size(), 1u);
    EXPECT_EQ(InputPreviewDrawing, 0);
}

TEST_F(PreviewTest, RefreshUsesThePanesOwnSurfaceAndGivesItBack) {
    RefreshOutputPreview();
    EXPECT_EQ(gAcquired, std::vector<int>{kOutputPane});
    EXPECT_EQ(gReleased, std::vector<int>{kOutputPane});
    EXPECT_EQ(gBlits.size(), 1u);

    gPaneExists[kInputPane] = false;
    gAcquired.clear();
    gReleased.clear();
    RefreshInputPreview();
    EXPECT_EQ(gAcquired, std::vector<int>{kInputPane});
    EXPECT_TRUE(gReleased.empty());
    EXPECT_EQ(gBlits.size(), 1u);
}

TEST_F(PreviewTest, PaletteIsRealisedInAPaneOtherThanTheOneThatChangedIt) {
    gDisplayBits = 8;
    ASSERT_EQ(InitEncoderLibrary(), 1);
    Prepare();
    static int invalidations = 0;
    invalidations = 0;
    PreviewWindows.invalidate = [] { ++invalidations; };
    PreviewWindows.realizePalette = [](void* surface, const uint32_t*, int colours, bool) {
        gRealized = surface == &gSurface[kOutputPane] ? colours : -1;
        return colours;
    };
    EXPECT_EQ(RealizePreviewPalette(true, kInputPane), 224);
    EXPECT_EQ(gRealized, 224);
    EXPECT_EQ(gReleased, std::vector<int>{kOutputPane});
    EXPECT_EQ(invalidations, 1);

    PreviewPictures.InputPreviewReady = 0;
    EXPECT_EQ(RealizePreviewPalette(true, -1), 0);
}

}  // namespace
