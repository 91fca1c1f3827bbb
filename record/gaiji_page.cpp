#include "record/gaiji_page.hpp"

#include <algorithm>

#include "codec/cp932.hpp"
#include "codec/ebcdic.hpp"
#include "codec/jef.hpp"
#include "codec/jis0208.hpp"
#include "codec/keis.hpp"

namespace rekmo {
namespace {

constexpr std::uint8_t JEF_SPACE = 0x40;  // 40 40: JEF's double-byte space, 81 40 by default

// A Shift_JIS code (lead << 8 | trail, or one byte) as a page's text.
constexpr HostText host_text_of(std::uint16_t code) noexcept {
    return code > 0xFF ? static_cast<HostText>((code >> 8) | (code & 0xFF) << 8) : code;
}

// The text of one gaiji entry in Shift_JIS, and whether it holds the
// entry's character (a loss otherwise).
HostText sjis_text(const GaijiEntry& entry, bool& lost) {
    std::uint16_t code = 0;
    if (entry.text.size() == 1) {
        code = cp932_eudc(entry.text[0]);
        if (code == 0) code = cp932_code(entry.text[0]);
    }
    lost = code == 0;
    return code == 0 ? HOST_TEXT_GETA : host_text_of(code);
}

// The default decoders' Shift_JIS of a double-byte code: the JIS mapping of
// the code less 80 80, cut at a 00 byte (0 to 2 bytes); JEF's 40 40 is 81 40.
HostText default_pair(PageFamily family, std::uint8_t a, std::uint8_t b) noexcept {
    if (family == PageFamily::JEF && a == JEF_SPACE && b == JEF_SPACE) return host_text_of(0x8140);
    std::uint8_t s[2];
    const std::size_t n = append_host_sjis(a, b, s);
    return n == 0 ? 0 : n == 1 ? HostText{s[0]} : static_cast<HostText>(s[0] | s[1] << 8);
}

// A one-byte text the single-byte steps can write as it is: 20-7E, A1-DF.
constexpr bool narrow_text(HostText text) noexcept {
    return (text >= 0x20 && text <= 0x7E) || (text >= 0xA1 && text <= 0xDF);
}

void set_code(std::uint64_t* set, unsigned code, bool on) noexcept {
    const std::uint64_t bit = std::uint64_t{1} << (code % 64);
    set[code / 64] = on ? set[code / 64] | bit : set[code / 64] & ~bit;
}

// What the default decoders report of each double-byte code (the gaiji
// finding aside: the page's own set says it), none for the codes a table
// gives.
std::vector<std::uint32_t> default_notes(PageFamily family, const GaijiTable* pairs) {
    std::vector<std::uint32_t> notes(0x10000);
    for (unsigned code = 0; code < 0x10000; ++code) {
        const std::uint8_t item[2] = {static_cast<std::uint8_t>(code >> 8), static_cast<std::uint8_t>(code)};
        std::uint8_t out[2];
        DecodeReport report;
        if (family == PageFamily::JEF) {
            decode_jef_n_field(item, out, report);
        } else {
            decode_keis_n_field(item, out, report);
        }
        notes[code] = report.found & ~std::uint32_t{FINDING_GAIJI};
    }
    if (pairs != nullptr) {
        for (const GaijiEntry& entry : pairs->entries) notes[entry.code] = 0;
    }
    return notes;
}

const std::uint64_t* family_area(PageFamily family) noexcept {
    return family == PageFamily::JEF ? JEF_USER_DEFINED : KEIS_USER_DEFINED;
}

}  // namespace

SjisGaijiPage::SjisGaijiPage(PageFamily family, const HostCodePage* base, const GaijiTable* pairs,
                             const GaijiTable* singles)
    : page_{single_, pairs_, table_, lost_pairs_.data(), lost_singles_.data(), gaiji_.data()} {
    std::array<std::uint8_t, 256> narrow{};
    std::array<HostText, 256> text{};
    for (unsigned b = 0; b < 256; ++b) {
        text[b] = base != nullptr ? base->single.text[b] : HostText{HOST_SB_TABLE[b]};
        narrow[b] = narrow_text(text[b]) ? static_cast<std::uint8_t>(text[b]) : 0;
    }
    for (unsigned code = 0; code < 0x10000; ++code) {
        const auto a = static_cast<std::uint8_t>(code >> 8), b = static_cast<std::uint8_t>(code);
        table_[code] = base != nullptr ? base->table[code] : default_pair(family, a, b);
    }
    table_[0x10000] = 0;
    if (base != nullptr) {
        std::copy_n(base->lost_pairs, lost_pairs_.size(), lost_pairs_.begin());
        std::copy_n(base->lost_singles, lost_singles_.size(), lost_singles_.begin());
    }
    std::copy_n(family_area(family), gaiji_.size(), gaiji_.begin());
    if (pairs != nullptr) {
        for (const GaijiEntry& entry : pairs->entries) {
            bool lost = false;
            table_[entry.code] = sjis_text(entry, lost);
            set_code(lost_pairs_.data(), entry.code, lost);
            set_code(gaiji_.data(), entry.code, false);
        }
    }
    if (singles != nullptr) {
        for (const GaijiEntry& entry : singles->entries) {
            bool lost = false;
            text[entry.code] = sjis_text(entry, lost);
            narrow[entry.code] = narrow_text(text[entry.code]) ? static_cast<std::uint8_t>(text[entry.code]) : 0;
            set_code(lost_singles_.data(), entry.code, lost);
        }
    }
    single_ = make_host_single(narrow, text);
    for (unsigned lead = 0; lead < 256; ++lead) pairs_.rows[lead] = table_.data() + lead * 256;
    if (base == nullptr) {
        notes_ = default_notes(family, pairs);
        page_.pair_notes = notes_.data();
    }
}

HostUtf8 Utf8GaijiPage::text(const std::uint8_t* bytes, std::size_t n) {
    const std::size_t one = n == 0 ? 0 : bytes[0] < 0x80 ? 1 : bytes[0] < 0xE0 ? 2 : bytes[0] < 0xF0 ? 3 : 4;
    if (n > 0 && n == one) {
        HostUtf8 text = 0;
        for (std::size_t i = 0; i < n; ++i) text |= HostUtf8{bytes[i]} << (8 * i);
        return text;
    }
    const std::size_t at = long_texts_.size();
    long_texts_.push_back(static_cast<std::uint8_t>(n));
    long_texts_.insert(long_texts_.end(), bytes, bytes + n);
    return HOST_UTF8_LONG | static_cast<HostUtf8>(at) << 8;
}

Utf8GaijiPage::Utf8GaijiPage(PageFamily family, const HostUtf8Page* base, const GaijiTable* pairs,
                             const GaijiTable* singles)
    : table_(0x10000), page_{single_, pairs_, nullptr, gaiji_.data()} {
    std::uint8_t utf8[3 * 2];
    // What code page 932 reads in a default text, code by code.
    const auto decoded = [&](HostText sjis) {
        std::uint8_t s[2];
        const std::size_t n = append_host_text(sjis, s);
        return text(utf8, cp932_to_utf8({s, n}, utf8));
    };
    for (unsigned b = 0; b < 256; ++b) {
        single_.text[b] = base != nullptr ? base->single.text[b] : decoded(HOST_SB_TABLE[b]);
    }
    for (unsigned code = 0; code < 0x10000; ++code) {
        const auto a = static_cast<std::uint8_t>(code >> 8), b = static_cast<std::uint8_t>(code);
        table_[code] = base != nullptr ? base->pairs.rows[a][b] : decoded(default_pair(family, a, b));
    }
    std::copy_n(family_area(family), gaiji_.size(), gaiji_.begin());
    const auto own = [&](const GaijiEntry& entry) {
        const std::string bytes = gaiji_utf8(entry.text);
        return text(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    };
    if (pairs != nullptr) {
        for (const GaijiEntry& entry : pairs->entries) {
            table_[entry.code] = own(entry);
            set_code(gaiji_.data(), entry.code, false);
        }
    }
    if (singles != nullptr) {
        for (const GaijiEntry& entry : singles->entries) single_.text[entry.code] = own(entry);
    }
    for (unsigned lead = 0; lead < 256; ++lead) pairs_.rows[lead] = table_.data() + lead * 256;
    page_.long_texts = long_texts_.data();
    if (base == nullptr) {
        notes_ = default_notes(family, pairs);
        page_.pair_notes = notes_.data();
    }
}

GaijiTables gaiji_tables(const FormatDef& format) noexcept {
    GaijiTables tables;
    for (const OptionLine& option : format.options) {
        if (option.kind != OptionKind::GAIJI || !option.well_formed || !option.gaiji_table) continue;
        const GaijiTable*& table = tables.by_code[static_cast<int>(option.gaiji_code)];
        if (table == nullptr) table = option.gaiji_table.get();
    }
    return tables;
}

std::shared_ptr<const GaijiPages> make_gaiji_pages(const GaijiTables& tables, HostCode host, bool utf8) {
    auto pages = std::make_shared<GaijiPages>();
    const GaijiTable* const singles = tables.by_code[static_cast<int>(GaijiCode::EBCDIC)];
    for (const PageFamily family : {PageFamily::JEF, PageFamily::KEIS}) {
        const bool jef = family == PageFamily::JEF;
        const GaijiTable* const pairs = tables.by_code[static_cast<int>(jef ? GaijiCode::JEF : GaijiCode::KEIS)];
        if (pairs == nullptr && singles == nullptr) continue;
        const bool hosted = jef ? host == HostCode::JEF : host == HostCode::KEIS78 || host == HostCode::KEIS83;
        const auto index = static_cast<std::size_t>(family);
        if (utf8) {
            const HostUtf8Page* base = !hosted                    ? nullptr
                                       : jef                      ? &HOST_UTF8_JEF
                                       : host == HostCode::KEIS78 ? &HOST_UTF8_KEIS78
                                                                  : &HOST_UTF8_KEIS83;
            pages->utf8[index] = std::make_unique<Utf8GaijiPage>(family, base, pairs, singles);
        } else {
            const HostCodePage* base = !hosted                    ? nullptr
                                       : jef                      ? &HOST_PAGE_JEF
                                       : host == HostCode::KEIS78 ? &HOST_PAGE_KEIS78
                                                                  : &HOST_PAGE_KEIS83;
            pages->sjis[index] = std::make_unique<SjisGaijiPage>(family, base, pairs, singles);
        }
        pages->any = true;
    }
    return pages;
}

}  // namespace rekmo
