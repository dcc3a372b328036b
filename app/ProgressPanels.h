// The progress host the view shows while a job runs, and its four panels:
// video (plain, or with the two picture-quality bars), audio and
// multiplexing. Each panel shows a bar, its count or percentage, the elapsed
// time and a Stop button, writes the phase into the status bar and runs the
// free-disk check. Controls carry their resource ids as object names.
#pragma once

#include <string>

#include <QDialog>
#include <QFrame>
#include <QWidget>
#include <cstdint>

class QLabel;
class QProgressBar;
class QPushButton;
class QVBoxLayout;

// One quality figure (0..100) as a coloured, hatched bar.
class CQualityBar : public QWidget {
    Q_OBJECT
public:
    explicit CQualityBar(QWidget* parent = nullptr);
    ~CQualityBar() override;
    // Stores the value limited to 0..100 and repaints at once.
    void SetValue(float value);
    float Value() const { return value_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    float value_ = 0.0f;
};

// What the panels share: the frame of a modeless child dialog (caption-less,
// placed by the host), the bar in placeholder 1023, the Stop button 2, the
// painted background with the program's picture and the Stop question.
class CProgressPanel : public QDialog {
    Q_OBJECT
public:
    ~CProgressPanel() override;
    // Command 2 (Stop, also Escape) asks whether to stop; command 1 (Enter)
    // is swallowed so that the panel never closes in the middle of a pass.
    // 1 when the command was handled.
    virtual int OnCommand(int id);
    QProgressBar* Bar() const { return bar_; }
    // A new pass starts on this panel: its check points and shown times start over.
    virtual void StartPass();
    // The heading says whether the encoding runs or is paused.
    void ShowPauseState();

protected:
    CProgressPanel(QWidget* parent, int templateId, const char* title, const char* note, int askStop,
                   int askBatchStop);
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void accept() override;
    void reject() override;
    // The label with resource id `id`, created in the panel's layout.
    QLabel* Label(int id) const;
    // The column of the heading and the bar, where a panel adds its rows.
    QVBoxLayout* TextColumn() const { return textColumn_; }
    // The row of the audio and multiplexing panels: the percentage and the elapsed time.
    void AddPercentRow();
    void SetBar(int rangeMax, int position);
    // The status bar's first pane, on the two-second rule.
    void ShowStatus(int stringId, int64_t counter, int64_t elapsedSeconds);

    QProgressBar* bar_ = nullptr;
    QPushButton* stop_ = nullptr;
    int64_t lastStatusSeconds_ = -1;
    int64_t nextDiskCheck_ = 0;

private:
    QVBoxLayout* textColumn_ = nullptr;
    std::string heading_;
    int askStop_, askBatchStop_;
};

// The video panel (template 131): "Frame n out of m" and the elapsed time.
class CProgressDlg : public CProgressPanel {
    Q_OBJECT
public:
    explicit CProgressDlg(QWidget* parent = nullptr);
    ~CProgressDlg() override;
    virtual void UpdateProgress();

protected:
    CProgressDlg(QWidget* parent, int templateId);

private:
    int rangeMax_ = 100;
};

// The video panel with the average and current picture quality (template 132).
class CProgressDlgQ : public CProgressDlg {
    Q_OBJECT
public:
    explicit CProgressDlgQ(QWidget* parent = nullptr);
    ~CProgressDlgQ() override;
    void UpdateProgress() override;
    CQualityBar* AverageBar() const { return average_; }
    CQualityBar* CurrentBar() const { return current_; }

private:
    CQualityBar* average_ = nullptr;
    CQualityBar* current_ = nullptr;
};

// The audio panel (template 141): percentage of the samples and elapsed time.
class CProgressAudio : public CProgressPanel {
    Q_OBJECT
public:
    explicit CProgressAudio(QWidget* parent = nullptr);
    ~CProgressAudio() override;
    void UpdateProgress();
};

// The multiplexing panel (template 146): percentage of the bytes and elapsed time.
class CProgressMultiplex : public CProgressPanel {
    Q_OBJECT
public:
    explicit CProgressMultiplex(QWidget* parent = nullptr);
    ~CProgressMultiplex() override;
    void UpdateProgress();
};

// The host: holds the four panels and shows the one of the current phase
// over its whole client area (multiplexing, else audio, else the video panel
// with or without quality bars, as the settings ask).
class CProgressWnd : public QFrame {
    Q_OBJECT
public:
    explicit CProgressWnd(QWidget* parent = nullptr);
    ~CProgressWnd() override;

    // Shows the panel of the current phase and hides the others.
    void RecalcLayout();
    // The panel RecalcLayout shows now.
    CProgressPanel* CurrentPanel() const;

    CProgressDlgQ* VideoQualityPanel() const { return videoQ_; }
    CProgressDlg* VideoPanel() const { return video_; }
    CProgressAudio* AudioPanel() const { return audio_; }
    CProgressMultiplex* MultiplexPanel() const { return multiplex_; }

    // The refreshes the job asks for; the video one goes to the panel the
    // settings choose.
    void UpdateVideoProgress();
    void UpdateAudioProgress();
    void UpdateMultiplexProgress();
    // The shown panel's heading follows a pause (a pause refreshes nothing else).
    void ShowPauseState();

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    CProgressDlgQ* videoQ_ = nullptr;
    CProgressDlg* video_ = nullptr;
    CProgressAudio* audio_ = nullptr;
    CProgressMultiplex* multiplex_ = nullptr;
    CProgressPanel* shown_ = nullptr;
};

// Creates the progress host with its four panels as a hidden child of
// `parentArea` and connects it to the job:
// - the job's progress refreshes (UpdateVideoProgress, UpdateAudioProgress,
//   UpdateMultiplexProgress of the message-pump hooks; the other pump hooks
//   are kept, so install the program's own pump hooks first, or keep these
//   fields when setting them again later),
// - its request to show the panel of the starting pass (NotifyProgressWindow),
// - the owner of the audio pass's message boxes.
// The view places, shows and hides the host (its panels follow its size).
// Destroying the host disconnects it: the refreshes then do nothing.
CProgressWnd* InstallProgressPanels(QWidget* parentArea);
// The host the job talks to now, or null.
CProgressWnd* ActiveProgressWindow();
