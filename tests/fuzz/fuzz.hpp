// Shared by the fuzz targets: each defines LLVMFuzzerTestOneInput, and a
// failed check aborts, which libFuzzer (or the corpus replay) reports.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <vector>

#include "app/convert.hpp"

#define FUZZ_CHECK(condition)                                                              \
    do {                                                                                   \
        if (!(condition)) {                                                                \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                                  \
        }                                                                                  \
    } while (false)

namespace rekmo::fuzz {

// True when no byte of the text is 0x00: no decoder writes one, since every
// text ends at its first zero byte.
inline bool has_no_zero(std::span<const std::uint8_t> text) {
    for (const std::uint8_t b : text)
        if (b == 0) return false;
    return true;
}

// Host bytes from memory.
class Source final : public ByteSource {
public:
    explicit Source(std::span<const std::uint8_t> data) : data_(data) {}
    Result read(std::span<std::uint8_t> buffer) override {
        const std::size_t n = std::min(buffer.size(), data_.size() - pos_);
        std::copy_n(data_.begin() + static_cast<std::ptrdiff_t>(pos_), n, buffer.begin());
        pos_ += n;
        return {n, false};
    }

private:
    std::span<const std::uint8_t> data_;
    std::size_t pos_ = 0;
};

// Lines into memory.
class Sink final : public ByteSink {
public:
    bool write(std::span<const std::uint8_t> bytes) override {
        text.insert(text.end(), bytes.begin(), bytes.end());
        return true;
    }
    std::vector<std::uint8_t> text;
};

// Format text and host bytes from one input: the first two bytes give the
// format's length.
struct FormatAndHost {
    std::span<const std::uint8_t> format;
    std::span<const std::uint8_t> host;
};
inline bool split_input(const std::uint8_t* data, std::size_t size, FormatAndHost& out) {
    if (size < 2) return false;
    const std::size_t format_size = std::min<std::size_t>(static_cast<std::size_t>(data[0] | data[1] << 8), size - 2);
    out.format = {data + 2, format_size};
    out.host = {data + 2 + format_size, size - 2 - format_size};
    return true;
}

// Keeps each input fast: long records and items say nothing more.
constexpr std::int32_t MAX_FUZZ_LENGTH = 4096;

inline bool within_fuzz_limits(const FormatDef& def) {
    if (def.record_length > MAX_FUZZ_LENGTH) return false;
    for (const ItemDef& item : def.items)
        if (item.length > MAX_FUZZ_LENGTH) return false;
    return true;
}

}  // namespace rekmo::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);
