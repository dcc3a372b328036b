// The "Profile Manager" dialog: every profile of the profile folder by its
// description with a summary of the selected one; load, save the current
// settings, delete, rename and copy.
#pragma once

#include <QDialog>
#include <QListWidget>
#include <string>

#include "app/ProfileList.h"

class CMainFrame;
class CMpegDoc;
class QLabel;

// The summary lines of the manager, one per static text.
struct ProfileSummaryTexts {
    std::string videoStream, frameRate, frameSize, audioStream, audioFormat, dataRate, videoRate, audioRate;
};
// For a listed profile, whose audio has the sample rate `sampleRate` (Hz).
ProfileSummaryTexts SummaryTexts(const ProfileSummary& r, int sampleRate);
// With nothing selected.
ProfileSummaryTexts EmptySummaryTexts();

// The sample rate a profile file names (its last extension), 44100 when it names none.
int ProfileSampleRate(const std::string& path);
// The description line of a profile file, or nothing (with the message in
// `error`) when the file is no profile with a description line.
bool ReadProfileDescriptionLine(const std::string& path, std::string& description, std::string& error);
// Writes `target` as a copy of `source` in which only the description line
// reads `description`; every other line, every section and every line end
// stay as they were. False with the message in `error`.
bool RewriteProfileDescription(const std::string& source, const std::string& target, const std::string& description,
                               std::string& error);

// The list box: its right-button menu holds Load, Rename, Make Copy and Delete.
class CProfileList : public QListWidget {
    Q_OBJECT
public:
    using QListWidget::QListWidget;
};

class CProfileMgr : public QDialog {
    Q_OBJECT
public:
    CProfileMgr(CMpegDoc* document, QWidget* parent = nullptr);

    const std::string& SelectedPath() const { return selectedPath_; }

    void ShowProfileInfo(int row);
    void OnSaveCurrent();
    // Button 1115, the Delete key and the menu's Delete: one way.
    void OnDeleteProfile();
    void OnRename();  // F2 and the menu
    void CopyProfile();
    void accept() override;  // "&Load Profile"

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void RefillList();
    void ShowTexts(const ProfileSummaryTexts& texts);

    CMpegDoc* document_;
    std::string selectedPath_;
    CProfileList* list_;
    QLabel* videoStream_;
    QLabel* frameRate_;
    QLabel* frameSize_;
    QLabel* audioStream_;
    QLabel* audioFormat_;
    QLabel* dataRate_;
    QLabel* videoRate_;
    QLabel* audioRate_;
};

// The list index whose summary was shown last.
extern int LastShownProfileIndex;

// Profile Manager (command 32797).
void OnProfileManager(CMpegDoc& document);
void InstallProfileManagerCommand(CMainFrame& frame, CMpegDoc& document);
