// A display for tests: linked into a test executable, it takes the place of
// the platform's show_message and keeps each message's bytes (Shift_JIS, as
// the program made them) instead of showing them.
#pragma once

#include <string>
#include <vector>

namespace rekmo::test {

// The messages shown since the last call, oldest first; forgets them.
std::vector<std::string> take_shown_messages();

}  // namespace rekmo::test
