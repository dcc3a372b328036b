// The result and AVI information dialogs, and the job's result functions.
#include "app/CompletionDialogs.h"

#include <QDialogButtonBox>
#include <QFont>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>
#include <cstdio>
#include <filesystem>

#include "app/ProgressLogic.h"
#include "engine/EngineState.h"
#include "engine/Input.h"
#include "engine/PictureDriver.h"
#include "job/AviSource.h"
#include "job/Finalise.h"
#include "job/JobDriver.h"
#include "platform/Format.h"
#include "platform/ResStrings.h"
#include "settings/EncoderSettings.h"
#include "settings/JobState.h"
#include "settings/JobUtil.h"
#include "settings/Report.h"

namespace {

QString Text(const std::string& s) { return QString::fromStdString(s); }
QString Text(const char* s) { return QString::fromUtf8(s); }

const char kQualityNote[] =
    "Maximum possible value of quality is 100; quality value of 25 or larger is considered to be "
    "\"satisfactory\"; quality value  of 50 or larger is considered to be \"good\" .";

ResultDialogRunner& Runner() {
    static ResultDialogRunner runner;
    return runner;
}

// Without a runner nobody is asked: the texts are written out and OK is taken.
int ReportResultDialog(CResultDialog& dialog) {
    std::string text = dialog.windowTitle().toStdString();
    for (const auto& [id, value] : dialog.ControlTexts())
        if (!value.isEmpty()) text += platform::Format("\n  %d: %s", id, value.toStdString().c_str());
    std::fprintf(stderr, "%s\n", text.c_str());
    return QDialog::Accepted;
}

QPointer<QWidget>& ResultOwner() {
    static QPointer<QWidget> owner;
    return owner;
}

// The job's raw hooks reach the installed owner through these.
void VideoCompletedHook() { ShowVideoCompletedDialog(ResultOwner()); }
void AudioCompletedHook(int64_t kbytes) { ShowAudioCompletedDialog(ResultOwner(), kbytes); }
void MultiplexCompletedHook(int64_t outputKbytes, int64_t videoKbytes, int64_t audioKbytes, int kind) {
    ShowMultiplexCompletedDialog(ResultOwner(), outputKbytes, videoKbytes, audioKbytes, kind);
}
void AviInfoHook(const AviInfoTexts& texts) {
    if (BatchMode == 0) ShowAviInfoDialog(ResultOwner(), texts);
}

std::string VideoRatioText() {
    const int frames = Sequence.EncodedFrameCount;
    const bool converted = FrameRateConversion.enabled != 0;
    return CompressionRatioText(EncoderSettings.horizontalSize, EncoderSettings.verticalSize, frames,
                                VideoOutputSize, converted, converted && frames > 1 ? MapOutputToInputFrame(frames) : 0);
}

}  // namespace

// ---------------------------------------------------------------------------

CResultDialog::CResultDialog(QWidget* parent, int templateId, const char* caption) : QDialog(parent) {
    setObjectName(QString::number(templateId));
    setWindowTitle(Text(caption));
    auto* outer = new QVBoxLayout(this);
    grid_ = new QGridLayout();
    grid_->setHorizontalSpacing(10);
    outer->addLayout(grid_);
}

CResultDialog::~CResultDialog() = default;

void CResultDialog::FinishLayout() {
    auto* buttons = new QDialogButtonBox(this);
    QPushButton* ok = buttons->addButton(QDialogButtonBox::Ok);
    ok->setObjectName("1");
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    static_cast<QVBoxLayout*>(layout())->addWidget(buttons);
}

void CResultDialog::AddRow(const char* label, int id, QString* member, const char* unit, bool edit) {
    if (label) grid_->addWidget(new QLabel(Text(label), this), row_, 0);
    QWidget* control;
    if (edit) {
        auto* line = new QLineEdit(this);
        line->setReadOnly(true);
        line->setMinimumWidth(260);
        control = line;
    } else {
        control = new QLabel(this);
    }
    control->setObjectName(QString::number(id));
    grid_->addWidget(control, row_, 1);
    if (unit) grid_->addWidget(new QLabel(Text(unit), this), row_, 2);
    if (member) members_[id] = member;
    ++row_;
}

void CResultDialog::AddText(const char* text, int id, bool heading) {
    auto* label = new QLabel(Text(text), this);
    label->setWordWrap(true);
    if (id) label->setObjectName(QString::number(id));
    if (heading) {
        QFont bold = label->font();
        bold.setBold(true);
        label->setFont(bold);
    }
    grid_->addWidget(label, row_++, 0, 1, 3);
}

void CResultDialog::Bind(int id, QString* member) { members_[id] = member; }

void CResultDialog::SetControlText(int id, const QString& text) {
    const QString name = QString::number(id);
    if (auto* line = findChild<QLineEdit*>(name))
        line->setText(text);
    else if (auto* label = findChild<QLabel*>(name))
        label->setText(text);
}

QString CResultDialog::ControlText(int id) const {
    const QString name = QString::number(id);
    if (auto* line = findChild<QLineEdit*>(name)) return line->text();
    if (auto* label = findChild<QLabel*>(name)) return label->text();
    return QString();
}

std::map<int, QString> CResultDialog::ControlTexts() const {
    std::map<int, QString> texts;
    auto take = [&texts](const QWidget* control, const QString& text) {
        bool numeric = false;
        const int id = control->objectName().toInt(&numeric);
        if (numeric) texts[id] = text;
    };
    for (const QLabel* label : findChildren<QLabel*>()) take(label, label->text());
    for (const QLineEdit* line : findChildren<QLineEdit*>()) take(line, line->text());
    return texts;
}

void CResultDialog::DoDataExchange() {
    for (const auto& [id, member] : members_) SetControlText(id, *member);
}

void CResultDialog::OnInitDialog() { DoDataExchange(); }

int CResultDialog::DoModal() {
    OnInitDialog();
    return Runner() ? Runner()(*this) : ReportResultDialog(*this);
}

ResultDialogRunner SetResultDialogRunner(ResultDialogRunner runner) {
    ResultDialogRunner previous = std::move(Runner());
    Runner() = std::move(runner);
    return previous;
}

int RunResultDialogWindow(CResultDialog& dialog) { return dialog.exec(); }

std::string ScriptedResultDialogs::Shown::Text(int control) const {
    const auto found = texts.find(control);
    return found == texts.end() ? std::string() : found->second;
}

ScriptedResultDialogs::ScriptedResultDialogs() {
    previous_ = SetResultDialogRunner([this](CResultDialog& dialog) {
        Shown shown{dialog.objectName().toStdString(), {}};
        for (const auto& [id, text] : dialog.ControlTexts()) shown.texts[id] = text.toStdString();
        shown_.push_back(std::move(shown));
        return int(QDialog::Accepted);
    });
}

ScriptedResultDialogs::~ScriptedResultDialogs() { SetResultDialogRunner(std::move(previous_)); }

std::vector<std::string> ScriptedResultDialogs::Ids() const {
    std::vector<std::string> ids;
    for (const Shown& shown : shown_) ids.push_back(shown.id);
    return ids;
}

// ---------------------------------------------------------------------------

CAudioCompleted::CAudioCompleted(QWidget* parent) : CResultDialog(parent, 144, "Encoded Stream Complete") {
    AddText("AUDIO  ENCODING  COMPLETED", 0, true);
    AddRow("Output file size ", 1073, &m_size, "Kbytes");
    FinishLayout();
}

CAudioCompleted2::CAudioCompleted2(QWidget* parent) : CResultDialog(parent, 157, "Encoded Stream Complete") {
    AddText("AUDIO  ENCODING  COMPLETED", 0, true);
    AddText("This application can not create multiplexed MPEG-2 audio/video files (transport stream). Separate "
            "files for MPEG-2 video stream and MPEG-1 Layer II audio stream have been created. ");
    AddText(" MPEG-2 video stream file: ", 0, true);
    AddRow(nullptr, 1095, &m_videoName, nullptr, true);
    AddRow("File size", 1074, &m_videoSize, "Kbytes");
    AddText(" MPEG-1 Layer II audio stream file: ", 0, true);
    AddRow(nullptr, 1096, &m_audioName, nullptr, true);
    AddRow("File size", 1075, &m_audioSize, "Kbytes");
    FinishLayout();
}

CCompletedDlg::CCompletedDlg(QWidget* parent) : CCompletedDlg(parent, 133) {}

CCompletedDlg::CCompletedDlg(QWidget* parent, int templateId)
    : CResultDialog(parent, templateId, "Encoded Stream Complete") {
    const bool quality = templateId == 134;
    AddText(quality ? "MPEG VIDEO ENCODING COMPLETED" : "MPEG VIDEO STREAM ENCODING COMPLETED", 1030, true);
    AddRow("Frames Encoded", 1031, nullptr);
    AddRow("Output file size:", 1032, nullptr, "Kbytes");
    AddRow("Encoding time:", quality ? 1036 : 1035, nullptr);
    AddRow("Compression ratio:", 1037, nullptr);
    if (quality) {
        AddRow("Average image quality:", 1034, nullptr);
        AddRow("Minimum image quality:", 1035, nullptr);
        AddText(kQualityNote);
    }
    FinishLayout();
}

void CCompletedDlg::OnInitDialog() {
    CResultDialog::OnInitDialog();
    SetControlText(1031, Text(platform::Format("%ld", static_cast<long>(Sequence.EncodedFrameCount))));
    SetControlText(1030, Text(VideoCompletionText(VideoSequenceState)));
    SetControlText(1035, Text(DurationText(VideoSecondsWithoutPause())));
    SetControlText(1032, Text(platform::Format("%ld", static_cast<long>(VideoOutputSize / 1024))));
    const std::string ratio = VideoRatioText();
    SetControlText(1037, Text(ratio.empty() ? std::string(" ") : ratio));
}

CCompletedDlgQ::CCompletedDlgQ(QWidget* parent) : CCompletedDlg(parent, 134) {}

void CCompletedDlgQ::OnInitDialog() {
    CCompletedDlg::OnInitDialog();
    SetControlText(1034, Text(platform::Format("%.2f", static_cast<double>(EngineReport.AverageQuality))));
    SetControlText(1035, Text(platform::Format("%.2f", static_cast<double>(EngineReport.MinimumQuality))));
    SetControlText(1036, Text(DurationText(VideoSecondsWithoutPause())));
}

CConstrainedDialog::CConstrainedDialog(QWidget* parent)
    : CResultDialog(parent, 148, "MPEG-1 Constrained Parameters Error") {
    // The dialog's texts are the string table's 64495-64497.
    AddText(LoadResString(64495));
    AddRow(nullptr, 1076, &m_message);
    AddText(LoadResString(64496));
    AddText(LoadResString(64497));
    FinishLayout();
}

CMultiplexCompleted::CMultiplexCompleted(QWidget* parent) : CMultiplexCompleted(parent, 145) {}

CMultiplexCompleted::CMultiplexCompleted(QWidget* parent, int templateId)
    : CResultDialog(parent, templateId, "Encoded Stream Complete") {
    AddText("MULTIPLEXING COMPLETED", 0, true);
    // The sizes are in kilobytes, as the other result dialogs say beside theirs.
    AddRow("Output file size:", 1073, &m_outputSize, "Kbytes");
    AddText("MPEG-1 System Stream is ready", 1123);
    Bind(1123, &m_kind);
    AddRow("Video stream size:", 1074, &m_videoSize, "Kbytes");
    AddRow("Audio stream size:", 1075, &m_audioSize, "Kbytes");
    AddRow("Frames Encoded", 1031, &m_frames);
    AddRow("Encoding time:", 1036, &m_time);
    AddRow("Average image quality:", 1034, &m_averageQuality);
    AddRow("Minimum image quality:", 1035, &m_minimumQuality);
    AddRow("Compression ratio:", 1037, &m_ratio);
    AddText(kQualityNote);
    if (templateId == 147) {
        AddText("WARNING:", 0, true);
        AddText("Size of multiplexed system stream is greater than total sizes of video and audio streams by more "
                "then 15%. Possible reason: bitrate of video stream is unreasonably large. If size of output file "
                "is critical, reduce video stream data rate and try again.  ");
    }
    FinishLayout();
}

CMultiplexCompleted1::CMultiplexCompleted1(QWidget* parent) : CMultiplexCompleted(parent, 147) {}

// ---------------------------------------------------------------------------

CAVIInfo::CAVIInfo(const AviInfoTexts& texts, QWidget* parent, int templateId)
    : CResultDialog(parent, templateId, "AVI File Information"), texts_(texts) {
    AddText("Video Stream Information:", 0, true);
    AddRow("Frame Format:", 1079, &m_format);
    AddRow("Number of Frames:", 1081, &m_frames);
    AddRow("Compression Type:", 1083, &m_type);
    AddRow("Compression Ratio:", 1084, &m_ratio);
    AddRow("Playback Duration:", 1082, &m_duration);
    AddRow("Frame Rate:", 1080, &m_rate);
    if (templateId == 153 || templateId == 154) {
        AddText("Audio stream information:", 0, true);
        AddRow("Format:", 1088, nullptr);
        AddRow(nullptr, 1089, nullptr);
        AddRow("Frequency:", 1091, nullptr);
        AddRow(nullptr, 1090, nullptr);
    } else {
        AddText("Audio stream is not available.");
    }
    if (templateId == 152)
        AddText("Warning:  Input video stream has a high level of compression. For best results, use uncompressed "
                "files or files with a low level of video compression.");
    if (templateId == 153)
        AddText("Warning:  Input video stream has a high level of compression. For best results use uncompressed "
                "files or files with a low level of video compression.");
    FinishLayout();
}

void CAVIInfo::OnInitDialog() {
    m_ratio = Text(texts_.compressionRatio);
    m_type = Text(texts_.compression);
    m_duration = Text(texts_.duration);
    m_format = Text(texts_.frameSize);
    m_rate = Text(texts_.frameRate);
    m_frames = Text(texts_.frameCount);
    CResultDialog::OnInitDialog();
}

CAVIInfo1::CAVIInfo1(const AviInfoTexts& texts, QWidget* parent) : CAVIInfo(texts, parent, 152) {}

CAVIInfo2::CAVIInfo2(const AviInfoTexts& texts, QWidget* parent) : CAVIInfo2(texts, parent, 153) {}

CAVIInfo2::CAVIInfo2(const AviInfoTexts& texts, QWidget* parent, int templateId)
    : CAVIInfo(texts, parent, templateId) {}

void CAVIInfo2::OnInitDialog() {
    CAVIInfo::OnInitDialog();
    if (!texts_.hasAudio) return;
    m_bits = Text(texts_.audioBits);
    m_audioFormat = Text(texts_.audioFormat);
    m_frequency = Text(texts_.audioRate);
    m_channels = Text(texts_.audioChannels);
    SetControlText(1089, m_bits);
    SetControlText(1088, m_audioFormat);
    SetControlText(1091, m_frequency);
    SetControlText(1090, m_channels);
}

CAVIInfo3::CAVIInfo3(const AviInfoTexts& texts, QWidget* parent) : CAVIInfo2(texts, parent, 154) {}

// ---------------------------------------------------------------------------

void ShowVideoCompletedDialog(QWidget* parent) {
    if (BatchMode != 0) return;
    if (EncoderSettings.qualityStatisticsMode) {
        CCompletedDlgQ dialog(parent);
        dialog.DoModal();
    } else {
        CCompletedDlg dialog(parent);
        dialog.DoModal();
    }
}

void ShowAudioCompletedDialog(QWidget* parent, int64_t kbytes) {
    if (BatchMode >= 2) return;
    const QString size = Text(platform::Format("%ld", static_cast<long>(kbytes)));
    if (EncoderSettings.mpeg1 == 1) {
        CAudioCompleted dialog(parent);
        dialog.m_size = size;
        dialog.DoModal();
        return;
    }
    CAudioCompleted2 dialog(parent);
    dialog.m_audioSize = size;
    const int64_t videoBytes = GetFileSizeByName(VideoOutputPath);
    dialog.m_videoSize = Text(platform::Format("%ld", static_cast<long>(videoBytes < 0 ? 0 : videoBytes / 1024)));
    dialog.m_videoName = Text(VideoOutputPath);
    dialog.m_audioName = Text(AudioOutputPath);
    dialog.DoModal();
}

std::string MultiplexKindText(int kind) {
    const EncoderSettingsRecord& e = EncoderSettings;
    if (e.applicationType == kApplicationDvd && e.createVob == 1) {
        // The job names the volume's first video file: the folder is what was written.
        const std::filesystem::path folder = std::filesystem::path(e.outputFileName).parent_path();
        return "DVD-Video Folder Complete\n" + folder.string();
    }
    if (e.applicationType == kApplicationSvcd) return "Super Video-CD Stream Complete";
    return LoadResString(kind == 1 ? 64120 : 64121);
}

void ShowMultiplexCompletedDialog(QWidget* parent, int64_t outputKbytes, int64_t videoKbytes, int64_t audioKbytes,
                                  int kind) {
    if (BatchMode != 0) return;
    CMultiplexCompleted dialog(parent);
    auto number = [](int64_t n) { return Text(platform::Format("%ld", static_cast<long>(n))); };
    dialog.m_outputSize = number(outputKbytes);
    dialog.m_videoSize = number(videoKbytes);
    dialog.m_audioSize = number(audioKbytes);
    dialog.m_frames = number(Sequence.EncodedFrameCount);
    if (EncoderSettings.qualityStatisticsMode == 0 || Sequence.EncodedFrameCount == 0) {
        dialog.m_averageQuality = dialog.m_minimumQuality = QStringLiteral("N/A");
    } else {
        dialog.m_averageQuality = Text(platform::Format("%.2f", static_cast<double>(EngineReport.AverageQuality)));
        dialog.m_minimumQuality = Text(platform::Format("%.2f", static_cast<double>(EngineReport.MinimumQuality)));
    }
    dialog.m_time = Text(DurationText(JobTotalSeconds(VideoSecondsWithoutPause())));
    dialog.m_ratio = Text(VideoRatioText());
    dialog.m_kind = Text(MultiplexKindText(kind));
    dialog.DoModal();
}

void ShowConstrainedDialog(QWidget* parent, const std::string& text) {
    CConstrainedDialog dialog(parent);
    dialog.m_message = Text(text);
    dialog.DoModal();
}

void ShowAviInfoDialog(QWidget* parent, const AviInfoTexts& texts) {
    if (!texts.hasAudio) {
        if (texts.highCompression) {
            CAVIInfo1 dialog(texts, parent);
            dialog.DoModal();
        } else {
            CAVIInfo dialog(texts, parent);
            dialog.DoModal();
        }
    } else if (texts.highCompression) {
        CAVIInfo2 dialog(texts, parent);
        dialog.DoModal();
    } else {
        CAVIInfo3 dialog(texts, parent);
        dialog.DoModal();
    }
}

void InstallCompletionDialogs(QWidget* owner) {
    ResultOwner() = owner;
    if (!owner) {
        JobWindows.showVideoCompleted = nullptr;
        JobWindows.showAudioCompleted = nullptr;
        JobWindows.showMultiplexCompleted = nullptr;
        ShowAviInfoUnlessBatch = nullptr;
        SetConstrainedParametersDialog({});
        return;
    }
    JobWindows.showVideoCompleted = VideoCompletedHook;
    JobWindows.showAudioCompleted = AudioCompletedHook;
    JobWindows.showMultiplexCompleted = MultiplexCompletedHook;
    ShowAviInfoUnlessBatch = AviInfoHook;
    SetConstrainedParametersDialog([](const std::string& text) { ShowConstrainedDialog(ResultOwner(), text); });
}
