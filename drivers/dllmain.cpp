#include "platform/platform.h"

// Loading and unloading do nothing beyond the runtime's own start-up.
extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) {
    return TRUE;
}
