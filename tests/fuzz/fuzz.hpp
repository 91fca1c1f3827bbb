// Shared by the fuzz targets: each defines LLVMFuzzerTestOneInput, and a
// failed check aborts, which libFuzzer (or the corpus replay) reports.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>

#define FUZZ_CHECK(condition)                                                              \
    do {                                                                                   \
        if (!(condition)) {                                                                \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                                  \
        }                                                                                  \
    } while (false)

namespace rekmo::fuzz {

// True when no byte of the text is 0x00: no decoder writes one, since every
// text ends at its first zero byte.
inline bool has_no_zero(std::span<const std::uint8_t> text) {
    for (const std::uint8_t b : text)
        if (b == 0) return false;
    return true;
}

}  // namespace rekmo::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);
