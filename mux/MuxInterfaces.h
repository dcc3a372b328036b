// The job's bridge to the multiplexer library: settings become a mux type and
// options, one session runs, and library statuses become message texts.
#pragma once

#include <cstdint>
#include <string>

// 0 on success, 1 when the user stopped, else the library's status (or -500 from the preparation).
int MultiplexWithLibrary(const std::string& audioFile, const std::string& videoFile, const std::string& outputFile);

// Resets the progress counters to the two input sizes and pumps once; -500 when the user has stopped.
int PrepareMuxProgress(const std::string& audioFile, const std::string& videoFile);

// Whether a profile's system stream buffer sizes can be multiplexed with `packSize`-byte
// packs: each buffer takes a whole pack and fits the system header's fields.
bool MuxBufferSizesUsable(int audioBufferKb, int videoBufferKb, int packSize);

// The refusal of a DVD, SVCD or Video-CD job whose video and sound together are more than the
// disc's rate carries: it names the video bit rate and the largest one that fits
// beside the sound. Empty when they fit.
std::string DiscRateRefusal();
// The refusal of an SVCD job whose title would pass the 99 minutes of sectors that its
// scan information can address; empty when it stays within them.
std::string SvcdLengthRefusal();

// Why the job's multiplexer settings would deliver the streams late (a buffer that
// cannot take a packet while it holds the unit to decode); empty when they can work.
// `compact`: the MPEG-1 system stream multiplexer will run rather than the library.
std::string MultiplexSettingsProblem(bool compact);

// Type, options and parameters of the current session from the job's settings; a
// buffer size outside its range is -509 with its text in MuxMessageText. The pack
// settings the library does not take are named in MuxSettingsNotApplied.
int32_t ConfigureMuxSession();

// Which of the job's multiplex settings the last library run did not apply, and why; empty when none.
extern std::string MuxSettingsNotApplied;

// Hands the library a malloc'ed copy of the output file name.
int32_t MuxFileNameCallback(char** name);

// The library's message callback: the status's text goes to MuxMessageText.
int32_t ReportMuxLibraryError(int32_t status, int32_t zero, int32_t userValue);
