// The encoders and multiplexers the job calls after its video pass. Until the
// audio encoder and the system-stream multiplexer are part of the program, the
// job carries stand-ins for them (job/JobAudioStandIn.cpp, job/JobMplexStandIn.cpp) that always fail.
#pragma once

#include <cstdint>
#include <string>

// Layer II audio of the AVI input's PCM into `outputPath`; 0 on success.
// Mode letters: 'm' mono, 's' stereo, 'd' dual channel, 'j' joint stereo.
int EncodeAudioFile(const std::string& outputPath, int kbitPerSecond, char modeLetter);

// The compact MPEG-1 system stream multiplexer; 0 on success.
int MultiplexMpeg1SystemStream(const std::string& audioFile, const std::string& videoFile,
                               const std::string& outputFile, int packSize, int packetsPerPack,
                               int audioBufferKb, int videoBufferKb);
extern int64_t MuxBytesDone;
extern int64_t MuxBytesTotal;
extern std::string MuxMessageText;

// The multiplexer library for every other output type; 0 on success. Until the
// library is part of the program this reports the output type as unavailable
// and fails.
int MultiplexWithLibrary(const std::string& audioFile, const std::string& videoFile, const std::string& outputFile);
