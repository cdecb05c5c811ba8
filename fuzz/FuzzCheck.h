// What every harness shares: a check that aborts (so libFuzzer keeps the input) with a
// message saying which promise broke.
#pragma once

#include <cstdio>
#include <cstdlib>

#define FUZZ_CHECK(condition, what)                                                         \
    do {                                                                                    \
        if (!(condition)) {                                                                 \
            std::fprintf(stderr, "broken promise: %s (%s:%d)\n", what, __FILE__, __LINE__); \
            std::abort();                                                                   \
        }                                                                                   \
    } while (0)
