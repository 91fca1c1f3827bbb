// Zoned and packed decimal (Z and P items).
//
//   zoned   F1 F2 D3      one digit per byte in the low half; the high half of
//           zone digit    the last byte is the sign: -123
//   packed  01 23 4D      two digits per byte; the low half of the last byte
//           dd dd ds      is the sign: -1234
//
// Deliberate oddities:
//   - the sign is negative unless its half-byte is C or F: D, but also 0-9,
//     A, B and E read as negative (ASCII digits 31 32 33 as zoned give -123);
//   - a digit half-byte A-F ends the number there (packed 1A 2C gives 1), so
//     host spaces (40) in a zoned item read as zeros but 4A would end it;
//   - the value is a double: the first 25 significant digits are read, later
//     ones count only toward the magnitude, and the text keeps at most 17
//     significant digits, the rest printed as 0 (1234567890123456789 prints
//     1234567890123456800);
//   - zero prints as 0, never -0;
//   - more than 308 significant digits leave the range of a double and print
//     as inf or -inf (rekmo never sees them: the format check keeps P items
//     to 150 bytes and Z items to 300).
#include "codec/decimal.hpp"

#include "codec/decimal_machine.hpp"

#include <array>
#include <charconv>
#include <cstring>
#include <limits>
#include <string_view>
#include <utility>

namespace rekmo {
namespace {

constexpr unsigned SIGN_POSITIVE = 0xC;
constexpr unsigned SIGN_UNSIGNED = 0xF;
constexpr int READ_DIGITS = 25;                                // significant digits that are read
constexpr int PRINT_DIGITS = 17;                               // significant digits that are printed
constexpr std::uint64_t EXACT_LIMIT = std::uint64_t{1} << 53;  // integers up to here are exact doubles

constexpr unsigned SIGN_NEGATIVE = 0xD;

bool is_negative(unsigned sign) noexcept { return sign != SIGN_POSITIVE && sign != SIGN_UNSIGNED; }

// The sign half-byte of a non-empty item.
unsigned sign_of(DecimalMode mode, const std::uint8_t* p, std::size_t n) noexcept {
    return mode == DECIMAL_ZONED ? p[n - 1] >> 4u : p[n - 1] & 0x0Fu;
}

// Host programs write C, D or F; anything else (a space, an ASCII digit's 3)
// reads as negative, which is seldom what the data meant.
template <class Report>
void note_sign(Report& report, unsigned sign) noexcept {
    if (sign != SIGN_POSITIVE && sign != SIGN_NEGATIVE && sign != SIGN_UNSIGNED) report.note(FINDING_UNUSUAL_SIGN);
}

// True for a digit; a half-byte above 9 ends the number, and is noted.
template <class Report>
bool digit_ok(Report& report, unsigned half) noexcept {
    if (half <= 9) return true;
    report.note(FINDING_NON_DIGIT);
    return false;
}

// Calls f(digit) for each digit half-byte in order until f returns false or
// a half-byte above 9 ends the number. Returns the sign half-byte.
template <typename F, class Report = NoReport>
unsigned for_each_digit(DecimalMode mode, std::span<const std::uint8_t> item, F&& f, Report&& report = {}) noexcept {
    const std::size_t n = item.size();
    if (n == 0) return SIGN_POSITIVE;
    if (mode == DECIMAL_ZONED) {
        for (std::size_t i = 0; i < n; ++i) {
            const unsigned d = item[i] & 0x0Fu;
            if (!digit_ok(report, d) || !f(d)) break;
        }
        return sign_of(mode, item.data(), n);
    }
    for (std::size_t i = 0; i < n; ++i) {
        const unsigned high = item[i] >> 4;
        if (!digit_ok(report, high) || !f(high)) break;
        if (i + 1 == n) break;  // the low half of the last byte is the sign
        const unsigned low = item[i] & 0x0Fu;
        if (!digit_ok(report, low) || !f(low)) break;
    }
    return sign_of(mode, item.data(), n);
}

// Two decimal digits per lookup: "00" "01" ... "99".
constexpr auto DIGIT_PAIRS = [] {
    std::array<char, 200> pairs{};
    for (int i = 0; i < 100; ++i) {
        pairs[static_cast<std::size_t>(2 * i)] = static_cast<char>('0' + i / 10);
        pairs[static_cast<std::size_t>(2 * i + 1)] = static_cast<char>('0' + i % 10);
    }
    return pairs;
}();

std::size_t print_integer(std::uint64_t magnitude, bool negative, std::uint8_t* out) noexcept {
    char digits[20];
    char* first = digits + sizeof digits;
    while (magnitude >= 100) {
        first -= 2;
        std::memcpy(first, &DIGIT_PAIRS[2 * (magnitude % 100)], 2);
        magnitude /= 100;
    }
    if (magnitude >= 10) {
        first -= 2;
        std::memcpy(first, &DIGIT_PAIRS[2 * magnitude], 2);
    } else {
        *--first = static_cast<char>('0' + magnitude);
    }
    std::size_t len = 0;
    if (negative && !(first[0] == '0' && first + 1 == digits + sizeof digits)) out[len++] = '-';
    const auto n = static_cast<std::size_t>(digits + sizeof digits - first);
    std::memcpy(out + len, first, n);
    return len + n;
}

// Short items (at most 15 digits: below 10^15, so the value is exact): the
// text is the digit half-bytes themselves, leading zeros skipped, up to the
// first half-byte above 9. No arithmetic, no long dependency chain.
template <class Report>
class DigitWriter {
public:
    DigitWriter(std::uint8_t* out, bool negative, Report& report) noexcept
        : out_(out), negative_(negative), report_(report) {}
    // False when the half-byte is no digit and ends the number.
    bool put(unsigned digit) noexcept {
        if (!digit_ok(report_, digit)) return false;
        if (n_ == 0) {
            if (digit == 0) return true;  // leading zeros are not significant
            if (negative_) out_[n_++] = '-';
        }
        out_[n_++] = static_cast<std::uint8_t>('0' + digit);
        return true;
    }
    std::size_t finish() noexcept {
        if (n_ == 0) out_[n_++] = '0';  // zero, whatever the sign
        return n_;
    }

private:
    std::uint8_t* out_;
    bool negative_;
    Report& report_;
    std::size_t n_ = 0;
};

template <class Report>
std::size_t short_packed(const std::uint8_t* p, std::size_t n, std::uint8_t* out, Report& report) noexcept {
    DigitWriter writer(out, is_negative(sign_of(DECIMAL_PACKED, p, n)), report);
    for (std::size_t i = 0; i < n; ++i) {
        if (!writer.put(p[i] >> 4u)) break;
        if (i + 1 == n || !writer.put(p[i] & 0x0Fu)) break;  // the last low half is the sign
    }
    return writer.finish();
}

template <class Report>
std::size_t short_zoned(const std::uint8_t* p, std::size_t n, std::uint8_t* out, Report& report) noexcept {
    DigitWriter writer(out, is_negative(sign_of(DECIMAL_ZONED, p, n)), report);
    for (std::size_t i = 0; i < n && writer.put(p[i] & 0x0Fu); ++i) {
    }
    return writer.finish();
}

}  // namespace

double decode_decimal(DecimalMode mode, std::span<const std::uint8_t> item) noexcept {
    // The first 25 significant digits, then an exponent for the rest.
    char text[READ_DIGITS + 8];
    int kept = 0;
    int dropped = 0;
    const unsigned sign = for_each_digit(mode, item, [&](unsigned d) {
        if (kept == 0 && d == 0) return true;  // leading zeros are not significant
        if (kept < READ_DIGITS) {
            text[kept++] = static_cast<char>('0' + d);
        } else {
            ++dropped;
        }
        return true;
    });
    double value = 0.0;
    if (kept > 0) {
        char* end = text + kept;
        if (dropped > 0) {
            *end++ = 'e';
            end = std::to_chars(end, text + sizeof text, dropped).ptr;
        }
        // Correctly rounded, ties to even; a value beyond the largest double
        // (more than 308 digits) is infinite.
        if (std::from_chars(text, end, value).ec == std::errc::result_out_of_range) {
            value = std::numeric_limits<double>::infinity();
        }
    }
    return is_negative(sign) ? -value : value;
}

std::size_t print_decimal(double value, std::uint8_t* out) noexcept {
    if (value == 0.0) {
        out[0] = '0';
        return 1;
    }
    // The exact decimal digits of the integral value (at most 309), or "inf".
    char exact[320];
    const double magnitude = value < 0 ? -value : value;
    const std::size_t n = static_cast<std::size_t>(
        std::to_chars(exact, exact + sizeof exact, magnitude, std::chars_format::fixed, 0).ptr - exact);
    std::size_t len = 0;
    if (value < 0) out[len++] = '-';
    if (n <= PRINT_DIGITS) {
        std::memcpy(out + len, exact, n);
        return len + n;
    }
    // Keep 17 digits, rounded half up from the 18th alone; a carry out of
    // the first digit adds one.
    bool carry = exact[PRINT_DIGITS] >= '5';
    for (std::size_t i = PRINT_DIGITS; i-- > 0 && carry;) {
        carry = exact[i] == '9';
        exact[i] = carry ? '0' : static_cast<char>(exact[i] + 1);
    }
    if (carry) out[len++] = '1';
    std::memcpy(out + len, exact, PRINT_DIGITS);
    std::memset(out + len + PRINT_DIGITS, '0', n - PRINT_DIGITS);
    return len + n;
}

namespace {

// True when `printed`, without its sign, is the item's significant digits.
bool prints_its_digits(DecimalMode mode, std::span<const std::uint8_t> item, std::string_view printed) noexcept {
    if (printed.starts_with('-')) printed.remove_prefix(1);
    std::size_t i = 0;
    bool same = true;
    for_each_digit(mode, item, [&](unsigned d) {
        if (i == 0 && d == 0) return true;  // leading zeros are not significant
        same = i < printed.size() && printed[i] == static_cast<char>('0' + d);
        ++i;
        return same;
    });
    return same && (i == 0 ? printed == "0" : i == printed.size());
}

template <class Report>
std::size_t decimal_text(DecimalMode mode, std::span<const std::uint8_t> item, std::uint8_t* out,
                         Report& report) noexcept {
    const std::size_t n = item.size();
    if (n == 0) return print_integer(0, false, out);
    if constexpr (Report::ACTIVE) note_sign(report, sign_of(mode, item.data(), n));
    // Ledger amounts and dates.
    if (mode == DECIMAL_PACKED && n <= SHORT_PACKED_BYTES) return short_packed(item.data(), n, out, report);
    if (mode == DECIMAL_ZONED && n <= SHORT_ZONED_BYTES) return short_zoned(item.data(), n, out, report);
    // Longer items: below 2^53 the number is still an exact double, and with
    // at most 16 digits it prints exactly.
    std::uint64_t magnitude = 0;
    bool exact = true;
    const unsigned sign = for_each_digit(
        mode, item,
        [&](unsigned d) {
            magnitude = magnitude * 10 + d;
            exact = magnitude < EXACT_LIMIT;
            return exact;
        },
        report);
    if (exact) return print_integer(magnitude, is_negative(sign), out);
    const std::size_t len = print_decimal(decode_decimal(mode, item), out);
    if constexpr (Report::ACTIVE) {
        for_each_digit(
            mode, item, [](unsigned) { return true; }, report);  // the half-bytes past 2^53
        if (!prints_its_digits(mode, item, {reinterpret_cast<const char*>(out), len})) {
            report.note(FINDING_PRECISION);
        }
    }
    return len;
}

}  // namespace

std::size_t decimal_text_scalar(DecimalMode mode, std::span<const std::uint8_t> item, std::uint8_t* out) noexcept {
    NoReport quiet;
    return decimal_text(mode, item, out, quiet);
}

namespace {

// The n bytes (1 to 8) at `at` of a record, the first the most significant,
// as one word from one load of eight bytes: the eight ending with the n where
// the record has them (the item ends eight bytes or more into the record),
// else the eight starting with them. The choice depends on the record's
// length and the item's place alone, so a column of records makes it once.
struct WordLoad {
    std::size_t offset = 0;                  // of the eight bytes in the record
    unsigned shift = 0;                      // drops the bytes after the n
    std::uint64_t mask = ~std::uint64_t{0};  // drops the bytes before them

    // The n bytes at `at` from the eight ending with them (`end`), or from
    // the eight starting with them.
    static constexpr WordLoad of(std::size_t at, std::size_t n, bool end) noexcept {
        if (end) return {at + n - 8, 0, n == 8 ? ~std::uint64_t{0} : (std::uint64_t{1} << (8 * n)) - 1};
        return {at, static_cast<unsigned>(8 * (8 - n)), ~std::uint64_t{0}};
    }

    std::uint64_t operator()(const std::uint8_t* record) const noexcept {
        std::uint64_t word;
        std::memcpy(&word, record + offset, 8);
        return (__builtin_bswap64(word) >> shift) & mask;
    }
};

// False when a record of `size` bytes has neither eight bytes (it is shorter
// than the item's start plus eight, and the item lies in its first eight).
bool word_load(std::size_t size, std::size_t at, std::size_t n, WordLoad& load) noexcept {
    if (at + n >= 8) {
        load = WordLoad::of(at, n, true);
        return true;
    }
    if (size >= at + 8) {
        load = WordLoad::of(at, n, false);
        return true;
    }
    return false;
}

// The n bytes (at most eight) at `at` of `bytes` as one word, as WordLoad
// reads them, or a byte at a time where `bytes` is too short for a load.
std::uint64_t big_endian(std::span<const std::uint8_t> bytes, std::size_t at, std::size_t n) noexcept {
    if (n == 0) return 0;
    WordLoad load;
    if (word_load(bytes.size(), at, n, load)) return load(bytes.data());
    std::uint64_t word = 0;
    for (std::size_t i = 0; i < n; ++i) word = word << 8 | bytes[at + i];
    return word;
}

constexpr std::uint64_t LOW_HALVES = 0x0F0F0F0F0F0F0F0Fu;

// Nonzero when a byte of `halves` (each 0-15) is above 9: adding 6 carries into bit 4.
constexpr std::uint64_t above_nine(std::uint64_t halves) noexcept {
    return (halves + 0x0606060606060606u) & 0x1010101010101010u;
}

// A digit 0-9 in each byte, the first byte the most significant: their value.
constexpr std::uint64_t digit_bytes_value(std::uint64_t x) noexcept {
    x = ((x >> 8) & 0x00FF00FF00FF00FFu) * 10 + (x & 0x00FF00FF00FF00FFu);
    x = ((x >> 16) & 0x0000FFFF0000FFFFu) * 100 + (x & 0x0000FFFF0000FFFFu);
    return (x >> 32) * 10000 + (x & 0xFFFFFFFFu);
}

// Two digits, 0-99, in each byte, the first byte the most significant: their value.
constexpr std::uint64_t digit_pairs_value(std::uint64_t x) noexcept {
    x = ((x >> 8) & 0x00FF00FF00FF00FFu) * 100 + (x & 0x00FF00FF00FF00FFu);
    x = ((x >> 16) & 0x0000FFFF0000FFFFu) * 10000 + (x & 0x0000FFFF0000FFFFu);
    return (x >> 32) * 100000000u + (x & 0xFFFFFFFFu);
}

// A short item's value from its bytes as words: a packed item's n bytes in
// `tail`; a zoned item's last eight (all of them up to eight) in `tail` and,
// with Head, the n - 8 before them in `head`. The item's last byte, with the
// sign, is the low byte of `tail`. False, with nothing set, when a digit
// half-byte is above 9: the number ends there, as the text says.
template <DecimalMode Mode, bool Head>
[[gnu::always_inline]] inline bool short_word_value(std::uint64_t head, std::uint64_t tail, std::int64_t& value,
                                                    bool& number) noexcept {
    unsigned sign;
    std::uint64_t magnitude;
    if constexpr (Mode == DECIMAL_PACKED) {
        sign = tail & 0x0Fu;
        // 2n - 1 digit half-bytes before the sign: in pairs of a byte's halves.
        const std::uint64_t word = tail >> 4;
        const std::uint64_t high = (word >> 4) & LOW_HALVES, low = word & LOW_HALVES;
        if ((above_nine(high) | above_nine(low)) != 0) return false;
        magnitude = digit_pairs_value(high * 10 + low);
    } else {
        sign = (tail >> 4) & 0x0Fu;
        const std::uint64_t rest = tail & LOW_HALVES;
        const std::uint64_t first = Head ? head & LOW_HALVES : 0;
        if ((above_nine(first) | above_nine(rest)) != 0) return false;
        magnitude = digit_bytes_value(rest);
        if constexpr (Head) magnitude += digit_bytes_value(first) * 100000000u;
    }
    number = sign > 9;
    const auto signed_magnitude = static_cast<std::int64_t>(magnitude);
    value = is_negative(sign) ? -signed_magnitude : signed_magnitude;
    return true;
}

// A half-byte above 9 ends the number: the text says where. Never a number.
[[gnu::noinline]] std::int64_t short_text_value(DecimalMode mode, std::span<const std::uint8_t> item) noexcept {
    std::uint8_t text[32];
    const std::size_t len = decimal_text_scalar(mode, item, text);
    std::int64_t value = 0;
    std::from_chars(reinterpret_cast<const char*>(text), reinterpret_cast<const char*>(text) + len, value);
    return value;
}

template <DecimalMode Mode, bool Head>
std::int64_t short_value(std::span<const std::uint8_t> bytes, std::size_t at, std::size_t n, bool& number) noexcept {
    const std::size_t head = Head ? n - 8 : 0;  // the bytes before the last eight
    std::int64_t value;
    if (short_word_value<Mode, Head>(big_endian(bytes, at, head), big_endian(bytes, at + head, n - head), value,
                                     number)) {
        return value;
    }
    number = false;
    return short_text_value(Mode, bytes.subspan(at, n));
}

std::int64_t short_value(DecimalMode mode, std::span<const std::uint8_t> bytes, std::size_t at, std::size_t n,
                         bool& number) noexcept {
    if (mode == DECIMAL_PACKED) return short_value<DECIMAL_PACKED, false>(bytes, at, n, number);
    return n > 8 ? short_value<DECIMAL_ZONED, true>(bytes, at, n, number)
                 : short_value<DECIMAL_ZONED, false>(bytes, at, n, number);
}

// A column: the item of n = N bytes at `at` of `count` records, a loop made
// for each form and length, so that the loads' shifts and masks, and the
// steps of the digits' sum that a short item leaves at zero, are settled at
// compile time (in bench/decimal_bench.cpp's columns 1.3 to 1.6 times as fast
// for P, and twice as fast for Z, as deciding it all for each item). End says
// where the load that may go either way ends: the one load of a packed item
// or of a zoned item of up to eight bytes, or the load of the bytes before a
// longer zoned item's last eight (the last eight always end the item). The
// per-item work is short_word_value's, as for one item; not_numbers advances
// by `flag_step` (0 writes them all to one place).
template <DecimalMode Mode, std::size_t N, bool End>
void short_column(const std::uint8_t* records, std::size_t count, std::size_t record_length, std::size_t at,
                  std::int64_t* values, bool* not_numbers, std::size_t flag_step) noexcept {
    constexpr bool HEAD = N > 8;
    constexpr std::size_t HEAD_BYTES = HEAD ? N - 8 : 0, FIRST = HEAD ? HEAD_BYTES : N;
    // Shifts and masks the compiler folds into the work that follows.
    const WordLoad first_load = WordLoad::of(at, FIRST, End), tail_load = WordLoad::of(at + HEAD_BYTES, 8, true);
    for (std::size_t r = 0; r < count; ++r, not_numbers += flag_step) {
        const std::uint8_t* record = records + r * record_length;
        const std::uint64_t first = first_load(record);
        const std::uint64_t head = HEAD ? first : 0;
        const std::uint64_t tail = HEAD ? tail_load(record) : first;
        std::int64_t value;
        bool number;
        if (!short_word_value<Mode, HEAD>(head, tail, value, number)) [[unlikely]] {
            value = short_text_value(Mode, {record + at, N});
            number = false;
        }
        values[r] = value;
        *not_numbers = !number;
    }
}

using ShortColumn = void (*)(const std::uint8_t*, std::size_t, std::size_t, std::size_t, std::int64_t*, bool*,
                             std::size_t) noexcept;

// The loops of one form, by length (1 up) and End.
template <DecimalMode Mode, std::size_t... I>
constexpr auto short_columns(std::index_sequence<I...>) noexcept {
    return std::array<ShortColumn, 2 * sizeof...(I)>{short_column<Mode, I / 2 + 1, I % 2 == 1>...};
}
constexpr auto PACKED_COLUMNS = short_columns<DECIMAL_PACKED>(std::make_index_sequence<2 * SHORT_PACKED_BYTES>{});
constexpr auto ZONED_COLUMNS = short_columns<DECIMAL_ZONED>(std::make_index_sequence<2 * SHORT_ZONED_BYTES>{});

}  // namespace

std::int64_t short_decimal_value(DecimalMode mode, std::span<const std::uint8_t> item, bool& number) noexcept {
    return short_value(mode, item, 0, item.size(), number);
}

std::int64_t short_decimal_value(DecimalMode mode, std::span<const std::uint8_t> bytes, std::size_t at, std::size_t n,
                                 bool& number) noexcept {
    return short_value(mode, bytes, at, n, number);
}

void short_decimal_values(DecimalMode mode, std::span<const std::uint8_t> records, std::size_t record_length,
                          std::size_t at, std::size_t n, std::int64_t* values, bool* not_numbers) noexcept {
    const std::size_t count = record_length == 0 ? 0 : records.size() / record_length;
    if (count == 0) return;
    // The load that may end with the item's bytes or start with them: the
    // only one, or the one before a zoned item's last eight bytes.
    const std::size_t first = mode == DECIMAL_ZONED && n > 8 ? n - 8 : n;
    WordLoad load;
    if (short_decimal_item(mode, n) && word_load(record_length, at, first, load)) {
        const bool end = load.shift == 0;  // (for eight bytes both ends are the same)
        const ShortColumn column =
            (mode == DECIMAL_PACKED ? PACKED_COLUMNS.data() : ZONED_COLUMNS.data())[2 * (n - 1) + end];
        bool sink;
        column(records.data(), count, record_length, at, values, not_numbers != nullptr ? not_numbers : &sink,
               not_numbers != nullptr ? 1 : 0);
        return;
    }
    // Records too short for a load of eight bytes: a byte at a time.
    for (std::size_t r = 0; r < count; ++r) {
        bool number = true;
        values[r] = short_value(mode, records.subspan(r * record_length, record_length), at, n, number);
        if (not_numbers != nullptr) not_numbers[r] = !number;
    }
}

std::size_t decode_packed_field(std::span<const std::uint8_t> item, std::uint8_t* out,
                                const VectorKernels& kernels) noexcept {
    return kernels.packed(item, out);
}

std::size_t decode_zoned_field(std::span<const std::uint8_t> item, std::uint8_t* out,
                               const VectorKernels& kernels) noexcept {
    return kernels.zoned(item, out);
}

std::size_t decode_packed_field(std::span<const std::uint8_t> item, std::uint8_t* out) noexcept {
    return active_kernels().packed(item, out);
}

std::size_t decode_zoned_field(std::span<const std::uint8_t> item, std::uint8_t* out) noexcept {
    return active_kernels().zoned(item, out);
}

std::size_t decode_packed_field(std::span<const std::uint8_t> item, std::uint8_t* out, DecodeReport& report) noexcept {
    return decimal_text(DECIMAL_PACKED, item, out, report);
}

std::size_t decode_zoned_field(std::span<const std::uint8_t> item, std::uint8_t* out, DecodeReport& report) noexcept {
    return decimal_text(DECIMAL_ZONED, item, out, report);
}

}  // namespace rekmo
