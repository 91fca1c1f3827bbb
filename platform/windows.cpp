// Windows platform layer: the command line as the system hands it over, file
// handles for the data files, volume serial numbers and file indexes as
// identities, and message rendering through the system's code pages. Paths
// are ANSI code page bytes and go to the "A" functions as they are. Showing
// a message lives in windows_display.cpp, so that a test can link its own
// display instead.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <algorithm>
#include <charconv>
#include <climits>
#include <string>
#include <string_view>

#include "platform/platform.hpp"

namespace rekmo::platform {
namespace {

constexpr UINT TEMPLATE_CODE_PAGE = 932;      // message templates are Shift_JIS
constexpr DWORD LARGEST_TRANSFER = 1u << 30;  // bytes per ReadFile or WriteFile

HANDLE handle_of(std::intptr_t handle) noexcept { return reinterpret_cast<HANDLE>(handle); }

std::intptr_t value_of(HANDLE handle) noexcept {
    return handle == INVALID_HANDLE_VALUE ? -1 : reinterpret_cast<std::intptr_t>(handle);
}

FileIdentity identity_of(const BY_HANDLE_FILE_INFORMATION& info) noexcept {
    return FileIdentity{info.dwVolumeSerialNumber,
                        (std::uint64_t{info.nFileIndexHigh} << 32) | std::uint64_t{info.nFileIndexLow}};
}

// The code page for a character set name; 0 when there is none.
UINT code_page_of(std::string_view codeset) {
    std::string upper(codeset);
    for (char& c : upper)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    if (upper == "UTF-8" || upper == "UTF8") return CP_UTF8;
    if (upper == "SHIFT_JIS" || upper == "SJIS" || upper == "WINDOWS-31J") return 932;
    if (upper == "EUC-JP") return 20932;
    if (upper.starts_with("CP") && upper.size() > 2) {
        UINT number = 0;
        const auto [end, error] = std::from_chars(upper.data() + 2, upper.data() + upper.size(), number);
        if (error == std::errc() && end == upper.data() + upper.size() && IsValidCodePage(number)) return number;
    }
    return 0;
}

// Appends `in` (Shift_JIS) converted to `code_page`; false when a character
// has no form there.
bool convert_text(std::string_view in, UINT code_page, std::string& out) {
    if (in.empty()) return true;
    if (in.size() > static_cast<std::size_t>(INT_MAX)) return false;  // the sizes the calls take
    const int in_size = static_cast<int>(in.size());
    const int wide_size = MultiByteToWideChar(TEMPLATE_CODE_PAGE, MB_ERR_INVALID_CHARS, in.data(), in_size, nullptr, 0);
    if (wide_size <= 0) return false;
    std::wstring wide(static_cast<std::size_t>(wide_size), L'\0');
    MultiByteToWideChar(TEMPLATE_CODE_PAGE, MB_ERR_INVALID_CHARS, in.data(), in_size, wide.data(), wide_size);
    // UTF-8 holds every character; elsewhere a stand-in character would be a
    // silent change of the text, so it counts as a failure.
    BOOL used_default = FALSE;
    BOOL* used_default_ptr = code_page == CP_UTF8 ? nullptr : &used_default;
    const DWORD flags = code_page == CP_UTF8 ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS;
    const int size =
        WideCharToMultiByte(code_page, flags, wide.data(), wide_size, nullptr, 0, nullptr, used_default_ptr);
    if (size <= 0 || used_default) return false;
    const std::size_t at = out.size();
    out.resize(at + static_cast<std::size_t>(size));
    WideCharToMultiByte(code_page, flags, wide.data(), wide_size, out.data() + at, size, nullptr, nullptr);
    return true;
}

// A character that must not reach a display as it is: C0, DEL and C1
// controls, and the private use area (where code page 932 puts bytes that
// are no character, and its user-defined pairs).
constexpr bool is_hidden(wchar_t c) noexcept {
    return c < 0x20 || (c >= 0x7F && c <= 0x9F) || (c >= 0xE000 && c <= 0xF8FF);
}

constexpr int LONGEST_CHARACTER = 4;  // bytes, in any code page (UTF-8 included)

// The length in bytes of the character at the start of `in` in `code_page`,
// its UTF-16 form in `wide` (`units` of them) and whether it is hidden; 0
// when the bytes there form no character.
int next_character(std::string_view in, UINT code_page, wchar_t (&wide)[2], int& units, bool& hidden) {
    const int longest = static_cast<int>(std::min<std::size_t>(in.size(), LONGEST_CHARACTER));
    for (int k = 1; k <= longest; ++k) {
        units = MultiByteToWideChar(code_page, MB_ERR_INVALID_CHARS, in.data(), k, wide, 2);
        if (units <= 0) continue;  // no character, or not yet a whole one: one byte more
        hidden = is_hidden(wide[0]) || (units == 2 && is_hidden(wide[1]));
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

// Appends a value written in code page `from`, character by character, for
// a display in code page `to` (as it is when the two are one). A hidden
// character, one that `to` lacks, and each byte that forms no character are
// written as \xHH per byte.
void append_value(std::string& out, std::string_view value, UINT from, UINT to) {
    for (std::size_t i = 0; i < value.size();) {
        wchar_t wide[2];
        int units = 0;
        bool hidden = false;
        const int n = next_character(value.substr(i), from, wide, units, hidden);
        const std::string_view character = value.substr(i, static_cast<std::size_t>(std::max(n, 1)));
        bool shown = n > 0 && !hidden;
        if (shown && from == to) {
            out.append(character);
        } else if (shown) {
            BOOL used_default = FALSE;
            BOOL* used_default_ptr = to == CP_UTF8 ? nullptr : &used_default;
            const DWORD flags = to == CP_UTF8 ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS;
            char bytes[8];
            const int size =
                WideCharToMultiByte(to, flags, wide, units, bytes, sizeof bytes, nullptr, used_default_ptr);
            shown = size > 0 && !used_default;
            if (shown) out.append(bytes, static_cast<std::size_t>(size));
        }
        if (!shown) {
            for (const char c : character) append_hex(out, static_cast<unsigned char>(c));
        }
        i += character.size();
    }
}

}  // namespace

void startup() noexcept { SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX); }

std::string command_line(int, char**) { return GetCommandLineA(); }

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
    // Backup semantics let a directory open too, so that it is told by its
    // attributes rather than by a failure that could mean anything.
    handle_ =
        value_of(CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL | FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    return handle_ >= 0 ? Result::OK : Result::CANNOT_OPEN;
}

Result File::create_output(const std::string& path) noexcept {
    close();
    handle_ = value_of(CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                   CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    return handle_ >= 0 ? Result::OK : Result::CANNOT_OPEN;
}

Result File::create_new(const std::string& path, bool) noexcept {
    close();
    handle_ =
        value_of(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    return handle_ >= 0 ? Result::OK : Result::CANNOT_OPEN;
}

Result File::open_output(const std::string& path) noexcept {
    close();
    handle_ = value_of(CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    return handle_ >= 0 ? Result::OK : Result::CANNOT_OPEN;
}

// ReplaceFileA in replace_file gives the new file the replaced one's
// attributes and access rules.
Result File::take_permissions_of(const std::string&) noexcept { return Result::OK; }

Result File::info(FileInfo& out) const noexcept {
    const HANDLE handle = handle_of(handle_);
    const DWORD type = GetFileType(handle);
    if (type == FILE_TYPE_UNKNOWN && GetLastError() != NO_ERROR) return Result::CANNOT_OPEN;
    if (type != FILE_TYPE_DISK) {
        // A pipe or a character device: read as a stream, no size, no identity.
        out = FileInfo{};
        return Result::OK;
    }
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(handle, &info)) return Result::CANNOT_OPEN;
    out.identity = identity_of(info);
    out.size = 0;
    if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        out.kind = FileKind::DIRECTORY;
        return Result::OK;
    }
    LARGE_INTEGER size;
    if (!GetFileSizeEx(handle, &size)) return Result::CANNOT_OPEN;
    out.kind = FileKind::REGULAR;
    out.size = size.QuadPart > 0 ? static_cast<std::uint64_t>(size.QuadPart) : 0;
    return Result::OK;
}

ReadResult File::read(std::span<std::uint8_t> buffer) noexcept {
    ReadResult result;
    while (result.count < buffer.size()) {
        const DWORD want = static_cast<DWORD>(std::min<std::size_t>(buffer.size() - result.count, LARGEST_TRANSFER));
        DWORD got = 0;
        if (!ReadFile(handle_of(handle_), buffer.data() + result.count, want, &got, nullptr)) {
            // A pipe whose writer has closed reports its end this way.
            if (GetLastError() != ERROR_BROKEN_PIPE) result.result = Result::READ_ERROR;
            break;
        }
        if (got == 0) break;
        result.count += got;
    }
    return result;
}

ReadResult File::read_at(std::uint64_t offset, std::span<std::uint8_t> buffer) noexcept {
    // A read at an offset moves the file pointer: it is put back after.
    ReadResult result;
    const HANDLE handle = handle_of(handle_);
    LARGE_INTEGER place;
    place.QuadPart = 0;
    if (!SetFilePointerEx(handle, place, &place, FILE_CURRENT)) return ReadResult{0, Result::READ_ERROR};
    while (result.count < buffer.size()) {
        const DWORD want = static_cast<DWORD>(std::min<std::size_t>(buffer.size() - result.count, LARGEST_TRANSFER));
        const std::uint64_t at = offset + result.count;
        OVERLAPPED overlapped{};
        overlapped.Offset = static_cast<DWORD>(at);
        overlapped.OffsetHigh = static_cast<DWORD>(at >> 32);
        DWORD got = 0;
        if (!ReadFile(handle, buffer.data() + result.count, want, &got, &overlapped)) {
            if (GetLastError() != ERROR_HANDLE_EOF) result.result = Result::READ_ERROR;
            break;
        }
        if (got == 0) break;
        result.count += got;
    }
    if (!SetFilePointerEx(handle, place, nullptr, FILE_BEGIN)) result.result = Result::READ_ERROR;
    return result;
}

Result File::write(std::span<const std::uint8_t> bytes) noexcept {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const DWORD want = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, LARGEST_TRANSFER));
        DWORD put = 0;
        if (!WriteFile(handle_of(handle_), bytes.data() + done, want, &put, nullptr) || put == 0) {
            return Result::WRITE_ERROR;
        }
        done += put;
    }
    return Result::OK;
}

Result File::close() noexcept {
    if (handle_ < 0) return Result::OK;
    const BOOL closed = CloseHandle(handle_of(handle_));
    handle_ = -1;
    return closed != FALSE ? Result::OK : Result::WRITE_ERROR;
}

Result path_identity(const std::string& path, FileIdentity& out) noexcept {
    // No data access is asked for, so a file that another handle holds
    // without sharing (HostFile while it is read) can still be identified.
    const HANDLE handle = CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return Result::CANNOT_OPEN;
    BY_HANDLE_FILE_INFORMATION info;
    const bool known = GetFileInformationByHandle(handle, &info) != FALSE;
    CloseHandle(handle);
    if (!known) return Result::CANNOT_OPEN;
    out = identity_of(info);
    return Result::OK;
}

Result path_kind(const std::string& path, FileKind& out) noexcept {
    const HANDLE handle = CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return Result::CANNOT_OPEN;
    BY_HANDLE_FILE_INFORMATION info;
    out = FileKind::OTHER;  // a pipe or a character device
    if (GetFileType(handle) == FILE_TYPE_DISK && GetFileInformationByHandle(handle, &info)) {
        out = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? FileKind::DIRECTORY : FileKind::REGULAR;
    }
    CloseHandle(handle);
    return Result::OK;
}

Result replace_file(const std::string& from, const std::string& to) noexcept {
    // A file there keeps its attributes and access rules (MoveFileExA would
    // leave those the new file got from its folder).
    // Full paths: some implementations of ReplaceFile look for a folder in
    // the name they are given and fail on a bare file name.
    if (GetFileAttributesA(to.c_str()) != INVALID_FILE_ATTRIBUTES) {
        char full_to[MAX_PATH];
        char full_from[MAX_PATH];
        const DWORD to_length = GetFullPathNameA(to.c_str(), MAX_PATH, full_to, nullptr);
        const DWORD from_length = GetFullPathNameA(from.c_str(), MAX_PATH, full_from, nullptr);
        const bool full = to_length > 0 && to_length < MAX_PATH && from_length > 0 && from_length < MAX_PATH;
        return ReplaceFileA(full ? full_to : to.c_str(), full ? full_from : from.c_str(), nullptr,
                            REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr)
                   ? Result::OK
                   : Result::WRITE_ERROR;
    }
    return MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)
               ? Result::OK
               : Result::WRITE_ERROR;
}

Result resolve_output(const std::string& path, OutputTarget& out) {
    out = OutputTarget{path, false, FileKind::REGULAR};
    // Opening follows links; no data access is asked for.
    const HANDLE handle = CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? Result::OK : Result::CANNOT_OPEN;
    }
    out.exists = true;
    out.kind = FileKind::OTHER;  // a pipe or a character device (NUL, CON)
    BY_HANDLE_FILE_INFORMATION info;
    if (GetFileType(handle) == FILE_TYPE_DISK && GetFileInformationByHandle(handle, &info)) {
        out.kind = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? FileKind::DIRECTORY : FileKind::REGULAR;
        // A symbolic link: the file it leads to, so that the link stays.
        const DWORD attributes = GetFileAttributesA(path.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
            std::string final_path(MAX_PATH, '\0');
            DWORD n = GetFinalPathNameByHandleA(handle, final_path.data(), static_cast<DWORD>(final_path.size()), 0);
            if (n >= final_path.size()) {  // too small: n is the size it needs
                final_path.resize(n);
                n = GetFinalPathNameByHandleA(handle, final_path.data(), static_cast<DWORD>(final_path.size()), 0);
            }
            if (n > 0 && n < final_path.size()) {
                final_path.resize(n);
                // "\\?\C:\..." and "\\?\UNC\server\..." as the plain forms.
                if (final_path.starts_with("\\\\?\\UNC\\")) {
                    out.path = "\\\\" + final_path.substr(8);
                } else if (final_path.starts_with("\\\\?\\")) {
                    out.path = final_path.substr(4);
                } else {
                    out.path = final_path;
                }
            }
        }
    }
    CloseHandle(handle);
    return Result::OK;
}

Result remove_file(const std::string& path) noexcept {
    return DeleteFileA(path.c_str()) ? Result::OK : Result::WRITE_ERROR;
}

std::string to_shift_jis(const std::string& text) { return text; }

std::string from_shift_jis(const std::string& text) { return text; }

std::string render_message(std::span<const MessagePart> parts, const std::string& codeset) {
    const UINT code_page = code_page_of(codeset);
    // The template is converted when all of it can be; else all of it, and
    // the Shift_JIS values with it, stay as stored.
    std::string text;
    bool converted = code_page != 0;
    for (const MessagePart& part : parts) {
        if (part.from_template && converted) converted = convert_text(part.bytes, code_page, text);
    }
    text.clear();
    const UINT ansi = GetACP();
    for (const MessagePart& part : parts) {
        if (part.from_template && converted) {
            convert_text(part.bytes, code_page, text);  // it converted above
        } else if (part.from_template) {
            text.append(part.bytes);
        } else if (part.shift_jis) {
            append_value(text, part.bytes, TEMPLATE_CODE_PAGE, converted ? code_page : TEMPLATE_CODE_PAGE);
        } else {
            append_value(text, part.bytes, ansi, converted ? code_page : ansi);
        }
    }
    return text;
}

std::string displayed_message(std::span<const MessagePart> parts) {
    // The stored bytes, shown in the ANSI code page; paths are in it too.
    std::string text;
    const UINT ansi = GetACP();
    for (const MessagePart& part : parts) {
        if (part.from_template) {
            text.append(part.bytes);
        } else {
            const UINT code_page = part.shift_jis ? TEMPLATE_CODE_PAGE : ansi;
            append_value(text, part.bytes, code_page, code_page);
        }
    }
    return text;
}

// Windows maps committed pages as they are first written, and large pages
// need a privilege few accounts hold: both are left to the system.
bool map_for_writing(void*, std::size_t size) noexcept { return size == 0; }

void prefer_large_pages(void*, std::size_t) noexcept {}

std::size_t large_page_size() noexcept { return 0; }

void* map_large_pages(std::size_t) noexcept { return nullptr; }

void release_pages(void*, std::size_t) noexcept {}

bool same_module(const void* a, const void* b) noexcept {
    // No address is in no module (asked by address, null names the program).
    if (a == nullptr || b == nullptr) return false;
    constexpr DWORD flags = GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT;
    HMODULE first = nullptr, second = nullptr;
    return GetModuleHandleExW(flags, static_cast<LPCWSTR>(a), &first) != 0 &&
           GetModuleHandleExW(flags, static_cast<LPCWSTR>(b), &second) != 0 && first == second;
}

}  // namespace rekmo::platform
