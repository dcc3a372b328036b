// The batch command of the main window: the batch dialog, then the run of
// its job list through the main settings form, the job driver and the view.
#pragma once

#include <functional>

class CMainFrame;
class CMpegDoc;

// What a batch needs of the view while it encodes; the view fills it in
// when it exists. Without a view, the batch keeps its own guard word and
// repaints the frame's central area.
struct BatchViewLink {
    std::function<bool()> previewWindowOpen;
    int* encodingActive = nullptr;
    // Before a job: preview counters cleared, view repainted, panes laid out, progress panel reset.
    std::function<void()> prepareJob;
    // After a job: repaint and lay out the view.
    std::function<void()> relayout;
};
extern BatchViewLink BatchView;

// Batch Processing (command 32795): the whole batch.
void OnBatchProcessing(CMainFrame& frame, CMpegDoc& document);
// Hands command 32795 to the frame.
void InstallBatchCommand(CMainFrame& frame, CMpegDoc& document);
