// Item type -> decoder: the one place that lists every decoder.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "codec/report.hpp"
#include "codec/vector.hpp"
#include "format/format.hpp"

namespace rekmo {

// DecodeFn (codec/vector.hpp) writes an item's text (never holding a 0x00
// byte) to `out` and returns its length; `out` holds at least
// bound(item.size()) bytes.
// The same decoder, noting what it drops or finds unusual in `report`.
using ReportFn = std::size_t (*)(std::span<const std::uint8_t> item, std::uint8_t* out, DecodeReport& report) noexcept;
// Worst-case text length for an item of n bytes.
using BoundFn = std::size_t (*)(std::size_t n) noexcept;

// How the record lines convert an item: its decoder's machine over the
// level's steps, inline in the line.
enum class ItemOp : std::uint8_t {
    CALL,  // through `decode`: a raw item, or one that reads nothing
    EBCDIC,
    PACKED,  // 1 to 8 bytes (longer: CALL)
    ZONED,   // 1 to 15 bytes (longer: CALL)
    JIS,
    KEIS,
    KEIS_N,
    JEF,
    JEF_N,
    PAGE_SINGLE,  // E through `page`
    PAGE_KEIS,    // K, KN through a KEIS `page`
    PAGE_KEIS_N,
    PAGE_JEF,  // F, FN through the JEF `page`
    PAGE_JEF_N,
    SHAPED,         // a field the format's options change (record/field.hpp), through `decode`
    EXACT_PACKED,   // PACKED printed exactly in the plain form (codec/number.hpp): its text, or empty
    EXACT_ZONED,    // the same for ZONED
    SHAPED_EBCDIC,  // EBCDIC trimmed or quoted, in Shift_JIS
    UTF8_EBCDIC,    // EBCDIC in UTF-8 (CSV=UTF8), trimmed or quoted as the shape says
};

// A decoder through a page made when the format is compiled (a gaiji
// table's, record/gaiji_page.hpp), which it is given as `page`.
using PageStepFn = std::size_t (*)(std::span<const std::uint8_t> item, std::uint8_t* out, const void* page) noexcept;
using PageStepReportFn = std::size_t (*)(std::span<const std::uint8_t> item, std::uint8_t* out, const void* page,
                                         DecodeReport& report) noexcept;

struct ItemCodec {
    DecodeFn decode;
    ReportFn report;
    BoundFn bound;
    ItemOp op = ItemOp::CALL;
    const HostCodePage* page = nullptr;  // the PAGE_ ops'
    bool utf8 = false;                   // writes UTF-8 itself (a host page's own characters)
    // Through a page made at run time: these instead of `decode` and `report`.
    PageStepFn page_decode = nullptr;
    PageStepReportFn page_report = nullptr;
    const void* page_data = nullptr;
};

// The codec for an item type. ITEM_NONE never reaches conversion (the format
// check refuses it); it maps to a row that writes the raw bytes.
const ItemCodec& item_codec(ItemType type) noexcept;

// The codec for an item type under a format's HOSTCODE: the host code page's
// decoders for the types it covers, the default ones for the others.
const ItemCodec& item_codec(ItemType type, HostCode host) noexcept;

// The same for a format with CSV=UTF8: the types a host code page covers
// write the page's own characters in UTF-8; the others (and every type
// without HOSTCODE) write Shift_JIS, which the field's shape turns into
// UTF-8.
const ItemCodec& item_codec(ItemType type, HostCode host, bool utf8) noexcept;

// The codec of a text item type (E, F, FN, K, KN) through a page made at run
// time: in Shift_JIS through the page ops, in UTF-8 by a call.
ItemCodec page_codec(ItemType type, const HostCodePage& page) noexcept;
ItemCodec page_codec(ItemType type, const HostUtf8Page& page) noexcept;

// The op of an item of `length` bytes of this codec: CALL for a length of 0
// (a negative length reads nothing) and for numbers too long for the steps
// to take whole, else the codec's.
ItemOp item_op(const ItemCodec& codec, std::size_t length) noexcept;

}  // namespace rekmo
