// The session record of the multiplexer library and the module state around it;
// engines and feeds reach the session through these declarations.
#pragma once

#include "muxlib/MuxLib.h"

#include <array>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class DvdMuxEngine;
class MuxPackEngine;
class ProgramMuxEngine;
class SystemMuxEngine;

// One entry of the sink list: a write function and its context.
struct MuxSinkEntry {
    MuxWriteFunction write = nullptr;
    void* context = nullptr;
    int32_t kind = 0;  // 1 file (kinds 1 and 3), 2 caller sink, 0 raw function
};

// Buffered output file of a file sink.
struct MuxFileSink {
    std::string name;
    int fd = -1;
    std::array<uint8_t, 8192> buffer{};
    uint32_t fill = 0;

    int32_t Open();
    // Creates the file, which must not exist yet; errno tells why it could not be made.
    int32_t OpenNew();
    int32_t Flush();
    // Flushes unless told not to, then closes; a failed flush or close is -506.
    int32_t Close(bool flush);
};

int32_t MuxFileSinkWrite(const uint8_t* data, uint32_t bits, void* sink);
int32_t MuxCallbackSinkWrite(const uint8_t* data, uint32_t bits, void* pair);

class MuxSession {
public:
    MuxSession();
    ~MuxSession();
    void DeleteEngines();
    MuxSession(const MuxSession&) = delete;
    MuxSession& operator=(const MuxSession&) = delete;

    // Calls the message callback, then keeps the status as the last one.
    void ReportStatus(int32_t status);
    // The same, with the words that say what went wrong.
    void ReportProblem(int32_t status, const std::string& text);
    // Hands whole packs or loose bytes to every sink in list order; first failure wins.
    int32_t WritePack(const uint8_t* data, uint32_t bytes);
    int32_t WriteBytes(const uint8_t* data, uint32_t bytes) { return WritePack(data, bytes); }
    int32_t OpenFileSinks();
    // Flushes (unless a failure is stored) and closes every sink; the first failure is returned.
    int32_t CloseSinks();
    void RemoveFileSinks();
    int32_t Option(int id) const { return options[static_cast<size_t>(id)]; }
    // The one way an engine tells the rate (50 bytes/s units) it works at: it becomes
    // option 5, which the caller reads back and which is from then on the rate
    // the engines and readers take as given.
    void ReportMuxRate(uint32_t rate) { options[5] = static_cast<int32_t>(rate); }

    std::vector<MuxSinkEntry> sinks;
    uint64_t outputBytes = 0;
    std::array<int32_t, MuxOptionCount> options{};
    MuxPackEngine* packEngine = nullptr;  // selected pack engine of types 2, 5 and 6
    std::unique_ptr<ProgramMuxEngine> programEngine;  // made by MuxBegin, kept for types 2 and 6
    std::unique_ptr<MuxPackEngine> transportEngine;   // made by MuxBegin, kept for type 5
    std::unique_ptr<SystemMuxEngine> systemEngine;
    std::unique_ptr<DvdMuxEngine> dvdEngine;
    MuxFileNameFunction fileNameCallback = nullptr;
    int32_t lastStatus = 0;
    // Why the last failure happened, in words, when a status alone does not say it.
    std::string problemText;
    // The file a failed write or move was about, when the failure names one.
    std::string failedFile;
    std::recursive_mutex lock;
    MuxMessageFunction messageCallback = nullptr;
    int32_t messageUserValue = 0;
    // The application's video settings, recorded by the readers with the stream.
    uint32_t videoVbvBytes = 0;
    int32_t videoProfileCode = 0;
    int32_t videoLevelCode = 0;
};

// The session the checked calls act on; null when none is selected.
MuxSession* CurrentMuxSession();
