// Diagnostics of the emulator itself, for whoever debugs a test: off unless
// WHEEL_EMULATOR_DEBUG is set in the environment or setDebugLog(true) was
// called. Never part of what a test checks.
#pragma once

namespace wheelemu {

void setDebugLog(bool on);
bool debugLogEnabled();
void debugLog(const char *format, ...) __attribute__((format(printf, 1, 2)));

} // namespace wheelemu
