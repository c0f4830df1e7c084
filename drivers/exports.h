// The custom actions of VantorDrivers. Each takes the handle of the running
// installation and answers a Windows error code.
#pragma once

#include "platform/platform.h"

extern "C" {

// driver_package.cpp
UINT WINAPI DIFxInstall(MSIHANDLE installation);
UINT WINAPI WinUsbUninstall(MSIHANDLE installation);
UINT WINAPI VantorppUninstall(MSIHANDLE installation);

} // extern "C"
