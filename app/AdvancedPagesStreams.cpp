// Pages of the streams and files: Audio, Files, System, Special, MPEG-1 and
// MPEG-2.
#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStringList>
#include <filesystem>

#include "app/AdvancedPage.h"
#include "app/CSpinCtrl8.h"
#include "platform/MessageBox.h"
#include "settings/AudioRates.h"

namespace {

// The "text|pattern|text|pattern||" filter as Qt's "text;;text" list.
QString QtFilter(const std::string& filter) {
    const QStringList parts = QString::fromStdString(filter).split('|');
    QStringList names;
    for (int i = 0; i + 1 < parts.size(); i += 2)
        if (!parts[i].isEmpty()) names << parts[i];
    return names.join(";;");
}

std::string ChooseWithDialog(const std::string& title, const std::string& filter, const std::string& extension,
                             const std::string& fileName, const std::string& folder) {
    QFileDialog dialog(nullptr, QString::fromStdString(title), QString::fromStdString(folder), QtFilter(filter));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setDefaultSuffix(QString::fromStdString(extension));
    dialog.setOption(QFileDialog::ReadOnly, false);
    dialog.setSizeGripEnabled(true);
    if (!fileName.empty()) dialog.selectFile(QString::fromStdString(fileName));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
    return dialog.selectedFiles().first().toStdString();
}

TempFileChooser& Chooser() {
    static TempFileChooser chooser = ChooseWithDialog;
    return chooser;
}

class CAudioProperty : public CAdvancedPage {
public:
    CAudioProperty(AdvancedPageValues& v, const AdvancedSheetContext& c)
        : CAdvancedPage(AdvancedPage::Audio, 140, "Audio ", v, c) {
        PageLayout()->addWidget(MakeText(1060, "Please specify data rate and mode of audio stream:"));
        QGroupBox* group = MakeGroup("Mode");
        static const char* const kModes[4] = {"Mono", "Stereo", "Dual channel", "Joint stereo"};
        for (int i = 0; i < 4; ++i) {
            modes_.push_back(MakeRadio(1050 + i, kModes[i]));
            GroupLayout(group)->addWidget(modes_.back());
            connect(modes_.back(), &QRadioButton::clicked, this, [this, i] { FillRates(i); });
        }
        rates_ = MakeList(1059, {});
        AddRow(PageLayout(), {MakeText(0, "Bit rate (kbits/sec.):"), rates_});
        PageLayout()->addStretch(1);
    }

protected:
    bool DoDataExchange(bool save) override {
        if (!save) {
            FillRates(v_.audioMode);
            ExchangeRadio(false, modes_, v_.audioMode);
            ExchangeList(false, rates_, v_.audioBitRateIndex);
            return true;
        }
        ExchangeRadio(true, modes_, v_.audioMode);
        ExchangeList(true, rates_, v_.audioBitRateIndex, 0, 9);
        const int rate = AudioBitrateFromIndex(v_.audioMode, v_.audioBitRateIndex);
        if (rate > 0 && rate % 8 == 0) v_.audioBitRate = rate;
        return true;
    }
    void OnInitDialog() override {
        if (ctx_.form.aviChannels == 1 && v_.audioMode == 0)
            for (int i = 1; i < 4; ++i) modes_[i]->setEnabled(false);
        if (ctx_.form.aviChannels == 2 && v_.audioMode != 0) modes_[0]->setEnabled(false);
    }

private:
    // The list offers the bit-rate row of the mode; the index stays selected.
    void FillRates(int mode) {
        const int index = rates_->currentIndex() >= 0 ? rates_->currentIndex() : v_.audioBitRateIndex;
        rates_->clear();
        for (int i = 0; i < 10; ++i) rates_->addItem(QString::number(AudioBitrateFromIndex(mode == 0 ? 0 : 1, i)));
        rates_->setCurrentIndex(index >= 0 && index < 10 ? index : -1);
    }

    std::vector<QRadioButton*> modes_;
    QComboBox* rates_;
};

class CTempFileProperty : public CAdvancedPage {
public:
    CTempFileProperty(AdvancedPageValues& v, const AdvancedSheetContext& c)
        : CAdvancedPage(AdvancedPage::Files, 142, "Files", v, c) {
        QGroupBox* video = MakeGroup(" Temporary video stream file name ");
        videoName_ = MakeEdit(1064);
        videoName_->setMaximumWidth(QWIDGETSIZE_MAX);
        videoBrowse_ = MakeButton(1066, "Browse ");
        deleteVideo_ = MakeCheck(1068, "Delete temporary video file after encoding");
        AddRow(GroupLayout(video), {videoName_, videoBrowse_});
        GroupLayout(video)->addWidget(deleteVideo_);
        QGroupBox* audio = MakeGroup("Temporary audio stream file name");
        audioName_ = MakeEdit(1065);
        audioName_->setMaximumWidth(QWIDGETSIZE_MAX);
        audioBrowse_ = MakeButton(1067, "Browse ");
        deleteAudio_ = MakeCheck(1069, "Delete temporary audio file after encoding");
        AddRow(GroupLayout(audio), {audioName_, audioBrowse_});
        GroupLayout(audio)->addWidget(deleteAudio_);
        PageLayout()->addStretch(1);
        for (QLineEdit* e : {videoName_, audioName_}) e->setMinimumWidth(300);
        connect(videoBrowse_, &QPushButton::clicked, this, [this] {
            const bool mpeg2 = ctx_.form.mpeg2;
            Browse(videoName_, "Temporary Video File",
                   mpeg2 ? "MPEG-2 Video Files (*.m2v)|*.m2v||" : "MPEG-1 Video Files (*.m1v)|*.m1v||",
                   mpeg2 ? "m2v" : "m1v");
        });
        connect(audioBrowse_, &QPushButton::clicked, this,
                [this] { Browse(audioName_, "Temporary Audio File", "MPEG Audio Files (*.mp2)|*.mp2||", "mp2"); });
    }

protected:
    bool DoDataExchange(bool save) override {
        ExchangeText(save, videoName_, v_.tempVideoName);
        ExchangeCheck(save, deleteVideo_, v_.deleteTempVideo);
        ExchangeText(save, audioName_, v_.tempAudioName);
        ExchangeCheck(save, deleteAudio_, v_.deleteTempAudio);
        return true;
    }
    void OnInitDialog() override {
        if (ctx_.form.audio) return;
        for (QWidget* w : std::initializer_list<QWidget*>{videoName_, videoBrowse_, deleteVideo_, audioName_,
                                                          audioBrowse_, deleteAudio_})
            w->setEnabled(false);
    }

private:
    void Browse(QLineEdit* edit, const char* title, const char* filter, const char* extension) {
        const std::string current = edit->text().toStdString();
        std::string fileName, folder;
        if (current.size() >= 2 && current.size() <= 255) fileName = current;
        const std::string parent = std::filesystem::path(current).parent_path().string();
        if (parent.size() >= 2 && parent.size() <= 249) folder = parent;
        const std::string chosen = Chooser()(title, filter, extension, fileName, folder);
        if (chosen.empty()) return;
        if (chosen.size() > 255) {
            platform::ShowMessageBox(
                "Input file name too long (more than 255 characters).\nPlease specify valid input file name.", "",
                platform::MbButtons::Ok, platform::MbIcon::Warning, this);
            return;
        }
        edit->setText(QString::fromStdString(chosen));
    }

    QLineEdit* videoName_;
    QLineEdit* audioName_;
    QPushButton* videoBrowse_;
    QPushButton* audioBrowse_;
    QCheckBox* deleteVideo_;
    QCheckBox* deleteAudio_;
};

class CSystemProperty : public CAdvancedPage {
public:
    CSystemProperty(AdvancedPageValues& v, const AdvancedSheetContext& c)
        : CAdvancedPage(AdvancedPage::System, 143, "System", v, c) {
        QGroupBox* group = MakeGroup("MPEG-1 Multiplex Parameters");
        static const char* const kLabels[4] = {"Pack size (bytes):", "Packets per pack:",
                                               "Video buffer size (kbytes):", "Audio buffer size (kbytes):"};
        for (int i = 0; i < 4; ++i) {
            edits_[i] = MakeEdit(1070 + i);
            spins_[i] = MakeSpin(1010 + i, edits_[i], kLimits[i][0], kLimits[i][1]);
            AddRow(GroupLayout(group), {MakeText(0, kLabels[i]), edits_[i], spins_[i]});
        }
        constantRate_ = MakeCheck(1075, "Constant bitrate in multiplexed stream\n(Add Padding Packets)");
        GroupLayout(group)->addWidget(constantRate_);
        PageLayout()->addStretch(1);
    }

protected:
    bool DoDataExchange(bool save) override {
        int* fields[4] = {&v_.packSize, &v_.packetsPerPack, &v_.videoBufferKb, &v_.audioBufferKb};
        for (int i = 0; i < 4; ++i)
            if (!ExchangeInt(save, edits_[i], *fields[i], kLimits[i][0], kLimits[i][1])) return false;
        ExchangeCheck(save, constantRate_, v_.muxConstantRate);
        return true;
    }
    void OnInitDialog() override {
        if (ctx_.streamType != kStreamTypeVideoCd) return;  // Video-CD fixes the multiplex
        for (int i = 0; i < 4; ++i) {
            edits_[i]->setEnabled(false);
            spins_[i]->setEnabled(false);
        }
        constantRate_->setEnabled(false);
    }

private:
    static constexpr int kLimits[4][2] = {{1024, 4096}, {1, 4}, {16, 46}, {1, 4}};
    QLineEdit* edits_[4];
    CSpinCtrl8* spins_[4];
    QCheckBox* constantRate_;
};

class CSpecialProp : public CAdvancedPage {
public:
    CSpecialProp(AdvancedPageValues& v, const AdvancedSheetContext& c)
        : CAdvancedPage(AdvancedPage::Special, 150, "Special ", v, c) {
        QGroupBox* group = MakeGroup("Skipping B frames");
        static const char* const kTexts[4] = {
            "Normal mode, no skipping frames (default)", "Skip 1 B frame after I or P frame",
            "Skip 2 B frames: 1 after and 1 before I or P frame", "Skip all B frames   ( for very low bitrate only )"};
        for (int i = 0; i < 4; ++i) {
            modes_.push_back(MakeRadio(1003 + i, kTexts[i]));
            GroupLayout(group)->addWidget(modes_.back());
        }
        note_ = MakeText(1143,
                         "Skipping B frames leaves out B pictures of the input to lower the bit rate; the "
                         "remaining pictures are shown longer.");
        PageLayout()->addWidget(note_);
        PageLayout()->addStretch(1);
    }

protected:
    bool DoDataExchange(bool save) override {
        ExchangeRadio(save, modes_, v_.skipBFrames);
        return true;
    }
    void OnInitDialog() override {
        if (ctx_.form.interlaceSelection == 0) return;
        for (QRadioButton* b : modes_) b->setEnabled(false);
        note_->setText(
            "Skip B frames parameters are not permitted and has no effect when interlaced format selected.");
    }

private:
    std::vector<QRadioButton*> modes_;
    QLabel* note_;
};

class CMPEG1Property : public CAdvancedPage {
public:
    CMPEG1Property(AdvancedPageValues& v, const AdvancedSheetContext& c)
        : CAdvancedPage(AdvancedPage::Mpeg1, 149, "MPEG-1", v, c) {
        constrained_ = MakeCheck(1077, "Constrained parameters MPEG-1 video stream");
        PageLayout()->addWidget(constrained_);
        aspect_ = MakeEdit(1138);
        AddRow(PageLayout(), {MakeText(0, "Pixel aspect ratio code (1..14):"), aspect_});
        PageLayout()->addStretch(1);
    }

protected:
    bool DoDataExchange(bool save) override {
        ExchangeCheck(save, constrained_, v_.constrainedParameters);
        return ExchangeInt(save, aspect_, v_.mpeg1Aspect, 1, 14);
    }

private:
    QCheckBox* constrained_;
    QLineEdit* aspect_;
};

class CMPEG2Dialog : public CAdvancedPage {
public:
    CMPEG2Dialog(AdvancedPageValues& v, const AdvancedSheetContext& c)
        : CAdvancedPage(AdvancedPage::Mpeg2, 162, "MPEG-2", v, c) {
        QGroupBox* levels = MakeGroup("MPEG-2 Profiles and Levels");
        profileLevel_ = MakeList(1012, {"Main Profile & Low Level", "Main Profile & Main Level   (default)",
                                        "High Profile & High-1440 Level", "High Profile & High Level  "});
        GroupLayout(levels)->addWidget(profileLevel_);
        videoFormat_ = MakeList(1024, {"Component", "PAL", "NTSC", "SECAM", "MAC", "Unspecified"});
        AddRow(PageLayout(), {MakeText(0, "Video format:"), videoFormat_});
        aspect_ = MakeEdit(1103);
        AddRow(PageLayout(), {MakeText(0, "Aspect ratio code (1..4):"), aspect_});
        QGroupBox* mux = MakeGroup("MPEG-2 Multiplex Parameters");
        fixedRate_ = MakeCheck(1149, "Fixed bitrate in mutliplexed stream  (Add Padding Packets)");
        GroupLayout(mux)->addWidget(fixedRate_);
        displayExtension_ = MakeCheck(1165, "Add sequence display extension");
        PageLayout()->addWidget(displayExtension_);
        PageLayout()->addStretch(1);
    }

protected:
    bool DoDataExchange(bool save) override {
        ExchangeList(save, profileLevel_, v_.profileLevel, 0, 3);
        ExchangeList(save, videoFormat_, v_.videoFormat, 0, 5);
        if (!ExchangeInt(save, aspect_, v_.mpeg2Aspect, 1, 4)) return false;
        ExchangeCheck(save, fixedRate_, v_.mpeg2MuxConstantRate);
        if (ctx_.applicationType != kApplicationSvcd)
            ExchangeCheck(save, displayExtension_, v_.sequenceDisplayExtension);
        return true;
    }
    void OnInitDialog() override {
        if (ctx_.applicationType == kApplicationSvcd) displayExtension_->setEnabled(false);
    }

private:
    QComboBox* profileLevel_;
    QComboBox* videoFormat_;
    QLineEdit* aspect_;
    QCheckBox* fixedRate_;
    QCheckBox* displayExtension_;
};

}  // namespace

TempFileChooser SetTempFileChooser(TempFileChooser chooser) {
    TempFileChooser previous = Chooser();
    Chooser() = chooser ? std::move(chooser) : TempFileChooser(ChooseWithDialog);
    return previous;
}

CAdvancedPage* MakeStreamPage(AdvancedPage kind, AdvancedPageValues& values, const AdvancedSheetContext& context) {
    switch (kind) {
        case AdvancedPage::Audio: return new CAudioProperty(values, context);
        case AdvancedPage::Files: return new CTempFileProperty(values, context);
        case AdvancedPage::System: return new CSystemProperty(values, context);
        case AdvancedPage::Special: return new CSpecialProp(values, context);
        case AdvancedPage::Mpeg1: return new CMPEG1Property(values, context);
        case AdvancedPage::Mpeg2: return new CMPEG2Dialog(values, context);
        default: return nullptr;
    }
}
