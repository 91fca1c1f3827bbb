// The record loops against the plain reading of the output rules: each
// record's item texts joined by commas, a line feed after each record. On
// one thread and on several, with chunks of one record, of a few and of the
// default size, so through the line kernels and the per-item path; early
// ends leave the same bytes on every path. Under the CSV options the header
// comes once, before the first record's line, however the records are cut.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "rekmo/rekmo.hpp"
#include "support/memory_io.hpp"

namespace rekmo {
namespace {

using Bytes = std::vector<std::uint8_t>;
using test::format_of;
using test::MemorySink;
using test::MemorySource;
constexpr std::size_t NONE = SIZE_MAX;

std::string reference(const FormatDef& def, const Bytes& host) {
    Converter converter;
    EXPECT_EQ(converter.open(def).result, Result::OK);
    ItemTexts texts;
    EXPECT_EQ(converter.item_texts(host, texts), Result::OK);
    const std::size_t columns = converter.columns().size();
    const std::span<const std::uint8_t> header = converter.header();
    std::string out(header.begin(), header.end());
    for (std::size_t r = 0; r < host.size() / converter.record_length(); ++r) {
        for (std::size_t c = 0; c < columns; ++c) {
            const std::span<const std::uint8_t> text = texts.text(r * columns + c);
            out.append(c == 0 ? "" : ",").append(text.begin(), text.end());
        }
        out += '\n';
    }
    return out;
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

// Equal texts; else where they part (printing megabytes of lines would take
// longer than any test).
testing::AssertionResult same(const std::string& got, const std::string& expected) {
    if (got == expected) return testing::AssertionSuccess();
    const auto at = static_cast<std::size_t>(
        std::mismatch(got.begin(), got.end(), expected.begin(), expected.end()).first - got.begin());
    return testing::AssertionFailure() << got.size() << " bytes, not " << expected.size() << "; they part at byte "
                                       << at;
}

// One thread; several, with chunks of one record, a few records and the default.
std::vector<ConvertOptions> variants(std::size_t record_length) {
    return {{1, 256u << 10}, {2, record_length}, {3, 3 * record_length + 1}, {4, 256u << 10}};
}

TEST(Loops, WriteTheLinesOfTheItemTexts) {
    std::mt19937 rng(20261206);
    auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    const char* types[] = {"E", "P", "Z", "J", "F", "FN", "K", "KN"};
    const char* host_codes[] = {"", "HOSTCODE=JEF\n", "HOSTCODE=KEIS78\n"};
    // Options that change texts take every record through the per-item path
    // (the Z item N below gives SCALE a name to apply to).
    const char* csv_options[] = {"", "CSV=QUOTE,HEADER,EXACT,TRIM\n", "",
                                 "CSV=HEADER,TRIM\nSCALE=N,2\nSIGN=N,LEADING\n"};
    // Besides any byte: shift codes, escape sequences, double-byte codes,
    // digits and the host pages' bytes whose texts differ in length, so that
    // fields take the line kernels' inline forms as well as their fallbacks.
    const std::uint8_t shaped[] = {0x0A, 0x42, 0x41, 0x28, 0x29, 0x1B, 0x24, 0x4A, 0x48, 0xB0, 0xC9, 0xA4,
                                   0x40, 0x7B, 0xD4, 0x30, 0x21, 0xC1, 0xF1, 0x0C, 0x00, 0x02};
    for (int trial = 0; trial < 32; ++trial) {
        const int record_length = trial % 4 == 0 ? 4096 : pick(1, 700);
        std::string text = host_codes[trial % 3] + std::string(csv_options[trial % 4]) +
                           "RECLEN=" + std::to_string(record_length) + "\nN,1,3,Z,1\n";
        for (int i = pick(0, 12); i > 0; --i) {
            const int length = pick(0, 9) == 0 ? -pick(1, 5) : pick(1, 150);
            text += "I," + std::to_string(pick(1, record_length + 20)) + "," + std::to_string(length) + "," +
                    types[pick(0, 7)] + "," + std::to_string(pick(0, 3) == 0 ? 0 : 1) + "\n";
        }
        const FormatDef def = format_of(text);
        const auto length = static_cast<std::size_t>(record_length);
        const std::size_t per_chunk = std::max<std::size_t>(1, (256u << 10) / length);
        const std::size_t counts[] = {0, 1, per_chunk - 1, per_chunk, per_chunk + 1, 5 * per_chunk + 3};
        Bytes host(counts[trial % 6] * length);
        for (std::uint8_t& b : host) {
            b = trial % 2 == 0 ? static_cast<std::uint8_t>(pick(0, 255)) : shaped[pick(0, sizeof shaped - 1)];
        }
        const std::string expected = reference(def, host);
        for (const ConvertOptions& options : variants(length)) {
            const Outcome r = run(def, host, options);
            EXPECT_EQ(r.result, Result::OK);
            EXPECT_TRUE(same(r.text, expected))
                << text << host.size() / length << " records, " << options.threads << " threads";
        }
    }
}

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
