// STAND-IN, to be deleted when the audio encoder joins the program: it fails
// with a message so that no job ever reports success without its audio.
#include "job/JobMux.h"

#include "job/Report.h"

int EncodeAudioFile(const std::string& outputPath, int kbitPerSecond, char modeLetter) {
    (void)outputPath;
    (void)kbitPerSecond;
    (void)modeLetter;
    ShowWarningMessage("The audio encoder is not available in this build.");
    return -1;
}
