// POSIX platform layer: file descriptors for the data files, stat identities,
// and message rendering through iconv. Showing a message lives in
// posix_display.cpp, so that a test can link its own display instead.
#include <dlfcn.h>
#include <fcntl.h>
#include <iconv.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/platform.hpp"

namespace rekmo::platform {
namespace {

constexpr int MAX_LINKS = 40;  // links followed in a row before it counts as a loop

int fd_of(std::intptr_t handle) noexcept { return static_cast<int>(handle); }

FileKind kind_of(mode_t mode) noexcept {
    if (S_ISREG(mode)) return FileKind::REGULAR;
    if (S_ISDIR(mode)) return FileKind::DIRECTORY;
    return FileKind::OTHER;
}

FileIdentity identity_of(const struct stat& st) noexcept {
    return FileIdentity{static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
}

bool convert_text(iconv_t cd, std::string_view in, std::string& out) {
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    char* src = const_cast<char*>(in.data());
    std::size_t src_left = in.size();
    while (src_left > 0) {
        char chunk[256];
        char* dst = chunk;
        std::size_t dst_left = sizeof chunk;
        const std::size_t rc = iconv(cd, &src, &src_left, &dst, &dst_left);
        out.append(chunk, sizeof chunk - dst_left);
        if (rc == static_cast<std::size_t>(-1) && errno != E2BIG) return false;
    }
    char chunk[64];
    char* dst = chunk;
    std::size_t dst_left = sizeof chunk;
    if (iconv(cd, nullptr, nullptr, &dst, &dst_left) == static_cast<std::size_t>(-1)) return false;
    out.append(chunk, sizeof chunk - dst_left);
    return true;
}

// An iconv conversion, closed when it goes.
class Iconv {
public:
    Iconv(const char* to, const char* from) noexcept : cd_(iconv_open(to, from)) {}
    Iconv(const Iconv&) = delete;
    Iconv& operator=(const Iconv&) = delete;
    ~Iconv() {
        if (open()) iconv_close(cd_);
    }
    bool open() const noexcept { return cd_ != reinterpret_cast<iconv_t>(-1); }
    iconv_t get() const noexcept { return cd_; }

private:
    iconv_t cd_;
};

constexpr std::size_t LONGEST_CHARACTER = 4;  // bytes, in any character set a locale uses

// A character that must not reach a display as it is: C0, DEL and C1
// controls, and the private use area (where code page 932 puts bytes that
// are no character, and its user-defined pairs).
constexpr bool is_hidden(std::uint32_t c) noexcept {
    return c < 0x20 || (c >= 0x7F && c <= 0x9F) || (c >= 0xE000 && c <= 0xF8FF);
}

// The length in bytes of the character at the start of `in`, read by
// `decoder` (its character set to UTF-32LE), and whether it is hidden; 0
// when the bytes there form no character. Without a decoder (a character set
// iconv does not know) every byte is a character, and only C0 controls and
// DEL are hidden.
std::size_t next_character(const Iconv& decoder, std::string_view in, bool& hidden) {
    hidden = false;
    if (!decoder.open()) {
        hidden = static_cast<unsigned char>(in[0]) < 0x20 || in[0] == 0x7F;
        return 1;
    }
    for (std::size_t k = 1; k <= std::min(in.size(), LONGEST_CHARACTER); ++k) {
        iconv(decoder.get(), nullptr, nullptr, nullptr, nullptr);
        char* src = const_cast<char*>(in.data());
        std::size_t src_left = k;
        unsigned char units[4 * LONGEST_CHARACTER];
        char* dst = reinterpret_cast<char*>(units);
        std::size_t dst_left = sizeof units;
        const std::size_t rc = iconv(decoder.get(), &src, &src_left, &dst, &dst_left);
        if (rc == static_cast<std::size_t>(-1) && errno == EILSEQ) return 0;
        const std::size_t produced = sizeof units - dst_left;
        if (rc == static_cast<std::size_t>(-1) || produced == 0) continue;  // incomplete: one byte more
        for (std::size_t u = 0; u + 4 <= produced; u += 4) {
            const std::uint32_t c = std::uint32_t{units[u]} | std::uint32_t{units[u + 1]} << 8 |
                                    std::uint32_t{units[u + 2]} << 16 | std::uint32_t{units[u + 3]} << 24;
            hidden = hidden || is_hidden(c);
        }
        return k;
    }
    return 0;
}

void append_hex(std::string& out, unsigned char byte) {
    static constexpr char DIGITS[] = "0123456789ABCDEF";
    out += "\\x";
    out += DIGITS[byte >> 4];
    out += DIGITS[byte & 0x0F];
}

// Appends a value, character by character as `decoder` reads it: converted
// by `encoder` when one is given, else as it is. A hidden character, one that
// `encoder` cannot convert, and each byte that forms no character are
// written as \xHH per byte.
void append_value(std::string& out, std::string_view value, const Iconv& decoder, const Iconv* encoder) {
    for (std::size_t i = 0; i < value.size();) {
        bool hidden = false;
        const std::size_t n = next_character(decoder, value.substr(i), hidden);
        const std::string_view character = value.substr(i, std::max<std::size_t>(n, 1));
        std::string converted;
        if (n == 0 || hidden || (encoder != nullptr && !convert_text(encoder->get(), character, converted))) {
            for (const char c : character) append_hex(out, static_cast<unsigned char>(c));
        } else {
            out.append(encoder != nullptr ? std::string_view(converted) : character);
        }
        i += character.size();
    }
}

// Writes all bytes, retrying after signals; false on failure.
bool write_all(int fd, const std::uint8_t* data, std::size_t size) noexcept {
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::write(fd, data + done, size - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            return false;
        }
    }
    return true;
}

// What the symbolic link `path` holds; false when it cannot be read or is empty.
bool read_link(const std::string& path, std::string& target) {
    target.resize(256);
    for (;;) {
        const ssize_t n = ::readlink(path.c_str(), target.data(), target.size());
        if (n <= 0) return false;
        if (static_cast<std::size_t>(n) < target.size()) {
            target.resize(static_cast<std::size_t>(n));
            return true;
        }
        target.resize(target.size() * 2);  // it may have been cut: read it again
    }
}

}  // namespace

void startup() noexcept { signal(SIGPIPE, SIG_IGN); }

std::string command_line(int argc, char** argv) {
    std::string line;
    for (int i = 0; i < argc; ++i) {
        if (i > 0) line += ' ';
        line += argv[i];
    }
    return line;
}

File& File::operator=(File&& other) noexcept {
    if (this != &other) {
        close();
        handle_ = other.handle_;
        other.handle_ = -1;
    }
    return *this;
}

File::~File() { close(); }

Result File::open_input(const std::string& path) noexcept {
    close();
    handle_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    return handle_ >= 0 ? Result::OK : Result::CANNOT_OPEN;
}

Result File::create_output(const std::string& path) noexcept {
    close();
    handle_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    return handle_ >= 0 ? Result::OK : Result::CANNOT_OPEN;
}

Result File::create_new(const std::string& path, bool owner_only) noexcept {
    close();
    handle_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, owner_only ? 0600 : 0666);
    return handle_ >= 0 ? Result::OK : Result::CANNOT_OPEN;
}

Result File::open_output(const std::string& path) noexcept {
    close();
    handle_ = ::open(path.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
    return handle_ >= 0 ? Result::OK : Result::CANNOT_OPEN;
}

Result File::take_permissions_of(const std::string& path) noexcept {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) return Result::WRITE_ERROR;
    // The owner first: giving a file away clears its set-ID bits. Only root
    // may give a file to another user; anyone may give it a group they
    // belong to, and a group they do not is no failure of the write.
    const int fd = fd_of(handle_);
    if (::fchown(fd, st.st_uid, st.st_gid) != 0) (void)::fchown(fd, static_cast<uid_t>(-1), st.st_gid);
    return ::fchmod(fd, st.st_mode & 07777) == 0 ? Result::OK : Result::WRITE_ERROR;
}

Result File::info(FileInfo& out) const noexcept {
    struct stat st;
    if (::fstat(fd_of(handle_), &st) != 0) return Result::CANNOT_OPEN;
    out.kind = kind_of(st.st_mode);
    out.size = st.st_size > 0 ? static_cast<std::uint64_t>(st.st_size) : 0;
    out.identity = identity_of(st);
    return Result::OK;
}

ReadResult File::read(std::span<std::uint8_t> buffer) noexcept {
    ReadResult result;
    while (result.count < buffer.size()) {
        const ssize_t n = ::read(fd_of(handle_), buffer.data() + result.count, buffer.size() - result.count);
        if (n > 0) {
            result.count += static_cast<std::size_t>(n);
        } else if (n == 0) {
            break;
        } else if (errno != EINTR) {
            result.result = Result::READ_ERROR;
            break;
        }
    }
    return result;
}

ReadResult File::read_at(std::uint64_t offset, std::span<std::uint8_t> buffer) noexcept {
    ReadResult result;
    while (result.count < buffer.size()) {
        const ssize_t n = ::pread(fd_of(handle_), buffer.data() + result.count, buffer.size() - result.count,
                                  static_cast<off_t>(offset + result.count));
        if (n > 0) {
            result.count += static_cast<std::size_t>(n);
        } else if (n == 0) {
            break;
        } else if (errno != EINTR) {
            result.result = Result::READ_ERROR;
            break;
        }
    }
    return result;
}

Result File::write(std::span<const std::uint8_t> bytes) noexcept {
    return write_all(fd_of(handle_), bytes.data(), bytes.size()) ? Result::OK : Result::WRITE_ERROR;
}

Result File::close() noexcept {
    if (handle_ < 0) return Result::OK;
    const int rc = ::close(fd_of(handle_));
    handle_ = -1;
    // EINTR leaves the descriptor closed on Linux; the data may still be
    // unwritten, so it counts as a failure like any other.
    return rc == 0 ? Result::OK : Result::WRITE_ERROR;
}

Result path_identity(const std::string& path, FileIdentity& out) noexcept {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) return Result::CANNOT_OPEN;
    out = identity_of(st);
    return Result::OK;
}

Result path_kind(const std::string& path, FileKind& out) noexcept {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) return Result::CANNOT_OPEN;
    out = kind_of(st.st_mode);
    return Result::OK;
}

Result replace_file(const std::string& from, const std::string& to) noexcept {
    return ::rename(from.c_str(), to.c_str()) == 0 ? Result::OK : Result::WRITE_ERROR;
}

Result remove_file(const std::string& path) noexcept {
    return ::unlink(path.c_str()) == 0 ? Result::OK : Result::WRITE_ERROR;
}

Result resolve_output(const std::string& path, OutputTarget& out) {
    std::string current = path;
    for (int links = 0; links <= MAX_LINKS; ++links) {
        struct stat st;
        if (::lstat(current.c_str(), &st) != 0) {
            if (errno != ENOENT) return Result::CANNOT_OPEN;
            out = OutputTarget{current, false, FileKind::REGULAR};
            return Result::OK;
        }
        if (!S_ISLNK(st.st_mode)) {
            out = OutputTarget{current, true, kind_of(st.st_mode)};
            return Result::OK;
        }
        std::string target;
        if (!read_link(current, target)) return Result::CANNOT_OPEN;
        // A relative link is read from the folder that holds it.
        const std::size_t slash = current.rfind('/');
        current = target[0] == '/' || slash == std::string::npos ? target : current.substr(0, slash + 1) + target;
    }
    return Result::CANNOT_OPEN;  // a loop of links
}

std::string render_message(std::span<const MessagePart> parts, const std::string& codeset) {
    const Iconv to_display(codeset.c_str(), "CP932");
    // The template is converted when all of it can be; else all of it, and
    // the Shift_JIS values with it, stay as stored.
    std::string text;
    bool converted = to_display.open();
    for (const MessagePart& part : parts) {
        if (part.from_template && converted) converted = convert_text(to_display.get(), part.bytes, text);
    }
    text.clear();
    const Iconv read_display("UTF-32LE", codeset.c_str());
    const Iconv read_shift_jis("UTF-32LE", "CP932");
    for (const MessagePart& part : parts) {
        if (part.from_template && converted) {
            convert_text(to_display.get(), part.bytes, text);  // it converted above
        } else if (part.from_template) {
            text.append(part.bytes);
        } else if (part.shift_jis) {
            append_value(text, part.bytes, read_shift_jis, converted ? &to_display : nullptr);
        } else {
            append_value(text, part.bytes, read_display, nullptr);
        }
    }
    return text;
}

namespace {

// The whole pages that hold [begin, begin + size): `first` and `length`.
bool page_span(void* begin, std::size_t size, std::uintptr_t& first, std::size_t& length) noexcept {
    static const auto page = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
    if (size == 0 || page == 0) return false;
    const auto at = reinterpret_cast<std::uintptr_t>(begin);
    first = at / page * page;
    length = (at + size + page - 1) / page * page - first;
    return true;
}

}  // namespace

bool map_for_writing(void* begin, std::size_t size) noexcept {
#ifdef MADV_POPULATE_WRITE
    std::uintptr_t first = 0;
    std::size_t length = 0;
    if (!page_span(begin, size, first, length)) return size == 0;
    return madvise(reinterpret_cast<void*>(first), length, MADV_POPULATE_WRITE) == 0;
#else
    (void)begin;
    return size == 0;
#endif
}

void prefer_large_pages(void* begin, std::size_t size) noexcept {
#ifdef MADV_HUGEPAGE
    // Only the pages wholly inside the range: the advice covers whole pages.
    static const auto page = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
    const auto at = reinterpret_cast<std::uintptr_t>(begin);
    const std::uintptr_t first = (at + page - 1) / page * page, end = (at + size) / page * page;
    if (page != 0 && end > first) madvise(reinterpret_cast<void*>(first), end - first, MADV_HUGEPAGE);
#else
    (void)begin;
    (void)size;
#endif
}

std::size_t large_page_size() noexcept {
    // Read once: the system's setting, for this process's lifetime.
    static const std::size_t large = []() -> std::size_t {
#if defined(MADV_HUGEPAGE) && defined(__linux__)
        const auto first_line = [](const char* path) {
            std::string line;
            if (FILE* file = std::fopen(path, "r")) {
                char buffer[128];
                if (std::fgets(buffer, sizeof buffer, file) != nullptr) line = buffer;
                std::fclose(file);
            }
            return line;
        };
        // "always [madvise] never": the bracketed word is the setting.
        if (first_line("/sys/kernel/mm/transparent_hugepage/enabled").find("[never]") != std::string::npos) return 0;
        const std::string bytes = first_line("/sys/kernel/mm/transparent_hugepage/hpage_pmd_size");
        const unsigned long long size = std::strtoull(bytes.c_str(), nullptr, 10);
        const auto page = static_cast<unsigned long long>(sysconf(_SC_PAGESIZE));
        // A power of two and a multiple of the small page, or nothing.
        if (page == 0 || size <= page || size % page != 0 || (size & (size - 1)) != 0) return 0;
        return static_cast<std::size_t>(size);
#else
        return 0;
#endif
    }();
    return large;
}

void* map_large_pages(std::size_t size) noexcept {
    const std::size_t large = large_page_size();
    if (large == 0 || size == 0 || size % large != 0 || size > SIZE_MAX - large) return nullptr;
    // One large page more than asked for, then the ends cut off so that what
    // is left starts on a large page.
    void* mapped = mmap(nullptr, size + large, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapped == MAP_FAILED) return nullptr;
    const auto at = reinterpret_cast<std::uintptr_t>(mapped);
    const std::uintptr_t begin = (at + large - 1) / large * large;
    if (begin > at) munmap(mapped, begin - at);
    munmap(reinterpret_cast<void*>(begin + size), large - (begin - at));
    auto* memory = reinterpret_cast<void*>(begin);
#ifdef MADV_HUGEPAGE
    madvise(memory, size, MADV_HUGEPAGE);
#endif
    map_for_writing(memory, size);
    return memory;
}

void release_pages(void* begin, std::size_t size) noexcept {
    if (size != 0) munmap(begin, size);
}

bool same_module(const void* a, const void* b) noexcept {
    Dl_info first{}, second{};
    return dladdr(a, &first) != 0 && dladdr(b, &second) != 0 && first.dli_fbase != nullptr &&
           first.dli_fbase == second.dli_fbase;
}

}  // namespace rekmo::platform
