#include "tests/device/render_allocations.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>

#include "qvdevice/output.h"

extern "C" {
void* __real_malloc(size_t size);
void* __real_calloc(size_t count, size_t size);
void* __real_realloc(void* p, size_t size);
}

namespace {

constexpr int maxThreads = 32;
std::atomic<DWORD> renderThreads[maxThreads];
std::atomic<int> threadsSeen{0};
std::atomic<std::uint64_t> allocations{0};

void noteRenderThread() {
    const int i = threadsSeen.fetch_add(1);
    if (i < maxThreads)
        renderThreads[i].store(GetCurrentThreadId());
}

void count() {
    const DWORD me = GetCurrentThreadId();
    const int n = std::min(threadsSeen.load(std::memory_order_relaxed), maxThreads);
    for (int i = 0; i < n; ++i)
        if (renderThreads[i].load(std::memory_order_relaxed) == me)
            allocations.fetch_add(1, std::memory_order_relaxed);
}

// Before main, so that the libraries' first render threads are seen too.
const bool observing = (qvdevice::setRenderThreadObserver(noteRenderThread), true);

} // namespace

extern "C" {
void* __wrap_malloc(size_t size) {
    count();
    return __real_malloc(size);
}
void* __wrap_calloc(size_t n, size_t size) {
    count();
    return __real_calloc(n, size);
}
void* __wrap_realloc(void* p, size_t size) {
    count();
    return __real_realloc(p, size);
}
}

namespace qvtest {

std::uint64_t renderThreadAllocations() {
    return allocations.load();
}

int renderThreadsSeen() {
    return observing ? threadsSeen.load() : 0;
}

} // namespace qvtest
