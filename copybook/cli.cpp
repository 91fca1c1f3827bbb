// rekmo-copybook's command line: the copybook in, the format file out (to
// standard output or to -o FILE).
#include <cstdio>
#include <new>
#include <string_view>

#include "copybook/cli.hpp"
#include "copybook/copybook.hpp"
#include "platform/platform.hpp"
#include "rekmo/version.hpp"

namespace rekmo::copybook {
namespace {

constexpr int EXIT_WRITTEN = 0;
constexpr int EXIT_REFUSED = 1;
constexpr int EXIT_ERROR = 2;
constexpr std::uint64_t MAX_COPYBOOK_SIZE = 64u << 20;

constexpr std::string_view USAGE = "Usage: rekmo-copybook COPYBOOK [options]\n";
constexpr std::string_view HELP =
    "Writes the format file of a COBOL copybook's record: one item line per\n"
    "elementary item, at its position, with a comment giving its COBOL\n"
    "description, and the lines that print its numbers exactly: CSV=EXACT, and\n"
    "SCALE= and SIGN= from the PICTURE and SIGN clauses. Several 01 records can\n"
    "be written as record kinds (KIND=). The file is loaded back as rekmo loads\n"
    "it before it is written.\n"
    "\n"
    "Options:\n"
    "  -o FILE, --output FILE  write to FILE (replaced whole, never left half\n"
    "                          written); default: standard output\n"
    "  --kanji keis|jef        double-byte items (PIC N or G, NATIONAL, DISPLAY-1)\n"
    "                          as KN or FN; needed when the copybook has any\n"
    "  --mixed keis|jef        PIC X items as K or F (text with shift codes), not E\n"
    "  --redefines NAME        write NAME, an entry that redefines another (or a\n"
    "                          later 01 record), in place of the first definition\n"
    "  --type NAME=TYPE        give the items of entry NAME (an item or a group)\n"
    "                          the type E, P, Z, J, K, KN, F or FN\n"
    "  --omit NAME             write the items of entry NAME with output 0\n"
    "  --digits NAME           the numbers of entry NAME are codes: every digit,\n"
    "                          leading zeros kept (DIGITS=)\n"
    "  --kind RECORD=VALUE     write the 01 record RECORD as the record kind whose\n"
    "                          --kind-at field holds VALUE (KIND=); X'F1F2' gives\n"
    "                          the bytes of a binary code; repeated, one a kind\n"
    "  --kind-at FIELD         the field that holds the kind's code, at one place\n"
    "                          in every --kind record\n"
    "  --kind-other RECORD     the 01 record that lays out records of no kind\n"
    "  --recfm F|FB|V|VB       the host file's record format (RECFM=); with V or\n"
    "                          VB a record may end in OCCURS DEPENDING ON, the\n"
    "                          occurrences it lacks empty\n"
    "  --quote                 quote the CSV's fields as RFC 4180 does (CSV=QUOTE)\n"
    "  --header                a first CSV line with the names (CSV=HEADER)\n"
    "  --plain                 the format without CSV, SCALE, SIGN and DIGITS lines,\n"
    "                          as written before they existed\n"
    "  --free, --fixed         the copybook's source form (default: detected)\n"
    "  --help                  show this help\n"
    "  --version               show the version\n"
    "\n"
    "Exit status: 0 when the format file was written; 1 when the copybook is\n"
    "refused (the message says where); 2 on a usage error or a file that cannot\n"
    "be read or written.\n";

struct Command {
    std::string copybook;
    std::string output;  // empty: standard output
    std::vector<std::string> shown_options;
    Options options;
};

void print_error(const std::string& message) { std::fprintf(stderr, "rekmo-copybook: %s\n", message.c_str()); }

// A path as the messages quote it: control bytes and bytes that form no
// character written \xHH, so that a hostile name cannot drive the terminal.
std::string shown(const std::string& path) {
    const platform::MessagePart value{path, false};
    return platform::render_message({&value, 1}, "UTF-8");
}

// A message about the copybook: the path as it was given, then the place and
// the text, which may quote the copybook's Shift_JIS names.
void print_located(const std::string& kind, const std::string& path, Location at, const std::string& message) {
    std::string where = shown(path) + ":";
    if (at.line > 0) where += std::to_string(at.line) + ":" + std::to_string(at.column) + ":";
    std::fprintf(stderr, "rekmo-copybook: %s%s %s\n", kind.c_str(), where.c_str(),
                 platform::from_shift_jis(message).c_str());
}

int usage_error(const std::string& message) {
    print_error(message);
    std::fprintf(stderr, "%sTry 'rekmo-copybook --help' for more.\n", std::string(USAGE).c_str());
    return EXIT_ERROR;
}

bool write_stdout(std::string_view text) {
    return std::fwrite(text.data(), 1, text.size(), stdout) == text.size() && std::fflush(stdout) == 0;
}

bool kanji_of(std::string_view value, Kanji& kanji) {
    if (value == "keis" || value == "KEIS")
        kanji = Kanji::KEIS;
    else if (value == "jef" || value == "JEF")
        kanji = Kanji::JEF;
    else
        return false;
    return true;
}

// A name as the copybook's own bytes: Shift_JIS, upper-cased.
std::string name_of(std::string_view arg) { return upper_name(platform::to_shift_jis(std::string(arg))); }

bool type_of(std::string_view letters, ItemType& type) {
    static constexpr std::pair<std::string_view, ItemType> TYPES[] = {
        {"E", ITEM_EBCDIC}, {"P", ITEM_PACKED}, {"Z", ITEM_ZONED}, {"J", ITEM_JIS},
        {"F", ITEM_JEF},    {"FN", ITEM_JEF_N}, {"K", ITEM_KEIS},  {"KN", ITEM_KEIS_N}};
    const std::string upper = upper_name(letters);
    for (const auto& [text, value] : TYPES)
        if (upper == text) return type = value, true;
    return false;
}

// RECORD=VALUE: VALUE as text (Shift_JIS), or X'hex' for its bytes.
bool kind_of(std::string_view arg, KindOption& kind) {
    const std::size_t eq = arg.find('=');
    if (eq == std::string_view::npos || eq == 0 || eq + 1 == arg.size()) return false;
    kind.record = name_of(arg.substr(0, eq));
    const std::string_view value = arg.substr(eq + 1);
    if (hex_value(value, kind.value)) {
        kind.raw = true;
        return !kind.value.empty();
    }
    kind.value = platform::to_shift_jis(std::string(value));
    return true;
}

bool recfm_of(std::string_view value, RecordForm& form) {
    static constexpr std::pair<std::string_view, RecordForm> FORMS[] = {
        {"F", RecordForm::F}, {"FB", RecordForm::FB}, {"V", RecordForm::V}, {"VB", RecordForm::VB}};
    const std::string upper = upper_name(value);
    for (const auto& [text, each] : FORMS)
        if (upper == text) return form = each, true;
    return false;
}

// Parses argv; returns -1 to go on, or the exit status.
int parse_options(int argc, char** argv, Command& command) {
    std::vector<std::string_view> operands;
    bool only_operands = false;
    for (int i = 1; i < argc; ++i) {
        std::string_view arg = argv[i];
        if (only_operands || arg.size() < 2 || arg[0] != '-') {
            operands.push_back(arg);
            continue;
        }
        if (arg == "--") {
            only_operands = true;
            continue;
        }
        std::string_view name = arg, value;
        bool has_value = false;
        if (const std::size_t eq = arg.find('='); eq != std::string_view::npos && arg.starts_with("--")) {
            name = arg.substr(0, eq);
            value = arg.substr(eq + 1);
            has_value = true;
        }
        if (name == "-o") name = "--output";
        const bool takes_value = name == "--output" || name == "--kanji" || name == "--mixed" ||
                                 name == "--redefines" || name == "--type" || name == "--omit" || name == "--digits" ||
                                 name == "--kind" || name == "--kind-at" || name == "--kind-other" || name == "--recfm";
        if (!takes_value && has_value) return usage_error("option " + std::string(name) + " takes no value");
        if (takes_value && !has_value) {
            if (i + 1 >= argc) return usage_error("option " + std::string(name) + " needs a value");
            value = argv[++i];
        }
        if (name == "--help") {
            return write_stdout(std::string(USAGE) + "\n" + std::string(HELP)) ? EXIT_WRITTEN : EXIT_ERROR;
        } else if (name == "--version") {
            return write_stdout("rekmo-copybook " + std::string(VERSION) + "\n") ? EXIT_WRITTEN : EXIT_ERROR;
        } else if (name == "--free" || name == "--fixed") {
            command.options.form = name == "--free" ? SourceForm::FREE : SourceForm::FIXED;
        } else if (name == "--output") {
            if (value.empty()) return usage_error("--output needs a file name");
            command.output = std::string(value);
            continue;  // not part of what the file says it was written with
        } else if (name == "--kanji" || name == "--mixed") {
            Kanji& kanji = name == "--kanji" ? command.options.kanji : command.options.mixed;
            if (!kanji_of(value, kanji))
                return usage_error(std::string(name) + " wants keis or jef: " + std::string(value));
        } else if (name == "--redefines" || name == "--omit" || name == "--digits") {
            if (value.empty()) return usage_error(std::string(name) + " needs a name");
            (name == "--omit"     ? command.options.omit
             : name == "--digits" ? command.options.digits
                                  : command.options.redefines)
                .push_back(name_of(value));
        } else if (name == "--quote" || name == "--header") {
            command.options.csv_words |= name == "--quote" ? CSV_QUOTE : CSV_HEADER;
        } else if (name == "--plain") {
            command.options.plain = true;
            continue;  // the file is the one written before the option existed

        } else if (name == "--kind") {
            KindOption kind;
            if (!kind_of(value, kind)) {
                return usage_error("--kind wants RECORD=VALUE, VALUE the code as text or X'..' with its bytes: " +
                                   std::string(value));
            }
            for (const KindOption& other : command.options.kinds) {
                if (other.value == kind.value && other.raw == kind.raw)
                    return usage_error("--kind " + std::string(value) + ": another --kind gives that code");
            }
            command.options.kinds.push_back(std::move(kind));
        } else if (name == "--kind-at" || name == "--kind-other") {
            if (value.empty()) return usage_error(std::string(name) + " needs a name");
            (name == "--kind-at" ? command.options.kind_at : command.options.kind_other) = name_of(value);
        } else if (name == "--recfm") {
            if (!recfm_of(value, command.options.recfm))
                return usage_error("--recfm wants F, FB, V or VB: " + std::string(value));
        } else if (name == "--type") {
            const std::size_t eq = value.rfind('=');
            ItemType type = ITEM_NONE;
            if (eq == std::string_view::npos || eq == 0 || !type_of(value.substr(eq + 1), type)) {
                return usage_error("--type wants NAME=TYPE, TYPE one of E P Z J K KN F FN: " + std::string(value));
            }
            command.options.types.emplace_back(name_of(value.substr(0, eq)), type);
        } else {
            return usage_error("unknown option " + std::string(arg));
        }
        command.shown_options.push_back(std::string(name) +
                                        (takes_value ? " " + platform::to_shift_jis(std::string(value)) : ""));
    }
    const Options& o = command.options;
    if (o.plain && (o.csv_words != 0 || !o.digits.empty()))
        return usage_error("--plain writes no CSV or DIGITS lines: it takes no --quote, --header or --digits");
    if (o.plain && (!o.kinds.empty() || o.recfm != RecordForm::NONE))
        return usage_error("--plain writes no KIND or RECFM lines: it takes no --kind or --recfm");
    if (o.kinds.empty() != o.kind_at.empty())
        return usage_error("--kind and --kind-at go together: the records' codes, and the field that holds them");
    if (!o.kind_other.empty() && o.kinds.empty())
        return usage_error("--kind-other names the layout of the records of no --kind: it needs --kind");
    if (!o.kinds.empty() && (o.csv_words & CSV_HEADER) != 0)
        return usage_error("--header cannot go with --kind: one header line cannot name the items of every kind");
    if (operands.empty()) return usage_error("no COPYBOOK given");
    if (operands.size() > 1) return usage_error("too many operands");
    command.copybook = std::string(operands[0]);
    return -1;
}

bool read_file(const std::string& path, std::vector<std::uint8_t>& bytes) {
    platform::File file;
    platform::FileInfo info;
    if (file.open_input(path) != Result::OK || file.info(info) != Result::OK ||
        info.kind == platform::FileKind::DIRECTORY) {
        print_error("cannot open " + shown(path));
        return false;
    }
    for (;;) {
        const std::size_t at = bytes.size();
        if (at > MAX_COPYBOOK_SIZE) {
            print_error(shown(path) + " is larger than " + std::to_string(MAX_COPYBOOK_SIZE >> 20) +
                        " MiB: no copybook");
            return false;
        }
        bytes.resize(at + (64u << 10));
        const ReadResult got = file.read({bytes.data() + at, bytes.size() - at});
        bytes.resize(at + got.count);
        if (got.result != Result::OK) {
            print_error("cannot read " + shown(path));
            return false;
        }
        if (got.count == 0) return true;
    }
}

// Writes the whole file: through a temporary file and a rename, so that a
// regular file is either the old one or the whole new one; a device or a
// FIFO directly.
bool write_file(const std::string& path, std::string_view text) {
    const Result written =
        platform::write_whole_file(path, {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()});
    if (written == Result::OK) return true;
    print_error((written == Result::CANNOT_OPEN ? "cannot create a file beside " : "cannot write ") + shown(path));
    return false;
}

int run(int argc, char** argv) {
    Command command;
    if (const int status = parse_options(argc, argv, command); status >= 0) return status;
    if (!command.output.empty()) {
        platform::FileIdentity in, out;
        if (platform::path_identity(command.copybook, in) == Result::OK &&
            platform::path_identity(command.output, out) == Result::OK && in == out) {
            return usage_error("the output file is the copybook itself");
        }
    }
    std::vector<std::uint8_t> bytes;
    if (!read_file(command.copybook, bytes)) return EXIT_ERROR;
    Layout layout;
    Error error;
    const bool read = read_copybook(bytes, command.options, layout, error);
    for (const Warning& warning : layout.warnings)
        print_located("warning: ", command.copybook, warning.at, warning.message);
    std::string text;
    std::vector<std::string> header = {"Written by rekmo-copybook " + std::string(VERSION) + " from " +
                                       platform::to_shift_jis(command.copybook)};
    if (read) {
        std::string options = "Options:";
        for (const std::string& option : command.shown_options) options += " " + option;
        if (!command.shown_options.empty()) header.push_back(options);
        const bool variable = layout.recfm == RecordForm::V || layout.recfm == RecordForm::VB;
        const std::string length = std::to_string(layout.record_length) + (variable ? " bytes at most" : " bytes");
        header.push_back(
            std::string(layout.form == SourceForm::FREE ? "Free" : "Fixed") + "-form copybook; " +
            (!layout.kinds.empty()
                 ? "records of " + length + ", " + layout.kinds
                 : "record " + (layout.record.empty() ? "of its entries" : layout.record) + ", " + length));
        text = format_text(layout, header);
    }
    if (!read || !reads_back(text, layout, error)) {
        print_located("", command.copybook, error.at, error.message);
        return error.fault == Fault::OPTION ? EXIT_ERROR : EXIT_REFUSED;
    }
    if (command.output.empty()) {
        if (write_stdout(text)) return EXIT_WRITTEN;
        print_error("cannot write the format file");
        return EXIT_ERROR;
    }
    return write_file(command.output, text) ? EXIT_WRITTEN : EXIT_ERROR;
}

}  // namespace

int copybook_main(int argc, char** argv) {
    platform::startup();
    try {
        return run(argc, argv);
    } catch (const std::bad_alloc&) {
        print_error("out of memory");
        return EXIT_ERROR;
    }
}

}  // namespace rekmo::copybook
