// What a decoder can tell about an item besides its text: the data it drops
// or reads in an unusual way. rekmo never asks; rekmo-inspect does.
//
// Each decoder is one template over its report type. With NoReport every
// note is an empty inline call, so the converter's code is the same as if
// no report existed; with DecodeReport the same code records its findings.
#pragma once

#include <cstdint>

namespace rekmo {

// One bit per kind of finding; an item's findings are their union.
enum Finding : std::uint32_t {
    // In the converted text: the CSV line would gain a column or a line.
    FINDING_COMMA = 1u << 0,
    FINDING_CR = 1u << 1,
    FINDING_LF = 1u << 2,
    // Data the conversion drops.
    FINDING_UNCLOSED_RUN = 1u << 3,  // a double-byte run never shifted back: its characters are lost
    FINDING_LONE_BYTE = 1u << 4,     // a double-byte run or item with an odd byte at its end
    FINDING_ZERO_BYTE = 1u << 5,     // J: a zero byte ends the text before later non-zero bytes
    FINDING_MAPPING_ZERO = 1u << 6,  // a double-byte code whose Shift_JIS code holds a 00 byte
    FINDING_ESC_B = 1u << 7,         // J: ESC ( B inside a double-byte run (it does not end the run)
    // Unusual data.
    FINDING_UNASSIGNED = 1u << 8,     // a double-byte code outside the 6879 characters of JIS X 0208
    FINDING_NON_DIGIT = 1u << 9,      // P, Z: a digit half-byte above 9 ends the number
    FINDING_UNUSUAL_SIGN = 1u << 10,  // P, Z: a sign half-byte other than C, D or F
    FINDING_PRECISION = 1u << 11,     // P, Z: the printed number differs from the item's digits
    // What a real host's code page means otherwise (a HOSTCODE= line converts it).
    FINDING_HOST_SPACE = 1u << 12,    // single-byte text: a character of both hosts' EBCDIK written as a space
    FINDING_JEF_1978 = 1u << 13,      // F, FN: a code whose character differs between the 1978 and 1983 orderings
    FINDING_KEIS_1978 = 1u << 14,     // K, KN: the same for KEIS in the 1978 ordering
    FINDING_JEF_EXTENDED = 1u << 15,  // F, FN: a JEF extended kanji (rows 41-7F) written as raw bytes
    FINDING_KEIS_SPACE = 1u << 16,    // K, KN: 40 40, the KEIS double-byte space, written as 10 3D
    // More of the CSV line: a quote a reader takes as the start of a quoted field.
    FINDING_QUOTE = 1u << 17,  // a text item holds '"' and is written unquoted
    // Under the number options: no number, written as an empty field.
    FINDING_BAD_NUMBER = 1u << 18,  // P, Z: a digit position not 0-9, a sign half-byte 0-9, or a bad sign byte
    // Through a host code page in Shift_JIS: a character the text does not hold.
    FINDING_CP932_LOSS = 1u << 19,  // written as 〓, a compatibility form or another character; CSV=UTF8 keeps it
    // A code of a user-defined area that no gaiji table entry covers: the site's own character, unknown.
    FINDING_GAIJI = 1u << 20,
};

inline constexpr int FINDING_KINDS = 21;

// The short name of each finding, by bit number, as reports and tests write it.
inline constexpr const char* FINDING_NAMES[] = {
    "comma",     "cr",           "lf",         "unclosed_run", "lone_byte",  "zero_byte",  "mapping_zero",
    "esc_b",     "unassigned",   "non_digit",  "unusual_sign", "precision",  "host_space", "jef_1978",
    "keis_1978", "jef_extended", "keis_space", "quote",        "bad_number", "cp932_loss", "gaiji",
};
static_assert(sizeof FINDING_NAMES / sizeof FINDING_NAMES[0] == FINDING_KINDS, "a name for every finding");

// The report the converter passes: notes nothing, costs nothing.
struct NoReport {
    static constexpr bool ACTIVE = false;
    constexpr void note(Finding) noexcept {}
};

// The report rekmo-inspect passes.
struct DecodeReport {
    static constexpr bool ACTIVE = true;
    std::uint32_t found = 0;
    constexpr void note(Finding finding) noexcept { found |= finding; }
};

}  // namespace rekmo
