// Gaiji tables: the table reader's faults, and every code of the hosts'
// user-defined areas through a table, in Shift_JIS and UTF-8, on every level
// and through the per-item path, on the default decoders and under HOSTCODE.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "codec/cp932.hpp"
#include "format/gaiji.hpp"
#include "support/levels.hpp"
#include "support/memory_io.hpp"

namespace rekmo {
namespace {

using test::Bytes;

std::size_t parse(std::string_view text, GaijiCode code, GaijiTable& table) {
    return parse_gaiji_table({reinterpret_cast<const std::uint8_t*>(text.data()), text.size()}, code, table);
}

// A table text and its outcome: 0 (good, `entries` entries) or the faulty
// line's number.
struct TableCase {
    GaijiCode code;
    std::string_view text;
    std::size_t fault;
    std::size_t entries;
};

TEST(GaijiTable, ReadOrRefusedAtTheFaultyLine) {
    using enum GaijiCode;
    const TableCase cases[] = {
        {JEF, "8041 U+E000\n", 0, 1},
        {JEF, "# comment\n\n  8041\tU+E000   # a comment after it\r\n80a2 u+9ad9\n", 0, 2},
        {JEF, "8041 U+304B U+309A\n", 0, 1},           // a sequence
        {JEF, "8041 U+20B9F U+E0100\n", 0, 1},         // 8 bytes of UTF-8: the most for a pair
        {JEF, "8041 U+20B9F U+E0100 U+0041\n", 1, 0},  // 9
        {JEF, "4040 U+3000\nFEFE U+10FFFF", 0, 2},     // the range's ends; no final line feed
        {KEIS, "8041 U+E000\n8041 U+E001\n", 2, 0},    // a duplicate code
        {KEIS, "8041 U+E000\n80 41 U+E001\n", 2, 0},   // the code's digits apart
        {JEF, "3F41 U+E000\n", 1, 0},                  // a byte below 40
        {JEF, "80FF U+E000\n", 1, 0},                  // a byte above FE
        {JEF, "8041\n", 1, 0},                         // no character
        {JEF, "8041 E000\n", 1, 0},                    // no U+
        {JEF, "8041 U+E0\n", 1, 0},                    // too few digits
        {JEF, "8041 U+0000E000\n", 1, 0},              // too many
        {JEF, "8041 U+D800\n", 1, 0},                  // a surrogate
        {JEF, "8041 U+110000\n", 1, 0},                // past Unicode
        {JEF, "8041 U+000A\n", 1, 0},                  // a control character
        {JEF, "8041 U+0085\n", 1, 0},                  // a C1 control
        {JEF, "8041 U+E00G\n", 1, 0},                  // no hex digit
        {JEF, "804 U+E000\n", 1, 0},                   // three digits
        {JEF, "80411 U+E000\n", 1, 0},                 // five
        {EBCDIC, "41 U+FF61\nFE U+20B9F\n", 0, 2},     // one byte: 40-FE, four bytes of UTF-8 at most
        {EBCDIC, "41 U+0041 U+0042 U+0043 U+0044\n", 0, 1},
        {EBCDIC, "41 U+3042 U+3042\n", 1, 0},  // six bytes
        {EBCDIC, "3F U+0041\n", 1, 0},
        {EBCDIC, "FF U+0041\n", 1, 0},
        {EBCDIC, "4141 U+0041\n", 1, 0},            // a JEF code in an EBCDIC table
        {JEF, "41 U+0041\n", 1, 0},                 // and the other way
        {JEF, "\n\n# x\n8041 U+E000\nzz\n", 5, 0},  // counted from 1, blank lines too
        {JEF, "", 0, 0},
    };
    for (const TableCase& c : cases) {
        GaijiTable table;
        const std::size_t fault = parse(c.text, c.code, table);
        EXPECT_EQ(fault, c.fault) << c.text;
        if (fault == 0) {
            EXPECT_EQ(table.entries.size(), c.entries) << c.text;
        }
    }
}

TEST(GaijiTable, EntriesInCodeOrderWithTheirCodePoints) {
    GaijiTable table;
    ASSERT_EQ(parse("9041 U+E001\n8041 U+304B U+309A\n", GaijiCode::KEIS, table), 0u);
    ASSERT_EQ(table.entries.size(), 2u);
    EXPECT_EQ(table.entries[0].code, 0x8041);
    EXPECT_EQ(table.entries[0].text, U"\u304B\u309A");
    EXPECT_EQ(table.entries[1].code, 0x9041);
    EXPECT_EQ(gaiji_utf8(U"\u304B\u309A\U00020B9F"), "\xE3\x81\x8B\xE3\x82\x9A\xF0\xA0\xAE\x9F");
}

TEST(GaijiTable, PathsFromTheFormatFilesFolder) {
    EXPECT_EQ(format_folder("fmt/a.fmt"), "fmt/");
    EXPECT_EQ(format_folder("/x/y/a.fmt"), "/x/y/");
    EXPECT_EQ(format_folder("a.fmt"), "");
    EXPECT_EQ(gaiji_path("fmt/", "g/j.txt"), "fmt/g/j.txt");
    EXPECT_EQ(gaiji_path("fmt/", "/abs/j.txt"), "/abs/j.txt");
    EXPECT_EQ(gaiji_path("", "j.txt"), "j.txt");
}

// A format with its GAIJI lines' tables given as texts.
FormatDef format_with_tables(const std::string& text, const std::vector<std::string>& tables) {
    FormatDef def = test::format_of(text);
    std::size_t t = 0;
    for (OptionLine& option : def.options) {
        if (option.kind != OptionKind::GAIJI) continue;
        auto table = std::make_shared<GaijiTable>();
        if (parse(tables.at(t++), option.gaiji_code, *table) != 0) throw std::invalid_argument("bad table");
        option.gaiji_table = table;
    }
    return def;
}

std::string utf8_of(char32_t cp) { return gaiji_utf8(std::u32string(1, cp)); }

std::string sjis_of(std::uint16_t code) {
    return code > 0xFF ? std::string{static_cast<char>(code >> 8), static_cast<char>(code & 0xFF)}
                       : std::string(1, static_cast<char>(code));
}

// Every code of a user-defined area, each the next character of the Private
// Use Area (wrapping after its 1,880), as FN/KN items of one record each:
// the lines through every level's record lines and through the per-item path.
struct AreaCase {
    std::string_view name;
    std::string_view host;  // HOSTCODE line, or empty
    GaijiCode code;
    bool (*area)(std::uint8_t, std::uint8_t);
    std::string_view type;  // FN or KN
};

class GaijiAreas : public test::LevelTest {};

TEST_P(GaijiAreas, EveryMappedCodeAsMapped) {
    const AreaCase cases[] = {
        {"JEF", "", GaijiCode::JEF, jef_user_defined, "FN"},
        {"JEF under HOSTCODE=JEF", "HOSTCODE=JEF\n", GaijiCode::JEF, jef_user_defined, "FN"},
        {"KEIS", "", GaijiCode::KEIS, keis_user_defined, "KN"},
        {"KEIS under HOSTCODE=KEIS83", "HOSTCODE=KEIS83\n", GaijiCode::KEIS, keis_user_defined, "KN"},
    };
    for (const AreaCase& c : cases) {
        std::string table;
        Bytes records;
        std::string want_sjis, want_utf8;
        unsigned index = 0;
        for (unsigned code = 0; code < 0x10000; ++code) {
            const auto a = static_cast<std::uint8_t>(code >> 8), b = static_cast<std::uint8_t>(code);
            if (!c.area(a, b)) continue;
            const char32_t cp = 0xE000 + index++ % 1880;
            char line[32];
            std::snprintf(line, sizeof line, "%04X U+%04X\n", code, static_cast<unsigned>(cp));
            table += line;
            records.insert(records.end(), {a, b});
            want_sjis += sjis_of(cp932_eudc(cp)) + "\n";
            want_utf8 += utf8_of(cp) + "\n";
        }
        const std::string code_name = c.code == GaijiCode::JEF ? "JEF" : "KEIS";
        for (const bool utf8 : {false, true}) {
            const std::string text = std::string(c.host) + (utf8 ? "CSV=UTF8\n" : "") + "GAIJI=" + code_name +
                                     ",t.txt\nA,1,2," + std::string(c.type) + ",1\n";
            const FormatDef def = format_with_tables(text, {table});
            const std::string& want = utf8 ? want_utf8 : want_sjis;
            EXPECT_EQ(test::level_lines(def, records, kernels()), want) << c.name << (utf8 ? " in UTF-8" : "");
            // The per-item path: the converter's texts.
            Converter converter;
            ASSERT_EQ(converter.open(def).result, Result::OK);
            ItemTexts texts;
            ASSERT_EQ(converter.item_texts(records, texts), Result::OK);
            std::string joined;
            for (std::size_t i = 0; i < texts.size(); ++i) {
                const auto t = texts.text(i);
                joined.append(t.begin(), t.end());
                joined += "\n";
            }
            EXPECT_EQ(joined, want) << c.name << (utf8 ? " in UTF-8" : "") << ", item by item";
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Levels, GaijiAreas, testing::ValuesIn(test::EVERY_LEVEL), test::level_param_name);

// One record of text items through tables of every kind: what each type
// takes, characters code page 932 lacks, sequences, and what stays the
// default's.
struct RecordCase {
    std::string_view format;  // after the GAIJI lines
    std::string_view record;
    std::string_view sjis;
    std::string_view utf8;
};

const std::string JEF_TABLE = "8041 U+E000\nA4A2 U+3042 U+3099\n8042 U+20B9F\nA0FE U+9AD9\n";
const std::string KEIS_TABLE = "8141 U+E757\n4040 U+FF01\n";
const std::string EBCDIC_TABLE = "41 U+FF61\n4A U+00A3\n6A U+0042\n";

class GaijiRecords : public test::LevelTest {};

TEST_P(GaijiRecords, EachTypeTakesItsTable) {
    const RecordCase cases[] = {
        // FN: a user-defined code, a sequence (〓 in Shift_JIS), a character
        // code page 932 lacks, one it has (髙, an IBM extension), a default code.
        {"A,1,10,FN,1\n", "\x80\x41\xA4\xA2\x80\x42\xA0\xFE\xB0\xA1", "\xF0\x40\x81\xAC\x81\xAC\xFB\xFC\x88\x9F",
         "\xEE\x80\x80\xE3\x81\x82\xE3\x82\x99\xF0\xA0\xAE\x9F\xE9\xAB\x99\xE4\xBA\x9C"},
        // F: the single-byte stretches through the EBCDIC table (｡, £ as ￡ is
        // no code page 932 single byte: 〓; B), the pairs through the JEF table.
        {"A,1,8,F,1\n", "\x41\x4A\x6A\x28\x80\x41\x29\xC1", "\xA1\x81\xAC\x42\xF0\x40\x41",
         "\xEF\xBD\xA1\xC2\xA3\x42\xEE\x80\x80\x41"},
        // E takes the EBCDIC table; K and KN the KEIS table (40 40 as ！).
        {"A,1,3,E,1\nB,4,4,KN,1\n", "\x41\x6A\xC1\x81\x41\x40\x40", "\xA1\x42\x41,\xF9\xFC\x81\x49",
         "\xEF\xBD\xA1\x42\x41,\xEE\x9D\x97\xEF\xBC\x81"},
        {"A,1,8,K,1\n", "\x41\x0A\x42\x81\x41\x0A\x41\xC1", "\xA1\xF9\xFC\x41", "\xEF\xBD\xA1\xEE\x9D\x97\x41"},
        // J and the numbers take none.
        {"A,1,2,J,1\nB,3,2,P,1\n", "AB\x12\x3C", "AB,123", "AB,123"},
    };
    for (const RecordCase& c : cases) {
        for (const bool utf8 : {false, true}) {
            const std::string text = std::string(utf8 ? "CSV=UTF8\n" : "") +
                                     "GAIJI=JEF,j.txt\nGAIJI=KEIS,k.txt\nGAIJI=EBCDIC,e.txt\n" + std::string(c.format);
            const FormatDef def = format_with_tables(text, {JEF_TABLE, KEIS_TABLE, EBCDIC_TABLE});
            const Bytes record(c.record.begin(), c.record.end());
            const std::string want = std::string(utf8 ? c.utf8 : c.sjis) + "\n";
            EXPECT_EQ(test::level_lines(def, record, kernels()), want) << c.format << (utf8 ? " in UTF-8" : "");
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Levels, GaijiRecords, testing::ValuesIn(test::EVERY_LEVEL), test::level_param_name);

// Without a table the codes of a type convert as they always have: a page
// made from the default decoders gives each code the default's text.
TEST(GaijiPages, TheDefaultTabulatedIsTheDefault) {
    Bytes records;
    for (unsigned code = 0; code < 0x10000; ++code) {
        records.insert(records.end(), {static_cast<std::uint8_t>(code >> 8), static_cast<std::uint8_t>(code)});
    }
    for (const std::string_view type : {"FN", "KN"}) {
        const std::string item = "A,1,2," + std::string(type) + ",1\n";
        const FormatDef plain = test::format_of(item);
        // A table for the type that maps a code no record holds.
        const FormatDef paged = format_with_tables(
            std::string("GAIJI=") + (type == "FN" ? "JEF" : "KEIS") + ",t.txt\n" + item, {"FEFE U+E000\n"});
        const Bytes without(records.begin(), records.end() - 2);  // all but FEFE
        const std::string want = test::level_lines(plain, without, scalar_kernels());
        const std::string got = test::level_lines(paged, without, scalar_kernels());
        // Line by line, to name the first code that differs.
        std::size_t w = 0, g = 0;
        for (unsigned code = 0; code < 0xFFFF && w < want.size() && g < got.size(); ++code) {
            const std::size_t we = want.find('\n', w), ge = got.find('\n', g);
            if (want.compare(w, we - w, got, g, ge - g) != 0) {
                ADD_FAILURE() << type << " " << std::hex << code;
                break;
            }
            w = we + 1;
            g = ge + 1;
        }
        EXPECT_EQ(want.size(), got.size()) << type;
    }
}

// What rekmo-inspect reports of a code through a page made from the default
// decoders is what they report, for every pair: the codes a table gives
// report nothing but a loss, and the user-defined codes it leaves are gaiji.
TEST(GaijiPages, ReportAsTheDefaultDecodersDo) {
    Bytes records;
    for (unsigned code = 0; code < 0x10000; ++code) {
        records.insert(records.end(), {static_cast<std::uint8_t>(code >> 8), static_cast<std::uint8_t>(code)});
    }
    const auto findings = [&](const FormatDef& def) {
        Converter converter;
        EXPECT_EQ(converter.open(def).result, Result::OK);
        ItemTexts texts;
        EXPECT_EQ(converter.item_texts(records, texts, true), Result::OK);
        return texts.findings;
    };
    // A comma or a quote in the text is the same either way; a table's own
    // code has its own text.
    const std::uint32_t text_bits = FINDING_COMMA | FINDING_CR | FINDING_LF | FINDING_QUOTE;
    for (const bool utf8 : {false, true}) {
        for (const std::string_view type : {"FN", "KN"}) {
            const std::string item = std::string(utf8 ? "CSV=UTF8\n" : "") + "A,1,2," + std::string(type) + ",1\n";
            const std::string table = type == "FN" ? "80A1 U+E000\n8041 U+20B9F\n" : "81A1 U+E000\n8141 U+20B9F\n";
            const std::vector<std::uint32_t> plain = findings(test::format_of(item));
            const std::vector<std::uint32_t> paged = findings(format_with_tables(
                std::string("GAIJI=") + (type == "FN" ? "JEF" : "KEIS") + ",t.txt\n" + item, {table}));
            ASSERT_EQ(plain.size(), paged.size());
            const unsigned mapped = type == "FN" ? 0x80A1 : 0x81A1, lacking = type == "FN" ? 0x8041 : 0x8141;
            for (unsigned code = 0; code < 0x10000; ++code) {
                const std::uint32_t want = code == mapped    ? 0
                                           : code == lacking ? (utf8 ? 0u : std::uint32_t{FINDING_CP932_LOSS})
                                                             : plain[code] & ~text_bits;
                if ((paged[code] & ~text_bits) != want) {
                    ADD_FAILURE() << type << (utf8 ? " UTF-8 " : " ") << std::hex << code << ": " << paged[code]
                                  << " not " << want;
                    break;
                }
            }
        }
    }
}

}  // namespace
}  // namespace rekmo
