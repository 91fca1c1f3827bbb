// rekmo-inspect on the two record shapes: the hint of descriptor words in a
// file read as F (and none on the bundled and test files), and V and VB
// files walked as the converter walks them, each record shown by its kind.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "inspect/inspect.hpp"
#include "inspect/items.hpp"
#include "support/memory_io.hpp"

namespace rekmo {
namespace {

using Bytes = std::vector<std::uint8_t>;
using test::format_of;

Bytes rdw(const Bytes& data) {
    const std::size_t n = data.size() + 4;
    Bytes out = {static_cast<std::uint8_t>(n >> 8), static_cast<std::uint8_t>(n), 0, 0};
    out.insert(out.end(), data.begin(), data.end());
    return out;
}

Bytes bdw(const Bytes& records) { return rdw(records); }  // the same form, with the block's length

Bytes join(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& part : parts) out.insert(out.end(), part.begin(), part.end());
    return out;
}

Bytes file_bytes(const std::string& name) {
    std::ifstream in(std::string(REKMO_SOURCE_DIR) + "/" + name, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST(DescriptorChain, PlausibleChainsOnly) {
    const Bytes a = {0xC1, 0xC2, 0xC3}, b = {0xF1, 0xF2, 0xF3, 0xF4, 0xF5}, c = {0x40};
    const Bytes v3 = join({rdw(a), rdw(b), rdw(c)});
    struct Case {
        const char* what;
        Bytes head;
        std::uint64_t size;   // of the whole file (0: the head's)
        std::uint64_t v, vb;  // the records of each chain found, or 0
    };
    const Case cases[] = {
        {"three RDWs that end the file", v3, 0, 3, 0},
        {"two RDWs that end the file", join({rdw(a), rdw(b)}), 0, 2, 0},
        {"one RDW is no chain", rdw(a), 0, 0, 0},
        {"two RDWs, the file going on past the head", join({rdw(a), rdw(b)}), 100, 0, 0},
        {"three RDWs, the file going on past the head", v3, 100, 3, 0},
        {"a chain whose next descriptor is wrong", join({v3, Bytes{0x00, 0x07, 0x00, 0x01, 0xC1, 0xC1, 0xC1}}), 0, 0,
         0},
        {"a chain that ends inside a record", join({v3, Bytes{0x00, 0x09, 0x00, 0x00, 0xC1}}), 0, 0, 0},
        {"an empty record (00 04 00 00) is no sign", join({rdw(a), rdw({}), rdw(b)}), 0, 0, 0},
        {"bytes 3-4 not 00 00", Bytes{0x00, 0x07, 0x40, 0x40, 0xC1, 0xC2, 0xC3, 0x00, 0x07, 0x40, 0x40, 1, 2, 3}, 0, 0,
         0},
        // Read as V, a VB file's blocks are its records.
        {"a block of three records", bdw(v3), 0, 0, 3},
        {"two blocks", join({bdw(join({rdw(a), rdw(b)})), bdw(rdw(c))}), 0, 2, 3},
        {"a block its records do not fill", bdw(join({v3, Bytes{0x40, 0x40}})), 0, 0, 0},
        {"EBCDIC text", Bytes(64, 0xC1), 0, 0, 0},
        {"zeros", Bytes(64, 0x00), 0, 0, 0},
        {"spaces", Bytes(64, 0x40), 0, 0, 0},
        {"nothing", Bytes(), 0, 0, 0},
        // EBCDIC letters and digits have the high bit: no hint on an
        // extended BDW, even one whose records fill its block.
        {"an extended BDW is not taken for a block", join({Bytes{0x80, 0x00, 0x00, 4 + 7 + 9}, rdw(a), rdw(b)}), 0, 0,
         0},
        {"the same block with a standard BDW", join({Bytes{0x00, 4 + 7 + 9, 0x00, 0x00}, rdw(a), rdw(b)}), 0, 0, 2},
    };
    for (const Case& t : cases) {
        const std::uint64_t size = t.size != 0 ? t.size : t.head.size();
        EXPECT_EQ(inspect::descriptor_chain(t.head, size, RecordFormat::V), t.v) << t.what;
        EXPECT_EQ(inspect::descriptor_chain(t.head, size, RecordFormat::VB), t.vb) << t.what;
    }
}

// A hint only for a file read as F with no RECFM line: VB before V (a VB
// file's blocks also chain as RDWs), and never on the bundled or test files.
TEST(DescriptorChain, HintOnTheHostFileSection) {
    const Bytes orders = file_bytes("examples/orders.bin");
    const struct {
        const char* format;
        const char* host;
        std::optional<RecordFormat> hint;
    } cases[] = {
        {"A,1,8,E,1\n", "examples/orders.bin", RecordFormat::VB},
        {"RECFM=F\nA,1,8,E,1\n", "examples/orders.bin", std::nullopt},
        {"RECFM=VB\nA,1,8,E,1\n", "examples/orders.bin", std::nullopt},
        {"RECLEN=220\nA,1,8,E,1\n", "examples/customers.bin", std::nullopt},
        {"RECLEN=120\nA,1,8,E,1\n", "examples/transfer.bin", std::nullopt},
        {"A,1,8,E,1\n", "tests/data/every_type.bin", std::nullopt},
    };
    for (const auto& c : cases) {
        const Bytes host = file_bytes(c.host);
        ASSERT_FALSE(host.empty()) << c.host;
        const inspect::HostCheck check = inspect::check_host(host.size(), format_of(c.format), host, {});
        EXPECT_EQ(check.suggested_record_format, c.hint) << c.format << c.host;
        EXPECT_EQ(check.chain_records != 0, c.hint.has_value()) << c.format << c.host;
    }
    // Taking the VB blocks' records one by one, a V file.
    Bytes v;
    for (std::size_t at = 0; at < orders.size();) {
        const std::size_t block = std::size_t{orders[at]} << 8 | orders[at + 1];
        v.insert(v.end(), orders.begin() + static_cast<std::ptrdiff_t>(at + 4),
                 orders.begin() + static_cast<std::ptrdiff_t>(at + block));
        at += block;
    }
    const inspect::HostCheck check = inspect::check_host(v.size(), format_of("A,1,8,E,1\n"), v, {});
    EXPECT_EQ(check.suggested_record_format, RecordFormat::V);
    EXPECT_EQ(check.chain_records, 5u);
}

// Random V and VB files, some with a wrong byte: inspect's records, each
// by its kind's layout, joined, are rekmo's lines, and it meets the wrong
// descriptor or the record of no kind where rekmo stops, at the same
// record and offset.
TEST(VariableRecords, ShownAsRekmoConvertsThem) {
    std::mt19937 rng(20261209);
    auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    int faults = 0, kinds_missed = 0;
    for (int trial = 0; trial < 400; ++trial) {
        const bool blocked = trial % 2 == 1;
        const bool default_layout = trial % 3 != 0;
        const std::string text = std::string(blocked ? "RECFM=VB\n" : "RECFM=V\n") + "RECLEN=40\n" +
                                 (default_layout ? "D,1,6,E,1\n" : "") +
                                 "KIND=1,1,A\nA,2,3,E,1\nB,5,4,Z,1\nKIND=2,2,X'F1F2'\nC,1,30,E,1\n";
        const FormatDef def = format_of(text);
        Bytes host;
        const int records = pick(0, 12);
        std::size_t block_at = 0;
        int in_block = 0;
        for (int r = 0; r < records; ++r) {
            if (blocked && in_block == 0) {
                block_at = host.size();
                host.insert(host.end(), {0, 0, 0, 0});
                in_block = pick(1, 4);
            }
            Bytes data(static_cast<std::size_t>(pick(0, 36)));
            for (std::uint8_t& b : data) b = static_cast<std::uint8_t>(pick(0, 2) == 0 ? 0xC1 : pick(0xF0, 0xF2));
            const Bytes record = rdw(data);
            host.insert(host.end(), record.begin(), record.end());
            if (blocked && (--in_block == 0 || r + 1 == records)) {
                const std::size_t block = host.size() - block_at;
                host[block_at] = static_cast<std::uint8_t>(block >> 8);
                host[block_at + 1] = static_cast<std::uint8_t>(block);
                in_block = 0;
            }
        }
        if (!host.empty() && trial % 4 == 3)
            host[static_cast<std::size_t>(pick(0, static_cast<int>(host.size()) - 1))] ^= 0x0F;
        if (!host.empty() && trial % 8 == 5) host.pop_back();

        Converter converter;
        ASSERT_EQ(converter.open(def).result, Result::OK);
        // The walk in pieces of 1 to 16 bytes, as a file is read.
        RecordWalk walk(record_format(def), static_cast<std::size_t>(record_limit(def)));
        Bytes buffer;
        std::size_t pos = 0, given = 0;
        std::string lines;
        bool stopped = false;
        std::optional<RecordFault> fault;
        std::uint64_t no_kind = 0;
        while (!stopped) {
            VariableRecord record;
            RecordFault met;
            const RecordWalk::Step step = walk.next(buffer, pos, given == host.size(), record, met);
            if (step == RecordWalk::Step::RECORD) {
                inspect::RecordSample sample;
                inspect::sample_record(converter, record.data, record.number, true, sample);
                EXPECT_EQ(record.offset + 4 + record.data.size() <= host.size(), true);
                EXPECT_EQ(record.block != 0, blocked);
                if (sample.kind == inspect::NO_KIND) {
                    if (no_kind == 0) no_kind = record.number;
                    continue;
                }
                if (no_kind != 0) continue;
                for (std::size_t i = 0; i < sample.items.size(); ++i)
                    lines += (i > 0 ? "," : "") + std::string(sample.items[i].text.begin(), sample.items[i].text.end());
                lines += "\n";
                continue;
            }
            if (step == RecordWalk::Step::FAULT) fault = met;
            if (step != RecordWalk::Step::MORE) break;
            buffer.erase(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(pos));
            pos = 0;
            const std::size_t n = std::min<std::size_t>(static_cast<std::size_t>(pick(1, 16)), host.size() - given);
            buffer.insert(buffer.end(), host.begin() + static_cast<std::ptrdiff_t>(given),
                          host.begin() + static_cast<std::ptrdiff_t>(given + n));
            given += n;
        }
        std::vector<std::uint8_t> rekmo;
        const Result converted = converter.convert(host, rekmo);
        if (no_kind != 0) {
            ++kinds_missed;
            EXPECT_EQ(converted, Result::RECORD_KIND) << text;
            EXPECT_EQ(converter.record_fault().record, no_kind) << text;
        } else if (fault) {
            ++faults;
            EXPECT_EQ(converted, Result::RECORD_DESCRIPTOR) << text;
            EXPECT_EQ(converter.record_fault().record, fault->record) << text;
            EXPECT_EQ(converter.record_fault().offset, fault->offset) << text;
        } else {
            EXPECT_EQ(converted, Result::OK) << text;
        }
        EXPECT_EQ(std::string(rekmo.begin(), rekmo.end()), lines) << text << " trial " << trial;
    }
    // The trials reach both ways of stopping.
    EXPECT_GT(faults, 20);
    EXPECT_GT(kinds_missed, 20);
}

// The scan counts each record under its layout, those of no kind apart,
// and an item's findings only in the records of its layout.
TEST(RecordKinds, ScanCountsEachLayout) {
    const FormatDef def = format_of("RECLEN=3\nD,1,3,E,1\nKIND=1,1,A\nA,1,3,E,1\nKIND=1,1,X'C2'\nB,2,2,E,1\n");
    const Bytes host = {0xC1, 0xC2, 0xC3,  // A
                        0xC2, 0x6B, 0xC4,  // X'C2': a comma in B
                        0xC3, 0x6B, 0xC3,  // no kind: the items before the first KIND line
                        0xC1, 0x6B, 0xC1,  // A: a comma in A
                        0xC1, 0xC1, 0xC1};
    test::MemorySource source(host);
    inspect::Scan scan;
    ASSERT_EQ(inspect::scan_records(def, source, 2, scan), Result::OK);
    EXPECT_EQ(scan.records, 5u);
    EXPECT_EQ(scan.kind_records, (std::vector<std::uint64_t>{3, 1, 1}));
    EXPECT_EQ(scan.no_kind, 0u);
    ASSERT_EQ(scan.items.size(), 3u);
    const std::size_t comma = 0;  // FINDING_COMMA's bit
    EXPECT_EQ(scan.items[0].item, 1u);
    EXPECT_EQ(scan.items[0].first[comma], (std::vector<std::uint64_t>{3}));
    EXPECT_EQ(scan.items[1].item, 2u);
    EXPECT_EQ(scan.items[1].first[comma], (std::vector<std::uint64_t>{4}));
    EXPECT_EQ(scan.items[2].item, 3u);
    EXPECT_EQ(scan.items[2].first[comma], (std::vector<std::uint64_t>{2}));

    // Without the items before the first KIND line: record 3 is of no kind.
    const FormatDef strict = format_of("RECLEN=3\nKIND=1,1,A\nA,1,3,E,1\nKIND=1,1,X'C2'\nB,2,2,E,1\n");
    test::MemorySource again(host);
    ASSERT_EQ(inspect::scan_records(strict, again, 1, scan), Result::OK);
    EXPECT_EQ(scan.kind_records, (std::vector<std::uint64_t>{3, 1, 0}));
    EXPECT_EQ(scan.no_kind, 1u);
    EXPECT_EQ(scan.no_kind_first, (std::vector<std::uint64_t>{3}));
    EXPECT_EQ(scan.items.size(), 2u);
}

}  // namespace
}  // namespace rekmo
