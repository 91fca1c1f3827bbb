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
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "driver/driver.hpp"
#include "driver/messages.hpp"
#include "platform/platform.hpp"
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
    // Under KIND lines: each line's test, whether item lines come before
    // the first (they convert the records of no kind), and each layout's
    // output columns, as Converter numbers the layouts (the KIND lines',
    // then those items'; without KIND lines the one layout is `columns`).
    struct Kind {
        KindTest test;
        std::size_t first_item = 0, end_item = 0;  // its item lines
    };
    std::vector<Kind> kinds;
    bool default_layout = true;
    std::vector<std::vector<Column>> layouts;
};

py::list message_pieces(const std::vector<MessagePiece>& pieces) {
    py::list out;
    for (const MessagePiece& piece : pieces) out.append(py::make_tuple(py::bytes(piece.bytes), piece.from_template));
    return out;
}

// While it lives, the interpreter's small-object arenas (where str and bytes
// objects of up to 512 bytes go, 1 MiB at a time) come with their pages
// mapped in one call each, instead of one fault per page as objects fill
// them: a column of millions of new texts fills hundreds of arenas. Where the
// system has large pages and the allocator is the interpreter's own (which
// maps each arena and frees it by unmapping its pages), arenas are cut from
// large pages instead: one fault per large page, and fewer misses of the
// address cache. An arena cut so is unmapped by the interpreter like any
// other; the part of a large page not yet handed out is given back when the
// wrapper comes off.
// The interpreter's allocator is wrapped, not replaced: it still makes every
// other arena and frees every arena, so an arena made under the wrapper may
// be freed without it. There is one allocator per process: the one wrapped
// is the one found the first time, kept in a static (changed only with the
// GIL held), and the wrapper goes on only over that one. Code that runs
// while objects are made (a finalizer, a thread switch) may find the wrapper
// on, or put its own over it: the wrapper is taken off only while it is on
// top.
class MappedArenas {
public:
    MappedArenas() {
        PyObjectArenaAllocator current{};
        PyObject_GetArenaAllocator(&current);
        if (current.alloc == alloc) return;  // on already, for an outer call or another thread
        Wrapped& wrapped = wrapped_allocator();
        if (!wrapped.found) {
            wrapped.allocator = current;
            wrapped.found = true;
            const auto own = reinterpret_cast<const void*>(&PyObject_GetArenaAllocator);
            wrapped.cut = current.ctx == nullptr && platform::large_page_size() != 0 &&
                          platform::same_module(reinterpret_cast<const void*>(current.alloc), own) &&
                          platform::same_module(reinterpret_cast<const void*>(current.free), own);
        } else if (current.ctx != wrapped.allocator.ctx || current.alloc != wrapped.allocator.alloc ||
                   current.free != wrapped.allocator.free) {
            return;  // another allocator has come: left alone
        }
        PyObjectArenaAllocator mine{nullptr, alloc, free};
        PyObject_SetArenaAllocator(&mine);
        on_ = true;
    }
    ~MappedArenas() {
        PyObjectArenaAllocator current{};
        PyObject_GetArenaAllocator(&current);
        if (!on_ || current.alloc != alloc) return;
        Wrapped& wrapped = wrapped_allocator();
        PyObject_SetArenaAllocator(&wrapped.allocator);
        platform::release_pages(wrapped.spare, wrapped.spare_bytes);
        wrapped.spare = nullptr;
        wrapped.spare_bytes = 0;
    }
    MappedArenas(const MappedArenas&) = delete;
    MappedArenas& operator=(const MappedArenas&) = delete;

private:
    struct Wrapped {
        PyObjectArenaAllocator allocator{};
        bool found = false;
        bool cut = false;               // arenas may be cut from large pages
        std::uint8_t* spare = nullptr;  // the rest of the last large page mapped
        std::size_t spare_bytes = 0;
    };
    static Wrapped& wrapped_allocator() {
        static Wrapped wrapped;
        return wrapped;
    }
    static void* alloc(void*, std::size_t size) {
        Wrapped& wrapped = wrapped_allocator();
        // Arenas that a large page holds a whole number of (a power of two,
        // then, and whole small pages when of 64 KiB at least).
        const std::size_t large = wrapped.cut ? platform::large_page_size() : 0;
        if (large != 0 && size >= (std::size_t{64} << 10) && large % size == 0) {
            if (wrapped.spare_bytes == 0) {
                wrapped.spare = static_cast<std::uint8_t*>(platform::map_large_pages(large));
                wrapped.spare_bytes = wrapped.spare != nullptr ? large : 0;
            }
            if (wrapped.spare_bytes != 0) {
                void* arena = wrapped.spare;
                wrapped.spare += size;
                wrapped.spare_bytes -= size;
                return arena;
            }
        }
        void* arena = wrapped.allocator.alloc(wrapped.allocator.ctx, size);
        if (arena != nullptr) platform::map_for_writing(arena, size);
        return arena;
    }
    static void free(void*, void* arena, std::size_t size) {
        const PyObjectArenaAllocator& wrapped = wrapped_allocator().allocator;
        wrapped.free(wrapped.ctx, arena, size);
    }
    bool on_ = false;
};

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

// The chunks of one decode() call between the threads that decode them and
// the thread that makes their objects, in order: a chunk is taken once the
// chunk `ahead` places before it has its objects (its buffers are then
// free for it).
class Pipeline {
public:
    Pipeline(std::size_t chunks, std::size_t ahead) : done_(chunks, 0), chunks_(chunks), ahead_(ahead) {}

    // The next chunk to decode, or false when none is left or the call stops.
    bool take(std::size_t& i) {
        std::unique_lock<std::mutex> lock(mutex_);
        room_.wait(lock, [&] { return stopped_ || next_ >= chunks_ || next_ < filled_ + ahead_; });
        if (stopped_ || next_ >= chunks_) return false;
        i = next_++;
        return true;
    }
    void done(std::size_t i, bool failed) {
        {
            const std::lock_guard<std::mutex> hold(mutex_);
            done_[i] = 1;
            failed_ = failed_ || failed;
        }
        changed_.notify_all();
    }
    bool ready(std::size_t i) {
        const std::lock_guard<std::mutex> hold(mutex_);
        return done_[i] != 0;
    }
    void wait(std::size_t i) {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [&] { return done_[i] != 0; });
    }
    bool failed() {
        const std::lock_guard<std::mutex> hold(mutex_);
        return failed_;
    }
    // Chunk i has its objects.
    void filled(std::size_t i) {
        {
            const std::lock_guard<std::mutex> hold(mutex_);
            filled_ = i + 1;
        }
        room_.notify_all();
    }
    void stop() {
        {
            const std::lock_guard<std::mutex> hold(mutex_);
            stopped_ = true;
        }
        room_.notify_all();
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_, room_;
    std::vector<char> done_;
    std::size_t chunks_, ahead_, next_ = 0, filled_ = 0;
    bool stopped_ = false, failed_ = false;
};

// Records decoded into one array per selected column: numbers parsed from
// rekmo's own texts into int64 (with a mask of missing values) or float64
// arrays, texts gathered per column and turned into str (code page 932) or
// bytes objects, and the exact numbers that fit neither into Python ints,
// Decimals (SCALE, when a `decimal` type is given) or str (DIGITS).
//
// decode() reads F records of one layout, a block of whole records split
// evenly over the threads. decode_records() reads any format: F records
// under KIND lines, and V and VB files through the walk over their
// descriptor words, each record by the layout of its kind, one set of
// arrays per layout (layout k is the k-th KIND line, the last one the item
// lines before the first KIND line, as Converter numbers them).
class Decoder {
public:
    Decoder(const Format& format, const std::vector<std::size_t>& items, bool raw_text, unsigned threads,
            const py::bytes& cp932, py::object decimal)
        : raw_text_(raw_text), decimal_(std::move(decimal)) {
        const std::string_view table = cp932;
        if (table.size() != sizeof(cp932_)) throw py::value_error("a code page 932 table has 256 + 65536 entries");
        std::memcpy(&cp932_, table.data(), sizeof(cp932_));
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
        // kanji), and so are the texts under GAIJI lines (a site's characters
        // code page 932 lacks). text="bytes" keeps the bytes the command writes.
        const bool utf8_file = (csv_words(format.def) & CSV_UTF8) != 0;
        const bool gaiji = std::any_of(format.def.options.begin(), format.def.options.end(),
                                       [](const OptionLine& option) { return option.kind == OptionKind::GAIJI; });
        utf8_ = !raw_text_ && (utf8_file || gaiji || format.def.host_code != HostCode::NONE);
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
        kinds_.resize(converters_[0].kinds() + 1);
        for (std::size_t layout = 0; layout < kinds_.size(); ++layout) {
            for (const Column& column : converters_[0].kind_columns(layout)) {
                ColumnKind kind = column_kind(selected.items[column.item], format.forms[column.item]);
                if (kind == ColumnKind::SCALED && !decimal_.is_none()) kind = ColumnKind::DECIMAL;
                kinds_[layout].push_back(kind);
            }
        }
        repeats_ = std::make_unique<std::atomic<bool>[]>(kinds_[0].size());
        for (std::size_t c = 0; c < kinds_[0].size(); ++c) repeats_[c].store(true, std::memory_order_relaxed);
        record_length_ = converters_[0].record_length();
        record_format_ = record_format(format.def);
        record_limit_ = static_cast<std::size_t>(record_limit(format.def));
        if (kinds_.size() == 1 && record_format_ == RecordFormat::F) plan_plain(selected, format.forms);
        ascii_same_ = true;
        for (unsigned b = 0; b < 0x80; ++b) ascii_same_ = ascii_same_ && cp932_.single[b] == b;
        start(0, 0);
    }

    // The arrays decode() fills for `records` records, to be given back to
    // it with the slot of each block's first record.
    py::list allocate(std::size_t records) const {
        if (kinds_.size() != 1) throw py::value_error("allocate() is for F records of one layout");
        Arrays arrays = make_arrays(kinds_[0], records);
        return arrays.list(kinds_[0]);
    }

    // One array per column, for every whole record of `data` (F records of
    // one layout); for an INTEGER column a pair (int64 values, bool mask of
    // missing values). With `out` (from allocate()) the records fill its
    // arrays from slot `at` on, and `out` is returned: a file read in blocks
    // goes straight into the frame's arrays. Each slot is filled once: a mask
    // is only ever set, over the clear one allocate() made.
    py::list decode(py::handle data, py::object out, std::size_t at) {
        // The converters serve one call at a time; the GIL is released below.
        check_plain("decode()");
        const Busy busy(busy_);
        const HeldBuffer held(data);
        const std::span<const std::uint8_t> bytes = held.bytes();
        const std::size_t records = bytes.size() / record_length_;
        const std::vector<ColumnKind>& kinds = kinds_[0];
        Arrays arrays;
        if (out.is_none()) {
            arrays = make_arrays(kinds, records);
            at = 0;
        } else {
            arrays = given_arrays(kinds, out.cast<py::list>(), at + records);
        }
        run_chunks(records, arrays, at, [&](std::size_t, const Part& part) {
            return bytes.subspan(part.first * record_length_, (part.end - part.first) * record_length_);
        });
        if (!out.is_none()) return out.cast<py::list>();
        return arrays.list(kinds);
    }

    // Records [first, first + records) of the file at `path`, which must be
    // the one of `identity` (device, index) the caller has open, read on the
    // decoding threads a chunk at a time into the arrays of allocate() from
    // slot 0: no block of the file is held, and no thread waits for a read
    // of the calling thread. Returns None, or the failure's kind
    // ("cannot_open", "read_error": the file ended early or could not be
    // read, or is another file now).
    py::object read_file(const std::string& path, std::pair<std::uint64_t, std::uint64_t> identity, std::uint64_t first,
                         std::size_t records, const py::list& out) {
        check_plain("read_file()");
        const Busy busy(busy_);
        Arrays arrays = given_arrays(kinds_[0], out, records);
        platform::File file;
        platform::FileInfo info;
        Result opened = Result::OK;
        {
            py::gil_scoped_release released;
            opened = file.open_input(path);
            if (opened == Result::OK && (file.info(info) != Result::OK || info.identity.device != identity.first ||
                                         info.identity.index != identity.second)) {
                opened = Result::READ_ERROR;
            }
        }
        if (opened != Result::OK) return py::str(result_name(opened));
        reads_.resize(converters_.size());
        std::atomic<bool> unread{false};
        run_chunks(records, arrays, 0, [&](std::size_t w, const Part& part) {
            std::vector<std::uint8_t>& buffer = reads_[w];
            buffer.resize((part.end - part.first) * record_length_);
            const ReadResult got = file.read_at((first + part.first) * record_length_, buffer);
            if (got.result != Result::OK || got.count != buffer.size()) {
                unread.store(true, std::memory_order_relaxed);
                return std::span<const std::uint8_t>();
            }
            return std::span<const std::uint8_t>(buffer);
        });
        if (unread.load()) return py::str("read_error");
        return py::none();
    }

    // Where decode_records() begins: at record `number` (from 0), which
    // starts at byte `offset` of the file, a record boundary (VB: a block's).
    // The numbers and offsets it gives are the file's.
    void start(std::uint64_t number, std::uint64_t offset) {
        next_number_ = base_number_ = number;
        base_offset_ = offset;
        walk_.reset();
        if (record_format_ != RecordFormat::F) walk_.emplace(record_format_, record_limit_);
    }

    // The records of `data`, from where the last call stopped: `skip` of
    // them passed without decoding, then at most `limit` decoded, each by
    // the layout of its kind. F: the whole records of `data`. V, VB: as far
    // as the walk over the descriptors gets; the bytes from `used` on are
    // to be given again with the next ones. `end`: no bytes follow `data`.
    // Returns (used, skipped, ended, fault, runs, layouts):
    //   ended  the file ended after a whole record (and block);
    //   fault  None, or (kind, record number from 1, byte offset in the
    //          file) where the command stops: a wrong descriptor
    //          ("record_descriptor"), or a record of no kind ("record_kind",
    //          offset 0); the records before it are decoded;
    //   runs   (layouts, counts): the records decoded in order, consecutive
    //          records of one layout as one run;
    //   layouts  per layout, (record numbers from 0, column arrays as
    //          decode() gives them) of its records.
    py::tuple decode_records(py::handle data, bool end, std::uint64_t skip, std::uint64_t limit) {
        const Busy busy(busy_);
        const HeldBuffer held(data);
        const std::span<const std::uint8_t> bytes = held.bytes();
        std::vector<Taken> taken;
        Walked walked;
        {
            py::gil_scoped_release released;
            walked = walk(bytes, end, skip, limit, taken);
        }

        const std::size_t layouts = kinds_.size();
        std::vector<std::size_t> counts(layouts);
        std::vector<std::uint32_t> run_layouts;
        std::vector<std::int64_t> run_counts;
        for (const Taken& record : taken) {
            ++counts[record.layout];
            if (run_layouts.empty() || run_layouts.back() != record.layout) {
                run_layouts.push_back(record.layout);
                run_counts.push_back(0);
            }
            ++run_counts.back();
        }
        std::vector<Arrays> arrays;
        std::vector<py::array_t<std::int64_t>> numbers;
        for (std::size_t k = 0; k < layouts; ++k) {
            arrays.push_back(make_arrays(kinds_[k], counts[k]));
            numbers.emplace_back(static_cast<py::ssize_t>(counts[k]));
        }

        // Records split evenly over the threads; each part knows where its
        // records of each layout go.
        std::vector<Part> work(part_count(taken.size()));
        std::vector<std::size_t> slots(layouts, 0);
        std::size_t at = 0;
        for (std::size_t p = 0; p < work.size(); ++p) {
            Part& part = work[p];
            part.first = taken.size() * p / work.size();
            part.end = taken.size() * (p + 1) / work.size();
            part.slots = slots;
            for (; at < part.end; ++at) ++slots[taken[at].layout];
            part.counts.resize(layouts);
            for (std::size_t k = 0; k < layouts; ++k) part.counts[k] = slots[k] - part.slots[k];
            for (std::size_t k = 0; k < layouts; ++k) part.texts.emplace_back(kinds_[k].size());
        }
        std::vector<Target> targets(layouts);
        for (std::size_t k = 0; k < layouts; ++k) {
            targets[k].numbers = numbers[k].mutable_data();
            targets[k].columns = &arrays[k].numbers;
        }
        run_parts(work,
                  [&](std::size_t p, Part& part) { decode_taken(converters_[p], taken, walked.first, part, targets); });

        py::list out;
        for (std::size_t k = 0; k < layouts; ++k) {
            fill_objects(kinds_[k], work, k, arrays[k]);
            out.append(py::make_tuple(std::move(numbers[k]), arrays[k].list(kinds_[k])));
        }
        py::object fault = py::none();
        if (walked.fault != Result::OK)
            fault = py::make_tuple(result_name(walked.fault), walked.at.record, walked.at.offset);
        py::array_t<std::uint32_t> run_layout_array(static_cast<py::ssize_t>(run_layouts.size()));
        py::array_t<std::int64_t> run_count_array(static_cast<py::ssize_t>(run_counts.size()));
        std::copy(run_layouts.begin(), run_layouts.end(), run_layout_array.mutable_data());
        std::copy(run_counts.begin(), run_counts.end(), run_count_array.mutable_data());
        return py::make_tuple(walked.used, walked.skipped, walked.ended, fault,
                              py::make_tuple(std::move(run_layout_array), std::move(run_count_array)), out);
    }

    double core_seconds = 0;  // wall time spent decoding with the GIL released

private:
    static constexpr std::size_t TEXT_BYTES = 256;  // longer texts are neither cached nor looked for again

    struct Busy {
        bool& busy;
        explicit Busy(bool& flag) : busy(flag) {
            if (busy) throw std::runtime_error("a Decoder decodes one buffer at a time");
            busy = true;
        }
        ~Busy() { busy = false; }
        Busy(const Busy&) = delete;
        Busy& operator=(const Busy&) = delete;
    };

    // Texts are decoded here, from code page 932, to UTF-16 units: not when
    // they are kept as bytes, nor when the core gives them as UTF-8.
    bool units() const noexcept { return !raw_text_ && !utf8_; }

    // Whether every byte of `text` is below 80, eight at a time.
    static bool ascii(std::span<const std::uint8_t> text) noexcept {
        std::uint64_t any = 0;
        std::size_t i = 0;
        for (; i + 8 <= text.size(); i += 8) {
            std::uint64_t word;
            std::memcpy(&word, text.data() + i, 8);
            any |= word;
        }
        for (; i < text.size(); ++i) any |= text[i];
        return (any & 0x8080808080808080u) == 0;
    }

    // Whether n bytes at a and b are equal: words of eight, the last ending
    // with the texts, rather than a call for the few bytes of a column's text.
    static bool same_bytes(const std::uint8_t* a, const std::uint8_t* b, std::size_t n) noexcept {
        const auto equal8 = [&](std::size_t at) {
            std::uint64_t x, y;
            std::memcpy(&x, a + at, 8);
            std::memcpy(&y, b + at, 8);
            return x == y;
        };
        const auto equal4 = [&](std::size_t at) {
            std::uint32_t x, y;
            std::memcpy(&x, a + at, 4);
            std::memcpy(&y, b + at, 4);
            return x == y;
        };
        if (n >= 8) {
            for (std::size_t i = 0; i + 8 < n; i += 8) {
                if (!equal8(i)) return false;
            }
            return equal8(n - 8);
        }
        if (n >= 4) return equal4(0) && equal4(n - 4);
        for (std::size_t i = 0; i < n; ++i) {
            if (a[i] != b[i]) return false;
        }
        return true;
    }

    // One column's texts in a range of records, one after another: the bytes
    // themselves, and in code page 932 also decoded as UTF-16 code units
    // (every character of the code page is in the Basic Multilingual Plane)
    // with each text's largest unit, which decides the kind of its str.
    // A column of repeated values (`repeats`) keeps each distinct text of
    // the range once, and per record which one it is: the thread making the
    // objects then looks up each distinct text once, not each record's.
    struct ColumnTexts {
        std::vector<std::uint8_t> bytes;
        std::vector<std::size_t> ends;
        std::vector<std::uint64_t> hashes;  // per text short enough to be cached, made on the threads
        std::vector<std::uint16_t> units;
        std::vector<std::size_t> unit_ends;
        std::vector<std::uint16_t> largest;
        std::vector<std::uint32_t> index;  // under `repeats`: per record, its distinct text
        // Under `repeats`, open addressing: a distinct text + 1 (0: empty) in
        // the low half, its hash's high half in the high one.
        std::vector<std::uint64_t> seen;
        std::size_t seen_count = 0;
        bool repeats = false;

        void clear() noexcept {
            bytes.clear();
            ends.clear();
            hashes.clear();
            units.clear();
            unit_ends.clear();
            largest.clear();
            index.clear();
            std::fill(seen.begin(), seen.end(), 0u);
            seen_count = 0;
        }
        std::span<const std::uint8_t> text(std::size_t d) const noexcept {
            const std::size_t begin = d == 0 ? 0 : ends[d - 1];
            return {bytes.data() + begin, ends[d] - begin};
        }
        // The distinct text equal to `text`, or NONE.
        static constexpr std::uint32_t NONE = 0xFFFFFFFF;
        std::uint32_t find(std::span<const std::uint8_t> text, std::uint64_t hash) const noexcept {
            if (seen.empty()) return NONE;
            const std::size_t mask = seen.size() - 1;
            const std::uint64_t tag = hash & ~std::uint64_t{0xFFFFFFFF};
            for (std::size_t at = hash & mask; seen[at] != 0; at = (at + 1) & mask) {
                if ((seen[at] & ~std::uint64_t{0xFFFFFFFF}) != tag) continue;
                const auto d = static_cast<std::uint32_t>(seen[at] - 1);
                const std::span<const std::uint8_t> other = this->text(d);
                if (other.size() == text.size() && same_bytes(other.data(), text.data(), text.size())) return d;
            }
            return NONE;
        }
        // Distinct text d, of hash `hash`, is found from now on. The table
        // stays at most half full; it grows from 256 slots, and keeps its
        // size from range to range.
        void remember(std::uint32_t d, std::uint64_t hash) {
            if (2 * (seen_count + 1) > seen.size()) {
                seen.assign(std::max<std::size_t>(256, 2 * seen.size()), 0u);
                seen_count = 0;
                for (std::uint32_t other = 0; other < d; ++other) {
                    if (text(other).size() <= TEXT_BYTES) place(other, hashes[other]);
                }
            }
            place(d, hash);
        }
        void place(std::uint32_t d, std::uint64_t hash) noexcept {
            const std::size_t mask = seen.size() - 1;
            std::size_t at = hash & mask;
            while (seen[at] != 0) at = (at + 1) & mask;
            seen[at] = (hash & ~std::uint64_t{0xFFFFFFFF}) | (d + 1);
            ++seen_count;
        }
    };
    // A text's object in fill_texts()'s cache, with where the bytes it was
    // made from lie in the cache's store.
    struct CachedText {
        PyObject* object = nullptr;  // a reference of the cache's own
        std::uint32_t at = 0;
        std::uint16_t length = 0;  // at most TEXT_BYTES
        std::uint16_t tag = 0;     // the hash's top bits: most texts that differ differ here
    };
    // Open addressing: a text is looked for in PROBES slots from its hash's
    // own, and takes the first empty one; when all are taken, it replaces one
    // of them chosen by its hash. A value stays as long as its slots are not
    // wanted by others, so a column of a few thousand values keeps them all.
    // The texts' bytes lie one after another in `store`, which is rebuilt
    // from the entries' own when it has grown to twice their size (and at
    // least STORE_LEAST bytes): a column of short texts keeps a small store.
    struct TextCache {
        static constexpr std::size_t PROBES = 8;
        static constexpr std::size_t BYTES = TEXT_BYTES;
        static constexpr std::size_t STORE_LEAST = 64u << 10;
        std::vector<CachedText> entries;
        std::vector<std::uint8_t> store;
        std::size_t held = 0;  // bytes of the entries' own texts in `store`
        std::size_t looked = 0, hits = 0;
        bool on = true;

        void clear() noexcept {
            for (CachedText& entry : entries) Py_XDECREF(entry.object);
            entries = {};
            store = {};
            held = 0;
            on = false;
        }
        // The entry holding `length` bytes at `data`, or the one for them to take.
        CachedText& find(const std::uint8_t* data, std::size_t length, std::uint64_t hash, bool& found) noexcept {
            const std::size_t mask = entries.size() - 1;
            const auto tag = static_cast<std::uint16_t>(hash >> 48);
            const auto home = static_cast<std::size_t>(hash);
            for (std::size_t p = 0; p < PROBES; ++p) {
                CachedText& entry = entries[(home + p) & mask];
                if (entry.object == nullptr) {  // slots fill in order and never empty again
                    found = false;
                    return entry;
                }
                if (entry.tag == tag && entry.length == length && same_bytes(store.data() + entry.at, data, length)) {
                    found = true;
                    return entry;
                }
            }
            found = false;
            return entries[(home + tag % PROBES) & mask];
        }
        // The entries of the texts ahead, then their objects, are fetched
        // into the cache while the texts before them are looked up: a column
        // of thousands of values, and its table, do not fit in the nearest
        // caches, and each lookup would wait for memory twice.
        void prefetch(const std::vector<std::uint64_t>& hashes, std::size_t i, std::size_t count) const noexcept {
            constexpr std::size_t ENTRY_AHEAD = 16, OBJECT_AHEAD = 8;
            const std::size_t mask = entries.size() - 1;
            if (i + ENTRY_AHEAD < count) __builtin_prefetch(&entries[hashes[i + ENTRY_AHEAD] & mask]);
            if (i + OBJECT_AHEAD < count) {
                const PyObject* object = entries[hashes[i + OBJECT_AHEAD] & mask].object;
                if (object != nullptr) __builtin_prefetch(object, 1);
            }
        }
        // `entry` now holds `object`, made from `length` bytes at `data`.
        void keep(CachedText& entry, PyObject* object, const std::uint8_t* data, std::size_t length,
                  std::uint64_t hash) {
            held -= entry.length;  // the text it held goes
            entry.length = 0;
            if (store.size() + length > std::max(STORE_LEAST, 2 * (held + length))) {
                std::vector<std::uint8_t> kept;
                kept.reserve(2 * (held + length));
                for (CachedText& other : entries) {
                    const auto at = static_cast<std::uint32_t>(kept.size());
                    kept.insert(kept.end(), store.begin() + other.at, store.begin() + other.at + other.length);
                    other.at = at;
                }
                store = std::move(kept);
            }
            Py_INCREF(object);
            Py_XDECREF(entry.object);
            entry.object = object;
            entry.at = static_cast<std::uint32_t>(store.size());
            entry.length = static_cast<std::uint16_t>(length);
            entry.tag = static_cast<std::uint16_t>(hash >> 48);
            store.insert(store.end(), data, data + length);
            held += length;
        }
        TextCache() = default;
        TextCache(TextCache&& other) noexcept
            : entries(std::move(other.entries)),
              store(std::move(other.store)),
              held(other.held),
              looked(other.looked),
              hits(other.hits),
              on(other.on) {}
        TextCache(const TextCache&) = delete;
        TextCache& operator=(const TextCache&) = delete;
        ~TextCache() {
            for (CachedText& entry : entries) Py_XDECREF(entry.object);  // the GIL is held: the decoder goes
        }
    };
    // Where a number column's values go: int64 or double, and for int64
    // whether each is missing.
    struct Numbers {
        void* values = nullptr;
        bool* missing = nullptr;
        PyObject** objects = nullptr;  // an object column's slots
    };
    // The arrays of one layout's columns.
    struct Arrays {
        std::vector<py::array> values, masks;
        std::vector<Numbers> numbers;

        py::list list(const std::vector<ColumnKind>& kinds) {
            py::list out;
            for (std::size_t c = 0; c < kinds.size(); ++c) {
                if (kinds[c] == ColumnKind::INTEGER) {
                    out.append(py::make_tuple(std::move(values[c]), std::move(masks[c])));
                } else {
                    out.append(std::move(values[c]));
                }
            }
            return out;
        }
    };
    // A range of records decoded on one thread: per layout, the first slot
    // of its arrays its records take, how many they are, and the texts of
    // its object columns.
    struct Part {
        std::size_t first = 0, end = 0;  // records (decode_records: of those taken)
        std::vector<std::size_t> slots, counts;
        std::vector<std::vector<ColumnTexts>> texts;  // per layout, per column
        bool failed = false;                          // out of memory
        bool unread = false;                          // its records could not be read
    };
    // Where decode_records() puts one layout's records.
    struct Target {
        std::int64_t* numbers = nullptr;
        std::vector<Numbers>* columns = nullptr;
    };
    // A record decode_records() takes: its bytes (F: the record; V, VB: its
    // data after the RDW) and its layout.
    struct Taken {
        const std::uint8_t* data;
        std::uint32_t size;  // at most a record's 16 MiB
        std::uint32_t layout;
    };
    struct Walked {
        std::size_t used = 0;
        std::uint64_t skipped = 0;
        std::uint64_t first = 0;  // the number of the first record taken, from 0
        bool ended = false;
        Result fault = Result::OK;
        RecordFault at;
    };

    Arrays make_arrays(const std::vector<ColumnKind>& kinds, std::size_t records) const {
        Arrays arrays;
        arrays.masks.resize(kinds.size());
        arrays.numbers.resize(kinds.size());
        const auto n = static_cast<py::ssize_t>(records);
        for (std::size_t c = 0; c < kinds.size(); ++c) {
            if (holds_objects(kinds[c])) {
                arrays.values.push_back(py::array(py::dtype("O"), std::vector<py::ssize_t>{n}));
                arrays.numbers[c].objects = static_cast<PyObject**>(arrays.values.back().mutable_data());
                continue;
            }
            if (kinds[c] == ColumnKind::INTEGER) {
                arrays.values.push_back(py::array_t<std::int64_t>(n));
                // Zeroed pages, mapped only where a value is missing.
                arrays.masks[c] = py::module_::import("numpy").attr("zeros")(n, "bool").cast<py::array>();
                arrays.numbers[c].missing = static_cast<bool*>(arrays.masks[c].mutable_data());
            } else {
                arrays.values.push_back(py::array_t<double>(n));
            }
            arrays.numbers[c].values = arrays.values.back().mutable_data();
        }
        // NumPy asks for large pages for its arrays of numbers, not for those
        // of objects (zeroed when made) nor for arrays under 4 MiB.
        for (std::size_t c = 0; c < kinds.size(); ++c) {
            for (py::array* array : {&arrays.values[c], &arrays.masks[c]}) {
                if (array->ptr() != nullptr)
                    platform::prefer_large_pages(array->mutable_data(), static_cast<std::size_t>(array->nbytes()));
            }
        }
        return arrays;
    }

    // The arrays of allocate(), checked: each holds `records` slots at least.
    Arrays given_arrays(const std::vector<ColumnKind>& kinds, const py::list& out, std::size_t records) const {
        if (out.size() != kinds.size()) throw py::value_error("not the arrays of allocate()");
        Arrays arrays;
        arrays.masks.resize(kinds.size());
        arrays.numbers.resize(kinds.size());
        const auto fits = [&](const py::array& array, const py::dtype& type) {
            if (!array.dtype().is(type) || array.ndim() != 1 || static_cast<std::size_t>(array.shape(0)) < records ||
                !array.writeable() || (array.flags() & py::array::c_style) == 0) {
                throw py::value_error("not the arrays of allocate()");
            }
            return array;
        };
        for (std::size_t c = 0; c < kinds.size(); ++c) {
            if (holds_objects(kinds[c])) {
                arrays.values.push_back(fits(out[c].cast<py::array>(), py::dtype("O")));
                arrays.numbers[c].objects = static_cast<PyObject**>(arrays.values.back().mutable_data());
                continue;
            }
            if (kinds[c] == ColumnKind::INTEGER) {
                const auto pair = out[c].cast<py::tuple>();
                arrays.values.push_back(fits(pair[0].cast<py::array>(), py::dtype::of<std::int64_t>()));
                arrays.masks[c] = fits(pair[1].cast<py::array>(), py::dtype::of<bool>());
                arrays.numbers[c].missing = static_cast<bool*>(arrays.masks[c].mutable_data());
            } else {
                arrays.values.push_back(fits(out[c].cast<py::array>(), py::dtype::of<double>()));
            }
            arrays.numbers[c].values = arrays.values.back().mutable_data();
        }
        return arrays;
    }

    // decode(): the columns of short P and Z items are read from the records
    // as integers, without texts; a second set of converters makes the
    // texts of the others.
    void plan_plain(const FormatDef& selected, const std::vector<ItemForm>& forms) {
        const std::span<const Column> columns = converters_[0].columns();
        FormatDef texts = selected;
        bool any = false;
        for (std::size_t c = 0; c < columns.size(); ++c) {
            const ItemDef& item = selected.items[columns[c].item];
            const ItemForm& form = forms[columns[c].item];
            if (kinds_[0][c] != ColumnKind::INTEGER || !short_number_item(item, form, record_length_)) continue;
            direct_.push_back({c, columns[c].item, form.exact});
            texts.items[columns[c].item].output = 0;
            any = true;
        }
        if (!any) return;
        items_ = selected.items;
        plain_converters_.resize(converters_.size());
        for (Converter& converter : plain_converters_) {
            if (converter.open(texts).result != Result::OK) throw std::bad_alloc();
        }
        for (const Column& column : plain_converters_[0].columns()) {
            for (std::size_t c = 0; c < columns.size(); ++c) {
                if (columns[c].item == column.item) text_columns_.push_back(c);
            }
        }
    }

    // At least 1024 records per thread.
    std::size_t part_count(std::size_t records) const noexcept {
        return std::max<std::size_t>(1, std::min(converters_.size(), records / 1024));
    }

    // Runs `decode(p, part)` for every part p, on converter p,
    // with the GIL released; the parts of threads that cannot be started
    // run on this one.
    template <typename Decode>
    void run_parts(std::vector<Part>& work, Decode decode) {
        {
            py::gil_scoped_release released;
            const auto started = std::chrono::steady_clock::now();
            std::vector<std::thread> helpers;
            std::size_t p = 1;
            try {
                helpers.reserve(work.size() - 1);
                for (; p < work.size(); ++p) helpers.emplace_back([&, p] { decode(p, work[p]); });
            } catch (...) {
                // The system gives fewer threads: this one decodes the parts left.
            }
            for (; p < work.size(); ++p) decode(p, work[p]);
            decode(0, work[0]);
            for (std::thread& helper : helpers) helper.join();
            core_seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        }
        for (const Part& part : work) {
            if (part.failed) throw std::bad_alloc();
        }
    }

    // The object columns of layout `layout`, from the parts' texts.
    // decode() (`cached`) keeps a cache of texts per column from call to call.
    void fill_objects(const std::vector<ColumnKind>& kinds, std::span<const Part> work, std::size_t layout,
                      Arrays& arrays, bool cached = false) {
        if (cached) caches_.resize(kinds.size());
        const MappedArenas arenas;
        for (std::size_t c = 0; c < kinds.size(); ++c) {
            if (!holds_objects(kinds[c])) continue;
            auto** slots = static_cast<PyObject**>(arrays.values[c].mutable_data());
            for (const Part& part : work) {
                const ColumnTexts& texts = part.texts[layout][c];
                PyObject** into = slots + part.slots[layout];
                if (kinds[c] == ColumnKind::TEXT) {
                    fill_texts(texts, part.counts[layout], into, cached ? &caches_[c] : nullptr);
                    // Once a column's cache is dropped, its texts are no longer looked for again.
                    if (cached && !caches_[c].on) repeats_[c].store(false, std::memory_order_relaxed);
                } else {
                    fill_numbers(kinds[c], texts, part.counts[layout], into);
                }
            }
        }
    }

    void check_plain(const char* call) const {
        if (kinds_.size() != 1 || record_format_ != RecordFormat::F) {
            throw py::value_error(std::string(call) +
                                  " reads F records of one layout: decode_records() reads the others");
        }
    }

    // Chunks of `records` records, decoded by the threads in order while
    // this thread makes the objects of each chunk done (the GIL is held only
    // for that): the texts of a few chunks at a time, in buffers kept from
    // call to call. `source(w, part)` gives the bytes of a part's records on
    // decoding thread w (or on this one); fewer when they cannot be had: the
    // call then stops after the chunks before that part.
    template <typename Source>
    void run_chunks(std::size_t records, Arrays& arrays, std::size_t at, Source source) {
        const std::vector<ColumnKind>& kinds = kinds_[0];
        const auto started = std::chrono::steady_clock::now();
        const std::size_t chunk = (CHUNK_BYTES + record_length_ - 1) / record_length_;  // at least one record
        const std::size_t chunks = (records + chunk - 1) / chunk;
        const std::size_t ahead = std::min(chunks, CHUNKS_AHEAD * converters_.size());
        ring_.resize(std::max(ring_.size(), ahead));
        scratch_.resize(converters_.size());
        const auto prepare = [&](std::size_t i) -> Part& {
            Part& part = ring_[i % ahead];
            part.first = i * chunk;
            part.end = std::min(records, part.first + chunk);
            part.slots.assign(1, at + part.first);
            part.counts.assign(1, part.end - part.first);
            part.texts.resize(1);
            part.texts[0].resize(kinds.size());
            for (std::size_t c = 0; c < kinds.size(); ++c) {
                ColumnTexts& texts = part.texts[0][c];
                texts.clear();
                texts.repeats = kinds[c] == ColumnKind::TEXT && repeats_[c].load(std::memory_order_relaxed);
            }
            part.failed = part.unread = false;
            return part;
        };
        const auto decode_chunk = [&](std::size_t w, std::size_t i) -> Part& {
            Part& part = prepare(i);
            const std::span<const std::uint8_t> bytes = source(w, static_cast<const Part&>(part));
            if (bytes.size() != (part.end - part.first) * record_length_) {
                part.unread = true;
            } else {
                decode_part(w, bytes, part, arrays.numbers, scratch_[w]);
            }
            return part;
        };
        Pipeline line(chunks, ahead);
        const MappedArenas arenas;  // on for the whole call, not chunk by chunk
        std::vector<std::thread> helpers;
        if (chunks > 0) {
            py::gil_scoped_release released;
            try {
                for (std::size_t w = 0; w < converters_.size() && w < chunks; ++w) {
                    helpers.emplace_back([&, w] {
                        for (std::size_t i; line.take(i);) {
                            bool failed = true;  // out of memory
                            try {
                                failed = decode_chunk(w, i).failed;
                            } catch (const std::bad_alloc&) {
                            }
                            line.done(i, failed);
                        }
                    });
                }
            } catch (const std::system_error&) {
                // Fewer threads than asked for: those started do the work;
                // with none, this thread decodes each chunk itself below.
            }
        }
        const auto finish = [&] {
            line.stop();
            py::gil_scoped_release released;
            for (std::thread& helper : helpers) helper.join();
        };
        try {
            for (std::size_t i = 0; i < chunks; ++i) {
                Part* part = &ring_[i % ahead];
                if (helpers.empty()) {
                    py::gil_scoped_release released;
                    part = &decode_chunk(0, i);
                } else if (!line.ready(i)) {
                    py::gil_scoped_release released;
                    line.wait(i);
                }
                if (part->failed || line.failed()) throw std::bad_alloc();
                if (part->unread) break;
                fill_objects(kinds, {part, 1}, 0, arrays, true);
                line.filled(i);
            }
        } catch (...) {
            finish();
            throw;
        }
        finish();
        core_seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    }

    void decode_part(std::size_t p, std::span<const std::uint8_t> bytes, Part& part,
                     const std::vector<Numbers>& numbers, std::vector<std::uint8_t>& scratch) noexcept {
        try {
            const std::vector<ColumnKind>& kinds = kinds_[0];
            const bool split = !plain_converters_.empty();
            Converter& converter = split ? plain_converters_[p] : converters_[p];
            const std::span<const Column> columns = converter.columns();
            const std::size_t text_count = columns.size();
            const auto column_of = [&](std::size_t t) { return split ? text_columns_[t] : t; };
            const std::size_t count = part.end - part.first;
            // Room for every text at once, so that no buffer grows by copies.
            for (std::size_t t = 0; t < text_count; ++t) {
                ColumnTexts& column = part.texts[0][column_of(t)];
                column.ends.reserve(count);
                column.bytes.reserve(count * columns[t].bound);
                if (kinds[column_of(t)] == ColumnKind::TEXT) {
                    column.hashes.reserve(count);
                    if (column.repeats) column.index.reserve(count);
                    if (units()) {
                        column.units.reserve(count * columns[t].bound);
                        column.unit_ends.reserve(count);
                        column.largest.reserve(count);
                    }
                }
            }
            const std::size_t step = std::max<std::size_t>(1, (1u << 20) / record_length_);
            const std::size_t slot = part.slots[0] - part.first;  // of record 0 of `bytes`
            for (const Numbers& column : numbers) map_part(column, part.slots[0], count);
            for (std::size_t first = part.first; first < part.end; first += step) {
                const std::size_t n = std::min(step, part.end - first);
                const std::span<const std::uint8_t> records =
                    bytes.subspan((first - part.first) * record_length_, n * record_length_);
                // Short numbers a column at a time; a plain one is never missing
                // (its mask stays as made, all clear).
                for (const Direct& direct : direct_) {
                    const Numbers& column = numbers[direct.column];
                    bool* missing = column.missing + slot + first;
                    short_numbers(items_[direct.item], records, record_length_,
                                  static_cast<std::int64_t*>(column.values) + slot + first,
                                  direct.exact ? missing : nullptr);
                }
                for (std::size_t t = 0; t < text_count; ++t) {
                    const std::size_t c = column_of(t);
                    store_column(converter, t, columns[t].bound, kinds[c], records, slot + first, numbers[c],
                                 part.texts[0][c], scratch);
                }
            }
        } catch (const std::bad_alloc&) {
            part.failed = true;
        }
    }

    // A fresh array's pages are mapped when first written, one fault each.
    // The slots of a chunk are mapped on the thread that decodes it, all in
    // one call where the system can, so that the thread making the objects,
    // which the others wait for, does not stop at each page; the values of
    // numbers (8 bytes each) too. Masks stay as made: their zeroed pages
    // are mapped only where a value is missing.
    static void map_part(const Numbers& column, std::size_t first, std::size_t count) noexcept {
        if (column.objects != nullptr && !platform::map_for_writing(column.objects + first, count * sizeof(PyObject*)))
            touch(column.objects + first, count);
        if (column.values != nullptr)
            platform::map_for_writing(static_cast<std::uint8_t*>(column.values) + first * 8, count * 8);
    }

    // Where the system cannot map them in one call, each page of the slots
    // is written once on that thread. The write adds zero in one step (the
    // slots are this chunk's alone until it is done): a read before it would
    // map the shared zero page first, and the write then replace it, which
    // costs every core a flush of its page tables.
    static void touch(PyObject** slots, std::size_t count) noexcept {
        constexpr std::size_t PAGE = 4096;
        auto* const begin = reinterpret_cast<std::uint8_t*>(slots);
        auto* const end = reinterpret_cast<std::uint8_t*>(slots + count);
        const auto write = [](std::uint8_t* at) {
            std::atomic_ref<std::uintptr_t>(*reinterpret_cast<std::uintptr_t*>(at))
                .fetch_add(0, std::memory_order_relaxed);
        };
        if (count == 0) return;
        write(begin);
        const auto first = (reinterpret_cast<std::uintptr_t>(begin) / PAGE + 1) * PAGE;
        for (std::uint8_t* at = begin + (first - reinterpret_cast<std::uintptr_t>(begin)); at < end; at += PAGE) {
            write(at);
        }
    }

    // Finds the records of `bytes` that decode_records() passes and takes,
    // and their layouts (no Python object is touched: the GIL is released).
    Walked walk(std::span<const std::uint8_t> bytes, bool end, std::uint64_t skip, std::uint64_t limit,
                std::vector<Taken>& taken) {
        Walked walked;
        Converter& converter = converters_[0];
        const auto wanted = [&] { return walked.skipped < skip || taken.size() < limit; };
        // False at a record of no kind.
        const auto take = [&](std::span<const std::uint8_t> record, std::uint64_t number) {
            if (walked.skipped < skip) {
                ++walked.skipped;
                return true;
            }
            const std::size_t layout = converter.kind_of(record);
            if (layout == Converter::NO_KIND) {
                walked.fault = Result::RECORD_KIND;
                walked.at = {number + 1, 0};
                return false;
            }
            if (taken.empty()) walked.first = number;
            taken.push_back(
                {record.data(), static_cast<std::uint32_t>(record.size()), static_cast<std::uint32_t>(layout)});
            return true;
        };
        if (!walk_) {
            std::size_t at = 0;
            for (; wanted() && bytes.size() - at >= record_length_; at += record_length_, ++next_number_) {
                if (!take(bytes.subspan(at, record_length_), next_number_)) break;
            }
            walked.used = at;
            walked.ended = end && at == bytes.size();
            return walked;
        }
        std::size_t pos = 0;
        while (wanted()) {
            VariableRecord record;
            RecordFault fault;
            const RecordWalk::Step step = walk_->next(bytes, pos, end, record, fault);
            if (step == RecordWalk::Step::RECORD) {
                if (!take(record.data, base_number_ + record.number - 1)) break;
                continue;
            }
            if (step == RecordWalk::Step::END) walked.ended = true;
            if (step == RecordWalk::Step::FAULT) {
                walked.fault = Result::RECORD_DESCRIPTOR;
                walked.at = {base_number_ + fault.record, base_offset_ + fault.offset};
            }
            break;
        }
        walked.used = pos;
        return walked;
    }

    void decode_taken(Converter& converter, const std::vector<Taken>& taken, std::uint64_t first, Part& part,
                      const std::vector<Target>& targets) noexcept {
        try {
            ItemTexts texts;
            std::vector<std::size_t> slots = part.slots;
            for (std::size_t i = part.first; i < part.end; ++i) {
                const Taken& record = taken[i];
                texts.clear();
                if (converter.record_texts({record.data, record.size}, record.layout, texts) != Result::OK) {
                    part.failed = true;
                    return;
                }
                const std::size_t layout = record.layout, slot = slots[layout]++;
                const std::vector<ColumnKind>& kinds = kinds_[layout];
                targets[layout].numbers[slot] = static_cast<std::int64_t>(first + i);
                for (std::size_t c = 0; c < kinds.size(); ++c) {
                    store(kinds[c], slot, texts.text(c), (*targets[layout].columns)[c], part.texts[layout][c]);
                }
            }
        } catch (const std::bad_alloc&) {
            part.failed = true;
        }
    }

    // An empty number text is no number (an exact number whose digits are
    // not all digits, or an item past the end of a V record): a missing value.
    void store(ColumnKind kind, std::size_t record, std::span<const std::uint8_t> text, const Numbers& numbers,
               ColumnTexts& column) {
        const char* begin = reinterpret_cast<const char*>(text.data());
        const char* end = begin + text.size();
        switch (kind) {
            case ColumnKind::INTEGER: {
                std::int64_t& value = static_cast<std::int64_t*>(numbers.values)[record];
                value = 0;
                std::from_chars(begin, end, value);
                if (text.empty()) numbers.missing[record] = true;
                return;
            }
            case ColumnKind::FLOAT:
            case ColumnKind::SCALED:
                static_cast<double*>(numbers.values)[record] =
                    text.empty() ? std::numeric_limits<double>::quiet_NaN() : nearest_double(begin, end);
                return;
            case ColumnKind::BIG_INTEGER:
            case ColumnKind::DECIMAL:
            case ColumnKind::DIGITS:
                column.bytes.insert(column.bytes.end(), text.begin(), text.end());
                column.ends.push_back(column.bytes.size());
                return;
            case ColumnKind::TEXT: {
                const std::size_t kept = column.bytes.size();
                column.bytes.insert(column.bytes.end(), text.begin(), text.end());
                if (!keep_text(column, {column.bytes.data() + kept, text.size()})) column.bytes.resize(kept);
                return;
            }
        }
    }

    // A record's text, written at the end of the column's kept texts: kept
    // there as a new distinct text (true), or (false) found among them, when
    // the column looks for repeats, and then left to be written over.
    bool keep_text(ColumnTexts& column, std::span<const std::uint8_t> text) {
        const bool looked_for = column.repeats && text.size() <= TEXT_BYTES;
        const std::uint64_t hash = looked_for ? text_hash(text.data(), text.size()) : 0;
        if (looked_for) {
            const std::uint32_t found = column.find(text, hash);
            if (found != ColumnTexts::NONE) {
                column.index.push_back(found);
                return false;
            }
        }
        const auto d = static_cast<std::uint32_t>(column.ends.size());
        column.ends.push_back(static_cast<std::size_t>(text.data() + text.size() - column.bytes.data()));
        column.hashes.push_back(hash);
        if (units()) {
            // An ASCII text is its own str: made from its bytes (largest 0), no units.
            column.largest.push_back(ascii_same_ && ascii(text) ? 0 : decode_cp932(text, column.units));
            column.unit_ends.push_back(column.units.size());
        }
        if (column.repeats) {
            column.index.push_back(d);
            if (looked_for) column.remember(d, hash);
        }
        return true;
    }

    // Column `t` of the converter (of kind `kind`, texts of at most `bound`
    // bytes) for each record of `records`, the first of them in slot
    // `first`. Texts are written straight where the column keeps them, the
    // room for all of them made at once; numbers' texts go through `scratch`.
    void store_column(Converter& converter, std::size_t t, std::size_t bound, ColumnKind kind,
                      std::span<const std::uint8_t> records, std::size_t first, const Numbers& numbers,
                      ColumnTexts& column, std::vector<std::uint8_t>& scratch) {
        const std::size_t count = records.size() / record_length_;
        if (kind != ColumnKind::TEXT) {
            scratch.resize(bound);
            for (std::size_t r = 0; r < count; ++r) {
                const std::size_t length =
                    converter.column_text(t, records.subspan(r * record_length_, record_length_), scratch.data());
                store(kind, first + r, {scratch.data(), length}, numbers, column);
            }
            return;
        }
        std::size_t kept = column.bytes.size();
        column.bytes.resize(kept + count * bound);
        for (std::size_t r = 0; r < count; ++r) {
            std::uint8_t* const at = column.bytes.data() + kept;
            const std::size_t length =
                converter.column_text(t, records.subspan(r * record_length_, record_length_), at);
            if (keep_text(column, {at, length})) kept += length;
        }
        column.bytes.resize(kept);
    }

    // Python objects for `count` texts, into empty slots of an object array,
    // made in one pass over the column's distinct texts. With a cache, equal
    // texts share one object (host columns repeat their codes, branches and
    // names): the last object made per hash of a text's bytes.
    void fill_texts(const ColumnTexts& texts, std::size_t count, PyObject** slots, TextCache* cache) {
        const std::size_t distinct = texts.ends.size();
        const bool indexed = texts.repeats;  // else text i is record i's
        made_.assign(indexed ? distinct : 0, nullptr);
        PyObject** const out = indexed ? made_.data() : slots;
        const auto drop_made = [&] {
            for (PyObject* object : made_) Py_XDECREF(object);
            made_.clear();
        };
        try {
            for (std::size_t d = 0; d < distinct; ++d) {
                const std::span<const std::uint8_t> text = texts.text(d);
                const bool looked_up = cache != nullptr && cache->on && text.size() <= TextCache::BYTES;
                if (looked_up && !cache->entries.empty()) cache->prefetch(texts.hashes, d, distinct);
                PyObject* item = nullptr;
                CachedText* slot = nullptr;
                if (looked_up) {
                    if (cache->entries.empty()) cache->entries.resize(TEXT_CACHE_SLOTS);
                    bool found = false;
                    slot = &cache->find(text.data(), text.size(), texts.hashes[d], found);
                    if (found) {
                        item = slot->object;
                        Py_INCREF(item);
                        ++cache->hits;
                    }
                }
                if (item == nullptr) {
                    item = make_text(texts, d);
                    if (slot != nullptr) cache->keep(*slot, item, text.data(), text.size(), texts.hashes[d]);
                }
                if (!indexed) Py_XDECREF(out[d]);
                out[d] = item;
            }
        } catch (...) {
            drop_made();
            throw;
        }
        // A column whose first texts seldom repeat (in the range or from
        // earlier ones) goes without.
        if (cache != nullptr && cache->on) {
            cache->looked += count;
            cache->hits += count - distinct;
            if (cache->looked >= TEXT_CACHE_SAMPLE && cache->looked - count < TEXT_CACHE_SAMPLE &&
                cache->hits < cache->looked / 8) {
                cache->clear();
            }
        }
        if (!indexed) return;
        for (std::size_t r = 0; r < count; ++r) {
            PyObject* const item = made_[texts.index[r]];
            Py_INCREF(item);
            Py_XDECREF(slots[r]);
            slots[r] = item;
        }
        drop_made();
    }

    // Distinct text d of a column: a new object.
    PyObject* make_text(const ColumnTexts& texts, std::size_t d) const {
        const std::span<const std::uint8_t> text = texts.text(d);
        const char* const bytes = reinterpret_cast<const char*>(text.data());
        const auto size = static_cast<py::ssize_t>(text.size());
        if (!units()) {
            PyObject* item = raw_text_ ? PyBytes_FromStringAndSize(bytes, size)
                                       : PyUnicode_DecodeUTF8(bytes, size, "surrogateescape");
            if (item == nullptr) throw py::error_already_set();
            return item;
        }
        if (texts.largest[d] == 0) {  // ASCII (a text of other bytes has a unit above 0)
            PyObject* item = PyUnicode_New(size, 0x7F);
            if (item == nullptr) throw py::error_already_set();
            std::memcpy(PyUnicode_1BYTE_DATA(item), bytes, text.size());
            return item;
        }
        const std::size_t begin = d == 0 ? 0 : texts.unit_ends[d - 1], length = texts.unit_ends[d] - begin;
        PyObject* item = PyUnicode_New(static_cast<py::ssize_t>(length), texts.largest[d]);
        if (item == nullptr) throw py::error_already_set();
        const std::uint16_t* units = texts.units.data() + begin;
        if (PyUnicode_KIND(item) == PyUnicode_1BYTE_KIND) {
            Py_UCS1* into = PyUnicode_1BYTE_DATA(item);
            for (std::size_t k = 0; k < length; ++k) into[k] = static_cast<Py_UCS1>(units[k]);
        } else {
            std::memcpy(PyUnicode_2BYTE_DATA(item), units, length * sizeof(std::uint16_t));
        }
        return item;
    }

    static constexpr std::size_t TEXT_CACHE_SLOTS = 1 << 14;
    static constexpr std::size_t CHUNK_BYTES = 1 << 19;        // decode(): host bytes per chunk (at least a record)
    static constexpr std::size_t CHUNKS_AHEAD = 2;             // decode(): chunks in work per thread
    static constexpr std::size_t TEXT_CACHE_SAMPLE = 1 << 14;  // texts after which a cache of few hits is dropped

    // A hash of a text's bytes, sixteen at a time, each two words folded
    // through one wide multiply: the texts of a column are short, and the
    // multiplies of one text follow each other. The last words are loaded to
    // end with the text (overlapping the words before them), so no byte past
    // it is read and none is copied; the length, mixed in first, tells apart
    // texts whose words would overlap alike.
    static std::uint64_t text_hash(const std::uint8_t* data, std::size_t size) noexcept {
        __extension__ using Wide = unsigned __int128;
        const auto fold = [](std::uint64_t a, std::uint64_t b) {
            const Wide product = static_cast<Wide>(a) * b;
            return static_cast<std::uint64_t>(product) ^ static_cast<std::uint64_t>(product >> 64);
        };
        const auto word = [&](std::size_t at) {
            std::uint64_t value;
            std::memcpy(&value, data + at, 8);
            return value;
        };
        const auto half = [&](std::size_t at) {
            std::uint32_t value;
            std::memcpy(&value, data + at, 4);
            return std::uint64_t{value};
        };
        constexpr std::uint64_t K0 = 0x9E3779B97F4A7C15u, K1 = 0xBF58476D1CE4E5B9u, K2 = 0x94D049BB133111EBu;
        std::uint64_t hash = fold(size ^ K0, K1);
        std::size_t i = 0;
        for (; i + 16 <= size; i += 16) hash = fold(word(i) ^ K1 ^ hash, word(i + 8) ^ K2);
        const std::size_t left = size - i;
        std::uint64_t a = 0, b = 0;
        if (left >= 8) {
            a = word(i);
            b = word(size - 8);
        } else if (left >= 4) {
            a = half(i);
            b = half(size - 4);
        } else if (left > 0) {
            a = std::uint64_t{data[i]} | std::uint64_t{data[i + left / 2]} << 8 | std::uint64_t{data[size - 1]} << 16;
        } else {
            return hash;
        }
        return fold(a ^ K1 ^ hash, b ^ K2);
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
        std::size_t i = 0;
        if (ascii_same_) {
            // Eight ASCII bytes at a time are their own units.
            std::uint64_t seen = 0;
            for (std::uint64_t word; i + 8 <= text.size(); i += 8) {
                std::memcpy(&word, text.data() + i, 8);
                if ((word & 0x8080808080808080u) != 0) break;
                seen |= word;
                for (std::size_t k = 0; k < 8; ++k) *out++ = text[i + k];
            }
            // The largest unit is below 80 like every byte seen: only its kind matters.
            for (; seen != 0; seen >>= 8) largest = std::max<std::uint16_t>(largest, seen & 0x7F);
        }
        while (i < text.size()) {
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

    // decode(): a column read as an integer without its text.
    struct Direct {
        std::size_t column, item;
        bool exact;  // no number is a missing value
    };
    std::vector<Direct> direct_;
    std::vector<ItemDef> items_;                      // the items, for short_number()
    std::vector<Converter> plain_converters_;         // decode(): the texts of the other columns, one per thread
    std::vector<std::size_t> text_columns_;           // their columns, as plain_converters_ give their texts
    std::vector<TextCache> caches_;                   // decode(): per column
    std::unique_ptr<std::atomic<bool>[]> repeats_;    // decode(): per column, whether its texts are looked for again
    std::vector<PyObject*> made_;                     // fill_texts(): the objects of a range's distinct texts
    std::vector<Part> ring_;                          // decode(): the chunks in work, their buffers kept
    std::vector<std::vector<std::uint8_t>> scratch_;  // decode(): per thread, a number's text
    std::vector<std::vector<std::uint8_t>> reads_;    // read_file(): per thread, the records of its chunk
    bool ascii_same_ = false;                         // code page 932 reads 00-7F as ASCII

    bool raw_text_;
    bool utf8_ = false;                           // texts as the core's UTF-8 (CSV=UTF8, or a HOSTCODE page)
    py::object decimal_;                          // the type of SCALE items' values; None: float64
    bool busy_ = false;                           // a decode runs (changed with the GIL held)
    std::vector<Converter> converters_;           // one per thread
    std::vector<std::vector<ColumnKind>> kinds_;  // per layout, per column
    std::size_t record_length_ = 0;
    RecordFormat record_format_ = RecordFormat::F;
    std::size_t record_limit_ = 0;
    // decode_records(): where the walk stands.
    std::uint64_t base_number_ = 0, base_offset_ = 0;  // the file's record and byte where it began
    std::uint64_t next_number_ = 0;                    // F: the next record's number
    std::optional<RecordWalk> walk_;                   // V, VB
};

// Where a V or VB file may be cut into pieces that are each read alone:
// record boundaries (VB: block boundaries, where a walk can begin), the
// first at the file's start, each further one the first at least `every`
// bytes after the last. The file is given in pieces as for
// Decoder::decode_records().
class Splitter {
public:
    Splitter(const Format& format, std::uint64_t every)
        : walk_(record_format(format.def), static_cast<std::size_t>(record_limit(format.def))),
          blocked_(record_format(format.def) == RecordFormat::VB),
          every_(std::max<std::uint64_t>(1, every)) {
        if (record_format(format.def) == RecordFormat::F) throw py::value_error("F records are cut by their length");
    }

    // (used, cuts, ended, fault, records): the bytes passed (those after
    // them are to be given again with the next ones); the new cuts as
    // (byte offset, number from 0 of the record there); whether the file
    // ended after a whole record (and block); None, or (record number from
    // 1, byte offset) of a wrong descriptor; the records passed so far.
    py::tuple feed(py::handle data, bool end) {
        const HeldBuffer held(data);
        const std::span<const std::uint8_t> bytes = held.bytes();
        std::vector<std::pair<std::uint64_t, std::uint64_t>> cuts;
        std::size_t pos = 0;
        bool ended = false;
        std::optional<RecordFault> faulty;
        {
            py::gil_scoped_release released;
            while (true) {
                VariableRecord record;
                RecordFault fault;
                const RecordWalk::Step step = walk_.next(bytes, pos, end, record, fault);
                if (step == RecordWalk::Step::RECORD) {
                    // VB: only a block's first record, right after its BDW, begins a piece.
                    const bool first_in_block = record.offset == record.block_offset + 4;
                    const std::uint64_t boundary = blocked_ ? record.block_offset : record.offset;
                    if ((!blocked_ || first_in_block) && boundary >= next_) {
                        cuts.emplace_back(boundary, record.number - 1);
                        next_ = boundary + every_;
                    }
                    continue;
                }
                ended = step == RecordWalk::Step::END;
                if (step == RecordWalk::Step::FAULT) faulty = fault;
                break;
            }
        }
        py::object fault = faulty ? py::object(py::make_tuple(faulty->record, faulty->offset)) : py::none();
        return py::make_tuple(pos, cuts, ended, fault, walk_.records());
    }

private:
    RecordWalk walk_;
    bool blocked_;
    std::uint64_t every_;
    std::uint64_t next_ = 0;  // the byte from which the next cut may be
};

// The format's text read and checked, and its GAIJI lines' tables read from
// `base` (the format file's folder with its separator, or a folder the caller
// names): (Format or None, fault, table fault or None), the table fault as
// (kind, path, line).
py::tuple parse(py::bytes data, py::bytes base) {
    const std::string_view text = data;
    const std::string folder = base;
    auto format = std::make_unique<Format>();
    FormatError error;
    GaijiLoad tables;
    {
        py::gil_scoped_release released;
        error = parse_format({reinterpret_cast<const std::uint8_t*>(text.data()), text.size()}, format->def);
        if (error.result == Result::OK) tables = load_gaiji_tables(format->def, folder);
    }
    if (error.result == Result::OUT_OF_MEMORY || tables.result == Result::OUT_OF_MEMORY) throw std::bad_alloc();
    const py::tuple fault =
        py::make_tuple(result_name(error.result), error.item_number, error.record_length, py::bytes(error.value));
    if (error.result != Result::OK) return py::make_tuple(py::none(), fault, py::none());
    if (tables.result != Result::OK) {
        return py::make_tuple(py::none(), fault,
                              py::make_tuple(result_name(tables.result), py::bytes(tables.path), tables.line));
    }
    Converter converter;
    if (converter.open(format->def).result != Result::OK) throw std::bad_alloc();
    const std::span<const Column> columns = converter.columns();
    format->columns.assign(columns.begin(), columns.end());
    for (std::size_t layout = 0; layout <= converter.kinds(); ++layout) {
        const std::span<const Column> own = converter.kind_columns(layout);
        format->layouts.emplace_back(own.begin(), own.end());
    }
    const std::vector<KindBlock> blocks = kind_blocks(format->def);
    for (const KindBlock& block : blocks)
        format->kinds.push_back({block.line->kind_test, block.first_item, block.end_item});
    format->default_layout = blocks.empty() || blocks.front().first_item > 0;
    format->forms = item_forms(format->def);
    format->csv = csv_words(format->def);
    return py::make_tuple(py::cast(std::move(format)), fault, py::none());
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
    return py::make_tuple(result_name(done.result), py::bytes(done.path), done.fault.record, done.fault.offset);
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
        .def_property_readonly("record_format",
                               [](const Format& f) {
                                   switch (record_format(f.def)) {
                                       case RecordFormat::V:
                                           return "V";
                                       case RecordFormat::VB:
                                           return "VB";
                                       case RecordFormat::F:
                                           break;
                                   }
                                   return "F";
                               })
        .def_property_readonly("kinds",
                               [](const Format& f) {
                                   // per KIND line (value bytes, raw, position from 1, length,
                                   // index of its first item, end of its items)
                                   py::list kinds;
                                   for (const Format::Kind& kind : f.kinds) {
                                       const KindTest& test = kind.test;
                                       kinds.append(py::make_tuple(py::bytes(test.value), test.raw, test.start + 1,
                                                                   test.length, kind.first_item, kind.end_item));
                                   }
                                   return kinds;
                               })
        .def_readonly("default_layout", &Format::default_layout)
        .def_property_readonly(
            "layouts",
            [](const Format& f) {
                // per layout, (item index, kind) per output column
                py::list layouts;
                for (const std::vector<Column>& columns : f.layouts) {
                    py::list own;
                    for (const Column& column : columns) {
                        own.append(py::make_tuple(
                            column.item, kind_name(column_kind(f.def.items[column.item], f.forms[column.item]))));
                    }
                    layouts.append(own);
                }
                return layouts;
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

    m.def("parse", &parse, py::arg("data"), py::arg("base"),
          "Reads format-file bytes and the gaiji tables it names (relative paths from `base`, a folder with its "
          "separator): (Format, fault, table fault) where fault is (kind, item number, record length, HOSTCODE "
          "value) and table fault None or (kind, table path, line); Format is None when the format is refused.");
    m.def(
        "gaiji_error_message",
        [](const std::string& kind, const std::string& path, std::size_t line) {
            return message_pieces(gaiji_error_message(GaijiLoad{result_of(kind), path, line}));
        },
        "rekmo's message for a gaiji table that cannot be read or is refused, as (bytes, from_template) pieces.");

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

    m.def(
        "record_message",
        [](const std::string& kind, std::uint64_t record, std::uint64_t offset) {
            return message_pieces(format_message(
                result_of(kind), {static_cast<std::int64_t>(record), static_cast<std::int64_t>(offset)}));
        },
        "rekmo's message for a record of no kind (the record's number) or a wrong descriptor (its number and "
        "offset), as (bytes, from_template) pieces.");
    m.def("convert_file", &convert, py::arg("host"), py::arg("win"), py::arg("format"), py::arg("format_path"),
          py::arg("threads"),
          "The rekmo command's conversion: (kind, path of the file a failure names, record number and offset of "
          "a record_kind or record_descriptor fault).");

    py::class_<Decoder>(m, "Decoder")
        .def(py::init<const Format&, const std::vector<std::size_t>&, bool, unsigned, const py::bytes&, py::object>(),
             py::arg("format"), py::arg("items"), py::arg("raw_text"), py::arg("threads"), py::arg("cp932"),
             py::arg("decimal") = py::none())
        .def("read_file", &Decoder::read_file, py::arg("path"), py::arg("identity"), py::arg("first"),
             py::arg("records"), py::arg("out"),
             "Records first:first + records of the file at `path` (bytes), which must have the identity (device, "
             "inode) given, read on the decoding threads into the arrays of allocate(): None, or the failure's "
             "kind.")
        .def("decode", &Decoder::decode, py::arg("data"), py::arg("out") = py::none(), py::arg("at") = 0,
             "One array per selected column for every whole record of a buffer (F records of one layout); "
             "with `out` (from allocate()) its arrays filled from slot `at`.")
        .def("allocate", &Decoder::allocate, py::arg("records"), "The arrays decode() fills for `records` records.")
        .def("start", &Decoder::start, py::arg("number"), py::arg("offset"),
             "Where decode_records begins: record number (from 0) and its byte offset in the file.")
        .def("decode_records", &Decoder::decode_records, py::arg("data"), py::arg("end"), py::arg("skip"),
             py::arg("limit"), "Records of any format, each by its kind's layout, from where the last call stopped.")
        .def_readonly("core_seconds", &Decoder::core_seconds);

    py::class_<Splitter>(m, "Splitter")
        .def(py::init<const Format&, std::uint64_t>(), py::arg("format"), py::arg("every"))
        .def("feed", &Splitter::feed, py::arg("data"), py::arg("end"),
             "Cuts at record (VB: block) boundaries about `every` bytes apart.");
}
