// Reset, open, save and save-as of profiles, and the save-changes prompt.
#include "app/CMpegDoc.h"

#include <cstdio>
#include <filesystem>
#include <system_error>

#include "app/AppSettings.h"
#include "app/CEditProfileDescDialog.h"
#include "app/CPath.h"
#include "app/FrameLogic.h"
#include "app/ProfileList.h"
#include "app/RecentFileList.h"
#include "job/AviSource.h"
#include "job/Profile.h"
#include "platform/MessageBox.h"
#include "platform/ResStrings.h"
#include "settings/EncoderSettings.h"
#include "settings/Preview.h"
#include "settings/RunState.h"

CMpegDoc* CurrentDocument = nullptr;
int DefaultProfileTried = 0;

namespace {

bool FileExists(const std::string& path) {
    std::error_code ec;
    return std::filesystem::exists(path, ec);
}

// Whether the default profile's first line names a header the reset accepts.
bool HasCurrentProfileHeader(const std::string& file) {
    FILE* in = std::fopen(file.c_str(), "r");
    if (!in) return false;
    char line[40] = {};
    const bool read = std::fgets(line, sizeof line, in) != nullptr;
    std::fclose(in);
    if (!read) return false;
    std::string head(line);
    head.resize(std::min<size_t>(head.size(), 13));
    return head == "MPEG_DATA_V10" || head == "MPEG_DATA_V11";
}

// Whether the checks of the profile just read refused its values. A profile
// that asks for MPEG-1 constrained parameters it cannot keep is loaded with
// them off (the checks have said so): that alone is no refusal.
bool ProfileRefused() {
    const EncoderSettingsRecord& s = EncoderSettings;
    return ParameterError != 0 && !(s.mpeg1 && s.constrainedParametersFlag != s.constrainedParameters);
}

// The profile reader leaves ProfileLoaded as it was when a file cannot be
// read, so a failure after an earlier good load would look like success:
// start from 0. A profile that cannot be read, or whose values the checks
// refuse, leaves the settings as they were before it.
bool LoadProfile(const std::string& path) {
    const EncoderSettingsRecord before = EncoderSettings;
    const int previous = ProfileLoaded, custom = CustomProfileLoaded, channels = AviRequestedChannels;
    const int readyMask = JobReadyMask, filesReady = JobFilesReady;
    ProfileLoaded = 0;
    if (LoadProfileAndSetIdle(path.c_str()) && !ProfileRefused()) return true;
    EncoderSettings = before;
    ProfileLoaded = previous;
    CustomProfileLoaded = custom;
    AviRequestedChannels = channels;
    JobReadyMask = readyMask;
    JobFilesReady = filesReady;
    ParameterError = 0;
    return false;
}

}  // namespace

CMpegDoc::CMpegDoc(RecentFileList& recentFiles, QObject* parent) : QObject(parent), recentFiles_(recentFiles) {
    static const int ready = InitEncoderLibrary();
    encoderLibraryReady_ = ready != 0;
    CurrentDocument = this;
}

CMpegDoc::~CMpegDoc() {
    if (CurrentDocument == this) CurrentDocument = nullptr;
    if (!CleanupEncoderEnvironment()) platform::ShowMessageBox(LoadResString(64095), "");
}

void CMpegDoc::SetModifiedFlag(bool modified) {
    if (modified_ == modified) return;
    modified_ = modified;
    emit Changed();
}

void CMpegDoc::SetPathName(const std::string& path, bool addToRecent) {
    title_ = LastPathComponent(path);
    if (addToRecent) recentFiles_.Add(path);
    emit Changed();
}

void CMpegDoc::ApplyProfileTitle() {
    const std::string& description = EncoderSettings.profileDescription;
    if (description.empty()) return;
    title_ = description;
    recentFiles_.Add(description);
    emit Changed();
}

bool CMpegDoc::ApplyFormToSettings() {
    if (!form_) return true;  // no form yet: the settings are all there is
    SavingDefaults = 1;
    const bool applied = form_->ApplyToParameters();
    SavingDefaults = 0;
    return applied;
}

bool CMpegDoc::OnFileNew() {
    if (!SaveModified()) return false;
    return OnNewDocument();
}

void CMpegDoc::ApplyDefaultProfileOnce() {
    if (DefaultProfileTried || ProfileDirectory.size() <= 1) return;
    DefaultProfileTried = 1;
    const std::string name = DefaultProfileFileName().string();
    if (!HasCurrentProfileHeader(name)) return;
    ReadProfile(name.c_str());
    // The default profile supplies the settings but names no files.
    EncoderSettings.firstFrame = 0;
    EncoderSettings.profileDescription.clear();
    EncoderSettings.outputFileName.clear();
    EncoderSettings.inputFileName.clear();
    EncoderSettings.framesToEncode = 1;
}

bool CMpegDoc::OnNewDocument() {
    BuildProfileList();
    CurrentDocument = this;
    if (!ResetProfileParameters()) return false;
    // The reset leaves the built-in defaults, checked, in the settings: they
    // are what a new document encodes with when no default profile changes them.
    ProfileLoaded = 1;
    ApplyDefaultProfileOnce();
    if (form_) form_->LoadDefaultProfile();
    profilePath_.clear();
    modified_ = false;
    title_ = "Untitled";
    emit Changed();
    return true;
}

bool CMpegDoc::OnOpenDocument(const std::string& path) { return OpenDocument(path, -1); }

bool CMpegDoc::OpenRecentFile(int index) {
    if (index < 0 || index >= recentFiles_.Size() || recentFiles_[index].empty()) return false;
    const std::string entry = recentFiles_[index];
    return OpenDocument(entry, index);
}

// A relative name (an entry of the recent list as older versions kept it, or
// one typed on the command line) is tried in the working folder, then in the
// profile folder, whose files such entries usually name.
std::string CMpegDoc::ResolveRelativeEntry(const std::string& path) {
    namespace fs = std::filesystem;
    if (path.empty() || fs::path(path).is_absolute() || FileExists(path)) return path;
    const fs::path folder(ProfileDirectory);
    for (const fs::path& candidate : {folder / path, folder / fs::path(path).filename()})
        if (!ProfileDirectory.empty() && FileExists(candidate.string())) return candidate.lexically_normal().string();
    return path;
}

bool CMpegDoc::OpenDocument(const std::string& path, int recentIndex) {
    if (IsAviFileName(path)) {
        // An input video, not a profile: the document stays as it is.
        if (FormReady != 1) {
            PendingInputFile = path;
            PendingInputFlag = 1;
            return true;
        }
        return form_ && form_->SetInputFile(path);
    }
    if (!SaveModified()) return false;
    BuildProfileList();

    std::string profile = ResolveRelativeEntry(path);
    bool fromDescription = false;
    if (!FileExists(profile)) {
        // Recent-file entries may hold descriptions rather than paths. A name
        // that is neither is missing: another file of the same name elsewhere
        // is not the one it names.
        int index = FindProfileDescription(path);
        if (index < 0) index = FindProfileDescription(LastPathComponent(path));
        if (index < 0) {
            platform::ShowMessageBox(std::string(LoadResString(64098)) + ":\n" + path, "", platform::MbButtons::Ok,
                                     platform::MbIcon::Stop);
            return false;
        }
        fromDescription = true;
        profile = ProfilePathList[static_cast<size_t>(index)];
    }
    if (!IsProfileFileName(profile)) {
        platform::ShowMessageBox(LoadResString(64097), "");
        return false;
    }
    if (!LoadProfile(profile)) return false;

    profilePath_ = profile;
    modified_ = false;
    if (form_) form_->LoadDefaultProfile();
    if (recentIndex >= 0) recentFiles_.Remove(recentIndex);
    if (!EncoderSettings.profileDescription.empty()) {
        // The title shows the description; the list keeps what reopens the profile.
        title_ = EncoderSettings.profileDescription;
        recentFiles_.Add(fromDescription ? EncoderSettings.profileDescription : profile);
    } else {
        SetPathName(profile, true);
    }
    emit Changed();
    return true;
}

bool CMpegDoc::SaveModified() {
    if (modified_) {
        const platform::MbAnswer answer =
            platform::ShowMessageBox(LoadResString(64118), "", platform::MbButtons::YesNoCancel,
                                     platform::MbIcon::Question);
        if (answer == platform::MbAnswer::Cancel) return false;
        if (answer == platform::MbAnswer::Yes && !OnFileSave()) return false;
    }
    SetModifiedFlag(false);
    return true;
}

bool CMpegDoc::SaveTo(const std::string& target, const std::string& description,
                      const std::string& oldDescription) {
    EncoderSettings.profileDescription = description;
    if (!ApplyFormToSettings() || SaveProfileFile(target.c_str()) <= 0) {
        EncoderSettings.profileDescription = oldDescription;
        return false;
    }
    modified_ = false;
    profilePath_ = target;
    BuildProfileList();
    if (description != oldDescription) ApplyProfileTitle();
    emit Changed();
    return true;
}

bool CMpegDoc::OnFileSave() {
    CPath split(profilePath_);
    const std::string base = split.GetBaseName();
    const std::string extension = split.GetExtension();
    const std::string oldDescription = EncoderSettings.profileDescription;
    std::string description = oldDescription;

    const bool descriptionListed = FindProfileDescription(description) >= 0;
    const bool pathListed = FindProfilePath(profilePath_) >= 0;
    if (description.empty() || (!pathListed && descriptionListed)) {
        std::optional<std::string> entered = AskDescription("Save As", description);
        if (!entered) return false;
        description = *entered;
    }

    std::string target;
    if (!base.empty() && !extension.empty() && profilePath_.find(ProfileDirectory) != std::string::npos) {
        target = profilePath_;
    } else {
        std::string candidate = !base.empty() && !extension.empty() ? ProfileDirectory + base + extension : "";
        target = candidate.empty() || FileExists(candidate) ? FindFreeProfileName("", ProfileDirectory, "PRF", ".PRF")
                                                            : candidate;
    }
    return SaveTo(target, description, oldDescription);
}

bool CMpegDoc::OnFileSaveAs() {
    const std::string target = FindFreeProfileName("", ProfileDirectory, "PRF", ".PRF");
    const std::string current = EncoderSettings.profileDescription;
    std::optional<std::string> entered = AskDescription("Save As", current);
    if (!entered) return false;
    if (*entered == current) return OnFileSave();
    return SaveTo(target, *entered, current);
}

bool CMpegDoc::LoadProfileFromPath(const std::string& path) {
    if (!LoadProfile(path)) return false;
    profilePath_ = path;
    modified_ = false;
    if (form_) form_->LoadDefaultProfile();
    if (!EncoderSettings.profileDescription.empty()) recentFiles_.RemoveByName(EncoderSettings.profileDescription);
    ApplyProfileTitle();
    emit Changed();
    return true;
}

void CMpegDoc::OnProfileDeleted(const std::string& description, const std::string& selectedPath) {
    if (!description.empty()) recentFiles_.RemoveByName(description);
    recentFiles_.RemoveByName(selectedPath);
    if (selectedPath == profilePath_ && !profilePath_.empty()) {
        if (ResetProfileParameters()) {
            ProfileLoaded = 1;  // the built-in defaults, as for a new document
            if (form_) form_->LoadDefaultProfile();
            profilePath_.clear();
            title_ = LoadResString(64117);
        }
    }
    emit Changed();
}

void CMpegDoc::OnProfileRenamed(const std::string& path, const std::string& oldDescription,
                                const std::string& description) {
    // Entries that reopen the profile by its description follow the new one.
    if (!oldDescription.empty()) recentFiles_.ReplaceName(oldDescription, description);
    if (path.empty() || path != profilePath_) {
        emit Changed();
        return;
    }
    EncoderSettings.profileDescription = description;
    if (!description.empty()) title_ = description;
    emit Changed();
}

void CMpegDoc::OnProfileCopied(const std::string& path) {
    // An entry left by a profile of this name that has gone named another file.
    recentFiles_.RemoveByName(path);
    emit Changed();
}

std::optional<std::string> CMpegDoc::AskDescription(const std::string& caption, const std::string& current) {
    CEditProfileDescDialog dialog(nullptr);
    dialog.caption = caption;
    dialog.description = current;
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    return dialog.description;
}

void MarkProfileModified() {
    if (CurrentDocument && CurrentDocument->Form()) CurrentDocument->SetModifiedFlag(true);
}
