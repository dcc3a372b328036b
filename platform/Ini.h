// Settings files in INI form, read and written with the rules of the
// classic profile-string functions, and the folder that holds them.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

namespace platform {

// $TESSMAR_CONFIG_DIR, else $XDG_CONFIG_HOME/tessmar, else ~/.config/tessmar.
std::filesystem::path ConfigDir();
// A settings file of the program (e.g. "RADUDUR.INI") in ConfigDir().
std::filesystem::path ConfigFile(const std::string& name);

// Section and key names compare without case; the first matching key wins;
// blanks around names and values are trimmed; a missing file, section or key
// gives the default.
std::string IniReadString(const std::string& section, const std::string& key,
                          const std::string& defaultValue, const std::filesystem::path& file);
// Optional sign and leading digits of the value; a value without digits is 0.
int IniReadInt(const std::string& section, const std::string& key, int defaultValue,
               const std::filesystem::path& file);
// The same digits as a 64-bit value, for sizes past 2^31: no wrap, and a value past
// the 64-bit range stops at its largest (or smallest) value.
int64_t IniReadInt64(const std::string& section, const std::string& key, int64_t defaultValue,
                     const std::filesystem::path& file);
// Whether the file can hold the key: names and value on one line, a section
// name without "]", a key that is not empty and holds no "=" and does not
// start like a section header or a comment.
bool IniCanHold(const std::string& section, const std::string& key, const std::string& value);
// Replaces the key's value in place or appends it (creating section, folder
// and file); every other line is kept. Writes LF line ends. False on failure;
// a key the file cannot hold is refused with a message before anything is
// written.
bool IniWriteString(const std::string& section, const std::string& key, const std::string& value,
                    const std::filesystem::path& file);
bool IniWriteInt(const std::string& section, const std::string& key, int value,
                 const std::filesystem::path& file);

}  // namespace platform
