// Log lines of work left undone: what failed, then the platform's code as
// " (error N)". The code is the one taken at the failing call (the engine's
// or the registry's answer, or GetLastError right after the call), never
// read again later, when another call may have changed it.
#pragma once

#include "platform/platform.h"

#include <string>

namespace vantor {

// what + " (error N)".
std::string WithError(std::string what, DWORD code);

// One LogAction line: WithError(what, code).
void LogFailure(MSIHANDLE installation, const std::string& what, DWORD code);

} // namespace vantor
