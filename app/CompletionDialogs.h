// The small modal dialogs that report a job's result (video, audio,
// multiplexing, the constrained-parameters error) and describe the chosen
// AVI input, and the functions through which the job shows them. Every
// control carries its resource id as object name; the text members are
// copied into their controls by DoDataExchange.
#pragma once

#include <QDialog>
#include <QString>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

struct AviInfoTexts;
class QGridLayout;

// What the dialogs share: a column of labelled figures, OK (id 1) at the
// bottom, and the members' exchange with their controls.
class CResultDialog : public QDialog {
    Q_OBJECT
public:
    ~CResultDialog() override;
    // Fills the controls (OnInitDialog) and runs the dialog modally.
    int DoModal();
    // Sets the controls from the text members.
    virtual void DoDataExchange();
    // The dialog's own set-up before it shows; the base only exchanges the members.
    virtual void OnInitDialog();
    // The text of control `id` (a label or a read-only edit), empty when there is none.
    QString ControlText(int id) const;
    // The texts of every control with a resource id, by id.
    std::map<int, QString> ControlTexts() const;

protected:
    CResultDialog(QWidget* parent, int templateId, const char* caption);
    // A row: static label, the control `id` showing `*member` (a read-only
    // edit when `edit`), and an optional unit text after it.
    void AddRow(const char* label, int id, QString* member, const char* unit = nullptr, bool edit = false);
    // A line of static text across the dialog; `id` 0 for an anonymous one.
    void AddText(const char* text, int id = 0, bool heading = false);
    // Exchanges `*member` with the control `id` made by AddText.
    void Bind(int id, QString* member);
    void SetControlText(int id, const QString& text);
    void FinishLayout();

private:
    QGridLayout* grid_ = nullptr;
    int row_ = 0;
    std::map<int, QString*> members_;
};

class CAudioCompleted : public CResultDialog {
    Q_OBJECT
public:
    explicit CAudioCompleted(QWidget* parent = nullptr);
    QString m_size;  // Kbytes (1073)
};

class CAudioCompleted2 : public CResultDialog {
    Q_OBJECT
public:
    explicit CAudioCompleted2(QWidget* parent = nullptr);
    QString m_audioName;  // 1096
    QString m_audioSize;  // 1075
    QString m_videoName;  // 1095
    QString m_videoSize;  // 1074
};

// The video result: frames, status line, time, size and compression ratio,
// all computed from the job's words when the dialog is set up.
class CCompletedDlg : public CResultDialog {
    Q_OBJECT
public:
    explicit CCompletedDlg(QWidget* parent = nullptr);
    void OnInitDialog() override;

protected:
    CCompletedDlg(QWidget* parent, int templateId);
};

// The same with the average and minimum picture quality.
class CCompletedDlgQ : public CCompletedDlg {
    Q_OBJECT
public:
    explicit CCompletedDlgQ(QWidget* parent = nullptr);
    void OnInitDialog() override;
};

class CConstrainedDialog : public CResultDialog {
    Q_OBJECT
public:
    explicit CConstrainedDialog(QWidget* parent = nullptr);
    QString m_message;  // 1076
};

class CMultiplexCompleted : public CResultDialog {
    Q_OBJECT
public:
    explicit CMultiplexCompleted(QWidget* parent = nullptr);
    QString m_outputSize;      // 1073
    QString m_audioSize;       // 1075
    QString m_videoSize;       // 1074
    QString m_kind;            // 1123
    QString m_averageQuality;  // 1034
    QString m_minimumQuality;  // 1035
    QString m_time;            // 1036
    QString m_frames;          // 1031
    QString m_ratio;           // 1037

protected:
    CMultiplexCompleted(QWidget* parent, int templateId);
};

// The multiplexing result with the warning that the system stream is much
// larger than its two streams.
class CMultiplexCompleted1 : public CMultiplexCompleted {
    Q_OBJECT
public:
    explicit CMultiplexCompleted1(QWidget* parent = nullptr);
    QString m_extra[3];
};

// "AVI File Information": the video stream's description.
class CAVIInfo : public CResultDialog {
    Q_OBJECT
public:
    CAVIInfo(const AviInfoTexts& texts, QWidget* parent = nullptr, int templateId = 151);
    void OnInitDialog() override;
    QString m_ratio;     // 1084
    QString m_type;      // 1083
    QString m_duration;  // 1082
    QString m_format;    // 1079
    QString m_rate;      // 1080
    QString m_frames;    // 1081

protected:
    const AviInfoTexts& texts_;
};

// With the warning that the input is highly compressed.
class CAVIInfo1 : public CAVIInfo {
    Q_OBJECT
public:
    CAVIInfo1(const AviInfoTexts& texts, QWidget* parent = nullptr);
};

// With the audio stream's description, and the high-compression warning.
class CAVIInfo2 : public CAVIInfo {
    Q_OBJECT
public:
    CAVIInfo2(const AviInfoTexts& texts, QWidget* parent = nullptr);
    void OnInitDialog() override;
    QString m_bits;       // 1089
    QString m_audioFormat;  // 1088
    QString m_frequency;  // 1091
    QString m_channels;   // 1090

protected:
    CAVIInfo2(const AviInfoTexts& texts, QWidget* parent, int templateId);
};

// The audio description without the warning.
class CAVIInfo3 : public CAVIInfo2 {
    Q_OBJECT
public:
    CAVIInfo3(const AviInfoTexts& texts, QWidget* parent = nullptr);
};

// The result functions of the job, shown modally over `parent`:
// - the video result (not in batch mode), with quality figures when quality
//   statistics are on;
// - the audio result (not in a quiet batch): sizes and, for MPEG-2, both files;
// - the multiplexing result (not in batch mode): sizes in Kbytes, frames,
//   quality, the whole job's time and the compression ratio; `kind` 1 for
//   an MPEG-1 system stream, else a program stream;
// - the constrained-parameters error (the job logs it itself in a quiet batch);
// - the AVI information (not in batch mode), chosen by audio and compression.
void ShowVideoCompletedDialog(QWidget* parent);
void ShowAudioCompletedDialog(QWidget* parent, int64_t kbytes);
// What the multiplexing result says was written: the stream kind (1 an MPEG-1
// system stream, else a program stream), or a DVD-Video folder and its name.
std::string MultiplexKindText(int kind);
void ShowMultiplexCompletedDialog(QWidget* parent, int64_t outputKbytes, int64_t videoKbytes, int64_t audioKbytes,
                                  int kind);
void ShowConstrainedDialog(QWidget* parent, const std::string& text);
void ShowAviInfoDialog(QWidget* parent, const AviInfoTexts& texts);

// How a result dialog is run once it is set up; returns the dialog's result.
// The program installs the windowed runner; tests install a scripted one; with
// none installed the dialog's texts go to stderr and OK is taken, as message
// boxes do without their handler.
using ResultDialogRunner = std::function<int(CResultDialog& dialog)>;
// Installs `runner` (an empty one restores the stderr fallback); returns the previous one.
ResultDialogRunner SetResultDialogRunner(ResultDialogRunner runner);
// The windowed runner: the dialog modally over its parent.
int RunResultDialogWindow(CResultDialog& dialog);

// A runner for tests: records every dialog it is given (its resource id and
// its controls' texts) and answers OK. Installs itself for its lifetime.
class ScriptedResultDialogs {
public:
    struct Shown {
        std::string id;
        std::map<int, std::string> texts;
        std::string Text(int control) const;
    };
    ScriptedResultDialogs();
    ~ScriptedResultDialogs();
    ScriptedResultDialogs(const ScriptedResultDialogs&) = delete;
    ScriptedResultDialogs& operator=(const ScriptedResultDialogs&) = delete;

    const std::vector<Shown>& All() const { return shown_; }
    // The resource ids of the dialogs, in the order they came.
    std::vector<std::string> Ids() const;
    void Clear() { shown_.clear(); }

private:
    std::vector<Shown> shown_;
    ResultDialogRunner previous_;
};

// Connects the functions above to the job (its result hooks, the AVI
// description and the constrained-parameters report) with `owner` as their
// parent. Pass null to disconnect, as the owner must before it goes.
void InstallCompletionDialogs(QWidget* owner);
