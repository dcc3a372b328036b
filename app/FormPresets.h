// The main settings form's stream-format rules: the Video-CD preset and its
// snapshot, the format buttons and the audio switch, and what a newly probed
// input changes. They change the form's values only; the store takes them
// into the settings.
#pragma once

#include "app/FormLogic.h"

// The values the preset changes, kept to put back when it is switched off.
struct VcdSnapshot {
    int mpeg1AspectRatio = 1;
    int frameRateIndex = kRateIndex2997;
    int muxPackSize = 2048;
    int audioBitRateIndex = 3;
    int audioBitRate = 128;
    int audioMode = 1;
    int ipDistance = 3;
    int gopSize = 12;
    int bitRateKbit = 1600;
    int applicationType = kApplicationNone;
    int constrainedParameters = 1;
    int rateControl = kRateConstant;
    int width = 0;
    int height = 0;
};

VcdSnapshot TakeVcdSnapshot(const FormValues& form);
void RestoreVcdSnapshot(const VcdSnapshot& snapshot, FormValues* form);

// Whether the preset can tell NTSC from PAL by the picture height or the frame rate.
bool VcdSystemKnown(int height, int frameRateIndex);
// Applies the preset (the caller took the snapshot); `inputChannels` 1 keeps
// mono audio. False, nothing changed, when the video system is unknown.
bool ApplyVcdPreset(FormValues* form, int inputChannels);
// The Video-CD picture of NTSC (352 x 240 at 29.97, pel aspect code 12) or
// PAL (352 x 288 at 25, code 8).
void SetVcdSystem(bool ntsc, FormValues* form);
// The audio mode (and its bit rate) that follows the source's channel count.
void AudioModeFromChannels(int channels, FormCoding* coding);
// The frame rate a kept Video-CD preset takes from a new input's height.
int VcdFrameRateForHeight(int height, int currentIndex);

// Leaves the preset: the snapshot comes back, and a snapshot taken from a
// profile that came with the preset on (and so holds the preset itself)
// never lands back in it.
void LeaveVcdPreset(const VcdSnapshot& snapshot, FormValues* form);

// "Video-CD" ticked (form->videoCd 1) or unticked: ticked takes the snapshot
// and applies the preset, unticked restores it and lets the audio mode follow
// the input's channels again. False (and the box to be unticked) when the
// preset cannot tell the video system.
bool SwitchVideoCd(FormValues* form, VcdSnapshot* snapshot, int inputChannels);
// "Mpeg-1" and "Mpeg-2": no application type; "Mpeg-1" clicked again keeps a
// Video-CD preset that is on, MPEG-2 leaves it (true: the controls must show
// the snapshot again).
void ChooseMpeg1(FormValues* form);
bool ChooseMpeg2(FormValues* form, const VcdSnapshot& snapshot);
// "Encode audio" switched to form->encodeAudio: off leaves a Video-CD preset
// (true: the controls must show the snapshot again); on keeps the duration.
bool SwitchEncodeAudio(FormValues* form, const VcdSnapshot& snapshot);

// A probed input's size and frame count into the form. A Video-CD preset
// stays on only for MPEG-1 with an input that has sound: its picture, frame
// rate and pel aspect follow the new height's video system, and the file's
// own size becomes what unticking gives back.
void TakeProbedInput(const TakenInput& input, int frames, FormValues* form, VcdSnapshot* snapshot);
