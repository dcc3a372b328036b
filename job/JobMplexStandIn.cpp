// STAND-IN, to be deleted when the MPEG-1 system stream multiplexer joins the
// program: it fails through the job's normal error path.
#include "job/JobMux.h"

int64_t MuxBytesDone = 0;
int64_t MuxBytesTotal = 0;
std::string MuxMessageText;

int MultiplexMpeg1SystemStream(const std::string& audioFile, const std::string& videoFile,
                               const std::string& outputFile, int packSize, int packetsPerPack,
                               int audioBufferKb, int videoBufferKb) {
    (void)audioFile, (void)videoFile, (void)outputFile, (void)packSize, (void)packetsPerPack;
    (void)audioBufferKb, (void)videoBufferKb;
    MuxMessageText = "The MPEG-1 system stream multiplexer is not available in this build.";
    return 1;
}
