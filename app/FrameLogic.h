// The arithmetic of the main window and the document, kept apart from the
// widgets: window size rules, titles, file-name rules, description cleaning,
// which commands are open to the user.
#pragma once

#include <string>
#include <vector>

// Whether `path`'s last component ends in `extension` (with its dot),
// compared without regard to case.
bool HasFileExtension(const std::string& path, const std::string& extension);
bool IsProfileFileName(const std::string& path);  // ".PRF"
bool IsAviFileName(const std::string& path);      // ".AVI"

// The last component of a path ("a/b/c.prf" gives "c.prf").
std::string LastPathComponent(const std::string& path);

// What a file dropped on the main window does. Only names longer than four
// characters count.
enum class DropAction { Ignore, OpenProfile, TakeInput };
DropAction ClassifyDroppedFile(const std::string& path);

// The main window's size from the system font (average character width and
// height) and the available desktop.
struct MainWindowGeometry {
    int largeScreen = 0;
    int minWidth = 0, minHeight = 0;  // MainWindowWidth, MainWindowHeight: the smallest size
    int width = 0, height = 0;        // the window's initial size
    int x = 0, y = 0;                 // position relative to the desktop's top left corner
};
MainWindowGeometry ComputeMainWindowGeometry(int charWidth, int charHeight, int desktopWidth, int desktopHeight);

// The window title of a document title ("clip - Tessmar").
std::string MainWindowTitle(const std::string& documentTitle);
// The application's name, the first part of the document template's string.
std::string ApplicationName();

// The description typed into the save dialog made fit for a profile: each of
// \ / : * ? < > | becomes "_"; trailing blanks go, except within the first
// two characters.
std::string CleanProfileDescription(const std::string& text);
// The check of a cleaned description: 0 when accepted, else the message id
// (63309 empty or blanks only, 63310 a duplicate of a listed profile).
int CheckProfileDescription(const std::string& cleaned, const std::vector<std::string>& descriptions,
                            const std::string& initialDescription, const std::string& caption);

// `name` when it is not empty and no such file exists; otherwise the first
// folder + base + n + extension (n = 1, 2, ...) that names no file.
std::string FindFreeProfileName(const std::string& name, const std::string& folder, const std::string& base,
                                const std::string& extension);

// The file name the output dialog shows after the user picked another type:
// the typed name's extension gives way to the one in the type's text
// ("MPEG Files (*.mpg)" gives ".mpg"). An empty name stays empty.
std::string FileNameForType(const std::string& typedName, const std::string& typeText);

// The program's resource filters ("MPEG Files (*.mpg)|*.mpg|All (*.*)|*.*||")
// as Qt name filters; a description without its patterns gets them added.
std::vector<std::string> QtNameFilters(const std::string& filter);

// Update rules of the commands. Idle-only commands: closed while encoding.
bool IdleOnlyCommandEnabled(int runState);
// Commands that also wait for a pause to end and for previews to close.
bool IdleCommandEnabled(int runState, int pauseFlag, int openPreviewCount);

// The help page: "tessmar.html" beside the program (the build folder), else
// where the install puts it, "../share/tessmar/" from the program.
std::string HelpPagePath(const std::string& programFolder);
