// What the fuzz targets share: a check that names itself on the error output and stops the run,
// so libFuzzer keeps the input, and the input read front to back.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#define CHECK(cond)                                                                                          \
    do {                                                                                                     \
        if (!(cond)) {                                                                                       \
            std::fprintf(stderr, "check failed: %s (%s:%d)\n", #cond, __FILE__, __LINE__);                   \
            std::abort();                                                                                    \
        }                                                                                                    \
    } while (0)

struct Input {
    const uint8_t* p;
    size_t n;
    bool Empty() const { return n == 0; }
    // The next byte; 0 once the input is used up.
    uint8_t Byte() { return n ? (--n, *p++) : 0; }
    uint32_t U16() { return (uint32_t)Byte() << 8 | Byte(); }
    // The next bytes, at most max of them.
    std::string Bytes(size_t max)
    {
        const size_t k = max < n ? max : n;
        std::string s(reinterpret_cast<const char*>(p), k);
        p += k;
        n -= k;
        return s;
    }
};
