// The batch dialog as the user drives it: the add-files dialog, the start
// checks, the job list keys and files, and a whole batch from the window
// whose outputs ffmpeg decodes.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTimer>
#include <algorithm>
#include <functional>
#include <iostream>

#include "app/AppSettings.h"
#include "app/BatchList.h"
#include "app/BatchRunner.h"
#include "app/CBatchDialog.h"
#include "app/CMainFrame.h"
#include "app/CMainSettingsForm.h"
#include "app/CMpegView.h"
#include "app/CTessmarApp.h"
#include "app/ProfileList.h"
#include "app/ProgressPanels.h"
#include "engine/EngineState.h"
#include "job/Profile.h"
#include "platform/MessageBox.h"
#include "settings/EncoderSettings.h"
#include "settings/Report.h"
#include "settings/RunState.h"
#include "tests/app/frame_util.h"
#include "tests/support/QtTestSupport.h"
#include "tests/support/TestSupport.h"

namespace fs = std::filesystem;

namespace {

// Runs `act` on the modal dialog that is open when the event loop next runs.
void OnNextModal(std::function<void(QWidget*)> act) {
    QTimer::singleShot(0, [act] {
        QWidget* dialog = QApplication::activeModalWidget();
        ASSERT_NE(dialog, nullptr);
        act(dialog);
    });
}

template <typename T = QPushButton>
T* Child(QWidget* dialog, const char* id) {
    T* child = dialog->findChild<T*>(id);
    EXPECT_NE(child, nullptr) << id;
    return child;
}

// Types the names into a file dialog and presses its accept button.
void ChooseFiles(QWidget* dialog, const std::string& folder, const std::string& typed) {
    auto* files = qobject_cast<QFileDialog*>(dialog);
    ASSERT_NE(files, nullptr);
    files->setDirectory(QString::fromStdString(folder));
    Child<QLineEdit>(dialog, "fileNameEdit")->setText(QString::fromStdString(typed));
    auto* box = Child<QDialogButtonBox>(dialog, "buttonBox");
    for (QAbstractButton* button : box->buttons())
        if (box->buttonRole(button) == QDialogButtonBox::AcceptRole) button->click();
}

// The add-files dialog: adds each group of names with "&Add", then "&Done".
void AddFiles(QWidget* batch, const std::string& folder, std::vector<std::string> groups) {
    OnNextModal([folder, groups](QWidget* dialog) {
        EXPECT_EQ(dialog->objectName(), "AviAddFileDlg");
        EXPECT_EQ(dialog->windowTitle(), "Input AVI File Name(s)");
        for (const std::string& typed : groups) {
            ChooseFiles(dialog, folder, typed);
            EXPECT_TRUE(dialog->isVisible());  // "&Add" keeps it open
        }
        auto* box = Child<QDialogButtonBox>(dialog, "buttonBox");
        for (QAbstractButton* button : box->buttons())
            if (box->buttonRole(button) == QDialogButtonBox::RejectRole) {
                EXPECT_EQ(button->text(), "&Done");
                button->click();
            }
    });
    Child(batch, "6")->click();
}

void SaveList(QWidget* batch, const std::string& file) {
    OnNextModal([file](QWidget* dialog) {
        ChooseFiles(dialog, fs::path(file).parent_path().string(), fs::path(file).filename().string());
    });
    Child(batch, "1135")->click();
}

void LoadList(QWidget* batch, const std::string& file) {
    OnNextModal([file](QWidget* dialog) {
        ChooseFiles(dialog, fs::path(file).parent_path().string(), fs::path(file).filename().string());
    });
    Child(batch, "1124")->click();
}

std::vector<std::string> Shown(QWidget* batch) {
    std::vector<std::string> lines;
    auto* list = Child<QListWidget>(batch, "1109");
    for (int i = 0; i < list->count(); ++i) lines.push_back(list->item(i)->text().toStdString());
    return lines;
}

// An AVI of `frames` pictures made by ffmpeg.
void MakeAvi(const fs::path& file, int frames) {
    ASSERT_EQ(testsupport::RunCommand("ffmpeg -v error -y -f lavfi -i testsrc2=size=352x288:rate=25 -frames:v " +
                                      std::to_string(frames) + " -c:v mjpeg '" + file.string() + "'"),
              0);
}

// A profile file from the built-in settings.
void MakeProfile(const std::string& path, const std::string& description, bool mpeg2) {
    ReadProfile("+");
    EncoderSettingsRecord& e = EncoderSettings;
    e.profileDescription = description;
    e.mpeg1 = mpeg2 ? 0 : 1;
    e.streamType = mpeg2 ? kStreamTypeMpeg2 : kStreamTypeMpeg1;
    e.frameRateCode = 3;  // 25 frames/s, as the clips
    e.showInput = e.showOutput = 0;
    e.inputFileName.clear();
    e.outputFileName.clear();
    ASSERT_EQ(WriteProfile(path.c_str()), 0);
}

class BatchDialogTest : public qttest::FolderTest {
protected:
    void SetUp() override {
        if (!testsupport::HaveTool("ffmpeg")) GTEST_SKIP() << "no ffmpeg";
        qttest::KeyEventApp();
        FolderTest::SetUp();
        BatchJobList.clear();
        LastBatchListPath.clear();
        BatchOutputFolder.clear();
        BatchProfileIndex = 0;
        fs::create_directory(dir_ / "clips");
        for (const char* name : {"a.avi", "b.avi", "X.AVI", "d.avi"}) MakeAvi(dir_ / "clips" / name, 6);
    }
    void TearDown() override {
        FolderTest::TearDown();
        BatchJobList.clear();
        OpenBatchLogFile = nullptr;
    }

    platform::ScriptedMessageBoxes boxes_;
};

TEST_F(BatchDialogTest, JobListChecksKeysAndFiles) {
    ProfileDirectory = (dir_ / "profiles").string() + "/";
    fs::create_directory(ProfileDirectory);
    MakeProfile(ProfileDirectory + "PRF1.PRF", "Template", false);
    BuildProfileList();
    const std::string clips = (dir_ / "clips").string();

    CBatchDialog dialog(&BatchJobList);
    dialog.descriptions = ProfileDescriptionList;
    dialog.selectedDescription = "Template";
    OnNextModal([&](QWidget* batch) {
        EXPECT_EQ(batch, &dialog);
        Child(batch, "1")->click();  // an empty list
        Child<QLineEdit>(batch, "1108")->setText(QString::fromStdString(clips));
        Child(batch, "1137")->click();
        AddFiles(batch, clips, {"\"a.avi\" \"X.AVI\"", "\"a.avi\""});  // the second a.avi is a duplicate
        Child(batch, "1137")->click();
        Child(batch, "1")->click();  // a profile at the end
        auto* list = Child<QListWidget>(batch, "1109");
        list->setCurrentRow(3);
        list->setFocus();
        QKeyEvent del(QEvent::KeyPress, Qt::Key_Delete, Qt::NoModifier);
        QApplication::sendEvent(list, &del);
        EXPECT_EQ(list->currentRow(), 2);
        EXPECT_EQ(Shown(batch), (std::vector<std::string>{" Template", "     " + clips + "/a.avi",
                                                           "     " + clips + "/X.AVI"}));
        batch->grab().save(QString::fromStdString((previous_ / "batch_dialog.png").string()));  // for a look by eye
        const std::string saved = (dir_ / "jobs.btc").string();
        SaveList(batch, saved);
        const std::string text = testsupport::ReadFile(saved);
        EXPECT_EQ(text, "ZRN BATCH LIST FILE\n1\n" + clips + "\nTemplate\nreserved string 1\nreserved string 2\n3\n*Template\n" +
                            clips + "/a.avi\n" + clips + "/X.AVI\nZRN BATCH LIST FILE END\n");

        // A longer list in CRLF with a 300-character entry and a relative profile path.
        const std::string longEntry = "/" + std::string(300, 'n') + ".avi";
        std::string crlf = "ZRN BATCH LIST FILE\r\n0\r\n/elsewhere\r\nTemplate\r\nreserved string 1\r\n"
                           "reserved string 2\r\n4\r\nprofiles/job.prf\r\n" + longEntry + "\r\n*Template\r\n" +
                           clips + "/b.avi\r\nZRN BATCH LIST FILE END\r\n";
        testsupport::WriteFile(dir_ / "crlf.btc", crlf);
        LoadList(batch, (dir_ / "crlf.btc").string());
        EXPECT_EQ(Shown(batch), (std::vector<std::string>{" profiles/job.prf", "     " + longEntry, " Template",
                                                           "     " + clips + "/b.avi"}));
        EXPECT_EQ(Child<QLineEdit>(batch, "1108")->text().toStdString(), "/elsewhere");
        SaveList(batch, (dir_ / "again.btc").string());
        std::string lf = crlf;
        for (size_t at; (at = lf.find('\r')) != std::string::npos;) lf.erase(at, 1);
        EXPECT_EQ(testsupport::ReadFile(dir_ / "again.btc"), lf);
        // Loaded back, the first list saves byte for byte as it was.
        LoadList(batch, saved);
        SaveList(batch, (dir_ / "copy.btc").string());
        EXPECT_EQ(testsupport::ReadFile(dir_ / "copy.btc"), text);

        // A count beyond the lines present: the list stays as it is.
        std::string bad = text;
        bad.replace(bad.find("\n3\n"), 3, "\n4\n");
        testsupport::WriteFile(dir_ / "bad.btc", bad);
        LoadList(batch, (dir_ / "bad.btc").string());
        EXPECT_EQ(Shown(batch).size(), 3u);

        // Delete marks the list modified: loading asks first; "No" drops the change.
        list->setCurrentRow(2);
        QApplication::sendEvent(list, &del);
        boxes_.Answer(platform::MbAnswer::No);
        LoadList(batch, saved);
        EXPECT_EQ(Shown(batch).size(), 3u);
        Child(batch, "2")->click();
    });
    EXPECT_EQ(dialog.exec(), QDialog::Rejected);
    EXPECT_EQ(boxes_.Texts(),
              (std::vector<std::string>{
                  "No Batch files in list.",
                  "Duplicate file has been found in job list. \nDuplicate files are not permitted in batch\nprocess.",
                  "There must be at least one AVI file for every Profile\nincluded in Job List.",
                  "Error: Incorrect batch file end tag.\n This is not a valid batch list file format",
                  "Batch definition has been modified.\n\nSave changes?"}));
    EXPECT_EQ(BatchJobList.size(), 3u);
}

size_t Find(const std::string& log, const std::string& text, size_t from) {
    const size_t at = log.find(text, from);
    EXPECT_NE(at, std::string::npos) << "after " << from << ": " << text;
    return at == std::string::npos ? from : at + text.size();
}

TEST_F(BatchDialogTest, BatchFromTheWindow) {
    auto app = std::make_unique<CTessmarApp>();
    ASSERT_TRUE(app->InitInstance({}));
    MakeProfile(ProfileDirectory + "PRF1.PRF", "Template", false);
    MakeProfile(ProfileDirectory + "PRF2.PRF", "MPEG2 job", true);
    ReadProfile("+");
    const std::string clips = (dir_ / "clips").string();
    std::string opened;
    OpenBatchLogFile = [&](const std::string& log) { opened = log; };

    auto runBatch = [&](std::function<void(QWidget*)> fill) {
        OnNextModal([fill](QWidget* batch) {
            EXPECT_EQ(batch->windowTitle(), "Batch Processing");
            fill(batch);
            Child(batch, "1")->click();
        });
        QAction* command = app->MainFrame()->findChild<QAction*>("32795");
        ASSERT_NE(command, nullptr);
        ASSERT_TRUE(command->isEnabled());
        command->trigger();
    };
    boxes_.Answer(platform::MbAnswer::Yes);  // see the log
    runBatch([&](QWidget* batch) {
        auto* combo = Child<QComboBox>(batch, "1111");
        combo->setCurrentIndex(combo->findText("Template"));
        Child(batch, "1137")->click();
        AddFiles(batch, clips, {"\"a.avi\" \"b.avi\" \"X.AVI\""});
        combo->setCurrentIndex(combo->findText("MPEG2 job"));
        Child(batch, "1137")->click();
        AddFiles(batch, clips, {"\"d.avi\""});
        combo->setCurrentIndex(combo->findText("Template"));
        Child<QLineEdit>(batch, "1108")->setText("out");  // relative to the current directory
    });
    const fs::path out = dir_ / "out";
    if (getenv("SHOWLOG")) std::cerr << testsupport::ReadFile(out / "message.log");
    EXPECT_EQ(BatchMode, 0);
    EXPECT_EQ(opened, (out / "message.log").string());
    ASSERT_FALSE(boxes_.Texts().empty());
    EXPECT_EQ(boxes_.Texts().back(),
              "Batch process completed.\n\n0 files encoded successfully.\n 4 files encoded as video only: their AVI "
              "files have no sound.\n \nWould you like to view detail for\nbatch process?");  // the templates encode sound

    // One output per AVI file in the chosen folder, each a stream ffmpeg decodes without complaint.
    std::vector<std::string> outputs;
    for (const auto& entry : fs::directory_iterator(out))
        if (entry.path().filename() != "message.log") outputs.push_back(entry.path().filename().string());
    std::sort(outputs.begin(), outputs.end());
    ASSERT_EQ(outputs.size(), 4u) << testing::PrintToString(outputs);
    for (const std::string& name : outputs) {
        std::string errors;
        EXPECT_EQ(testsupport::RunCommand("ffmpeg -v error -xerror -i '" + (out / name).string() +
                                              "' -f null - 2>&1",
                                          &errors),
                  0)
            << name << errors;
        EXPECT_EQ(errors, "") << name;
    }
    const std::string log = testsupport::ReadFile(out / "message.log");
    size_t at = Find(log, "Begin Batch Process Using Profile: \nTemplate\nOutput path: " + out.string() + "\n", 0);
    EXPECT_EQ(log.rfind("Begin Batch", 0), 0u);
    at = Find(log, "\nLoaded profile:\nTemplate\nThis profile will be used as a template \n", at);
    for (const char* name : {"a.avi", "b.avi", "X.AVI"}) {
        at = Find(log, std::string("AVI input file: ") + clips + "/" + name + "\n\n", at);
        at = Find(log, "\nMPEG encoding completed without sound: the AVI file has no sound", at);
        at = Find(log, "\nEncoding statistics information:\nInput file " + clips + "/" + name + "\n", at);
    }
    at = Find(log, "\nLoaded profile:\nMPEG2 job\nThis profile will be used as a template \n", at);
    at = Find(log, "AVI input file: " + clips + "/d.avi\n\n", at);
    at = Find(log, "\nMPEG encoding completed without sound: the AVI file has no sound", at);
    at = Find(log, "\nEncoding statistics information:\n", at);
    EXPECT_EQ(log.find("AVI input file:", at), std::string::npos);

    // The form and dropping are back; a second batch of one file says so in the singular.
    // The folder is offered again, also by a new run of the program.
    EXPECT_TRUE(app->MainFrame()->acceptDrops());
    BatchOutputFolder.clear();
    boxes_.Clear();
    boxes_.Answer(platform::MbAnswer::No);
    opened.clear();
    runBatch([&](QWidget* batch) {
        auto* list = Child<QListWidget>(batch, "1109");
        EXPECT_EQ(list->count(), 6);  // the list and the folder of the last batch
        EXPECT_EQ(Child<QLineEdit>(batch, "1108")->text().toStdString(), out.string());
        while (list->count() > 2) {
            list->setCurrentRow(list->count() - 1);
            QKeyEvent del(QEvent::KeyPress, Qt::Key_Delete, Qt::NoModifier);
            QApplication::sendEvent(list, &del);
        }
    });
    EXPECT_TRUE(opened.empty());
    EXPECT_EQ(boxes_.Texts().back(),
              "Batch process completed.\n\n0 files encoded successfully.\n 1 file encoded as video only: its AVI file "
              "has no sound.\n \nWould you like to view detail for\nbatch process?");
}

// What the user sees of a batch entry: the view's progress panel over the
// hidden form, and Stop asking about the whole batch and ending it.
TEST_F(BatchDialogTest, BatchEntriesShowTheProgressPanelAndStopEndsTheBatch) {
    auto app = std::make_unique<CTessmarApp>();
    ASSERT_TRUE(app->InitInstance({}));
    MakeProfile(ProfileDirectory + "PRF1.PRF", "Template", false);
    ReadProfile("+");
    MakeAvi(dir_ / "clips" / "long.avi", 150);
    const std::string clips = (dir_ / "clips").string();
    OpenBatchLogFile = [](const std::string&) {};

    bool panelShown = false, formHidden = true, asked = false;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (RunState != 2 || !EncodingActive) return;
        CProgressWnd* host = MainView->ProgressHost();
        panelShown = panelShown || (host->isVisible() && host->CurrentPanel()->isVisible());
        formHidden = formHidden && !MainSettingsForm->isVisible();
        if (Sequence.EncodedFrameCount < 10 || asked) return;
        asked = true;
        boxes_.Clear();
        boxes_.Answer(platform::MbAnswer::Yes);
        app->MainFrame()->findChild<QAction*>("32772")->trigger();
    });
    watch.start(20);
    OnNextModal([&](QWidget* batch) {
        auto* combo = Child<QComboBox>(batch, "1111");
        combo->setCurrentIndex(combo->findText("Template"));
        Child(batch, "1137")->click();
        AddFiles(batch, clips, {"\"long.avi\" \"a.avi\""});
        Child<QLineEdit>(batch, "1108")->setText(QString::fromStdString((dir_ / "out").string()));
        Child(batch, "1")->click();
    });
    app->MainFrame()->findChild<QAction*>("32795")->trigger();
    watch.stop();

    ASSERT_TRUE(asked);
    EXPECT_TRUE(panelShown);
    EXPECT_TRUE(formHidden);
    ASSERT_FALSE(boxes_.Texts().empty());
    EXPECT_EQ(boxes_.Texts().front(), " Do you wish to stop the batch encoding ? ");
    EXPECT_EQ(boxes_.Texts().back(),
              "Batch process stopped by the user after 2 of 3 job list entries.\n\n0 files encoded successfully.\n "
              "\nWould you like to view detail for\nbatch process?");
    // The stopped entry is logged as such (no failure, no statistics) and the next one never starts.
    const std::string log = testsupport::ReadFile(dir_ / "out" / "message.log");
    size_t at = Find(log, "AVI input file: " + clips + "/long.avi\n\n", 0);
    Find(log, "\nBatch MPEG encoding aborted by user\n", at);
    EXPECT_EQ(log.find("a.avi"), std::string::npos);
    EXPECT_EQ(log.find("Encoding statistics information"), std::string::npos);
    // The window is back as before the batch.
    EXPECT_EQ(EncodingActive, 0);
    EXPECT_FALSE(MainView->ProgressHost()->isVisible());
    EXPECT_TRUE(MainSettingsForm->isVisible());
    EXPECT_TRUE(MainSettingsForm->isEnabled());
    EXPECT_TRUE(app->MainFrame()->acceptDrops());
}

}  // namespace
