// The program's main window: menu, accelerators, tool bar, status bar,
// dropped files, the View switches, closing rules and help. The central
// area belongs to the view, which fills it once it exists.
#pragma once

#include <QMainWindow>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "app/FrameLogic.h"

class CMainSettingsForm;
class CMpeg2View;
class CTessmarApp;
class DocumentFormLink;
class QAction;
class QMenu;
class QStatusBar;
class QToolBar;

class CMainFrame : public QMainWindow {
    Q_OBJECT
public:
    explicit CMainFrame(CTessmarApp& app);
    ~CMainFrame() override;

    // The command with that resource id, or null.
    QAction* Action(int id) const;
    // Hands a command to its owner (the view, the batch and profile
    // dialogs): what it does and when it may be used. A command without an
    // owner stays disabled. With `checked` the command shows a check mark.
    void SetCommand(int id, std::function<void()> run, std::function<bool()> enabled,
                    std::function<bool()> checked = {});
    // Puts the view (with the main settings form) into the central area.
    void SetViewWidget(QWidget* view);
    QWidget* ViewWidget() const { return centralWidget(); }
    // The view's first update: the previews, the progress panels and the
    // main settings form, linked to the document and filled from the settings.
    void CreateView();
    CMpeg2View* View() const { return view_; }

    // Enables, disables and checks every command by the update rules; runs
    // on every state change the frame sees and from the idle timer.
    void UpdateCommandStates();
    // Sizes and centres the window for a desktop of that size (done at creation for the screen's).
    void PlaceWindow(const QRect& desktop);
    void RebuildRecentFileMenu();
    void UpdateTitle();

    const MainWindowGeometry& Geometry() const { return geometry_; }

    // What a close of the window or the end of the session may do while an
    // encoding or a batch is under way. Both come here, so both ask alike.
    enum class EndingAnswer {
        Free,       // nothing runs: the window may close, the session may end
        AfterStop,  // the job and the batch are stopping (asked and answered Yes, or ending anyway)
        Refused,    // the user lets them go on
    };
    EndingAnswer AskToEndWork();

    // The drop of one file: a profile opens, an AVI file becomes the input.
    // False when nothing was done with it.
    bool DropFile(const std::string& path);

signals:
    // The preview switches changed; the view re-lays out its panes.
    void PreviewSettingsChanged();

protected:
    // A command key (Alt and a letter) whose command is closed now is used up
    // here: it would otherwise reach the focused field as a typed letter.
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    // Closes the window once the encoding that a close stopped has ended.
    void CloseOnceStopped();
    bool closeAfterStop_ = false;
    bool frameFitted_ = false;
    struct Command {
        QAction* action = nullptr;
        std::function<void()> run;
        std::function<bool()> enabled;  // empty: disabled
        std::function<bool()> checked;  // empty: not checkable
    };
    QAction* AddCommand(int id, const QString& text, const QKeySequence& shortcut = {});
    void BuildMenus();
    void BuildToolBar();
    // Shrinks and moves the window so that its frame stays on the desktop.
    void FitFrameToDesktop();
    void OnShowInputFrames();
    void OnShowOutputFrames();
    void OnAutoWindowSize();
    void OnHelpTopics();
    void OnSaveSettingsAsDefault();
    void Run(int id);

    CTessmarApp& app_;
    std::map<int, Command> commands_;
    QMenu* fileMenu_ = nullptr;
    QAction* recentAnchor_ = nullptr;  // the separator after the recent files
    std::vector<QAction*> recentActions_;
    QToolBar* toolBar_ = nullptr;
    MainWindowGeometry geometry_;
    CMainSettingsForm* form_ = nullptr;
    CMpeg2View* view_ = nullptr;
    std::unique_ptr<DocumentFormLink> formLink_;
};

// The status bar whose first pane the view writes.
extern QStatusBar* MainStatusBar;
// 1 when the desktop is at least 800 x 600.
extern int LargeScreen;
extern int MainWindowWidth, MainWindowHeight;
