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
#include <memory>
#include <new>

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
    std::size_t size = 0;
    for (const MessagePart& part : parts) size += part.bytes.size();
    // The whole message in one piece, zero-terminated for the system; without
    // memory for that, as much of it as a fixed area holds.
    char fallback[FALLBACK_SIZE];
    std::unique_ptr<char[]> whole(new (std::nothrow) char[size + 1]);
    char* text = whole ? whole.get() : fallback;
    const std::size_t room = whole ? size : FALLBACK_SIZE - 1;
    std::size_t at = 0;
    for (const MessagePart& part : parts) {
        const std::size_t n = std::min(part.bytes.size(), room - at);
        std::memcpy(text + at, part.bytes.data(), n);
        at += n;
    }
    text[at] = '\0';
    display(text, at);
}

}  // namespace rekmo::platform
