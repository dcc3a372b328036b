// File services of the MPEG-1 system stream multiplexer shared by its analysis
// and its writer: every failure leaves through MuxAbort with its text stored.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>

#include "mux/Mplex.h"

// Stores the failure text, sets EncodeAbortFlag and leaves.
[[noreturn]] void MuxFail(int code, const std::string& text);

// Opens `path`; never returns a failure. Open files are closed by the entry
// whatever way the run ends.
FILE* OpenMuxFile(const std::string& path, const char* mode);
// Closes and forgets `file`; a failed close aborts.
int CloseMuxFile(FILE* file);
// Closes every file still open without checking (the failure path).
void CloseAllMuxFiles();
// Items read; a short count at the end of a file is normal, an error aborts.
size_t ReadTempFile(void* buffer, size_t size, size_t count, FILE* file);
// Items written; anything short of `count` aborts.
size_t WriteMuxFile(const void* buffer, size_t size, size_t count, FILE* file);
int64_t GetFileLength(const std::string& path);

void WriteVideoRecord(FILE* file, const VideoUnitRecord& record);
void WriteAudioRecord(FILE* file, const AudioUnitRecord& record);
// False at the end of the file (a trailing partial record counts as the end).
bool ReadVideoRecord(FILE* file, VideoUnitRecord& record);
bool ReadAudioRecord(FILE* file, AudioUnitRecord& record);

// The writer: packs, packets, system header and end code from the two record files.
void MultiplexStreams(const std::string& videoFile, const std::string& videoRecordFile, const VideoStreamInfo& videoInfo,
                      const std::string& audioFile, const std::string& audioRecordFile, const AudioStreamInfo& audioInfo,
                      const std::string& outputFile, unsigned packetSize, unsigned packetsPerPack, int audioBufferKb,
                      int videoBufferKb);

// Byte layouts the writer emits; exposed for the tests of their fields.
void WriteTimeStamp(const TimeCode& timeCode, unsigned prefix, unsigned char*& cursor);
void BuildPackHeader(unsigned char* packRecord, const TimeCode& scr, uint32_t muxRate);
void BuildSystemHeader(unsigned char* systemRecord, uint32_t rateBound, unsigned audioBound, unsigned cspsFlag,
                       unsigned audioLock, unsigned videoLock, unsigned videoBound, unsigned audioStreamId,
                       unsigned audioScale, unsigned audioBufferBound, unsigned videoStreamId, unsigned videoScale,
                       unsigned videoBufferBound);
