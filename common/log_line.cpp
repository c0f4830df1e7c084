#include "common/log_line.h"

#include "common/property.h"

namespace vantor {

std::string WithError(std::string what, DWORD code) {
    what += " (error ";
    what += std::to_string(code);
    what += ')';
    return what;
}

void LogFailure(MSIHANDLE installation, const std::string& what, DWORD code) {
    LogAction(installation, WithError(what, code).c_str());
}

} // namespace vantor
