// glibc's iconv as an independent reference in tests.
#pragma once

#include <optional>
#include <string>

namespace rekmo::test {

// `bytes` converted from one character set to another, or nothing when
// glibc rejects them (or does not know a set).
std::optional<std::string> iconv_convert(const char* from, const char* to, const std::string& bytes);

}  // namespace rekmo::test
