// The x86-64 kernels, one source per instruction set (vector_sse41.cpp,
// vector_avx2.cpp), each built with that set's compiler option. They are
// called only after the processor has been found to support the set.
#pragma once

#include <cstddef>
#include <cstdint>

#include "codec/vector.hpp"

#if defined(REKMO_VECTOR) && (defined(__x86_64__) || defined(_M_X64)) && (defined(__GNUC__) || defined(__clang__))
#define REKMO_VECTOR_X86 1
#else
#define REKMO_VECTOR_X86 0
#endif

#if REKMO_VECTOR_X86
namespace rekmo {

std::size_t sse41_host_text(const std::uint8_t* in, std::size_t n, std::uint8_t* out,
                            const std::uint8_t* table) noexcept;
std::size_t sse41_host_page_text(const std::uint8_t* in, std::size_t n, std::uint8_t* out,
                                 const std::uint8_t* rows) noexcept;
std::size_t sse41_keis_pairs(const std::uint8_t* in, std::size_t pairs, std::uint8_t* out) noexcept;
std::size_t sse41_jef_pairs(const std::uint8_t* in, std::size_t pairs, std::uint8_t* out) noexcept;
std::size_t sse41_jis_pairs(const std::uint8_t* in, std::size_t pairs, std::uint8_t* out) noexcept;
std::size_t sse41_packed_text(const std::uint8_t* in, std::size_t n, std::uint8_t* out) noexcept;
std::size_t sse41_zoned_text(const std::uint8_t* in, std::size_t n, std::uint8_t* out) noexcept;
std::size_t sse41_find_jef_shift(const std::uint8_t* in, std::size_t n) noexcept;
std::uint8_t* sse41_lines(const FieldStep* fields, std::size_t field_count, const std::uint8_t* records,
                          std::size_t record_length, std::size_t count, std::uint8_t* out) noexcept;

std::size_t avx2_host_text(const std::uint8_t* in, std::size_t n, std::uint8_t* out,
                           const std::uint8_t* table) noexcept;
std::size_t avx2_host_page_text(const std::uint8_t* in, std::size_t n, std::uint8_t* out,
                                const std::uint8_t* rows) noexcept;
std::size_t avx2_keis_pairs(const std::uint8_t* in, std::size_t pairs, std::uint8_t* out) noexcept;
std::size_t avx2_jef_pairs(const std::uint8_t* in, std::size_t pairs, std::uint8_t* out) noexcept;
std::size_t avx2_jis_pairs(const std::uint8_t* in, std::size_t pairs, std::uint8_t* out) noexcept;
std::size_t avx2_find_jef_shift(const std::uint8_t* in, std::size_t n) noexcept;
std::uint8_t* avx2_lines(const FieldStep* fields, std::size_t field_count, const std::uint8_t* records,
                         std::size_t record_length, std::size_t count, std::uint8_t* out) noexcept;

}  // namespace rekmo
#endif
