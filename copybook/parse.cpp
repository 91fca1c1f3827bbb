// Data description entries: a level number, a name, clauses, a period.
#include <algorithm>
#include <array>
#include <string_view>

#include "copybook/entries.hpp"

namespace rekmo::copybook::detail {
namespace {

struct UsageWord {
    std::string_view word;
    Usage usage;
};

constexpr std::array<UsageWord, 19> USAGES = {{
    {"DISPLAY", Usage::DISPLAY},        {"DISPLAY-1", Usage::DISPLAY1},
    {"NATIONAL", Usage::NATIONAL},      {"PACKED-DECIMAL", Usage::PACKED},
    {"COMP-3", Usage::PACKED},          {"COMPUTATIONAL-3", Usage::PACKED},
    {"BINARY", Usage::BINARY},          {"COMP", Usage::BINARY},
    {"COMPUTATIONAL", Usage::BINARY},   {"COMP-4", Usage::BINARY},
    {"COMPUTATIONAL-4", Usage::BINARY}, {"COMP-5", Usage::BINARY},
    {"COMPUTATIONAL-5", Usage::BINARY}, {"COMP-1", Usage::COMP1},
    {"COMPUTATIONAL-1", Usage::COMP1},  {"COMP-2", Usage::COMP2},
    {"COMPUTATIONAL-2", Usage::COMP2},  {"POINTER", Usage::POINTER},
    {"INDEX", Usage::POINTER},
}};

constexpr std::array<std::string_view, 20> CLAUSES = {
    "REDEFINES", "PIC",       "PICTURE", "USAGE", "OCCURS", "SIGN",   "LEADING",  "TRAILING", "SYNC", "SYNCHRONIZED",
    "JUST",      "JUSTIFIED", "BLANK",   "VALUE", "VALUES", "GLOBAL", "EXTERNAL", "RENAMES",  "IS",   "GROUP-USAGE"};

Usage usage_of(const std::string& word) {
    for (const UsageWord& u : USAGES)
        if (u.word == word) return u.usage;
    return Usage::NONE;
}

bool is_keyword(const std::string& word) {
    return usage_of(word) != Usage::NONE || std::find(CLAUSES.begin(), CLAUSES.end(), word) != CLAUSES.end();
}

bool is_number(const std::string& word) {
    return !word.empty() && std::all_of(word.begin(), word.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// The value of a digit string, capped at SIZE_CAP.
std::int64_t number_of(std::string_view digits) {
    std::int64_t n = 0;
    for (const char c : digits) n = std::min(n * 10 + (c - '0'), SIZE_CAP);
    return n;
}

constexpr std::string_view REFUSED_DEPENDING =
    "OCCURS DEPENDING ON is refused: the record is not of fixed length (--recfm V reads it from a file of "
    "variable-length records)";

class Parser {
public:
    Parser(const Source& source, bool exact, bool variable, Error& error)
        : tz_(source), exact_(exact), variable_(variable), error_(error) {}

    bool entries(std::vector<Entry>& out) {
        if (!advance()) return false;
        while (tok_.kind != TokenKind::END) {
            if (tok_.kind == TokenKind::WORD && (tok_.text == "EJECT" || tok_.text.starts_with("SKIP"))) {
                if (!advance()) return false;  // listing control: no data
                if (tok_.kind == TokenKind::PERIOD && !advance()) return false;
                continue;
            }
            if (tok_.kind != TokenKind::WORD || !is_number(tok_.text) || tok_.text.size() > 2) {
                if (tok_.text == "COPY")
                    return fail("COPY is not read: put the text of the member it names in its place");
                return fail("expected a level number (01-49, 77 or 88), found " + shown());
            }
            Entry e;
            e.level = static_cast<int>(number_of(tok_.text));
            e.at = tok_.at;
            if (e.level == 66) return fail("level 66 (RENAMES) is not supported: it adds no storage; leave it out");
            if (!(e.level >= 1 && e.level <= 49) && e.level != 77 && e.level != 88) {
                return fail("level " + tok_.text + " is not a level number (01-49, 66, 77 or 88)");
            }
            if (!advance()) return false;
            if (e.level == 88) {  // condition names take no storage
                while (tok_.kind != TokenKind::PERIOD) {
                    if (tok_.kind == TokenKind::END) return fail("expected '.' to end the level 88 entry");
                    if (!advance()) return false;
                }
                if (!advance()) return false;
                continue;
            }
            e.name = "FILLER";
            if (tok_.kind == TokenKind::WORD && !is_keyword(tok_.text)) {
                if (is_number(tok_.text)) return fail("expected a data name, found " + shown());
                e.name = tok_.text;
                if (!advance()) return false;
            }
            while (tok_.kind != TokenKind::PERIOD) {
                if (!clause(e)) return false;
            }
            if (!advance()) return false;
            out.push_back(std::move(e));
        }
        return true;
    }

private:
    bool advance() { return tz_.next(tok_, error_); }

    bool fail(std::string message) {
        error_ = Error{Fault::COPYBOOK, tok_.at, std::move(message)};
        return false;
    }

    std::string shown() const {
        if (tok_.kind == TokenKind::END) return "the end of the copybook";
        return "'" + tok_.text.substr(0, 40) + "'";
    }

    bool is_word(std::string_view word) const { return tok_.kind == TokenKind::WORD && tok_.text == word; }

    // Skips an optional word.
    bool optional(std::string_view word) { return !is_word(word) || advance(); }

    bool clause(Entry& e) {
        if (tok_.kind == TokenKind::END) return fail("expected '.' to end the entry of " + e.name);
        if (tok_.kind != TokenKind::WORD) return fail("expected a clause or '.', found " + shown());
        const std::string word = tok_.text;
        if (is_number(word) && word.size() <= 2)
            return fail("expected '.' to end the entry of " + e.name + " before level " + word);
        if (word == "REDEFINES") {
            e.redefines_at = tok_.at;
            if (!advance()) return false;
            if (tok_.kind != TokenKind::WORD || is_keyword(tok_.text))
                return fail("expected the name REDEFINES refers to, found " + shown());
            e.redefines = tok_.text;
            return advance();
        }
        if (word == "PIC" || word == "PICTURE") {
            Token pic;
            if (!tz_.picture(pic, error_)) return false;
            if (upper_name(pic.text) == "IS" && !tz_.picture(pic, error_)) return false;
            e.has_picture = true;
            e.picture_at = pic.at;
            if (!parse_picture(pic.text, pic.at, exact_, e.picture, error_)) return false;
            return advance();
        }
        if (word == "USAGE") {
            if (!advance() || !optional("IS")) return false;
            if (tok_.kind != TokenKind::WORD || usage_of(tok_.text) == Usage::NONE) {
                return fail(
                    "expected a usage (DISPLAY, COMP-3, PACKED-DECIMAL, NATIONAL, DISPLAY-1, BINARY, COMP...), found " +
                    shown());
            }
        }
        if (const Usage usage = usage_of(tok_.text); usage != Usage::NONE) {
            e.usage = usage;
            e.usage_text = tok_.text;
            return advance();
        }
        if (word == "OCCURS") return occurs(e);
        if (word == "SIGN" || word == "LEADING" || word == "TRAILING") {
            if (word == "SIGN" && (!advance() || !optional("IS"))) return false;
            if (!is_word("LEADING") && !is_word("TRAILING"))
                return fail("expected LEADING or TRAILING, found " + shown());
            e.sign = tok_.text == "LEADING" ? SignPlace::LEADING : SignPlace::TRAILING;
            if (!advance()) return false;
            if (is_word("SEPARATE")) {
                e.sign_separate = true;
                return advance() && optional("CHARACTER");
            }
            return true;
        }
        if (word == "SYNC" || word == "SYNCHRONIZED") {
            e.sync = true;
            return advance() && optional("LEFT") && optional("RIGHT");
        }
        if (word == "JUST" || word == "JUSTIFIED") return advance() && optional("RIGHT");
        if (word == "BLANK") {
            if (!advance() || !optional("WHEN")) return false;
            if (!is_word("ZERO") && !is_word("ZEROS") && !is_word("ZEROES"))
                return fail("expected ZERO, found " + shown());
            return advance();
        }
        if (word == "VALUE" || word == "VALUES") {
            // Initial values take no storage of their own: skipped up to the
            // next clause or the period.
            if (!advance()) return false;
            while (tok_.kind != TokenKind::PERIOD && tok_.kind != TokenKind::END &&
                   !(tok_.kind == TokenKind::WORD && is_keyword(tok_.text) && tok_.text != "IS"))
                if (!advance()) return false;
            return true;
        }
        if (word == "GLOBAL" || word == "EXTERNAL" || word == "IS") return advance();
        if (word == "GROUP-USAGE") return advance() && optional("IS") && optional("NATIONAL");
        if (word == "RENAMES") return fail("RENAMES is not supported");
        return fail("expected a clause (PIC, USAGE, OCCURS, REDEFINES, VALUE...) or '.', found " + shown());
    }

    bool occurs(Entry& e) {
        if (!advance()) return false;
        if (tok_.kind != TokenKind::WORD || !is_number(tok_.text))
            return fail("expected the number of times after OCCURS, found " + shown());
        e.occurs = number_of(tok_.text);
        const Location count_at = tok_.at;
        if (!advance()) return false;
        const bool range = is_word("TO");
        if (range || is_word("DEPENDING")) {
            if (!variable_) return fail(std::string(REFUSED_DEPENDING));
            if (range) {
                if (!advance()) return false;
                if (tok_.kind != TokenKind::WORD || !is_number(tok_.text))
                    return fail("expected the most times after OCCURS " + std::to_string(e.occurs) + " TO, found " +
                                shown());
                e.least = e.occurs;
                e.occurs = number_of(tok_.text);
                if (e.occurs < e.least)
                    return fail("OCCURS " + std::to_string(e.least) + " TO " + tok_.text +
                                ": the most is below the least");
                if (!advance()) return false;
            }
        }
        if (e.occurs < 1) {
            error_ = Error{Fault::COPYBOOK, count_at, "OCCURS 0 TIMES leaves no item"};
            return false;
        }
        if (!optional("TIMES")) return false;
        if (is_word("DEPENDING")) {
            if (!variable_) return fail(std::string(REFUSED_DEPENDING));
            e.depending = true;
            e.depending_at = tok_.at;
            if (!advance() || !optional("ON")) return false;
            if (tok_.kind != TokenKind::WORD || is_keyword(tok_.text) || is_number(tok_.text))
                return fail("expected the name of the count after DEPENDING ON, found " + shown());
            e.depending_on = tok_.text;
            if (!advance()) return false;
            while (is_word("OF") || is_word("IN")) {  // a qualified name: COUNT OF HEADER
                e.depending_on += " " + tok_.text;
                if (!advance()) return false;
                if (tok_.kind != TokenKind::WORD || is_keyword(tok_.text))
                    return fail("expected a name, found " + shown());
                e.depending_on += " " + tok_.text;
                if (!advance()) return false;
            }
        } else if (range) {
            return fail("OCCURS " + std::to_string(e.least) + " TO " + std::to_string(e.occurs) +
                        " needs DEPENDING ON: the name of the count");
        }
        // Keys and indexes name other items; they add no storage.
        while (is_word("ASCENDING") || is_word("DESCENDING") || is_word("INDEXED")) {
            if (!advance() || !optional("KEY") || !optional("IS") || !optional("BY")) return false;
            if (tok_.kind != TokenKind::WORD || is_keyword(tok_.text)) return fail("expected a name, found " + shown());
            while (tok_.kind == TokenKind::WORD && !is_keyword(tok_.text) && !is_word("ASCENDING") &&
                   !is_word("DESCENDING") && !is_word("INDEXED"))
                if (!advance()) return false;
        }
        return true;
    }

    Tokenizer tz_;
    bool exact_;
    bool variable_;
    Error& error_;
    Token tok_;
};

}  // namespace

bool parse_entries(const Source& source, bool exact, bool variable, std::vector<Entry>& entries, Error& error) {
    return Parser(source, exact, variable, error).entries(entries);
}

bool parse_picture(const std::string& text, Location at, bool exact, Picture& pic, Error& error) {
    pic = Picture{};
    pic.text = text;
    std::int64_t alpha = 0, national = 0, p_left = 0, p_right = 0, after_point = 0;
    std::int64_t printed = 0;  // the characters an edited item prints
    bool sign = false, point = false, editing = false;
    auto fail = [&](std::size_t i, std::string message) {
        error = Error{Fault::COPYBOOK, Location{at.line, at.column + static_cast<std::int64_t>(i)},
                      "PICTURE " + text.substr(0, 40) + ": " + std::move(message)};
        return false;
    };
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t symbol_at = i;
        char c = text[i++];
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 0x20);
        std::int64_t count = 1;
        if (i < text.size() && text[i] == '(') {
            const std::size_t close = text.find(')', i);
            const std::string_view digits =
                std::string_view(text).substr(i + 1, close == std::string::npos ? 0 : close - i - 1);
            if (close == std::string::npos || !is_number(std::string(digits)))
                return fail(i, "expected a count such as (10) after " + std::string(1, c));
            count = number_of(digits);
            if (count < 1) return fail(i, "a count of 0");
            i = close + 1;
        }
        switch (c) {
            case 'X':
            case 'A':
                alpha = std::min(alpha + count, SIZE_CAP);
                break;
            case '9':
                if (p_right > 0) return fail(symbol_at, "9 after P");
                pic.digits = std::min(pic.digits + count, SIZE_CAP);
                if (point) after_point = std::min(after_point + count, SIZE_CAP);
                break;
            case 'N':
            case 'G':
                national = std::min(national + count, SIZE_CAP);
                break;
            case 'S':
                if (symbol_at != 0 || count != 1) return fail(symbol_at, "S must be the first character, once");
                sign = true;
                continue;  // no position of its own
            case 'V':
                if (point || count != 1) return fail(symbol_at, "V may appear once");
                point = true;
                continue;
            case 'P':
                if (pic.digits == 0) {
                    p_left = std::min(p_left + count, SIZE_CAP);
                } else {
                    if (point && exact)
                        return fail(symbol_at, "P after V and digits: where the point stands is unclear");
                    p_right = std::min(p_right + count, SIZE_CAP);
                }
                continue;
            case 'Z':
            case '*':
            case 'B':
            case '0':
            case '/':
            case ',':
            case '.':
            case '+':
            case '-':
            case 'C':
            case 'D':
            case '$':
            case 'E':
                if (!exact) {
                    return fail(symbol_at,
                                std::string("the editing character '") + c +
                                    "' is not supported: edited items are printed text, not host data rekmo decodes");
                }
                editing = true;
                pic.comma = pic.comma || c == ',';
                if (c == 'C' || c == 'D') {
                    // CR and DB: two characters, never repeated by a count.
                    const char second = c == 'C' ? 'R' : 'B';
                    if (count != 1 || i >= text.size() || (text[i] != second && text[i] != second + 0x20))
                        return fail(symbol_at, std::string("expected ") + (c == 'C' ? "CR" : "DB"));
                    ++i;
                    count = 2;
                }
                break;
            default:
                return fail(symbol_at, detail::shown(static_cast<std::uint8_t>(c)) + " is not a PICTURE character");
        }
        printed = std::min(printed + count, SIZE_CAP);
    }
    pic.sign = sign;
    if (national > 0) {
        if (alpha > 0 || pic.digits > 0 || sign || point || p_left + p_right > 0 || editing)
            return fail(0, "N or G mixed with other characters");
        pic.category = Category::DOUBLE_BYTE;
        pic.chars = national;
    } else if (editing) {
        // Printed on the host: the item holds the characters as they read.
        pic.category = Category::EDITED;
        pic.chars = printed;
    } else if (alpha > 0) {
        if (sign || point || p_left + p_right > 0) return fail(0, "S, V or P in an alphanumeric item");
        pic.category = Category::ALPHANUMERIC;
        pic.chars = std::min(alpha + pic.digits, SIZE_CAP);
    } else {
        if (pic.digits == 0) return fail(0, "no digit position (9)");
        pic.category = Category::NUMERIC;
        pic.chars = pic.digits;
        pic.scaled = point || p_left + p_right > 0;
        // PPP99 or VPPP99: the point stands left of the P's; 99PPP: the
        // digits are followed by as many zeros.
        pic.scale = p_right > 0 ? -p_right : (p_left > 0 ? p_left + pic.digits : after_point);
    }
    return true;
}

}  // namespace rekmo::copybook::detail
