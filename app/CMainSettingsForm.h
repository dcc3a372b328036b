// The main settings form: the panel at the bottom of the main window where
// the input and output files, the picture, frame range, frame rate, bit rate
// and the stream format are chosen. Every control's object name is its
// resource id ("1001", "1002", ...).
#pragma once

#include <QWidget>
#include <functional>
#include <string>

#include "app/FormLogic.h"
#include "app/FormPresets.h"

class CSpinCtrl8;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QToolButton;

// The file dialog of the Browse buttons (FormFileDialogRequest): the
// program's dialog is installed by the frame; the default opens a Qt file
// dialog.
using FormFileDialogHook = std::function<bool(QWidget* parent, FormFileDialogRequest* request)>;
void SetFormFileDialogHook(FormFileDialogHook hook);

class CMainSettingsForm : public QWidget {
    Q_OBJECT
public:
    // Creates the panel and initialises its controls; the form becomes MainSettingsForm.
    explicit CMainSettingsForm(QWidget* parent = nullptr);
    ~CMainSettingsForm() override;

    // Refreshes the form from EncoderSettings (at the first start with a
    // pending command-line file, the default profile is read first).
    void LoadDefaultProfile();
    // 1 when the form was valid and has been stored into EncoderSettings.
    int ApplyToParameters();
    int ValidateSettings();
    // Takes a new input file; 0 when it was refused or could not be probed.
    int SetInputFile(const std::string& path);
    void UpdateOutputFileName();
    int CheckOutputFile();
    int CheckTemporaryFiles();
    // After a job: the sound the job coded when it had to follow the input's
    // channels (a mono file under a stereo profile), so the next store keeps it.
    void TakeJobSound();

    // The batch runner's variants: messages go to the batch log.
    int LoadInputFileForBatch(const std::string& path, const std::string& outputFolder);
    int CheckBatchOutputFile();
    int CheckBatchTemporaryFiles();

    // The values the controls hold now (false in `ok` when an edit holds no
    // number in its range).
    FormValues ReadControls(bool* ok = nullptr) const;
    const FormValues& Values() const { return values_; }

    // Posts the input Browse command (queued: it runs once the caller returns).
    void PostInputBrowse();
    void PostOutputBrowse();

signals:
    // The user changed something the document keeps.
    void documentModified();
    void previewInputRequested();  // 1105: command 32791 of the view
    void playOutputRequested();    // 1106: command 32792 of the view

protected:
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void BuildControls();
    void WriteControls();
    void ApplyShowRules();
    void ReadIntoValues();
    void MarkModified();

    // A name typed into the input edit and not taken yet is taken as Enter
    // takes it; 0 when it was refused.
    int TakeTypedInput();
    void OnInputEditingFinished();
    void OnInputBrowse();
    void OnOutputBrowse();
    void OnOutputEditingFinished();
    void OnMpeg1();
    void OnMpeg2();
    void OnEncodeAudio();
    void OnVideoCd();
    void OnDvd();
    void OnSvcd();
    void OnFirstFrameEdited();
    void OnEnter();
    void OnAdvanced();
    bool WithAudio() const;
    // The temporary names from the output name in the form.
    void DeriveTemporaryNamesFromOutput();
    void ShowOutputName();

    QLineEdit* inputEdit_;
    QPushButton* inputBrowse_;
    QLineEdit* outputEdit_;
    QPushButton* outputBrowse_;
    QLineEdit* widthEdit_;
    QLineEdit* heightEdit_;
    QLineEdit* framesEdit_;
    CSpinCtrl8* framesSpin_;
    QLineEdit* firstFrameEdit_;
    CSpinCtrl8* firstFrameSpin_;
    QComboBox* frameRateCombo_;
    QLineEdit* bitRateEdit_;
    CSpinCtrl8* bitRateSpin_;
    QLabel* kbitLabel_;
    QLabel* vbrLabel_;
    QRadioButton* mpeg1Radio_;
    QRadioButton* mpeg2Radio_;
    QCheckBox* videoCdCheck_;
    QCheckBox* dvdCheck_;
    QCheckBox* svcdCheck_;
    QComboBox* videoFormatCombo_;
    QCheckBox* encodeAudioCheck_;
    QPushButton* advancedButton_;
    QToolButton* previewButton_;
    QToolButton* playButton_;

    FormValues values_;
    VcdSnapshot vcdSnapshot_;
    bool controlsOk_ = true;
    // The input last taken, with what its probe found: Enter takes a typed
    // name only when it differs, and the store takes the sound from here.
    TakenInput takenInput_;
    // While the controls are being filled, their change signals are not the user's.
    bool writing_ = false;
    // The typed name last tried when the input edit was left: leaving it
    // again without a change does not ask again.
    std::string triedInput_;
    // The input edit lost the focus to another window (or its own closing):
    // that is no leaving of the field, and takes nothing.
    bool inputFocusLeftWindow_ = false;
    // The user typed or browsed an output name since the last input was
    // taken: taking the next input keeps it instead of proposing one.
    bool outputChosen_ = false;
    // Whether the output check of the last input taken passed.
    bool takenOutputOk_ = true;
    // Temporary names held as the Files tab (or the profile) set them, with
    // the names and the stream kind they were set for: they are derived again
    // only once one of those changes.
    struct HeldTemporaryNames {
        bool held = false;
        std::string input, output;
        int streamKind = kStreamNone;
    } heldTemporaryNames_;
    void HoldTemporaryNames();
};

// The form, once created (null before and after).
extern CMainSettingsForm* MainSettingsForm;
// The output name the last refresh showed.
extern std::string LastOutputFileName;

// Posts the input Browse command to the form, when there is one.
void RequestInputFileBrowse();
