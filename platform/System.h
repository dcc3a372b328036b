// Small system services: debug output, the tick counter, the processor count.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

// Debugger output: written to stderr only when TESSMAR_DEBUG is set.
void DebugOutput(const std::string& text);
bool DebugOutputEnabled();

// Milliseconds of a steady clock, wrapping at 32 bits; take differences unsigned.
uint32_t TickCount();

// Processors this process may run on, at most 16.
int SystemProcessorCount();

}  // namespace platform
