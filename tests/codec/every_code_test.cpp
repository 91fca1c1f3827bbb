// Every double-byte code (KEIS, JEF, JIS, and each host page's) and every
// single byte (E, and each host page's single-byte table) on each vector
// level against the scalar code, byte for byte: through each decoder's form
// that takes a level, as a run of pairs, inside K and F text between shift
// codes (through the default tables and through the host pages) and inside
// J's escape sequences; and through the record line among many records,
// where the record lines convert them inline. A failure names the first
// code that differs.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "support/levels.hpp"

namespace rekmo {
namespace {

using test::Bytes;

std::string hex(unsigned code, int digits) {
    char text[8];
    std::snprintf(text, sizeof text, "%0*X", digits, code);
    return text;
}

// An item form: its type, the bytes around the code's stretch, a lone byte
// after the pairs.
struct Form {
    std::string_view type;
    Bytes before{}, after{};
    bool odd = false;
};

// The form's item for `code`, of `size` pairs (E: bytes). Double-byte text:
// `code` at place code % size among hiragana, each a different one, so that
// a step that moves lanes shows; K, F and J begin with three host bytes, one
// of them the code's low byte. E: host letters, the code's low byte at a
// place set by its high byte. P and Z: digits, the code as the last two
// bytes (the sign's). Valid until the next call.
const Bytes& item_of(const Form& form, unsigned code, std::size_t size) {
    const auto low = static_cast<std::uint8_t>(code);
    const unsigned high = code >> 8;
    const std::string_view type = form.type.substr(0, form.type.find('/'));  // K/KEIS78 is K through a page
    static Bytes out;                                                        // reused: millions of items
    out.clear();
    auto single = [&](std::size_t n, std::size_t at) {
        for (std::size_t k = 0; k < n; ++k) out.push_back(k == at ? low : static_cast<std::uint8_t>(0xC1 + k % 9));
    };
    if (type == "E") {
        single(size, high % size);
    } else if (type == "P" || type == "Z") {
        for (std::size_t k = 2; k < size; ++k)
            out.push_back(static_cast<std::uint8_t>(type == "P" ? 0x11 * (1 + k % 9) : 0xF1 + k % 9));
        out.push_back(static_cast<std::uint8_t>(high));
        out.push_back(low);
    } else {
        if (type == "K" || type == "F" || type == "J") single(3, high % 3);
        out.insert(out.end(), form.before.begin(), form.before.end());
        const std::uint8_t row4 = type == "J" ? 0x24 : 0xA4;  // hiragana
        for (std::size_t k = 0; k < size; ++k) {
            const bool here = k == code % size;
            out.push_back(here ? static_cast<std::uint8_t>(high) : row4);
            out.push_back(here ? low : static_cast<std::uint8_t>((row4 & 0x80) + 0x21 + k));
        }
        if (form.odd) out.push_back(row4);
    }
    out.insert(out.end(), form.after.begin(), form.after.end());
    return out;
}

const Form K_FORM{"K", {0x0A, 0x42}, {0x0A, 0x41, 0xC2}};
const Form F_FORM{"F", {0x28}, {0x29, 0xC2}};
const Form J_FORM{"J", {0x1B, '$', 'B'}, {0x1B, '(', 'J', 'B'}};
const Form CODE_FORMS[] = {{"KN"},
                           {"FN"},
                           K_FORM,
                           F_FORM,
                           J_FORM,
                           {"P"},
                           {"Z"},
                           {"KN/KEIS78"},
                           {"KN/KEIS83"},
                           {"FN/JEF"},
                           {"K/KEIS78", K_FORM.before, K_FORM.after},
                           {"F/JEF", F_FORM.before, F_FORM.after}};

// The same item through the level and through the scalar code.
bool same_text(const Form& form, const Bytes& item, const VectorKernels& kernels) {
    static Bytes level, scalar;
    const test::LevelDecoder& decoder = *test::level_decoder(form.type);
    test::decode_into(decoder, item, kernels, level);
    test::decode_into(decoder, item, scalar_kernels(), scalar);
    return level == scalar;
}

class EveryCode : public test::LevelTest {};

// Double-byte text in runs of 3 to 15 pairs (the 128-bit steps, their
// partial loads) and of 16 to 40 (whole 256-bit steps and the overlapping
// last one); numbers of 2 to 8 bytes (P) and 2 to 15 (Z).
TEST_P(EveryCode, DecodesAsTheScalarCode) {
    for (const Form& form : CODE_FORMS) {
        for (unsigned code = 0; code < 0x10000; ++code) {
            const bool number = form.type == "P" || form.type == "Z";
            const std::size_t sizes[] = {number ? 2 + code % 7 : 3 + code % 13,
                                         number ? 2 + code % 14 : 16 + code % 25};
            for (const std::size_t size : sizes) {
                if (form.type == "P" && size > 8) continue;
                if (!same_text(form, item_of(form, code, size), kernels())) {
                    ADD_FAILURE() << form.type << ": code " << hex(code, 4) << " in an item of " << size;
                    code = 0xFFFF;
                    break;
                }
            }
        }
    }
}

// Each byte in items of every length up to 40 (a byte at a time, the two
// halves of 8 to 15, one or two 128-bit steps, 256-bit steps) at two places
// that move with the byte, alone and as the single-byte stretch of K and F
// text.
TEST_P(EveryCode, SingleBytesDecodeAsTheScalarCode) {
    const Form forms[] = {{"E"},
                          {"E/JEF"},
                          {"E/KEIS78"},
                          {"E/KEIS83"},
                          {"K", {}, {0x0A, 0x42, 0xA4, 0xA2, 0x0A, 0x41}},
                          {"F", {}, {0x28, 0xA4, 0xA2, 0x29}}};
    for (const Form& form : forms) {
        const Form single{"E", {}, form.after};
        for (unsigned byte = 0; byte < 256; ++byte) {
            for (std::size_t n = 1; n <= 40; ++n) {
                for (const std::size_t at : {byte % n, n - 1 - byte % n}) {
                    if (!same_text(form, item_of(single, static_cast<unsigned>(at << 8) | byte, n), kernels())) {
                        ADD_FAILURE() << form.type << ": byte " << hex(byte, 2) << " at " << at << " of " << n;
                        return;
                    }
                }
            }
        }
    }
}

// A record for every double-byte code: fields of every type the line
// kernels convert inline, of the lengths that take each of their forms,
// each holding the code (E: its low byte). Under each host page too, whose
// fields take its tables.
struct LineField {
    Form form;
    std::size_t size;
};

const LineField LINE_FIELDS[] = {
    {{"E"}, 3},
    {{"E"}, 8},
    {{"E"}, 13},
    {{"E"}, 40},
    {{"KN", {}, {}, true}, 2},
    {{"KN"}, 7},
    {{"KN", {}, {}, true}, 21},
    {{"FN"}, 3},
    {{"FN", {}, {}, true}, 8},
    {{"FN"}, 16},
    {K_FORM, 5},
    {K_FORM, 19},
    {F_FORM, 4},
    {F_FORM, 17},
    {J_FORM, 6},
    {{"J", {0x1B, '$', 'B'}, {0x1B, '(', 'H'}}, 18},
    {{"P"}, 2},
    {{"P"}, 8},
    {{"Z"}, 3},
    {{"Z"}, 15},
};

// The records, one per code, and the item line of each field.
struct Records {
    Bytes bytes;
    std::vector<std::string> items;
};

const Records& line_records() {
    static const Records records = [] {
        Records r;
        for (unsigned code = 0; code < 0x10000; ++code) {
            for (const LineField& field : LINE_FIELDS) {
                const Bytes& item = item_of(field.form, code, field.size);
                if (code == 0) {
                    r.items.push_back("X," + std::to_string(r.bytes.size() + 1) + "," + std::to_string(item.size()) +
                                      "," + std::string(field.form.type) + ",1\n");
                }
                r.bytes.insert(r.bytes.end(), item.begin(), item.end());
            }
            if (code == 0) r.bytes.reserve(r.bytes.size() * 0x10000);
        }
        return r;
    }();
    return records;
}

// Without a page every field; under a page the fields of the types it
// converts.
TEST_P(EveryCode, ConvertsAsTheScalarCodeThroughTheRecordLine) {
    const Records& r = line_records();
    const std::string_view pages[][4] = {
        {"", "", "", ""}, {"JEF", "E", "FN", "F"}, {"KEIS78", "E", "KN", "K"}, {"KEIS83", "E", "KN", "K"}};
    for (const auto& page : pages) {
        const std::string_view host_code = page[0];
        std::string format = "RECLEN=" + std::to_string(r.bytes.size() / 0x10000) + "\n";
        if (!host_code.empty()) format += "HOSTCODE=" + std::string(host_code) + "\n";
        for (std::size_t f = 0; f < std::size(LINE_FIELDS); ++f) {
            const std::string_view type = LINE_FIELDS[f].form.type;
            if (host_code.empty() || type == page[1] || type == page[2] || type == page[3]) format += r.items[f];
        }
        const Bytes& records = r.bytes;
        const FormatDef def = test::format_of(format);
        std::vector<std::size_t> ends;
        const std::string expected = test::scalar_lines(def, records, &ends);
        const std::string got = test::level_lines(def, records, kernels());
        if (got != expected) {
            const auto at = static_cast<std::size_t>(
                std::mismatch(got.begin(), got.end(), expected.begin(), expected.end()).first - got.begin());
            const auto code = static_cast<unsigned>(std::upper_bound(ends.begin(), ends.end(), at) - ends.begin());
            ADD_FAILURE() << "HOSTCODE=" << host_code << ": the line of code " << hex(code, 4) << " differs";
        }
    }
}

INSTANTIATE_TEST_SUITE_P(, EveryCode, testing::ValuesIn(test::VECTOR_LEVELS), test::level_param_name);

}  // namespace
}  // namespace rekmo
