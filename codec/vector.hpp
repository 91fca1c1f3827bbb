// Vector kernels for the hot loops of the decoders, chosen once by what the
// processor supports. The scalar code of each decoder is the reference: a
// kernel converts a prefix of its input exactly as the scalar code would and
// says how much it did, and the scalar code does the rest. A kernel writes
// only within the bytes its text takes (a number: within its item's bound),
// so every decoder keeps its bound.
//
// The kernels themselves (vector_x86.hpp) are built with instruction-set
// options of their own and share no inline code with the rest of the program.
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

// One output item of a record, for the line kernels. `call` is the item's
// decoder and what every op gives; the other ops are the common short items,
// which the kernels convert inline instead.
using FieldFn = std::size_t (*)(std::span<const std::uint8_t> item, std::uint8_t* out) noexcept;

enum class FieldOp : std::uint8_t {
    CALL,        // through `call`
    HOST_TEXT,   // host single-byte text through `table` and `rows` (a table that never gives 00)
    PAGE_TEXT,   // the same through a host code page's; `call` when a byte's text takes two
    PACKED,      // packed decimal of 1 to 8 bytes
    ZONED,       // zoned decimal of 1 to 15 bytes
    JIS,         // 7-bit JIS text (the common shapes; `call` for the rest)
    KEIS_PAIRS,  // KEIS double-byte text (KN); `call` when a character's code holds 00
    JEF_PAIRS,   // JEF double-byte text (FN); the same
    PAGE_PAIRS,  // double-byte text through a host code page's `pairs`; `call` for a one-byte text
    KEIS_MIXED,  // K: single-byte text, KEIS between 0A 42 and 0A 41 (through a page when `pairs` is set)
    JEF_MIXED,   // F: single-byte text, JEF between 28 and 29 (the same)
};

struct FieldStep {
    std::size_t start = 0;   // offset in the record; the item lies within it
    std::size_t length = 0;  // at least 1 for every op but CALL
    FieldOp op = FieldOp::CALL;
    const std::uint8_t* table = nullptr;   // HOST_TEXT, PAGE_TEXT: host byte -> text byte (0: two bytes)
    const std::uint8_t* rows = nullptr;    // the same table from host_text_rows
    const std::uint16_t* pairs = nullptr;  // PAGE_PAIRS: the page's texts by code (a HostPairTable)
    FieldFn call = nullptr;
};

// How far the line kernels may read past the last record they are given,
// and write past the last line.
constexpr std::size_t LINE_SLACK = 64;

// A CALL field's text: field.call over its bytes in `record`. Out of line,
// so that the kernels, built with instruction sets of their own, share no
// inline code with the rest of the program.
std::size_t call_field(const FieldStep& field, const std::uint8_t* record, std::uint8_t* out) noexcept;

struct VectorKernels {
    // Host single-byte text through `rows` (from host_text_rows): converts a
    // prefix of in[0, n) into out (which may be `in`) and returns its length.
    std::size_t (*host_text)(const std::uint8_t* in, std::size_t n, std::uint8_t* out,
                             const std::uint8_t* rows) noexcept;
    // The same for a host code page's table, which gives 00 for a byte whose
    // text takes two: stops before a step whose text holds a 00 byte, and
    // leaves the rest to the scalar code.
    std::size_t (*host_page_text)(const std::uint8_t* in, std::size_t n, std::uint8_t* out,
                                  const std::uint8_t* rows) noexcept;
    // Double-byte characters to Shift_JIS, two bytes each: converts a prefix
    // of the `pairs` pairs at `in` whose Shift_JIS codes hold no 00 byte,
    // writing two bytes per pair, and returns how many pairs it converted.
    // keis: row and cell with the high bit set; jef: the same, and 40 40 the
    // ideographic space 81 40; jis: row and cell as they are.
    std::size_t (*keis_pairs)(const std::uint8_t* in, std::size_t pairs, std::uint8_t* out) noexcept;
    std::size_t (*jef_pairs)(const std::uint8_t* in, std::size_t pairs, std::uint8_t* out) noexcept;
    std::size_t (*jis_pairs)(const std::uint8_t* in, std::size_t pairs, std::uint8_t* out) noexcept;
    // A packed item of 1 to 8 bytes or a zoned item of 1 to 15 (at most 15
    // digits: exact): writes its text and returns its length; 0 for other
    // lengths, which the kernel leaves to the scalar code. It may write
    // anywhere within packed_bound(n) or zoned_bound(n).
    std::size_t (*packed_text)(const std::uint8_t* in, std::size_t n, std::uint8_t* out) noexcept;
    std::size_t (*zoned_text)(const std::uint8_t* in, std::size_t n, std::uint8_t* out) noexcept;
    // The first byte of in[0, n) that is 28 or 29 (JEF shift codes), or n.
    std::size_t (*find_jef_shift)(const std::uint8_t* in, std::size_t n) noexcept;
    // The lines of `count` records of `record_length` bytes: each field's
    // text, a ',' after each but the last, a '\n' at the end of each line.
    // Returns the end of the lines. Each line holds at most the sum of its
    // fields' bounds plus one byte per field (one byte for no field); past
    // that, and past the last record, the kernel may reach LINE_SLACK bytes.
    std::uint8_t* (*lines)(const FieldStep* fields, std::size_t field_count, const std::uint8_t* records,
                           std::size_t record_length, std::size_t count, std::uint8_t* out) noexcept;
};

// The kernels of a level, or nullptr when this build or this processor lacks
// it. SCALAR kernels do nothing (they return 0; the JEF search is the plain
// loop, and the lines call each field's decoder).
const VectorKernels* vector_kernels(VectorLevel level) noexcept;

// The kernels that do nothing: each decoder's scalar code alone.
const VectorKernels& scalar_kernels() noexcept;

// The best level this processor supports, chosen at the first call; SCALAR in
// a build without vector kernels (REKMO_VECTOR off, or not x86-64).
VectorLevel best_vector_level() noexcept;

// The kernels of the best level, found at the first call.
inline const VectorKernels& active_kernels() noexcept {
    static const VectorKernels& active = *vector_kernels(best_vector_level());
    return active;
}

}  // namespace rekmo
