// Outside programs that open the program's files: the desktop's opener for
// the help page and the batch log, the configured player for the AVI and
// MPEG files. A program that cannot be started or that ends in failure (the
// opener finds no program for the file, for one) is reported, never silent.
#pragma once

#include <QStringList>
#include <functional>
#include <string>

class QWidget;

// The desktop's opener of files.
inline constexpr const char* kDesktopOpener = "xdg-open";

// Starts `program` with `arguments` in `folder` (empty: the current folder).
// False when it could not be started; `failed` is called later when it ends
// with a failure (a nonzero exit status or a crash). The program is not ended
// with this one: a player keeps playing after the window closes.
bool StartOutsideProgram(const QString& program, const QStringList& arguments, const QString& folder,
                         std::function<void()> failed);

// How many started programs have not been seen to end yet (their end is
// noticed by the event loop).
int OutsideProgramsRunning();

// Opens `file` with the desktop's opener; when that cannot be done, the user
// reads `failureText` (formatted with the file name) in a message box owned by `owner`.
void OpenWithDesktop(const std::string& file, QWidget* owner, const std::string& failureText);
