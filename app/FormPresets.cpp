// The Video-CD preset, the format buttons and a new input's effect on the form's values.
#include "app/FormPresets.h"

#include "settings/AudioRates.h"

namespace {
bool NtscHeight(int h) { return h == 240 || h == 480 || h == 128; }
bool PalHeight(int h) { return h == 288 || h == 576 || h == 144; }
}  // namespace

VcdSnapshot TakeVcdSnapshot(const FormValues& form) {
    const FormCoding& c = form.coding;
    VcdSnapshot v;
    v.mpeg1AspectRatio = c.mpeg1AspectRatio;
    v.frameRateIndex = form.frameRateIndex;
    v.muxPackSize = c.muxPackSize;
    v.audioBitRateIndex = c.audioBitRateIndex;
    v.audioBitRate = c.audioBitRate;
    v.audioMode = c.audioMode;
    v.ipDistance = c.ipDistance;
    v.gopSize = c.gopSize;
    v.bitRateKbit = form.bitRateKbit;
    v.applicationType = c.applicationType;
    v.constrainedParameters = c.constrainedParameters;
    v.rateControl = c.rateControl;
    v.width = form.width;
    v.height = form.height;
    return v;
}

void RestoreVcdSnapshot(const VcdSnapshot& v, FormValues* form) {
    FormCoding& c = form->coding;
    c.mpeg1AspectRatio = v.mpeg1AspectRatio;
    form->frameRateIndex = v.frameRateIndex;
    c.muxPackSize = v.muxPackSize;
    c.audioBitRateIndex = v.audioBitRateIndex;
    c.audioBitRate = v.audioBitRate;
    c.audioMode = v.audioMode;
    c.ipDistance = v.ipDistance;
    c.gopSize = v.gopSize;
    form->bitRateKbit = v.bitRateKbit;
    c.applicationType = v.applicationType;
    c.constrainedParameters = v.constrainedParameters;
    c.rateControl = v.rateControl;
    form->width = v.width;
    form->height = v.height;
}

bool VcdSystemKnown(int height, int index) {
    return NtscHeight(height) || PalHeight(height) || index == kRateIndex25 || index == kRateIndex2997 ||
           index == kRateIndex30;
}

void AudioModeFromChannels(int channels, FormCoding* c) {
    if (channels == 1)
        c->audioMode = 0;
    else if (channels == 2)
        c->audioMode = 1;
    c->audioBitRate = AudioBitrateFromIndex(c->audioMode, c->audioBitRateIndex);
}

void SetVcdSystem(bool ntsc, FormValues* form) {
    form->width = 352;
    form->height = ntsc ? 240 : 288;
    form->frameRateIndex = ntsc ? kRateIndex2997 : kRateIndex25;
    form->coding.mpeg1AspectRatio = ntsc ? 12 : 8;
}

bool ApplyVcdPreset(FormValues* form, int inputChannels) {
    const int h = form->height, index = form->frameRateIndex;
    if (!VcdSystemKnown(h, index)) return false;
    const bool ntsc = NtscHeight(h) || (!PalHeight(h) && (index == kRateIndex2997 || index == kRateIndex30));
    FormCoding& c = form->coding;
    c.streamType = kStreamTypeVideoCd;
    SetVcdSystem(ntsc, form);
    c.rateControl = kRateConstant;
    c.applicationType = kApplicationVcd20;
    c.constrainedParameters = 1;
    c.muxPackSize = 2324;
    c.audioMode = inputChannels == 1 ? 0 : 1;
    c.audioBitRateIndex = 6;
    c.audioBitRate = AudioBitrateFromIndex(c.audioMode, 6);
    c.ipDistance = 3;
    c.gopSize = 15;
    form->bitRateKbit = 1123;
    return true;
}

int VcdFrameRateForHeight(int height, int currentIndex) {
    if (height == 240 || height == 480 || height == 120) return kRateIndex2997;
    if (height == 288 || height == 576 || height == 144) return kRateIndex25;
    if (currentIndex == kRateIndex25 || currentIndex == kRateIndex2997 || currentIndex == kRateIndex30)
        return currentIndex;
    return kRateIndex2997;
}

void LeaveVcdPreset(const VcdSnapshot& snapshot, FormValues* form) {
    RestoreVcdSnapshot(snapshot, form);
    if (form->coding.streamType == kStreamTypeVideoCd) form->coding.streamType = kStreamTypeMpeg1;
    if (form->coding.applicationType == kApplicationVcd20) form->coding.applicationType = kApplicationNone;
    form->videoCd = 0;
}

bool SwitchVideoCd(FormValues* form, VcdSnapshot* snapshot, int inputChannels) {
    if (form->videoCd) {
        if (!VcdSystemKnown(form->height, form->frameRateIndex)) {
            form->videoCd = 0;
            return false;
        }
        *snapshot = TakeVcdSnapshot(*form);
        ApplyVcdPreset(form, inputChannels);
    } else {
        form->coding.streamType = kStreamTypeMpeg1;
        form->coding.applicationType = kApplicationNone;
        LeaveVcdPreset(*snapshot, form);
        AudioModeFromChannels(inputChannels, &form->coding);
    }
    return true;
}

void ChooseMpeg1(FormValues* form) {
    // Clicked again with the Video-CD preset on: it stays, as its box shows.
    if (form->videoCd) return;
    form->coding.applicationType = kApplicationNone;
    form->coding.streamType = kStreamTypeMpeg1;
}

bool ChooseMpeg2(FormValues* form, const VcdSnapshot& snapshot) {
    form->coding.applicationType = kApplicationNone;
    const bool left = form->videoCd != 0;
    if (left) LeaveVcdPreset(snapshot, form);
    form->coding.streamType = kStreamTypeMpeg2;
    return left;
}

bool SwitchEncodeAudio(FormValues* form, const VcdSnapshot& snapshot) {
    if (form->encodeAudio) {
        form->keepDuration = 1;
        return false;
    }
    const bool left = form->videoCd != 0;
    if (left) {
        form->coding.streamType = kStreamTypeMpeg1;
        LeaveVcdPreset(snapshot, form);
    }
    form->coding.applicationType = kApplicationNone;
    return left;
}

void TakeProbedInput(const TakenInput& input, int frames, FormValues* form, VcdSnapshot* snapshot) {
    form->inputName = input.name;
    const bool keepVcd = form->videoCd && form->streamKind == kStreamMpeg1 && input.hasAudio;
    if (form->videoCd && !keepVcd) LeaveVcdPreset(*snapshot, form);
    form->width = input.width;
    form->height = input.height;
    form->frames = frames;
    if (keepVcd) {
        snapshot->width = input.width;
        snapshot->height = input.height;
        // So does the sound the form gets back when the preset is left.
        FormCoding sound;
        sound.audioMode = snapshot->audioMode;
        sound.audioBitRateIndex = snapshot->audioBitRateIndex;
        AudioModeFromChannels(input.channels, &sound);
        snapshot->audioMode = sound.audioMode;
        snapshot->audioBitRate = sound.audioBitRate;
        // The preset's video system follows the new input whole.
        SetVcdSystem(VcdFrameRateForHeight(input.height, form->frameRateIndex) != kRateIndex25, form);
    }
}
