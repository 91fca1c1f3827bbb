// The levels of vector kernels as test parameters, each decoder's form that
// takes a level's kernels, and lines converted through a level's line kernel
// or written by the scalar code. A level that this build or this processor
// lacks is skipped with its reason, never left out silently.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "codec/decimal.hpp"
#include "codec/ebcdic.hpp"
#include "codec/host_code.hpp"
#include "codec/jef.hpp"
#include "codec/jis.hpp"
#include "codec/keis.hpp"
#include "codec/vector.hpp"
#include "record/plan.hpp"
#include "support/memory_io.hpp"

namespace rekmo::test {

using Bytes = std::vector<std::uint8_t>;

inline constexpr VectorLevel EVERY_LEVEL[] = {VectorLevel::SCALAR, VectorLevel::SSE41, VectorLevel::AVX2};
inline constexpr VectorLevel VECTOR_LEVELS[] = {VectorLevel::SSE41, VectorLevel::AVX2};

inline std::string level_name(VectorLevel level) {
    return level == VectorLevel::SCALAR ? "Scalar" : level == VectorLevel::SSE41 ? "SSE41" : "AVX2";
}

inline std::string level_param_name(const testing::TestParamInfo<VectorLevel>& info) { return level_name(info.param); }

// Why vector_kernels(level) gives nothing here.
inline std::string missing_reason(VectorLevel level) {
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
    __builtin_cpu_init();
    const bool has = level == VectorLevel::SSE41 ? __builtin_cpu_supports("sse4.1") : __builtin_cpu_supports("avx2");
    if (!has) return "this processor lacks " + level_name(level);
    return "this build has no " + level_name(level) + " kernels (REKMO_VECTOR=OFF)";
#else
    return "this build has no " + level_name(level) + " kernels (not x86-64)";
#endif
}

// A test on one level, its kernels in `kernels()`; skipped where the level
// is missing.
class LevelTest : public testing::TestWithParam<VectorLevel> {
protected:
    void SetUp() override {
        kernels_ = vector_kernels(GetParam());
        if (kernels_ == nullptr) GTEST_SKIP() << missing_reason(GetParam());
    }
    const VectorKernels& kernels() const { return *kernels_; }

private:
    const VectorKernels* kernels_ = nullptr;
};

// A decoder's form that takes the kernels of a level, by item type as the
// format names it (TYPE/PAGE: through a host code page).
using LevelDecode = std::size_t (*)(std::span<const std::uint8_t>, std::uint8_t*, const VectorKernels&) noexcept;

struct LevelDecoder {
    std::string_view type;
    LevelDecode decode;
    std::size_t (*bound)(std::size_t) noexcept;
};

template <const HostCodePage& PAGE>
std::size_t page_single(std::span<const std::uint8_t> in, std::uint8_t* out, const VectorKernels& kernels) noexcept {
    return host_single_to_sjis(in, out, PAGE.single, kernels);
}

// A host page's double-byte types: the level's decoder through the page.
template <const HostCodePage& PAGE, PageDecodeFn VectorKernels::*FORM>
std::size_t page_form(std::span<const std::uint8_t> in, std::uint8_t* out, const VectorKernels& kernels) noexcept {
    return (kernels.*FORM)(in, out, PAGE);
}

inline constexpr LevelDecoder LEVEL_DECODERS[] = {
    {"E", ebcdic_to_jis8, ebcdic_bound},
    {"P", decode_packed_field, packed_bound},
    {"Z", decode_zoned_field, zoned_bound},
    {"J", decode_jis_field, jis_bound},
    {"K", decode_keis_field, keis_bound},
    {"KN", decode_keis_n_field, keis_bound},
    {"F", decode_jef_field, jef_bound},
    {"FN", decode_jef_n_field, jef_bound},
    {"E/JEF", page_single<HOST_PAGE_JEF>, host_single_bound},
    {"E/KEIS78", page_single<HOST_PAGE_KEIS78>, host_single_bound},
    {"E/KEIS83", page_single<HOST_PAGE_KEIS83>, host_single_bound},
    {"K/KEIS78", page_form<HOST_PAGE_KEIS78, &VectorKernels::page_keis>, host_single_bound},
    {"KN/KEIS78", page_form<HOST_PAGE_KEIS78, &VectorKernels::page_keis_n>, host_pairs_bound},
    {"K/KEIS83", page_form<HOST_PAGE_KEIS83, &VectorKernels::page_keis>, host_single_bound},
    {"KN/KEIS83", page_form<HOST_PAGE_KEIS83, &VectorKernels::page_keis_n>, host_pairs_bound},
    {"F/JEF", page_form<HOST_PAGE_JEF, &VectorKernels::page_jef>, host_single_bound},
    {"FN/JEF", page_form<HOST_PAGE_JEF, &VectorKernels::page_jef_n>, host_pairs_bound},
};

// The decoder of an item type, or nullptr when it has none.
inline const LevelDecoder* level_decoder(std::string_view type) {
    for (const LevelDecoder& d : LEVEL_DECODERS)
        if (d.type == type) return &d;
    return nullptr;
}

// The item's text through `decoder` with `kernels` into `out`; a write past
// the decoder's bound is a failure.
inline void decode_into(const LevelDecoder& decoder, std::span<const std::uint8_t> item, const VectorKernels& kernels,
                        Bytes& out) {
    const std::size_t bound = decoder.bound(item.size());
    out.assign(bound + 1, 0xEE);
    const std::size_t n = decoder.decode(item, out.data(), kernels);
    if (n > bound || out[bound] != 0xEE) ADD_FAILURE() << decoder.type << ": written past the bound of " << bound;
    out.resize(std::min(n, bound));
}

inline Bytes decode_at(const LevelDecoder& decoder, std::span<const std::uint8_t> item, const VectorKernels& kernels) {
    Bytes out;
    decode_into(decoder, item, kernels, out);
    return out;
}

// The lines of the whole records through a record converter with `kernels`,
// its output buffer holding `capacity` bytes and written out when full (as
// the serial loop does): the level's line kernel takes all but the last
// records, the per-item path the rest.
inline std::string level_lines(const FormatDef& def, std::span<const std::uint8_t> records,
                               const VectorKernels& kernels, std::size_t capacity = 1 << 20) {
    const ItemPlan plan = make_plan(def);
    RecordConverter converter(plan, kernels);
    OutputBuffer out(std::max(capacity, plan.largest_bound + 1));
    MemorySink sink;
    EXPECT_EQ(converter.convert(records, out, &sink), Result::OK);
    EXPECT_EQ(sink.write(out.bytes()), Result::OK);
    return sink.text;
}

// The lines as the scalar code writes them: each record's item texts
// through the decoders' reporting forms (which take the scalar kernels)
// joined by commas, a line feed after each. `ends` gets where each line ends.
inline std::string scalar_lines(const FormatDef& def, std::span<const std::uint8_t> records,
                                std::vector<std::size_t>* ends = nullptr) {
    Converter converter;
    EXPECT_EQ(converter.open(def).result, Result::OK);
    ItemTexts texts;
    EXPECT_EQ(converter.item_texts(records, texts, true), Result::OK);
    const std::size_t columns = converter.columns().size();
    std::string out;
    for (std::size_t r = 0; r < records.size() / converter.record_length(); ++r) {
        for (std::size_t c = 0; c < columns; ++c) {
            const std::span<const std::uint8_t> text = texts.text(r * columns + c);
            out.append(c == 0 ? "" : ",").append(reinterpret_cast<const char*>(text.data()), text.size());
        }
        out += '\n';
        if (ends != nullptr) ends->push_back(out.size());
    }
    return out;
}

// Equal texts; else where they part (printing megabytes of lines would take
// longer than any test).
inline testing::AssertionResult same(const std::string& got, const std::string& expected) {
    if (got == expected) return testing::AssertionSuccess();
    const auto at = static_cast<std::size_t>(
        std::mismatch(got.begin(), got.end(), expected.begin(), expected.end()).first - got.begin());
    return testing::AssertionFailure() << got.size() << " bytes, not " << expected.size() << "; they part at byte "
                                       << at;
}

}  // namespace rekmo::test

namespace rekmo {
// A level by its name in a failure's message.
inline void PrintTo(VectorLevel level, std::ostream* out) { *out << test::level_name(level); }
}  // namespace rekmo
