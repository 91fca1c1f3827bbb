// The levels of the decoders, chosen once by what the processor supports.
// Every decoder is one state machine over steps (codec/steps.hpp); a level is
// the machines over that level's steps, built in a source of its own with
// its instruction set's option (codec/level_sse41.cpp, codec/level_avx2.cpp).
// The scalar level is the reference: a vector step converts a prefix of its
// input exactly as the scalar code would and says how much it did, and the
// scalar code does the rest, so every level writes the same text within
// the same bound.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

namespace rekmo {

enum class VectorLevel { SCALAR, SSE41, AVX2 };

// A host single-byte table as the vector kernels read it: rows 4-F (host
// 40-FF) of 16 entries, XOR 20, each row twice (once for each 128-bit half of
// a 256-bit register). Host 00-3F must all give 20, so their rows are zero
// and left out: a table where they do not cannot be made (it does not
// compile).
using HostTextRows = std::array<std::uint8_t, 12 * 32>;
constexpr int HOST_ROW_STRIDE = 32;

constexpr HostTextRows host_text_rows(const std::uint8_t* table) {
    for (std::size_t i = 0; i < 0x40; ++i) {
        if (table[i] != 0x20) std::abort();
    }
    HostTextRows rows{};
    for (std::size_t i = 0; i < rows.size(); ++i) {
        rows[i] = static_cast<std::uint8_t>(table[0x40 + 16 * (i / 32) + i % 16] ^ 0x20);
    }
    return rows;
}

// How far the steps of the record lines (codec/steps_x86.hpp with SLACK) may
// read past an item and write past its text: less than this many bytes.
constexpr std::size_t STEP_REACH = 32;

// The bytes of a host code page (codec/host_code.hpp).
struct HostSingleByte;
struct HostCodePage;
struct HostUtf8Page;

// A decoder: writes the item's text to `out` (which holds the decoder's
// bound for the item's length) and returns its length.
using DecodeFn = std::size_t (*)(std::span<const std::uint8_t> item, std::uint8_t* out) noexcept;
using PageSingleFn = std::size_t (*)(std::span<const std::uint8_t> item, std::uint8_t* out,
                                     const HostSingleByte& page) noexcept;
using PageDecodeFn = std::size_t (*)(std::span<const std::uint8_t> item, std::uint8_t* out,
                                     const HostCodePage& page) noexcept;

// The decoders of one level: each decoder's state machine (codec/*_machine.hpp)
// over that level's steps. SCALAR is the reference, the machines over the
// scalar steps.
struct VectorKernels {
    VectorLevel level;
    DecodeFn ebcdic;           // E
    DecodeFn packed;           // P
    DecodeFn zoned;            // Z
    DecodeFn jis;              // J
    DecodeFn keis;             // K
    DecodeFn keis_n;           // KN
    DecodeFn jef;              // F
    DecodeFn jef_n;            // FN
    PageSingleFn page_single;  // E, and nothing else, through a host page
    PageDecodeFn page_keis;    // K through a KEIS page
    PageDecodeFn page_keis_n;  // KN
    PageDecodeFn page_jef;     // F through the JEF page
    PageDecodeFn page_jef_n;   // FN
    DecodeFn cp932_utf8;       // Shift_JIS text to UTF-8 (codec/cp932.hpp)
    DecodeFn ebcdic_utf8;      // E in UTF-8, in one pass (codec/ebcdic.hpp)
};

// The decoders of a level, or nullptr when this build or this processor lacks
// it.
const VectorKernels* vector_kernels(VectorLevel level) noexcept;

// The reference decoders: each machine over the scalar steps.
const VectorKernels& scalar_kernels() noexcept;

// The best level this processor supports, chosen at the first call; SCALAR in
// a build without vector kernels (REKMO_VECTOR off, or not x86-64).
VectorLevel best_vector_level() noexcept;

// The decoders of the best level, found at the first call.
inline const VectorKernels& active_kernels() noexcept {
    static const VectorKernels& active = *vector_kernels(best_vector_level());
    return active;
}

}  // namespace rekmo
