// What the files of a running job share: the multiplexed output under way and
// whether the multiplexer failed. Only the job's own files include it.
#pragma once

#include "job/DvdOutput.h"
#include "job/OutputFiles.h"

// The multiplexed output until it is put in place or dropped: the file of any job
// but a DVD volume one, or that job's volume, written whole beside VIDEO_TS.
// MultiplexStreams (JobMux.cpp) begins and commits them; OfferToDelete
// (JobMessages.cpp) drops or keeps one that failed its checks; RunEncoding
// (JobDriver.cpp) drops what is left when the job ends.
extern JobOutput MuxOutput;
extern DvdVolumeOutput DvdOutput;

// Set by MultiplexStreams when the multiplexer failed other than by a stop: the
// elementary streams are then kept whatever the settings say, so that they can be
// multiplexed again with other settings. RunEncoding clears it before each job
// and reads it at the end.
extern bool MultiplexFailed;
