// Helpers for files that a player must refuse or survive.
#include "tests/gen/detail.h"

#include <algorithm>

namespace qvgen {
namespace {

// xorshift32: the same bytes for the same seed on every platform.
uint8_t nextByte(uint32_t& state) {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return static_cast<uint8_t>(state >> 24);
}

} // namespace

Bytes truncated(const Bytes& bytes, size_t n) {
    return Bytes(bytes.begin(),
                 bytes.begin() + static_cast<std::ptrdiff_t>(std::min(n, bytes.size())));
}

Bytes withGarbageAfter(const Bytes& bytes, size_t keep, uint32_t seed) {
    Bytes out = bytes;
    uint32_t state = seed != 0 ? seed : 1;
    for (size_t i = keep; i < out.size(); ++i)
        out[i] = nextByte(state);
    return out;
}

Bytes garbage(size_t n, uint32_t seed) {
    return withGarbageAfter(Bytes(n), 0, seed);
}

void patchLE32(Bytes& bytes, size_t offset, uint32_t value) {
    detail::require(offset + 4 <= bytes.size(), "patch past the end");
    for (int i = 0; i < 4; ++i)
        bytes[offset + i] = static_cast<uint8_t>(value >> (8 * i));
}

} // namespace qvgen
