// The custom actions of VantorSetup. Each takes the handle of the running
// installation and answers a Windows error code.
#pragma once

#include "platform/platform.h"

extern "C" {

// cache/cache_actions.cpp
UINT WINAPI CacheProperties(MSIHANDLE installation);
UINT WINAPI ClearPropertiesCache(MSIHANDLE installation);

// cache/lifecycle_actions.cpp
UINT WINAPI RecallChoices(MSIHANDLE installation);
UINT WINAPI CarryOverChoices(MSIHANDLE installation);
UINT WINAPI ClearReplacedCaches(MSIHANDLE installation);

// cache/check_choices.cpp
UINT WINAPI CheckChoices(MSIHANDLE installation);

// patch/patch_actions.cpp
UINT WINAPI RondoApplyPatchInfo(MSIHANDLE installation);
UINT WINAPI RondoDemoApplyPatchInfo(MSIHANDLE installation);
UINT WINAPI FathomApplyPatchInfo(MSIHANDLE installation);
UINT WINAPI QuillApplyPatchInfo(MSIHANDLE installation);
UINT WINAPI LarchApplyPatchInfo(MSIHANDLE installation);
UINT WINAPI TernApplyPatchInfo(MSIHANDLE installation);
UINT WINAPI RondoApplyPatchInfoHarbor(MSIHANDLE installation);
UINT WINAPI RondoApplyPatchInfoMistral(MSIHANDLE installation);
UINT WINAPI SableApplyPatchInfo(MSIHANDLE installation);

// choice/converter_choice.cpp
UINT WINAPI AppendComboBox(MSIHANDLE installation);
UINT WINAPI SelectDriversFeature(MSIHANDLE installation);

// choice/harbor_choice.cpp
UINT WINAPI PopulateHarborChoices(MSIHANDLE installation);
UINT WINAPI ConfigureHarbor(MSIHANDLE installation);

// upgrade/related_products.cpp
UINT WINAPI FrobMajorUpgrade(MSIHANDLE installation);

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
