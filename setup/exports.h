// The custom actions of VantorSetup. Each takes the handle of the running
// installation and answers a Windows error code.
#pragma once

#include "platform/platform.h"

extern "C" {

// cache/cache_actions.cpp
UINT WINAPI CacheProperties(MSIHANDLE installation);
UINT WINAPI ClearPropertiesCache(MSIHANDLE installation);

// language/config_language.cpp
UINT WINAPI SetConfigLanguage(MSIHANDLE installation);

// services/legacy_driver.cpp
UINT WINAPI InstallKappaSys(MSIHANDLE installation);
UINT WINAPI UninstallKappaSys(MSIHANDLE installation);
UINT WINAPI InstallVantorSys(MSIHANDLE installation);
UINT WINAPI UninstallVantorSys(MSIHANDLE installation);

// services/auto_launch.cpp
UINT WINAPI StartVantorAutoLauchService(MSIHANDLE installation);

} // extern "C"
