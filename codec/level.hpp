// A level's decoders: every machine over the steps S. Included by the
// source of each level (codec/vector.cpp for the scalar steps,
// codec/level_sse41.cpp and codec/level_avx2.cpp for the vector ones), each
// built with its own instruction set; everything here has internal linkage.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "codec/cp932_machine.hpp"
#include "codec/decimal_machine.hpp"
#include "codec/ebcdic_machine.hpp"
#include "codec/host_code.hpp"
#include "codec/jef_machine.hpp"
#include "codec/jis_machine.hpp"
#include "codec/keis_machine.hpp"
#include "codec/report.hpp"
#include "codec/vector.hpp"

namespace rekmo {
namespace level {
namespace {

using Item = std::span<const std::uint8_t>;

template <class S>
std::size_t ebcdic(Item item, std::uint8_t* out) noexcept {
    return ebcdic_text<S>(item.data(), item.size(), out);
}
template <class S>
std::size_t packed(Item item, std::uint8_t* out) noexcept {
    return decimal_text<S>(DECIMAL_PACKED, item, out);
}
template <class S>
std::size_t zoned(Item item, std::uint8_t* out) noexcept {
    return decimal_text<S>(DECIMAL_ZONED, item, out);
}
template <class S>
std::size_t jis(Item item, std::uint8_t* out) noexcept {
    return jis_text<S>(item, out);
}
template <class S>
std::size_t keis(Item item, std::uint8_t* out) noexcept {
    NoReport quiet;
    return keis_text<S>(item, out, quiet);
}
template <class S>
std::size_t keis_n(Item item, std::uint8_t* out) noexcept {
    NoReport quiet;
    return keis_n_text<S>(item, out, quiet);
}
template <class S>
std::size_t jef(Item item, std::uint8_t* out) noexcept {
    NoReport quiet;
    return jef_text<S>(item, out, quiet);
}
template <class S>
std::size_t jef_n(Item item, std::uint8_t* out) noexcept {
    NoReport quiet;
    return jef_n_text<S>(item, out, quiet);
}
template <class S>
std::size_t page_single(Item item, std::uint8_t* out, const HostSingleByte& page) noexcept {
    return page_single_text<S>(item.data(), item.size(), out, page);
}
template <class S>
std::size_t page_keis(Item item, std::uint8_t* out, const HostCodePage& page) noexcept {
    NoReport quiet;
    return keis_page_text<S>(item, out, page, quiet);
}
template <class S>
std::size_t page_keis_n(Item item, std::uint8_t* out, const HostCodePage& page) noexcept {
    NoReport quiet;
    return keis_n_page_text<S>(item, out, page, quiet);
}
template <class S>
std::size_t page_jef(Item item, std::uint8_t* out, const HostCodePage& page) noexcept {
    NoReport quiet;
    return jef_page_text<S>(item, out, page, quiet);
}
template <class S>
std::size_t page_jef_n(Item item, std::uint8_t* out, const HostCodePage& page) noexcept {
    NoReport quiet;
    return jef_n_page_text<S>(item, out, page, quiet);
}

template <class S>
std::size_t cp932_utf8(Item item, std::uint8_t* out) noexcept {
    return cp932_utf8_text<S>(item.data(), item.size(), out);
}

template <class S>
std::size_t ebcdic_utf8(Item item, std::uint8_t* out) noexcept {
    return ebcdic_utf8_text<S>(item.data(), item.size(), out);
}

template <class S>
constexpr VectorKernels kernels(VectorLevel level) noexcept {
    return {level,       ebcdic<S>,     packed<S>,     zoned<S>,       jis<S>,       keis<S>,
            keis_n<S>,   jef<S>,        jef_n<S>,      page_single<S>, page_keis<S>, page_keis_n<S>,
            page_jef<S>, page_jef_n<S>, cp932_utf8<S>, ebcdic_utf8<S>};
}

}  // namespace
}  // namespace level
}  // namespace rekmo
