// The files a job writes go under names of their own next to their targets and
// are put in place only once their step has succeeded: a failed, refused or
// stopped job leaves the user's earlier files as they were.
#pragma once

#include <string>

class JobOutput {
public:
    JobOutput() = default;
    ~JobOutput() { Discard(); }
    JobOutput(const JobOutput&) = delete;
    JobOutput& operator=(const JobOutput&) = delete;

    // Makes the file the step writes; false, after a message, when it cannot be made.
    bool Begin(const std::string& target);
    const std::string& Target() const { return target_; }
    const std::string& Work() const { return work_; }
    // Puts the finished file in place of the target; false, after a message, when that fails.
    bool Commit();
    // Removes the unfinished file; the target stays as it was.
    void Discard();
    // Leaves the unfinished file where it is (the user chose to keep it).
    void Keep();

private:
    std::string target_, work_;
    bool inPlace_ = false;  // a device or other special target is written directly
};

// The user's message about a file the job could not make: `text` gets the cause appended.
void ReportFileProblem(std::string text, const std::string& path, int error);
