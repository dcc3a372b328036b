// The single view of the main window: the preview container above, the
// progress panels or the main settings form below; the encoding commands
// Start, Stop and Pause, the input preview and output playback in an outside
// player, the AVI information and the warnings switch; and the functions
// through which the job reaches the progress panels and the result dialogs.
#pragma once

#include <QWidget>
#include <string>

#include "settings/RunState.h"

class CMainFrame;
class CMainSettingsForm;
class CProgressWnd;
class CStatView;
class QKeyEvent;

class CMpeg2View : public QWidget {
    Q_OBJECT
public:
    explicit CMpeg2View(CMainFrame& frame);
    ~CMpeg2View() override;

    // The first update: children, hooks, commands, the default profile, the first layout.
    void OnInitialUpdate();
    CMainSettingsForm* Form() const { return form_; }
    CStatView* Previews() const { return previews_; }
    CProgressWnd* ProgressHost() const { return progressHost_; }

    void LayoutPanes(int width, int height);

    void OnStartEncoding();
    void OnStopEncoding();
    void OnPauseEncoding();
    void OnShowAviInfo();
    void OnPreviewInput();
    void OnPlayOutputFile();
    void OnSuppressWarnings();
    // Alt+letter typed into the view.
    void OnSysChar(int character);

    // One idle round of the program while the job pumps; true when more idle work is wanted.
    bool RunIdleWithPauseNotice(int count);

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void RegisterCommands();
    // Fills the batch's link to the view: its guard word, preview check and repaints.
    void LinkBatchRuns();
    void RelayoutAroundEncoding();
    // The job of Start steps 4 to 9; false when it ended before RunEncoding.
    void RunStartedEncoding();
    // The checks and the start of the player for one file; `input` picks the texts.
    bool PlayFile(bool input, const std::string& name);
    // Step 2 of the stop question onwards (Stop command and Alt+S).
    void AskToStop();

    CMainFrame& frame_;
    CStatView* previews_ = nullptr;
    CProgressWnd* progressHost_ = nullptr;
    CMainSettingsForm* form_ = nullptr;
    MessagePumpHooks previousPumps_;
};

// The one view once it had its first update; null before.
extern CMpeg2View* MainView;
extern int EncodingActive;
extern int ViewInitialised;
extern int InputPlayWindowCount, OutputPlayWindowCount;
extern int LayoutUnitY;

// The message pump's dispatch the program installs at start and the view
// again with its own pumps: what is queued, for a few milliseconds; while
// paused it sleeps until the next event (the frame's idle timer brings one at
// least every 100 ms). Qt does not say how many events it handled, so the
// pumps are told none, which lets their idle round run.
int DispatchQueuedEvents(int limit, bool* quit);

// The settings-file key naming the outside player of "Preview input file" and
// "Play output file" (a program, optionally with arguments), and its default.
inline constexpr const char* kPlayerKey = "PREVIEW_PLAYER";
inline constexpr const char* kDefaultPlayer = "xdg-open";  // the desktop's opener
