#include "support/recorded_display.hpp"

#include "platform/platform.hpp"

namespace rekmo {
namespace {

std::vector<std::string>& shown() {
    static std::vector<std::string> messages;
    return messages;
}

}  // namespace

namespace platform {

void show_message(std::span<const MessagePart> parts) noexcept {
    std::string bytes;
    for (const MessagePart& part : parts) bytes.append(part.bytes);
    shown().push_back(std::move(bytes));
}

}  // namespace platform

namespace test {

std::vector<std::string> take_shown_messages() {
    std::vector<std::string> messages;
    messages.swap(shown());
    return messages;
}

}  // namespace test
}  // namespace rekmo
