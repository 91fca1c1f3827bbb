// rekmo._rekmo: the conversion core for the Python package rekmo. The
// package (python/rekmo/) is the public face; this module holds what must be
// exact or fast: reading formats, the command's file driver, and records
// decoded into column arrays on several threads with the GIL released.
// Nothing here raises rekmo's own exceptions: failures come back as a kind
// ("size_mismatch", ...) and the package raises.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <algorithm>
#include <atomic>
#include <charconv>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <limits>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "driver/driver.hpp"
#include "driver/messages.hpp"
#include "rekmo/rekmo.hpp"

namespace py = pybind11;

namespace rekmo {
namespace {

const char* result_name(Result result) noexcept {
    switch (result) {
        case Result::OK:
            return "ok";
        case Result::USAGE:
            return "usage";
        case Result::CANNOT_OPEN:
            return "cannot_open";
        case Result::SIZE_MISMATCH:
            return "size_mismatch";
        case Result::READ_ERROR:
            return "read_error";
        case Result::WRITE_ERROR:
            return "write_error";
        case Result::ITEM_SIZE:
            return "item_size";
        case Result::ITEM_TYPE:
            return "item_type";
        case Result::ITEM_POSITION:
            return "item_position";
        case Result::RECORD_LENGTH:
            return "record_length";
        case Result::HOST_CODE:
            return "host_code";
        case Result::FORMAT_SIZE:
            return "format_size";
        case Result::OPTION:
            return "option";
        case Result::OUT_OF_MEMORY:
            return "out_of_memory";
        case Result::RECORD_KIND:
            return "record_kind";
        case Result::RECORD_DESCRIPTOR:
            return "record_descriptor";
    }
    return "unknown";
}

Result result_of(const std::string& name) {
    for (int i = 0; i < 64; ++i) {  // every Result, whatever its last value
        if (name == result_name(static_cast<Result>(i))) return static_cast<Result>(i);
    }
    throw py::value_error("no such result: " + name);
}

// Digits a number item can hold. Up to 18 the printed value (at most
// 1000000000000000000 after the 17-digit rounding, 999999999999999999
// printed exactly) fits a signed 64-bit integer; longer items may not.
constexpr std::int64_t INTEGER_DIGITS = 18;

std::int64_t item_digits(const ItemDef& item) noexcept {
    if (item.length <= 0) return 0;
    return item.type == ITEM_PACKED ? 2 * std::int64_t{item.length} - 1 : item.length;
}

// The digit positions of an item printed exactly: a separate sign byte holds none.
std::int64_t exact_digits(const ItemDef& item, const ItemForm& form) noexcept {
    const bool separate = form.sign == SignForm::LEADING_SEPARATE || form.sign == SignForm::TRAILING_SEPARATE;
    return item.type == ITEM_ZONED && separate && item.length > 0 ? item.length - 1 : item_digits(item);
}

// What a column holds, from the layout alone (never from the data), so that
// every batch and partition of a layout has the same columns. Numbers
// printed exactly (EXACT, SCALE, SIGN, DIGITS) are: an integer of up to 18
// digits (INTEGER), a larger one (BIG_INTEGER: Python ints), one with
// implied places (SCALED: float64, or Decimal when asked), or a code
// (DIGITS: str). Their text may be empty: no number, a missing value.
enum class ColumnKind { TEXT, INTEGER, FLOAT, BIG_INTEGER, SCALED, DECIMAL, DIGITS };

ColumnKind column_kind(const ItemDef& item, const ItemForm& form) noexcept {
    if (item.type != ITEM_PACKED && item.type != ITEM_ZONED) return ColumnKind::TEXT;
    if (!form.exact) return item_digits(item) <= INTEGER_DIGITS ? ColumnKind::INTEGER : ColumnKind::FLOAT;
    if (form.digits) return ColumnKind::DIGITS;
    if (form.scale != 0) return ColumnKind::SCALED;
    return exact_digits(item, form) <= INTEGER_DIGITS ? ColumnKind::INTEGER : ColumnKind::BIG_INTEGER;
}

const char* kind_name(ColumnKind kind) noexcept {
    switch (kind) {
        case ColumnKind::TEXT:
            return "text";
        case ColumnKind::INTEGER:
            return "int";
        case ColumnKind::FLOAT:
            return "float";
        case ColumnKind::BIG_INTEGER:
            return "bigint";
        case ColumnKind::SCALED:
            return "scaled";
        case ColumnKind::DECIMAL:
            return "decimal";
        case ColumnKind::DIGITS:
            return "digits";
    }
    return "text";
}

// Columns of Python objects, made from the texts once the GIL is held again.
bool holds_objects(ColumnKind kind) noexcept {
    return kind == ColumnKind::TEXT || kind == ColumnKind::BIG_INTEGER || kind == ColumnKind::DECIMAL ||
           kind == ColumnKind::DIGITS;
}

// The double nearest to an exact number's text. Only a large one leaves
// the doubles' range (SCALE=name,-300 puts up to 300 zeros after the
// digits; the smallest value, 10^-300, is in range): infinite, with its sign.
double nearest_double(const char* begin, const char* end) noexcept {
    double value = 0;
    if (std::from_chars(begin, end, value).ec == std::errc::result_out_of_range) {
        value = begin != end && *begin == '-' ? -std::numeric_limits<double>::infinity()
                                              : std::numeric_limits<double>::infinity();
    }
    return value;
}

// A checked format, as the package's Layout holds it.
struct Format {
    FormatDef def;
    std::vector<Column> columns;  // the output columns, as a converter opens them
    std::vector<ItemForm> forms;  // per item, what the option lines make of it
    std::uint8_t csv = 0;         // CsvWord bits
};

py::list message_pieces(const std::vector<MessagePiece>& pieces) {
    py::list out;
    for (const MessagePiece& piece : pieces) out.append(py::make_tuple(py::bytes(piece.bytes), piece.from_template));
    return out;
}

// A buffer of bytes held for the duration of a call (any contiguous buffer:
// bytes, bytearray, memoryview, mmap, numpy arrays).
class HeldBuffer {
public:
    explicit HeldBuffer(py::handle object) {
        if (PyObject_GetBuffer(object.ptr(), &view_, PyBUF_SIMPLE) != 0) throw py::error_already_set();
    }
    ~HeldBuffer() { PyBuffer_Release(&view_); }
    HeldBuffer(const HeldBuffer&) = delete;
    HeldBuffer& operator=(const HeldBuffer&) = delete;
    std::span<const std::uint8_t> bytes() const noexcept {
        return {static_cast<const std::uint8_t*>(view_.buf), static_cast<std::size_t>(view_.len)};
    }

private:
    Py_buffer view_{};
};

// Records decoded into one array per selected column: numbers parsed from
// rekmo's own texts into int64 (with a mask of missing values) or float64
// arrays, texts gathered per column and turned into str (code page 932) or
// bytes objects, and the exact numbers that fit neither into Python ints,
// Decimals (SCALE, when a `decimal` type is given) or str (DIGITS).
class Decoder {
public:
    Decoder(const Format& format, const std::vector<std::size_t>& items, bool raw_text, unsigned threads,
            const py::bytes& cp932, py::object decimal)
        : raw_text_(raw_text), decimal_(std::move(decimal)) {
        const std::string_view table = cp932;
        if (table.size() != sizeof(cp932_)) throw py::value_error("a code page 932 table has 256 + 65536 entries");
        std::memcpy(&cp932_, table.data(), sizeof(cp932_));
        // Record kinds and V records need a frame per kind and a descriptor
        // walk: until then they are refused rather than read as F records
        // of one layout.
        if (!kind_blocks(format.def).empty() || record_format(format.def) != RecordFormat::F) {
            throw py::value_error(
                "a format with KIND= lines or RECFM=V or VB is not read into frames yet: "
                "rekmo.convert() converts such a file");
        }
        // Only the selected items stay output items: the others are not decoded.
        FormatDef selected = format.def;
        for (ItemDef& item : selected.items) item.output = 0;
        for (const std::size_t i : items) {
            if (i >= selected.items.size() || format.def.items[i].output == 0 || format.def.items[i].length == 0) {
                throw py::value_error("not an output item: " + std::to_string(i));
            }
            selected.items[i].output = 1;
        }
        // The values are the texts themselves: the quotes of CSV=QUOTE belong
        // to the CSV. (TRIM stays: a text is the same with or without them.)
        for (OptionLine& option : selected.options) {
            if (option.kind == OptionKind::CSV) option.words = static_cast<std::uint8_t>(option.words & ~CSV_QUOTE);
        }
        // Texts in Unicode: under CSV=UTF8 the core's texts are UTF-8, and
        // through a HOSTCODE page they are made UTF-8 too, so that the page's
        // own characters arrive (code page 932 would lose JEF's extended
        // kanji). text="bytes" keeps the bytes the command writes.
        const bool utf8_file = (csv_words(format.def) & CSV_UTF8) != 0;
        utf8_ = !raw_text_ && (utf8_file || format.def.host_code != HostCode::NONE);
        if (utf8_ && !utf8_file) {
            OptionLine utf8;
            utf8.kind = OptionKind::CSV;
            utf8.well_formed = true;
            utf8.words = CSV_UTF8;
            selected.options.push_back(std::move(utf8));
        }
        converters_.resize(std::max(1u, threads));
        for (Converter& converter : converters_) {
            if (converter.open(selected).result != Result::OK) throw std::bad_alloc();
        }
        for (const Column& column : converters_[0].columns()) {
            ColumnKind kind = column_kind(selected.items[column.item], format.forms[column.item]);
            if (kind == ColumnKind::SCALED && !decimal_.is_none()) kind = ColumnKind::DECIMAL;
            kinds_.push_back(kind);
        }
        record_length_ = converters_[0].record_length();
    }

    // One array per column, for every whole record of `data`; for an
    // INTEGER column a pair (int64 values, bool mask of missing values).
    py::list decode(py::handle data) {
        // The converters serve one call at a time; the GIL is released below.
        if (busy_) throw std::runtime_error("a Decoder decodes one buffer at a time");
        busy_ = true;
        struct Done {
            bool& busy;
            ~Done() { busy = false; }
        } done{busy_};
        const HeldBuffer held(data);
        const std::span<const std::uint8_t> bytes = held.bytes();
        const std::size_t records = bytes.size() / record_length_;
        const std::size_t columns = kinds_.size();

        std::vector<py::array> arrays, masks(columns);
        std::vector<Numbers> numbers(columns);
        for (std::size_t c = 0; c < columns; ++c) {
            const auto n = static_cast<py::ssize_t>(records);
            if (holds_objects(kinds_[c])) {
                arrays.push_back(py::array(py::dtype("O"), std::vector<py::ssize_t>{n}));
                continue;
            }
            if (kinds_[c] == ColumnKind::INTEGER) {
                arrays.push_back(py::array_t<std::int64_t>(n));
                masks[c] = py::array_t<bool>(n);
                numbers[c].missing = static_cast<bool*>(masks[c].mutable_data());
            } else {
                arrays.push_back(py::array_t<double>(n));
            }
            numbers[c].values = arrays.back().mutable_data();
        }

        // Whole records split evenly over the threads, at least 1024 records each.
        const std::size_t parts = std::max<std::size_t>(1, std::min(converters_.size(), records / 1024));
        std::vector<Part> work(parts);
        for (std::size_t p = 0; p < parts; ++p) {
            work[p].first = records * p / parts;
            work[p].end = records * (p + 1) / parts;
            work[p].texts.resize(columns);
        }
        {
            py::gil_scoped_release released;
            const auto started = std::chrono::steady_clock::now();
            std::vector<std::thread> helpers;
            std::size_t p = 1;
            try {
                helpers.reserve(parts - 1);
                for (; p < parts; ++p) {
                    helpers.emplace_back([&, p] { decode_part(converters_[p], bytes, work[p], numbers); });
                }
            } catch (...) {
                // The system gives fewer threads: this one decodes the parts left.
            }
            for (; p < parts; ++p) decode_part(converters_[p], bytes, work[p], numbers);
            decode_part(converters_[0], bytes, work[0], numbers);
            for (std::thread& helper : helpers) helper.join();
            core_seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        }
        for (const Part& part : work) {
            if (part.failed) throw std::bad_alloc();
        }

        for (std::size_t c = 0; c < columns; ++c) {
            if (!holds_objects(kinds_[c])) continue;
            auto** slots = static_cast<PyObject**>(arrays[c].mutable_data());
            for (const Part& part : work) {
                if (kinds_[c] == ColumnKind::TEXT) {
                    fill_texts(part.texts[c], part.end - part.first, slots + part.first);
                } else {
                    fill_numbers(kinds_[c], part.texts[c], part.end - part.first, slots + part.first);
                }
            }
        }
        py::list out;
        for (std::size_t c = 0; c < columns; ++c) {
            if (kinds_[c] == ColumnKind::INTEGER) {
                out.append(py::make_tuple(std::move(arrays[c]), std::move(masks[c])));
            } else {
                out.append(std::move(arrays[c]));
            }
        }
        return out;
    }

    double core_seconds = 0;  // wall time spent decoding with the GIL released

private:
    // One column's texts in a range of records, one after another: the bytes
    // themselves, or decoded from code page 932 as UTF-16 code units (every
    // character of the code page is in the Basic Multilingual Plane) with
    // each text's largest unit, which decides the kind of its str.
    struct ColumnTexts {
        std::vector<std::uint8_t> bytes;
        std::vector<std::uint16_t> units;
        std::vector<std::uint16_t> largest;
        std::vector<std::size_t> ends;
    };
    // Where a number column's values go: int64 or double, and for int64
    // whether each is missing.
    struct Numbers {
        void* values = nullptr;
        bool* missing = nullptr;
    };
    struct Part {
        std::size_t first = 0, end = 0;  // records
        std::vector<ColumnTexts> texts;  // per column
        bool failed = false;             // out of memory
    };

    void decode_part(Converter& converter, std::span<const std::uint8_t> bytes, Part& part,
                     const std::vector<Numbers>& numbers) noexcept {
        try {
            const std::size_t columns = kinds_.size();
            const std::size_t step = std::max<std::size_t>(1, (1u << 20) / record_length_);
            ItemTexts texts;
            for (std::size_t first = part.first; first < part.end; first += step) {
                const std::size_t count = std::min(step, part.end - first);
                texts.clear();
                if (converter.item_texts(bytes.subspan(first * record_length_, count * record_length_), texts) !=
                    Result::OK) {
                    part.failed = true;
                    return;
                }
                for (std::size_t r = 0; r < count; ++r) {
                    for (std::size_t c = 0; c < columns; ++c) {
                        const std::span<const std::uint8_t> text = texts.text(r * columns + c);
                        store(c, first + r, text, numbers[c], part);
                    }
                }
            }
        } catch (const std::bad_alloc&) {
            part.failed = true;
        }
    }

    // An empty number text is no number (an exact number whose digits are
    // not all digits): a missing value.
    void store(std::size_t c, std::size_t record, std::span<const std::uint8_t> text, const Numbers& numbers,
               Part& part) {
        const char* begin = reinterpret_cast<const char*>(text.data());
        const char* end = begin + text.size();
        switch (kinds_[c]) {
            case ColumnKind::INTEGER: {
                std::int64_t& value = static_cast<std::int64_t*>(numbers.values)[record];
                value = 0;
                std::from_chars(begin, end, value);
                numbers.missing[record] = text.empty();
                return;
            }
            case ColumnKind::FLOAT:
            case ColumnKind::SCALED:
                static_cast<double*>(numbers.values)[record] =
                    text.empty() ? std::numeric_limits<double>::quiet_NaN() : nearest_double(begin, end);
                return;
            case ColumnKind::BIG_INTEGER:
            case ColumnKind::DECIMAL:
            case ColumnKind::DIGITS: {
                ColumnTexts& column = part.texts[c];
                column.bytes.insert(column.bytes.end(), text.begin(), text.end());
                column.ends.push_back(column.bytes.size());
                return;
            }
            case ColumnKind::TEXT: {
                ColumnTexts& column = part.texts[c];
                if (raw_text_ || utf8_) {
                    column.bytes.insert(column.bytes.end(), text.begin(), text.end());
                    column.ends.push_back(column.bytes.size());
                } else {
                    column.largest.push_back(decode_cp932(text, column.units));
                    column.ends.push_back(column.units.size());
                }
                return;
            }
        }
    }

    // Python objects for `count` texts, into empty slots of an object array.
    void fill_texts(const ColumnTexts& texts, std::size_t count, PyObject** slots) const {
        std::size_t begin = 0;
        for (std::size_t i = 0; i < count; ++i) {
            const std::size_t size = texts.ends[i] - begin;
            const char* const bytes = reinterpret_cast<const char*>(texts.bytes.data()) + begin;
            PyObject* item = raw_text_ ? PyBytes_FromStringAndSize(bytes, static_cast<py::ssize_t>(size))
                             : utf8_   ? PyUnicode_DecodeUTF8(bytes, static_cast<py::ssize_t>(size), "surrogateescape")
                                       : PyUnicode_New(static_cast<py::ssize_t>(size), texts.largest[i]);
            if (item == nullptr) throw py::error_already_set();
            if (!raw_text_ && !utf8_) {
                const std::uint16_t* units = texts.units.data() + begin;
                if (PyUnicode_KIND(item) == PyUnicode_1BYTE_KIND) {
                    Py_UCS1* out = PyUnicode_1BYTE_DATA(item);
                    for (std::size_t k = 0; k < size; ++k) out[k] = static_cast<Py_UCS1>(units[k]);
                } else {
                    std::memcpy(PyUnicode_2BYTE_DATA(item), units, size * sizeof(std::uint16_t));
                }
            }
            Py_XDECREF(slots[i]);
            slots[i] = item;
            begin = texts.ends[i];
        }
    }

    // Python objects for `count` exact numbers' texts: int, Decimal or str;
    // None for an empty text.
    void fill_numbers(ColumnKind kind, const ColumnTexts& texts, std::size_t count, PyObject** slots) const {
        std::size_t begin = 0;
        std::string digits;
        for (std::size_t i = 0; i < count; ++i) {
            const char* text = reinterpret_cast<const char*>(texts.bytes.data()) + begin;
            const auto size = static_cast<py::ssize_t>(texts.ends[i] - begin);
            PyObject* item = nullptr;
            if (size == 0) {
                Py_INCREF(Py_None);
                item = Py_None;
            } else if (kind == ColumnKind::BIG_INTEGER) {
                digits.assign(text, static_cast<std::size_t>(size));  // NUL-terminated
                item = PyLong_FromString(digits.c_str(), nullptr, 10);
            } else {
                item = PyUnicode_DecodeASCII(text, size, nullptr);
                if (item != nullptr && kind == ColumnKind::DECIMAL) {
                    PyObject* value = PyObject_CallOneArg(decimal_.ptr(), item);
                    Py_DECREF(item);
                    item = value;
                }
            }
            if (item == nullptr) throw py::error_already_set();
            Py_XDECREF(slots[i]);
            slots[i] = item;
            begin = texts.ends[i];
        }
    }

    // Appends `text` decoded as the interpreter's cp932 codec with
    // "surrogateescape" decodes it, through that codec's own table: a byte that
    // is a character alone, else a lead byte that makes a character with the
    // next byte, else one undecodable byte as U+DC80-U+DCFF (the next byte is
    // then read afresh). Returns the largest unit (0 for an empty text).
    std::uint16_t decode_cp932(std::span<const std::uint8_t> text, std::vector<std::uint16_t>& units) const {
        std::uint16_t largest = 0;
        const std::size_t at = units.size();
        units.resize(at + text.size());  // at most one unit per byte
        std::uint16_t* out = units.data() + at;
        for (std::size_t i = 0; i < text.size();) {
            std::uint16_t unit = cp932_.single[text[i]];
            if (unit != CP932_LEAD) {
                ++i;
            } else if (i + 1 < text.size() && (unit = cp932_.pair[text[i] << 8 | text[i + 1]]) != CP932_NONE) {
                i += 2;
            } else {
                unit = static_cast<std::uint16_t>(0xDC00 + text[i++]);
            }
            largest = std::max(largest, unit);
            *out++ = unit;
        }
        units.resize(static_cast<std::size_t>(out - units.data()));
        return largest;
    }

    // Code page 932 as the interpreter reads it, from the package (built
    // there from the cp932 codec itself).
    static constexpr std::uint16_t CP932_LEAD = 0xFFFF;  // single: needs a second byte
    static constexpr std::uint16_t CP932_NONE = 0xFFFF;  // pair: no character
    struct Cp932 {
        std::uint16_t single[256];
        std::uint16_t pair[65536];
    } cp932_;

    bool raw_text_;
    bool utf8_ = false;                  // texts as the core's UTF-8 (CSV=UTF8, or a HOSTCODE page)
    py::object decimal_;                 // the type of SCALE items' values; None: float64
    bool busy_ = false;                  // a decode() runs (changed with the GIL held)
    std::vector<Converter> converters_;  // one per thread
    std::vector<ColumnKind> kinds_;
    std::size_t record_length_ = 0;
};

py::tuple parse(py::bytes data) {
    const std::string_view text = data;
    auto format = std::make_unique<Format>();
    FormatError error;
    {
        py::gil_scoped_release released;
        error = parse_format({reinterpret_cast<const std::uint8_t*>(text.data()), text.size()}, format->def);
    }
    if (error.result == Result::OUT_OF_MEMORY) throw std::bad_alloc();
    const py::tuple fault =
        py::make_tuple(result_name(error.result), error.item_number, error.record_length, py::bytes(error.value));
    if (error.result != Result::OK) return py::make_tuple(py::none(), fault);
    Converter converter;
    if (converter.open(format->def).result != Result::OK) throw std::bad_alloc();
    const std::span<const Column> columns = converter.columns();
    format->columns.assign(columns.begin(), columns.end());
    format->forms = item_forms(format->def);
    format->csv = csv_words(format->def);
    return py::make_tuple(py::cast(std::move(format)), fault);
}

// How often a conversion in progress lets the interpreter's signal handlers
// run (Ctrl-C, a SIGTERM handler).
constexpr std::chrono::milliseconds SIGNAL_CHECK_INTERVAL{20};

// The file driver on a thread of its own, with the GIL released, while the
// calling thread waits for it and every SIGNAL_CHECK_INTERVAL takes the GIL
// just long enough to run the signal handlers (only the main thread can).
// When one raises, the driver is stopped before its next block, and the
// exception is raised once it has closed WinFile.
py::tuple convert(const std::string& host, const std::string& win, const Format& format, const std::string& format_path,
                  unsigned threads) {
    FileConversion done;
    bool interrupted = false;
    {
        py::gil_scoped_release released;
        std::atomic<bool> stop{false};
        std::mutex mutex;
        std::condition_variable finished_changed;
        bool finished = false;
        std::thread driver;
        try {
            driver = std::thread([&] {
                FileConversion result = convert_file(host, win, format.def, format_path, threads, &stop);
                const std::lock_guard<std::mutex> hold(mutex);
                done = std::move(result);
                finished = true;
                finished_changed.notify_one();
            });
        } catch (const std::system_error&) {
            // No thread to be had: convert here, without interruptions.
            done = convert_file(host, win, format.def, format_path, threads);
            finished = true;
        }
        std::unique_lock<std::mutex> lock(mutex);
        while (!finished_changed.wait_for(lock, SIGNAL_CHECK_INTERVAL, [&] { return finished; })) {
            if (interrupted) continue;
            lock.unlock();
            {
                py::gil_scoped_acquire held;
                interrupted = PyErr_CheckSignals() != 0;  // the handler's exception stays set
            }
            stop.store(interrupted, std::memory_order_relaxed);
            lock.lock();
        }
        lock.unlock();
        if (driver.joinable()) driver.join();
    }
    if (interrupted) throw py::error_already_set();
    return py::make_tuple(result_name(done.result), py::bytes(done.path));
}

}  // namespace
}  // namespace rekmo

PYBIND11_MODULE(_rekmo, m) {
    using namespace rekmo;
    m.doc() = "Rekmo's conversion core for the rekmo package.";
    m.attr("MAX_FORMAT_FILE_SIZE") = MAX_FORMAT_FILE_SIZE;

    py::class_<Format>(m, "Format")
        .def_property_readonly("record_length", [](const Format& f) { return f.def.record_length; })
        .def_property_readonly("host_code",
                               [](const Format& f) -> py::object {
                                   switch (f.def.host_code) {
                                       case HostCode::JEF:
                                           return py::str("JEF");
                                       case HostCode::KEIS78:
                                           return py::str("KEIS78");
                                       case HostCode::KEIS83:
                                           return py::str("KEIS83");
                                       case HostCode::NONE:
                                           break;
                                   }
                                   return py::none();
                               })
        .def_property_readonly("items",
                               [](const Format& f) {
                                   py::list items;
                                   for (const ItemDef& item : f.def.items) {
                                       items.append(py::make_tuple(py::bytes(item.name), item.start + 1, item.length,
                                                                   static_cast<int>(item.type), item.output));
                                   }
                                   return items;
                               })
        .def_property_readonly("csv",
                               [](const Format& f) {
                                   py::list words;
                                   for (const auto& [bit, word] : {std::pair{CSV_QUOTE, "QUOTE"},
                                                                   {CSV_HEADER, "HEADER"},
                                                                   {CSV_EXACT, "EXACT"},
                                                                   {CSV_TRIM, "TRIM"}}) {
                                       if ((f.csv & bit) != 0) words.append(word);
                                   }
                                   return words;
                               })
        .def_property_readonly("forms",
                               [](const Format& f) {
                                   // per item (exact, digits, scale, sign form or None)
                                   py::list forms;
                                   for (const ItemForm& form : f.forms) {
                                       const char* sign = form.sign == SignForm::LEADING            ? "LEADING"
                                                          : form.sign == SignForm::LEADING_SEPARATE ? "LEADING SEPARATE"
                                                          : form.sign == SignForm::TRAILING_SEPARATE
                                                              ? "TRAILING SEPARATE"
                                                              : nullptr;
                                       forms.append(py::make_tuple(form.exact, form.digits, form.scale,
                                                                   sign ? py::object(py::str(sign)) : py::none()));
                                   }
                                   return forms;
                               })
        .def_property_readonly("columns", [](const Format& f) {
            // (item index, kind) per output column: "text", "int", "float",
            // "bigint", "scaled" or "digits"
            py::list columns;
            for (const Column& column : f.columns) {
                columns.append(py::make_tuple(column.item,
                                              kind_name(column_kind(f.def.items[column.item], f.forms[column.item]))));
            }
            return columns;
        });

    m.def("parse", &parse, py::arg("data"),
          "Reads format-file bytes: (Format, fault) where fault is (kind, item number, record length, "
          "HOSTCODE value); "
          "Format is None when the format is refused.");

    m.def(
        "format_error_message",
        [](const std::string& kind, std::int64_t item_number, std::int32_t record_length, const std::string& value,
           const std::string& path) {
            return message_pieces(
                format_error_message(FormatError{result_of(kind), item_number, record_length, value}, path));
        },
        "rekmo's message for a refused format, as (bytes, from_template) pieces.");
    m.def(
        "message",
        [](const std::string& kind, const std::string& path, std::int32_t number) {
            return message_pieces(format_message(result_of(kind), {path, number}));
        },
        "rekmo's message for a failed conversion, as (bytes, from_template) pieces.");

    m.def("convert_file", &convert, py::arg("host"), py::arg("win"), py::arg("format"), py::arg("format_path"),
          py::arg("threads"), "The rekmo command's conversion: (kind, path of the file a failure names).");

    py::class_<Decoder>(m, "Decoder")
        .def(py::init<const Format&, const std::vector<std::size_t>&, bool, unsigned, const py::bytes&, py::object>(),
             py::arg("format"), py::arg("items"), py::arg("raw_text"), py::arg("threads"), py::arg("cp932"),
             py::arg("decimal") = py::none())
        .def("decode", &Decoder::decode, py::arg("data"),
             "One array per selected column for every whole record of a buffer.")
        .def_readonly("core_seconds", &Decoder::core_seconds);
}
