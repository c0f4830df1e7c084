// The products' auto-launch service: the package registers it, this action
// only starts it once installation is done.
#include "common/action_boundary.h"
#include "common/handles.h"
#include "setup/exports.h"

using namespace vantor;

namespace {

constexpr char kAutoLaunchService[] = "Vantor Auto Launch Service";

UINT StartAutoLaunchService(MSIHANDLE) {
    ScHandle service;
    {
        ScHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CREATE_SERVICE));
        if (manager)
            service.reset(OpenServiceA(manager.get(), kAutoLaunchService, SERVICE_ALL_ACCESS));
    } // the manager is not needed beyond the open
    if (!service)
        return ERROR_INSTALL_FAILURE;
    // No wait for it to run: starting it is all that is asked. One that runs
    // already (a repair) is what the action is for.
    const bool started = StartServiceA(service.get(), 0, nullptr) != FALSE;
    const DWORD refusal = started ? ERROR_SUCCESS : GetLastError();
    service.reset();
    return started || refusal == ERROR_SERVICE_ALREADY_RUNNING ? ERROR_SUCCESS
                                                               : ERROR_INSTALL_FAILURE;
}

} // namespace

extern "C" UINT WINAPI StartVantorAutoLauchService(MSIHANDLE installation) {
    return RunAction(installation, __func__, ERROR_INSTALL_FAILURE, StartAutoLaunchService);
}
