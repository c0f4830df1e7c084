// Kernel handles, the process heap, the thread's last error and wsprintfA.
#include "platform/host/internal.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <set>

namespace host {

namespace {

struct KernelState {
    std::map<HANDLE, std::unique_ptr<KernelObject>> objects;
    std::uintptr_t next = 0x1000;
    std::set<void*> heapBlocks;
    std::set<void*> localBlocks;
};

KernelState& K() {
    static KernelState state;
    return state;
}

void ResetKernel() {
    for (void* block : K().heapBlocks)
        std::free(block);
    K().heapBlocks.clear();
    for (void* block : K().localBlocks)
        std::free(block);
    K().localBlocks.clear();
    K().objects.clear();
}

Area kernelArea("kernel", ResetKernel, [] { return OpenKernelHandles(nullptr); });
Area heapArea(
    "heap", [] {}, [] { return int(K().heapBlocks.size()); });
Area localArea(
    "local", [] {}, [] { return int(K().localBlocks.size()); });

thread_local DWORD lastError = 0;

// A distinct value that no real heap hands out.
char processHeap;

} // namespace

HANDLE NewKernelHandle(KernelObject* object) {
    HANDLE h = reinterpret_cast<HANDLE>(K().next);
    K().next += 4;
    K().objects[h].reset(object);
    return h;
}

KernelObject* FindKernelObject(HANDLE handle) {
    auto it = K().objects.find(handle);
    return it == K().objects.end() ? nullptr : it->second.get();
}

int OpenKernelHandles(const char* kind) {
    int open = 0;
    for (const auto& entry : K().objects)
        open += !kind || std::strcmp(entry.second->Kind(), kind) == 0;
    return open;
}

int OpenHeapBlocks() {
    return int(K().heapBlocks.size());
}

int OpenLocalBlocks() {
    return int(K().localBlocks.size());
}

void* LocalBlock(std::size_t bytes) {
    void* block = std::calloc(1, bytes ? bytes : 1);
    if (!block)
        throw std::bad_alloc();
    K().localBlocks.insert(block);
    return block;
}

} // namespace host

using namespace host;

extern "C" BOOL WINAPI CloseHandle(HANDLE hObject) {
    ShouldFail("CloseHandle"); // counted, never made to fail
    if (!K().objects.erase(hObject)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}

extern "C" HANDLE WINAPI GetProcessHeap(void) {
    return &processHeap;
}

extern "C" LPVOID WINAPI HeapAlloc(HANDLE hHeap, DWORD dwFlags, SIZE_T dwBytes) {
    if (ShouldFail("HeapAlloc") || hHeap != &processHeap)
        return nullptr;
    void* block = std::malloc(dwBytes ? dwBytes : 1);
    if (!block)
        return nullptr;
    if (dwFlags & HEAP_ZERO_MEMORY)
        std::memset(block, 0, dwBytes);
    K().heapBlocks.insert(block);
    return block;
}

extern "C" BOOL WINAPI HeapFree(HANDLE hHeap, DWORD, LPVOID lpMem) {
    ShouldFail("HeapFree"); // counted, never made to fail
    if (hHeap != &processHeap || !K().heapBlocks.erase(lpMem))
        return FALSE;
    std::free(lpMem);
    return TRUE;
}

// Answers NULL once the block is released; a block it did not hand out
// stays the caller's (answered back, 6).
extern "C" HLOCAL WINAPI LocalFree(HLOCAL hMem) {
    ShouldFail("LocalFree"); // counted, never made to fail
    if (!hMem)
        return nullptr;
    if (!K().localBlocks.erase(hMem)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return hMem;
    }
    std::free(hMem);
    return nullptr;
}

extern "C" DWORD WINAPI GetLastError(void) {
    return lastError;
}

extern "C" void WINAPI SetLastError(DWORD dwErrCode) {
    lastError = dwErrCode;
}

// The Windows function writes at most 1024 bytes, terminator included, and
// answers the number of characters written.
extern "C" int WINAPIV wsprintfA(LPSTR lpOut, LPCSTR lpFmt, ...) {
    ShouldFail("wsprintfA"); // counted, never made to fail
    va_list args;
    va_start(args, lpFmt);
    int n = std::vsnprintf(lpOut, 1024, lpFmt, args);
    va_end(args);
    if (n < 0) {
        lpOut[0] = '\0';
        return 0;
    }
    return n > 1023 ? 1023 : n;
}
