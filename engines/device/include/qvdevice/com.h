// Small COM helpers for the WASAPI code: an owning interface pointer, a CoTaskMem
// holder and COM set-up on threads we do and don't own.
#pragma once

#include <objbase.h>

#include <utility>

struct IMMDeviceEnumerator;

namespace qvdevice {

template <class T> class ComPtr {
public:
    ComPtr() = default;
    ~ComPtr() { reset(); }
    ComPtr(const ComPtr&) = delete;
    ComPtr& operator=(const ComPtr&) = delete;
    ComPtr(ComPtr&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
    ComPtr& operator=(ComPtr&& other) noexcept {
        if (this != &other) {
            reset();
            p_ = std::exchange(other.p_, nullptr);
        }
        return *this;
    }

    void reset() {
        if (p_) {
            p_->Release();
            p_ = nullptr;
        }
    }
    T* get() const { return p_; }
    T* operator->() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }
    T** put() {
        reset();
        return &p_;
    }
    void** putVoid() { return reinterpret_cast<void**>(put()); }

private:
    T* p_ = nullptr;
};

// Memory that COM hands out with CoTaskMemAlloc (mix formats, device ids).
template <class T> class CoTaskMem {
public:
    CoTaskMem() = default;
    ~CoTaskMem() { CoTaskMemFree(p_); }
    CoTaskMem(const CoTaskMem&) = delete;
    CoTaskMem& operator=(const CoTaskMem&) = delete;
    T* get() const { return p_; }
    T* operator->() const { return p_; }
    T** put() {
        CoTaskMemFree(p_);
        p_ = nullptr;
        return &p_;
    }

private:
    T* p_ = nullptr;
};

// COM on a thread of ours: multithreaded apartment for the thread's lifetime.
class ThreadCom {
public:
    ThreadCom() : ok_(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) {}
    ~ThreadCom() {
        if (ok_)
            CoUninitialize();
    }
    ThreadCom(const ThreadCom&) = delete;
    ThreadCom& operator=(const ThreadCom&) = delete;

private:
    bool ok_;
};

// COM on the caller's thread: initialised (single-threaded apartment) only if it was not
// yet, and undone by leave() only if enter() did it, on that same thread.
class CallerCom {
public:
    void enter();
    void leave();

private:
    bool owned_ = false;
    DWORD thread_ = 0;
};

// The system's audio endpoint enumerator (on a thread with COM).
HRESULT createDeviceEnumerator(ComPtr<IMMDeviceEnumerator>& out);

} // namespace qvdevice
