// The custom actions of VantorDrivers. Each takes the handle of the running
// installation and answers a Windows error code.
#pragma once

#include "platform/platform.h"

extern "C" {} // extern "C"
