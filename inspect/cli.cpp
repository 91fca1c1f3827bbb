// rekmo-inspect's command line: long options in the usual style, English
// messages on standard error, the report on standard output.
#include <charconv>
#include <cstdio>
#include <new>
#include <string_view>

#include "inspect/display.hpp"
#include "inspect/inspect.hpp"
#include "platform/platform.hpp"
#include "rekmo/version.hpp"

namespace rekmo::inspect {
namespace {

constexpr int EXIT_RAN = 0;
constexpr int EXIT_FINDINGS = 1;
constexpr int EXIT_ERROR = 2;
constexpr unsigned MAX_THREADS = 256;

constexpr std::string_view USAGE = "Usage: rekmo-inspect FormatFile [HostFile] [options]\n";
constexpr std::string_view HELP =
    "Shows a record layout as rekmo reads it, and with HostFile how its records\n"
    "convert: the text of each item and the data the conversion would drop or\n"
    "misplace. rekmo itself is not run and no file is written.\n"
    "\n"
    "Options:\n"
    "  --records FIRST[:COUNT]  show COUNT records from record FIRST (counted from 1,\n"
    "                           like the lines of the CSV file); default 1:5\n"
    "  --scan                   read every record and count each item's findings\n"
    "  --threads N              threads for --scan (default: one per core)\n"
    "  --json                   write JSON instead of tables\n"
    "  --strict                 exit with status 1 when anything is found\n"
    "  --help                   show this help\n"
    "  --version                show the version\n"
    "\n"
    "Exit status: 0 when it ran; 1 with --strict when anything was found, or when\n"
    "rekmo would refuse the format; 2 on a usage error, a file that cannot be\n"
    "opened or read, or a report that cannot be written.\n";

void print_error(const std::string& message) { std::fprintf(stderr, "rekmo-inspect: %s\n", message.c_str()); }

int usage_error(const std::string& message) {
    print_error(message);
    std::fprintf(stderr, "%sTry 'rekmo-inspect --help' for more.\n", std::string(USAGE).c_str());
    return EXIT_ERROR;
}

bool parse_number(std::string_view text, std::uint64_t& value) {
    const auto r = std::from_chars(text.data(), text.data() + text.size(), value);
    return !text.empty() && r.ec == std::errc() && r.ptr == text.data() + text.size();
}

bool parse_records(std::string_view text, Options& options) {
    const std::size_t colon = text.find(':');
    if (!parse_number(text.substr(0, colon), options.first_record) || options.first_record == 0) return false;
    if (colon == std::string_view::npos) return true;
    return parse_number(text.substr(colon + 1), options.record_count);
}

bool write_all(std::string_view text) {
    return std::fwrite(text.data(), 1, text.size(), stdout) == text.size() && std::fflush(stdout) == 0;
}

// Parses argv into options; returns -1 to go on, or the exit status.
int parse_options(int argc, char** argv, Options& options) {
    std::vector<std::string_view> operands;
    bool threads_given = false, only_operands = false;
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
        if (const std::size_t eq = arg.find('='); eq != std::string_view::npos) {
            name = arg.substr(0, eq);
            value = arg.substr(eq + 1);
            has_value = true;
        }
        const bool takes_value = name == "--records" || name == "--threads";
        if (!takes_value && has_value) return usage_error("option " + shown_text(name) + " takes no value");
        if (takes_value && !has_value) {
            if (i + 1 >= argc) return usage_error("option " + shown_text(name) + " needs a value");
            value = argv[++i];
        }
        if (name == "--help") {
            return write_all(std::string(USAGE) + "\n" + std::string(HELP)) ? EXIT_RAN : EXIT_ERROR;
        } else if (name == "--version") {
            return write_all("rekmo-inspect " + std::string(VERSION) + "\n") ? EXIT_RAN : EXIT_ERROR;
        } else if (name == "--json") {
            options.json = true;
        } else if (name == "--scan") {
            options.scan = true;
        } else if (name == "--strict") {
            options.strict = true;
        } else if (name == "--records") {
            if (!parse_records(value, options))
                return usage_error("--records wants FIRST[:COUNT], FIRST from 1: " + shown_text(value));
            options.records_given = true;
        } else if (name == "--threads") {
            std::uint64_t n = 0;
            if (!parse_number(value, n) || n == 0 || n > MAX_THREADS) {
                return usage_error("--threads wants a number from 1 to " + std::to_string(MAX_THREADS) + ": " +
                                   shown_text(value));
            }
            options.threads = static_cast<unsigned>(n);
            threads_given = true;
        } else {
            return usage_error("unknown option " + shown_text(arg));
        }
    }
    if (operands.empty()) return usage_error("no FormatFile given");
    if (operands.size() > 2) return usage_error("too many operands");
    options.format_path = std::string(operands[0]);
    if (operands.size() == 2) options.host_path = std::string(operands[1]);
    if (!options.host_path && (options.records_given || options.scan || threads_given)) {
        return usage_error("--records, --scan and --threads need a HostFile");
    }
    return -1;
}

// The report on standard output, as it is written.
class StandardOutput final : public ReportOutput {
public:
    bool write(std::string_view text) override {
        return std::fwrite(text.data(), 1, text.size(), stdout) == text.size();
    }
};

int run(int argc, char** argv) {
    Options options;
    if (const int status = parse_options(argc, argv, options); status >= 0) return status;
    Report report;
    std::string error;
    StandardOutput out;
    const Result written = write_report(options, options.json, out, report, error);
    if (written == Result::CANNOT_OPEN) {
        print_error(error);
        return EXIT_ERROR;
    }
    if (written == Result::WRITE_ERROR || std::fflush(stdout) != 0) {
        print_error("cannot write the report");
        return EXIT_ERROR;
    }
    for (const std::string& note : report.notes) print_error(note);
    if (written != Result::OK) {  // what was read before the host file failed is shown
        print_error(error);
        return EXIT_ERROR;
    }
    if (!report.layout.accepted()) return EXIT_FINDINGS;
    return options.strict && has_findings(report) ? EXIT_FINDINGS : EXIT_RAN;
}

}  // namespace

int inspect_main(int argc, char** argv) {
    platform::startup();
    try {
        return run(argc, argv);
    } catch (const std::bad_alloc&) {
        print_error("out of memory");
        return EXIT_ERROR;
    }
}

}  // namespace rekmo::inspect
