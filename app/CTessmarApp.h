// The application object: the start-up road, the recent-file list kept in
// the settings file, the document and its main window, the file-open and
// About commands.
#pragma once

#include <QObject>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/CommandLine.h"

class CMainFrame;
class CMpegDoc;
class RecentFileList;
class QSessionManager;

inline constexpr int kFirstRecentFileCommand = 57616;
inline constexpr int kLastRecentFileCommand = 57631;

class CTessmarApp : public QObject {
    Q_OBJECT
public:
    CTessmarApp();
    ~CTessmarApp() override;

    // Everything up to the first window (shown). False when the program
    // must end: the screen is too small, the encoder library or the first
    // document could not be made.
    bool InitInstance(const std::vector<std::string>& arguments);
    // The command line's file or a new document; false when it failed.
    bool ProcessShellCommand(const CTessmarCommandLineInfo& info);
    // Writes the recent-file list back to the settings file (once).
    void ExitInstance();

    RecentFileList& RecentFiles() { return *recentFiles_; }
    CMpegDoc* Document() const { return document_.get(); }
    CMainFrame* MainFrame() const { return frame_.get(); }

    // Commands of the application.
    void OnFileNew();                    // Reset Profile
    void OnFileOpen();                   // Import profile file...
    void OnOpenRecentFile(int command);  // 57616..57631
    void OnAppAbout();
    // Whether the session may end now. While an encoding runs the user is
    // asked as for a close, and a stop the user asked for lets the session
    // end; unsaved changes are asked about. `mayInteract` is asked first when
    // there is a question to ask: when it refuses, nothing is asked and the
    // session does not end over a running encoding or unsaved changes.
    bool QueryEndSession(const std::function<bool()>& mayInteract = {});
    // Opens a profile (or takes an AVI file as input) as the shell or a drop asks.
    bool OpenDocumentFile(const std::string& path);

    // How many output play windows the view has open (none without a view).
    std::function<int()> outputPlayWindowCount;

protected:
    // The file chosen in the import dialog; empty when cancelled.
    virtual std::string ChooseProfileFile();

private:
    void OnCommitDataRequest(QSessionManager& manager);

    std::unique_ptr<RecentFileList> recentFiles_;
    std::unique_ptr<CMpegDoc> document_;
    std::unique_ptr<CMainFrame> frame_;
    bool exited_ = false;
};

// The one application object while it exists.
extern CTessmarApp* TheApp;
