// The main settings form's widgets: they show FormValues and hand every
// decision to the functions of FormLogic and FormPresets.
#include "app/CMainSettingsForm.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QStyleOptionFrame>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>
#include <vector>

#include "app/AppSettings.h"
#include "app/BatchLog.h"
#include "app/BatchRunner.h"
#include "app/CAdvancedSettingsSheet.h"
#include "app/CSpinCtrl8.h"
#include "job/AviSource.h"
#include "job/JobDriver.h"
#include "platform/MessageBox.h"
#include "platform/ResStrings.h"
#include "settings/Preview.h"
#include "settings/Report.h"
#include "settings/RunState.h"

using platform::MbAnswer;
using platform::MbButtons;
using platform::MbIcon;

CMainSettingsForm* MainSettingsForm = nullptr;
std::string LastOutputFileName;

namespace {

// Bits of SetJobFileReady.
constexpr int kInputChosen = 1;
constexpr int kOutputChosen = 2;

QString Q(const std::string& s) { return QString::fromStdString(s); }
std::string S(const QString& s) { return s.toStdString(); }

// "Name (*.x)|*.x|Other (*.*)|*.*||" as a Qt filter list: the descriptions carry the patterns.
QString QtFilter(const std::string& filter) {
    QStringList parts = Q(filter).split('|');
    QStringList names;
    for (int i = 0; i + 1 < parts.size(); i += 2)
        if (!parts[i].isEmpty()) names << parts[i];
    return names.join(";;");
}

bool QtFileDialog(QWidget* parent, FormFileDialogRequest* r) {
    QFileDialog dialog(parent, Q(r->title), Q(r->folder), QtFilter(r->filter));
    dialog.setAcceptMode(r->save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode(r->save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    dialog.setOption(QFileDialog::DontConfirmOverwrite, true);
    dialog.setDefaultSuffix(Q(r->defaultExtension));
    if (!r->name.empty() && r->name.find('*') == std::string::npos) dialog.selectFile(Q(r->name));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return false;
    r->name = S(dialog.selectedFiles().front());
    return true;
}

FormFileDialogHook& FileDialogHook() {
    static FormFileDialogHook hook = QtFileDialog;
    return hook;
}

void Message(int id, MbIcon icon) { platform::ShowMessageBox(LoadResString(id), "", MbButtons::Ok, icon); }

void Message(const std::string& text, MbIcon icon) { platform::ShowMessageBox(text, "", MbButtons::Ok, icon); }

// Gives a line edit the width that shows `widest` whole in its own font.
void FitEditToText(QLineEdit* edit, const char* widest) {
    QStyleOptionFrame option;
    option.initFrom(edit);
    option.lineWidth = edit->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &option, edit);
    option.midLineWidth = 0;
    option.state |= QStyle::State_Sunken;
    const QMargins margins = edit->textMargins();
    // Besides the frame and the margins, the edit keeps 2 pixels on each side of its text.
    const QSize text(edit->fontMetrics().horizontalAdvance(QString::fromLatin1(widest)) + 4 + margins.left() +
                         margins.right() + 1,
                     edit->fontMetrics().height());
    const int width = edit->style()->sizeFromContents(QStyle::CT_LineEdit, &option, text, edit).width();
    edit->setFixedWidth(width);
}

// A `maxLength` of 0 keeps the edit's own limit: a file name too long is
// refused with its message, never cut short in the edit.
QLineEdit* NewEdit(QWidget* parent, const char* id, int maxLength) {
    auto* e = new QLineEdit(parent);
    e->setObjectName(id);
    if (maxLength > 0) e->setMaxLength(maxLength);
    return e;
}

}  // namespace

void SetFormFileDialogHook(FormFileDialogHook hook) { FileDialogHook() = hook ? std::move(hook) : QtFileDialog; }

void RequestInputFileBrowse() {
    if (MainSettingsForm) MainSettingsForm->PostInputBrowse();
}

CMainSettingsForm::CMainSettingsForm(QWidget* parent) : QWidget(parent) {
    MainSettingsForm = this;
    BuildControls();
    framesSpin_->SetLimits(1, kMaxFrameCount);
    firstFrameSpin_->SetLimits(1, kMaxFrameCount);
    bitRateSpin_->SetLimits(0, kBitRateSpinLimit);
    values_.frameRateIndex = FrameRateIndexOfCode(EncoderSettings.frameRateCode);
    JobWindows.requestInputFileBrowse = RequestInputFileBrowse;
    WriteControls();
    FormReady = 1;
    ApplyShowRules();
}

CMainSettingsForm::~CMainSettingsForm() {
    if (MainSettingsForm == this) {
        MainSettingsForm = nullptr;
        // An input named from now on waits for the next form.
        FormReady = 0;
        if (JobWindows.requestInputFileBrowse == RequestInputFileBrowse) JobWindows.requestInputFileBrowse = nullptr;
    }
}

void CMainSettingsForm::BuildControls() {
    setObjectName("203");
    inputEdit_ = NewEdit(this, "1001", 0);
    outputEdit_ = NewEdit(this, "1005", 0);
    widthEdit_ = NewEdit(this, "1003", 5);
    heightEdit_ = NewEdit(this, "1007", 5);
    framesEdit_ = NewEdit(this, "1004", 7);
    firstFrameEdit_ = NewEdit(this, "1009", 7);
    bitRateEdit_ = NewEdit(this, "1014", 6);

    inputBrowse_ = new QPushButton("Browse", this);
    inputBrowse_->setObjectName("1002");
    outputBrowse_ = new QPushButton("Browse", this);
    outputBrowse_->setObjectName("1006");
    advancedButton_ = new QPushButton("Advanced", this);
    advancedButton_->setObjectName("1016");

    framesSpin_ = new CSpinCtrl8(this);
    framesSpin_->setObjectName("1008");
    framesSpin_->SetBuddy(framesEdit_);
    firstFrameSpin_ = new CSpinCtrl8(this);
    firstFrameSpin_->setObjectName("1010");
    firstFrameSpin_->SetBuddy(firstFrameEdit_);
    bitRateSpin_ = new CSpinCtrl8(this);
    bitRateSpin_->setObjectName("1015");
    bitRateSpin_->SetBuddy(bitRateEdit_);

    frameRateCombo_ = new QComboBox(this);
    frameRateCombo_->setObjectName("1013");
    for (int id = 63316; id <= 63320; ++id) frameRateCombo_->addItem(LoadResString(id));
    // The MPEG-2 rates beyond 30, so that a profile with one shows and keeps it.
    frameRateCombo_->addItems({"50", "59.94", "60"});
    videoFormatCombo_ = new QComboBox(this);
    videoFormatCombo_->setObjectName("1164");
    videoFormatCombo_->addItems({"Progressive", "Interlaced, top field first", "Interlaced, bottom field first"});

    kbitLabel_ = new QLabel("Kbits/sec.", this);
    kbitLabel_->setObjectName("1151");
    vbrLabel_ = new QLabel("Variable Bit Rate Mode ", this);
    vbrLabel_->setObjectName("1150");

    mpeg1Radio_ = new QRadioButton("Mpeg-1", this);
    mpeg1Radio_->setObjectName("1011");
    mpeg2Radio_ = new QRadioButton("Mpeg-2", this);
    mpeg2Radio_->setObjectName("1012");
    videoCdCheck_ = new QCheckBox("Video-CD", this);
    videoCdCheck_->setObjectName("1148");
    dvdCheck_ = new QCheckBox("DVD", this);
    dvdCheck_->setObjectName("1168");
    svcdCheck_ = new QCheckBox("Super Video-CD", this);
    svcdCheck_->setObjectName("1169");
    encodeAudioCheck_ = new QCheckBox("Encode audio", this);
    encodeAudioCheck_->setObjectName("1062");

    previewButton_ = new QToolButton(this);
    previewButton_->setObjectName("1105");
    previewButton_->setIcon(style()->standardIcon(QStyle::SP_FileDialogContentsView));
    previewButton_->setIconSize(QSize(32, 32));
    playButton_ = new QToolButton(this);
    playButton_->setObjectName("1106");
    playButton_->setIcon(style()->standardIcon(QStyle::SP_MediaPlay));
    playButton_->setIconSize(QSize(32, 32));

    // Each number field is wide enough for the largest number it takes, in
    // the font it is shown in; the rows do not share columns, so a wide
    // field of one row cannot squeeze a field of another.
    FitEditToText(widthEdit_, "10000");
    FitEditToText(heightEdit_, "10000");
    FitEditToText(framesEdit_, "1000000");
    FitEditToText(firstFrameEdit_, "1000000");
    FitEditToText(bitRateEdit_, "102400");

    auto* rows = new QVBoxLayout(this);
    auto* files = new QGridLayout;
    files->addWidget(new QLabel("Input file:", this), 0, 0);
    files->addWidget(inputEdit_, 0, 1);
    files->addWidget(inputBrowse_, 0, 2);
    files->addWidget(previewButton_, 0, 3);
    files->addWidget(new QLabel("Output file:", this), 1, 0);
    files->addWidget(outputEdit_, 1, 1);
    files->addWidget(outputBrowse_, 1, 2);
    files->addWidget(playButton_, 1, 3);
    files->setColumnStretch(1, 1);
    rows->addLayout(files);

    const auto withSpin = [](QLineEdit* edit, CSpinCtrl8* spin) {
        auto* box = new QHBoxLayout;
        box->setSpacing(0);
        box->addWidget(edit);
        box->addWidget(spin);
        return box;
    };
    auto* picture = new QHBoxLayout;
    picture->addWidget(new QLabel("Width:", this));
    picture->addWidget(widthEdit_);
    picture->addWidget(new QLabel("Height:", this));
    picture->addWidget(heightEdit_);
    picture->addWidget(new QLabel("Frames:", this));
    picture->addLayout(withSpin(framesEdit_, framesSpin_));
    picture->addWidget(new QLabel("Start frame:", this));
    picture->addLayout(withSpin(firstFrameEdit_, firstFrameSpin_));
    picture->addStretch(1);
    rows->addLayout(picture);

    auto* rate = new QHBoxLayout;
    rate->addWidget(new QLabel("Frame rate:", this));
    rate->addWidget(frameRateCombo_);
    rate->addWidget(new QLabel("Bit rate:", this));
    rate->addLayout(withSpin(bitRateEdit_, bitRateSpin_));
    rate->addWidget(kbitLabel_);
    rate->addWidget(vbrLabel_);
    rate->addWidget(videoFormatCombo_, 1);
    rate->addWidget(advancedButton_);
    rows->addLayout(rate);

    auto* kinds = new QHBoxLayout;
    for (QWidget* w : std::initializer_list<QWidget*>{mpeg1Radio_, mpeg2Radio_, videoCdCheck_, dvdCheck_, svcdCheck_,
                                                      encodeAudioCheck_})
        kinds->addWidget(w);
    kinds->addStretch();
    rows->addLayout(kinds);

    // Tab walks the form as it reads, row by row, each spin's arrows right after their number field.
    std::vector<QWidget*> order{inputEdit_, inputBrowse_, previewButton_, outputEdit_, outputBrowse_, playButton_,
                                widthEdit_, heightEdit_};
    const auto withArrows = [&order](QLineEdit* edit, CSpinCtrl8* spin) {
        order.push_back(edit);
        for (QToolButton* arrow : spin->findChildren<QToolButton*>()) order.push_back(arrow);
    };
    withArrows(framesEdit_, framesSpin_);
    withArrows(firstFrameEdit_, firstFrameSpin_);
    order.push_back(frameRateCombo_);
    withArrows(bitRateEdit_, bitRateSpin_);
    for (QWidget* w : std::initializer_list<QWidget*>{videoFormatCombo_, advancedButton_, mpeg1Radio_, mpeg2Radio_,
                                                      videoCdCheck_, dvdCheck_, svcdCheck_, encodeAudioCheck_})
        order.push_back(w);
    for (size_t i = 1; i < order.size(); ++i) QWidget::setTabOrder(order[i - 1], order[i]);

    for (QLineEdit* e : {inputEdit_, widthEdit_, heightEdit_, framesEdit_, bitRateEdit_})
        connect(e, &QLineEdit::textChanged, this, [this] {
            if (writing_) return;
            MarkModified();
            ReadIntoValues();
        });
    connect(outputEdit_, &QLineEdit::textChanged, this, [this] {
        if (writing_) return;
        outputChosen_ = true;
        MarkModified();
        ReadIntoValues();
        DeriveTemporaryNamesFromOutput();
    });
    connect(inputEdit_, &QLineEdit::returnPressed, this, &CMainSettingsForm::OnEnter);
    connect(inputEdit_, &QLineEdit::editingFinished, this, &CMainSettingsForm::OnInputEditingFinished);
    inputEdit_->installEventFilter(this);
    // Typing into the edit means it is the user's field again.
    connect(inputEdit_, &QLineEdit::textChanged, this, [this] {
        if (!writing_) inputFocusLeftWindow_ = false;
    });
    connect(outputEdit_, &QLineEdit::editingFinished, this, &CMainSettingsForm::OnOutputEditingFinished);
    connect(firstFrameEdit_, &QLineEdit::textChanged, this, [this] {
        if (!writing_) OnFirstFrameEdited();
    });
    connect(frameRateCombo_, &QComboBox::currentIndexChanged, this, [this] {
        if (writing_) return;
        MarkModified();
        ReadIntoValues();
    });
    connect(videoFormatCombo_, &QComboBox::currentIndexChanged, this, [this] {
        if (writing_) return;
        MarkModified();
        ReadIntoValues();
    });
    connect(bitRateSpin_, &CSpinCtrl8::Stepped, this, [this] {
        MarkModified();
        ReadIntoValues();
    });
    connect(framesSpin_, &CSpinCtrl8::Stepped, this, [this] { ReadIntoValues(); });
    connect(firstFrameSpin_, &CSpinCtrl8::Stepped, this, [this] { OnFirstFrameEdited(); });
    connect(inputBrowse_, &QPushButton::clicked, this, &CMainSettingsForm::OnInputBrowse);
    connect(outputBrowse_, &QPushButton::clicked, this, &CMainSettingsForm::OnOutputBrowse);
    connect(advancedButton_, &QPushButton::clicked, this, &CMainSettingsForm::OnAdvanced);
    connect(previewButton_, &QToolButton::clicked, this, &CMainSettingsForm::previewInputRequested);
    connect(playButton_, &QToolButton::clicked, this, &CMainSettingsForm::playOutputRequested);
    connect(mpeg1Radio_, &QRadioButton::clicked, this, &CMainSettingsForm::OnMpeg1);
    connect(mpeg2Radio_, &QRadioButton::clicked, this, &CMainSettingsForm::OnMpeg2);
    connect(encodeAudioCheck_, &QCheckBox::clicked, this, &CMainSettingsForm::OnEncodeAudio);
    connect(videoCdCheck_, &QCheckBox::clicked, this, &CMainSettingsForm::OnVideoCd);
    connect(dvdCheck_, &QCheckBox::clicked, this, &CMainSettingsForm::OnDvd);
    connect(svcdCheck_, &QCheckBox::clicked, this, &CMainSettingsForm::OnSvcd);
}

void CMainSettingsForm::MarkModified() { emit documentModified(); }

bool CMainSettingsForm::WithAudio() const { return values_.encodeAudio && takenInput_.hasAudio; }

void CMainSettingsForm::DeriveTemporaryNamesFromOutput() {
    HeldTemporaryNames& h = heldTemporaryNames_;
    if (h.held && h.input == values_.inputName && h.output == values_.outputName && h.streamKind == values_.streamKind)
        return;
    h.held = false;
    DeriveTemporaryNames(values_.outputName, values_.streamKind, takenInput_.hasAudio, &values_.coding);
}

void CMainSettingsForm::HoldTemporaryNames() {
    heldTemporaryNames_ = {true, values_.inputName, values_.outputName, values_.streamKind};
}

void CMainSettingsForm::ShowOutputName() {
    writing_ = true;
    outputEdit_->setText(Q(values_.outputName));
    writing_ = false;
}

FormValues CMainSettingsForm::ReadControls(bool* ok) const {
    FormValues f = values_;
    bool good = true;
    f.inputName = S(inputEdit_->text());
    f.outputName = S(outputEdit_->text());
    good &= ParseFormInteger(S(widthEdit_->text()), 0, kMaxPictureSide, &f.width);
    good &= ParseFormInteger(S(heightEdit_->text()), 0, kMaxPictureSide, &f.height);
    good &= ParseFormInteger(S(framesEdit_->text()), 1, kMaxFrameCount, &f.frames);
    good &= ParseFormInteger(S(firstFrameEdit_->text()), 1, kMaxFrameCount, &f.firstFrame);
    good &= ParseFormInteger(S(bitRateEdit_->text()), 0, kMaxBitRateKbit, &f.bitRateKbit);
    f.frameRateIndex = frameRateCombo_->currentIndex();
    f.streamKind = mpeg1Radio_->isChecked() ? kStreamMpeg1 : mpeg2Radio_->isChecked() ? kStreamMpeg2 : kStreamNone;
    f.encodeAudio = encodeAudioCheck_->isChecked();
    f.videoFormatIndex = videoFormatCombo_->currentIndex();
    f.dvd = dvdCheck_->isChecked();
    f.svcd = svcdCheck_->isChecked();
    f.videoCd = videoCdCheck_->isChecked();
    if (ok) *ok = good;
    return f;
}

void CMainSettingsForm::ReadIntoValues() { values_ = ReadControls(&controlsOk_); }

void CMainSettingsForm::WriteControls() {
    writing_ = true;
    const FormValues& f = values_;
    inputEdit_->setText(Q(f.inputName));
    outputEdit_->setText(Q(f.outputName));
    widthEdit_->setText(QString::number(f.width));
    heightEdit_->setText(QString::number(f.height));
    framesEdit_->setText(QString::number(f.frames));
    firstFrameEdit_->setText(QString::number(f.firstFrame));
    bitRateEdit_->setText(QString::number(f.bitRateKbit));
    if (f.frameRateIndex >= 0 && f.frameRateIndex < frameRateCombo_->count())
        frameRateCombo_->setCurrentIndex(f.frameRateIndex);
    mpeg1Radio_->setAutoExclusive(false);
    mpeg2Radio_->setAutoExclusive(false);
    mpeg1Radio_->setChecked(f.streamKind == kStreamMpeg1);
    mpeg2Radio_->setChecked(f.streamKind == kStreamMpeg2);
    mpeg1Radio_->setAutoExclusive(true);
    mpeg2Radio_->setAutoExclusive(true);
    encodeAudioCheck_->setChecked(f.encodeAudio);
    videoFormatCombo_->setCurrentIndex(f.videoFormatIndex < videoFormatCombo_->count() ? f.videoFormatIndex : -1);
    dvdCheck_->setChecked(f.dvd);
    svcdCheck_->setChecked(f.svcd);
    videoCdCheck_->setChecked(f.videoCd);
    writing_ = false;
    controlsOk_ = true;
}

void CMainSettingsForm::ApplyShowRules() {
    const FormCoding& c = values_.coding;
    const bool constant = c.rateControl != kRateVariable;
    const bool enabled = constant && c.applicationType != kApplicationVcd20;
    for (QWidget* w : std::initializer_list<QWidget*>{bitRateEdit_, bitRateSpin_, kbitLabel_}) {
        w->setHidden(!constant);
        w->setEnabled(enabled);
    }
    vbrLabel_->setHidden(constant);
    videoFormatCombo_->setEnabled(values_.streamKind == kStreamMpeg2);
    if (FormReady) {
        const bool mpeg2 = values_.streamKind == kStreamMpeg2;
        dvdCheck_->setEnabled(mpeg2);
        svcdCheck_->setEnabled(mpeg2);
        if (!mpeg2) {
            values_.dvd = values_.svcd = 0;
            dvdCheck_->setChecked(false);
            svcdCheck_->setChecked(false);
            int& type = values_.coding.applicationType;
            if (type == kApplicationDvd || type == kApplicationSvcd) type = kApplicationNone;
        }
    }
}

void CMainSettingsForm::LoadDefaultProfile() {
    if (FormReady == 1 && PendingInputFlag == 1 && ProfileDirectory.size() >= 2) ReadDefaultProfileWithoutFiles();
    const EncoderSettingsRecord& s = EncoderSettings;
    values_ = FormValuesFromSettings(s);
    firstFrameSpin_->SetLimits(1, kMaxFrameCount);
    framesSpin_->SetLimits(1, std::max(1, kMaxFrameCount - values_.firstFrame + 1));
    // The profile names its input without a probe: its sound, and the
    // channels of its audio mode, stand for the file's.
    takenInput_ = TakenInput();
    takenInput_.Take(values_.inputName);
    takenInput_.hasAudio = s.inputHasAudio != 0;
    takenInput_.channels = takenInput_.hasAudio ? (s.audioMode == 0 ? 1 : 2) : 0;
    if (values_.outputName.size() < 256) LastOutputFileName = values_.outputName;
    const bool vcdAllowed = s.mpeg1 && s.encodeAudio && takenInput_.hasAudio;
    values_.videoCd = vcdAllowed && s.streamType == kStreamTypeVideoCd;
    videoCdCheck_->setEnabled(vcdAllowed);
    // A profile that comes with the preset on has no earlier values: unticking keeps these.
    vcdSnapshot_ = TakeVcdSnapshot(values_);
    // The profile's names are nobody's typing; its temporary names stay as it
    // holds them until the names they were chosen for change.
    outputChosen_ = false;
    triedInput_.clear();
    HoldTemporaryNames();
    WriteControls();
    ApplyShowRules();
    if (FormReady == 1 && PendingInputFlag == 1) {
        PendingInputFlag = 0;
        SetInputFile(PendingInputFile);
    }
    encodeAudioCheck_->setEnabled(takenInput_.hasAudio);
}

int CMainSettingsForm::SetInputFile(const std::string& path) {
    // A name that is refused leaves no input known: the next name, the same
    // or another, is probed again.
    takenInput_.Forget();
    triedInput_ = path;
    if (path.size() > kFormNameLimit) {
        Message(63323, MbIcon::Warning);
        return 0;
    }
    if (!HasAviExtension(path)) {
        Message(63348, MbIcon::Warning);
        return 0;
    }
    MarkModified();
    ReadIntoValues();
    TakenInput probed;
    // A file that did not open or holds no video is not an input.
    if (!ProbeInputForForm(path, &probed)) return 0;
    if (probed.width % 2) {
        Message(63350, MbIcon::Warning);
        return 0;
    }
    if (probed.height % 2) {
        Message(63351, MbIcon::Warning);
        return 0;
    }
    const int frames = probed.Frames();
    if (frames < 1 &&
        platform::ShowMessageBox(LoadResString(63355), "", MbButtons::YesNo, MbIcon::Question) != MbAnswer::Yes)
        return 0;

    takenInput_ = probed;
    TakeProbedInput(probed, std::max(frames, 1), &values_, &vcdSnapshot_);
    framesSpin_->SetLimits(1, kMaxFrameCount);
    SetJobFileReady(kInputChosen);
    WriteControls();
    ApplyShowRules();
    if (values_.streamKind == kStreamNone) {
        Message(63358, MbIcon::Warning);
        return 0;
    }

    const std::string outputFolder = GetMainMpegOutputDirectory();
    values_.encodeAudio = probed.hasAudio;
    // An output the user typed or browsed since the last input stays.
    if (outputChosen_ && !values_.outputName.empty())
        values_.outputName = NormaliseTypedOutputName(values_.outputName, values_.streamKind, WithAudio());
    else
        values_.outputName = ProposeOutputName(path, FolderExists(outputFolder) ? outputFolder : std::string(),
                                               values_.streamKind, WithAudio());
    outputChosen_ = false;
    AudioModeFromChannels(probed.channels, &values_.coding);
    DeriveTemporaryNamesFromOutput();
    encodeAudioCheck_->setEnabled(probed.hasAudio);
    videoCdCheck_->setEnabled(values_.streamKind == kStreamMpeg1 && WithAudio());
    WriteControls();
    SetJobFileReady(kOutputChosen);
    takenOutputOk_ = CheckOutputFile() != 0;
    ReleasePreviewBuffers();
    SetMainAviInputDirectory(FolderPart(path));
    return 1;
}

void CMainSettingsForm::UpdateOutputFileName() {
    ReadIntoValues();
    if (!DeriveOutputName(&values_.outputName, values_.streamKind, WithAudio())) return;
    DeriveTemporaryNamesFromOutput();
    ShowOutputName();
}

void CMainSettingsForm::OnOutputEditingFinished() {
    ReadIntoValues();
    const std::string normal = NormaliseTypedOutputName(values_.outputName, values_.streamKind, WithAudio());
    if (normal != values_.outputName) {
        values_.outputName = normal;
        ShowOutputName();
    }
    DeriveTemporaryNamesFromOutput();
}

void CMainSettingsForm::OnFirstFrameEdited() {
    ReadIntoValues();
    const int first = std::clamp(values_.firstFrame, 1, kMaxFrameCount);
    const int framesLimit = kMaxFrameCount - first + 1;
    values_.firstFrame = first;
    if (values_.frames > framesLimit) values_.frames = framesLimit;
    framesSpin_->SetLimits(1, framesLimit);
    writing_ = true;
    if (S(firstFrameEdit_->text()) != std::to_string(first) && !firstFrameEdit_->text().trimmed().isEmpty())
        firstFrameEdit_->setText(QString::number(first));
    framesEdit_->setText(QString::number(values_.frames));
    writing_ = false;
    MarkModified();
}

void CMainSettingsForm::OnMpeg1() {
    const int before = values_.streamKind;
    ReadIntoValues();
    if (before != kStreamMpeg1) MarkModified();
    UpdateOutputFileName();
    ChooseMpeg1(&values_);
    videoCdCheck_->setEnabled(WithAudio());
    ApplyShowRules();
}

void CMainSettingsForm::OnMpeg2() {
    const int before = values_.streamKind;
    ReadIntoValues();
    if (before != kStreamMpeg2) MarkModified();
    UpdateOutputFileName();
    if (ChooseMpeg2(&values_, vcdSnapshot_)) WriteControls();
    videoCdCheck_->setChecked(false);
    videoCdCheck_->setEnabled(false);
    ApplyShowRules();
}

void CMainSettingsForm::OnEncodeAudio() {
    ReadIntoValues();
    if (SwitchEncodeAudio(&values_, vcdSnapshot_)) WriteControls();
    if (!values_.encodeAudio) {
        videoCdCheck_->setChecked(false);
        videoCdCheck_->setEnabled(false);
    } else {
        videoCdCheck_->setEnabled(values_.streamKind != kStreamMpeg2);
    }
    UpdateOutputFileName();
    ApplyShowRules();
    MarkModified();
}

void CMainSettingsForm::OnVideoCd() {
    ReadIntoValues();
    if (!SwitchVideoCd(&values_, &vcdSnapshot_, takenInput_.channels)) {
        Message(kVcdSystemUnknownText, MbIcon::Warning);
        videoCdCheck_->setChecked(false);
        return;
    }
    WriteControls();
    ApplyShowRules();
    MarkModified();
}

void CMainSettingsForm::OnDvd() {
    if (dvdCheck_->isChecked()) svcdCheck_->setChecked(false);
    ReadIntoValues();
    MarkModified();
}

void CMainSettingsForm::OnSvcd() {
    if (svcdCheck_->isChecked()) dvdCheck_->setChecked(false);
    ReadIntoValues();
    MarkModified();
}

void CMainSettingsForm::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        // In the input edit itself, its own Enter signal has taken the name.
        if (focusWidget() != inputEdit_) OnEnter();
        return;
    }
    if (event->key() == Qt::Key_Escape) return;
    QWidget::keyPressEvent(event);
}

void CMainSettingsForm::OnEnter() { TakeTypedInput(); }

int CMainSettingsForm::TakeTypedInput() {
    const std::string typed = S(inputEdit_->text());
    return TypedInputNeedsProbe(typed, takenInput_) ? SetInputFile(typed) : 1;
}

bool CMainSettingsForm::eventFilter(QObject* watched, QEvent* event) {
    if (watched == inputEdit_ && event->type() == QEvent::FocusIn) inputFocusLeftWindow_ = false;
    if (watched == inputEdit_ && event->type() == QEvent::FocusOut) {
        const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
        inputFocusLeftWindow_ = reason == Qt::ActiveWindowFocusReason || reason == Qt::PopupFocusReason;
    }
    return QWidget::eventFilter(watched, event);
}

void CMainSettingsForm::OnInputEditingFinished() {
    if (inputFocusLeftWindow_) return;
    // Tab or a click elsewhere takes the name as Enter does, so that the form
    // shows the file's size and length before anything else is edited. A
    // refused name is not asked about again until it changes (Enter and a
    // store still try it).
    if (S(inputEdit_->text()) != triedInput_) TakeTypedInput();
}

void CMainSettingsForm::OnAdvanced() {
    ReadIntoValues();
    AdvancedSheetForm form;
    form.mpeg2 = mpeg2Radio_->isChecked();
    form.audio = values_.encodeAudio != 0;
    form.dvd = values_.dvd != 0;
    form.svcd = values_.svcd != 0;
    form.formReady = FormReady == 1;
    form.interlaceSelection = values_.videoFormatIndex;
    form.keepDuration = values_.keepDuration;
    form.aviChannels = takenInput_.hasAudio ? takenInput_.channels : 0;
    // The sheet edits the coding values the form holds: it gets them first
    // and gives them back, changed or not.
    StoreFormCoding(values_, &EncoderSettings);
    const std::string tempVideo = values_.coding.tempVideoFileName, tempAudio = values_.coding.tempAudioFileName;
    // The sheet shows the sound the form holds, not the choice remembered from
    // the last profile or sheet (a new input may have changed its channels).
    CopySelectedAudio();
    bool modified = false;
    const int accepted = RunAdvancedSettings(this, form, &modified);
    LoadFormCoding(EncoderSettings, &values_);
    values_.keepDuration = form.keepDuration;
    // Names chosen on the Files tab are what the job uses.
    if (values_.coding.tempVideoFileName != tempVideo || values_.coding.tempAudioFileName != tempAudio)
        HoldTemporaryNames();
    if (modified) MarkModified();
    // The form's own values stay as the user left them; what the sheet changed
    // (the rate control above all) decides what the form shows.
    WriteControls();
    ApplyShowRules();
    if (accepted) CheckTemporaryFiles();
}

void CMainSettingsForm::PostInputBrowse() {
    QTimer::singleShot(0, this, &CMainSettingsForm::OnInputBrowse);
}

void CMainSettingsForm::PostOutputBrowse() {
    QTimer::singleShot(0, this, &CMainSettingsForm::OnOutputBrowse);
}

void CMainSettingsForm::OnInputBrowse() {
    ReadIntoValues();
    FormFileDialogRequest r = InputBrowseRequest(values_.inputName, GetMainAviInputDirectory());
    if (!FileDialogHook()(this, &r)) return;
    if (r.name.size() >= 256) {
        Message(63323, MbIcon::Warning);
        return;
    }
    SetInputFile(r.name);
}

void CMainSettingsForm::OnOutputBrowse() {
    ReadIntoValues();
    FormFileDialogRequest r =
        OutputBrowseRequest(values_.streamKind, WithAudio(), values_.outputName, GetMainMpegOutputDirectory());
    if (!FileDialogHook()(this, &r)) return;
    if (r.name.size() > kFormNameLimit) {
        Message(63329, MbIcon::Warning);
        return;
    }
    SetMainMpegOutputDirectory(FolderPart(r.name));
    values_.outputName = r.name;
    outputChosen_ = true;
    DeriveTemporaryNamesFromOutput();
    ShowOutputName();
    MarkModified();
    CheckOutputFile();
    SetJobFileReady(kOutputChosen);
}

int CMainSettingsForm::ValidateSettings() {
    ReadIntoValues();
    return ValidateFormValues(values_, controlsOk_, SavingDefaults != 0, &EncoderSettings,
                              [this] { PostInputBrowse(); });
}

int CMainSettingsForm::ApplyToParameters() {
    // A typed name still in its edit (the store came before the edit was
    // left) is taken as leaving the edit takes it: the job must not run with
    // another file's size, length and sound.
    const bool taking = TypedInputNeedsProbe(S(inputEdit_->text()), takenInput_);
    if (taking && !TakeTypedInput()) return 0;
    if (!ValidateSettings()) return 0;
    OnOutputEditingFinished();
    // A job stops at an output folder that is not there: the check said so
    // when the input was taken just now, else it says so here.
    const std::string outputFolder = FolderPart(values_.outputName);
    if (!SavingDefaults && BatchMode == 0 && !outputFolder.empty() && !FolderExists(outputFolder)) {
        if (!taking || takenOutputOk_) CheckOutputFile();
        return 0;
    }
    StoreFormValues(&values_, takenInput_, &EncoderSettings);
    // The job compares the input's channels against the sound chosen here.
    CopySelectedAudio();
    return 1;
}

void CMainSettingsForm::TakeJobSound() {
    const EncoderSettingsRecord& s = EncoderSettings;
    FormCoding& c = values_.coding;
    if (!s.encodeAudio || !s.inputHasAudio || s.inputFileName != values_.inputName || s.audioMode == c.audioMode)
        return;
    c.audioMode = s.audioMode;
    c.audioBitRate = s.audioBitRate;
    takenInput_.channels = s.audioMode == 0 ? 1 : 2;
}

// ---- location checks ----

int CMainSettingsForm::CheckOutputFile() {
    if (!CheckOutputLocation(S(outputEdit_->text()), [this] { PostOutputBrowse(); })) return 0;
    return CheckTemporaryFiles();
}

int CMainSettingsForm::CheckTemporaryFiles() {
    return CheckTemporaryLocations(values_.coding, takenInput_.hasAudio, false,
                                   [](const std::string& text) { Message(text, MbIcon::Stop); });
}

int CMainSettingsForm::CheckBatchTemporaryFiles() {
    return CheckTemporaryLocations(values_.coding, takenInput_.hasAudio, true,
                                   [](const std::string& text) { AppendBatchLog(text); });
}

int CMainSettingsForm::CheckBatchOutputFile() {
    bool renamed = false;
    const int result = CheckBatchOutputLocation(&values_, takenInput_.hasAudio, &renamed);
    if (renamed) WriteControls();
    return result;
}

int CMainSettingsForm::LoadInputFileForBatch(const std::string& path, const std::string& outputFolder) {
    ReadIntoValues();
    TakenInput probed;
    if (!ProbeBatchInput(path, &probed)) return 0;
    if (values_.streamKind == kStreamNone) {
        AppendBatchLog(LoadResString(63417));
        return 0;
    }
    takenInput_ = probed;
    TakeProbedInput(probed, probed.Frames(), &values_, &vcdSnapshot_);
    values_.encodeAudio = probed.hasAudio;
    std::string folder = outputFolder;
    if (!folder.empty() && folder.back() != '/') folder += '/';
    values_.outputName = ProposeOutputName(path, folder, values_.streamKind, WithAudio());
    if (AviAudioRefusal) {
        // The entry becomes its video alone: the log says why and what is written.
        AppendBatchLog(DroppedSoundLogText(AviAudioRefusal, AviAudioFormatText(), values_.outputName));
        BatchEntrySoundDropped = 1;
    }
    AudioModeFromChannels(probed.channels, &values_.coding);
    DeriveTemporaryNamesFromOutput();
    SetJobFileReady(kInputChosen);
    SetJobFileReady(kOutputChosen);
    WriteControls();
    ApplyShowRules();
    return CheckBatchOutputFile();
}
