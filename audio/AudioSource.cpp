// Where the audio encoder's PCM comes from; kept apart from the driver so a
// program can install its source without linking the encoder's passes.
#include "audio/AudioEncoder.h"

AudioPcmSourceFn AudioPcmSource = nullptr;
