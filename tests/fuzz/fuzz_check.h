// The fuzz targets' check: a failed one names itself on the error output and stops the run, so
// libFuzzer keeps the input.
#pragma once

#include <cstdio>
#include <cstdlib>

#define CHECK(cond)                                                                                          \
    do {                                                                                                     \
        if (!(cond)) {                                                                                       \
            std::fprintf(stderr, "check failed: %s (%s:%d)\n", #cond, __FILE__, __LINE__);                   \
            std::abort();                                                                                    \
        }                                                                                                    \
    } while (0)
