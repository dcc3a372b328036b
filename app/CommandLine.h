// The program's command line: its own switches, and the file to open at start.
#pragma once

#include <string>
#include <vector>

class CTessmarCommandLineInfo {
public:
    enum class ShellCommand { FileNew, FileOpen };

    // One item; the leading "/" or "-" of a switch has already been removed
    // and `isSwitch` set.
    void ParseParam(const std::string& param, bool isSwitch, bool isLast);
    // Splits program arguments into items and parses each (argv[0] excluded).
    void ParseCommandLine(const std::vector<std::string>& arguments);

    ShellCommand shellCommand = ShellCommand::FileNew;
    std::string fileName;
    // Switches the program does not know; they have no effect.
    std::vector<std::string> otherSwitches;

private:
    bool ParseOwnSwitch(const std::string& name);
    bool ParseValuedSwitch(const std::string& item);
};

// Whether an argument is a switch. On this system a leading "/" also starts
// absolute paths, so such an argument is a file when it names an existing
// one or has a further "/" after its second character (valued switches,
// which may hold a path, excepted).
bool IsSwitchArgument(const std::string& argument);

// 0, 1 ("allowparalleldialog") or -1 ("notallowparalleldialog").
extern int ParallelDialogMode;
// Set by "winnt351" or the settings key "system_winnt351".
extern int Winnt351Requested;
