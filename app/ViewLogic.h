// The arithmetic of the view and its preview panes, kept apart from the
// widgets: where the previews, the progress panels and the form go, where a
// picture sits in its pane, which message a command ends with.
#pragma once

#include <cstdint>
#include <string>

struct ViewRect {
    int x = 0, y = 0, width = 0, height = 0;
    bool operator==(const ViewRect&) const = default;
};

// LayoutUnitY from the height in pixels of 100 dialog units of the form.
int LayoutUnitFromDialogUnits(int pixelsPer100DialogUnits);
// The pixels of 100 dialog units for a form of `formHeight` pixels: the
// form's band (LayoutUnitY x 166 / 100) then holds the whole form.
int DialogUnitsForFormHeight(int formHeight);

// The view's three areas for its client size: the preview container at the
// top, and below it, across the whole width, either the progress host
// (while encoding) or the form.
struct ViewLayout {
    ViewRect previews;
    ViewRect lower;  // the progress host's or the form's place
};
ViewLayout ComputeViewLayout(int width, int height, int layoutUnitY);

// The two panes in a container of width x height; a pane not shown lies
// outside the client area (panes are moved out of sight, never hidden).
struct PaneLayout {
    ViewRect input, output;
};
PaneLayout ComputePaneLayout(int width, int height, bool showInput, bool showOutput);

// The picture window of a pane: centred in the framed area's client area
// (clientWidth x clientHeight), 2 pixels of border around the picture (1 in
// the compatible layout). The default picture size stands in when the pane is
// not shown, the preview size is unusable, or stretching is on.
inline constexpr int kDefaultPictureWidth = 352, kDefaultPictureHeight = 240;
// The narrowest view whose two panes each show a picture of the default size whole.
int ViewWidthForTwoPictures();

ViewRect ComputePictureRect(int clientWidth, int clientHeight, int previewWidth, int previewHeight, bool shown,
                            bool stretch, bool compatibleLayout);

// How the idle picture (bitmapWidth x bitmapHeight) goes into a picture
// window's client area: nothing for a bitmap outside 11..999 pixels either
// way; unscaled and centred when it fits, else stretched over the whole area.
struct IdlePicturePlacement {
    bool draw = false;
    bool stretched = false;
    ViewRect target;
};
IdlePicturePlacement PlaceIdlePicture(int clientWidth, int clientHeight, int bitmapWidth, int bitmapHeight);

// The status text's string after an encoding: aborted by the user, failed, completed.
int EncodingStatusText(bool userStopped, int jobResult);
// The overwrite question's string for an existing output file.
int OverwriteQuestionText(const std::string& outputName);

// What the size of the file to preview or play allows: 0 when it may be
// played, else the message's string. `size` is -1 when the file could not be
// opened, -2 when its size could not be read.
int PlayFileCheckText(bool input, int64_t size);
// The message of a player that did not start, by the platform's result code:
// 0 out of resources, 2 or 3 not found, 5 access denied, 11 bad program,
// anything else not available.
int PlayerFailureText(bool input, int code);

// The view's answer to Alt+letter while an encoding runs.
enum class SysCharCommand { None, Pause, Stop, Stretch };
SysCharCommand ClassifySysChar(int character);
