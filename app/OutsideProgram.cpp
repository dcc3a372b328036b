// Starting the outside programs and reporting their failures.
#include "app/OutsideProgram.h"

#include <QPointer>
#include <QProcess>
#include <QWidget>

#include "platform/Format.h"
#include "platform/MessageBox.h"

namespace {
int RunningCount = 0;
}  // namespace

int OutsideProgramsRunning() { return RunningCount; }

bool StartOutsideProgram(const QString& program, const QStringList& arguments, const QString& folder,
                         std::function<void()> failed) {
    // Without a parent: the process object lives until the program ends, and
    // is not there to kill it when the window goes.
    auto* process = new QProcess;
    process->setProgram(program);
    process->setArguments(arguments);
    if (!folder.isEmpty()) process->setWorkingDirectory(folder);
    process->setStandardInputFile(QProcess::nullDevice());
    process->setStandardOutputFile(QProcess::nullDevice());
    QObject::connect(process, &QProcess::finished, process,
                     [process, failed](int exitCode, QProcess::ExitStatus status) {
                         if ((status != QProcess::NormalExit || exitCode != 0) && failed) failed();
                         process->deleteLater();
                     });
    process->start();
    if (process->waitForStarted(5000)) {
        ++RunningCount;
        QObject::connect(process, &QObject::destroyed, [] { --RunningCount; });
        return true;
    }
    delete process;
    return false;
}

void OpenWithDesktop(const std::string& file, QWidget* owner, const std::string& failureText) {
    QPointer<QWidget> window(owner);
    const std::string text = platform::Format(failureText.c_str(), file.c_str());
    const auto say = [window, text] {
        platform::ShowMessageBox(text, "", platform::MbButtons::Ok, platform::MbIcon::Warning, window.data());
    };
    if (!StartOutsideProgram(kDesktopOpener, {QString::fromStdString(file)}, QString(), say)) say();
}
