// What each decoder notes while converting, and that noting changes nothing
// in the text.
#include <gtest/gtest.h>

#include <string>

#include "codec/decimal.hpp"
#include "codec/jef.hpp"
#include "codec/jis.hpp"
#include "codec/keis.hpp"
#include "support/decoded.hpp"

namespace rekmo {
namespace {

enum class Codec { J, K, KN, F, FN, P, Z };

struct Case {
    Codec codec;
    std::string item;
    std::uint32_t expected;
};

std::size_t bound_of(Codec codec, std::size_t n) {
    if (codec == Codec::P) return decimal_bound(DECIMAL_PACKED, n);
    if (codec == Codec::Z) return decimal_bound(DECIMAL_ZONED, n);
    return n;
}

// The text, decoded with or without a report.
template <class... Report>
std::string decode(Codec codec, const std::string& item, Report&... report) {
    return test::decoded(item, bound_of(codec, item.size()), [&](auto in, std::uint8_t* out) {
        switch (codec) {
        case Codec::J: return decode_jis_field(in, out, report...);
        case Codec::K: return decode_keis_field(true, in, out, report...);
        case Codec::KN: return decode_keis_field(false, in, out, report...);
        case Codec::F: return decode_jef_field(true, in, out, report...);
        case Codec::FN: return decode_jef_field(false, in, out, report...);
        case Codec::P: return decimal_to_text(DECIMAL_PACKED, in, out, report...);
        case Codec::Z: return decimal_to_text(DECIMAL_ZONED, in, out, report...);
        }
        return std::size_t{0};
    });
}

const std::string J_IN = "\x1B\x24\x42";   // ESC $ B
const std::string J_OUT = "\x1B\x28\x4A";  // ESC ( J
const std::string J_ESC_B = "\x1B\x28\x42";
const std::string K_IN = "\x0A\x42";
const std::string K_OUT = "\x0A\x41";

TEST(DecodeReport, EachDecoderNotesWhatItDrops) {
    const Case cases[] = {
        // J: runs, zero bytes, ESC ( B, codes outside JIS X 0208
        {Codec::J, "A" + J_IN + "\x24\x22" + J_OUT + "B", 0},
        {Codec::J, J_IN + "\x24\x22", FINDING_UNCLOSED_RUN},
        {Codec::J, "A" + J_IN, 0},  // nothing after the shift: nothing lost
        {Codec::J, J_IN + "\x24\x22\x24" + J_OUT, FINDING_LONE_BYTE},
        {Codec::J, std::string("A\0B", 3), FINDING_ZERO_BYTE},
        {Codec::J, std::string("A\0\0", 3), 0},  // zero padding loses nothing
        {Codec::J, J_IN + "\x30\x82\x24\x22" + J_OUT, FINDING_MAPPING_ZERO | FINDING_UNASSIGNED},
        {Codec::J, J_IN + "\x2F\x21" + J_OUT, FINDING_UNASSIGNED},  // row 15 is empty
        {Codec::J, J_IN + "\x22\x2F" + J_OUT, FINDING_UNASSIGNED},  // a gap in row 2
        {Codec::J, J_IN + "\x74\x26" + J_OUT, 0},                   // the last character, 84-6
        {Codec::J, J_IN + "\x74\x27" + J_OUT, FINDING_UNASSIGNED},
        {Codec::J, J_IN + "\x24\x22" + J_ESC_B + "AB", FINDING_ESC_B | FINDING_UNCLOSED_RUN},
        {Codec::J, J_ESC_B + "AB", 0},  // outside a run ESC ( B is copied
        // K and KN
        {Codec::K, "\xC1" + K_IN + "\xB0\xA1" + K_OUT + "\xC2", 0},
        {Codec::K, K_IN + "\xB0\xA1", FINDING_UNCLOSED_RUN},
        {Codec::K, "\xC1" + K_IN, 0},
        {Codec::K, K_IN + "\xB0\xA1\xB0" + K_OUT, FINDING_LONE_BYTE},
        {Codec::K, K_IN + "\xB0" + K_IN + "\xA1" + K_OUT, 0},  // a pair across a second shift-in
        {Codec::K, K_IN + "\xAF\xA1" + K_OUT, FINDING_UNASSIGNED},
        {Codec::K, K_IN + "\xB0\x02" + K_OUT, FINDING_MAPPING_ZERO | FINDING_UNASSIGNED},
        {Codec::KN, "\xA4\xA2\xA4\xA4", 0},
        {Codec::KN, "\xA4\xA2\xA4", FINDING_LONE_BYTE},
        {Codec::KN, "\x40\x40", FINDING_UNASSIGNED},  // host spaces are no KEIS space
        {Codec::KN, "\x20\xA1", FINDING_MAPPING_ZERO | FINDING_UNASSIGNED},
        // F and FN
        {Codec::F, "\xC1\x28\xB0\xA1\x40\x40\x29\xC2", 0},
        {Codec::F, "\x28\xB0\xA1", FINDING_UNCLOSED_RUN},
        {Codec::F, "\x28\xB0\xA1\xB0\x29", FINDING_LONE_BYTE},
        {Codec::F, "\x28\x41\x41\x29", FINDING_UNASSIGNED},
        {Codec::F, "\x29\xC1", 0},  // 29 outside a run is a space
        {Codec::FN, "\x40\x40\xA4\xA2", 0},
        {Codec::FN, "\xA4\xA2\x40", FINDING_LONE_BYTE},
        // P: signs, digits, precision
        {Codec::P, "\x12\x3C", 0},
        {Codec::P, "\x12\x3D", 0},
        {Codec::P, "\x12\x3F", 0},
        {Codec::P, "\x12\x34", FINDING_UNUSUAL_SIGN},
        {Codec::P, "\x12\x3A", FINDING_UNUSUAL_SIGN},
        {Codec::P, "\x1A\x2C", FINDING_NON_DIGIT},
        {Codec::P, "\x12\x34\x56\x78\x90\x12\x34\x56\x7C", FINDING_PRECISION},  // 17 digits above 2^53
        {Codec::P, "\x00\x00\x00\x00\x00\x00\x00\x00\x00\x1C", 0},              // 19 places, short value
        {Codec::P, "\x12\x34\x56\x78\x90\x12\x34\x56\x78\x9C", FINDING_PRECISION},
        {Codec::P, "\x99\x99\x99\x99\x99\x99\x99\x99\x9A\x9C", FINDING_PRECISION | FINDING_NON_DIGIT},
        {Codec::P, "\x00\x00\x00\x00\x09\x00\x71\x99\x25\x47\x40\x99\x1C", 0},  // 2^53 - 1: exact
        // Z
        {Codec::Z, "\xF1\xF2\xC3", 0},
        {Codec::Z, "\xF1\xF2\xF3", 0},
        {Codec::Z, "\x31\x32\x33", FINDING_UNUSUAL_SIGN},  // ASCII digits
        {Codec::Z, "\x40\x40\x40", FINDING_UNUSUAL_SIGN},  // host spaces
        {Codec::Z, "\xF1\xFA\xC3", FINDING_NON_DIGIT},
        {Codec::Z, std::string(18, '\xF1'), FINDING_PRECISION},
        {Codec::Z, std::string(16, '\xF1'), 0},
    };
    for (const Case& c : cases) {
        DecodeReport report;
        const std::string noted = decode(c.codec, c.item, report);
        EXPECT_EQ(report.found, c.expected) << "codec " << static_cast<int>(c.codec) << " item " << testing::PrintToString(c.item);
        EXPECT_EQ(noted, decode(c.codec, c.item)) << testing::PrintToString(c.item);
    }
}

}  // namespace
}  // namespace rekmo
