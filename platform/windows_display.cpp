// Showing a message on Windows: a modal message box with no owner window, an
// empty title, an OK button and no icon, the bytes in the ANSI code page as
// they are. Kept apart from windows.cpp so that a test executable can link
// its own show_message in place of this one.
//
// Built with REKMO_MESSAGES_TO_STDERR (test builds only, never the released
// program), the same bytes go to standard error instead, so that end-to-end
// tests can read them without a screen.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <new>
#include <string>
#include <string_view>

#include "platform/platform.hpp"

namespace rekmo::platform {
namespace {

constexpr std::size_t FALLBACK_SIZE = 4096;  // for a message when memory has run out

#ifdef REKMO_MESSAGES_TO_STDERR
void display(const char* text, std::size_t size) noexcept {
    const HANDLE out = GetStdHandle(STD_ERROR_HANDLE);
    while (size > 0 && out != nullptr && out != INVALID_HANDLE_VALUE) {
        DWORD put = 0;
        const DWORD want = static_cast<DWORD>(std::min<std::size_t>(size, 1u << 30));
        if (!WriteFile(out, text, want, &put, nullptr) || put == 0) return;
        text += put;
        size -= put;
    }
}
#else
void display(const char* text, std::size_t) noexcept { MessageBoxA(nullptr, text, "", MB_OK); }
#endif

}  // namespace

void show_message(std::span<const MessagePart> parts) noexcept {
    // The whole message, zero-terminated for the system (std::string is);
    // without memory for it, as much as a fixed area holds, the values in
    // ASCII.
    try {
        const std::string text = displayed_message(parts);
        display(text.c_str(), text.size());
        return;
    } catch (const std::bad_alloc&) {
    }
    char fallback[FALLBACK_SIZE];
    std::size_t at = 0;
    const auto put = [&](std::string_view bytes) {
        const std::size_t n = std::min(bytes.size(), FALLBACK_SIZE - 1 - at);
        std::memcpy(fallback + at, bytes.data(), n);
        at += n;
    };
    for (const MessagePart& part : parts) {
        if (part.from_template) {
            put(part.bytes);
        } else {
            put_escaped_ascii(part.bytes, put);
        }
    }
    fallback[at] = '\0';
    display(fallback, at);
}

}  // namespace rekmo::platform
