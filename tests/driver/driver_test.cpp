// The file driver's host source: a file read against the size it was
// measured at. Fewer or more bytes than that (a file cut or extended while it
// is read) end the conversion in a read error on every loop, and the lines
// are those of the whole records within both the size and what was read.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "driver/driver.hpp"
#include "support/memory_io.hpp"

namespace rekmo {
namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::size_t RECORD = 5;

// Records whose lines tell them apart: an E item and a packed number.
Bytes records(std::size_t count) {
    Bytes host;
    for (std::size_t r = 0; r < count; ++r) {
        host.insert(host.end(), {0xC1, static_cast<std::uint8_t>(0xF0 + r % 10), 0x40});
        host.push_back(static_cast<std::uint8_t>((r % 10) << 4 | (r / 10 % 10)));
        host.push_back(0x3C);
    }
    return host;
}

std::string lines_of(Converter& converter, std::span<const std::uint8_t> host) {
    std::vector<std::uint8_t> lines;
    EXPECT_EQ(converter.convert(host, lines), Result::OK);
    return {lines.begin(), lines.end()};
}

TEST(SizeCheckedSource, AnyOtherByteCountThanMeasuredIsAReadErrorOnEveryLoop) {
    const FormatDef format = test::format_of("RECLEN=5\nA,1,3,E,1\nN,4,2,P,1\n");
    struct Case {
        const char* what;
        std::size_t measured;  // bytes
        std::size_t actual;
        bool changed;
    };
    const Case cases[] = {
        {"as measured", 40 * RECORD, 40 * RECORD, false},
        {"empty, as measured", 0, 0, false},
        {"cut at a record boundary", 40 * RECORD, 25 * RECORD, true},
        {"cut inside a record", 40 * RECORD, 25 * RECORD + 2, true},
        {"cut to nothing", 40 * RECORD, 0, true},
        {"one byte short", 40 * RECORD, 40 * RECORD - 1, true},
        {"grown by records", 40 * RECORD, 60 * RECORD, true},
        {"grown by one byte", 40 * RECORD, 40 * RECORD + 1, true},
        {"grown from nothing", 0, 3 * RECORD, true},
    };
    // One thread; several, with chunks that end exactly at the measured size
    // (so only the read after it sees the growth) and chunks that do not.
    const ConvertOptions loops[] = {{1, 256u << 10}, {1, 8 * RECORD}, {3, RECORD}, {2, 8 * RECORD}, {4, 7 * RECORD}};
    for (const Case& c : cases) {
        const Bytes host = records(std::max(c.measured, c.actual) / RECORD + 1);
        const std::span<const std::uint8_t> actual(host.data(), c.actual);
        for (const ConvertOptions& options : loops) {
            SCOPED_TRACE(std::string(c.what) + ", threads " + std::to_string(options.threads) + ", chunk " +
                         std::to_string(options.chunk_bytes));
            Converter converter;
            ASSERT_EQ(converter.open(format, options).result, Result::OK);
            test::MemorySource memory(actual);
            SizeCheckedSource source(memory, c.measured);
            test::MemorySink sink;
            const Result result = converter.run(source, sink);
            const std::size_t whole = std::min(c.measured, c.actual) / RECORD * RECORD;
            EXPECT_EQ(result, c.changed ? Result::READ_ERROR : Result::OK);
            EXPECT_EQ(source.changed(), c.changed);
            EXPECT_EQ(sink.text, lines_of(converter, {host.data(), whole}));
        }
    }
}

// A read error of the file itself stays a read error, not a change of size;
// a stream that ends at the size it was said to have is whole.
TEST(SizeCheckedSource, TellsAFailedReadFromAChangedFile) {
    const Bytes host = records(10);
    test::MemorySource failing(host, 3 * RECORD);
    SizeCheckedSource source(failing, host.size());
    Bytes buffer(4 * RECORD);
    const ReadResult got = source.read(buffer);
    EXPECT_EQ(got.count, 3 * RECORD);
    EXPECT_EQ(got.result, Result::READ_ERROR);
    EXPECT_FALSE(source.changed());

    test::MemorySource exact(host);
    SizeCheckedSource whole(exact, host.size());
    Bytes all(host.size() + 1);
    const ReadResult read = whole.read(all);
    EXPECT_EQ(read.count, host.size());
    EXPECT_EQ(read.result, Result::OK);
    EXPECT_FALSE(whole.changed());
}

}  // namespace
}  // namespace rekmo
