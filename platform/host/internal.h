// Shared by the stand-in's areas; not for tests (they use control.h).
#pragma once

#include "platform/host/control.h"

namespace host {

// Each area registers how to reset itself and how many handles it holds open.
struct Area {
    Area(const char* name, void (*reset)(), int (*openHandles)());
};

// The failure a faulted call reports: the test's code, or the call's default.
inline DWORD FaultError(DWORD asked, DWORD fallback) {
    return asked ? asked : fallback;
}

// Case-insensitive comparison, as Windows compares registry and file names.
bool EqualNoCase(const std::string& a, const std::string& b);
std::string Lower(std::string text);

// "\\" in a platform path stands for "/" on the host, and a drive ("C:\\")
// for the host's root; a short name given to SetShortName for its long name.
std::string HostPath(const char* windowsPath);
std::string ExpandShortNames(const std::string& hostPath);

// The name under which the stand-in keeps what it knows of a file or folder:
// its host path with links resolved and no trailing "/".
std::string CanonicalPath(const std::string& hostPath);
// The file or folder a CreateFileA handle has open (canonical host path) and
// the access it was opened with; false for any other handle.
bool OpenFileOf(HANDLE handle, std::string* hostPath, DWORD* access);

// A block for the caller to release with LocalFree; zero-filled.
void* LocalBlock(std::size_t bytes);

} // namespace host

namespace host {

// Kernel objects behind HANDLE values (files, processes, threads): one table,
// so that CloseHandle serves them all.
struct KernelObject {
    virtual ~KernelObject() = default;
    virtual const char* Kind() const = 0;
};
HANDLE NewKernelHandle(KernelObject* object); // takes ownership
KernelObject* FindKernelObject(HANDLE handle);
template <typename T> T* FindKernel(HANDLE handle) {
    return dynamic_cast<T*>(FindKernelObject(handle));
}
int OpenKernelHandles(const char* kind); // null: all kinds

} // namespace host
