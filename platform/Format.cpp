// Bounded formatting and the C-locale scope.
#include "platform/Format.h"

#include <clocale>
#include <cstdio>
#include <locale.h>
#include <vector>

namespace platform {

std::string FormatV(const char* fmt, va_list args) {
    va_list copy;
    va_copy(copy, args);
    char small[512];
    int n = std::vsnprintf(small, sizeof small, fmt, copy);
    va_end(copy);
    if (n < 0) return std::string();
    if (static_cast<size_t>(n) < sizeof small) return std::string(small, static_cast<size_t>(n));
    std::vector<char> big(static_cast<size_t>(n) + 1);
    std::vsnprintf(big.data(), big.size(), fmt, args);
    return std::string(big.data(), static_cast<size_t>(n));
}

std::string Format(const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    std::string s = FormatV(fmt, args);
    va_end(args);
    return s;
}

namespace {
locale_t CLocale() {
    static locale_t c = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
    return c;
}
}  // namespace

CLocaleScope::CLocaleScope() : previous_(uselocale(CLocale())) {}

CLocaleScope::~CLocaleScope() { uselocale(static_cast<locale_t>(previous_)); }

}  // namespace platform
