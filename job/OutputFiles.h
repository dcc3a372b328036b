// The files a job writes go under names of their own next to their targets and
// are put in place only once their step has succeeded: a failed, refused or
// stopped job leaves the user's earlier files as they were. The names a job
// picks itself, where the chosen one does not fit what it writes, are here too.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

// What tells a file from another that takes its name later: the device and inode of the
// file a name reaches (links followed); not `known` when it cannot be read. A file written
// over in place keeps its identity. With `keepOpen` the file stays open while a copy of the
// identity lives, so that its inode is not given to another file meanwhile.
struct FileIdentity {
    bool known = false;
    uint64_t device = 0, inode = 0;
    std::shared_ptr<const int> open;
    bool operator==(const FileIdentity& other) const {
        return known == other.known && device == other.device && inode == other.inode;
    }
};
FileIdentity IdentityOf(const std::string& path, bool keepOpen = false);

class JobOutput {
public:
    JobOutput() = default;
    ~JobOutput() { Discard(); }
    JobOutput(const JobOutput&) = delete;
    JobOutput& operator=(const JobOutput&) = delete;

    // Makes the file the step writes; false, after a message, when it cannot be made.
    // A target nobody was asked about (`replace` false) is never written over: when
    // a file took its name meanwhile, Commit puts the output under the first free name.
    bool Begin(const std::string& target, bool replace = true);
    const std::string& Target() const { return target_; }
    const std::string& Work() const { return work_; }
    // Puts the finished file in place of the target; false, after a message, when that fails.
    bool Commit();
    // The file the last Commit put in place, as it was when it was put there.
    const FileIdentity& Placed() const { return placed_; }
    // Removes the unfinished file; the target stays as it was.
    void Discard();
    // The user chose to keep an output that failed its checks: it goes to the target's
    // name when that is free, else to the first free "<name>_<n>.<ext>", never over a
    // file. Returns the name it has now.
    std::string KeepAside();

private:
    std::string target_, work_;
    bool inPlace_ = false;  // a device or other special target is written directly
    bool replace_ = true;
    FileIdentity placed_;
};

// The first of `path` (when `withPath`), "<stem>_2<ext>", "<stem>_3<ext>", ... that names nothing.
std::string FirstFreeName(const std::string& path, bool withPath);
// Renames `from` to the first free name as above without replacing anything, even a
// file made meanwhile; the name it took, or "" with errno set.
std::string MoveToFreeName(const std::string& from, const std::string& path, bool withPath);

// The user's message about a file the job could not make: `text` gets the cause appended.
void ReportFileProblem(std::string text, const std::string& path, int error);

// The readable-size rule of the job: -1 when the file cannot be read.
int64_t ReadableSize(const std::string& path);

// A job left without its sound writes a bare video stream: it is named by the
// form's rule for video-only output, the extension of the last name component
// (or its ".avi") giving way to ".m1v" or ".m2v". Nobody was asked about that
// name, so a file already there is kept and the stream takes the first free
// "<name>_<n>" instead.
std::string ElementaryStreamName(const std::string& name, bool mpeg1);
// The job never writes a transport stream: an output named as one (a profile of
// stream type 5, read back as a program stream) gets the name of what is written,
// beside the chosen one and never over another file.
std::string OutputNameForKind(const std::string& name, int type);
// The kind of stream a mux type writes, as the user is told it.
const char* MuxKindName(int type);
