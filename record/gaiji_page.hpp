// Code pages made when a format is compiled: a base page (a HOSTCODE page,
// or the default decoders tabulated once) copied, with a site's gaiji table
// entries written over it. The decoders read such a page as they read a
// HOSTCODE page, so the state machines are the same, and formats without
// GAIJI lines never build one.
//
// Shift_JIS text of a gaiji character: a character of the Private Use Area
// U+E000-E757 is its code page 932 user-defined code F040-F9FC (the
// platform's pairing: 188 codes a row, U+E000 is F040), any other character
// its code page 932 code when it has one, else 〓; a sequence of several
// characters is 〓 (a code's text holds one character). In UTF-8 every entry
// is written as it is given.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "codec/host_code.hpp"
#include "format/format.hpp"
#include "format/gaiji.hpp"

namespace rekmo {

// Which double-byte codes a page reads: F and FN, or K and KN.
enum class PageFamily : std::uint8_t { JEF, KEIS };

// A page in Shift_JIS. Built once per format; it never moves (the page
// refers to its own tables).
class SjisGaijiPage {
public:
    // `base`: the HOSTCODE page, or null for the default decoders of the
    // family. `pairs` and `singles` (either may be null): the gaiji tables.
    SjisGaijiPage(PageFamily family, const HostCodePage* base, const GaijiTable* pairs, const GaijiTable* singles);
    SjisGaijiPage(const SjisGaijiPage&) = delete;
    SjisGaijiPage& operator=(const SjisGaijiPage&) = delete;
    const HostCodePage& page() const noexcept { return page_; }

private:
    HostSingleByte single_{};
    HostPairTable table_{};
    HostDoubleByte pairs_{};
    std::array<std::uint64_t, 1024> lost_pairs_{};
    std::array<std::uint64_t, 4> lost_singles_{};
    std::array<std::uint64_t, 1024> gaiji_{};
    std::vector<std::uint32_t> notes_;  // a default base: its decoders' findings by code
    HostCodePage page_;
};

// A page in UTF-8. The default decoders' codes are each what code page 932
// reads in their Shift_JIS text (〓 for a text that is none).
class Utf8GaijiPage {
public:
    Utf8GaijiPage(PageFamily family, const HostUtf8Page* base, const GaijiTable* pairs, const GaijiTable* singles);
    Utf8GaijiPage(const Utf8GaijiPage&) = delete;
    Utf8GaijiPage& operator=(const Utf8GaijiPage&) = delete;
    const HostUtf8Page& page() const noexcept { return page_; }

private:
    HostUtf8 text(const std::uint8_t* bytes, std::size_t n);  // inline or long

    HostUtf8Single single_{};
    std::vector<HostUtf8> table_;  // by code
    HostUtf8Double pairs_{};
    std::vector<std::uint8_t> long_texts_;
    std::array<std::uint64_t, 1024> gaiji_{};
    std::vector<std::uint32_t> notes_;
    HostUtf8Page page_;
};

// The pages a format's GAIJI lines make: for F and FN (and the E items under
// HOSTCODE=JEF or none), and for K and KN (and the E items under KEIS78 or
// KEIS83), each only when a table applies to it.
struct GaijiPages {
    std::unique_ptr<SjisGaijiPage> sjis[2];  // by PageFamily
    std::unique_ptr<Utf8GaijiPage> utf8[2];
    bool any = false;
};

// The tables of a format's GAIJI lines, by GaijiCode (null: none).
struct GaijiTables {
    const GaijiTable* by_code[3] = {};
    bool any() const noexcept { return by_code[0] || by_code[1] || by_code[2]; }
};
GaijiTables gaiji_tables(const FormatDef& format) noexcept;

// Builds the pages for a format with tables. May throw std::bad_alloc.
std::shared_ptr<const GaijiPages> make_gaiji_pages(const GaijiTables& tables, HostCode host, bool utf8);

}  // namespace rekmo
