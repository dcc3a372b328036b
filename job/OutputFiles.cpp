// Output files of a job: written next to their targets, renamed into place.
#include "job/OutputFiles.h"

#include <cerrno>
#include <cstdio>
#include <sys/stat.h>

#include "job/JobDriver.h"
#include "platform/Format.h"
#include "platform/ResStrings.h"
#include "platform/System.h"
#include "settings/JobState.h"
#include "settings/JobUtil.h"
#include "settings/Report.h"

void ReportFileProblem(std::string text, const std::string& path, int error) {
    CheckPathDrive(text, path, error);
    JobReportText(text, 63600, platform::MbIcon::Stop, MessageOwnerWindow);
}

bool JobOutput::Begin(const std::string& target) {
    Discard();
    target_ = target;
    struct stat st;
    if (::stat(target.c_str(), &st) == 0 && !S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode)) {
        // A device or a pipe cannot be replaced, and holds nothing to lose.
        work_ = target;
        inPlace_ = true;
        return true;
    }
    int error = 0;
    work_ = platform::CreateFileBeside(target, &error);
    if (work_.empty()) {
        ReportFileProblem(platform::Format(LoadResString(63604), target.c_str()), target, error);
        return false;
    }
    return true;
}

bool JobOutput::Commit() {
    if (work_.empty()) return false;
    if (!inPlace_ && std::rename(work_.c_str(), target_.c_str()) != 0) {
        const int error = errno;
        Discard();
        ReportFileProblem(platform::Format(LoadResString(63605), target_.c_str()), target_, error);
        return false;
    }
    work_.clear();
    inPlace_ = false;
    return true;
}

void JobOutput::Discard() {
    if (!work_.empty() && !inPlace_) std::remove(work_.c_str());
    work_.clear();
    inPlace_ = false;
}

void JobOutput::Keep() {
    work_.clear();
    inPlace_ = false;
}
