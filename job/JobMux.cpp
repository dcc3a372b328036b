// The job's entry to the multiplexer library. The library is not part of the
// program yet, so the output types it writes are refused as a failed step.
#include "job/JobMux.h"

int MultiplexWithLibrary(const std::string& audioFile, const std::string& videoFile, const std::string& outputFile) {
    (void)audioFile;
    (void)videoFile;
    (void)outputFile;
    MuxMessageText = "This output type is not available yet.";
    return -1;
}
