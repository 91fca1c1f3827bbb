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
        for (int trial = 0; trial < 32; ++trial) {
            const int record_length = trial % 4 == 0 ? 4096 : pick(1, 700);
            std::string text = host_codes[trial % 3] + std::string(csv_options[trial % 4]) +
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
                b = trial % 2 == 0 ? static_cast<std::uint8_t>(pick(0, 255)) : shaped[pick(0, sizeof shaped - 1)];
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

TEST(Loops, ItemsLargerThanEveryBufferConvertWhole) {
    const std::size_t length = 3 << 20;
    const FormatDef def = format_of("A,1," + std::to_string(length) + ",E,1\nB,1,200,E,1\n");
    const Bytes host(2 * length, 0xC1);
    const std::string line = std::string(length, 'A') + "," + std::string(200, 'A') + "\n";
    for (const ConvertOptions& options : variants(length)) EXPECT_TRUE(same(run(def, host, options).text, line + line));
}

}  // namespace
}  // namespace rekmo
