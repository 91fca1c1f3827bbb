// What the POSIX platform layer decides on its own: how the command line is
// joined, how a message is shown in a character set other than UTF-8, and
// what writing a file whole does to links, permissions and special files.
#include "platform/platform.hpp"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

namespace rekmo::platform {
namespace {

// "入力ﾌｧｲﾙが開けません。\n(" as stored (code page 932), then the path, then ")".
const std::string CANNOT_OPEN_HEAD =
    "\x93\xFC\x97\xCD\xCC\xA7\xB2\xD9\x82\xAA\x8A\x4A\x82\xAF\x82\xDC\x82\xB9\x82\xF1\x81\x42\n(";

// The template is converted, and a value's characters stay (a Shift_JIS
// value's converted with the template); controls and bytes that are no
// character are escaped. A display that cannot show the template gets all of
// it as stored, and the Shift_JIS values with it.
TEST(Message, ValuesKeepTheirTextAndEscapeTheRest) {
    struct Case {
        const char* codeset;
        std::string value;
        bool shift_jis;
        std::string shown;
    };
    const Case cases[] = {
        {"UTF-8", "dir/a b.bin", false, "dir/a b.bin"},
        {"UTF-8", "\x1B]0;OWNED\x07\x1B[2J", false, "\\x1B]0;OWNED\\x07\\x1B[2J"},
        {"UTF-8", "\t\n\r", false, "\\x09\\x0A\\x0D"},
        {"UTF-8", "C:\\dir\\a.bin", false, "C:\\dir\\a.bin"},              // a backslash stays
        {"UTF-8", "\xE8\xA1\xA8\x7F", false, "\xE8\xA1\xA8\\x7F"},         // a kanji, then DEL
        {"UTF-8", "\xC2\x9B[2J\xC2\xA0", false, "\\xC2\\x9B[2J\xC2\xA0"},  // C1 CSI, then no-break space
        {"UTF-8", "\xEE\x80\x80", false, "\\xEE\\x80\\x80"},               // private use
        {"UTF-8", "\xFF\xFE.bin", false, "\\xFF\\xFE.bin"},
        {"UTF-8", "a\xE8\xA1", false, "a\\xE8\\xA1"},                           // cut short at the end
        {"UTF-8", "\xE8\xA1/", false, "\\xE8\\xA1/"},                           // cut short before another character
        {"UTF-8", "\xC0\xAF\xED\xA0\x80", false, "\\xC0\\xAF\\xED\\xA0\\x80"},  // overlong, a surrogate
        {"UTF-8", "\xF0\x9F\x98\x80", false, "\xF0\x9F\x98\x80"},               // four bytes, one character
        {"EUC-JP", "\xC6\xFE\xCE\xCF\x8E\xB1", false, "\xC6\xFE\xCE\xCF\x8E\xB1"},  // 入力ｱ
        {"EUC-JP", "dir/\xFF\x82\xA0.bin", false, "dir/\\xFF\\x82\\xA0.bin"},
        {"ISO-8859-1", "\xE9\x85", false, "\xE9\\x85"},       // a letter, then C1 NEL
        {"NO-SUCH-CODESET", "\x1B\xE9", false, "\\x1B\xE9"},  // nothing to read it by: controls only
        {"UTF-8", "KEIS", true, "KEIS"},
        {"UTF-8", "\xB9\xB2\xBD\x8A\xBF\x8E\x9A", true, "\xEF\xBD\xB9\xEF\xBD\xB2\xEF\xBD\xBD\xE6\xBC\xA2\xE5\xAD\x97"},
        {"UTF-8", "\x1B]0;\x07\xFF\xFE", true, "\\x1B]0;\\x07\\xFF\\xFE"},
        {"UTF-8", "\x80\xA0\xFD", true, "\\x80\\xA0\\xFD"},  // single bytes that are no character
        {"UTF-8", "\x82\x20\x82", true, "\\x82 \\x82"},      // lead bytes without a trail byte
        {"UTF-8", "\xF0\x40", true, "\\xF0\\x40"},           // the user-defined area
        {"UTF-8", "\\", true, "\\"},
        {"EUC-JP", "\xB9\xFA\x40", true, "\x8E\xB9\\xFA\\x40"},  // a character EUC-JP lacks
        {"ISO-8859-1", "\xB9\x1B", true, "\xB9\\x1B"},           // the template stays Shift_JIS: so does the value
    };
    const std::string converted_head[] = {
        "入力ﾌｧｲﾙが開けません。\n(",
        "\xC6\xFE\xCE\xCF\x8E\xCC\x8E\xA7\x8E\xB2\x8E\xD9\xA4\xAC\xB3\xAB\xA4\xB1\xA4\xDE\xA4\xBB\xA4\xF3\xA1\xA3\n(",
    };
    for (const Case& c : cases) {
        const MessagePart parts[] = {{CANNOT_OPEN_HEAD, true}, {c.value, false, c.shift_jis}, {")", true}};
        const std::string codeset = c.codeset;
        const std::string head = codeset == "UTF-8"    ? converted_head[0]
                                 : codeset == "EUC-JP" ? converted_head[1]
                                                       : CANNOT_OPEN_HEAD;
        EXPECT_EQ(render_message(parts, codeset), head + c.shown + ")")
            << codeset << " " << testing::PrintToString(c.value);
    }
}

TEST(CommandLine, JoinsArgumentsWithSingleSpaces) {
    std::string a0 = "rekmo", a1 = "", a2 = "my file", a3 = "x";
    char* argv[] = {a0.data(), a1.data(), a2.data(), a3.data()};
    EXPECT_EQ(command_line(4, argv), "rekmo  my file x");
}

// A fresh folder under the system's temporary one, removed at the end.
class Folder {
public:
    Folder() {
        std::string pattern = (std::filesystem::temp_directory_path() / "rekmo-platform-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp");
        path_ = pattern;
    }
    ~Folder() { std::filesystem::remove_all(path_); }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }
    // The names in the folder, sorted, with a slash after folders.
    std::string listing() const {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(path_)) {
            const bool folder = std::filesystem::is_directory(entry.symlink_status());
            names.push_back(entry.path().filename().string() + (folder ? "/" : ""));
        }
        std::sort(names.begin(), names.end());
        std::string out;
        for (const std::string& name : names) out += (out.empty() ? "" : " ") + name;
        return out;
    }

private:
    std::string path_;
};

std::string contents(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void make_file(const std::string& path, const std::string& bytes, mode_t mode = 0644) {
    std::ofstream(path, std::ios::binary) << bytes;
    ASSERT_EQ(::chmod(path.c_str(), mode), 0);
}

Result write_text(const std::string& path, const std::string& text) {
    return write_whole_file(path, {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()});
}

std::string link_text(const std::string& path) {
    std::error_code error;
    return std::filesystem::read_symlink(path, error).string();
}

const std::string NEW_TEXT = "RECLEN=1\nA,1,1,E,1\n";

// Each case makes files in a fresh folder, writes NEW_TEXT to `name`, and
// checks the result, the folder's names (no temporary file left) and, in
// `check`, where the text went and what stayed.
struct WriteCase {
    const char* what;
    std::function<void(const Folder&)> make;
    const char* name;
    Result result;
    const char* listing;
    std::function<void(const Folder&)> check;
};

TEST(WriteWholeFile, LinksStayLinksAndOnlyRegularFilesAreReplaced) {
    const WriteCase cases[] = {
        {"a new file", [](const Folder&) {}, "new.fmt", Result::OK, "new.fmt",
         [](const Folder& f) { EXPECT_EQ(contents(f / "new.fmt"), NEW_TEXT); }},
        {"a file replaced", [](const Folder& f) { make_file(f / "old.fmt", "old"); }, "old.fmt", Result::OK, "old.fmt",
         [](const Folder& f) { EXPECT_EQ(contents(f / "old.fmt"), NEW_TEXT); }},
        {"a relative link: the file it names is replaced",
         [](const Folder& f) {
             make_file(f / "real.fmt", "old");
             std::filesystem::create_symlink("real.fmt", f / "link.fmt");
         },
         "link.fmt", Result::OK, "link.fmt real.fmt",
         [](const Folder& f) {
             EXPECT_EQ(link_text(f / "link.fmt"), "real.fmt");
             EXPECT_EQ(contents(f / "real.fmt"), NEW_TEXT);
         }},
        {"a link in a folder, read from that folder, through an absolute link",
         [](const Folder& f) {
             std::filesystem::create_directories(f / "a");
             std::filesystem::create_directories(f / "b");
             make_file(f / "b/real.fmt", "old");
             std::filesystem::create_symlink("../b/real.fmt", f / "a/link.fmt");
             std::filesystem::create_symlink(f / "a/link.fmt", f / "top.fmt");
         },
         "top.fmt", Result::OK, "a/ b/ top.fmt",
         [](const Folder& f) {
             EXPECT_EQ(link_text(f / "a/link.fmt"), "../b/real.fmt");
             EXPECT_EQ(contents(f / "b/real.fmt"), NEW_TEXT);
             EXPECT_EQ(std::filesystem::directory_iterator(f / "b")->path().filename(), "real.fmt");
         }},
        {"a link to nothing: the file it names is made",
         [](const Folder& f) { std::filesystem::create_symlink("made.fmt", f / "link.fmt"); }, "link.fmt", Result::OK,
         "link.fmt made.fmt",
         [](const Folder& f) {
             EXPECT_EQ(link_text(f / "link.fmt"), "made.fmt");
             EXPECT_EQ(contents(f / "made.fmt"), NEW_TEXT);
         }},
        {"a loop of links",
         [](const Folder& f) {
             std::filesystem::create_symlink("b", f / "a");
             std::filesystem::create_symlink("a", f / "b");
         },
         "a", Result::WRITE_ERROR, "a b", [](const Folder& f) { EXPECT_EQ(link_text(f / "a"), "b"); }},
        {"a folder", [](const Folder& f) { std::filesystem::create_directories(f / "d"); }, "d", Result::WRITE_ERROR,
         "d/", [](const Folder& f) { EXPECT_TRUE(std::filesystem::is_empty(f / "d")); }},
        {"a folder that does not exist", [](const Folder&) {}, "none/x.fmt", Result::CANNOT_OPEN, "", nullptr},
    };
    for (const WriteCase& c : cases) {
        SCOPED_TRACE(c.what);
        Folder folder;
        c.make(folder);
        EXPECT_EQ(write_text(folder / c.name, NEW_TEXT), c.result);
        EXPECT_EQ(folder.listing(), c.listing);
        if (c.check) c.check(folder);
    }
}

// The mode of a replaced file stays; as root, so do its owner and group.
TEST(WriteWholeFile, KeepsModeOwnerAndGroup) {
    for (const mode_t mode : {0600u, 0640u, 0444u, 0751u, 02755u}) {
        SCOPED_TRACE(mode);
        Folder folder;
        make_file(folder / "f.fmt", "old", mode);
        const bool root = ::geteuid() == 0;
        if (root) {
            ASSERT_EQ(::chown((folder / "f.fmt").c_str(), 4321, 5678), 0);
        }
        ASSERT_EQ(::chmod((folder / "f.fmt").c_str(), mode), 0);  // after chown, which clears set-ID bits
        ASSERT_EQ(write_text(folder / "f.fmt", NEW_TEXT), Result::OK);
        struct stat st;
        ASSERT_EQ(::stat((folder / "f.fmt").c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, mode);
        if (root) {
            EXPECT_EQ(st.st_uid, 4321u);
            EXPECT_EQ(st.st_gid, 5678u);
        }
        EXPECT_EQ(contents(folder / "f.fmt"), NEW_TEXT);
        EXPECT_EQ(folder.listing(), "f.fmt");
    }
}

// A FIFO (as a device would) gets the bytes written into it and stays a FIFO.
TEST(WriteWholeFile, WritesIntoAFifo) {
    Folder folder;
    const std::string fifo = folder / "pipe";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    // The reader opened first, without waiting, so that the write need not.
    const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    EXPECT_EQ(write_text(fifo, NEW_TEXT), Result::OK);
    std::string got(4096, '\0');
    const ssize_t n = ::read(reader, got.data(), got.size());
    ::close(reader);
    got.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
    EXPECT_EQ(got, NEW_TEXT);
    struct stat st;
    ASSERT_EQ(::lstat(fifo.c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
    EXPECT_EQ(folder.listing(), "pipe");
}

// A character device made in the folder (as root only): /dev/full's numbers,
// so that the write fails and the device stays.
TEST(WriteWholeFile, WritesIntoADevice) {
    if (::geteuid() != 0) GTEST_SKIP() << "making a device needs root";
    Folder folder;
    const std::string device = folder / "full";
    ASSERT_EQ(::mknod(device.c_str(), S_IFCHR | 0666, makedev(1, 7)), 0);
    EXPECT_EQ(write_text(device, NEW_TEXT), Result::WRITE_ERROR);
    struct stat st;
    ASSERT_EQ(::lstat(device.c_str(), &st), 0);
    EXPECT_TRUE(S_ISCHR(st.st_mode));
    EXPECT_EQ(folder.listing(), "full");
}

}  // namespace
}  // namespace rekmo::platform

// Ranges that are not whole pages, in fresh memory and in memory already
// written: afterwards every page they touch is mapped (mincore: resident),
// and what the memory held stays. Large pages are only advice: contents stay.
TEST(Memory, MapForWritingMapsEveryPageTouchedAndKeepsContents) {
    const auto page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    const std::size_t pages = 1024;  // 4 MiB with 4 KiB pages: room for a large one
    auto* base = static_cast<std::uint8_t*>(
        mmap(nullptr, pages * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    ASSERT_NE(base, MAP_FAILED);
    for (std::size_t i = 0; i < 3 * page; ++i) base[512 * page + i] = static_cast<std::uint8_t>(i * 7 + 1);
    const auto resident = [&](std::size_t first, std::size_t count) {
        std::vector<unsigned char> flags(count);
        if (mincore(base + first * page, count * page, flags.data()) != 0) return std::string("mincore failed");
        std::string out;
        for (const unsigned char flag : flags) out += (flag & 1) ? '1' : '0';
        return out;
    };
    struct Case {
        std::size_t offset, size;       // bytes from base
        std::size_t first_page, count;  // the pages that must be mapped afterwards
    };
    const Case cases[] = {
        {0, 1, 0, 1},                          // one byte: its page
        {page - 1, 2, 0, 2},                   // two bytes across a page boundary
        {3 * page + 8, 5 * page, 3, 6},        // neither end on a boundary
        {511 * page + 100, 3 * page, 511, 4},  // over the written pages
    };
    // A kernel before 5.14 cannot: the pages then come as they are written.
#ifdef MADV_POPULATE_WRITE
    const bool supported = madvise(base + 1000 * page, page, MADV_POPULATE_WRITE) == 0;
#else
    const bool supported = false;
#endif
    for (const Case& c : cases) {
        EXPECT_EQ(rekmo::platform::map_for_writing(base + c.offset, c.size), supported) << c.offset;
        if (supported) {
            EXPECT_EQ(resident(c.first_page, c.count), std::string(c.count, '1')) << c.offset << " " << c.size;
        }
    }
    EXPECT_TRUE(rekmo::platform::map_for_writing(base, 0));
    rekmo::platform::prefer_large_pages(base + 100, (pages - 1) * page);
    for (std::size_t i = 0; i < 3 * page; ++i) {
        ASSERT_EQ(base[512 * page + i], static_cast<std::uint8_t>(i * 7 + 1)) << i;
    }
    EXPECT_EQ(base[page + 5], 0);
    munmap(base, pages * page);
}

namespace {

// The flags of the mapping that holds `address`, from /proc/self/smaps
// ("VmFlags: rd wr mr ... hg": hg is advice for large pages), or "" when
// none holds it or the system has no such file.
std::string mapping_flags(const void* address) {
    std::ifstream smaps("/proc/self/smaps");
    const auto at = reinterpret_cast<std::uintptr_t>(address);
    bool inside = false;
    for (std::string line; std::getline(smaps, line);) {
        std::uintptr_t low = 0, high = 0;
        char dash = 0;
        std::istringstream head(line);
        if (head >> std::hex >> low >> dash >> high && dash == '-') {
            inside = low <= at && at < high;
        } else if (inside && line.rfind("VmFlags:", 0) == 0) {
            return line.substr(8) + " ";
        }
    }
    return "";
}

int in_this_test() { return 1; }
int also_in_this_test() { return 2; }
const int DATA_IN_THIS_TEST = 3;

}  // namespace

// Large pages come aligned, zeroed and mapped, advised as large; any run of
// their small pages can be given back alone, and what is left keeps its
// contents. Where the system has none, nothing is handed out.
TEST(Memory, LargePagesComeAlignedZeroedAndGoBackInParts) {
    const std::size_t large = rekmo::platform::large_page_size();
    const auto page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    if (large == 0) {
        EXPECT_EQ(rekmo::platform::map_large_pages(std::size_t{2} << 20), nullptr);
        GTEST_SKIP() << "no large pages on this system";
    }
    EXPECT_EQ(large & (large - 1), 0u);
    EXPECT_EQ(large % page, 0u);
    for (const std::size_t wrong : {std::size_t{0}, large / 2, large + page, SIZE_MAX / large * large}) {
        EXPECT_EQ(rekmo::platform::map_large_pages(wrong), nullptr) << wrong;
    }
    auto* base = static_cast<std::uint8_t*>(rekmo::platform::map_large_pages(2 * large));
    ASSERT_NE(base, nullptr);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(base) % large, 0u);
    std::vector<unsigned char> flags(2 * large / page);
    ASSERT_EQ(mincore(base, 2 * large, flags.data()), 0);
    EXPECT_EQ(std::count_if(flags.begin(), flags.end(), [](unsigned char flag) { return (flag & 1) == 0; }), 0);
    EXPECT_NE(mapping_flags(base).find(" hg "), std::string::npos) << mapping_flags(base);
    EXPECT_NE(mapping_flags(base + 2 * large - 1).find(" hg "), std::string::npos);
    const std::vector<std::uint8_t> zeros(2 * large);
    EXPECT_EQ(std::memcmp(base, zeros.data(), zeros.size()), 0);
    for (std::size_t i = 0; i < 2 * large; i += 61) base[i] = static_cast<std::uint8_t>(i % 251 + 1);
    // Give back the first half of the first large page, then the second one.
    rekmo::platform::release_pages(base, large / 2);
    rekmo::platform::release_pages(base + large, large);
    rekmo::platform::release_pages(base, 0);  // nothing
    EXPECT_NE(mincore(base, page, flags.data()), 0);
    EXPECT_NE(mincore(base + large, page, flags.data()), 0);
    ASSERT_EQ(mincore(base + large / 2, large / 2, flags.data()), 0);
    for (std::size_t i = (large / 2 + 60) / 61 * 61; i < large; i += 61) {
        ASSERT_EQ(base[i], static_cast<std::uint8_t>(i % 251 + 1)) << i;
    }
    rekmo::platform::release_pages(base + large / 2, large / 2);
    EXPECT_NE(mincore(base + large / 2, page, flags.data()), 0);
}

// Two functions of this program and its data are in one module; one of the
// C library, the stack and no address at all are not in this program's.
TEST(Memory, SameModuleTellsLoadedModulesApart) {
    const auto mine = reinterpret_cast<const void*>(&in_this_test);
    const int local = 0;
    EXPECT_TRUE(rekmo::platform::same_module(mine, reinterpret_cast<const void*>(&also_in_this_test)));
    EXPECT_TRUE(rekmo::platform::same_module(mine, &DATA_IN_THIS_TEST));
    EXPECT_FALSE(rekmo::platform::same_module(mine, reinterpret_cast<const void*>(&::mincore)));
    EXPECT_TRUE(rekmo::platform::same_module(reinterpret_cast<const void*>(&::getpid),
                                             reinterpret_cast<const void*>(&::getppid)));
    EXPECT_FALSE(rekmo::platform::same_module(mine, &local));
    EXPECT_FALSE(rekmo::platform::same_module(&local, &local));
    EXPECT_FALSE(rekmo::platform::same_module(nullptr, nullptr));
}
