// Bounded printf-style formatting into std::string, and a scope that pins the
// C locale for number formatting on the calling thread.
#pragma once

#include <cstdarg>
#include <string>

namespace platform {

// printf-style formatting with no fixed buffer: the result is as long as it needs to be.
std::string Format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
std::string FormatV(const char* fmt, va_list args);

// While alive, number formatting and parsing on this thread use the C locale,
// whatever locale the process runs under (files are always written in "C").
class CLocaleScope {
public:
    CLocaleScope();
    ~CLocaleScope();
    CLocaleScope(const CLocaleScope&) = delete;
    CLocaleScope& operator=(const CLocaleScope&) = delete;

private:
    void* previous_;
};

}  // namespace platform
