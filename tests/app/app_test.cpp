#include "app/app.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace rekmo {
namespace {

TEST(CommandLine, SplitsAtSpacesOnly) {
    const std::pair<std::string, std::vector<std::string>> cases[] = {
        {"rekmo a b c", {"rekmo", "a", "b", "c"}},
        {"  rekmo   a  b c  ", {"rekmo", "a", "b", "c"}},
        {"rekmo \"my file\" b c", {"rekmo", "\"my", "file\"", "b", "c"}},  // quotes are bytes
        {"rekmo a\tb c", {"rekmo", "a\tb", "c"}},                          // so are tabs
        {"", {}},
        {"    ", {}},
        {"x", {"x"}},
    };
    for (const auto& [line, expected] : cases) {
        const std::vector<std::string_view> tokens = split_command_line(line);
        EXPECT_EQ(std::vector<std::string>(tokens.begin(), tokens.end()), expected) << line;
    }
}

}  // namespace
}  // namespace rekmo
