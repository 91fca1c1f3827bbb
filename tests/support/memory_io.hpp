// Formats, host bytes and lines in memory, for the record loops, with
// failures on demand.
#pragma once

#include <algorithm>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "rekmo/rekmo.hpp"

namespace rekmo::test {

// A format text that must be valid, read.
inline FormatDef format_of(std::string_view text) {
    FormatDef def;
    if (parse_format({reinterpret_cast<const std::uint8_t*>(text.data()), text.size()}, def).result != Result::OK) {
        throw std::invalid_argument("not a valid format: " + std::string(text));
    }
    return def;
}

// Reads `data`; the read that reaches byte `error_at` stops there and fails.
class MemorySource final : public ByteSource {
public:
    explicit MemorySource(std::span<const std::uint8_t> data, std::size_t error_at = SIZE_MAX)
        : data_(data), error_at_(error_at) {}
    ReadResult read(std::span<std::uint8_t> buffer) noexcept override {
        const std::size_t n = std::min(buffer.size(), std::min(data_.size(), error_at_) - taken);
        std::copy_n(data_.begin() + static_cast<std::ptrdiff_t>(taken), n, buffer.begin());
        taken += n;
        return {n, n < buffer.size() && taken == error_at_ ? Result::READ_ERROR : Result::OK};
    }
    std::size_t taken = 0;  // bytes read so far

private:
    std::span<const std::uint8_t> data_;
    std::size_t error_at_;
};

// Takes `room` bytes, then fails a write (and `finish` when asked to).
class MemorySink final : public ByteSink {
public:
    explicit MemorySink(std::size_t room = SIZE_MAX, bool fail_finish = false)
        : room_(room), fail_finish_(fail_finish) {}
    Result write(std::span<const std::uint8_t> bytes) noexcept override {
        written_after_failure = written_after_failure || failed_;
        const std::size_t n = std::min(bytes.size(), room_ - text.size());
        text.append(reinterpret_cast<const char*>(bytes.data()), n);
        failed_ = n < bytes.size();
        return failed_ ? Result::WRITE_ERROR : Result::OK;
    }
    Result finish() noexcept override { return fail_finish_ ? Result::WRITE_ERROR : Result::OK; }
    std::string text;
    bool written_after_failure = false;

private:
    std::size_t room_;
    bool fail_finish_;
    bool failed_ = false;
};

}  // namespace rekmo::test
