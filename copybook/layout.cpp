// From entries to the items of one record: the tree of levels, the size of
// each entry, and every elementary item at its offset, OCCURS expanded and
// one definition of each redefined area chosen.
#include <algorithm>
#include <string_view>

#include "copybook/entries.hpp"

namespace rekmo::copybook {
namespace {

using detail::Category;
using detail::Entry;
using detail::SignPlace;
using detail::SIZE_CAP;
using detail::Usage;

std::int64_t add_cap(std::int64_t a, std::int64_t b) { return std::min(a + b, SIZE_CAP); }
std::int64_t mul_cap(std::int64_t a, std::int64_t b) {
    if (a == 0 || b == 0) return 0;
    return a > SIZE_CAP / b ? SIZE_CAP : std::min(a * b, SIZE_CAP);
}

bool is_record_level(int level) { return level == 1 || level == 77; }
std::string two_digits(int level) { return (level < 10 ? "0" : "") + std::to_string(level); }

Error copybook_error(Location at, std::string message) { return Error{Fault::COPYBOOK, at, std::move(message)}; }

// What an entry hands down to the entries below it.
struct Inherited {
    Usage usage = Usage::NONE;
    std::string usage_text;
    SignPlace sign = SignPlace::NONE;
    bool sign_separate = false;
    bool sync = false;
    ItemType type = ITEM_NONE;  // from --type
    bool omitted = false;       // from --omit
};

class Builder {
public:
    Builder(std::vector<Entry>& entries, const Options& options, Layout& layout, Error& error)
        : e_(entries),
          o_(options),
          out_(layout),
          error_(error),
          used_redefines_(options.redefines.size()),
          used_types_(options.types.size()),
          used_omit_(options.omit.size()) {}

    bool run() {
        if (!tree() || !size_all(root_, Inherited{})) return false;
        std::int64_t length = 0;
        for (std::size_t k : root_) length = records_ ? std::max(length, total(k)) : add_cap(length, total(k));
        if (length > MAX_RECORD_LENGTH) {
            error_ = copybook_error(e_[root_[0]].at, "the record is longer than rekmo's limit of " +
                                                         std::to_string(MAX_RECORD_LENGTH) + " bytes");
            return false;
        }
        out_.record_length = static_cast<std::int32_t>(length);
        if (!area_list(root_, 0, Inherited{}, records_)) return false;
        return options_used();
    }

private:
    std::int64_t total(std::size_t i) const { return mul_cap(e_[i].size, std::max<std::int64_t>(e_[i].occurs, 1)); }

    // Each entry goes below the nearest entry before it with a lower level;
    // its level must match the entries already there.
    bool tree() {
        const int first = e_[0].level;
        records_ = is_record_level(first);
        std::vector<std::size_t> open;
        for (std::size_t i = 0; i < e_.size(); ++i) {
            Entry& entry = e_[i];
            const int level = is_record_level(entry.level) ? 1 : entry.level;
            while (!open.empty() && (is_record_level(e_[open.back()].level) ? 1 : e_[open.back()].level) >= level)
                open.pop_back();
            std::vector<std::size_t>& siblings = open.empty() ? root_ : e_[open.back()].kids;
            if (open.empty() && !(records_ ? is_record_level(entry.level) : entry.level == first)) {
                error_ = copybook_error(entry.at, "level " + two_digits(entry.level) +
                                                      " stands above the first entry, of level " + two_digits(first));
                return false;
            }
            if (!open.empty() && e_[open.back()].level == 77) {
                error_ = copybook_error(entry.at, "a level 77 item has no entries below it");
                return false;
            }
            if (!siblings.empty() && e_[siblings.back()].level != entry.level && !open.empty()) {
                error_ = copybook_error(entry.at, "level " + two_digits(entry.level) + " matches no level above it (" +
                                                      e_[siblings.back()].name + " before it is level " +
                                                      two_digits(e_[siblings.back()].level) + ")");
                return false;
            }
            siblings.push_back(i);
            open.push_back(i);
        }
        return true;
    }

    // Checks each entry and sets its size (one occurrence).
    bool size_all(const std::vector<std::size_t>& kids, const Inherited& up) {
        std::size_t area_first = 0;
        for (std::size_t n = 0; n < kids.size(); ++n) {
            Entry& entry = e_[kids[n]];
            if (!entry.redefines.empty()) {
                bool found = false;
                for (std::size_t m = area_first; m < n; ++m) found = found || e_[kids[m]].name == entry.redefines;
                if (!found) {
                    error_ = copybook_error(entry.redefines_at, "REDEFINES " + entry.redefines +
                                                                    ": no entry of that name just before it at level " +
                                                                    two_digits(entry.level));
                    return false;
                }
            } else {
                area_first = n;
            }
            Inherited here = up;
            if (entry.usage != Usage::NONE) here.usage = entry.usage, here.usage_text = entry.usage_text;
            if (entry.sign != SignPlace::NONE) here.sign = entry.sign, here.sign_separate = entry.sign_separate;
            here.sync = here.sync || entry.sync;
            if (!entry.kids.empty()) {
                if (entry.has_picture) {
                    error_ = copybook_error(entry.picture_at,
                                            entry.name + " is a group (entries stand below it): it takes no PICTURE");
                    return false;
                }
                if (!size_all(entry.kids, here)) return false;
                entry.size = 0;
                std::int64_t area = 0;
                for (std::size_t m = 0; m < entry.kids.size(); ++m) {
                    const std::size_t k = entry.kids[m];
                    if (e_[k].redefines.empty() || m == 0) {
                        entry.size = add_cap(entry.size, area);
                        area = 0;
                    }
                    area = std::max(area, total(k));
                }
                entry.size = add_cap(entry.size, area);
            } else if (!elementary_size(entry, here)) {
                return false;
            }
        }
        return true;
    }

    bool elementary_size(Entry& entry, const Inherited& here) {
        const Usage usage = here.usage == Usage::NONE ? Usage::DISPLAY : here.usage;
        const detail::Picture& pic = entry.picture;
        auto refuse = [&](std::string message) {
            error_ =
                copybook_error(entry.has_picture ? entry.picture_at : entry.at, entry.name + ": " + std::move(message));
            return false;
        };
        if (usage == Usage::COMP1 || usage == Usage::COMP2 || usage == Usage::POINTER) {
            entry.size = usage == Usage::COMP2 ? 8 : 4;
        } else if (!entry.has_picture) {
            return refuse("an elementary item needs a PICTURE");
        } else if (usage == Usage::PACKED || usage == Usage::BINARY) {
            if (pic.category != Category::NUMERIC)
                return refuse(here.usage_text + " needs a numeric PICTURE (9, S, V, P)");
            if (usage == Usage::PACKED) {
                entry.size = pic.digits / 2 + 1;
            } else if (pic.digits > 18) {
                return refuse("a binary item of more than 18 digits");
            } else {
                entry.size = pic.digits <= 4 ? 2 : pic.digits <= 9 ? 4 : 8;
            }
        } else if (usage == Usage::NATIONAL || usage == Usage::DISPLAY1 || pic.category == Category::DOUBLE_BYTE) {
            if (pic.category != Category::DOUBLE_BYTE) return refuse(here.usage_text + " needs PICTURE N or G");
            entry.size = mul_cap(pic.chars, 2);
        } else {
            entry.size = pic.category == Category::NUMERIC && here.sign_separate ? add_cap(pic.chars, 1) : pic.chars;
        }
        if (entry.sign != SignPlace::NONE && !(usage == Usage::DISPLAY && pic.category == Category::NUMERIC)) {
            return refuse("SIGN applies to numeric DISPLAY items only");
        }
        if (here.sync &&
            (usage == Usage::BINARY || usage == Usage::COMP1 || usage == Usage::COMP2 || usage == Usage::POINTER)) {
            return refuse("SYNCHRONIZED binary items are refused: their alignment depends on the compiler");
        }
        return true;
    }

    // --- Writing the items ---------------------------------------------------

    // The entries of one group, area by area: an entry and those that
    // redefine it share one area, as long as the longest of them. Several
    // records (01) share the record the same way.
    bool area_list(const std::vector<std::size_t>& kids, std::int64_t offset, const Inherited& up, bool records) {
        std::int64_t pos = offset;
        for (std::size_t first = 0; first < kids.size();) {
            std::size_t end = first + 1;
            while (end < kids.size() && (records || !e_[kids[end]].redefines.empty())) ++end;
            std::size_t chosen = first;
            bool picked = false;
            std::int64_t area = 0;
            for (std::size_t m = first; m < end; ++m) {
                area = std::max(area, total(kids[m]));
                for (std::size_t r = 0; r < o_.redefines.size(); ++r) {
                    if (o_.redefines[r] != e_[kids[m]].name) continue;
                    used_redefines_[r] = 1;
                    if (picked && chosen != m) {
                        error_ = Error{Fault::OPTION, e_[kids[m]].at,
                                       "--redefines names both " + e_[kids[chosen]].name + " and " + e_[kids[m]].name +
                                           ", which share one area"};
                        return false;
                    }
                    picked = true;
                    chosen = m;
                }
            }
            const Entry& written = e_[kids[chosen]];
            if (records) out_.record = written.name + " (level " + two_digits(written.level) + ")";
            const bool first_time =
                std::all_of(indexes_.begin(), indexes_.end(), [](std::int64_t i) { return i == 1; });
            for (std::size_t m = first; m < end && first_time; ++m) {
                if (m == chosen) continue;
                const Entry& other = e_[kids[m]];
                std::string note = (records ? "record " : "") + other.name + " (level " + two_digits(other.level) +
                                   ", line " + std::to_string(other.at.line) + ") left out: ";
                note += m == first ? written.name + " is written in its place"
                                   : (records ? "give --redefines " + other.name + " to write it instead"
                                              : "it redefines " + e_[kids[first]].name);
                out_.lines.push_back(Line{note, ItemDef{}});
            }
            if (!entry(kids[chosen], pos, up)) return false;
            if (const std::int64_t rest = area - total(kids[chosen]); rest > 0) {
                out_.lines.push_back(Line{
                    "FILLER: the rest of the area " + e_[kids[first]].name + " shares with its redefinitions",
                    ItemDef{"FILLER", pos + total(kids[chosen]), static_cast<std::int32_t>(rest), ITEM_EBCDIC, 0}});
                if (!count_item(written.at)) return false;
            }
            pos += area;
            first = end;
        }
        return true;
    }

    bool entry(std::size_t i, std::int64_t offset, Inherited up) {
        const Entry& entry = e_[i];
        if (entry.usage != Usage::NONE) up.usage = entry.usage, up.usage_text = entry.usage_text;
        if (entry.sign != SignPlace::NONE) up.sign = entry.sign, up.sign_separate = entry.sign_separate;
        for (std::size_t t = 0; t < o_.types.size(); ++t)
            if (o_.types[t].first == entry.name) up.type = o_.types[t].second, used_types_[t] = 1;
        for (std::size_t t = 0; t < o_.omit.size(); ++t)
            if (o_.omit[t] == entry.name) up.omitted = true, used_omit_[t] = 1;
        const std::int64_t times = std::max<std::int64_t>(entry.occurs, 1);
        for (std::int64_t k = 1; k <= times; ++k) {
            if (entry.occurs > 0) indexes_.push_back(k);
            const std::int64_t at = offset + (k - 1) * entry.size;
            if (!(entry.kids.empty() ? elementary(entry, at, up) : area_list(entry.kids, at, up, false))) return false;
            if (entry.occurs > 0) indexes_.pop_back();
        }
        return true;
    }

    std::string suffix() const {
        if (indexes_.empty()) return "";
        std::string s = "(";
        for (std::size_t k = 0; k < indexes_.size(); ++k) s += (k ? " " : "") + std::to_string(indexes_[k]);
        return s + ")";
    }

    std::string describe(const Entry& entry, const Inherited& up) const {
        std::string text = two_digits(entry.level) + " " + entry.name;
        if (entry.has_picture) text += " PIC " + entry.picture.text.substr(0, 60);
        if (!up.usage_text.empty()) text += " " + up.usage_text;
        if (up.sign != SignPlace::NONE) text += up.sign == SignPlace::LEADING ? " SIGN LEADING" : " SIGN TRAILING";
        if (up.sign != SignPlace::NONE && up.sign_separate) text += " SEPARATE";
        const std::int64_t scale = entry.picture.scale;
        if (entry.picture.scaled && scale > 0) {
            text += ": rekmo prints the digits unscaled; the point goes " + std::to_string(scale) +
                    " digits from the right";
        } else if (entry.picture.scaled && scale < 0) {
            text += ": rekmo prints the digits unscaled; the value is the digits followed by " +
                    std::to_string(-scale) + " zeros";
        }
        return text;
    }

    void warn(const Entry& entry, std::string message) {
        if (std::all_of(indexes_.begin(), indexes_.end(), [](std::int64_t i) { return i == 1; }))
            out_.warnings.push_back(Warning{entry.at, entry.name + ": " + std::move(message)});
    }

    bool count_item(Location at) {
        if (++items_ <= o_.max_items) return true;
        error_ = Error{Fault::COPYBOOK, at, "the layout has more than " + std::to_string(o_.max_items) + " items"};
        return false;
    }

    bool add(const Entry& entry, std::string comment, std::string name, std::int64_t start, std::int64_t length,
             ItemType type, bool output) {
        ItemDef item{std::move(name), start, static_cast<std::int32_t>(length), type, output ? 1 : 0};
        if (item.name.size() > 127) {
            error_ = copybook_error(
                entry.at, entry.name + ": the name with its indexes is longer than a format file keeps (127 bytes)");
            return false;
        }
        if (item_fault(item) != Result::OK) {
            error_ = copybook_error(
                entry.at,
                entry.name + ": rekmo refuses " + std::to_string(length) + " bytes for this item type" +
                    (type == ITEM_ZONED    ? " (zoned items: at most " + std::to_string(MAX_ZONED_LENGTH) + ")"
                     : type == ITEM_PACKED ? " (packed items: at most " + std::to_string(MAX_PACKED_LENGTH) + ")"
                                           : ""));
            return false;
        }
        out_.lines.push_back(Line{std::move(comment), std::move(item)});
        return count_item(entry.at);
    }

    bool elementary(const Entry& entry, std::int64_t at, const Inherited& up) {
        const Usage usage = up.usage == Usage::NONE ? Usage::DISPLAY : up.usage;
        const bool filler = entry.name == "FILLER";
        const std::string name = filler ? entry.name : entry.name + suffix();
        const bool output = !filler && !up.omitted;
        std::string comment = describe(entry, up);
        const Category category = entry.picture.category;
        ItemType type = ITEM_EBCDIC;
        if (usage == Usage::BINARY || usage == Usage::COMP1 || usage == Usage::COMP2 || usage == Usage::POINTER) {
            if (up.type == ITEM_NONE) {
                comment += ": binary, which rekmo does not decode; written as E with output 0 to keep its place";
                warn(entry,
                     up.usage_text + " is binary, which rekmo does not decode: written as an E item with output 0");
                return add(entry, comment, name, at, entry.size, ITEM_EBCDIC, false);
            }
        } else if (usage == Usage::PACKED) {
            type = ITEM_PACKED;
        } else if (category == Category::DOUBLE_BYTE) {
            if (o_.kanji == Kanji::NONE && up.type == ITEM_NONE) {
                error_ = Error{Fault::OPTION, entry.at,
                               entry.name + " is a double-byte item: give --kanji keis or --kanji jef"};
                return false;
            }
            type = o_.kanji == Kanji::JEF ? ITEM_JEF_N : ITEM_KEIS_N;
        } else if (category == Category::NUMERIC) {
            type = ITEM_ZONED;
        } else {
            type = o_.mixed == Kanji::KEIS ? ITEM_KEIS : o_.mixed == Kanji::JEF ? ITEM_JEF : ITEM_EBCDIC;
        }
        if (up.type != ITEM_NONE) type = up.type;
        if (type != ITEM_ZONED || up.sign == SignPlace::NONE || (up.sign == SignPlace::TRAILING && !up.sign_separate)) {
            return add(entry, comment, name, at, entry.size, type, output);
        }
        // rekmo reads a zoned sign from the zone of the last byte: a sign
        // anywhere else becomes an E item of its own, beside the digits.
        const std::string sign_name = filler ? entry.name : entry.name + "-SIGN" + suffix();
        const std::int64_t digits = entry.picture.chars;
        const bool leading = up.sign == SignPlace::LEADING;
        const std::int64_t sign_at = leading ? at : at + digits;
        const std::int64_t digits_at = leading && up.sign_separate ? at + 1 : at;
        warn(entry, std::string(leading ? "SIGN LEADING" : "SIGN TRAILING") + (up.sign_separate ? " SEPARATE" : "") +
                        ": rekmo reads a zoned sign from the last byte; the sign byte is written as the E item " +
                        entry.name + "-SIGN");
        const std::string sign_comment =
            "the sign byte of " + entry.name + (up.sign_separate ? " ('+' or '-')" : " (its zone holds the sign)");
        if (leading && !add(entry, sign_comment, sign_name, sign_at, 1, ITEM_EBCDIC, output)) return false;
        if (!add(entry, comment + (up.sign_separate ? "" : ": the digits, read as unsigned"), name, digits_at, digits,
                 ITEM_ZONED, output))
            return false;
        return leading || add(entry, sign_comment, sign_name, sign_at, 1, ITEM_EBCDIC, output);
    }

    bool options_used() {
        auto unused = [&](const std::vector<char>& used, const std::string& option, const std::string& name) {
            if (std::find(used.begin(), used.end(), 0) == used.end()) return false;
            error_ = Error{Fault::OPTION, Location{}, option + " " + name + ": no entry of that name is written"};
            return true;
        };
        for (std::size_t r = 0; r < used_redefines_.size(); ++r)
            if (!used_redefines_[r]) return !unused(used_redefines_, "--redefines", o_.redefines[r]);
        for (std::size_t t = 0; t < used_types_.size(); ++t)
            if (!used_types_[t]) return !unused(used_types_, "--type", o_.types[t].first);
        for (std::size_t t = 0; t < used_omit_.size(); ++t)
            if (!used_omit_[t]) return !unused(used_omit_, "--omit", o_.omit[t]);
        return true;
    }

    std::vector<Entry>& e_;
    const Options& o_;
    Layout& out_;
    Error& error_;
    std::vector<std::size_t> root_;
    bool records_ = false;  // the top entries are records (01 or 77)
    std::vector<std::int64_t> indexes_;
    std::size_t items_ = 0;
    std::vector<char> used_redefines_, used_types_, used_omit_;
};

}  // namespace

bool read_copybook(std::span<const std::uint8_t> text, const Options& options, Layout& layout, Error& error) {
    layout = Layout{};
    error = Error{};
    detail::Source source;
    std::vector<Entry> entries;
    if (!detail::read_source(text, options.form, source, error) || !detail::parse_entries(source, entries, error))
        return false;
    layout.form = source.form;
    if (entries.empty()) {
        error = copybook_error(source.end, "no data description entry (a level number such as 01) in the copybook");
        return false;
    }
    return Builder(entries, options, layout, error).run();
}

}  // namespace rekmo::copybook
