// What a host file's size and bytes say about the layout's record length.
#include <algorithm>
#include <cstdlib>
#include <string_view>

#include "inspect/inspect.hpp"

namespace rekmo::inspect {
namespace {

constexpr std::size_t SUGGESTIONS = 5;
constexpr std::uint64_t LINE_ENDS_NEEDED = 3;  // repeats before a line end counts as a pattern

// Record lengths from half to twice the layout's that divide the size,
// nearest first (shorter first on a tie).
std::vector<std::int64_t> dividing_lengths(std::uint64_t size, std::int64_t record_length) {
    std::vector<std::int64_t> lengths;
    if (size == 0 || record_length < 1) return lengths;
    const auto low = static_cast<std::uint64_t>(std::max<std::int64_t>(1, record_length / 2));
    const auto high = std::min<std::uint64_t>(static_cast<std::uint64_t>(record_length) * 2, MAX_RECORD_LENGTH);
    for (std::uint64_t d = 1; d <= size / d; ++d) {
        if (size % d != 0) continue;
        for (const std::uint64_t length : {d, size / d}) {
            if (length >= low && length <= high) lengths.push_back(static_cast<std::int64_t>(length));
        }
    }
    std::sort(lengths.begin(), lengths.end());
    lengths.erase(std::unique(lengths.begin(), lengths.end()), lengths.end());
    std::stable_sort(lengths.begin(), lengths.end(), [&](std::int64_t a, std::int64_t b) {
        return std::llabs(a - record_length) < std::llabs(b - record_length);
    });
    if (lengths.size() > SUGGESTIONS) lengths.resize(SUGGESTIONS);
    return lengths;
}

// A line end that recurs at a fixed stride from the start: a file fetched as
// text, with a line end added after each record.
std::string line_end_pattern(const std::vector<std::uint8_t>& head, std::int64_t record_length) {
    const std::string_view bytes(reinterpret_cast<const char*>(head.data()), head.size());
    for (const std::string_view end : {std::string_view("\r\n"), std::string_view("\n")}) {
        const std::size_t first = bytes.find(end);
        if (first == std::string_view::npos) continue;
        const std::size_t stride = first + end.size();
        const std::uint64_t strides = head.size() / stride;
        if (strides < LINE_ENDS_NEEDED) continue;
        bool every = true;
        for (std::uint64_t k = 1; k <= strides && every; ++k)
            every = bytes.substr(k * stride - end.size(), end.size()) == end;
        if (!every || static_cast<std::int64_t>(stride) == record_length) continue;
        const std::string name = end.size() == 2 ? "CR LF (0D 0A)" : "LF (0A)";
        return name + " ends every " + std::to_string(stride) + " bytes from the start: a file transferred as text, " +
               "with a line end after each record of " + std::to_string(first) + " bytes?";
    }
    return {};
}

// Host text is mostly 40 (space) and C1-F9 (letters, digits); text that was
// converted to ASCII on the way is mostly 20-7E with no high bytes.
std::string ascii_sign(const std::vector<std::uint8_t>& head) {
    if (head.size() < 64) return {};
    std::size_t printable = 0, spaces20 = 0, spaces40 = 0, high = 0;
    for (const std::uint8_t b : head) {
        printable += b >= 0x20 && b <= 0x7E;
        spaces20 += b == 0x20;
        spaces40 += b == 0x40;
        high += b >= 0xC0;
    }
    const bool ascii = printable * 10 >= head.size() * 9 && spaces20 > spaces40 && high * 100 < head.size();
    if (!ascii) return {};
    return "the first " + std::to_string(head.size()) +
           " bytes look like ASCII text, not host code: was the file converted in transfer?";
}

}  // namespace

HostCheck check_host(std::uint64_t size, std::int64_t record_length, const std::vector<std::uint8_t>& head,
                     const std::vector<std::uint8_t>& tail) {
    HostCheck check;
    check.size = size;
    if (record_length < 1) {
        check.remainder = size;  // no record to count: nothing divides
        return check;
    }
    const auto length = static_cast<std::uint64_t>(record_length);
    check.records = size / length;
    check.remainder = size % length;
    if (check.remainder != 0) {
        check.suggested_lengths = dividing_lengths(size, record_length);
        if (check.remainder <= tail.size()) {
            const std::vector<std::uint8_t> extra(tail.end() - static_cast<std::ptrdiff_t>(check.remainder),
                                                  tail.end());
            check.damage.push_back("the " + std::to_string(check.remainder) +
                                   " bytes after the last whole record are " + hex_text(extra, " ") +
                                   (extra.back() == 0x1A ? " (1A: an end-of-file mark)" : ""));
        }
    }
    if (std::string s = line_end_pattern(head, record_length); !s.empty()) check.damage.push_back(std::move(s));
    if (std::string s = ascii_sign(head); !s.empty()) check.damage.push_back(std::move(s));
    return check;
}

std::uint64_t descriptor_chain(std::span<const std::uint8_t> head, std::uint64_t size, RecordFormat format) noexcept {
    // An extended BDW is a large block's: in F data a high first byte is
    // common (EBCDIC letters and digits), so only the standard form counts.
    if (format == RecordFormat::VB && !head.empty() && (head[0] & 0x80u) != 0) return 0;
    RecordWalk walk(format, static_cast<std::size_t>(MAX_VARIABLE_RECORD));
    const bool whole = head.size() == size;
    std::size_t pos = 0;
    std::uint64_t records = 0;
    VariableRecord record;
    RecordFault fault;
    while (true) {
        switch (walk.next(head, pos, whole, record, fault)) {
            case RecordWalk::Step::RECORD:
                if (record.data.empty()) return 0;  // 00 04 00 00: no data, no sign of a record
                ++records;
                continue;
            case RecordWalk::Step::END:
                return records >= 2 ? records : 0;
            case RecordWalk::Step::MORE:
                return records >= MIN_CHAIN ? records : 0;
            case RecordWalk::Step::FAULT:
                return 0;
        }
    }
}

HostCheck check_host(std::uint64_t size, const FormatDef& format, const std::vector<std::uint8_t>& head,
                     const std::vector<std::uint8_t>& tail) {
    if (record_format(format) != RecordFormat::F) {
        HostCheck check;
        check.size = size;
        check.variable = true;
        if (std::string s = ascii_sign(head); !s.empty()) check.damage.push_back(std::move(s));
        return check;
    }
    HostCheck check = check_host(size, format.record_length, head, tail);
    const bool recfm_line = std::any_of(format.options.begin(), format.options.end(),
                                        [](const OptionLine& line) { return line.kind == OptionKind::RECFM; });
    if (recfm_line) return check;
    // Blocks first: a VB file's BDWs also chain as RDWs, each block one record.
    for (const RecordFormat candidate : {RecordFormat::VB, RecordFormat::V}) {
        if (const std::uint64_t records = descriptor_chain(head, size, candidate); records > 0) {
            check.suggested_record_format = candidate;
            check.chain_records = records;
            break;
        }
    }
    return check;
}

}  // namespace rekmo::inspect
