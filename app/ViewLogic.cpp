// The view's arithmetic (see ViewLogic.h).
#include "app/ViewLogic.h"

int LayoutUnitFromDialogUnits(int pixelsPer100DialogUnits) { return pixelsPer100DialogUnits * 100 / 163; }

int DialogUnitsForFormHeight(int formHeight) {
    // The smallest unit whose band is at least the form's height, back through the 163 of the unit.
    const int unit = (formHeight * 100 + 165) / 166;
    return (unit * 163 + 99) / 100;
}

ViewLayout ComputeViewLayout(int width, int height, int layoutUnitY) {
    const int form = layoutUnitY * 166 / 100;
    ViewLayout layout;
    layout.previews = {0, 0, width, height - form};
    // The band stays inside the client area: a child widget has no dialog
    // frame that would need to be pushed out of sight.
    layout.lower = {0, height - form, width, form};
    return layout;
}

PaneLayout ComputePaneLayout(int width, int height, bool showInput, bool showOutput) {
    const int half = width / 2;
    const int paneHeight = height - 10;
    const ViewRect leftHalf{6, 5, half - 10, paneHeight};
    const ViewRect rightHalf{half + 4, 5, half - 10, paneHeight};
    const ViewRect whole{6, 5, width - 11, paneHeight};
    const ViewRect beyondLeft{half - width + 4, 5, half - 10, paneHeight};
    const ViewRect beyondRight{width + half + 4, 5, half - 10, paneHeight};
    if (showInput && showOutput) return {leftHalf, rightHalf};
    if (showInput) return {whole, beyondRight};
    if (showOutput) return {beyondLeft, whole};
    return {beyondLeft, beyondRight};
}

int ViewWidthForTwoPictures() {
    // A picture window is the picture and a border of 2 on each side; its
    // framed area draws raised edges 2 pixels further out.
    const int paneWidth = kDefaultPictureWidth + 2 * 2 + 2 * 2;
    // ComputePaneLayout gives each pane half the width less 10.
    return 2 * (paneWidth + 10);
}

ViewRect ComputePictureRect(int clientWidth, int clientHeight, int previewWidth, int previewHeight, bool shown,
                            bool stretch, bool compatibleLayout) {
    int w = previewWidth, h = previewHeight;
    if (!shown || w < 1 || h < 1 || stretch) {
        w = kDefaultPictureWidth;
        h = kDefaultPictureHeight;
    }
    const int x = (clientWidth - w) / 2;
    const int y = (clientHeight - h) / 2;
    const int border = compatibleLayout ? 1 : 2;
    return {x - border, y - border, w + 2 * border, h + 2 * border};
}

IdlePicturePlacement PlaceIdlePicture(int clientWidth, int clientHeight, int bitmapWidth, int bitmapHeight) {
    IdlePicturePlacement p;
    if (bitmapWidth <= 10 || bitmapWidth >= 1000 || bitmapHeight <= 10 || bitmapHeight >= 1000) return p;
    p.draw = true;
    if (clientWidth >= bitmapWidth && clientHeight >= bitmapHeight) {
        p.target = {(clientWidth - bitmapWidth) / 2, (clientHeight - bitmapHeight) / 2, bitmapWidth, bitmapHeight};
    } else {
        p.stretched = true;
        p.target = {0, 0, clientWidth, clientHeight};
    }
    return p;
}

int EncodingStatusText(bool userStopped, int jobResult) {
    if (userStopped) return 64130;
    return jobResult != 0 ? 64131 : 64132;
}

int OverwriteQuestionText(const std::string& outputName) { return outputName.size() > 20 ? 64124 : 64125; }

int PlayFileCheckText(bool input, int64_t size) {
    if (size == -1) return input ? 64142 : 64156;
    if (size < 0) return input ? 64141 : 64155;
    if (size == 0) return input ? 64139 : 64153;
    if (size < 100) return input ? 64140 : 64154;
    return 0;
}

int PlayerFailureText(bool input, int code) {
    switch (code) {
        case 0: return input ? 64145 : 64159;
        case 2:
        case 3: return input ? 64146 : 64160;
        case 5: return input ? 64148 : 64162;
        case 11: return input ? 64147 : 64161;
        default: return input ? 64149 : 64163;
    }
}

SysCharCommand ClassifySysChar(int character) {
    switch (character) {
        case 'p':
        case 'P': return SysCharCommand::Pause;
        case 's':
        case 'S': return SysCharCommand::Stop;
        case 'w':
        case 'W': return SysCharCommand::Stretch;
        default: return SysCharCommand::None;
    }
}
