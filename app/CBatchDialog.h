// The "Batch Processing" dialog: the start profile, the job list of profiles
// and AVI files, the output folder, the error option, the batch log and the
// job list files. "&Start" checks the list and the folder and hands them
// back to the batch command.
#pragma once

#include <QDialog>
#include <functional>
#include <string>
#include <vector>

class QCheckBox;
class QComboBox;
class QLineEdit;
class QListWidget;

class CBatchDialog : public QDialog {
    Q_OBJECT
public:
    // `jobList` is the job list in storage form, changed in place.
    CBatchDialog(std::vector<std::string>* jobList, QWidget* parent = nullptr);

    // Set before exec(), read afterwards.
    int selectedIndex = 0;
    int suppressErrors = 1;
    std::string outputFolder;
    std::string selectedDescription;
    std::vector<std::string> descriptions;  // offered in the start-profile list
    int addFilesUsed = 0;

    bool Modified() const { return modified_; }

    // One entry (storage form) into the list box and the job list; an AVI file
    // already listed is refused with a message.
    bool AddJob(const std::string& entry);
    // Edit 1108 (the add-files dialog's folder mode).
    void SetOutputFolderText(const std::string& path);
    // 1 when the folder cannot take the outputs (message shown), else 0.
    int CheckOutputDevice(const std::string& folder);

    // The buttons' handlers.
    void OnAddCurrentProfile();
    void OnBrowseInputFiles();
    void OnBrowseOutputFolder();
    void OnViewLog();
    void OnSaveJobList();
    void OnLoadJobList();

    void accept() override;  // "&Start"
    void reject() override;  // "&Cancel": the folder typed is kept for the next time

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Controls to members (save) or members to controls.
    void DoDataExchange(bool save);
    void FillJobList();
    void SelectDescription(const std::string& description);
    std::string StartFolderForLists() const;

    std::vector<std::string>* jobList_;
    bool modified_ = false;
    bool initialised_ = false;
    QComboBox* profileCombo_;
    QLineEdit* folderEdit_;
    QCheckBox* suppressCheck_;
    QListWidget* jobListBox_;
};

// Opens the batch log for the user; the program's default hands it to the
// desktop. Tests replace it.
extern std::function<void(const std::string& logFile)> OpenBatchLogFile;
