#pragma once

#include <cstdio>
#include <cstdlib>

// A broken invariant in a fuzz target: say which, then abort, so that both the
// fuzzer and a corpus replay stop on the input that broke it.
#define KESTREL_FUZZ_CHECK(condition)                                                              \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            std::fprintf(stderr, "%s:%d: invariant broken: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                                          \
        }                                                                                          \
    } while (false)
