// The record lines: every field of every record inline, each the machine of
// its item's decoder over one level's steps, joined by separators into
// lines. Included by the source of each level (record/line.cpp for the
// scalar steps, record/line_sse41.cpp and record/line_avx2.cpp for the
// vector ones, each built with its own instruction set): the templates here
// have internal linkage.
//
// With the vector steps' slack, a short field is whole loads and stores:
// the bytes a step writes past a field's text are overwritten by the
// separator and the fields after it, and the caller lets the lines reach
// LINE_SLACK bytes past the last record and the last line.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

#include "codec/cp932_machine.hpp"
#include "codec/decimal_machine.hpp"
#include "codec/ebcdic_machine.hpp"
#include "codec/jef_machine.hpp"
#include "codec/jis_machine.hpp"
#include "codec/keis_machine.hpp"
#include "codec/level_x86.hpp"
#include "codec/report.hpp"
#include "record/plan.hpp"

namespace rekmo {

#if REKMO_VECTOR_X86
std::uint8_t* sse41_lines(const PlanStep* steps, std::size_t step_count, const std::uint8_t* records,
                          std::size_t record_length, std::size_t count, std::uint8_t* out) noexcept;
std::uint8_t* avx2_lines(const PlanStep* steps, std::size_t step_count, const std::uint8_t* records,
                         std::size_t record_length, std::size_t count, std::uint8_t* out) noexcept;
#endif

namespace {

// Fields of text with shift codes are long enough that a call costs little
// beside them: out of the line's loop, so that the short items inline in it
// keep their registers. `op` is the step's op, or its text_op when the field
// is shaped.
template <class S>
[[gnu::noinline]] std::size_t shifted_field(ItemOp op, const PlanStep& step, const std::uint8_t* in,
                                            std::uint8_t* out) noexcept {
    const std::span<const std::uint8_t> item(in, step.length);
    NoReport quiet;
    switch (op) {
        case ItemOp::JIS:
            return decode_jis<S>(item, out, quiet);
        case ItemOp::KEIS:
            return keis_text<S>(item, out, quiet);
        case ItemOp::JEF:
            return jef_text<S>(item, out, quiet);
        case ItemOp::PAGE_KEIS:
            return keis_page_text<S>(item, out, *step.page, quiet);
        case ItemOp::PAGE_JEF:
            return jef_page_text<S>(item, out, *step.page, quiet);
        case ItemOp::CALL:
        case ItemOp::EBCDIC:
        case ItemOp::PACKED:
        case ItemOp::ZONED:
        case ItemOp::KEIS_N:
        case ItemOp::JEF_N:
        case ItemOp::PAGE_SINGLE:
        case ItemOp::PAGE_KEIS_N:
        case ItemOp::PAGE_JEF_N:
        case ItemOp::SHAPED:
        case ItemOp::EXACT_PACKED:
        case ItemOp::EXACT_ZONED:
        case ItemOp::SHAPED_EBCDIC:
        case ItemOp::UTF8_EBCDIC:
            break;  // inline in field_text
    }
    return decode_step(step, item, out);
}

template <class S>
std::size_t shaped_field(const PlanStep& step, const std::uint8_t* in, std::uint8_t* out) noexcept;

// One field's text at `out` from its item at `in`, converted as `op` says.
template <class S>
[[gnu::always_inline]] inline std::size_t field_text(ItemOp op, const PlanStep& step, const std::uint8_t* in,
                                                     std::uint8_t* out) noexcept {
    const std::span<const std::uint8_t> item(in, step.length);
    NoReport quiet;
    switch (op) {
        case ItemOp::CALL:
            return decode_step(step, item, out);
        case ItemOp::EBCDIC:
            return ebcdic_text<S>(in, step.length, out);
        case ItemOp::PACKED:
            return short_decimal_text<S>(DECIMAL_PACKED, item, out);
        case ItemOp::ZONED:
            return short_decimal_text<S>(DECIMAL_ZONED, item, out);
        case ItemOp::KEIS_N:
            return keis_n_text<S>(item, out, quiet);
        case ItemOp::JEF_N:
            return jef_n_text<S>(item, out, quiet);
        case ItemOp::PAGE_SINGLE:
            return page_single_text<S>(in, step.length, out, step.page->single);
        case ItemOp::PAGE_KEIS_N:
            return keis_n_page_text<S>(item, out, *step.page, quiet);
        case ItemOp::PAGE_JEF_N:
            return jef_n_page_text<S>(item, out, *step.page, quiet);
        case ItemOp::JIS:
        case ItemOp::KEIS:
        case ItemOp::JEF:
        case ItemOp::PAGE_KEIS:
        case ItemOp::PAGE_JEF:
            return shifted_field<S>(op, step, in, out);
        case ItemOp::SHAPED:
            return shaped_field<S>(step, in, out);
        case ItemOp::EXACT_PACKED:
            return short_exact_text<S>(DECIMAL_PACKED, item, out);
        case ItemOp::EXACT_ZONED:
            return short_exact_text<S>(DECIMAL_ZONED, item, out);
        case ItemOp::SHAPED_EBCDIC: {
            std::size_t len = ebcdic_text<S>(in, step.length, out);
            if constexpr (S::SHORT_SCAN) {
                // EBCDIC text is single bytes: its trailing spaces are 20s.
                if (len <= 16) {
                    const ShortScan scan = S::scan_short(out, len, ' ', QUOTE_NEEDED);
                    if (step.shape.trim) len = scan.unpadded;
                    const bool quoted = step.shape.quote && (len == 0 || (scan.hits & ((1u << len) - 1)) != 0);
                    return quoted ? quote_text(out, len) : len;
                }
            }
            if (step.shape.trim) len = trim_text(out, len);
            return step.shape.quote && needs_quotes<S>(out, len) ? quote_text(out, len) : len;
        }
        case ItemOp::UTF8_EBCDIC: {
            // Its only space is 20 (no host byte gives U+3000), and no
            // katakana byte is one that needs quotes.
            std::size_t len = ebcdic_utf8_text<S>(in, step.length, out);
            if (step.shape.trim) len = trim_spaces(out, len);
            return step.shape.quote && needs_quotes<S>(out, len) ? quote_text(out, len) : len;
        }
    }
    return decode_step(step, item, out);  // not reached: the switch names every op
}

// J, K, KN, F and FN text through the default tables in UTF-8, in one pass,
// into `out`; `unsure` when the text must be decoded from its Shift_JIS
// instead (Cp932Utf8Pair). SIZE_MAX for any other op.
template <class S>
std::size_t cp932_utf8_field(ItemOp op, const PlanStep& step, const std::uint8_t* in, std::uint8_t* out,
                             bool& unsure) noexcept {
    const std::span<const std::uint8_t> item(in, step.length);
    NoReport quiet;
    switch (op) {
        case ItemOp::KEIS:
            return keis_cp932_utf8_text<S>(item, out, quiet, unsure);
        case ItemOp::KEIS_N:
            return keis_n_cp932_utf8_text<S>(item, out, quiet, unsure);
        case ItemOp::JEF:
            return jef_cp932_utf8_text<S>(item, out, quiet, unsure);
        case ItemOp::JEF_N:
            return jef_n_cp932_utf8_text<S>(item, out, quiet, unsure);
        case ItemOp::JIS:
            return jis_cp932_utf8_text<S>(item, out, unsure);
        default:
            return SIZE_MAX;
    }
}

// A field the format's options change (record/field.hpp): a number printed
// exactly (the decoder's own text where that is the same), a text through
// its machine, then trimmed and quoted in place. Within the lines' slack: a
// short number is read as eight or sixteen bytes, and the search for what
// needs quotes reads past the text.
template <class S>
[[gnu::noinline]] std::size_t shaped_field(const PlanStep& step, const std::uint8_t* in, std::uint8_t* out) noexcept {
    const FieldShape& shape = step.shape;
    const std::size_t n = step.length;
    if (shape.number) return decode_number({in, n}, shape.form, out);
    if (shape.converts()) {
        // UTF-8 written straight from the host bytes where the op has that
        // form and the text is sure; else from the Shift_JIS text below.
        bool unsure = false;
        std::size_t len = cp932_utf8_field<S>(step.text_op, step, in, out, unsure);
        if (len != SIZE_MAX && !unsure) {
            if (shape.trim) len = trim_utf8(out, len);
            return shape.quote && needs_quotes<S>(out, len) ? quote_text(out, len) : len;
        }
    }
    std::uint8_t* const text = shape.converts() ? out + shape.utf8_at : out;
    std::size_t len = field_text<S>(step.text_op, step, in, text);
    if (!shape.text) return len;
    if (shape.trim) len = shape.utf8_text ? trim_utf8(text, len) : trim_text(text, len);
    if (shape.converts()) len = cp932_utf8_text<S>(text, len, out);
    if (shape.quote && needs_quotes<S>(out, len)) len = quote_text(out, len);
    return len;
}

template <class S>
std::uint8_t* write_lines(const PlanStep* steps, std::size_t step_count, const std::uint8_t* record,
                          std::size_t record_length, std::size_t count, std::uint8_t* out) noexcept {
    if (count == 0) return out;
    if (step_count == 0) {
        std::memset(out, LINE_END, count);
        return out + count;
    }
    // One loop over every field of every record: nested loops cost a
    // shuffle of registers per record. Every text is followed by a
    // separator, and the last separator of a line becomes its end.
    const PlanStep* const end = steps + step_count;
    const std::uint8_t* const last = record + (count - 1) * record_length;
    for (const PlanStep* step = steps;; ++step) {
        if (step == end) {
            out[-1] = LINE_END;
            if (record == last) return out;
            record += record_length;
            step = steps;
        }
        out += field_text<S>(step->op, *step, record + step->start, out);
        *out++ = SEPARATOR;
    }
}

}  // namespace
}  // namespace rekmo
