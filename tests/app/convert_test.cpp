#include "app/convert.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <random>
#include <string>
#include <vector>

namespace rekmo {
namespace {

using Bytes = std::vector<std::uint8_t>;
constexpr std::size_t NONE = std::numeric_limits<std::size_t>::max();

class MemorySource final : public ByteSource {
public:
    explicit MemorySource(Bytes data, std::size_t error_at = NONE) : data_(std::move(data)), error_at_(error_at) {}
    Result read(std::span<std::uint8_t> buffer) override {
        const std::size_t limit = std::min(data_.size(), error_at_);
        const std::size_t n = std::min(buffer.size(), limit - pos_);
        std::copy_n(data_.begin() + static_cast<std::ptrdiff_t>(pos_), n, buffer.begin());
        pos_ += n;
        return {n, n < buffer.size() && pos_ == error_at_};
    }
    std::size_t consumed() const { return pos_; }

private:
    Bytes data_;
    std::size_t error_at_;
    std::size_t pos_ = 0;
};

class MemorySink final : public ByteSink {
public:
    explicit MemorySink(std::size_t fail_after = NONE, bool fail_finish = false)
        : fail_after_(fail_after), fail_finish_(fail_finish) {}
    bool write(std::span<const std::uint8_t> bytes) override {
        written_after_failure = written_after_failure || failed;
        const std::size_t n = std::min(bytes.size(), fail_after_ - text.size());
        text.append(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(n));
        failed = failed || n < bytes.size();
        return n == bytes.size();
    }
    bool finish() override { return !fail_finish_; }
    std::string text;
    bool failed = false;
    bool written_after_failure = false;

private:
    std::size_t fail_after_;
    bool fail_finish_;
};

FormatDef format_of(const std::string& text) {
    FormatDef def;
    FormatError error;
    EXPECT_EQ(parse_format({reinterpret_cast<const std::uint8_t*>(text.data()), text.size()}, def, error), 0) << text;
    return def;
}

// One record at a time, one item at a time, through a zero-filled copy of
// the item: the plain reading of the output rules.
std::string reference(const FormatDef& def, const Bytes& host) {
    const auto length = static_cast<std::size_t>(def.record_length);
    std::string out;
    for (std::size_t r = 0; r + length <= host.size(); r += length) {
        bool written = false;
        for (const ItemDef& item : def.items) {
            if (item.length == 0 || item.output == 0) continue;
            Bytes value(static_cast<std::size_t>(std::max(item.length, 0)), 0);
            for (std::size_t i = 0; i < value.size(); ++i)
                if (static_cast<std::size_t>(item.start) + i < length)
                    value[i] = host[r + static_cast<std::size_t>(item.start) + i];
            const ItemCodec& codec = item_codec(item.type);
            Bytes text(codec.bound(value.size()) + 1);
            text.resize(codec.decode(value, text.data()));
            if (written) out += ',';
            out.append(text.begin(), text.end());
            written = true;
        }
        out += '\n';
    }
    return out;
}

struct Converted {
    int result;
    std::string text;
};

// Converts with the given loop options; the source fails at byte `error_at`
// and the sink after accepting `fail_after` bytes.
Converted convert(const FormatDef& def, const Bytes& host, std::size_t error_at = NONE, LoopOptions options = {},
                  std::size_t fail_after = NONE) {
    const ItemPlan plan = make_plan(def);
    MemorySource source(host, error_at);
    MemorySink sink(fail_after);
    const int result = convert_records(plan, source, sink, options);
    EXPECT_FALSE(sink.written_after_failure);
    return {result, sink.text};
}

// Thread counts and chunk sizes to try: one thread; several, with chunks of
// one record, of a few records, and the default size.
std::vector<LoopOptions> loop_variants(std::size_t record_length) {
    return {{1, 256u << 10}, {2, record_length}, {3, 3 * record_length + 1}, {4, 256u << 10}, {2, 1u << 20}};
}

Bytes bytes(std::initializer_list<int> list) {
    Bytes b;
    for (int v : list) b.push_back(static_cast<std::uint8_t>(v));
    return b;
}

TEST(Convert, WritesOneLinePerRecord) {
    struct Case {
        std::string format;
        Bytes host;
        std::string expected;
    };
    const Case cases[] = {
        // The E item of the worked record.
        {"RECLEN=10\nCODE,1,3,E,1\nAMT,4,3,P,0\nNAME,7,4,KN,0\n",
         bytes({0xC1, 0xC2, 0xC3, 0x01, 0x23, 0x4D, 0xA4, 0xA2, 0xA4, 0xA4}), "ABC\n"},
        {"A,1,1,E,1\nB,2,1,E,0\nC,3,1,E,1\n", bytes({0xC1, 0xC2, 0xC3, 0xC4, 0xC5, 0xC6}), "A,C\nD,F\n"},
        {"A,1,1,E,0\nB,2,1,E,0\n", bytes({0xC1, 0xC2, 0xC3, 0xC4}), "\n\n"},  // nothing to write: empty lines
        {"A,1,2,E,1\n", {}, ""},                                              // empty host file
        {"A,2,2,E,1\nB,1,3,E,1\nC,1,1,E,1\n", bytes({0xC1, 0xC2, 0xC3}), "BC,ABC,A\n"},  // overlap, any order
        {"RECLEN=3\nA,1,-2,E,1\nB,1,3,E,1\nC,3,-1,E,1\n", bytes({0xC1, 0xC2, 0xC3}), ",ABC,\n"},
        {"RECLEN=2\nA,1,4,E,1\n", bytes({0xC1, 0xC2, 0xC3, 0xC4}), "AB  \nCD  \n"},  // past the record: 0x00
        {"RECLEN=2\nA,5,2,E,1\n", bytes({0xC1, 0xC2}), "  \n"},
        {"A,1,3,E,1\n", bytes({0xC1, 0x6B, 0xC2}), "A,B\n"},  // a comma is written unquoted
    };
    for (const Case& c : cases) {
        const Converted run = convert(format_of(c.format), c.host);
        EXPECT_EQ(run.result, RESULT_OK) << c.format;
        EXPECT_EQ(run.text, c.expected) << c.format;
    }
}

// Random layouts of every item type, with record counts around the read
// block's boundaries and outputs larger than one write.
// Random layouts of every item type, with record counts around the chunks'
// boundaries, on one thread and on several: always the record-by-record
// result.
TEST(Convert, MatchesTheRecordByRecordReading) {
    std::mt19937 rng(20261206);
    auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    const char* types[] = {"E", "P", "Z", "J", "F", "FN", "K", "KN"};
    for (int trial = 0; trial < 40; ++trial) {
        const int record_length = trial % 4 == 0 ? 4096 : pick(1, 700);
        std::string text = "RECLEN=" + std::to_string(record_length) + "\n";
        for (int i = pick(0, 12); i > 0; --i) {
            const int length = pick(0, 9) == 0 ? -pick(1, 5) : pick(1, 150);
            text += "I," + std::to_string(pick(1, record_length + 20)) + "," + std::to_string(length) + "," +
                    types[pick(0, 7)] + "," + std::to_string(pick(0, 3) == 0 ? 0 : 1) + "\n";
        }
        const FormatDef def = format_of(text);
        const auto length = static_cast<std::size_t>(record_length);
        const std::size_t per_chunk = std::max<std::size_t>(1, (256u << 10) / length);
        const std::size_t counts[] = {0, 1, per_chunk - 1, per_chunk, per_chunk + 1, 5 * per_chunk + 3};
        const std::size_t records = counts[trial % 6];
        Bytes host(records * length);
        for (std::uint8_t& b : host) b = static_cast<std::uint8_t>(pick(0, 255));
        const std::string expected = reference(def, host);
        for (const LoopOptions& options : loop_variants(length)) {
            const Converted run = convert(def, host, NONE, options);
            EXPECT_EQ(run.result, RESULT_OK);
            EXPECT_EQ(run.text, expected) << text << records << " records, " << options.threads << " threads";
        }
    }
}

// Every early end leaves the same bytes whatever the threads: the lines
// before a read error or a partial record and none after; after a failed
// write exactly what the sink accepted.
TEST(Convert, EarlyEndsLeaveTheSamePrefixOnEveryPath) {
    const FormatDef def = format_of("RECLEN=50\nA,1,20,E,1\nB,21,8,P,1\nC,29,22,K,1\n");
    std::mt19937 rng(7);
    Bytes host(50 * 20000);
    for (std::uint8_t& b : host) b = static_cast<std::uint8_t>(rng());
    const std::string full = reference(def, host);
    const std::size_t line = full.size() / 20000;  // not exact: lines differ in length
    for (const std::size_t error_at : {std::size_t{0}, std::size_t{49}, std::size_t{50} * 5000 + 17, host.size() - 1}) {
        const std::string expected = reference(def, Bytes(host.begin(), host.begin() + static_cast<std::ptrdiff_t>(error_at - error_at % 50)));
        for (const LoopOptions& options : loop_variants(50)) {
            const Converted run = convert(def, host, error_at, options);
            EXPECT_EQ(run.result, RESULT_FAILURE) << error_at;
            EXPECT_EQ(run.text, expected) << error_at << ", " << options.threads << " threads";
        }
    }
    Bytes partial = host;
    partial.resize(host.size() - 25);  // ends inside the last record
    const std::string all_but_last = reference(def, partial);
    for (const std::size_t fail_after : {std::size_t{0}, line * 3 + 1, full.size() / 2, full.size() - 1}) {
        for (const LoopOptions& options : loop_variants(50)) {
            Converted run = convert(def, host, NONE, options, fail_after);
            EXPECT_EQ(run.result, RESULT_WRITE_ERROR);
            EXPECT_EQ(run.text, full.substr(0, fail_after)) << fail_after << ", " << options.threads << " threads";
            run = convert(def, partial, NONE, options);
            EXPECT_EQ(run.result, RESULT_FAILURE);
            EXPECT_EQ(run.text, all_but_last);
        }
    }
}

TEST(Convert, HugeItemsConvertWhole) {
    const std::size_t length = 3 << 20;  // larger than one read block and one write
    const FormatDef def = format_of("A,1," + std::to_string(length) + ",E,1\nB,1,200,E,1\n");
    Bytes host(2 * length, 0xC1);
    const Converted run = convert(def, host);
    EXPECT_EQ(run.result, RESULT_OK);
    const std::string line = std::string(length, 'A') + "," + std::string(200, 'A') + "\n";
    EXPECT_EQ(run.text, line + line);
}

TEST(Convert, ReadErrorsAndPartialRecordsKeepTheLinesBefore) {
    const FormatDef def = format_of("RECLEN=4\nA,1,2,E,1\n");
    const Bytes host = bytes({0xC1, 0xC1, 0, 0, 0xC2, 0xC2, 0, 0, 0xC3, 0xC3});
    Converted run = convert(def, host);  // two and a half records
    EXPECT_EQ(run.result, RESULT_FAILURE);
    EXPECT_EQ(run.text, "AA\nBB\n");
    run = convert(def, host, 6);  // the read fails inside the second record
    EXPECT_EQ(run.result, RESULT_FAILURE);
    EXPECT_EQ(run.text, "AA\n");
    run = convert(def, host, 0);
    EXPECT_EQ(run.result, RESULT_FAILURE);
    EXPECT_EQ(run.text, "");
}

TEST(Convert, StopsAtTheFirstWriteFailure) {
    const FormatDef def = format_of("RECLEN=100\nA,1,100,E,1\nB,1,100,E,1\n");
    const Bytes host(100 * 30000, 0xC1);  // about 6 MB of lines: several writes
    const std::string full = reference(def, host);
    for (const std::size_t fail_after : {std::size_t{0}, std::size_t{150}, std::size_t{1} << 20, full.size() - 1}) {
        const ItemPlan plan = make_plan(def);
        MemorySource source(host);
        MemorySink sink(fail_after);
        EXPECT_EQ(convert_records(plan, source, sink), RESULT_WRITE_ERROR);
        EXPECT_EQ(sink.text, full.substr(0, fail_after));  // exactly what was accepted
        EXPECT_FALSE(sink.written_after_failure);
        if (fail_after < 1000) {
            EXPECT_LT(source.consumed(), host.size());  // no reading to the end
        }
    }
}

TEST(Convert, FinishingTheOutputIsChecked) {
    const FormatDef def = format_of("A,1,1,E,1\n");
    const ItemPlan plan = make_plan(def);
    for (const LoopOptions& options : loop_variants(1)) {
        MemorySource source(Bytes(5000, 0xC1));
        MemorySink sink(NONE, true);
        EXPECT_EQ(convert_records(plan, source, sink, options), RESULT_WRITE_ERROR);
        MemorySource failing(Bytes(5000, 0xC1), 10);  // a read error comes first
        MemorySink sink2(NONE, true);
        EXPECT_EQ(convert_records(plan, failing, sink2, options), RESULT_FAILURE);
    }
}

}  // namespace
}  // namespace rekmo
