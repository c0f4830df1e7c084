// The one boundary that every export runs its body inside. No exception may
// cross into the engine: its custom-action server would end with it, and the
// engine would report a failed installation with nothing in the log.
#pragma once

#include "platform/platform.h"

#include <exception>
#include <new>

namespace vantor {

// "<action>: stopped by an internal error (<reason>)" in the installation log.
// Throws nothing and takes no memory from the heap.
void LogStopped(MSIHANDLE installation, LPCSTR action, LPCSTR reason) noexcept;

// Answers body(installation, args...). An exception that escapes the body, an
// allocation failure above all, is logged in one line and answered with
// stopped: the action's result when it cannot finish its work.
template <typename Body, typename... Args>
UINT RunAction(MSIHANDLE installation, LPCSTR action, UINT stopped, Body body,
               Args... args) noexcept {
    try {
        return body(installation, args...);
    } catch (const std::bad_alloc&) {
        LogStopped(installation, action, "out of memory");
    } catch (const std::exception& error) {
        LogStopped(installation, action, error.what());
    } catch (...) {
        LogStopped(installation, action, "unknown exception");
    }
    return stopped;
}

} // namespace vantor
