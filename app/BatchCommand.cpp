// The batch command: dialog, start profile, log, jobs and summary.
#include "app/BatchCommand.h"

#include <QStatusBar>

#include "app/AppSettings.h"
#include "app/BatchList.h"
#include "app/BatchLog.h"
#include "app/BatchRunner.h"
#include "app/CBatchDialog.h"
#include "app/CMainFrame.h"
#include "app/CMainSettingsForm.h"
#include "app/CMpegDoc.h"
#include "app/CTessmarApp.h"
#include "app/FrameLogic.h"
#include "app/ProfileList.h"
#include "app/RecentFileList.h"
#include "job/AviSource.h"
#include "job/JobDriver.h"
#include "platform/ResStrings.h"
#include "settings/EncoderSettings.h"
#include "settings/Report.h"
#include "settings/RunState.h"

BatchViewLink BatchView;

namespace {

constexpr int kBatchProcessingCommand = 32795;

int OwnEncodingActive = 0;

bool PreviewWindowOpen() { return BatchView.previewWindowOpen && BatchView.previewWindowOpen(); }

// The form and the dropping of files, as an encoding leaves them.
void ShowFormForEncoding(CMainFrame& frame, bool encoding) {
    frame.setAcceptDrops(!encoding);
    if (CMainSettingsForm* form = MainSettingsForm) {
        form->setEnabled(!encoding);
        form->setVisible(!encoding);
    }
}

// The AVI file the job just read held fewer frames than its headers name.
void NoteCutShortInput() {
    BatchEntryCutShort = {};
    if (EncoderSettings.inputType != 2) return;
    const int readable = AviGetVideoEndFrame() - AviGetVideoStartFrame();
    const int announced = AviGetAnnouncedVideoFrames();
    if (announced > readable) BatchEntryCutShort = {readable, announced};
}

BatchEntryHooks EntryHooks(CMainFrame& frame) {
    BatchEntryHooks hooks;
    hooks.previewWindowOpen = PreviewWindowOpen;
    hooks.encodingActive = BatchView.encodingActive ? BatchView.encodingActive : &OwnEncodingActive;
    hooks.applyToParameters = [] { return MainSettingsForm && MainSettingsForm->ApplyToParameters() == 1; };
    hooks.prepareViews = [&frame] {
        if (BatchView.prepareJob)
            BatchView.prepareJob();
        else if (QWidget* view = frame.ViewWidget())
            view->repaint();
        ShowFormForEncoding(frame, true);
    };
    hooks.runEncoding = [&frame] {
        if (!RunEncoding(&frame)) return kBatchJobRefused;
        NoteCutShortInput();
        return JobResult;
    };
    hooks.restoreViews = [&frame](int statusTextId) {
        ShowFormForEncoding(frame, false);
        if (MainStatusBar) MainStatusBar->showMessage(QString::fromStdString(LoadResString(statusTextId)));
    };
    hooks.relayoutViews = [&frame] {
        if (BatchView.relayout)
            BatchView.relayout();
        else if (QWidget* view = frame.ViewWidget())
            view->update();
    };
    return hooks;
}

}  // namespace

void OnBatchProcessing(CMainFrame& frame, CMpegDoc& document) {
    if (!document.SaveModified()) return;
    BuildProfileList();
    std::vector<BatchProfile> profiles;
    for (size_t i = 0; i < ProfileDescriptionList.size(); ++i)
        profiles.push_back({ProfileDescriptionList[i], ProfilePathList[i]});
    // A new run of the program offers the folder of the last batch.
    if (BatchOutputFolder.empty()) BatchOutputFolder = GetLastBatchOutputFolder();
    BatchStartRequest request = InitialBatchRequest(profiles, EncoderSettings.profileDescription);

    CBatchDialog dialog(&BatchJobList, nullptr);
    dialog.descriptions = ProfileDescriptionList;
    dialog.selectedIndex = request.selectedIndex;
    dialog.selectedDescription = request.selectedDescription;
    dialog.outputFolder = request.outputFolder;
    dialog.suppressErrors = 1;
    const int answer = dialog.exec();
    if (!EncoderSettings.profileDescription.empty() && TheApp) {
        TheApp->RecentFiles().Add(EncoderSettings.profileDescription);
        frame.RebuildRecentFileMenu();
    }
    if (answer != QDialog::Accepted) {
        if (!dialog.outputFolder.empty()) {
            BatchOutputFolder = AbsoluteFolder(dialog.outputFolder);
            SetLastBatchOutputFolder(BatchOutputFolder);
        }
        BatchMode = 0;
        return;
    }
    request.suppressErrors = dialog.suppressErrors != 0;
    request.selectedIndex = dialog.selectedIndex;
    request.selectedDescription = dialog.selectedDescription;
    request.outputFolder = dialog.outputFolder;

    const BatchEntryHooks entryHooks = EntryHooks(frame);
    BatchProcessHooks hooks;
    hooks.run.loadProfile = [&document](const std::string& path) { return document.LoadProfileFromPath(path); };
    hooks.run.loadInputFile = [](const std::string& avi, const std::string& folder) {
        return MainSettingsForm && MainSettingsForm->LoadInputFileForBatch(avi, folder) == 1;
    };
    hooks.run.runEntry = [&entryHooks] { RunBatchEntry(entryHooks); };
    hooks.run.writeStatistics = [] { WriteStatisticsReport(InputFrameWidth, InputFrameHeight); };
    hooks.run.reloadForm = [] {
        if (MainSettingsForm) MainSettingsForm->LoadDefaultProfile();
    };
    hooks.openLog = [](const std::string& log) {
        if (OpenBatchLogFile) OpenBatchLogFile(log);
    };
    hooks.endOfBatch = [&frame] { ShowFormForEncoding(frame, false); };
    RunBatchProcess(request, profiles, hooks);
    SetLastBatchOutputFolder(BatchOutputFolder);
    BatchMode = 0;
    frame.UpdateCommandStates();
}

void InstallBatchCommand(CMainFrame& frame, CMpegDoc& document) {
    frame.SetCommand(
        kBatchProcessingCommand, [&frame, &document] { OnBatchProcessing(frame, document); },
        [] { return IdleCommandEnabled(RunState, PauseFlag, PreviewWindowOpen() ? 1 : 0); });
}
