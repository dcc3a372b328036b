// Placeholder for the settings derivation and checks, which are not built
// yet: it derives nothing and checks nothing, it only does the little a
// profile load needs to count as complete.
#include "job/Finalise.h"

#include "job/EncoderSettings.h"

void FinaliseSettings(bool /*recheck*/) {
    EncoderSettings.intraMatrixFileName = "-";
    EncoderSettings.nonIntraMatrixFileName = "-";
    EncoderSettings.workingWidth = EncoderSettings.horizontalSize;
    EncoderSettings.workingHeight = EncoderSettings.verticalSize;
    ProfileLoaded = 1;
}
