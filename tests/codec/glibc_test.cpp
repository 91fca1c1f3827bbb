// The decoders against glibc's iconv as an independent reference (Linux
// builds): the host single-byte table against IBM930, the JIS X 0208 mapping
// on every character, and KEIS and JEF text round trips through EUC-JP (JIS
// with both bytes | 0x80, which is what KEIS and JEF double-byte text is).
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "codec/cp932.hpp"
#include "codec/ebcdic.hpp"
#include "codec/jef.hpp"
#include "codec/jis0208.hpp"
#include "codec/keis.hpp"
#include "support/iconv_util.hpp"

namespace rekmo {
namespace {

std::set<int> range(int first, int last) {
    std::set<int> s;
    for (int b = first; b <= last; ++b) s.insert(b);
    return s;
}

// Where glibc knows no character the table gives a space; elsewhere the two
// agree, but at the positions this code reads differently on purpose.
TEST(Glibc, HostSingleByteCodeIsIbm930ExceptWhereDeliberate) {
    ASSERT_TRUE(test::iconv_convert("IBM930", "CP932", "\xC1")) << "glibc lacks IBM930";
    std::set<int> deliberate = range(0x00, 0x3F);  // host controls: spaces
    for (const std::set<int>& group : {
             range(0x62, 0x69),
             range(0x71, 0x79),
             std::set<int>{0x8B, 0x9B, 0xAB},
             range(0xB3, 0xB9),  // lower case
             std::set<int>{0x41, 0x58},
             range(0x44, 0x49),
             range(0x51, 0x56),  // small kana and punctuation
             // cent, not-sign, underscore, brackets, tilde, overline, caret, pound, backslash, braces, dollar
             std::set<int>{0x4A, 0x5F, 0x6D, 0x70, 0x80, 0xA0, 0xA1, 0xB0, 0xB1, 0xB2, 0xC0, 0xD0, 0xE0},
         }) {
        deliberate.insert(group.begin(), group.end());
    }
    for (int b = 0; b < 256; ++b) {
        const std::string ours(1, static_cast<char>(HOST_SB_TABLE[static_cast<std::size_t>(b)]));
        const std::string theirs =
            test::iconv_convert("IBM930", "CP932", std::string(1, static_cast<char>(b))).value_or("");
        if (deliberate.count(b)) {
            EXPECT_NE(ours, theirs) << std::hex << b << " is listed as a deliberate difference";
        } else {
            EXPECT_EQ(ours, theirs.empty() ? " " : theirs) << std::hex << b;
        }
    }
}

// Every JIS X 0208 character: glibc's Shift_JIS against the arithmetic, and
// the bitmap of assigned cells against glibc's knowing the cell.
TEST(Glibc, Jis0208OnEveryCell) {
    int characters = 0;
    for (int j1 = 0x21; j1 <= 0x7E; ++j1) {
        for (int j2 = 0x21; j2 <= 0x7E; ++j2) {
            const auto theirs = test::iconv_convert("EUC-JP", "SHIFT_JIS",
                                                    {static_cast<char>(j1 | 0x80), static_cast<char>(j2 | 0x80)});
            ASSERT_EQ(jis0208_assigned(static_cast<std::uint8_t>(j1), static_cast<std::uint8_t>(j2)),
                      theirs.has_value())
                << std::hex << j1 << " " << j2;
            if (!theirs) continue;
            std::uint8_t ours[3];
            jis_to_sjis(static_cast<std::uint8_t>(j1), static_cast<std::uint8_t>(j2), ours);
            ASSERT_EQ(std::string(reinterpret_cast<const char*>(ours)), *theirs) << std::hex << j1 << " " << j2;
            ++characters;
        }
    }
    EXPECT_EQ(characters, 6879);
}

struct Text {
    std::string host, sjis;  // the item's bytes, and the text they convert to
};

// `count` random JIS X 0208 characters as EUC-JP bytes and glibc's Shift_JIS;
// `space` (JEF's 40 40) stands for some ideographic spaces.
Text double_bytes(std::mt19937& rng, std::size_t count, const std::string& space) {
    static const std::vector<std::string> characters = [] {
        std::vector<std::string> all;
        for (int j1 = 0xA1; j1 <= 0xFE; ++j1)
            for (int j2 = 0xA1; j2 <= 0xFE; ++j2)
                if (test::iconv_convert("EUC-JP", "SHIFT_JIS", {static_cast<char>(j1), static_cast<char>(j2)}))
                    all.push_back({static_cast<char>(j1), static_cast<char>(j2)});
        return all;
    }();
    Text t;
    for (std::size_t i = 0; i < count; ++i) {
        const std::string euc = rng() % 8 == 0 ? std::string("\xA1\xA1") : characters[rng() % characters.size()];
        t.host += euc == "\xA1\xA1" && !space.empty() && rng() % 2 ? space : euc;
        t.sjis += test::iconv_convert("EUC-JP", "SHIFT_JIS", euc).value();
    }
    return t;
}

// Upper-case letters, digits and spaces in host single-byte code.
Text single_bytes(std::mt19937& rng, std::size_t count) {
    static const std::string text = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789 ";
    static const std::string host =
        "\xC1\xC2\xC3\xC4\xC5\xC6\xC7\xC8\xC9\xD1\xD2\xD3\xD4\xD5\xD6\xD7\xD8\xD9\xE2\xE3"
        "\xE4\xE5\xE6\xE7\xE8\xE9\xF0\xF1\xF2\xF3\xF4\xF5\xF6\xF7\xF8\xF9\x40";
    Text t;
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t k = rng() % text.size();
        t.host += host[k];
        t.sjis += text[k];
    }
    return t;
}

using Decode = std::size_t (*)(std::span<const std::uint8_t>, std::uint8_t*) noexcept;

std::string decoded(Decode decode, const std::string& item) {
    std::string out(item.size(), '\0');
    out.resize(decode({reinterpret_cast<const std::uint8_t*>(item.data()), item.size()},
                      reinterpret_cast<std::uint8_t*>(out.data())));
    return out;
}

// Random text through KN and FN items, and through K and F items between
// single-byte stretches.
TEST(Glibc, KeisAndJefTextRoundTrips) {
    std::mt19937 rng(5);
    for (int trial = 0; trial < 300; ++trial) {
        const Text keis = double_bytes(rng, 1 + rng() % 80, ""), jef = double_bytes(rng, 1 + rng() % 80, "\x40\x40");
        EXPECT_EQ(decoded(decode_keis_n_field, keis.host), keis.sjis);
        EXPECT_EQ(decoded(decode_jef_n_field, jef.host), jef.sjis);
        const Text x = single_bytes(rng, rng() % 10), y = single_bytes(rng, rng() % 10);
        EXPECT_EQ(decoded(decode_keis_field, x.host + "\x0A\x42" + keis.host + "\x0A\x41" + y.host),
                  x.sjis + keis.sjis + y.sjis);
        EXPECT_EQ(decoded(decode_jef_field, x.host + "\x28" + jef.host + "\x29" + y.host), x.sjis + jef.sjis + y.sjis);
    }
}

std::string utf8_of(const std::string& sjis, const VectorKernels& kernels = scalar_kernels()) {
    const std::size_t bound = utf8_bound(sjis.size());
    std::string out(bound + 16, '\xEE');
    const std::size_t n = cp932_to_utf8({reinterpret_cast<const std::uint8_t*>(sjis.data()), sjis.size()},
                                        reinterpret_cast<std::uint8_t*>(out.data()), kernels);
    EXPECT_EQ(out.substr(bound), std::string(16, '\xEE')) << "written past the bound";
    out.resize(std::min(n, bound));
    return out;
}

const std::string GETA = "\xE3\x80\x93";

// CSV=UTF8 writes each text as code page 932 decodes it: every single byte
// and every pair (with a letter before and after it, so that a lead byte
// without a trail takes nothing else) equal to glibc's CP932 to UTF-8
// wherever glibc takes the bytes; where glibc refuses them, 〓 for each
// code (a pair, or a lone byte: a lead byte whose next byte is no trail
// byte, 80, A0, FD-FF).
TEST(Glibc, Cp932ToUtf8IsGlibcsCp932) {
    ASSERT_TRUE(test::iconv_convert("CP932", "UTF-8", "A")) << "glibc lacks CP932";
    int refused = 0;
    for (int b = 0; b < 256; ++b) {
        const std::string one(1, static_cast<char>(b));
        const std::optional<std::string> theirs = test::iconv_convert("CP932", "UTF-8", one);
        if (theirs) {
            EXPECT_EQ(utf8_of(one), *theirs) << std::hex << b;
        } else {
            ++refused;
            EXPECT_EQ(utf8_of(one), GETA) << std::hex << b;
        }
    }
    EXPECT_EQ(refused, 0x1F + 0x1D + 5) << "the leads 81-9F and E0-FC alone, 80, A0 and FD-FF";
    int pairs = 0;
    for (int lead = 0x81; lead <= 0xFC; ++lead) {
        if (!is_cp932_lead(static_cast<std::uint8_t>(lead))) continue;
        for (int trail = 0; trail < 256; ++trail) {
            const std::string pair{static_cast<char>(lead), static_cast<char>(trail)};
            const std::string ours = utf8_of("A" + pair + "B");
            const std::optional<std::string> theirs = test::iconv_convert("CP932", "UTF-8", "A" + pair + "B");
            if (theirs) {
                ++pairs;
                ASSERT_EQ(ours, *theirs) << std::hex << lead << " " << trail;
            } else if (is_cp932_trail(static_cast<std::uint8_t>(trail))) {
                ASSERT_EQ(ours, "A" + GETA + "B") << std::hex << lead << " " << trail;  // a pair without a character
            } else {
                // A lead byte with no trail byte: 〓 for it, then the next byte as it reads alone.
                ASSERT_EQ(ours, "A" + GETA + utf8_of(std::string(1, static_cast<char>(trail))) + "B")
                    << std::hex << lead << " " << trail;
            }
        }
    }
    EXPECT_GT(pairs, 9000);
}

// The UTF-8 of `sjis` converted in place, from the end of the buffer it is
// written to (2n + 2 bytes on, as the fields of the per-item path do), with
// guard bytes after the bound that no store may touch.
std::string utf8_in_place(const std::string& sjis, const VectorKernels& kernels) {
    const std::size_t n = sjis.size();
    std::string buffer(2 * n + 2 + n + 16, '\xEE');
    buffer.replace(2 * n + 2, n, sjis);
    auto* const bytes = reinterpret_cast<std::uint8_t*>(buffer.data());
    const std::size_t len = cp932_to_utf8({bytes + 2 * n + 2, n}, bytes, kernels);
    EXPECT_EQ(buffer.substr(3 * n + 2), std::string(16, '\xEE')) << "written past the buffer";
    EXPECT_LE(len, utf8_bound(n));
    return buffer.substr(0, std::min(len, utf8_bound(n)));
}

// Every level's steps give the scalar text, on runs of ASCII, half-width
// katakana and pairs of every length around single pairs and bytes that are
// no code (the 16-byte steps, where they stop, the katakana of both rows and
// pairs of every kind at every place in a step), into a buffer of the bound
// alone and in place.
TEST(Glibc, Cp932ToUtf8OnEveryLevel) {
    std::mt19937 rng(9);
    const std::string pieces[] = {"a",    ",",    "\xB1",     "\x88\x9F", "\x81\x40", "\xF0\x40", "\x80",
                                  "\x88", "\xA0", "\xA1",     "\xBF",     "\xC0",     "\xDF",     "\xE0",
                                  "\xFF", "\x7F", "\x83\x9F", "\x81\x7F", "\xDF\xA1"};
    auto run = [&](int kind) {  // ASCII, katakana of both rows, both, or pairs
        std::string codes(rng() % 40, 'x');
        if (kind == 3) {  // any lead (81-9F, E0-FC) and trail (40-FC): kanji, other pairs, no character
            for (std::size_t k = 0; k + 1 < codes.size(); k += 2) {
                const auto lead = static_cast<unsigned>(0x81 + rng() % 0x3C);
                codes[k] = static_cast<char>(lead < 0xA0 ? lead : lead + 0x40);
                codes[k + 1] = static_cast<char>(0x40 + rng() % 0xBD);
            }
            return codes;
        }
        for (char& c : codes) {
            const auto kana = static_cast<char>(0xA1 + rng() % 0x3F);
            c = kind == 0 ? static_cast<char>(0x20 + rng() % 0x60) : kind == 1 || rng() % 2 == 0 ? kana : c;
        }
        return codes;
    };
    for (const VectorLevel level : {VectorLevel::SSE41, VectorLevel::AVX2}) {
        const VectorKernels* kernels = vector_kernels(level);
        if (kernels == nullptr) continue;
        for (int trial = 0; trial < 6000; ++trial) {
            std::string text;
            while (text.size() < static_cast<std::size_t>(trial % 90)) {
                text += rng() % 3 != 0 ? run(static_cast<int>(rng() % 4)) : pieces[rng() % std::size(pieces)];
            }
            const std::string expected = utf8_of(text);
            ASSERT_EQ(utf8_of(text, *kernels), expected) << trial;
            ASSERT_EQ(utf8_in_place(text, *kernels), expected) << trial;
        }
    }
}

// E text straight to UTF-8 on one level, into a buffer of 3n bytes with
// guard bytes after it that no store may touch.
std::string ebcdic_utf8(const std::string& host, const VectorKernels& kernels) {
    const std::size_t bound = 3 * host.size();
    std::string out(bound + 16, '\xEE');
    const std::size_t n = ebcdic_to_utf8({reinterpret_cast<const std::uint8_t*>(host.data()), host.size()},
                                         reinterpret_cast<std::uint8_t*>(out.data()), kernels);
    EXPECT_EQ(out.substr(bound), std::string(16, '\xEE')) << "written past the bound";
    out.resize(std::min(n, bound));
    return out;
}

std::string jis8_of(const std::string& host) {
    std::string out(host.size(), '\0');
    ebcdic_to_jis8({reinterpret_cast<const std::uint8_t*>(host.data()), host.size()},
                   reinterpret_cast<std::uint8_t*>(out.data()), scalar_kernels());
    return out;
}

// E text in UTF-8 is glibc's CP932 decoding of its Shift_JIS text: every
// host byte alone, then on every level every length up to 70 of any bytes,
// of katakana runs of both rows among letters and spaces, and of one
// katakana at each place among letters, so that the steps widen every lane.
TEST(Glibc, EbcdicToUtf8IsTheShiftJisTextDecodedOnEveryLevel) {
    for (int b = 0; b < 256; ++b) {
        const std::string one(1, static_cast<char>(b));
        const std::optional<std::string> theirs = test::iconv_convert("CP932", "UTF-8", jis8_of(one));
        ASSERT_TRUE(theirs) << std::hex << b;
        EXPECT_EQ(ebcdic_utf8(one, scalar_kernels()), *theirs) << std::hex << b;
    }
    std::mt19937 rng(11);
    const char kana[] = {'\x81', '\x8A', '\x8C', '\x90', '\x91', '\x99', '\x9D', '\xA2', '\xAF', '\xBA', '\xBF'};
    const char plain[] = {'\x40', '\xC1', '\xF1', '\x4B', '\x7F', '\x00', '\xFF'};
    for (int trial = 0; trial < 4 * 71 * 8; ++trial) {
        const std::size_t n = static_cast<std::size_t>(trial / 4) % 71;
        std::string host(n, '\0');
        const std::size_t lone = rng() % 71;
        for (std::size_t i = 0; i < n; ++i) {
            switch (trial % 4) {
                case 0:
                    host[i] = static_cast<char>(rng());
                    break;
                case 1:
                    host[i] = rng() % 3 != 0 ? kana[rng() % std::size(kana)] : plain[rng() % std::size(plain)];
                    break;
                case 2:
                    host[i] = i == lone ? kana[rng() % std::size(kana)] : plain[rng() % std::size(plain)];
                    break;
                default:
                    host[i] = kana[rng() % std::size(kana)];
                    break;
            }
        }
        const std::string expected = utf8_of(jis8_of(host));
        ASSERT_EQ(ebcdic_utf8(host, scalar_kernels()), expected) << trial;
        for (const VectorLevel level : {VectorLevel::SSE41, VectorLevel::AVX2}) {
            const VectorKernels* kernels = vector_kernels(level);
            if (kernels == nullptr) continue;
            ASSERT_EQ(ebcdic_utf8(host, *kernels), expected) << trial << " level " << static_cast<int>(level);
        }
    }
}

}  // namespace
}  // namespace rekmo

namespace rekmo {
namespace {

std::string utf8_of(char32_t cp) {
    std::string out;
    if (cp < 0x80) return std::string(1, static_cast<char>(cp));
    if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    }
    return out + static_cast<char>(0x80 | (cp & 0x3F));
}

std::string hex_text(const std::string& bytes) {
    std::string out;
    for (const char c : bytes) {
        char two[4];
        std::snprintf(two, sizeof two, "%02X ", static_cast<unsigned char>(c));
        out += two;
    }
    return out;
}

std::string sjis_of(std::uint16_t code) {
    if (code == 0) return {};
    return code > 0xFF ? std::string{static_cast<char>(code >> 8), static_cast<char>(code & 0xFF)}
                       : std::string(1, static_cast<char>(code));
}

// The 1,880 characters of the Private Use Area a gaiji table may give,
// paired with code page 932's user-defined codes both ways as glibc pairs them.
TEST(Glibc, EudcPairingOfEveryPrivateUseCharacter) {
    std::set<std::uint16_t> codes;
    for (char32_t cp = 0xE000; cp <= 0xE757; ++cp) {
        const std::uint16_t code = cp932_eudc(cp);
        const std::string ours = sjis_of(code);
        EXPECT_EQ(test::iconv_convert("UTF-8", "CP932", utf8_of(cp)), ours) << std::hex << unsigned(cp);
        EXPECT_EQ(test::iconv_convert("CP932", "UTF-8", ours), utf8_of(cp)) << std::hex << unsigned(cp);
        codes.insert(code);
    }
    EXPECT_EQ(codes.size(), 1880u);
    EXPECT_EQ(*codes.begin(), 0xF040);
    EXPECT_EQ(*codes.rbegin(), 0xF9FC);
    EXPECT_EQ(cp932_eudc(0xDFFF), 0);
    EXPECT_EQ(cp932_eudc(0xE758), 0);
}

// A gaiji character's Shift_JIS: code page 932's own code for every
// character of the Basic Multilingual Plane, where glibc has one; none where
// it has none. Of the characters with two codes, glibc and the platform
// choose the same one. glibc also writes nine characters that code page 932
// does not decode to (¢ £ ¥ ¬ — ‖ ‾ − 〜) as their look-alikes; a gaiji table
// that gives them gets 〓 in Shift_JIS (cp932_loss), as the issue asks.
TEST(Glibc, Cp932CodeOfEveryCharacter) {
    const std::set<char32_t> look_alikes = {0xA2, 0xA3, 0xA5, 0xAC, 0x2014, 0x2016, 0x203E, 0x2212, 0x301C};
    int differ = 0;
    for (char32_t cp = 0x20; cp < 0x10000; ++cp) {
        if ((cp >= 0x7F && cp <= 0x9F) || (cp >= 0xD800 && cp <= 0xDFFF)) continue;
        const std::string ours = sjis_of(cp932_code(cp));
        std::string theirs = test::iconv_convert("UTF-8", "CP932", utf8_of(cp)).value_or("");
        if (look_alikes.count(cp) != 0) {
            EXPECT_EQ(ours, "") << std::hex << unsigned(cp);
            EXPECT_NE(theirs, "") << std::hex << unsigned(cp);
            continue;
        }
        if (ours != theirs && ++differ <= 20) {
            ADD_FAILURE() << std::hex << unsigned(cp) << " ours " << hex_text(ours) << " glibc " << hex_text(theirs);
        }
    }
    EXPECT_EQ(differ, 0);
}

}  // namespace
}  // namespace rekmo
