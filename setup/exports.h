// The custom actions of VantorSetup. Each takes the handle of the running
// installation and answers a Windows error code.
#pragma once

#include "platform/platform.h"

extern "C" {

// cache/cache_actions.cpp
UINT WINAPI CacheProperties(MSIHANDLE installation);
UINT WINAPI ClearPropertiesCache(MSIHANDLE installation);

// choice/converter_choice.cpp
UINT WINAPI AppendComboBox(MSIHANDLE installation);

// choice/harbor_choice.cpp
UINT WINAPI PopulateHarborChoices(MSIHANDLE installation);
UINT WINAPI ConfigureHarbor(MSIHANDLE installation);

// upgrade/related_products.cpp
UINT WINAPI FrobMajorUpgrade(MSIHANDLE installation);

} // extern "C"
