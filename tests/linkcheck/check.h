// Tiny assertion helper for the link checks: each program is a main() that
// returns non-zero on the first failed expectation.
#pragma once

#include <cstdio>

#define CHECK(cond)                                                                                \
    do {                                                                                           \
        if (!(cond)) {                                                                             \
            std::fprintf(stderr, "%s:%d: CHECK failed: %s\n", __FILE__, __LINE__, #cond);          \
            return 1;                                                                              \
        }                                                                                          \
    } while (0)
