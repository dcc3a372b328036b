// Sessions of the multiplexer library: the process-wide session list, options and
// parameters with their per-type defaults, sinks, the feeds and the end of a run.
#include "muxlib/MuxSession.h"

#include "muxlib/DvdMuxEngine.h"
#include "muxlib/MuxPackEngine.h"
#include "muxlib/ProgramMuxEngine.h"
#include "muxlib/SystemMuxEngine.h"
#include "muxlib/TransportMuxEngine.h"
#include "platform/System.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct SessionList {
    std::vector<MuxSession*> sessions;
    MuxSession* current = nullptr;
    ~SessionList()
    {
        for (MuxSession* s : sessions) delete s;
    }
};

SessionList& Sessions()
{
    static SessionList list;
    return list;
}

bool InList(MuxSession* handle)
{
    const auto& v = Sessions().sessions;
    return handle != nullptr && std::find(v.begin(), v.end(), handle) != v.end();
}

constexpr int32_t Kept = INT32_MIN;

// Defaults loaded when option 0 is stored, by type 1..6, for options 1..13.
constexpr int32_t TypeDefaults[6][13] = {
    // 1     2    3    4      5     6   7     8     9  10    11    12    13
    {1, 32, 46, 0, 0, 2048, Kept, Kept, Kept, 1, Kept, Kept, Kept},
    {1, 32, 128, 0, 0, 2048, Kept, Kept, Kept, 1, Kept, Kept, Kept},
    {Kept, 32, 46, 1, Kept, 2324, Kept, Kept, Kept, 1, Kept, Kept, Kept},
    {1, 32, 232, 0, 25200, 2048, Kept, Kept, Kept, 2, 2, Kept, Kept},
    {1, 32, 128, 1, 0, 2028, Kept, Kept, Kept, 1, Kept, Kept, Kept},
    {1, 32, 230, 3, 6972, 2324, Kept, Kept, Kept, 2, Kept, 0, Kept},
};

}  // namespace

MuxSession::MuxSession() = default;

void MuxSession::DeleteEngines()
{
    packEngine = nullptr;
    programEngine.reset();
    transportEngine.reset();
    systemEngine.reset();
    dvdEngine.reset();
}

MuxSession::~MuxSession()
{
    DeleteEngines();
    // Sinks normally closed by MuxEnd; a session destroyed without it still frees them.
    for (MuxSinkEntry& e : sinks) {
        if (e.kind == MuxSinkFile) {
            auto* sink = static_cast<MuxFileSink*>(e.context);
            sink->Close(false);
            delete sink;
        } else if (e.kind == MuxSinkCaller) {
            delete static_cast<MuxCallerSink*>(e.context);
        }
    }
}

void MuxSession::ReportStatus(int32_t status)
{
    if (messageCallback != nullptr) messageCallback(status, 0, messageUserValue);
    lastStatus = status;
}

void MuxSession::ReportProblem(int32_t status, const std::string& text)
{
    problemText = text;
    ReportStatus(status);
}

int32_t MuxSession::WritePack(const uint8_t* data, uint32_t bytes)
{
    outputBytes += bytes;
    for (MuxSinkEntry& e : sinks) {
        int32_t status = e.write(data, bytes * 8u, e.context);
        if (status != 0) return status;
    }
    return 0;
}

int32_t MuxSession::OpenFileSinks()
{
    for (MuxSinkEntry& e : sinks) {
        if (e.kind != MuxSinkFile) continue;
        auto* sink = static_cast<MuxFileSink*>(e.context);
        sink->Close(false);
        int32_t status = sink->Open();
        if (status != 0) return status;
    }
    return 0;
}

int32_t MuxSession::CloseSinks()
{
    int32_t result = 0;
    for (MuxSinkEntry& e : sinks) {
        if (e.kind == MuxSinkFile) {
            auto* sink = static_cast<MuxFileSink*>(e.context);
            int32_t status = sink->Close(lastStatus == 0);
            if (result == 0) result = status;
            delete sink;
        } else if (e.kind == MuxSinkCaller) {
            delete static_cast<MuxCallerSink*>(e.context);
        }
    }
    sinks.clear();
    return result;
}

void MuxSession::RemoveFileSinks()
{
    auto it = sinks.begin();
    while (it != sinks.end()) {
        if (it->kind == MuxSinkFile) {
            auto* sink = static_cast<MuxFileSink*>(it->context);
            int32_t status = sink->Close(lastStatus == 0);
            if (status != 0) ReportStatus(status);
            delete sink;
            it = sinks.erase(it);
        } else {
            ++it;
        }
    }
}

MuxSession* CurrentMuxSession()
{
    return Sessions().current;
}

MuxHandle MuxCreateSession()
{
    auto* session = new (std::nothrow) MuxSession;
    if (session == nullptr) return nullptr;
    try {
        Sessions().sessions.push_back(session);
    } catch (const std::bad_alloc&) {
        delete session;
        return nullptr;
    }
    return session;
}

int32_t MuxSelectSession(MuxHandle handle)
{
    if (!InList(handle)) return MuxErrContext;
    Sessions().current = handle;
    return 0;
}

MuxHandle MuxGetCurrentSession()
{
    return Sessions().current;
}

int32_t MuxDestroySession(MuxHandle handle)
{
    SessionList& list = Sessions();
    auto it = std::find(list.sessions.begin(), list.sessions.end(), handle);
    if (it == list.sessions.end()) return 0;
    list.sessions.erase(it);
    // A destroyed current session must not stay reachable: later calls answer -505.
    if (list.current == handle) list.current = nullptr;
    delete handle;
    return 0;
}

int32_t MuxBegin()
{
    MuxSession* s = CurrentMuxSession();
    if (s == nullptr) return MuxErrContext;
    std::lock_guard guard(s->lock);
    s->problemText.clear();
    s->failedFile.clear();
    try {
        s->systemEngine = std::make_unique<SystemMuxEngine>(*s);
        s->programEngine = std::make_unique<ProgramMuxEngine>(*s);
        s->transportEngine = std::make_unique<Type5MuxEngine>(*s);
        s->dvdEngine = std::make_unique<DvdMuxEngine>(*s);
    } catch (const std::bad_alloc&) {
        return MuxErrOutOfMemory;
    }
    s->outputBytes = 0;
    return s->OpenFileSinks();
}

int32_t MuxSetOption(int32_t id, int32_t value)
{
    MuxSession* s = CurrentMuxSession();
    if (s == nullptr) return MuxErrContext;
    // Ids outside the table and packets per pack below 1 would corrupt the session.
    if (id < 0 || id >= MuxOptionCount) return MuxErrParameterId;
    if (id == 1 && value < 1) return MuxErrParameterValue;
    std::lock_guard guard(s->lock);
    s->options[static_cast<size_t>(id)] = value;
    if (id == 0) {
        if (value != MuxTypeMpeg1System && value != MuxTypeVideoCd) s->systemEngine.reset();
        const bool program = value == MuxTypeMpeg2Program || value == MuxTypeSvcd;
        if (!program) s->programEngine.reset();
        if (value != MuxTypeTransport) s->transportEngine.reset();
        s->packEngine = program ? static_cast<MuxPackEngine*>(s->programEngine.get())
                                : value == MuxTypeTransport ? s->transportEngine.get() : nullptr;
        if (value != MuxTypeDvdVolume) s->dvdEngine.reset();
        if (value >= 1 && value <= 6) {
            const int32_t* defaults = TypeDefaults[value - 1];
            for (int i = 1; i < MuxOptionCount; ++i)
                if (defaults[i - 1] != Kept) s->options[static_cast<size_t>(i)] = defaults[i - 1];
        }
        // The type's default option 11 asks for the hints file.
        if (value == MuxTypeDvdVolume && s->dvdEngine) {
            int32_t status = s->dvdEngine->OpenDvdHintsFile();
            if (status != 0) return status;
        }
    }
    if (id == 11 && s->dvdEngine) {
        if ((value & 6) == 0) {
            s->dvdEngine->CloseDvdHintsFile();
        } else {
            int32_t status = s->dvdEngine->OpenDvdHintsFile();
            if (status != 0) return status;
        }
    }
    if (s->systemEngine) s->systemEngine->OptionsChanged();
    if (s->packEngine) {
        s->packEngine->OptionsChanged();
        s->packEngine->RefreshGeometry();
    }
    return 0;
}

int32_t MuxReadOption(int32_t id, int32_t* out)
{
    MuxSession* s = CurrentMuxSession();
    if (s == nullptr) return MuxErrContext;
    if (id < 0 || id >= MuxOptionCount) return MuxErrParameterId;
    std::lock_guard guard(s->lock);
    if (out != nullptr) *out = s->Option(id);
    return 0;
}

int32_t MuxSetParameter(int32_t id, int32_t value)
{
    if (id >= MuxOptionCount || id < 0) return MuxErrParameterId;
    MuxSession* s = CurrentMuxSession();
    if (s == nullptr) return MuxErrContext;
    const int32_t t = s->Option(0);
    auto in = [id](std::initializer_list<int32_t> ids) {
        return std::find(ids.begin(), ids.end(), id) != ids.end();
    };
    if (id == 7) return MuxNotApplicable;
    if ((id == 11 || id == 13) && t != MuxTypeDvdVolume) return MuxNotApplicable;
    if (id == 0 && (value < 1 || value > 6)) return MuxErrParameterValue;
    if (t == MuxTypeVideoCd && in({2, 3, 6})) return MuxNotApplicable;
    if (t == MuxTypeDvdVolume && in({2, 3, 4, 6, 10})) return MuxNotApplicable;
    if (t == MuxTypeSvcd && in({2, 3, 6})) return MuxNotApplicable;
    if (t == MuxTypeMpeg1System && in({1, 8, 9})) return MuxNotApplicable;
    if (id == 6 && (t == 1 || t == 2 || t == 5) && value >= 4097) return MuxPackTooLarge;
    return MuxSetOption(id, value);
}

int32_t MuxGetOption(int32_t id, int32_t* out)
{
    if (id >= MuxOptionCount || id < 0) return MuxErrParameterId;
    if (CurrentMuxSession() == nullptr) return MuxErrContext;
    return MuxReadOption(id, out);
}

int32_t MuxSetFileNameCallback(MuxFileNameFunction callback)
{
    MuxSession* s = CurrentMuxSession();
    if (s == nullptr) return MuxErrContext;
    std::lock_guard guard(s->lock);
    s->fileNameCallback = callback;
    return 0;
}

int32_t MuxSetMessageCallback(MuxMessageFunction callback, int32_t userValue)
{
    MuxSession* s = CurrentMuxSession();
    if (s == nullptr) return MuxErrContext;
    std::lock_guard guard(s->lock);
    s->messageCallback = callback;
    s->messageUserValue = userValue;
    return 0;
}

int32_t MuxSetDvdOutputFolder(const MuxDvdFolderDescriptor* descriptor)
{
    MuxSession* s = CurrentMuxSession();
    if (s == nullptr) return MuxErrContext;
    if (s->Option(0) != MuxTypeDvdVolume) return MuxErrDvdFolder;
    if (descriptor == nullptr || descriptor->size != static_cast<int32_t>(sizeof *descriptor)) return MuxErrGeneral;
    size_t length = strnlen(descriptor->folder, sizeof descriptor->folder);
    if (length < 1 || length > 358) return MuxErrGeneral;
    std::lock_guard guard(s->lock);
    if (!s->dvdEngine) return MuxErrGeneral;
    MuxDvdFolderDescriptor copy = *descriptor;
    char last = copy.folder[length - 1];
    if (last != '\\' && last != '/') copy.folder[length] = '/';
    s->dvdEngine->SetOutputFolder(copy);
    return 0;
}

int32_t MuxSetVideoSettings(int32_t vbvBufferSize, int32_t mpegProfile, int32_t mpegLevel)
{
    MuxSession* s = CurrentMuxSession();
    if (s == nullptr) return MuxErrContext;
    std::lock_guard guard(s->lock);
    s->videoVbvBytes = vbvBufferSize > 0 ? static_cast<uint32_t>(vbvBufferSize) * 2048u : 0;
    s->videoProfileCode = mpegProfile == 4 ? 1 : mpegProfile == 1 ? 4 : 0;
    s->videoLevelCode = mpegLevel == 8 ? 2 : mpegLevel == 10 ? 3 : mpegLevel == 6 ? 1 : 0;
    if (s->packEngine) s->packEngine->RefreshGeometry();
    return 0;
}

namespace {

// A file sink on the next "Vts_01_%d.vob" of `dir` that does not exist yet, created
// here: no file of anyone else's is opened, truncated or overwritten. Its name goes to `path`.
int32_t AddNewVobSink(MuxSession& s, const std::string& dir, char* path)
{
    for (int n = 0; n < 100000; ++n) {
        const std::string candidate = dir + "Vts_01_" + std::to_string(n) + ".vob";
        if (candidate.size() > 359) return MuxErrWrite;
        auto sink = std::make_unique<MuxFileSink>();
        sink->name = candidate;
        platform::NoteWorkPath(candidate);
        if (sink->OpenNew() != 0) {
            if (errno == EEXIST) continue;
            return MuxErrWrite;
        }
        std::memcpy(path, candidate.c_str(), candidate.size() + 1);
        s.sinks.push_back({MuxFileSinkWrite, sink.release(), MuxSinkFile});
        return 0;
    }
    return MuxErrWrite;
}

}  // namespace

int32_t MuxAddSink(intptr_t kind, const void* descriptor)
{
    MuxSession* s = CurrentMuxSession();
    if (s == nullptr) return MuxErrContext;
    std::lock_guard guard(s->lock);
    try {
        MuxSinkEntry entry;
        if (kind == MuxSinkFile || kind == MuxSinkDvdFolder) {
            const char* path = static_cast<const char*>(descriptor);
            if (kind == MuxSinkDvdFolder && path != nullptr) {
                // The volume goes beside the output; an output name without a folder means "./".
                // The output name only names the folder: the title is written under new names.
                MuxDvdFolderDescriptor folder;
                std::string dir = path;
                size_t slash = dir.find_last_of('/');
                dir = slash == std::string::npos ? std::string("./") : dir.substr(0, slash + 1);
                std::strncpy(folder.folder, dir.c_str(), sizeof folder.folder - 1);
                folder.nextFile = MakeVobFileName;
                int32_t status = std::strlen(path) > 359 ? int32_t{MuxErrWrite} : 0;
                if (status == 0) status = AddNewVobSink(*s, dir, folder.outputName);
                if (status == 0) {
                    status = MuxSetDvdOutputFolder(&folder);
                    if (status == 0)
                        s->dvdEngine->AdoptWorkFile(folder.outputName);
                    else
                        ::unlink(folder.outputName);
                }
                if (status != 0) {
                    s->ReportStatus(status);
                    return status;
                }
                return 0;
            }
            auto sink = std::make_unique<MuxFileSink>();
            if (path != nullptr) sink->name = path;
            // The name block holds at most 359 characters.
            int32_t status = (path == nullptr || sink->name.size() > 359) ? int32_t{MuxErrWrite} : sink->Open();
            if (status != 0) {
                s->ReportStatus(status);
                return status;
            }
            entry = {MuxFileSinkWrite, sink.release(), MuxSinkFile};
            s->sinks.push_back(entry);
            return 0;
        }
        if (kind == MuxSinkCaller) {
            if (descriptor == nullptr) return MuxErrGeneral;
            auto* pair = new MuxCallerSink(*static_cast<const MuxCallerSink*>(descriptor));
            s->sinks.push_back({MuxCallbackSinkWrite, pair, MuxSinkCaller});
            return 0;
        }
        s->sinks.push_back({reinterpret_cast<MuxWriteFunction>(kind), const_cast<void*>(descriptor), 0});
        return 0;
    } catch (const std::bad_alloc&) {
        return MuxErrOutOfMemory;
    }
}

int32_t MuxRemoveSink(intptr_t kind)
{
    MuxSession* s = CurrentMuxSession();
    if (s == nullptr) return MuxErrContext;
    std::lock_guard guard(s->lock);
    if (kind == MuxSinkFile || kind == reinterpret_cast<intptr_t>(&MuxFileSinkWrite)) s->RemoveFileSinks();
    return 0;
}

namespace {

// Runs one feed on the system stream engine: the unit goes to its reader, then one step.
int32_t FeedSystem(const uint8_t* data, uint32_t length, bool video)
{
    MuxSession* s = CurrentMuxSession();
    if (s == nullptr) return MuxErrContext;
    std::lock_guard guard(s->lock);
    SystemMuxEngine* engine = s->systemEngine.get();
    if (engine == nullptr) return MuxErrContext;
    if (data != nullptr) {
        int32_t status = video ? engine->FeedVideo(data, length) : engine->FeedAudio(data, length);
        if (status != 0) return status;
    }
    return engine->Step();
}

}  // namespace

int32_t MuxFeedVideoSystem(const uint8_t* data, uint32_t length, int32_t)
{
    return FeedSystem(data, length, true);
}

int32_t MuxFeedAudioSystem(const uint8_t* data, uint32_t length, int32_t)
{
    return FeedSystem(data, length, false);
}

namespace {

// Runs one feed on the selected pack engine: the unit goes to its reader, then one multiplex cycle.
int32_t FeedProgram(const uint8_t* data, uint32_t length, bool video)
{
    MuxSession* s = CurrentMuxSession();
    if (s == nullptr) return MuxErrContext;
    std::lock_guard guard(s->lock);
    MuxPackEngine* engine = s->packEngine;
    if (engine == nullptr) return MuxErrContext;
    if (data != nullptr) {
        int32_t status;
        try {
            status = video ? engine->geometry.FeedVideo(data, length) : engine->geometry.FeedAudio(data, length);
        } catch (const std::bad_alloc&) {
            status = MuxErrOutOfMemory;
        }
        if (status != 0) return status;
    }
    return engine->Multiplex();
}

}  // namespace

int32_t MuxFeedVideoProgram(const uint8_t* data, uint32_t length, int32_t)
{
    return FeedProgram(data, length, true);
}

int32_t MuxFeedAudioProgram(const uint8_t* data, uint32_t length, int32_t)
{
    return FeedProgram(data, length, false);
}

int32_t MakeVobFileName(int32_t code, char* name, char* path)
{
    if (code != 1 && code != 2) return 0;
    if (name == nullptr || path == nullptr) return MuxErrGeneral;
    const std::string current(path, strnlen(path, 359));
    std::memcpy(name, current.c_str(), current.size() + 1);
    if (code == 1) return 0;
    // The file sinks are flushed and closed here, once.
    MuxRemoveSink(MuxSinkFile);
    if (MuxSession* s = CurrentMuxSession(); s != nullptr && s->lastStatus != 0) return s->lastStatus;
    const size_t slash = current.find_last_of('/');
    const std::string dir = slash == std::string::npos ? std::string() : current.substr(0, slash + 1);
    MuxSession* s = CurrentMuxSession();
    if (s == nullptr) return MuxErrContext;
    std::lock_guard guard(s->lock);
    const int32_t status = AddNewVobSink(*s, dir, path);
    if (status == 0 && s->dvdEngine) s->dvdEngine->AdoptWorkFile(path);
    return status;
}

namespace {

// Runs one feed on the DVD engine: the unit goes to its reader, then one multiplex step.
int32_t FeedDvd(const uint8_t* data, uint32_t length, bool video)
{
    MuxSession* s = CurrentMuxSession();
    if (s == nullptr) return MuxErrContext;
    std::lock_guard guard(s->lock);
    DvdMuxEngine* engine = s->dvdEngine.get();
    if (engine == nullptr) return MuxErrContext;
    try {
        if (data != nullptr) {
            int32_t status = video ? engine->FeedVideo(data, length) : engine->FeedAudio(data, length);
            if (status != 0) return status;
        }
        return engine->Multiplex();
    } catch (const std::bad_alloc&) {
        return MuxErrOutOfMemory;
    }
}

}  // namespace

int32_t MuxFeedVideoDvd(const uint8_t* data, uint32_t length, int32_t)
{
    return FeedDvd(data, length, true);
}

int32_t MuxFeedAudioDvd(const uint8_t* data, uint32_t length, int32_t)
{
    return FeedDvd(data, length, false);
}

int32_t MuxEnd()
{
    MuxSession* s = CurrentMuxSession();
    if (s == nullptr) return MuxErrContext;
    std::lock_guard guard(s->lock);
    if (!s->systemEngine && !s->packEngine && !s->dvdEngine) return MuxErrUnpaired;
    int32_t status = s->lastStatus;
    if (status == 0 && s->packEngine) {
        status = s->packEngine->Finish();
        // A failed finish leaves sinks and engines for MuxDestroySession.
        if (status != 0) return status;
        MuxFeedVideoProgram(nullptr, 0, 0);
        MuxFeedAudioProgram(nullptr, 0, 0);
        if (s->Option(0) == MuxTypeMpeg2Program) {
            static const uint8_t endCode[4] = {0x00, 0x00, 0x01, 0xB9};
            status = s->WriteBytes(endCode, 4);
            if (status != 0) s->ReportStatus(status);
        }
    } else if (status == 0 && s->dvdEngine) {
        status = s->dvdEngine->Finish();
        if (status != 0) return status;
        MuxFeedVideoDvd(nullptr, 0, 0);
        MuxFeedAudioDvd(nullptr, 0, 0);
    } else if (status == 0 && s->systemEngine) {
        status = MuxFeedVideoSystem(nullptr, 0, 0);
        if (status == 0) status = MuxFeedAudioSystem(nullptr, 0, 0);
        if (status == 0) status = s->systemEngine->Finish();
        if (status == 0 && s->Option(0) == MuxTypeMpeg1System) {
            static const uint8_t endCode[4] = {0x00, 0x00, 0x01, 0xB9};
            status = s->WriteBytes(endCode, 4);
            if (status != 0) s->ReportStatus(status);
        }
    }
    // A failed final flush or close means a truncated output: never a success.
    int32_t closeStatus = s->CloseSinks();
    if (status == 0 && closeStatus != 0) {
        status = closeStatus;
        s->ReportStatus(status);
    }
    // SVCD output written as it stood gets its scan information in the closed file.
    if (status == 0 && s->Option(0) == MuxTypeSvcd && s->Option(12) == 0 && s->packEngine == s->programEngine.get() &&
        s->programEngine) {
        status = s->programEngine->PatchScanInformation();
        if (status != 0) s->ReportStatus(status);
    }
    // The volume is built from the finished files; a failure there is the run's failure.
    if (status == 0 && s->dvdEngine) status = s->dvdEngine->WriteVolume();
    s->DeleteEngines();
    return status;
}

const char* MuxLastProblemText()
{
    MuxSession* s = CurrentMuxSession();
    return s == nullptr ? "" : s->problemText.c_str();
}

const char* MuxLastFailedFile()
{
    MuxSession* s = CurrentMuxSession();
    return s == nullptr ? "" : s->failedFile.c_str();
}
