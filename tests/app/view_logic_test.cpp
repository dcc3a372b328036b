// The view's arithmetic: where the panes and pictures go, how the idle
// picture is placed, and which texts the commands end with.
#include <gtest/gtest.h>

#include "app/ViewLogic.h"

namespace {

TEST(PaneLayoutTest, PanesShareTheContainerOrLeaveIt) {
    // Both shown: side by side, 4 pixels apart around the middle.
    PaneLayout both = ComputePaneLayout(700, 300, true, true);
    EXPECT_EQ(both.input, (ViewRect{6, 5, 340, 290}));
    EXPECT_EQ(both.output, (ViewRect{354, 5, 340, 290}));
    // One shown: it takes the width, the other lies beyond the client area.
    PaneLayout input = ComputePaneLayout(700, 300, true, false);
    EXPECT_EQ(input.input, (ViewRect{6, 5, 689, 290}));
    EXPECT_GE(input.output.x, 700);
    PaneLayout output = ComputePaneLayout(700, 300, false, true);
    EXPECT_EQ(output.output, (ViewRect{6, 5, 689, 290}));
    EXPECT_LE(output.input.x + output.input.width, 0);
    // Neither shown: nothing of either pane is inside.
    PaneLayout none = ComputePaneLayout(700, 300, false, false);
    EXPECT_LE(none.input.x + none.input.width, 0);
    EXPECT_GE(none.output.x, 700);
    // A container narrower than 20 pixels still lays out, with negative widths.
    EXPECT_LT(ComputePaneLayout(15, 300, true, true).input.width, 0);
}

TEST(PaneLayoutTest, PictureIsCentredAtThePreviewSizeOrTheDefault) {
    EXPECT_EQ(ComputePictureRect(400, 300, 352, 288, true, false, false), (ViewRect{22, 4, 356, 292}));
    // Stretching, a hidden pane or an unusable size give 352 x 240.
    const ViewRect standard{22, 28, 356, 244};
    EXPECT_EQ(ComputePictureRect(400, 300, 720, 576, true, true, false), standard);
    EXPECT_EQ(ComputePictureRect(400, 300, 720, 576, false, false, false), standard);
    EXPECT_EQ(ComputePictureRect(400, 300, 0, 576, true, false, false), standard);
    // The compatible layout has a 1-pixel border.
    EXPECT_EQ(ComputePictureRect(400, 300, 352, 240, true, false, true), (ViewRect{23, 29, 354, 242}));
}

TEST(PaneLayoutTest, IdlePictureFitsUnscaledOrIsStretched) {
    IdlePicturePlacement fits = PlaceIdlePicture(352, 240, 350, 238);
    EXPECT_TRUE(fits.draw);
    EXPECT_FALSE(fits.stretched);
    EXPECT_EQ(fits.target, (ViewRect{1, 1, 350, 238}));
    IdlePicturePlacement small = PlaceIdlePicture(200, 240, 350, 238);
    EXPECT_TRUE(small.stretched);
    EXPECT_EQ(small.target, (ViewRect{0, 0, 200, 240}));
    EXPECT_FALSE(PlaceIdlePicture(352, 240, 10, 238).draw);
    EXPECT_FALSE(PlaceIdlePicture(352, 240, 350, 1000).draw);
}

TEST(ViewLayoutTest, TheFormBandHoldsTheForm) {
    for (int form : {120, 163, 201, 260}) {
        const int unit = LayoutUnitFromDialogUnits(DialogUnitsForFormHeight(form));
        const ViewLayout layout = ComputeViewLayout(800, 600, unit);
        EXPECT_GE(layout.previews.height + form, 600 - 2) << form;
        EXPECT_LE(layout.previews.height + form, 600) << form;
        EXPECT_GE(layout.lower.height, form) << form;
        EXPECT_EQ(layout.lower.x, 0);
        EXPECT_EQ(layout.lower.width, 800);
        EXPECT_EQ(layout.lower.y + layout.lower.height, 600);
    }
}

TEST(ViewTextsTest, CommandsEndWithTheirMessages) {
    EXPECT_EQ(EncodingStatusText(true, -1), 64130);
    EXPECT_EQ(EncodingStatusText(false, -1), 64131);
    EXPECT_EQ(EncodingStatusText(false, 0), 64132);
    EXPECT_EQ(OverwriteQuestionText(std::string(21, 'a')), 64124);
    EXPECT_EQ(OverwriteQuestionText(std::string(20, 'a')), 64125);
    EXPECT_EQ(PlayFileCheckText(true, 99), 64140);
    EXPECT_EQ(PlayFileCheckText(true, 0), 64139);
    EXPECT_EQ(PlayFileCheckText(true, -1), 64142);
    EXPECT_EQ(PlayFileCheckText(false, -2), 64155);
    EXPECT_EQ(PlayFileCheckText(false, 100), 0);
    EXPECT_EQ(PlayerFailureText(true, 3), 64146);
    EXPECT_EQ(PlayerFailureText(false, 5), 64162);
    EXPECT_EQ(PlayerFailureText(false, 40), 64163);
    EXPECT_EQ(ClassifySysChar('W'), SysCharCommand::Stretch);
    EXPECT_EQ(ClassifySysChar('r'), SysCharCommand::None);
}

}  // namespace
