// Heap allocations made on the libraries' render threads, counted at link time (malloc, calloc
// and realloc are wrapped; operator new goes through malloc).
#pragma once

#include <cstdint>

namespace qvtest {

std::uint64_t renderThreadAllocations();
int renderThreadsSeen();

} // namespace qvtest
