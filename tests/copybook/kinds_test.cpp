// rekmo-copybook's record kinds and V records against the converter: random
// copybooks of several 01 records, each the test lays out itself, are
// written as formats, and random host files convert with them to the texts
// the test expects from its own layout. The code's text is checked against
// the host single-byte table itself.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "codec/ebcdic.hpp"
#include "copybook/copybook.hpp"
#include "rekmo/rekmo.hpp"

namespace rekmo {
namespace {

using Bytes = std::vector<std::uint8_t>;

// 0 to n - 1.
int pick(std::mt19937& random, int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); }

TEST(CopybookKinds, TextCodesAreWhatTheHostTableGives) {
    std::vector<bool> given(256, false);
    for (const std::uint8_t b : HOST_SB_TABLE) given[b] = true;
    for (int b = 0; b < 256; ++b)
        EXPECT_EQ(copybook::kind_text_byte(static_cast<std::uint8_t>(b)),
                  given[static_cast<std::size_t>(b)] && b != ',')
            << "byte " << b;
}

// One field of a test record: text (PIC X) or an unsigned number (PIC 9).
struct Field {
    bool number = false;
    int length = 0;
};

// A record as the test lays it out: a prefix of `prefix` bytes (FILLERs and
// areas of an item and its redefinition), the code T, its fields, then
// with `table` > 0 a table of that many occurrences of one X(2) that ends
// the record.
struct Record {
    int prefix = 0;
    std::string prefix_text;
    std::vector<int> prefix_columns;  // the lengths of the written items of the prefix
    std::vector<Field> fields;
    int table = 0;
    std::uint8_t code = 0;  // the byte in T
    bool raw = false;       // given as X'..'
    int length() const {
        int n = prefix + 1 + 2 * table;
        for (const Field& f : fields) n += f.length;
        return n;
    }
};

std::string copybook_text(const std::vector<Record>& records) {
    std::string text;
    for (std::size_t r = 0; r < records.size(); ++r) {
        const std::string n = std::to_string(r);
        text += "01 R" + n + ".\n" + records[r].prefix_text + " 05 T PIC X.\n";
        for (std::size_t f = 0; f < records[r].fields.size(); ++f) {
            const Field& field = records[r].fields[f];
            text += " 05 F" + n + "-" + std::to_string(f) + (field.number ? " PIC 9(" : " PIC X(") +
                    std::to_string(field.length) + ").\n";
        }
        if (records[r].table > 0)
            text += " 05 L" + n + " OCCURS 0 TO " + std::to_string(records[r].table) + " DEPENDING ON C. 10 X" + n +
                    " PIC X(2).\n";
    }
    return text;
}

// A record's prefix of `length` bytes, in pieces: FILLER, or an item and a
// redefinition of it whose area is the longer of the two.
void make_prefix(Record& record, int length, std::mt19937& random, int r) {
    record.prefix = length;
    for (int at = 0, k = 0; at < length; ++k) {
        const int left = length - at;
        const std::string name = std::to_string(r) + "-" + std::to_string(k);
        if (left >= 2 && pick(random, 2) == 0) {
            const int a = 1 + pick(random, left), b = 1 + pick(random, a);
            const bool longer_second = pick(random, 2) == 0;
            record.prefix_text += " 05 P" + name + " PIC X(" + std::to_string(longer_second ? b : a) + ").\n 05 Q" +
                                  name + " REDEFINES P" + name + " PIC X(" + std::to_string(longer_second ? a : b) +
                                  ").\n";
            record.prefix_columns.push_back(longer_second ? b : a);  // the first definition, padded by a FILLER
            at += a;
        } else {
            record.prefix_text += " 05 FILLER PIC X.\n";
            at += 1;
        }
    }
}

TEST(CopybookKinds, RandomRecordsConvertAsTheirLayouts) {
    std::mt19937 random(27);
    int converted = 0, refused = 0;
    for (int round = 0; round < 300; ++round) {
        const bool variable = round % 2 == 1;
        const int prefix = pick(random, 5);
        std::vector<Record> records(static_cast<std::size_t>(2 + pick(random, 3)));
        for (std::size_t r = 0; r < records.size(); ++r) {
            Record& record = records[r];
            // Now and then a record whose code stands elsewhere: refused.
            make_prefix(record, pick(random, 12) == 0 ? prefix + 1 : prefix, random, static_cast<int>(r));
            for (int f = pick(random, 4); f > 0; --f)
                record.fields.push_back(Field{pick(random, 2) == 0, 1 + pick(random, 6)});
            if (variable && pick(random, 2) == 0) record.table = 1 + pick(random, 3);
            record.raw = pick(random, 2) == 0;
            record.code = record.raw ? static_cast<std::uint8_t>(r * 37 + 1) : static_cast<std::uint8_t>(0xC1 + r);
        }
        const std::string text = copybook_text(records);
        copybook::Options options;
        options.form = copybook::SourceForm::FREE;
        options.recfm = variable ? copybook::RecordForm::V : copybook::RecordForm::F;
        options.kind_at = "T";
        for (std::size_t r = 0; r < records.size(); ++r) {
            const Record& record = records[r];
            options.kinds.push_back(
                copybook::KindOption{"R" + std::to_string(r),
                                     record.raw ? std::string(1, static_cast<char>(record.code))
                                                : std::string(1, static_cast<char>(HOST_SB_TABLE[record.code])),
                                     record.raw});
        }
        copybook::Layout layout;
        copybook::Error error;
        const bool read = copybook::read_copybook({reinterpret_cast<const std::uint8_t*>(text.data()), text.size()},
                                                  options, layout, error);
        const bool one_place =
            std::all_of(records.begin(), records.end(), [&](const Record& r) { return r.prefix == records[0].prefix; });
        ASSERT_EQ(read, one_place) << text << error.message;
        if (!read) {
            EXPECT_EQ(error.fault, copybook::Fault::OPTION);
            ++refused;
            continue;
        }
        const std::string written = copybook::format_text(layout, {});
        FormatDef format;
        ASSERT_EQ(parse_format({reinterpret_cast<const std::uint8_t*>(written.data()), written.size()}, format).result,
                  Result::OK);
        Converter converter;
        ASSERT_EQ(converter.open(format).result, Result::OK) << written;

        // Host records of random kinds and contents, and the lines they give.
        int longest = 0;
        for (const Record& r : records) longest = std::max(longest, r.length());
        Bytes host;
        std::string expected;
        for (int n = 1 + pick(random, 6); n > 0; --n) {
            const Record& record = records[static_cast<std::size_t>(pick(random, static_cast<int>(records.size())))];
            Bytes data(static_cast<std::size_t>(record.prefix), 0x40);
            data.push_back(record.code);
            std::string line;
            for (const int width : record.prefix_columns)
                line += std::string(static_cast<std::size_t>(width), ' ') + ",";
            line += static_cast<char>(HOST_SB_TABLE[record.code]);
            for (const Field& f : record.fields) {
                std::string digits;
                for (int k = 0; k < f.length; ++k) {
                    const auto b =
                        static_cast<std::uint8_t>(f.number ? 0xF0 + pick(random, 10) : 0xC1 + pick(random, 9));
                    data.push_back(b);
                    digits += static_cast<char>(HOST_SB_TABLE[b]);
                }
                if (f.number) digits.erase(0, std::min(digits.find_first_not_of('0'), digits.size() - 1));
                line += "," + digits;
            }
            // A V record holds as many occurrences as it is long; the rest come out empty.
            const int present = pick(random, record.table + 1);
            for (int k = 0; k < record.table; ++k) {
                line += ",";
                if (k >= present) continue;
                data.push_back(0xC1 + static_cast<std::uint8_t>(k));
                data.push_back(0xF1);
                line += std::string{static_cast<char>('A' + k), '1'};
            }
            if (!variable) data.resize(static_cast<std::size_t>(longest), 0x40);
            if (variable) {
                const std::size_t size = data.size() + 4;
                host.insert(host.end(), {static_cast<std::uint8_t>(size >> 8), static_cast<std::uint8_t>(size), 0, 0});
            }
            host.insert(host.end(), data.begin(), data.end());
            expected += line + "\n";
        }
        Bytes lines;
        ASSERT_EQ(converter.convert(host, lines), Result::OK) << written;
        ASSERT_EQ(std::string(lines.begin(), lines.end()), expected) << text << written;
        ++converted;
    }
    EXPECT_GT(converted, 150);
    EXPECT_GT(refused, 10);
}

}  // namespace
}  // namespace rekmo
