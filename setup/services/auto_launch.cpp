// The products' auto-launch service: the package registers it, this action
// only starts it once installation is done.
#include "common/action_boundary.h"
#include "common/handles.h"
#include "common/log_line.h"
#include "common/property.h"
#include "setup/exports.h"

#include <string>

using namespace vantor;

namespace {

constexpr char kAutoLaunchService[] = "Vantor Auto Launch Service";

UINT StartAutoLaunchService(MSIHANDLE installation) {
    const auto notStarted = [installation](const char* why, DWORD error) {
        LogFailure(installation, std::string(kAutoLaunchService) + " not started: " + why, error);
        return ERROR_INSTALL_FAILURE;
    };
    ScHandle service;
    DWORD openError = ERROR_SUCCESS;
    const char* openWhat = nullptr;
    {
        ScHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CREATE_SERVICE));
        if (!manager) {
            openError = GetLastError();
            openWhat = "the service control manager cannot be opened";
        } else {
            service.reset(OpenServiceA(manager.get(), kAutoLaunchService, SERVICE_ALL_ACCESS));
            if (!service) {
                openError = GetLastError();
                openWhat = openError == ERROR_SERVICE_DOES_NOT_EXIST
                               ? "it is not installed: is the package's ServiceInstall row "
                                 "missing?"
                               : "the service cannot be opened";
            }
        }
    } // the manager is not needed beyond the open
    if (!service)
        return notStarted(openWhat, openError);
    // No wait for it to run: starting it is all that is asked. One that runs
    // already (a repair) is what the action is for.
    const bool started = StartServiceA(service.get(), 0, nullptr) != FALSE;
    const DWORD refusal = started ? ERROR_SUCCESS : GetLastError();
    service.reset();
    if (started || refusal == ERROR_SERVICE_ALREADY_RUNNING)
        return ERROR_SUCCESS;
    return notStarted("the start request was refused", refusal);
}

} // namespace

extern "C" UINT WINAPI StartVantorAutoLauchService(MSIHANDLE installation) {
    return RunAction(installation, __func__, ERROR_INSTALL_FAILURE, StartAutoLaunchService);
}
