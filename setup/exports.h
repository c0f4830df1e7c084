// The custom actions of VantorSetup. Each takes the handle of the running
// installation and answers a Windows error code.
#pragma once

#include "platform/platform.h"

extern "C" {

// cache/cache_actions.cpp
UINT WINAPI CacheProperties(MSIHANDLE installation);
UINT WINAPI ClearPropertiesCache(MSIHANDLE installation);

} // extern "C"
