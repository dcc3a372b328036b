// Pages of the picture structure: Motion Vectors, Sequence, Performance, Sync
// and Headers.
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <cstdlib>

#include "app/AdvancedPage.h"
#include "app/CSpinCtrl8.h"
#include "platform/MessageBox.h"

namespace {

class CMVProperty : public CAdvancedPage {
public:
    CMVProperty(AdvancedPageValues& v, const AdvancedSheetContext& c)
        : CAdvancedPage(AdvancedPage::MotionVectors, 137, "Motion Vectors", v, c) {
        static const int kEdits[4] = {1011, 1012, 1018, 1020};
        static const int kSpins[4] = {1010, 1013, 1019, 1021};
        static const char* const kLabels[4] = {"P frames, horizontal:", "P frames, vertical:",
                                               "B frames, horizontal:", "B frames, vertical:"};
        QGroupBox* group = MakeGroup("Maximum motion vector search range (pixels)");
        for (int i = 0; i < 4; ++i) {
            edits_[i] = MakeEdit(kEdits[i]);
            AddRow(GroupLayout(group), {MakeText(0, kLabels[i]), edits_[i], MakeSpin(kSpins[i], edits_[i], 8, 1024, 8)});
        }
        PageLayout()->addStretch(1);
    }

protected:
    bool DoDataExchange(bool save) override {
        int* fields[4] = {&v_.pRange[0], &v_.pRange[1], &v_.bRange[0], &v_.bRange[1]};
        for (int i = 0; i < 4; ++i)
            if (!ExchangeInt(save, edits_[i], *fields[i], 8, 1024)) return false;
        return true;
    }

private:
    QLineEdit* edits_[4];
};

class CSequenceProperty : public CAdvancedPage {
public:
    CSequenceProperty(AdvancedPageValues& v, const AdvancedSheetContext& c)
        : CAdvancedPage(AdvancedPage::Sequence, 139, "Sequence", v, c) {
        QGroupBox* group = MakeGroup("Frame sequence");
        pEdit_ = MakeEdit(1039);
        bEdit_ = MakeEdit(1040);
        AddRow(GroupLayout(group), {MakeText(0, "Number of P frames in GOP:"), pEdit_, MakeSpin(1010, pEdit_, 0, 64)});
        AddRow(GroupLayout(group),
               {MakeText(0, "Number of B frames between I or P frames:"), bEdit_, MakeSpin(1011, bEdit_, 0, 30)});
        pattern_ = MakeEdit(1046);
        pattern_->setReadOnly(true);
        pattern_->setMaximumWidth(QWIDGETSIZE_MAX);
        GroupLayout(group)->addWidget(pattern_);
        QPushButton* iOnly = MakeButton(1045, "I frames only");
        QPushButton* iAndP = MakeButton(1048, "I and P only");
        QPushButton* byDefault = MakeButton(1041, "Default");
        AddRow(PageLayout(), {iOnly, iAndP, byDefault});
        PageLayout()->addStretch(1);
        connect(iOnly, &QPushButton::clicked, this, [this] { SetCounts(0, 0); });
        connect(iAndP, &QPushButton::clicked, this, [this] { SetCounts(15, 0); });
        connect(byDefault, &QPushButton::clicked, this, [this] { SetCounts(3, 2); });
        connect(pEdit_, &QLineEdit::textChanged, this, [this] { RebuildPattern(); });
        connect(bEdit_, &QLineEdit::textChanged, this, [this] { RebuildPattern(); });
    }

protected:
    bool DoDataExchange(bool save) override {
        return ExchangeInt(save, pEdit_, v_.pCount, 0, 64) && ExchangeInt(save, bEdit_, v_.bCount, 0, 30);
    }
    bool OnSetActive() override {
        RebuildPattern();
        return true;
    }

private:
    void SetCounts(int p, int b) {
        pEdit_->setText(QString::number(p));
        bEdit_->setText(QString::number(b));
        RebuildPattern();
    }
    void RebuildPattern() {
        if (building_) return;
        building_ = true;
        const int p = std::atoi(pEdit_->text().toStdString().c_str());
        const int b = std::atoi(bEdit_->text().toStdString().c_str());
        pattern_->setText(QString::fromStdString(SequencePatternText(p, b)));
        if (SequencePatternIsError(p, b)) platform::MessageBeep(0);
        building_ = false;
    }

    QLineEdit* pEdit_;
    QLineEdit* bEdit_;
    QLineEdit* pattern_;
    bool building_ = false;
};

class CPerfProperty : public CAdvancedPage {
public:
    CPerfProperty(AdvancedPageValues& v, const AdvancedSheetContext& c)
        : CAdvancedPage(AdvancedPage::Performance, 135, "Performance", v, c) {
        QGroupBox* group = MakeGroup("Encoding speed");
        static const char* const kTexts[5] = {" Very fast", " Fast", " Normal speed", "Slow", " Very slow"};
        for (int i = 0; i < 5; ++i) {
            speed_.push_back(MakeRadio(1003 + i, kTexts[i]));
            GroupLayout(group)->addWidget(speed_.back());
        }
        quality_ = MakeCheck(1037, "Calculate image quality while encoding is in progress");
        PageLayout()->addWidget(quality_);
        PageLayout()->addStretch(1);
    }

protected:
    bool DoDataExchange(bool save) override {
        int index = v_.performanceMode - 1;
        ExchangeRadio(save, speed_, index);
        v_.performanceMode = index >= 0 && index <= 4 ? index + 1 : 3;
        ExchangeCheck(save, quality_, v_.qualityStatistics);
        return true;
    }

private:
    std::vector<QRadioButton*> speed_;
    QCheckBox* quality_;
};

class CSyncProperty : public CAdvancedPage {
public:
    CSyncProperty(AdvancedPageValues& v, const AdvancedSheetContext& c)
        : CAdvancedPage(AdvancedPage::Sync, 155, "Sync", v, c) {
        QGroupBox* group = MakeGroup("Audio and video synchronisation");
        keepDuration_ = MakeRadio(1003, "Keep original duration  (default)");
        keepFrames_ = MakeRadio(1004, "Keep original number of frames ");
        GroupLayout(group)->addWidget(keepDuration_);
        GroupLayout(group)->addWidget(keepFrames_);
        PageLayout()->addStretch(1);
        connect(keepDuration_, &QRadioButton::clicked, this, [this] { v_.keepDuration = 1; });
        connect(keepFrames_, &QRadioButton::clicked, this, [this] {
            if (!ctx_.form.audio) v_.keepDuration = 0;
        });
    }

protected:
    bool DoDataExchange(bool save) override {
        if (!save) {
            keepDuration_->setChecked(v_.keepDuration == 1);
            keepFrames_->setChecked(v_.keepDuration != 1);
        }
        return true;
    }
    void OnInitDialog() override {
        if (ctx_.form.audio) {
            v_.keepDuration = 1;
            keepDuration_->setChecked(true);
            keepFrames_->setEnabled(false);
        }
    }

private:
    QRadioButton* keepDuration_;
    QRadioButton* keepFrames_;
};

class CHeadersProperty : public CAdvancedPage {
public:
    CHeadersProperty(AdvancedPageValues& v, const AdvancedSheetContext& c)
        : CAdvancedPage(AdvancedPage::Headers, 184, "Headers", v, c) {
        QGroupBox* gop = MakeGroup("Closed GOP Options");
        closedGop_ = MakeList(1152, {"Only first GOP closed (default)", "All GOPs closed (not recommended)"});
        for (int n = 2; n <= 10; ++n)
            closedGop_->addItem(QString("One out of every %1 GOPs closed").arg(n));
        GroupLayout(gop)->addWidget(closedGop_);
        QGroupBox* seq = MakeGroup("Sequence Header Options");
        seqHeader_ = MakeList(1153, {"Put seq. header at the beginning only (default)",
                                     "Put seq. headers before every GOP"});
        for (int n = 2; n <= 10; ++n)
            seqHeader_->addItem(QString("Put seq. headers before one out of every %1 GOPs").arg(n));
        GroupLayout(seq)->addWidget(seqHeader_);
        PageLayout()->addStretch(1);
    }

protected:
    bool DoDataExchange(bool save) override {
        ExchangeList(save, closedGop_, v_.closedGop, 0, 19);
        ExchangeList(save, seqHeader_, v_.sequenceHeader, 0, 19);
        return true;
    }
    void OnInitDialog() override {
        // DVD and SVCD players need a sequence header before every group.
        if (ctx_.applicationType == kApplicationDvd || ctx_.applicationType == kApplicationSvcd) {
            seqHeader_->setCurrentIndex(1);
            seqHeader_->setEnabled(false);
        }
    }

private:
    QComboBox* closedGop_;
    QComboBox* seqHeader_;
};

}  // namespace

CAdvancedPage* MakeMotionAndSequencePage(AdvancedPage kind, AdvancedPageValues& values,
                                         const AdvancedSheetContext& context) {
    switch (kind) {
        case AdvancedPage::MotionVectors: return new CMVProperty(values, context);
        case AdvancedPage::Sequence: return new CSequenceProperty(values, context);
        case AdvancedPage::Performance: return new CPerfProperty(values, context);
        case AdvancedPage::Sync: return new CSyncProperty(values, context);
        case AdvancedPage::Headers: return new CHeadersProperty(values, context);
        default: return nullptr;
    }
}
