// The program's entry: the Qt application, the windowed message boxes and
// the message pump the encoding calls, then the application object's start-up.
#include <QApplication>
#include <string>
#include <vector>

#include "app/CTessmarApp.h"
#include "app/CompletionDialogs.h"
#include "app/QtMessageBox.h"
#include "settings/RunState.h"

namespace {

// Lets the window answer between the job's steps: what is queued, for a few
// milliseconds; while paused it waits for the next event (the frame's idle
// timer brings one at least every 100 ms). Qt does not say how many events it
// handled, so the pumps are told none, which only lets their idle work run.
int DispatchQueuedEvents(int /*limit*/, bool* quit) {
    if (PauseFlag)
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    else
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    if (quit) *quit = false;
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    QApplication::setApplicationName("Tessmar");
    InstallQtMessageBoxes();
    SetResultDialogRunner(RunResultDialogWindow);

    MessagePumpHooks pumps;
    pumps.dispatchMessages = DispatchQueuedEvents;
    SetMessagePumpHooks(pumps);

    std::vector<std::string> arguments;
    for (int i = 1; i < argc; ++i) arguments.emplace_back(argv[i]);
    int result = 0;
    {
        CTessmarApp app;
        if (app.InitInstance(arguments)) result = QApplication::exec();
        app.ExitInstance();
    }
    SetMessagePumpHooks({});
    return result;
}
