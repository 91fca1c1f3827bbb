// From copybook bytes to the code text and its words.
#include "copybook/source.hpp"

#include <algorithm>
#include <cstdio>

namespace rekmo::copybook::detail {
namespace {

constexpr std::size_t FIXED_INDICATOR = 6;  // column 7
constexpr std::size_t FIXED_CODE_END = 72;  // columns 73-80 are ignored

bool is_blank_byte(std::uint8_t c) { return c == ' ' || c == '\t' || c == '\r' || c == '\f'; }

bool is_blank(std::string_view line) {
    return std::all_of(line.begin(), line.end(), [](char c) { return is_blank_byte(static_cast<std::uint8_t>(c)); });
}

// The physical lines: LF or CR LF ends one; a last line may lack its end.
std::vector<std::string_view> split_lines(std::span<const std::uint8_t> bytes) {
    std::vector<std::string_view> lines;
    const std::string_view all(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    std::size_t at = 0;
    while (at < all.size()) {
        std::size_t end = all.find('\n', at);
        const std::size_t next = end == std::string_view::npos ? all.size() : end + 1;
        if (end == std::string_view::npos) end = all.size();
        if (end > at && all[end - 1] == '\r') --end;
        lines.push_back(all.substr(at, end - at));
        at = next;
    }
    return lines;
}

bool is_indicator(char c) { return c == ' ' || c == '*' || c == '/' || c == '-' || c == 'D' || c == 'd'; }

// A line that fixed form reads as written: an indicator in column 7, and in
// columns 1-6 at most one run of characters (a sequence number, not code).
bool fits_fixed(std::string_view line) {
    if (is_blank(line)) return true;
    if (!is_indicator(line.size() > FIXED_INDICATOR ? line[FIXED_INDICATOR] : ' ')) return false;
    const std::string_view sequence = line.substr(0, std::min<std::size_t>(line.size(), FIXED_INDICATOR));
    const std::size_t first = sequence.find_first_not_of(' ');
    if (first == std::string_view::npos) return true;
    const std::size_t last = sequence.find_last_not_of(' ');
    return sequence.substr(first, last - first + 1).find(' ') == std::string_view::npos;
}

// Appends code bytes, keeping track of an open literal and dropping a "*>"
// comment.
class Builder {
public:
    explicit Builder(Source& s) : s_(s) {}

    void line_break(std::int64_t line) {
        s_.text.push_back('\n');
        s_.where.push_back(Location{line, 1});
    }
    void code(std::string_view bytes, std::int64_t line, std::int64_t first_column) {
        for (std::size_t i = 0; i < bytes.size(); ++i) {
            const char c = bytes[i];
            if (quote_ == 0 && c == '*' && i + 1 < bytes.size() && bytes[i + 1] == '>') return;
            if (quote_ == 0 && (c == '\'' || c == '"')) {
                quote_ = c;
                literal_at_ = Location{line, first_column + static_cast<std::int64_t>(i)};
            } else if (quote_ != 0 && c == quote_) {
                if (i + 1 < bytes.size() && bytes[i + 1] == quote_) {
                    push(c, line, first_column + static_cast<std::int64_t>(i));
                    ++i;
                } else {
                    quote_ = 0;
                }
            }
            push(c, line, first_column + static_cast<std::int64_t>(i));
        }
    }
    // A continued line: the word goes on without the blanks that ended the
    // line before; a continued literal goes on after its opening quote.
    void continuation(std::string_view bytes, std::int64_t line, std::int64_t first_column) {
        std::size_t from = 0;
        while (from < bytes.size() && is_blank_byte(static_cast<std::uint8_t>(bytes[from]))) ++from;
        if (quote_ != 0) {
            if (from < bytes.size() && bytes[from] == quote_) ++from;
        } else {
            while (!s_.text.empty() && (s_.text.back() == ' ' || s_.text.back() == '\t')) {
                s_.text.pop_back();
                s_.where.pop_back();
            }
        }
        code(bytes.substr(from), line, first_column + static_cast<std::int64_t>(from));
    }
    bool in_literal() const { return quote_ != 0; }
    Location literal_at() const { return literal_at_; }

private:
    void push(char c, std::int64_t line, std::int64_t column) {
        s_.text.push_back(c);
        s_.where.push_back(Location{line, column});
    }
    Source& s_;
    char quote_ = 0;
    Location literal_at_;
};

Error source_error(Location at, std::string message) { return Error{Fault::COPYBOOK, at, std::move(message)}; }

}  // namespace

std::string shown(std::uint8_t c) {
    if (c >= 0x21 && c <= 0x7E) return std::string("'") + static_cast<char>(c) + "'";
    char hex[16];
    std::snprintf(hex, sizeof hex, "byte %02X", c);
    return hex;
}

bool read_source(std::span<const std::uint8_t> bytes, SourceForm form, Source& source, Error& error) {
    source = Source{};
    const std::vector<std::string_view> lines = split_lines(bytes);
    if (form == SourceForm::DETECT)
        form = std::all_of(lines.begin(), lines.end(), fits_fixed) ? SourceForm::FIXED : SourceForm::FREE;
    source.form = form;
    Builder builder(source);
    bool any_code = false;
    for (std::size_t n = 0; n < lines.size(); ++n) {
        const std::string_view line = lines[n];
        const auto number = static_cast<std::int64_t>(n + 1);
        if (form == SourceForm::FREE) {
            if (builder.in_literal()) {
                error = source_error(builder.literal_at(), "the literal is not closed on its line");
                return false;
            }
            const std::size_t first = line.find_first_not_of(" \t");
            if (first != std::string_view::npos && line.substr(first).starts_with(">>")) continue;  // a directive
            builder.line_break(number);
            builder.code(line, number, 1);
            continue;
        }
        const char indicator = line.size() > FIXED_INDICATOR ? line[FIXED_INDICATOR] : ' ';
        if (indicator == '*' || indicator == '/' || indicator == 'D' || indicator == 'd') continue;
        if (indicator != ' ' && indicator != '-') {
            error = source_error(Location{number, 7},
                                 "expected ' ', '*', '/', '-' or 'D' in the indicator column 7, found " +
                                     shown(static_cast<std::uint8_t>(indicator)) +
                                     " (give --free for a free-form copybook)");
            return false;
        }
        const std::string_view code =
            line.size() > FIXED_INDICATOR + 1
                ? line.substr(FIXED_INDICATOR + 1, std::min(line.size(), FIXED_CODE_END) - (FIXED_INDICATOR + 1))
                : std::string_view{};
        if (indicator == '-') {
            if (!any_code) {
                error = source_error(Location{number, 7}, "a continuation line with no line before it to continue");
                return false;
            }
            builder.continuation(code, number, 8);
            continue;
        }
        if (builder.in_literal()) {
            error =
                source_error(builder.literal_at(), "the literal is not closed, and the next line does not continue it");
            return false;
        }
        builder.line_break(number);
        builder.code(code, number, 8);
        any_code = any_code || !is_blank(code);
    }
    if (builder.in_literal()) {
        error = source_error(builder.literal_at(), "the literal is not closed");
        return false;
    }
    source.end = lines.empty() ? Location{1, 1}
                               : Location{static_cast<std::int64_t>(lines.size()),
                                          static_cast<std::int64_t>(lines.back().size()) + 1};
    return true;
}

// --- Tokenizer ---------------------------------------------------------------

namespace {

bool is_space(const std::string& t, std::size_t i) {
    const auto c = static_cast<std::uint8_t>(t[i]);
    if (is_blank_byte(c) || c == '\n') return true;
    // The full-width space of Shift_JIS separates words like a space.
    return c == 0x81 && i + 1 < t.size() && static_cast<std::uint8_t>(t[i + 1]) == 0x40;
}

bool is_word_byte(std::uint8_t c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_' ||
           c == '+' || (c >= 0xA1 && c <= 0xDF);  // half-width katakana
}

}  // namespace

Location Tokenizer::end_location() const { return s_.end; }

bool Tokenizer::ends_word(std::size_t i) const { return i >= s_.text.size() || is_space(s_.text, i); }

void Tokenizer::skip_separators() {
    const std::string& t = s_.text;
    while (pos_ < t.size()) {
        if (is_space(t, pos_)) {
            pos_ += static_cast<std::uint8_t>(t[pos_]) == 0x81 ? 2u : 1u;
        } else if ((t[pos_] == ',' || t[pos_] == ';') && ends_word(pos_ + 1)) {
            ++pos_;
        } else {
            break;
        }
    }
}

bool Tokenizer::next(Token& token, Error& error) {
    skip_separators();
    const std::string& t = s_.text;
    if (pos_ >= t.size()) {
        token = Token{TokenKind::END, "", s_.end};
        return true;
    }
    const std::size_t start = pos_;
    token.at = s_.where[start];
    const auto c = static_cast<std::uint8_t>(t[pos_]);
    if (c == '.' && ends_word(pos_ + 1)) {
        ++pos_;
        token.kind = TokenKind::PERIOD;
        token.text = ".";
        return true;
    }
    if (c == '(' || c == ')') {
        ++pos_;
        token.kind = TokenKind::PAREN;
        token.text = std::string(1, static_cast<char>(c));
        return true;
    }
    token.kind = TokenKind::WORD;
    while (pos_ < t.size()) {
        const auto b = static_cast<std::uint8_t>(t[pos_]);
        if (is_sjis_lead(b) && pos_ + 1 < t.size() && is_sjis_trail(static_cast<std::uint8_t>(t[pos_ + 1])) &&
            !is_space(t, pos_)) {
            pos_ += 2;
        } else if (is_word_byte(b) || (b == '.' && !ends_word(pos_ + 1))) {  // 1.5, .5
            ++pos_;
        } else if (b == '\'' || b == '"') {
            // A literal, or one with a prefix such as X'C1': the source
            // reader saw it closed.
            token.kind = TokenKind::LITERAL;
            ++pos_;
            while (pos_ < t.size()) {
                if (t[pos_] == static_cast<char>(b)) {
                    if (pos_ + 1 < t.size() && t[pos_ + 1] == static_cast<char>(b)) {
                        pos_ += 2;
                        continue;
                    }
                    ++pos_;
                    break;
                }
                ++pos_;
            }
            break;
        } else {
            break;
        }
    }
    if (pos_ == start) {
        error = Error{Fault::COPYBOOK, token.at, "unexpected " + shown(c)};
        return false;
    }
    const std::string_view raw(t.data() + start, pos_ - start);
    token.text = token.kind == TokenKind::WORD ? upper_name(raw) : std::string(raw);
    return true;
}

bool Tokenizer::picture(Token& token, Error& error) {
    skip_separators();
    const std::string& t = s_.text;
    if (pos_ >= t.size() || (t[pos_] == '.' && ends_word(pos_ + 1))) {
        token.at = pos_ < t.size() ? s_.where[pos_] : s_.end;
        error = Error{Fault::COPYBOOK, token.at, "expected a PICTURE character-string"};
        return false;
    }
    const std::size_t start = pos_;
    while (pos_ < t.size() && !is_space(t, pos_) &&
           !((t[pos_] == '.' || t[pos_] == ',' || t[pos_] == ';') && ends_word(pos_ + 1)))
        ++pos_;
    token = Token{TokenKind::WORD, std::string(t.data() + start, pos_ - start), s_.where[start]};
    return true;
}

}  // namespace rekmo::copybook::detail

namespace rekmo::copybook {

std::string upper_name(std::string_view bytes) {
    using detail::is_sjis_lead, detail::is_sjis_trail;
    std::string out(bytes);
    for (std::size_t i = 0; i < out.size(); ++i) {
        const auto b = static_cast<std::uint8_t>(out[i]);
        if (is_sjis_lead(b) && i + 1 < out.size() && is_sjis_trail(static_cast<std::uint8_t>(out[i + 1]))) {
            ++i;
        } else if (b >= 'a' && b <= 'z') {
            out[i] = static_cast<char>(b - 0x20);
        }
    }
    return out;
}

}  // namespace rekmo::copybook
