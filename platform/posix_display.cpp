// Showing a message on POSIX: standard error, in the locale's character set.
// Kept apart from posix.cpp so that a test executable can link its own
// show_message in place of this one.
#include <iconv.h>
#include <langinfo.h>
#include <locale.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <string_view>

#include "platform/platform.hpp"

namespace rekmo::platform {
namespace {

// The character set messages are shown in. A C, POSIX or ASCII locale cannot
// show Japanese at all, so such a terminal gets UTF-8. The locale is read
// here, when a message is shown, and nowhere else.
std::string display_codeset() {
    locale_t loc = newlocale(LC_CTYPE_MASK, "", static_cast<locale_t>(nullptr));
    if (loc == static_cast<locale_t>(nullptr)) return "UTF-8";
    std::string codeset = nl_langinfo_l(CODESET, loc);
    freelocale(loc);
    if (codeset.empty() || codeset == "ANSI_X3.4-1968" || codeset == "ASCII" || codeset == "US-ASCII") return "UTF-8";
    return codeset;
}

}  // namespace

std::string to_shift_jis(const std::string& text) {
    iconv_t cd = iconv_open("CP932", display_codeset().c_str());
    if (cd == reinterpret_cast<iconv_t>(-1)) return text;
    std::string out(text.size() * 2 + 16, '\0');
    char* src = const_cast<char*>(text.data());
    std::size_t src_left = text.size();
    char* dst = out.data();
    std::size_t dst_left = out.size();
    const bool converted = iconv(cd, &src, &src_left, &dst, &dst_left) != static_cast<std::size_t>(-1) &&
                           iconv(cd, nullptr, nullptr, &dst, &dst_left) != static_cast<std::size_t>(-1);
    iconv_close(cd);
    if (!converted) return text;
    out.resize(out.size() - dst_left);
    return out;
}

std::string from_shift_jis(const std::string& text) {
    const MessagePart part{text, true};
    return render_message({&part, 1}, display_codeset());
}

namespace {

void write_stderr(std::string_view bytes) noexcept {
    while (!bytes.empty()) {
        const ssize_t n = ::write(STDERR_FILENO, bytes.data(), bytes.size());
        if (n > 0) {
            bytes.remove_prefix(static_cast<std::size_t>(n));
        } else if (n == 0 || errno != EINTR) {
            return;  // nowhere left to say it
        }
    }
}

}  // namespace

std::string displayed_message(std::span<const MessagePart> parts) { return render_message(parts, display_codeset()); }

void show_message(std::span<const MessagePart> parts) noexcept {
    try {
        write_stderr(displayed_message(parts) + '\n');
    } catch (...) {
        // No memory to convert it: the template as stored, piece by piece,
        // and the values in ASCII.
        for (const MessagePart& part : parts) {
            if (part.from_template) {
                write_stderr(part.bytes);
            } else {
                put_escaped_ascii(part.bytes, write_stderr);
            }
        }
        write_stderr("\n");
    }
}

}  // namespace rekmo::platform
