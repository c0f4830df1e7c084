// Small owners for the platform's handles, each with its own "no handle"
// value, so that every action releases what it opened on every path.
#pragma once

#include "platform/platform.h"

#include <utility>

namespace vantor {

template <typename Traits> class UniqueHandle {
  public:
    using Type = typename Traits::Type;

    UniqueHandle() = default;
    explicit UniqueHandle(Type h) : handle_(h) {}
    ~UniqueHandle() { reset(); }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    UniqueHandle(UniqueHandle&& other) noexcept : handle_(other.release()) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        if (this != &other)
            reset(other.release());
        return *this;
    }

    Type get() const { return handle_; }
    bool valid() const { return handle_ != Traits::None(); }
    explicit operator bool() const { return valid(); }

    // For out-parameters: releases what is held and hands out the slot.
    Type* put() {
        reset();
        return &handle_;
    }
    Type release() { return std::exchange(handle_, Traits::None()); }
    void reset(Type h = Traits::None()) {
        if (valid())
            Traits::Close(handle_);
        handle_ = h;
    }

  private:
    Type handle_ = Traits::None();
};

struct MsiHandleTraits {
    using Type = MSIHANDLE;
    static Type None() { return 0; }
    static void Close(Type h) { MsiCloseHandle(h); }
};

struct RegKeyTraits {
    using Type = HKEY;
    static Type None() { return nullptr; }
    static void Close(Type h) { RegCloseKey(h); }
};

struct ScHandleTraits {
    using Type = SC_HANDLE;
    static Type None() { return nullptr; }
    static void Close(Type h) { CloseServiceHandle(h); }
};

// Files answer INVALID_HANDLE_VALUE when they cannot be opened.
struct FileHandleTraits {
    using Type = HANDLE;
    static Type None() { return INVALID_HANDLE_VALUE; }
    static void Close(Type h) { CloseHandle(h); }
};

// Processes and threads answer NULL.
struct KernelHandleTraits {
    using Type = HANDLE;
    static Type None() { return nullptr; }
    static void Close(Type h) { CloseHandle(h); }
};

// Blocks the platform allocated for the caller (security descriptors, SID
// texts) go back with LocalFree.
struct LocalMemoryTraits {
    using Type = HLOCAL;
    static Type None() { return nullptr; }
    static void Close(Type h) { LocalFree(h); }
};

using MsiHandle = UniqueHandle<MsiHandleTraits>;
using RegKey = UniqueHandle<RegKeyTraits>;
using ScHandle = UniqueHandle<ScHandleTraits>;
using FileHandle = UniqueHandle<FileHandleTraits>;
using KernelHandle = UniqueHandle<KernelHandleTraits>;
using LocalMemory = UniqueHandle<LocalMemoryTraits>;

// A buffer from the process heap, for texts that the platform may write into.
class HeapBuffer {
  public:
    explicit HeapBuffer(SIZE_T bytes)
        : data_(static_cast<char*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, bytes))) {}
    ~HeapBuffer() {
        if (data_)
            HeapFree(GetProcessHeap(), 0, data_);
    }
    HeapBuffer(const HeapBuffer&) = delete;
    HeapBuffer& operator=(const HeapBuffer&) = delete;

    char* get() const { return data_; }
    explicit operator bool() const { return data_ != nullptr; }

  private:
    char* data_;
};

// Runs cleanup on every way out of a scope, an exception included, unless
// release() was called first: for work undone on all ways out but one.
template <typename Cleanup> class ScopeExit {
  public:
    explicit ScopeExit(Cleanup cleanup) : cleanup_(std::move(cleanup)) {}
    ~ScopeExit() {
        if (armed_)
            cleanup_();
    }
    ScopeExit(const ScopeExit&) = delete;
    ScopeExit& operator=(const ScopeExit&) = delete;

    void release() { armed_ = false; }

  private:
    Cleanup cleanup_;
    bool armed_ = true;
};

} // namespace vantor
