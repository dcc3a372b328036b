// The program's entry: the Qt application, the windowed message boxes and
// the message pump the encoding calls, then the application object's start-up.
#include <QApplication>
#include <string>
#include <vector>

#include "app/CMpegView.h"
#include "app/CTessmarApp.h"
#include "app/CompletionDialogs.h"
#include "app/QtMessageBox.h"
#include "settings/RunState.h"

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
