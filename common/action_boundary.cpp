#include "common/action_boundary.h"

#include "common/property.h"

namespace vantor {

void LogStopped(MSIHANDLE installation, LPCSTR action, LPCSTR reason) noexcept {
    char line[1024]; // the formatter's own limit
    wsprintfA(line, "%s: stopped by an internal error (%s)", action, reason);
    try {
        LogAction(installation, line);
    } catch (...) {
        // The log is all this could add; the result still reaches the engine.
    }
}

} // namespace vantor
