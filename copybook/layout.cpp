// From entries to the items of one record: the tree of levels, the size of
// each entry, and every elementary item at its offset, OCCURS expanded and
// one definition of each redefined area chosen.
#include <algorithm>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

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
    ItemType type = ITEM_NONE;   // from --type
    bool omitted = false;        // from --omit
    std::ptrdiff_t digits = -1;  // the --digits option naming it, by index
    std::ptrdiff_t group = -1;   // the nearest named group, in Builder::groups_
};

// A number's sign as the SIGN line of its Z item says it.
SignForm sign_form(const Inherited& up) {
    if (up.sign == SignPlace::LEADING) return up.sign_separate ? SignForm::LEADING_SEPARATE : SignForm::LEADING;
    if (up.sign == SignPlace::TRAILING && up.sign_separate) return SignForm::TRAILING_SEPARATE;
    return SignForm::TRAILING;
}

constexpr std::int64_t MAX_SCALE = 300;      // the format reader's limit of implied places either way
constexpr std::size_t MAX_NAME_BYTES = 127;  // a longer name is cut by the format reader's tools

class Builder {
public:
    Builder(std::vector<Entry>& entries, const Options& options, Layout& layout, Error& error)
        : e_(entries),
          o_(options),
          out_(layout),
          error_(error),
          used_redefines_(options.redefines.size()),
          used_types_(options.types.size()),
          used_omit_(options.omit.size()),
          used_digits_(options.digits.size()),
          digits_numbers_(options.digits.size()) {}

    bool run() {
        if (!tree() || !size_all(root_, Inherited{})) return false;
        std::int64_t length = 0;
        std::size_t longest = root_[0];
        for (std::size_t k : root_) {
            if (!records_) {
                length = add_cap(length, total(k));
            } else if (total(k) > length) {
                length = total(k);
                longest = k;
            }
        }
        if (length > MAX_RECORD_LENGTH) {
            error_ = copybook_error(e_[root_[0]].at, "the record is longer than rekmo's limit of " +
                                                         std::to_string(MAX_RECORD_LENGTH) + " bytes");
            return false;
        }
        if (variable() && length > MAX_VARIABLE_DATA) {
            error_ = Error{Fault::OPTION, e_[longest].at,
                           (records_ ? "record " + e_[longest].name : std::string("the record")) + " is " +
                               std::to_string(length) + " bytes: a V or VB record holds at most " +
                               std::to_string(MAX_VARIABLE_DATA) + " (" + std::to_string(MAX_VARIABLE_RECORD) +
                               " with its RDW)"};
            return false;
        }
        out_.record_length = static_cast<std::int32_t>(length);
        out_.recfm = o_.recfm;
        record_end_ = length;
        if (!(o_.kinds.empty() ? area_list(root_, 0, Inherited{}, records_) : kind_blocks())) return false;
        if (!options_used()) return false;
        if (o_.plain) return true;
        out_.csv_words = static_cast<std::uint8_t>(csv_words_ | o_.csv_words | CSV_EXACT);
        return distinct_names();
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
            // A separate sign is a byte of its own; an edited picture has one
            // only for its S.
            const bool sign_byte = here.sign_separate && (pic.category == Category::NUMERIC ||
                                                          (pic.category == Category::EDITED && pic.sign));
            entry.size = sign_byte ? add_cap(pic.chars, 1) : pic.chars;
        }
        const bool signed_display = pic.category == Category::NUMERIC || (pic.category == Category::EDITED && pic.sign);
        if (entry.sign != SignPlace::NONE && !(usage == Usage::DISPLAY && signed_display)) {
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
            if (records) record_end_ = total(kids[chosen]);
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
        for (std::size_t t = 0; t < o_.digits.size(); ++t)
            if (o_.digits[t] == entry.name) up.digits = static_cast<std::ptrdiff_t>(t), used_digits_[t] = 1;
        if (!entry.kids.empty() && entry.name != "FILLER") {
            // A group's name can tell apart items of one name (AMT OF IN-REC).
            groups_.push_back(Group{entry.name, up.group});
            up.group = static_cast<std::ptrdiff_t>(groups_.size() - 1);
        }
        if (entry.depending && !depending_table(i, offset)) return false;
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
        if (!o_.plain) return text;  // the SCALE and SIGN lines say the rest
        if (entry.picture.scaled && scale > 0) {
            text += ": rekmo prints the digits unscaled; the point goes " + std::to_string(scale) +
                    " digits from the right";
        } else if (entry.picture.scaled && scale < 0) {
            text += ": rekmo prints the digits unscaled; the value is the digits followed by " +
                    std::to_string(-scale) + " zeros";
        }
        return text;
    }

    // Once per entry: not for later occurrences, nor again for a record
    // written as a second kind.
    void warn(const Entry& entry, std::string message) {
        if (!again_ && std::all_of(indexes_.begin(), indexes_.end(), [](std::int64_t i) { return i == 1; }))
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
        } else if (category == Category::EDITED) {
            type = ITEM_EBCDIC;  // digits and signs as the host printed them
        } else {
            type = o_.mixed == Kanji::KEIS ? ITEM_KEIS : o_.mixed == Kanji::JEF ? ITEM_JEF : ITEM_EBCDIC;
        }
        if (up.type != ITEM_NONE) type = up.type;
        if (!o_.plain) return exact_item(entry, comment, name, at, up, type, output);
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

    // An item of the default format: a number whole, with the SCALE, SIGN
    // and DIGITS lines its PICTURE and --digits give it.
    bool exact_item(const Entry& entry, std::string comment, const std::string& name, std::int64_t at,
                    const Inherited& up, ItemType type, bool output) {
        const detail::Picture& pic = entry.picture;
        const bool filler = entry.name == "FILLER";
        ItemForm form;
        form.exact = type == ITEM_ZONED || type == ITEM_PACKED;
        if (pic.category == Category::EDITED) {
            comment += ": edited, written as the text it holds";
            if (output && pic.comma && type == ITEM_EBCDIC) csv_words_ |= CSV_QUOTE;
        }
        const bool number = form.exact && pic.category == Category::NUMERIC;
        if (filler && number && type == ITEM_ZONED && sign_form(up) != SignForm::TRAILING) {
            // No line names a FILLER (never written): its sign byte is no
            // digit, so it keeps its place as text.
            type = ITEM_EBCDIC;
            form.exact = false;
        } else if (form.exact && !filler) {
            if (number && pic.scaled) {
                if (pic.scale > MAX_SCALE || pic.scale < -MAX_SCALE) {
                    error_ = copybook_error(entry.picture_at, entry.name + ": the PICTURE scales the value by " +
                                                                  std::to_string(pic.scale) +
                                                                  " places; rekmo prints at most 300 either way");
                    return false;
                }
                form.scale = static_cast<std::int32_t>(pic.scale);
            }
            if (number && type == ITEM_ZONED) form.sign = sign_form(up);
            if (up.digits >= 0) {
                const std::string& option = o_.digits[static_cast<std::size_t>(up.digits)];
                if (form.scale != 0) {
                    error_ = Error{Fault::OPTION, entry.at,
                                   "--digits " + option + ": " + entry.name + " (PIC " + pic.text.substr(0, 60) +
                                       ") is scaled, and a code's digits take no point"};
                    return false;
                }
                form.digits = true;
                digits_numbers_[static_cast<std::size_t>(up.digits)] = 1;
                if (type == ITEM_PACKED && number && pic.digits % 2 == 0) {
                    warn(entry, "--digits: a packed item of " + std::to_string(pic.digits) + " digits holds " +
                                    std::to_string(pic.digits + 1) + ", all of which are printed");
                }
            }
            named_.push_back(Named{out_.lines.size(), entry.at, entry.name, suffix(), up.group});
        }
        if (!add(entry, std::move(comment), name, at, entry.size, type, output)) return false;
        out_.lines.back().form = form;
        return true;
    }

    // The option lines of one name apply to every item of that name, so
    // items of one name that need different lines are given their names
    // qualified by their groups (AMT OF IN-REC), as COBOL itself tells them
    // apart; as few groups as make the lines agree.
    bool distinct_names() {
        std::unordered_map<std::string, std::size_t> index;
        std::vector<std::vector<std::size_t>> same;  // items of one name, in order of first appearance
        for (std::size_t k = 0; k < named_.size(); ++k) {
            const auto [found, fresh] = index.try_emplace(out_.lines[named_[k].line].item.name, same.size());
            if (fresh) same.emplace_back();
            same[found->second].push_back(k);
        }
        std::unordered_set<std::string> warned;
        for (const std::vector<std::size_t>& items : same) {
            const ItemForm& first = out_.lines[named_[items[0]].line].form;
            if (std::all_of(items.begin(), items.end(),
                            [&](std::size_t k) { return same_form(out_.lines[named_[k].line].form, first); }))
                continue;
            if (!qualify(items, warned)) return false;
        }
        return true;
    }

    bool qualify(const std::vector<std::size_t>& items, std::unordered_set<std::string>& warned) {
        const Named& one = named_[items[0]];
        std::vector<std::string> names(items.size());
        for (std::size_t depth = 1;; ++depth) {
            bool deeper = false;  // some item has a group left to name
            std::unordered_map<std::string_view, const ItemForm*> forms;
            bool agree = true;
            for (std::size_t n = 0; n < items.size(); ++n) {
                const Named& item = named_[items[n]];
                names[n] = item.base;
                std::ptrdiff_t g = item.group;
                for (std::size_t d = 0; d < depth && g >= 0; ++d, g = groups_[static_cast<std::size_t>(g)].parent)
                    names[n] += " OF " + groups_[static_cast<std::size_t>(g)].name;
                deeper = deeper || g >= 0;
                names[n] += item.suffix;
            }
            for (std::size_t n = 0; n < items.size() && agree; ++n) {
                const ItemForm& form = out_.lines[named_[items[n]].line].form;
                const auto [found, fresh] = forms.try_emplace(names[n], &form);
                agree = fresh || same_form(*found->second, form);
            }
            if (agree) break;
            if (!deeper) {
                error_ = copybook_error(one.at, one.base +
                                                    ": items of this name need different SCALE, SIGN or DIGITS "
                                                    "lines, and the names of their groups do not tell them apart "
                                                    "(--plain writes the format without these lines)");
                return false;
            }
        }
        for (std::size_t n = 0; n < items.size(); ++n) {
            if (names[n].size() > MAX_NAME_BYTES) {
                error_ = copybook_error(named_[items[n]].at, one.base +
                                                                 ": items of this name need different SCALE, SIGN or "
                                                                 "DIGITS lines, and the name qualified by its groups "
                                                                 "is longer than a format file keeps (127 bytes)");
                return false;
            }
            out_.lines[named_[items[n]].line].item.name = names[n];
        }
        if (warned.insert(one.base).second) {
            out_.warnings.push_back(Warning{one.at, one.base +
                                                        ": items of this name need different SCALE, SIGN or DIGITS "
                                                        "lines: each is written under its name qualified by its "
                                                        "groups, such as " +
                                                        names[0]});
        }
        return true;
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
        for (std::size_t t = 0; t < used_digits_.size(); ++t) {
            if (!used_digits_[t]) return !unused(used_digits_, "--digits", o_.digits[t]);
            if (!digits_numbers_[t]) {
                error_ = Error{Fault::OPTION, Location{},
                               "--digits " + o_.digits[t] + ": no zoned or packed item is written for it"};
                return false;
            }
        }
        return true;
    }

    bool variable() const { return o_.recfm == RecordForm::V || o_.recfm == RecordForm::VB; }

    // A table of OCCURS DEPENDING ON: every occurrence is written, and in a V
    // record those past its end come out empty. That holds only when nothing
    // follows the table: whatever did would move with the count.
    bool depending_table(std::size_t i, std::int64_t offset) {
        const Entry& entry = e_[i];
        if (!indexes_.empty()) {
            error_ =
                copybook_error(entry.depending_at, entry.name +
                                                       ": OCCURS DEPENDING ON inside another table is refused: "
                                                       "the places after its first occurrence move with its count");
            return false;
        }
        if (offset + total(i) != record_end_) {
            error_ = copybook_error(entry.depending_at,
                                    entry.name +
                                        ": OCCURS DEPENDING ON is read only for a table that ends its record: "
                                        "the places of the entries after it move with its count");
            return false;
        }
        std::string note = two_digits(entry.level) + " " + entry.name + " OCCURS " +
                           (entry.least >= 0 ? std::to_string(entry.least) + " TO " : "") +
                           std::to_string(entry.occurs) + " DEPENDING ON " + entry.depending_on +
                           ": the record's length says how many it holds; those it lacks come out empty";
        out_.lines.push_back(Line{std::move(note), ItemDef{}});
        return true;
    }

    // --- Record kinds ----------------------------------------------------------

    // An entry of one name in a record, where it stands.
    struct Place {
        std::size_t entry = 0;
        std::int64_t start = 0;
        bool table = false;  // in an OCCURS table: at no one place
        Usage usage = Usage::NONE;
        std::string usage_text;
    };

    // Every entry named `name` among `kids` and below them, at offsets as
    // area_list gives them.
    void locate(const std::vector<std::size_t>& kids, std::int64_t offset, bool table, Usage usage,
                const std::string& usage_text, const std::string& name, std::vector<Place>& found) const {
        std::int64_t area_start = offset, area = 0;
        for (std::size_t m = 0; m < kids.size(); ++m) {
            const Entry& kid = e_[kids[m]];
            if (m == 0 || kid.redefines.empty()) {
                area_start = add_cap(area_start, area);
                area = 0;
            }
            area = std::max(area, total(kids[m]));
            const bool own = kid.usage != Usage::NONE;
            const Usage here = own ? kid.usage : usage;
            const std::string& here_text = own ? kid.usage_text : usage_text;
            const bool in_table = table || kid.occurs > 0;
            if (kid.name == name) found.push_back(Place{kids[m], area_start, in_table, here, here_text});
            locate(kid.kids, area_start, in_table, here, here_text, name, found);
        }
    }

    bool option_error(Location at, std::string message) {
        error_ = Error{Fault::OPTION, at, std::move(message)};
        return false;
    }

    // The 01 record an option names, by index.
    bool record_named(const std::string& option, const std::string& name, std::size_t& found) {
        for (const std::size_t k : root_) {
            if (e_[k].name != name) continue;
            if (e_[k].level != 1)
                return option_error(e_[k].at, option + " " + name + ": a level 77 item is no record to tell apart");
            found = k;
            return true;
        }
        return option_error(Location{}, option + " " + name + ": no 01 record of that name");
    }

    // The code of one --kind option in the field, as the KIND line tests it:
    // the field's bytes read as an E item, or raw for X'..'.
    bool kind_test(const KindOption& kind, const Place& field, KindTest& test) {
        const Entry& f = e_[field.entry];
        const std::string shown = "--kind " + kind.record + "=" + kind_value(kind.value, kind.raw);
        const std::int64_t length = total(field.entry);
        test = KindTest{field.start, static_cast<std::int32_t>(length), kind.value, kind.raw};
        const auto bytes = [](std::int64_t n) { return std::to_string(n) + (n == 1 ? " byte" : " bytes"); };
        if (kind.raw) {
            if (static_cast<std::int64_t>(kind.value.size()) == length) return true;
            return option_error(f.at, shown + ": " + bytes(static_cast<std::int64_t>(kind.value.size())) + ", and " +
                                          f.name + " is " + bytes(length));
        }
        if (static_cast<std::int64_t>(kind.value.size()) > length)
            return option_error(f.at, shown + ": longer than " + f.name + " (" + bytes(length) + ")");
        if (kind.value.front() == ' ' || kind.value.back() == ' ')
            return option_error(f.at, shown + ": a KIND line keeps no space before or after its value: give X'..'");
        for (const char c : kind.value) {
            if (kind_text_byte(static_cast<std::uint8_t>(c))) continue;
            return option_error(f.at, shown + ": an E item's text never holds '" + std::string(1, c) +
                                          "' (no lower-case letters, no comma): give X'..'");
        }
        if (!f.kids.empty()) return true;  // a group: its bytes as text
        const detail::Picture& pic = f.picture;
        const bool text_usage = field.usage == Usage::NONE || field.usage == Usage::DISPLAY;
        if (!text_usage || pic.category == Category::DOUBLE_BYTE) {
            return option_error(f.at, shown + ": " + f.name + " is " +
                                          (text_usage ? std::string("double-byte") : field.usage_text) +
                                          ", not single-byte text: give its code as X'..'");
        }
        if (pic.category != Category::NUMERIC) return true;
        if (pic.sign)
            return option_error(f.at, shown + ": " + f.name + " is signed, its sign in a zone: give its code as X'..'");
        const bool digits =
            std::all_of(kind.value.begin(), kind.value.end(), [](char c) { return c >= '0' && c <= '9'; });
        if (!digits || static_cast<std::int64_t>(kind.value.size()) != length) {
            return option_error(f.at, shown + ": " + f.name + " is PIC " + pic.text.substr(0, 40) + ": its code is " +
                                          bytes(length) + " of digits, leading zeros written");
        }
        return true;
    }

    // Each --kind record under a KIND line with its code, after the items of
    // the --kind-other record (the records of no kind); records no option
    // names are left out.
    bool kind_blocks() {
        if (!records_) {
            return option_error(e_[root_[0]].at, "--kind tells 01 records apart, and the copybook starts at level " +
                                                     two_digits(e_[root_[0]].level));
        }
        std::vector<std::size_t> kinded(o_.kinds.size());
        for (std::size_t n = 0; n < o_.kinds.size(); ++n)
            if (!record_named("--kind", o_.kinds[n].record, kinded[n])) return false;
        std::size_t other = SIZE_MAX;
        if (!o_.kind_other.empty() && !record_named("--kind-other", o_.kind_other, other)) return false;
        for (const std::string& name : o_.redefines) {
            for (const std::size_t k : root_) {
                if (e_[k].name != name) continue;
                return option_error(e_[k].at, "--redefines " + name +
                                                  ": with --kind each 01 record is a kind of its own: name it with "
                                                  "--kind or --kind-other");
            }
        }
        // The code's field: one entry at one place in every record of a kind.
        std::vector<KindTest> tests(o_.kinds.size());
        std::vector<Place> found;
        for (std::size_t n = 0; n < o_.kinds.size(); ++n) {
            const Entry& record = e_[kinded[n]];
            found.clear();
            locate(record.kids, 0, record.occurs > 0, record.usage, record.usage_text, o_.kind_at, found);
            const std::string option = "--kind-at " + o_.kind_at + ": ";
            if (found.empty()) return option_error(record.at, option + "record " + record.name + " has no such entry");
            if (found.size() > 1) {
                return option_error(e_[found[1].entry].at,
                                    option + "record " + record.name + " has more than one entry of that name");
            }
            if (found[0].table) {
                return option_error(e_[found[0].entry].at,
                                    option + "in record " + record.name + " it stands in an OCCURS table");
            }
            if (!kind_test(o_.kinds[n], found[0], tests[n])) return false;
            if (tests[n].start != tests[0].start || tests[n].length != tests[0].length) {
                const auto place = [](const KindTest& t) {
                    return "position " + std::to_string(t.start + 1) + " (" + std::to_string(t.length) +
                           (t.length == 1 ? " byte)" : " bytes)");
                };
                return option_error(e_[found[0].entry].at, option + "at " + place(tests[0]) + " in record " +
                                                               e_[kinded[0]].name + " but at " + place(tests[n]) +
                                                               " in record " + record.name +
                                                               ": the code must stand at one place in every record");
            }
        }
        out_.kinds = "kinds told apart by " + o_.kind_at + " (" + "position " + std::to_string(tests[0].start + 1) +
                     ", " + std::to_string(tests[0].length) + (tests[0].length == 1 ? " byte)" : " bytes)");
        const auto described = [&](std::size_t k) {
            return e_[k].name + " (level 01), " + std::to_string(total(k)) + " bytes";
        };
        for (const std::size_t k : root_) {
            if (k == other || std::find(kinded.begin(), kinded.end(), k) != kinded.end()) continue;
            const std::string why = " left out: no --kind or --kind-other names it";
            out_.lines.push_back(Line{"record " + e_[k].name + " (level " + two_digits(e_[k].level) + ", line " +
                                          std::to_string(e_[k].at.line) + ")" + why,
                                      ItemDef{}});
            out_.warnings.push_back(Warning{e_[k].at, "record " + e_[k].name + why});
        }
        if (other == SIZE_MAX) {
            out_.lines.push_back(
                Line{"No layout for records of no kind (--kind-other): such a record stops the run", ItemDef{}});
        } else {
            out_.lines.push_back(Line{"Records of no kind: " + described(other), ItemDef{}});
            record_end_ = total(other);
            if (!entry(other, 0, Inherited{})) return false;
        }
        for (const std::size_t k : root_) {
            again_ = k == other;
            for (std::size_t n = 0; n < o_.kinds.size(); ++n) {
                if (kinded[n] != k) continue;
                const KindOption& kind = o_.kinds[n];
                const std::string code = kind.raw ? kind_value(kind.value, kind.raw) : "'" + kind.value + "'";
                out_.lines.push_back(Line{"Record " + described(k) + ", kind " + code, ItemDef{}, {}, tests[n]});
                record_end_ = total(k);
                if (!entry(k, 0, Inherited{})) return false;
                again_ = true;
            }
        }
        again_ = false;
        return true;
    }

    std::vector<Entry>& e_;
    const Options& o_;
    Layout& out_;
    Error& error_;
    std::vector<std::size_t> root_;
    bool records_ = false;         // the top entries are records (01 or 77)
    std::int64_t record_end_ = 0;  // where the record being written ends
    bool again_ = false;           // the record is written a second time: no warnings
    std::vector<std::int64_t> indexes_;
    std::size_t items_ = 0;
    std::vector<char> used_redefines_, used_types_, used_omit_, used_digits_;
    std::vector<char> digits_numbers_;  // a --digits option reached a P or Z item

    // The default format's option lines: the groups that qualify names, and
    // the P and Z items that take lines.
    struct Group {
        std::string name;
        std::ptrdiff_t parent = -1;
    };
    struct Named {
        std::size_t line = 0;  // in out_.lines
        Location at;
        std::string base;    // the entry's name
        std::string suffix;  // its OCCURS indexes
        std::ptrdiff_t group = -1;
    };
    std::vector<Group> groups_;
    std::vector<Named> named_;
    std::uint8_t csv_words_ = 0;  // the words the items call for
};

}  // namespace

bool kind_text_byte(std::uint8_t byte) {
    // The host single-byte table gives digits, upper-case letters, the space,
    // these signs, the yen sign 5C and half-width katakana: ｢ ｣ and ｱ to ﾟ.
    static constexpr std::string_view SIGNS = " .<(+|&!*);^-/%>?:#@'=\"\\";
    return (byte >= '0' && byte <= '9') || (byte >= 'A' && byte <= 'Z') ||
           SIGNS.find(static_cast<char>(byte)) != std::string_view::npos || byte == 0xA2 || byte == 0xA3 ||
           (byte >= 0xB1 && byte <= 0xDF);
}

bool read_copybook(std::span<const std::uint8_t> text, const Options& options, Layout& layout, Error& error) {
    layout = Layout{};
    error = Error{};
    detail::Source source;
    std::vector<Entry> entries;
    if (!detail::read_source(text, options.form, source, error) ||
        !detail::parse_entries(source, !options.plain,
                               options.recfm == RecordForm::V || options.recfm == RecordForm::VB, entries, error))
        return false;
    layout.form = source.form;
    if (entries.empty()) {
        error = copybook_error(source.end, "no data description entry (a level number such as 01) in the copybook");
        return false;
    }
    return Builder(entries, options, layout, error).run();
}

}  // namespace rekmo::copybook
