// Owners of Windows handles: one owner each, closed once, also on the paths a return skips.
#pragma once

#include <windows.h>

#include <utility>

namespace qvwin32 {

// `Close` says which values are empty and how a handle is closed.
template <class T, class Close> class UniqueHandle {
public:
    UniqueHandle() = default;
    explicit UniqueHandle(T handle) : h_(handle) {}
    ~UniqueHandle() { reset(); }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    UniqueHandle(UniqueHandle&& other) noexcept : h_(other.release()) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        if (this != &other)
            reset(other.release());
        return *this;
    }

    void reset(T handle = T()) {
        if (Close::valid(h_))
            Close::close(h_);
        h_ = handle;
    }
    T release() { return std::exchange(h_, T()); }
    T get() const { return h_; }
    explicit operator bool() const { return Close::valid(h_); }

private:
    T h_ = T();
};

// Kernel objects: files, mappings, events, threads. Some calls fail with null, others with
// INVALID_HANDLE_VALUE; both are empty.
struct CloseKernelHandle {
    static bool valid(HANDLE h) { return h && h != INVALID_HANDLE_VALUE; }
    static void close(HANDLE h) { CloseHandle(h); }
};

struct CloseFindHandle {
    static bool valid(HANDLE h) { return h && h != INVALID_HANDLE_VALUE; }
    static void close(HANDLE h) { FindClose(h); }
};

using Handle = UniqueHandle<HANDLE, CloseKernelHandle>;
using FindHandle = UniqueHandle<HANDLE, CloseFindHandle>;

// An event not yet set; empty when it could not be made.
inline Handle makeEvent(bool manualReset) {
    return Handle(CreateEventW(nullptr, manualReset, FALSE, nullptr));
}

} // namespace qvwin32
