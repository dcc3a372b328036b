// Debug output, tick counter and processor count.
#include "platform/System.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <sched.h>

namespace platform {

bool DebugOutputEnabled() {
    static const bool enabled = std::getenv("TESSMAR_DEBUG") != nullptr;
    return enabled;
}

void DebugOutput(const std::string& text) {
    if (DebugOutputEnabled()) std::fputs(text.c_str(), stderr);
}

uint32_t TickCount() {
    using namespace std::chrono;
    return static_cast<uint32_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

int SystemProcessorCount() {
    cpu_set_t set;
    int n = 1;
    if (sched_getaffinity(0, sizeof set, &set) == 0) n = CPU_COUNT(&set);
    if (n < 1) n = 1;
    return n > 16 ? 16 : n;
}

}  // namespace platform
