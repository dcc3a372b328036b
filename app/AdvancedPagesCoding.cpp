// Pages of the coding: Input, Processes, Bitrate Control and Edges.
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include "app/AdvancedPage.h"
#include "app/CSpinCtrl8.h"
#include "app/CommandLine.h"
#include "engine/Threads.h"
#include "platform/MessageBox.h"

namespace {

class CInputPreprocessingProperty : public CAdvancedPage {
public:
    CInputPreprocessingProperty(AdvancedPageValues& v, const AdvancedSheetContext& c)
        : CAdvancedPage(AdvancedPage::Input, 182, "Input", v, c) {
        PageLayout()->addWidget(MakeText(1153, "Please specify input file preprocessing options:"));
        QGroupBox* filters = MakeGroup("Filters");
        GroupLayout(filters)->addWidget(
            MakeText(1167, "A filter smooths noise of the input pictures before they are encoded."));
        choice_ = {MakeRadio(1003, "No filtering (default)"), MakeRadio(1004, "Median Filter"),
                   MakeRadio(1005, "Low pass filter")};
        median_ = MakeEdit(1139);
        medianLabel_ = MakeText(1141, "Filter parameter (1..100)");
        lowPass_ = MakeEdit(1140);
        lowPassLabel_ = MakeText(1142, "Filter parameter (1..100)");
        AddRow(GroupLayout(filters), {choice_[0]});
        AddRow(GroupLayout(filters), {choice_[1], nullptr, median_, medianLabel_});
        AddRow(GroupLayout(filters), {choice_[2], nullptr, lowPass_, lowPassLabel_});
        for (int i = 0; i < 3; ++i)
            connect(choice_[i], &QRadioButton::clicked, this, [this, i] { EnableStrengths(i); });
        telecine_ = MakeCheck(1143, "Detect inverse telecine ( 3:2 pulldown )");
        PageLayout()->addWidget(telecine_);
        PageLayout()->addWidget(
            MakeText(1151, "Film material in 3:2 pulldown is brought back to its original pictures."));
        deinterlace_ = MakeCheck(1144, "Deinterlace input picture");
        PageLayout()->addWidget(deinterlace_);
        PageLayout()->addWidget(MakeText(1152, "The two fields of each input picture are blended into one."));
        PageLayout()->addStretch(1);
    }

protected:
    bool DoDataExchange(bool save) override {
        ExchangeRadio(save, choice_, v_.filterChoice);
        if (!ExchangeInt(save, median_, v_.medianStrength, 1, 100)) return false;
        if (!ExchangeInt(save, lowPass_, v_.lowPassStrength, 1, 100)) return false;
        ExchangeCheck(save, telecine_, v_.inverseTelecine);
        ExchangeCheck(save, deinterlace_, v_.deinterlace);
        return true;
    }
    void OnInitDialog() override {
        int checked = 0;
        for (int i = 0; i < 3; ++i)
            if (choice_[i]->isChecked()) checked = i;
        EnableStrengths(checked);
    }

private:
    void EnableStrengths(int choice) {
        median_->setEnabled(choice == 1);
        medianLabel_->setEnabled(choice == 1);
        lowPass_->setEnabled(choice == 2);
        lowPassLabel_->setEnabled(choice == 2);
    }

    std::vector<QRadioButton*> choice_;
    QLineEdit* median_;
    QLineEdit* lowPass_;
    QLabel* medianLabel_;
    QLabel* lowPassLabel_;
    QCheckBox* telecine_;
    QCheckBox* deinterlace_;
};

class CMultithreadProperty : public CAdvancedPage {
public:
    CMultithreadProperty(AdvancedPageValues& v, const AdvancedSheetContext& c)
        : CAdvancedPage(AdvancedPage::Processes, 161, "Processes", v, c) {
        PageLayout()->addWidget(MakeText(1102,
                                         "On a machine with several processors the encoder can share its work "
                                         "between threads. Motion estimation is split into as many bands as "
                                         "threads are given here."));
        count_ = MakeEdit(1096);
        count_->setMaxLength(2);
        AddRow(PageLayout(), {MakeText(0, "Motion estimation threads (1..16):"), count_});
        static const char* const kTexts[4] = {"Enable parallel read from input file", "Enable parallel picture draw",
                                              "Enable parallel video stream encode",
                                              "Enable parallel calculation of tables"};
        for (int i = 0; i < 4; ++i) {
            flags_[i] = MakeCheck(1097 + i, kTexts[i]);
            PageLayout()->addWidget(flags_[i]);
        }
        QPushButton* byDefault = MakeButton(1101, "Default");
        AddRow(PageLayout(), {byDefault});
        PageLayout()->addStretch(1);
        connect(byDefault, &QPushButton::clicked, this, [this] { OnDefault(); });
    }

protected:
    bool DoDataExchange(bool save) override {
        if (!ExchangeInt(save, count_, v_.threads.meThreads, 1, 16)) return false;
        int* flags[4] = {&v_.threads.read, &v_.threads.draw, &v_.threads.encode, &v_.threads.tables};
        for (int i = 0; i < 4; ++i) ExchangeCheck(save, flags_[i], *flags[i]);
        return true;
    }
    void OnInitDialog() override {
        if ((ProcessorCount >= 2 || ParallelDialogMode == 1) && ParallelDialogMode != -1) return;
        count_->setEnabled(false);
        for (int i = 1; i < 4; ++i) flags_[i]->setEnabled(false);
    }

private:
    void OnDefault() {
        ThreadOptionValues& t = v_.threads;
        if (ProcessorCount >= 2 && ParallelDialogMode != -1) {
            t.meThreads = ProcessorCount > 4 ? 4 : ProcessorCount;
            t.read = t.draw = t.encode = t.tables = 1;
        } else {
            t.meThreads = 1;
            t.read = t.draw = t.encode = t.tables = 0;
        }
        DoDataExchange(false);
    }

    QLineEdit* count_;
    QCheckBox* flags_[4];
};

class CBitratePropertyPage : public CAdvancedPage {
public:
    CBitratePropertyPage(AdvancedPageValues& v, const AdvancedSheetContext& c)
        : CAdvancedPage(AdvancedPage::BitrateControl, 185, "Bitrate Control", v, c) {
        constant_ = MakeRadio(1139, "Constant Bitrate");
        variable_ = MakeRadio(1140, "Variable Bitrate");
        AddRow(PageLayout(), {constant_, variable_});
        QGroupBox* modes = MakeGroup("");
        modes->setObjectName("1141");
        simple_ = MakeRadio(1144, "Keep specified average bitrate.  (Simple VBR Mode)");
        average_ = MakeEdit(1142);
        averageSpin_ = MakeSpin(1010, average_, 1, 50000);
        averageLabel_ = MakeText(1143, "Average bitrate,  (Kbits/sec.)");
        constantScale_ = MakeRadio(1008, "Constant quantization scale");
        quant_ = MakeEdit(1147);
        quantSpin_ = MakeSpin(1011, quant_, 1, 31);
        quantLabel_ = MakeText(1145, "Quantization scale (1..31)");
        optimized_ = MakeRadio(1009, "Optimized quantization scale");
        GroupLayout(modes)->addWidget(simple_);
        AddRow(GroupLayout(modes), {nullptr, average_, averageSpin_, averageLabel_});
        GroupLayout(modes)->addWidget(constantScale_);
        AddRow(GroupLayout(modes), {nullptr, quant_, quantSpin_, quantLabel_});
        GroupLayout(modes)->addWidget(optimized_);
        range_ = new QGroupBox("Desirable range of average bitrate [Kbits/sec.]: ", this);
        range_->setObjectName("1151");
        new QVBoxLayout(range_);
        upper_ = MakeEdit(1149);
        lower_ = MakeEdit(1150);
        upperLabel_ = MakeText(1152, "Maximum");
        lowerLabel_ = MakeText(1153, "Minimum");
        AddRow(GroupLayout(range_), {upperLabel_, upper_, nullptr, lowerLabel_, lower_});
        GroupLayout(modes)->addWidget(range_);
        max_ = MakeEdit(1154);
        maxLabel_ = MakeText(1155, "Maximum bitrate,  (Kbits/sec.)");
        AddRow(GroupLayout(modes), {max_, maxLabel_});
        modesGroup_ = modes;
        PageLayout()->addStretch(1);

        connect(constant_, &QRadioButton::clicked, this, [this] { SetRateControl(PageIndex(kRateConstant)); });
        connect(variable_, &QRadioButton::clicked, this, [this] { SetRateControl(PageIndex(kRateVariable)); });
        connect(simple_, &QRadioButton::clicked, this, [this] { SetMode(PageIndex(kVbrAverage)); });
        connect(constantScale_, &QRadioButton::clicked, this, [this] { SetMode(PageIndex(kVbrConstantQuant)); });
        connect(optimized_, &QRadioButton::clicked, this, [this] { SetMode(PageIndex(kVbrQuantWithinAverage)); });
    }

protected:
    bool DoDataExchange(bool save) override {
        ExchangeRadio(save, {constant_, variable_}, v_.rateControlIndex);
        if (!save) {
            const bool simple = v_.vbrModeIndex == PageIndex(kVbrAverage);
            const bool optimized = v_.vbrModeIndex == PageIndex(kVbrQuantWithinAverage);
            simple_->setChecked(simple);
            optimized_->setChecked(optimized);
            constantScale_->setChecked(!simple && !optimized);
        }
        return ExchangeInt(save, average_, v_.averageKbps, 1, 97655) &&
               ExchangeInt(save, quant_, v_.quantScale, 1, 31) &&
               ExchangeInt(save, upper_, v_.upperKbps, 1, 97655) &&
               ExchangeInt(save, lower_, v_.lowerKbps, 1, 97655) && ExchangeInt(save, max_, v_.maxKbps, 1, 97656);
    }
    void OnInitDialog() override { Enable(); }
    // The variable bit rate values must fit together before the user may leave.
    bool OnKillActive() override {
        if (!DoDataExchange(true)) return false;
        const std::string problem = BitrateControlProblem(v_);
        if (problem.empty()) return true;
        platform::ShowMessageBox(problem, "", platform::MbButtons::Ok, platform::MbIcon::Warning, this);
        return false;
    }

private:
    void SetRateControl(int index) {
        v_.rateControlIndex = index;
        Enable();
    }
    void SetMode(int index) {
        v_.vbrModeIndex = index;
        Enable();
    }
    void Enable() {
        const bool variable = v_.rateControlIndex == PageIndex(kRateVariable);
        for (QWidget* w : std::initializer_list<QWidget*>{
                 modesGroup_, average_, averageSpin_, averageLabel_, simple_, constantScale_, quant_, quantSpin_,
                 quantLabel_, range_, upper_, lower_, upperLabel_, lowerLabel_, optimized_, max_, maxLabel_})
            w->setEnabled(variable);
        if (!variable) return;
        // The first two modes keep an average bit rate, the others a quantiser.
        const bool quantiser = v_.vbrModeIndex >= PageIndex(kVbrConstantQuantNoVbv);
        for (QWidget* w : std::initializer_list<QWidget*>{average_, averageSpin_, averageLabel_})
            w->setEnabled(!quantiser);
        for (QWidget* w : std::initializer_list<QWidget*>{quant_, quantSpin_, quantLabel_}) w->setEnabled(quantiser);
        for (QWidget* w : std::initializer_list<QWidget*>{range_, upper_, lower_, upperLabel_, lowerLabel_})
            w->setEnabled(v_.vbrModeIndex == PageIndex(kVbrQuantWithinAverage));
    }

    QRadioButton* constant_;
    QRadioButton* variable_;
    QRadioButton* simple_;
    QRadioButton* constantScale_;
    QRadioButton* optimized_;
    QGroupBox* modesGroup_;
    QGroupBox* range_;
    QLineEdit* average_;
    QLineEdit* quant_;
    QLineEdit* upper_;
    QLineEdit* lower_;
    QLineEdit* max_;
    CSpinCtrl8* averageSpin_;
    CSpinCtrl8* quantSpin_;
    QLabel* averageLabel_;
    QLabel* quantLabel_;
    QLabel* upperLabel_;
    QLabel* lowerLabel_;
    QLabel* maxLabel_;
};

class CTrimPropertyPage : public CAdvancedPage {
public:
    CTrimPropertyPage(AdvancedPageValues& v, const AdvancedSheetContext& c)
        : CAdvancedPage(AdvancedPage::Edges, 186, "Edges", v, c) {
        QGroupBox* group = MakeGroup("Trim Top/Bottom Edges");
        top_ = MakeEdit(1156);
        bottom_ = MakeEdit(1160);
        AddRow(GroupLayout(group), {MakeText(0, "Top lines (0..32):"), top_, MakeSpin(1158, top_, 0, 32)});
        AddRow(GroupLayout(group), {MakeText(0, "Bottom lines (0..32):"), bottom_, MakeSpin(1159, bottom_, 0, 32)});
        PageLayout()->addStretch(1);
    }

protected:
    bool DoDataExchange(bool save) override {
        return ExchangeInt(save, top_, v_.topLines, 0, 32) && ExchangeInt(save, bottom_, v_.bottomLines, 0, 32);
    }

private:
    QLineEdit* top_;
    QLineEdit* bottom_;
};

}  // namespace

CAdvancedPage* MakeCodingPage(AdvancedPage kind, AdvancedPageValues& values, const AdvancedSheetContext& context) {
    switch (kind) {
        case AdvancedPage::Input: return new CInputPreprocessingProperty(values, context);
        case AdvancedPage::Processes: return new CMultithreadProperty(values, context);
        case AdvancedPage::BitrateControl: return new CBitratePropertyPage(values, context);
        case AdvancedPage::Edges: return new CTrimPropertyPage(values, context);
        default: return nullptr;
    }
}
