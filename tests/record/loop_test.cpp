// The record loops against the plain reading of the output rules: each
// record's item texts (from the scalar code) joined by commas, a line feed
// after each record. On one thread and on several, with chunks of one
// record, of a few and of the default size, so through the line kernels and
// the per-item path, and through each level's line kernel; early ends leave
// the same bytes on every path. Under the CSV options the header comes once,
// before the first record's line, however the records are cut.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "rekmo/rekmo.hpp"
#include "support/levels.hpp"
#include "support/memory_io.hpp"

namespace rekmo {
namespace {

using test::Bytes;
using test::format_of;
using test::MemorySink;
using test::MemorySource;
using test::same;
constexpr std::size_t NONE = SIZE_MAX;

// The scalar lines, after the header the options ask for.
std::string reference(const FormatDef& def, const Bytes& host) {
    Converter converter;
    EXPECT_EQ(converter.open(def).result, Result::OK);
    const std::span<const std::uint8_t> header = converter.header();
    return std::string(header.begin(), header.end()) + test::scalar_lines(def, host);
}

struct Outcome {
    Result result;
    std::string text;
    std::size_t read;  // host bytes the loop took
};

Outcome run(const FormatDef& def, const Bytes& host, const ConvertOptions& options, std::size_t error_at = NONE,
            std::size_t room = NONE, bool fail_finish = false) {
    Converter converter;
    EXPECT_EQ(converter.open(def, options).result, Result::OK);
    MemorySource source(host, error_at);
    MemorySink sink(room, fail_finish);
    const Result result = converter.run(source, sink);
    EXPECT_FALSE(sink.written_after_failure);
    return {result, sink.text, source.taken};
}

// One thread; several, with chunks of one record, a few records and the default.
std::vector<ConvertOptions> variants(std::size_t record_length) {
    return {{1, 256u << 10}, {2, record_length}, {3, 3 * record_length + 1}, {4, 256u << 10}};
}

// A random layout of up to 12 items of every type (some past the record,
// some negative, some not output) and a number of records around the chunk
// size, filled with any bytes or with the bytes that shape fields.
struct Trial {
    std::string text;
    FormatDef def;
    Bytes host;
    std::size_t length;
};

const std::vector<Trial>& trials() {
    static const std::vector<Trial> made = [] {
        std::vector<Trial> out;
        std::mt19937 rng(20261206);
        auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
        const char* types[] = {"E", "P", "Z", "J", "F", "FN", "K", "KN"};
        const char* host_codes[] = {"", "HOSTCODE=JEF\n", "HOSTCODE=KEIS78\n"};
        // Options that change texts take every record through the per-item
        // path (the Z item N below gives SCALE a name to apply to).
        const char* csv_options[] = {"", "CSV=QUOTE,HEADER,EXACT,TRIM\n", "",
                                     "CSV=HEADER,TRIM\nSCALE=N,2\nSIGN=N,LEADING\n"};
        // Besides any byte: shift codes, escape sequences, double-byte codes,
        // digits and the host pages' bytes whose texts differ in length, so that
        // fields take the line kernels' inline forms as well as their fallbacks.
        const std::uint8_t shaped[] = {0x0A, 0x42, 0x41, 0x28, 0x29, 0x1B, 0x24, 0x4A, 0x48, 0xB0, 0xC9,
                                       0xA4, 0x40, 0x7B, 0xD4, 0x30, 0x21, 0xC1, 0xF1, 0x0C, 0x00, 0x02};
        // CSV=UTF8 turns the Shift_JIS texts into UTF-8 after the decoders:
        // runs of host katakana (81-8A, 8C-90 give A1-BF; 91-99, 9D-9F,
        // A2-A9, AC-AF, BA-BF give C0-DF) among letters, digits and kanji.
        const char* utf8_options[] = {"CSV=UTF8\n", "CSV=UTF8,TRIM,QUOTE,HEADER\n"};
        const std::uint8_t kana[] = {0x81, 0x8A, 0x8C, 0x90, 0x91, 0x99, 0x9D, 0xA2, 0xAF, 0xBA,
                                     0xBF, 0x40, 0xC1, 0xF1, 0x0A, 0x42, 0x41, 0x28, 0x29, 0xB0};
        for (int trial = 0; trial < 48; ++trial) {
            const int record_length = trial % 4 == 0 ? 4096 : pick(1, 700);
            const bool utf8 = trial >= 32;
            std::string text = host_codes[trial % 3] +
                               std::string(utf8 ? utf8_options[trial / 2 % 2] : csv_options[trial % 4]) +
                               "RECLEN=" + std::to_string(record_length) + "\nN,1,3,Z,1\n";
            for (int i = pick(0, 12); i > 0; --i) {
                const int length = pick(0, 9) == 0 ? -pick(1, 5) : pick(1, 150);
                text += "I," + std::to_string(pick(1, record_length + 20)) + "," + std::to_string(length) + "," +
                        types[pick(0, 7)] + "," + std::to_string(pick(0, 3) == 0 ? 0 : 1) + "\n";
            }
            const auto length = static_cast<std::size_t>(record_length);
            const std::size_t per_chunk = std::max<std::size_t>(1, (256u << 10) / length);
            const std::size_t counts[] = {0, 1, per_chunk - 1, per_chunk, per_chunk + 1, 5 * per_chunk + 3};
            Bytes host(counts[trial % 6] * length);
            for (std::uint8_t& b : host) {
                b = trial % 2 == 0 ? static_cast<std::uint8_t>(pick(0, 255))
                    : utf8         ? kana[pick(0, sizeof kana - 1)]
                                   : shaped[pick(0, sizeof shaped - 1)];
            }
            out.push_back({text, format_of(text), std::move(host), length});
        }
        return out;
    }();
    return made;
}

TEST(Loops, WriteTheLinesOfTheItemTexts) {
    for (const Trial& t : trials()) {
        const std::string expected = reference(t.def, t.host);
        for (const ConvertOptions& options : variants(t.length)) {
            const Outcome r = run(t.def, t.host, options);
            EXPECT_EQ(r.result, Result::OK);
            EXPECT_TRUE(same(r.text, expected))
                << t.text << t.host.size() / t.length << " records, " << options.threads << " threads";
        }
    }
}

// The same layouts through each level's line kernel, its output buffer large
// or holding a line or two at a time.
class LoopsOnLevel : public test::LevelTest {};

TEST_P(LoopsOnLevel, WriteTheLinesOfTheItemTexts) {
    for (const Trial& t : trials()) {
        const std::string expected = test::scalar_lines(t.def, t.host);  // no header: that is the run's
        const ItemPlan plan = make_plan(t.def);
        for (const std::size_t capacity : {std::size_t{1} << 20, plan.line_bound + LINE_SLACK + t.length}) {
            EXPECT_TRUE(same(test::level_lines(t.def, t.host, kernels(), capacity), expected))
                << t.text << t.host.size() / t.length << " records, a buffer of " << capacity;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(, LoopsOnLevel, testing::ValuesIn(test::EVERY_LEVEL), test::level_param_name);

// A read error or a partial record: the lines before it, none after. A failed
// write: exactly what the sink took, and reading stops. A failed finish.
TEST(Loops, EarlyEndsLeaveTheSamePrefixOnEveryPath) {
    const FormatDef def = format_of("RECLEN=50\nA,1,20,E,1\nB,21,8,P,1\nC,29,22,K,1\n");
    std::mt19937 rng(7);
    Bytes host(50 * 40000);  // lines of more than one write
    for (std::uint8_t& b : host) b = static_cast<std::uint8_t>(rng());
    const std::string full = reference(def, host);
    const Bytes partial(host.begin(), host.end() - 25);
    for (const ConvertOptions& options : variants(50)) {
        for (const std::size_t error_at :
             {std::size_t{0}, std::size_t{49}, std::size_t{50} * 5000 + 17, host.size() - 1}) {
            const Outcome r = run(def, host, options, error_at);
            EXPECT_EQ(r.result, Result::READ_ERROR) << error_at;
            EXPECT_TRUE(
                same(r.text, reference(def, Bytes(host.begin(), host.begin() + static_cast<std::ptrdiff_t>(error_at)))))
                << error_at << ", " << options.threads << " threads";
        }
        Outcome r = run(def, partial, options);
        EXPECT_EQ(r.result, Result::READ_ERROR);
        EXPECT_TRUE(same(r.text, reference(def, partial)));
        for (const std::size_t room : {std::size_t{0}, std::size_t{150}, full.size() / 2, full.size() - 1}) {
            r = run(def, host, options, NONE, room);
            EXPECT_EQ(r.result, Result::WRITE_ERROR);
            EXPECT_TRUE(same(r.text, full.substr(0, room))) << room << ", " << options.threads << " threads";
            if (room == 0 && options.threads == 1) {
                EXPECT_LT(r.read, host.size()) << "reading went on";
            }
        }
        EXPECT_EQ(run(def, host, options, NONE, NONE, true).result, Result::WRITE_ERROR);
        EXPECT_EQ(run(def, host, options, 10, NONE, true).result, Result::READ_ERROR);  // the first failure counts
    }
}

// Record kinds: each record converted by the items of the first KIND line
// whose test holds (the E text without trailing spaces, or X'..' raw), else
// by the items before the first KIND line, else the run stops there. The
// reference picks the kind itself and converts each record with a format of
// that kind's items alone; every loop must write the same, and stop at the
// same record.
struct KindTrial {
    std::string text;
    FormatDef def;
    Bytes host;
    std::string expected;
    std::uint64_t fault_record;  // 0: none
};

std::vector<KindTrial> kind_trials() {
    std::vector<KindTrial> out;
    std::mt19937 rng(20261209);
    auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    // Test bytes: letters and digits, space, a byte below 40 (a space in E).
    const std::uint8_t codes[] = {0xC1, 0xC2, 0xF1, 0xF2, 0x40, 0x00};
    const char* texts[] = {"A", "B", "1", "2", " ", " "};
    const char* types[] = {"E", "P", "Z", "K", "J"};
    for (int trial = 0; trial < 24; ++trial) {
        const int length = pick(4, 120);
        const int test_start = pick(0, length - 2);  // 0-based, room for two bytes
        const bool with_default = trial % 3 != 0;
        std::string head = "RECLEN=" + std::to_string(length) + "\n";
        auto items = [&] {
            std::string lines;
            for (int i = pick(0, 5); i > 0; --i) {
                lines += "I," + std::to_string(pick(1, length)) + "," + std::to_string(pick(1, 12)) + "," +
                         types[pick(0, 4)] + ",1\n";
            }
            return lines;
        };
        struct Kind {
            std::vector<std::uint8_t> bytes;  // what the test compares with
            std::size_t width;
            bool raw;
            std::string items;
        };
        std::vector<Kind> kinds;
        const std::string default_items =
            with_default ? "D," + std::to_string(pick(1, length)) + ",3,E,1\n" + items() : "";
        std::string text = head + default_items;
        for (int k = pick(1, 4); k > 0; --k) {
            Kind kind;
            kind.width = static_cast<std::size_t>(pick(1, 2));
            kind.raw = pick(0, 3) == 0;
            std::string value;
            for (std::size_t b = 0; b < kind.width; ++b) {
                const int c = pick(0, 5);
                kind.bytes.push_back(codes[c]);
                value += texts[c];
            }
            char hex[8];
            std::string raw_value = "X'";
            for (const std::uint8_t b : kind.bytes) {
                std::snprintf(hex, sizeof hex, "%02X", b);
                raw_value += hex;
            }
            raw_value += "'";
            const bool repeated = std::any_of(kinds.begin(), kinds.end(), [&](const Kind& other) {
                return other.raw == kind.raw && other.width == kind.width && other.bytes == kind.bytes;
            });
            if (repeated) continue;
            kind.items = items();
            text += "KIND=" + std::to_string(test_start + 1) + "," + std::to_string(kind.width) + "," +
                    (kind.raw ? raw_value : value) + "\n" + kind.items;
            kinds.push_back(kind);
        }
        // Runs of records of one test code, of any length.
        Bytes host;
        const int records = trial % 4 == 0 ? 3000 : pick(0, 60);
        std::uint8_t code[2] = {0xC1, 0x40};
        for (int r = 0; r < records; ++r) {
            if (pick(0, 9) == 0) {
                code[0] = codes[pick(0, 5)];
                code[1] = codes[pick(0, 5)];
            }
            for (int b = 0; b < length; ++b) host.push_back(static_cast<std::uint8_t>(pick(0, 255)));
            std::copy_n(code, 2, host.end() - length + test_start);
        }
        // The reference.
        const auto e_text = [](std::span<const std::uint8_t> bytes) {
            std::string t;
            for (const std::uint8_t b : bytes)
                t += b < 0x40 ? ' ' : test::scalar_lines(test::format_of("A,1,1,E,1\n"), Bytes{b}).substr(0, 1)[0];
            while (!t.empty() && t.back() == ' ') t.pop_back();
            return t;
        };
        std::string expected;
        std::uint64_t fault = 0;
        for (std::size_t r = 0; r * static_cast<std::size_t>(length) < host.size(); ++r) {
            const std::uint8_t* record = host.data() + r * static_cast<std::size_t>(length);
            const Kind* chosen = nullptr;
            for (const Kind& kind : kinds) {
                const std::span<const std::uint8_t> field(record + test_start, kind.width);
                std::string value;
                for (const std::uint8_t b : kind.bytes)
                    value += b < 0x40 ? ' '
                                      : static_cast<char>(b == 0xC1   ? 'A'
                                                          : b == 0xC2 ? 'B'
                                                          : b == 0xF1 ? '1'
                                                          : b == 0xF2 ? '2'
                                                                      : ' ');
                while (!value.empty() && value.back() == ' ') value.pop_back();
                const bool holds =
                    kind.raw ? std::equal(field.begin(), field.end(), kind.bytes.begin()) : e_text(field) == value;
                if (holds) {
                    chosen = &kind;
                    break;
                }
            }
            if (chosen == nullptr && !with_default) {
                fault = r + 1;
                break;
            }
            const std::string items_text = chosen != nullptr ? chosen->items : default_items;
            expected +=
                test::scalar_lines(test::format_of(head + items_text), {record, static_cast<std::size_t>(length)});
        }
        out.push_back({text, format_of(text), std::move(host), std::move(expected), fault});
    }
    return out;
}

TEST(Loops, RecordKindsTakeTheirOwnItems) {
    for (const KindTrial& t : kind_trials()) {
        const std::size_t length = static_cast<std::size_t>(t.def.record_length);
        const Result want = t.fault_record == 0 ? Result::OK : Result::RECORD_KIND;
        for (const ConvertOptions& options : variants(length)) {
            Converter converter;
            ASSERT_EQ(converter.open(t.def, options).result, Result::OK) << t.text;
            MemorySource source(t.host);
            MemorySink sink;
            EXPECT_EQ(converter.run(source, sink), want) << t.text;
            EXPECT_EQ(converter.record_fault().record, t.fault_record) << t.text << options.threads << " threads";
            EXPECT_TRUE(same(sink.text, t.expected))
                << t.text << t.host.size() / length << " records, " << options.threads << " threads";
        }
        Converter converter;
        ASSERT_EQ(converter.open(t.def).result, Result::OK);
        std::vector<std::uint8_t> lines;
        EXPECT_EQ(converter.convert(t.host, lines), want);
        EXPECT_EQ(converter.record_fault().record, t.fault_record);
        EXPECT_TRUE(same(std::string(lines.begin(), lines.end()), t.expected)) << t.text;
    }
}

// V and VB files of records of any length up to the limit, empty ones too,
// in blocks of any size (some BDWs in the extended form), through every
// loop and the in-memory converter: each record's line holds the text of
// each item that lies within the record (converted alone, as an F record of
// its own bytes) and an empty field for each that does not. A wrong RDW
// stops every path at the same record and offset, after the same lines.
struct VariableTrial {
    std::string text;
    FormatDef def;
    Bytes host;
    std::string expected;
    RecordFault fault;  // record 0: none
};

std::vector<VariableTrial> variable_trials() {
    std::vector<VariableTrial> out;
    std::mt19937 rng(20261210);
    auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    const char* types[] = {"E", "P", "Z", "K", "KN", "J", "F"};
    const char* host_codes[] = {"", "HOSTCODE=JEF\n"};
    for (int trial = 0; trial < 16; ++trial) {
        const bool blocked = trial % 2 == 1;
        const int limit = pick(12, 300);  // RECLEN: the largest RDW length
        std::string text = std::string(host_codes[trial % 2]) + (blocked ? "RECFM=VB\n" : "RECFM=V\n") +
                           "RECLEN=" + std::to_string(limit) + "\n";
        struct Item {
            int start, length;  // 0-based
            std::string type;
        };
        std::vector<Item> items;
        for (int i = pick(1, 6); i > 0; --i) {
            const Item item{pick(0, limit - 4), pick(1, 12), types[pick(0, 6)]};
            text +=
                "I," + std::to_string(item.start + 1) + "," + std::to_string(item.length) + "," + item.type + ",1\n";
            items.push_back(item);
        }
        // Each item's text from its bytes, converted alone.
        auto item_text = [&](const Item& item, const std::uint8_t* bytes) {
            Converter alone;
            EXPECT_EQ(alone
                          .open(format_of(std::string(host_codes[trial % 2]) + "I,1," + std::to_string(item.length) +
                                          "," + item.type + ",1\n"))
                          .result,
                      Result::OK);
            std::vector<std::uint8_t> line;
            EXPECT_EQ(alone.convert({bytes, static_cast<std::size_t>(item.length)}, line), Result::OK);
            return std::string(line.begin(), line.end() - 1);
        };
        const int records = trial % 4 == 0 ? 2500 : pick(0, 80);
        const int bad = trial % 3 == 2 && records > 0 ? pick(0, records - 1) : -1;  // a wrong RDW there
        Bytes host;
        std::string expected;
        RecordFault fault;
        std::size_t block_at = 0;  // where the open block's BDW stands
        int in_block = 0;
        for (int r = 0; r < records; ++r) {
            if (blocked && in_block == 0) {
                block_at = host.size();
                host.insert(host.end(), {0, 0, 0, 0});
                in_block = pick(1, 7);
            }
            const int size = pick(0, 5) == 0 ? 0 : pick(0, limit - 4);
            const std::size_t at = host.size();
            const int length = r == bad ? pick(0, 3) : size + 4;
            host.insert(host.end(), {static_cast<std::uint8_t>(length >> 8), static_cast<std::uint8_t>(length), 0, 0});
            for (int b = 0; b < size; ++b) host.push_back(static_cast<std::uint8_t>(pick(0, 255)));
            if (r == bad) {
                fault = {static_cast<std::uint64_t>(r) + 1, at};
            } else if (fault.record == 0) {
                for (std::size_t i = 0; i < items.size(); ++i) {
                    if (i > 0) expected += ",";
                    if (items[i].start + items[i].length <= size)
                        expected += item_text(items[i], host.data() + at + 4 + items[i].start);
                }
                expected += "\n";
            }
            if (blocked && (--in_block == 0 || r + 1 == records)) {
                const std::size_t block = host.size() - block_at;
                if (pick(0, 1) == 0) {
                    host[block_at] = static_cast<std::uint8_t>(block >> 8);
                    host[block_at + 1] = static_cast<std::uint8_t>(block);
                } else {  // extended
                    host[block_at] = static_cast<std::uint8_t>(0x80 | block >> 24);
                    host[block_at + 1] = static_cast<std::uint8_t>(block >> 16);
                    host[block_at + 2] = static_cast<std::uint8_t>(block >> 8);
                    host[block_at + 3] = static_cast<std::uint8_t>(block);
                }
                in_block = 0;
            }
        }
        if (blocked && records > 0 && fault.record == 0 && trial % 4 == 3) {
            // The last BDW promises more than the file holds: a fault after
            // every record, found however the file was cut into chunks.
            const std::size_t block = host.size() - block_at + static_cast<std::size_t>(pick(1, 9));
            host[block_at] = static_cast<std::uint8_t>(0x80 | block >> 24);
            host[block_at + 1] = static_cast<std::uint8_t>(block >> 16);
            host[block_at + 2] = static_cast<std::uint8_t>(block >> 8);
            host[block_at + 3] = static_cast<std::uint8_t>(block);
            fault = {static_cast<std::uint64_t>(records) + 1, block_at};
        }
        out.push_back({text, format_of(text), std::move(host), std::move(expected), fault});
    }
    return out;
}

TEST(Loops, VariableRecordsOnEveryPath) {
    for (const VariableTrial& t : variable_trials()) {
        const Result want = t.fault.record == 0 ? Result::OK : Result::RECORD_DESCRIPTOR;
        // Besides the usual ones, one thread reading blocks no larger than the
        // largest record and a BDW: records cut by every block's end.
        std::vector<ConvertOptions> paths = variants(40);
        paths.push_back({1, 16});
        for (const ConvertOptions& options : paths) {
            Converter converter;
            ASSERT_EQ(converter.open(t.def, options).result, Result::OK) << t.text;
            MemorySource source(t.host);
            MemorySink sink;
            EXPECT_EQ(converter.run(source, sink), want) << t.text << options.threads << " threads";
            EXPECT_EQ(converter.record_fault().record, t.fault.record) << t.text << options.threads << " threads";
            EXPECT_EQ(converter.record_fault().offset, t.fault.offset) << t.text << options.threads << " threads";
            EXPECT_TRUE(same(sink.text, t.expected)) << t.text << options.threads << " threads";
        }
        Converter converter;
        ASSERT_EQ(converter.open(t.def).result, Result::OK);
        std::vector<std::uint8_t> lines;
        EXPECT_EQ(converter.convert(t.host, lines), want);
        EXPECT_EQ(converter.record_fault().record, t.fault.record);
        EXPECT_TRUE(same(std::string(lines.begin(), lines.end()), t.expected)) << t.text;
        // A read error: the lines of the records it completed, never a
        // descriptor fault for the record it cut.
        if (t.fault.record == 0 && t.host.size() > 1) {
            for (const ConvertOptions& options : paths) {
                Converter cut;
                ASSERT_EQ(cut.open(t.def, options).result, Result::OK);
                MemorySource source(t.host, t.host.size() / 2);
                MemorySink sink;
                EXPECT_EQ(cut.run(source, sink), Result::READ_ERROR) << t.text << options.threads << " threads";
                EXPECT_TRUE(t.expected.starts_with(sink.text)) << t.text << options.threads << " threads";
            }
        }
    }
}

TEST(Loops, ItemsLargerThanEveryBufferConvertWhole) {
    const std::size_t length = 3 << 20;
    const FormatDef def = format_of("A,1," + std::to_string(length) + ",E,1\nB,1,200,E,1\n");
    const Bytes host(2 * length, 0xC1);
    const std::string line = std::string(length, 'A') + "," + std::string(200, 'A') + "\n";
    for (const ConvertOptions& options : variants(length)) EXPECT_TRUE(same(run(def, host, options).text, line + line));
}

}  // namespace
}  // namespace rekmo
