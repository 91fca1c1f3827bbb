// The few things Rekmo needs from the operating system: the command line,
// files (opened once, measured, read and written in large blocks), a file's
// identity, and showing a message. These functions report facts and set no
// policy; what is an error is the caller's decision.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "common/result.hpp"

namespace rekmo::platform {

// Called once at program start (POSIX: a closed pipe as WinFile must give a
// write error, not end the process; Windows: the system shows no dialogs of
// its own, such as for a drive without a disk).
void startup() noexcept;

// The whole command line as one string, program name included. POSIX hands
// over arguments already split: they are joined by single spaces. Windows
// hands over the string itself (argc and argv are not used).
std::string command_line(int argc, char** argv);

enum class FileKind { REGULAR, DIRECTORY, OTHER };

// Tells whether two paths name one file (device and inode on POSIX, volume
// serial number and file index on Windows).
struct FileIdentity {
    std::uint64_t device = 0;
    std::uint64_t index = 0;
    friend bool operator==(const FileIdentity&, const FileIdentity&) = default;
};

struct FileInfo {
    FileKind kind = FileKind::OTHER;
    std::uint64_t size = 0;  // bytes; meaningful for regular files
    FileIdentity identity;
};

// An open file. Not copyable; closed by close() or the destructor.
class File {
public:
    File() = default;
    File(const File&) = delete;
    File& operator=(const File&) = delete;
    File(File&& other) noexcept : handle_(other.handle_) { other.handle_ = -1; }
    File& operator=(File&& other) noexcept;
    ~File();
    bool is_open() const noexcept { return handle_ >= 0; }

    // Opens an existing file for reading (Windows: shared with no one, so it
    // cannot change while it is read): OK or CANNOT_OPEN.
    Result open_input(const std::string& path) noexcept;
    // Creates or truncates a file for writing: OK or CANNOT_OPEN.
    Result create_output(const std::string& path) noexcept;
    // Creates a file that must not exist yet, for writing: OK or CANNOT_OPEN.
    // `owner_only`: readable and writable by its owner alone (POSIX), until
    // take_permissions_of gives it others.
    Result create_new(const std::string& path, bool owner_only = false) noexcept;
    // Opens an existing file for writing without creating or truncating it
    // (a device, a FIFO): OK or CANNOT_OPEN.
    Result open_output(const std::string& path) noexcept;
    // Gives the open file the permissions of the file `path` names. POSIX:
    // its mode, and its owner and group as far as the process may set them
    // (root: both; others: the group when they belong to it). Windows:
    // nothing, replace_file keeps the replaced file's. OK or WRITE_ERROR.
    Result take_permissions_of(const std::string& path) noexcept;
    // Kind, size and identity of the open file: OK, or CANNOT_OPEN when they
    // cannot be told.
    Result info(FileInfo& out) const noexcept;

    // Fills `buffer` completely unless the end of the file or an error comes
    // first: READ_ERROR when the device or system read failed, OK otherwise
    // (a count short of the buffer then means the end was reached).
    ReadResult read(std::span<std::uint8_t> buffer) noexcept;
    // Fills `buffer` from byte `offset` of a regular file as read() does,
    // without moving the place read() goes on from: OK or READ_ERROR.
    ReadResult read_at(std::uint64_t offset, std::span<std::uint8_t> buffer) noexcept;
    // Writes all of `bytes`: OK or WRITE_ERROR (the bytes accepted stay).
    Result write(std::span<const std::uint8_t> bytes) noexcept;
    // Closes the file: OK, or WRITE_ERROR when the close reports a failure
    // (written data may not have reached the file).
    Result close() noexcept;

private:
    std::intptr_t handle_ = -1;  // descriptor or system handle; -1 when closed
};

// Identity of the file a path names, following links: OK, or CANNOT_OPEN
// when the path names no file.
Result path_identity(const std::string& path, FileIdentity& out) noexcept;

// Kind of the file a path names, following links, without opening it for
// reading (a FIFO is not waited on): OK, or CANNOT_OPEN when the path names
// no file.
Result path_kind(const std::string& path, FileKind& out) noexcept;

// Puts the file `from` in the place of `to` in one step (replacing a file
// there), so that `to` is never seen half written: OK or WRITE_ERROR.
// Windows: a replaced file's attributes and access rules stay.
Result replace_file(const std::string& from, const std::string& to) noexcept;

// Where writing to a path goes: the file it names once symbolic links are
// followed (the last may lead to a file that does not exist yet), whether
// that file exists and its kind.
struct OutputTarget {
    std::string path;
    bool exists = false;
    FileKind kind = FileKind::OTHER;
};

// OK, or CANNOT_OPEN when the path cannot be followed (a loop of links, a
// folder that cannot be searched). Windows follows a link that leads to an
// existing file; a link to nothing is taken as it is. May throw
// std::bad_alloc.
Result resolve_output(const std::string& path, OutputTarget& out);

// Makes `bytes` the whole content of the file `path` names. A regular file,
// or a new one, is written under a temporary name beside the file the path
// resolves to and renamed over it: the file is either as it was or
// complete, a symbolic link stays a link and names the new file, and an
// existing file keeps its permissions (take_permissions_of). A device or a
// FIFO is written directly (a FIFO waits for its reader). OK; CANNOT_OPEN
// when no file can be created beside it; WRITE_ERROR otherwise (a folder, a
// failed write, a special file that cannot be opened). May throw
// std::bad_alloc.
Result write_whole_file(const std::string& path, std::span<const std::uint8_t> bytes);

// Removes a file: OK or WRITE_ERROR.
Result remove_file(const std::string& path) noexcept;

// Text the user typed (the locale's character set on POSIX) in Shift_JIS, to
// compare with Shift_JIS bytes read from files. Windows hands over ANSI code
// page bytes, which stay as they are; so does text that cannot be converted.
std::string to_shift_jis(const std::string& text);

// Shift_JIS text as the display shows it (the locale's character set on
// POSIX, as show_message converts it); unchanged on Windows.
std::string from_shift_jis(const std::string& text);

// One piece of a message: template text (Shift_JIS, shown converted to the
// display's character set) or a value quoted from input. A value is shown
// character by character: each character stays, but a control character
// (C0, DEL, C1), one of the private use area (what code page 932 gives bytes
// that are no character) and bytes that form no character are written as
// \xHH, one per byte, so that nothing from a file or a command line can
// steer the terminal or make the message invalid text. A backslash stays.
// A value is text the user gave (a path: the display's own character set;
// Windows: the ANSI code page), or with `shift_jis` text read from a format
// file (Shift_JIS, converted like the template).
struct MessagePart {
    std::string_view bytes;
    bool from_template = true;
    bool shift_jis = false;  // a value in Shift_JIS
};

// Shows a message and returns when it has been shown. POSIX: the message and
// one line feed on standard error, the template text converted from Shift_JIS
// (code page 932) to the locale's character set. Windows: a message box with
// no owner, an empty title, an OK button and no icon, showing the bytes as
// they are (the ANSI code page: 932 on a Japanese system); it returns when
// the box is dismissed. Values are escaped as MessagePart says.
void show_message(std::span<const MessagePart> parts) noexcept;

// Memory about to be written in full: its pages mapped in one call, where
// the system can (Linux 5.14 and later), instead of one fault each as they
// are first written. A range that is not whole pages takes the pages it
// touches; their contents stay. False when the system cannot: the pages are
// then mapped as they are written.
bool map_for_writing(void* begin, std::size_t size) noexcept;

// Asks the system to back a large range with large pages (Linux: 2 MiB,
// where it holds whole ones; elsewhere nothing): fewer faults, and fewer
// misses of the address cache over a large array.
void prefer_large_pages(void* begin, std::size_t size) noexcept;

// The size of the large pages map_large_pages() hands out (Linux with
// transparent huge pages on: 2 MiB on x86-64), or 0 where there are none.
std::size_t large_page_size() noexcept;

// Fresh zeroed memory of `size` bytes (a multiple of large_page_size()), at
// an address that is a multiple of it, backed by large pages where the
// system has them free, and mapped for writing: one fault per large page
// instead of one per small page as it is first written. nullptr where there
// are no large pages or no memory. Any run of its small pages may be given
// back on its own with release_pages(); a large page partly given back is
// split by the system.
void* map_large_pages(std::size_t size) noexcept;
void release_pages(void* begin, std::size_t size) noexcept;

// Whether two addresses lie in one loaded module (an executable or a shared
// library, code or data): false when either lies in none.
bool same_module(const void* a, const void* b) noexcept;

// The message as show_message would write it for a display whose character
// set is `codeset` ("UTF-8", "EUC-JP", ...; Windows also takes "CP<number>"
// for a code page). If the template text cannot be converted, it stays in
// Shift_JIS, and so do Shift_JIS values. May throw std::bad_alloc.
std::string render_message(std::span<const MessagePart> parts, const std::string& codeset);

// The message exactly as show_message shows it (POSIX: in the locale's
// character set; Windows: the stored bytes, values escaped). May throw
// std::bad_alloc.
std::string displayed_message(std::span<const MessagePart> parts);

// Writes `bytes` of a value with every byte outside 20-7E as \xHH, through
// `put` (a function taking a std::string_view), without allocating: for a
// message shown when memory has run out.
template <class Put>
void put_escaped_ascii(std::string_view bytes, Put&& put) noexcept {
    static constexpr char DIGITS[] = "0123456789ABCDEF";
    for (const char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        if (b >= 0x20 && b <= 0x7E) {
            put(std::string_view(&c, 1));
        } else {
            const char escape[4] = {'\\', 'x', DIGITS[b >> 4], DIGITS[b & 0x0F]};
            put(std::string_view(escape, 4));
        }
    }
}

}  // namespace rekmo::platform
