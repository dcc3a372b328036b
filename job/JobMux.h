// The multiplexing step of a job, and the encoder and multiplexers the job
// calls after its video pass.
#pragma once

#include <cstdint>
#include <string>

#include "audio/AudioEncoder.h"
#include "job/OutputFiles.h"
#include "mux/Mplex.h"
#include "mux/MuxInterfaces.h"
#include "settings/EncoderSettings.h"

// Joins the temporary video and audio streams into the output (a file, or a DVD
// volume) and checks it; 0 when the output was put in place, else -1 after a message.
int MultiplexStreams();
// The temporary streams as their passes put them in place (or as the job found them when
// it kept them): the multiplexing step joins only these files.
extern FileIdentity WrittenVideoStream, WrittenAudioStream;
// The mux type the multiplexing step will ask the library for.
int JobMuxType(const EncoderSettingsRecord& e);
// Whether the MPEG-1 system stream multiplexer rather than the library joins streams of this size.
bool CompactMultiplexer(int64_t streamBytes);
