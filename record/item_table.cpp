#include "record/item_table.hpp"

#include <algorithm>
#include <array>
#include <cstring>

#include "codec/decimal.hpp"
#include "codec/decimal_machine.hpp"
#include "codec/ebcdic.hpp"
#include "codec/host_code.hpp"
#include "codec/jef.hpp"
#include "codec/jis.hpp"
#include "codec/keis.hpp"

namespace rekmo {
namespace {

// ITEM_NONE is refused when the format is checked; should it ever get here,
// its raw bytes are written up to the first zero byte.
std::size_t decode_raw(std::span<const std::uint8_t> item, std::uint8_t* out) noexcept {
    const auto n = static_cast<std::size_t>(std::find(item.begin(), item.end(), std::uint8_t{0}) - item.begin());
    if (n > 0) std::memcpy(out, item.data(), n);
    return n;
}

std::size_t decode_raw(std::span<const std::uint8_t> item, std::uint8_t* out, DecodeReport&) noexcept {
    return decode_raw(item, out);
}

// Indexed by ItemType: the decoder, its reporting form and its bound.
constexpr std::array<ItemCodec, 9> ITEM_CODECS = {{
    /* ITEM_NONE   */ {decode_raw, decode_raw, ebcdic_bound},
    /* ITEM_EBCDIC */ {ebcdic_to_jis8, ebcdic_to_jis8, ebcdic_bound, ItemOp::EBCDIC},
    /* ITEM_PACKED */ {decode_packed_field, decode_packed_field, packed_bound, ItemOp::PACKED},
    /* ITEM_ZONED  */ {decode_zoned_field, decode_zoned_field, zoned_bound, ItemOp::ZONED},
    /* ITEM_JIS    */ {decode_jis_field, decode_jis_field, jis_bound, ItemOp::JIS},
    /* ITEM_JEF    */ {decode_jef_field, decode_jef_field, jef_bound, ItemOp::JEF},
    /* ITEM_JEF_N  */ {decode_jef_n_field, decode_jef_n_field, jef_bound, ItemOp::JEF_N},
    /* ITEM_KEIS   */ {decode_keis_field, decode_keis_field, keis_bound, ItemOp::KEIS},
    /* ITEM_KEIS_N */ {decode_keis_n_field, decode_keis_n_field, keis_bound, ItemOp::KEIS_N},
}};

// The decoders through a host code page, one instance per page, so that a
// plan step keeps a plain function and the default decoders pay nothing.
template <const HostCodePage& PAGE>
std::size_t host_single(std::span<const std::uint8_t> item, std::uint8_t* out) noexcept {
    return host_single_to_sjis(item, out, PAGE.single);
}

template <const HostCodePage& PAGE>
std::size_t host_single(std::span<const std::uint8_t> item, std::uint8_t* out, DecodeReport& report) noexcept {
    note_lost_singles(item, PAGE.lost_singles, report);
    return host_single_to_sjis(item, out, PAGE.single, scalar_kernels());
}

template <const HostCodePage& PAGE, auto DECODE>
std::size_t host_field(std::span<const std::uint8_t> item, std::uint8_t* out) noexcept {
    return DECODE(item, out, PAGE);
}

template <const HostCodePage& PAGE, auto DECODE>
std::size_t host_field(std::span<const std::uint8_t> item, std::uint8_t* out, DecodeReport& report) noexcept {
    return DECODE(item, out, PAGE, report);
}

using PageReportFn = std::size_t (*)(std::span<const std::uint8_t>, std::uint8_t*, const HostCodePage&,
                                     DecodeReport&) noexcept;

// E, then the mixed type, then the double-byte-only type of each page.
struct HostCodecs {
    ItemCodec single, mixed, pairs;
};

template <const HostCodePage& PAGE, ItemOp MIXED_OP, PageDecodeFn MIXED, PageReportFn MIXED_REPORT, ItemOp PAIRS_OP,
          PageDecodeFn PAIRS, PageReportFn PAIRS_REPORT>
HostCodecs host_codecs() noexcept {
    return {{host_single<PAGE>, host_single<PAGE>, host_single_bound, ItemOp::PAGE_SINGLE, &PAGE},
            {host_field<PAGE, MIXED>, host_field<PAGE, MIXED_REPORT>, host_single_bound, MIXED_OP, &PAGE},
            {host_field<PAGE, PAIRS>, host_field<PAGE, PAIRS_REPORT>, host_pairs_bound, PAIRS_OP, &PAGE}};
}

const HostCodecs JEF_CODECS = host_codecs<HOST_PAGE_JEF, ItemOp::PAGE_JEF, decode_jef_field, decode_jef_field,
                                          ItemOp::PAGE_JEF_N, decode_jef_n_field, decode_jef_n_field>();
const HostCodecs KEIS78_CODECS = host_codecs<HOST_PAGE_KEIS78, ItemOp::PAGE_KEIS, decode_keis_field, decode_keis_field,
                                             ItemOp::PAGE_KEIS_N, decode_keis_n_field, decode_keis_n_field>();
const HostCodecs KEIS83_CODECS = host_codecs<HOST_PAGE_KEIS83, ItemOp::PAGE_KEIS, decode_keis_field, decode_keis_field,
                                             ItemOp::PAGE_KEIS_N, decode_keis_n_field, decode_keis_n_field>();

// Through a UTF-8 page: the machines over the scalar steps, called from the
// lines like any decoder.
template <const HostUtf8Page& PAGE>
std::size_t utf8_single(std::span<const std::uint8_t> item, std::uint8_t* out) noexcept {
    return host_single_to_utf8(item, out, PAGE);
}

template <const HostUtf8Page& PAGE>
std::size_t utf8_single(std::span<const std::uint8_t> item, std::uint8_t* out, DecodeReport&) noexcept {
    return host_single_to_utf8(item, out, PAGE);
}

template <const HostUtf8Page& PAGE, auto DECODE>
std::size_t utf8_field(std::span<const std::uint8_t> item, std::uint8_t* out) noexcept {
    return DECODE(item, out, PAGE);
}

template <const HostUtf8Page& PAGE, auto DECODE>
std::size_t utf8_field(std::span<const std::uint8_t> item, std::uint8_t* out, DecodeReport& report) noexcept {
    return DECODE(item, out, PAGE, report);
}

using Utf8DecodeFn = std::size_t (*)(std::span<const std::uint8_t>, std::uint8_t*, const HostUtf8Page&) noexcept;
using Utf8ReportFn = std::size_t (*)(std::span<const std::uint8_t>, std::uint8_t*, const HostUtf8Page&,
                                     DecodeReport&) noexcept;

template <const HostUtf8Page& PAGE, Utf8DecodeFn MIXED, Utf8ReportFn MIXED_REPORT, Utf8DecodeFn PAIRS,
          Utf8ReportFn PAIRS_REPORT>
HostCodecs utf8_codecs() noexcept {
    return {{utf8_single<PAGE>, utf8_single<PAGE>, host_utf8_bound, ItemOp::CALL, nullptr, true},
            {utf8_field<PAGE, MIXED>, utf8_field<PAGE, MIXED_REPORT>, host_utf8_bound, ItemOp::CALL, nullptr, true},
            {utf8_field<PAGE, PAIRS>, utf8_field<PAGE, PAIRS_REPORT>, host_utf8_bound, ItemOp::CALL, nullptr, true}};
}

const HostCodecs JEF_UTF8_CODECS =
    utf8_codecs<HOST_UTF8_JEF, decode_jef_field, decode_jef_field, decode_jef_n_field, decode_jef_n_field>();
const HostCodecs KEIS78_UTF8_CODECS =
    utf8_codecs<HOST_UTF8_KEIS78, decode_keis_field, decode_keis_field, decode_keis_n_field, decode_keis_n_field>();
const HostCodecs KEIS83_UTF8_CODECS =
    utf8_codecs<HOST_UTF8_KEIS83, decode_keis_field, decode_keis_field, decode_keis_n_field, decode_keis_n_field>();

// Through a page made at run time.
template <auto DECODE, class Page>
std::size_t runtime_field(std::span<const std::uint8_t> item, std::uint8_t* out, const void* page) noexcept {
    return DECODE(item, out, *static_cast<const Page*>(page));
}

template <auto DECODE, class Page>
std::size_t runtime_field(std::span<const std::uint8_t> item, std::uint8_t* out, const void* page,
                          DecodeReport& report) noexcept {
    return DECODE(item, out, *static_cast<const Page*>(page), report);
}

std::size_t runtime_single(std::span<const std::uint8_t> item, std::uint8_t* out, const void* page) noexcept {
    return host_single_to_sjis(item, out, static_cast<const HostCodePage*>(page)->single);
}

std::size_t runtime_single(std::span<const std::uint8_t> item, std::uint8_t* out, const void* page,
                           DecodeReport& report) noexcept {
    const auto& p = *static_cast<const HostCodePage*>(page);
    note_lost_singles(item, p.lost_singles, report);
    return host_single_to_sjis(item, out, p.single, scalar_kernels());
}

std::size_t runtime_utf8_single(std::span<const std::uint8_t> item, std::uint8_t* out, const void* page) noexcept {
    return host_single_to_utf8(item, out, *static_cast<const HostUtf8Page*>(page));
}

std::size_t runtime_utf8_single(std::span<const std::uint8_t> item, std::uint8_t* out, const void* page,
                                DecodeReport&) noexcept {
    return host_single_to_utf8(item, out, *static_cast<const HostUtf8Page*>(page));
}

}  // namespace

ItemCodec page_codec(ItemType type, const HostCodePage& page) noexcept {
    using P = HostCodePage;
    ItemCodec codec{nullptr, nullptr, host_single_bound, ItemOp::PAGE_SINGLE, &page};
    codec.page_data = &page;
    codec.page_decode = runtime_single;
    codec.page_report = runtime_single;
    switch (type) {
        case ITEM_JEF:
            codec.op = ItemOp::PAGE_JEF;
            codec.page_decode = runtime_field<static_cast<PageDecodeFn>(decode_jef_field), P>;
            codec.page_report = runtime_field<static_cast<PageReportFn>(decode_jef_field), P>;
            break;
        case ITEM_JEF_N:
            codec.op = ItemOp::PAGE_JEF_N;
            codec.bound = host_pairs_bound;
            codec.page_decode = runtime_field<static_cast<PageDecodeFn>(decode_jef_n_field), P>;
            codec.page_report = runtime_field<static_cast<PageReportFn>(decode_jef_n_field), P>;
            break;
        case ITEM_KEIS:
            codec.op = ItemOp::PAGE_KEIS;
            codec.page_decode = runtime_field<static_cast<PageDecodeFn>(decode_keis_field), P>;
            codec.page_report = runtime_field<static_cast<PageReportFn>(decode_keis_field), P>;
            break;
        case ITEM_KEIS_N:
            codec.op = ItemOp::PAGE_KEIS_N;
            codec.bound = host_pairs_bound;
            codec.page_decode = runtime_field<static_cast<PageDecodeFn>(decode_keis_n_field), P>;
            codec.page_report = runtime_field<static_cast<PageReportFn>(decode_keis_n_field), P>;
            break;
        default:
            break;  // E
    }
    return codec;
}

ItemCodec page_codec(ItemType type, const HostUtf8Page& page) noexcept {
    using P = HostUtf8Page;
    ItemCodec codec{nullptr, nullptr, gaiji_utf8_bound, ItemOp::CALL, nullptr, true};
    codec.page_data = &page;
    codec.page_decode = runtime_utf8_single;
    codec.page_report = runtime_utf8_single;
    switch (type) {
        case ITEM_JEF:
            codec.page_decode = runtime_field<static_cast<Utf8DecodeFn>(decode_jef_field), P>;
            codec.page_report = runtime_field<static_cast<Utf8ReportFn>(decode_jef_field), P>;
            break;
        case ITEM_JEF_N:
            codec.page_decode = runtime_field<static_cast<Utf8DecodeFn>(decode_jef_n_field), P>;
            codec.page_report = runtime_field<static_cast<Utf8ReportFn>(decode_jef_n_field), P>;
            break;
        case ITEM_KEIS:
            codec.page_decode = runtime_field<static_cast<Utf8DecodeFn>(decode_keis_field), P>;
            codec.page_report = runtime_field<static_cast<Utf8ReportFn>(decode_keis_field), P>;
            break;
        case ITEM_KEIS_N:
            codec.page_decode = runtime_field<static_cast<Utf8DecodeFn>(decode_keis_n_field), P>;
            codec.page_report = runtime_field<static_cast<Utf8ReportFn>(decode_keis_n_field), P>;
            break;
        default:
            break;  // E
    }
    return codec;
}

ItemOp item_op(const ItemCodec& codec, std::size_t length) noexcept {
    if (length == 0) return ItemOp::CALL;
    if (codec.op == ItemOp::PACKED && !short_decimal(DECIMAL_PACKED, length)) return ItemOp::CALL;
    if (codec.op == ItemOp::ZONED && !short_decimal(DECIMAL_ZONED, length)) return ItemOp::CALL;
    return codec.op;
}

const ItemCodec& item_codec(ItemType type) noexcept {
    const auto index = static_cast<std::size_t>(type);
    return index < ITEM_CODECS.size() ? ITEM_CODECS[index] : ITEM_CODECS[ITEM_NONE];
}

const ItemCodec& item_codec(ItemType type, HostCode host) noexcept { return item_codec(type, host, false); }

const ItemCodec& item_codec(ItemType type, HostCode host, bool utf8) noexcept {
    const HostCodecs* codecs = nullptr;
    ItemType mixed = ITEM_KEIS;
    ItemType pairs = ITEM_KEIS_N;
    switch (host) {
        case HostCode::JEF:
            codecs = utf8 ? &JEF_UTF8_CODECS : &JEF_CODECS;
            mixed = ITEM_JEF;
            pairs = ITEM_JEF_N;
            break;
        case HostCode::KEIS78:
            codecs = utf8 ? &KEIS78_UTF8_CODECS : &KEIS78_CODECS;
            break;
        case HostCode::KEIS83:
            codecs = utf8 ? &KEIS83_UTF8_CODECS : &KEIS83_CODECS;
            break;
        case HostCode::NONE:
            break;
    }
    if (codecs == nullptr) return item_codec(type);
    if (type == ITEM_EBCDIC) return codecs->single;
    if (type == mixed) return codecs->mixed;
    if (type == pairs) return codecs->pairs;
    return item_codec(type);
}

}  // namespace rekmo
