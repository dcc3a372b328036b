// Storage of the process-wide settings record and the flags kept beside it.
#include "settings/EncoderSettings.h"

EncoderSettingsRecord EncoderSettings;

int MmxEnabled = 1;

int DefaultShowInput = 0;
int DefaultShowOutput = 1;
int DefaultAutoWindowSize = 1;
int DefaultStretchPreview = 1;

int ProfileLoaded = 0;
int ParameterError = 0;
int CustomProfileLoaded = 0;
int ProfileHeaderError = 0;
