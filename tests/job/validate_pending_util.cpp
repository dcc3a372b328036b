// Stand-ins for the settings storage and the audio rate table until the
// profile module provides them.
#include "job/AudioRates.h"
#include "job/EncoderSettings.h"

EncoderSettingsRecord EncoderSettings;
int ProfileLoaded = 0;
int ParameterError = 0;
int CustomProfileLoaded = 0;
int ProfileHeaderError = 0;

int AudioBitrateFromIndex(int mode, int index) {
    static const int mono[10] = {32, 48, 56, 64, 80, 96, 112, 128, 160, 192};
    static const int stereo[10] = {64, 96, 112, 128, 160, 192, 224, 256, 320, 384};
    if (static_cast<unsigned>(index) > 9u) return 128;
    return mode < 1 ? mono[index] : stereo[index];
}

void ReadProfile(const char*) {}
int WriteProfile(const char*) { return 0; }
