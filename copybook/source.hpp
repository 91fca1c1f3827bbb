// The copybook's code as one text, and the words of it. Fixed form keeps
// columns 8-72 of each line and joins continued lines; free form keeps whole
// lines. Comments (an indicator '*' or '/', or "*>" to the end of a line) are
// gone. Every byte keeps the line and column it came from.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "copybook/copybook.hpp"

namespace rekmo::copybook::detail {

inline bool is_sjis_lead(std::uint8_t b) { return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC); }
inline bool is_sjis_trail(std::uint8_t b) { return b >= 0x40 && b <= 0xFC && b != 0x7F; }

// A byte as a message shows it: 'A', or byte 1A.
std::string shown(std::uint8_t c);

struct Source {
    std::string text;             // code, lines joined by '\n'
    std::vector<Location> where;  // where each byte of text stood
    SourceForm form = SourceForm::FIXED;
    Location end;  // just after the last byte
};

// Builds the code text; false with `error` for a line no form allows.
bool read_source(std::span<const std::uint8_t> bytes, SourceForm form, Source& source, Error& error);

enum class TokenKind { END, WORD, LITERAL, PERIOD, PAREN };

struct Token {
    TokenKind kind = TokenKind::END;
    std::string text;  // WORD: upper-cased; otherwise as written
    Location at;
};

// Hands out the words of the code text one by one.
class Tokenizer {
public:
    explicit Tokenizer(const Source& source) : s_(source) {}
    // The next token; false with `error` for a byte that starts none.
    bool next(Token& token, Error& error);
    // A PICTURE character-string: the bytes up to the next space (a period
    // or comma before the space ends the entry, not the string).
    bool picture(Token& token, Error& error);
    Location end_location() const;

private:
    void skip_separators();
    bool ends_word(std::size_t i) const;
    const Source& s_;
    std::size_t pos_ = 0;
};

}  // namespace rekmo::copybook::detail
