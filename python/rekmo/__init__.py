"""Japanese host files in Python: rekmo's decoders as pandas DataFrames.

    layout = rekmo.Layout.load("customers.fmt")
    frame = rekmo.read_host("customers.bin", layout)        # one column per output item
    for batch in rekmo.iter_batches("big.bin", layout, batch_records=100_000): ...
    rekmo.convert("customers.bin", "customers.csv", layout)  # what the rekmo command writes

The decoding is rekmo's own (the C++ core, on several threads, without the
GIL); texts are str decoded from exactly the code page 932 bytes rekmo writes.
The format's option lines (CSV=, SCALE=, SIGN=, DIGITS=) give exact numbers:
Python ints beyond Int64, Decimal or float64 for implied places, str for codes.
rekmo.dask reads files as Dask DataFrames.
"""

import array
import dataclasses
import decimal
import errno
import operator
import os
import shutil
import stat

import numpy as np

from . import _rekmo

__all__ = ["Layout", "Item", "Error", "FormatError", "ConversionError", "convert", "read_host", "iter_batches"]

# Item type codes of the format file, by the letters written in it.
_TYPE_LETTERS = {1: "E", 2: "P", 3: "Z", 4: "J", 5: "F", 6: "FN", 7: "K", 8: "KN"}

_ENGLISH = {
    "cannot_open": "the input file cannot be opened",
    "size_mismatch": "the record length of the input file does not match",
    "read_error": "an error occurred while reading the input file",
    "write_error": "an error occurred while writing to the output file",
    "item_size": "the item size of row {item} is invalid",
    "item_type": "the item type of row {item} is invalid",
    "item_position": "the item position of row {item} is invalid",
    "record_length": "the record length is invalid ({record_length})",
    "host_code": "the host code is invalid ({value})",
    "format_size": "the format file is larger than 16 MiB",
    "option": "an option line is invalid ({value})",
    "out_of_memory": "memory ran out",
}


def _cp932_table():
    """Code page 932 exactly as this interpreter's cp932 codec reads it (with
    "surrogateescape"), for the decoder's loop: per single byte its character,
    or FFFF for a lead byte; then per lead and trail byte the character of the
    pair, or FFFF when the pair is none (the lead byte is then undecodable
    alone, and the trail byte read afresh)."""
    single = array.array("H", [0xFFFF] * 256)
    pair = array.array("H", [0xFFFF] * 65536)
    for lead in range(256):
        text = bytes([lead]).decode("cp932", "surrogateescape")
        if not 0xDC80 <= ord(text) <= 0xDCFF:
            single[lead] = ord(text)
            continue
        for trail in range(256):
            text = bytes([lead, trail]).decode("cp932", "surrogateescape")
            if len(text) == 1:
                pair[lead << 8 | trail] = ord(text)
    return (single + pair).tobytes()


_CP932 = _cp932_table()
_DEFAULT_BATCH_BYTES = 32 << 20  # host bytes per batch when no batch_records is given
_BLOCK_BYTES = 64 << 20  # host bytes decoded at once by read_host
_FIRST_STREAM_BYTES = 1 << 20  # a stream's first buffer, doubled as its bytes come


def _english(kind):
    return _ENGLISH.get(kind, kind.replace("_", " "))


def _decode(data):
    return data.decode("cp932", "surrogateescape")


def _message(pieces):
    """rekmo's message: its text decoded from code page 932, paths as the file system names them."""
    return "".join(_decode(text) if from_template else os.fsdecode(text) for text, from_template in pieces)


class Error(Exception):
    """A failure rekmo reports: `kind` names it ("size_mismatch", "item_type", ...),
    `message` is rekmo's own (Japanese) message text; str() gives both, in English first."""

    def __init__(self, kind, message, english):
        super().__init__(f"{english}: {message}")
        self.kind = kind
        self.message = message


class FormatError(Error):
    """A format refused: `kind` is "item_size", "item_type", "item_position",
    "record_length", "host_code" or "format_size" (a file that goes on past 16 MiB);
    `item_number` counts item lines from 1 (0 for the record length, the host code and
    the file size), `record_length` is the length refused,
    `value` the HOSTCODE line's value that names no host code page."""

    def __init__(self, kind, item_number, record_length, message, value=""):
        english = _english(kind).format(item=item_number, record_length=record_length, value=value)
        super().__init__(kind, message, english)
        self.item_number = item_number
        self.record_length = record_length
        self.value = value


class ConversionError(Error):
    """A conversion that failed: `kind` is "size_mismatch" (the host data is no whole
    number of records), "read_error" (a read failed, or the input ended inside a
    record) or "write_error" (WinFile keeps what was written); `path` the file."""

    def __init__(self, kind, message, path=None):
        super().__init__(kind, message, _english(kind))
        self.path = path


@dataclasses.dataclass(frozen=True)
class Item:
    """One item line of a format: `position` counts bytes from 1, `type` is the letter
    ("E", "P", "Z", "J", "F", "FN", "K", "KN"), `column` its DataFrame column (None
    when it is not written: output 0 or length 0).

    What the option lines make of a P or Z item: `exact` (printed exactly from its
    digits: CSV=EXACT, or a SCALE, SIGN or DIGITS line naming it), `scale` (its
    implied decimal places, SCALE=), `sign` ("LEADING", "LEADING SEPARATE",
    "TRAILING SEPARATE" from SIGN=, None for the sign in the last byte), `digits`
    (a code, DIGITS=). Text items keep the defaults."""

    name: str
    position: int
    length: int
    type: str
    output: bool
    column: object = None
    exact: bool = False
    scale: int = 0
    sign: object = None
    digits: bool = False


class Layout:
    """A format file, read and checked exactly as the rekmo command reads it."""

    def __init__(self, data, path=None):
        """Prefer Layout.load and Layout.parse."""
        try:
            self._data = bytes(memoryview(data))  # never bytes(n), n zero bytes
        except TypeError:
            raise TypeError(f"a format is bytes-like or str, not {type(data).__name__}") from None
        self._path = path
        fmt, (kind, item_number, record_length, value) = _rekmo.parse(self._data)
        if fmt is None:
            pieces = _rekmo.format_error_message(kind, item_number, record_length, value, os.fsencode(path or ""))
            raise FormatError(kind, item_number, record_length, _message(pieces), _decode(value))
        self._format = fmt
        items = [Item(_decode(name), position, length, _TYPE_LETTERS[code], output != 0,
                      exact=exact, scale=scale, sign=sign, digits=digits)
                 for (name, position, length, code, output), (exact, digits, scale, sign) in zip(fmt.items, fmt.forms)]
        # column name -> (item index, "text" | "int" | "float" | "bigint" | "scaled" | "digits")
        self._kinds = {}
        names = set()
        for index, kind in fmt.columns:
            # Duplicate names become NAME.1, NAME.2, ... as pandas reads a CSV header.
            base = name = items[index].name
            suffix = 0
            while name in names:
                suffix += 1
                name = f"{base}.{suffix}"
            names.add(name)
            self._kinds[name] = (index, kind)
            items[index] = dataclasses.replace(items[index], column=name)
        self.items = tuple(items)

    @classmethod
    def load(cls, path):
        """Reads a format file. OSError (FileNotFoundError, IsADirectoryError, ...) when it
        cannot be read, FormatError when rekmo refuses it (also one that goes on past 16 MiB)."""
        path = os.fspath(path)  # never open(n), which reads file descriptor n
        limit = _rekmo.MAX_FORMAT_FILE_SIZE
        with open(path, "rb") as f:
            data = f.read(limit + 1)  # no further: /dev/zero would never end
        if len(data) > limit and b"\x1a" not in data:  # 1A ends the text: nothing after it counts
            pieces = _rekmo.format_error_message("format_size", 0, 0, b"", os.fsencode(path))
            raise FormatError("format_size", 0, 0, _message(pieces))
        return cls(data, path)

    @classmethod
    def parse(cls, data):
        """Reads format-file text: bytes (or any bytes-like object) as they would stand
        in the file, or str (written in code page 932, as a format file is).
        TypeError for anything else."""
        if isinstance(data, str):
            data = data.encode("cp932", "surrogateescape")
        return cls(data)

    @property
    def record_length(self):
        return self._format.record_length

    @property
    def host_code(self):
        """The format's HOSTCODE line: "JEF", "KEIS78" or "KEIS83", or None without one
        (the default tables)."""
        return self._format.host_code

    @property
    def csv(self):
        """The words of the format's CSV= lines: a frozenset of "QUOTE", "HEADER",
        "EXACT", "TRIM" (empty without them)."""
        return frozenset(self._format.csv)

    @property
    def columns(self):
        """The DataFrame's column names: the output items, in format order."""
        return list(self._kinds)

    @property
    def path(self):
        return self._path

    def __reduce__(self):
        return (Layout, (self._data, self._path))

    def __repr__(self):
        where = f" from {self._path!r}" if self._path else ""
        return f"<rekmo.Layout{where}: {len(self.items)} items, record length {self.record_length}>"


def _threads(threads):
    if threads is None:
        return os.cpu_count() or 1
    threads = operator.index(threads)
    if threads < 1:
        raise ValueError(f"threads must be at least 1, not {threads}")
    return threads


def _open_error(path, mode):
    """The OSError a file that rekmo cannot open gives when Python opens it."""
    try:
        with open(path, mode):
            pass
    except OSError as error:
        return error
    if os.path.isdir(path):
        return IsADirectoryError(errno.EISDIR, os.strerror(errno.EISDIR), path)
    return OSError(errno.EIO, "the file cannot be opened", path)


def _raise(kind, path, layout):
    if kind == "out_of_memory":
        raise MemoryError(_message(_rekmo.message(kind, b"", 0)))
    message = _message(_rekmo.message(kind, os.fsencode(path or ""), layout.record_length))
    raise ConversionError(kind, message, path)


def convert(host, win, layout, threads=None):
    """Converts HostFile into WinFile exactly as `rekmo HostFile WinFile FormatFile` does:
    the same bytes, on `threads` threads (default: rekmo's own choice). Raises OSError
    when a file cannot be opened or created (WinFile may not name HostFile or the
    format file: shutil.SameFileError, an OSError too), ConversionError otherwise.

    Only a normal return means that WinFile is complete. A conversion that fails
    once WinFile is created (ConversionError "read_error" or "write_error") or is
    interrupted (Ctrl-C raises KeyboardInterrupt between two blocks of records, as
    does any signal handler that raises) leaves in WinFile the lines written before
    it: after a read error or an interruption, whole lines of the first records,
    which look like a complete but shorter conversion; after a write error, what the
    system took, which may end inside a line (so may a process killed outright).
    Where no such file may stay, convert to a temporary name in WinFile's folder and
    rename it on success, having refused a WinFile that names an input (the rename
    would replace it):

        for source in (host, layout.path):
            if source and os.path.exists(win) and os.path.samefile(source, win):
                raise shutil.SameFileError(f"WinFile {win!r} is the same file as {source!r}")
        partial = f"{win}.{os.getpid()}.partial"
        try:
            rekmo.convert(host, partial, layout)
            os.replace(partial, win)  # one rename: WinFile is whole or as it was
        except BaseException:
            if os.path.lexists(partial):
                os.remove(partial)
            raise
    """
    threads = 0 if threads is None else _threads(threads)
    host, win = os.fspath(host), os.fspath(win)
    format_path = os.fsencode(layout.path or "")
    kind, path = _rekmo.convert_file(os.fsencode(host), os.fsencode(win), layout._format, format_path, threads)
    if kind == "ok":
        return
    if kind == "cannot_open":
        if path == os.fsencode(win):  # the paths as given, str or bytes
            inputs = [host] + ([layout.path] if layout.path else [])
            for other in inputs:
                if os.path.exists(win) and os.path.exists(other) and os.path.samefile(win, other):
                    raise shutil.SameFileError(f"WinFile {win!r} is the same file as {other!r}")
            raise _open_error(win, "ab")
        raise _open_error(host, "rb")
    _raise(kind, os.fsdecode(path), layout)


class _Source:
    """Host records from a path (read with one seek to the first record wanted) or
    from a buffer (bytes, bytearray, memoryview, mmap, ...)."""

    def __init__(self, source, layout):
        self.record_length = layout.record_length
        self.file = None
        self.buffer = np.empty(0, np.uint8)  # a file's blocks, read by _read_block
        if isinstance(source, (str, os.PathLike)):
            self.name = os.fspath(source)
            self.file = open(self.name, "rb", buffering=0)
            try:
                info = os.fstat(self.file.fileno())
                if stat.S_ISDIR(info.st_mode):
                    raise IsADirectoryError(errno.EISDIR, os.strerror(errno.EISDIR), self.name)
                self.seekable = stat.S_ISREG(info.st_mode)
                size = info.st_size if self.seekable else None
            except BaseException:
                self.file.close()
                raise
            self.memory = None
        else:
            self.name = "<memory>"
            self.memory = memoryview(source).cast("B")
            size = len(self.memory)
        self.records = None
        if size is not None:
            if size % self.record_length:
                self.close()
                _raise("size_mismatch", self.name, layout)
            self.records = size // self.record_length

    def close(self):
        if self.file is not None:
            self.file.close()

    def select(self, records):
        """The first record and the end (None: to the end of a stream) of a slice."""
        if records is None:
            return 0, self.records
        if not isinstance(records, slice):
            raise TypeError(f"records must be a slice of record numbers, not {type(records).__name__}")
        if records.step not in (None, 1):
            raise ValueError("records must be a slice without a step")
        start, stop = records.start, records.stop
        start = 0 if start is None else operator.index(start)
        stop = self.records if stop is None else operator.index(stop)
        if self.records is None:
            if start < 0 or (stop is not None and stop < 0):
                raise ValueError("negative record numbers need a file of known size, not a stream")
        else:
            start = start + self.records if start < 0 else start
            stop = stop + self.records if stop < 0 else stop
            if not 0 <= start <= self.records or not 0 <= stop <= self.records:
                raise IndexError(f"records {records.start}:{records.stop} are out of range: "
                                 f"{self.name} holds {self.records} records")
        if stop is not None and stop < start:
            raise IndexError(f"records {records.start}:{records.stop} end before they start")
        return start, stop

    def blocks(self, layout, first, end, block_records):
        """Buffers of up to block_records whole records, from record `first` to `end`."""
        length = self.record_length
        if self.memory is not None:
            for at in range(first, end, block_records):
                yield self.memory[at * length:min(end, at + block_records) * length]
            return
        if self.seekable:
            self.file.seek(first * length)
        else:
            self._skip(first * length, layout)
        at = first
        while end is None or at < end:
            want = (block_records if end is None else min(block_records, end - at)) * length
            data = self._read_block(want)
            got = len(data)
            if got % length or (end is not None and got < want):
                # The file ended inside a record: it shrank after its size was taken,
                # or a stream stopped short.
                _raise("read_error", self.name, layout)
            if got == 0:
                return
            yield data
            at += got // length

    def _read_block(self, size):
        """Up to `size` bytes, fewer only where the input ends, in a buffer kept from
        block to block. The buffer is never larger than the bytes it is to hold: a
        regular file's block is measured beforehand, and a stream's grows as its bytes
        come (a batch of a million records may be a few records of a FIFO). It is
        not zero-filled: every byte of it that is used is read first."""
        got = 0
        while got < size:
            if got == len(self.buffer):
                grown = np.empty(size if self.seekable else min(size, max(2 * got, _FIRST_STREAM_BYTES)), np.uint8)
                grown[:got] = self.buffer[:got]
                self.buffer = grown
            n = self.file.readinto(memoryview(self.buffer)[got:size])
            if not n:
                break
            got += n
        return memoryview(self.buffer)[:got]

    def _read_into(self, view):
        got = 0
        while got < len(view):
            n = self.file.readinto(view[got:])
            if not n:
                break
            got += n
        return got

    def _skip(self, count, layout):
        chunk = bytearray(min(count, 1 << 20) or 1)
        while count:
            n = self._read_into(memoryview(chunk)[:min(count, len(chunk))])
            if n == 0:
                _raise("read_error", self.name, layout)
            count -= n


class _Reader:
    """read_host and iter_batches: the columns chosen, the decoder, the frames."""

    def __init__(self, layout, columns, text, threads, decimals="float"):
        import pandas
        self.pandas = pandas
        if text not in ("str", "bytes"):
            raise ValueError(f'text must be "str" or "bytes", not {text!r}')
        if decimals not in ("float", "decimal"):
            raise ValueError(f'decimals must be "float" or "decimal", not {decimals!r}')
        if columns is None:
            names = layout.columns
        else:
            names = [columns] if isinstance(columns, str) else list(columns)
            unknown = [name for name in names if name not in layout._kinds]
            if unknown:
                raise KeyError(f"no output item named {unknown[0]!r}; the columns are {layout.columns}")
            if len(set(names)) != len(names):
                raise ValueError(f"a column is named twice in {names}")
        self.layout = layout
        self.names = names
        chosen = sorted(names, key=lambda name: layout._kinds[name][0])  # the decoder's order: the format's
        self.order = [chosen.index(name) for name in names]
        self.kinds = [layout._kinds[name][1] for name in names]
        self.decoder = _rekmo.Decoder(layout._format, [layout._kinds[name][0] for name in chosen], text == "bytes",
                                      _threads(threads), _CP932, decimal.Decimal if decimals == "decimal" else None)

    def columns(self, data):
        arrays = self.decoder.decode(data)
        return [arrays[i] for i in self.order]

    def frame(self, pieces, first, count):
        """A DataFrame of `count` records from lists of column arrays (one list per
        block decoded), its index the record numbers from `first`."""
        pd = self.pandas
        index = pd.RangeIndex(first, first + count)
        if not self.names:
            return pd.DataFrame(index=index)
        if not pieces:
            pieces = [self.columns(b"")]
        def joined(arrays):
            return arrays[0] if len(arrays) == 1 else np.concatenate(arrays)

        data = {}
        for c, name in enumerate(self.names):
            if self.kinds[c] == "int":  # (values, missing) per block
                values = pd.arrays.IntegerArray(joined([piece[c][0] for piece in pieces]),
                                                joined([piece[c][1] for piece in pieces]))
            else:
                values = joined([piece[c] for piece in pieces])
            data[name] = values
        return pd.DataFrame(data, index=index, columns=self.names, copy=False)


def read_host(source, layout, *, records=None, columns=None, text="str", threads=None, decimals="float"):
    """Host records as a pandas DataFrame: one column per output item, in format order,
    named after the items (duplicates as NAME.1, ...); the index is the record number
    (from 0). Text items are str decoded from code page 932 (bytes that are no character
    as lone surrogates, so that .encode("cp932", "surrogateescape") gives them back), from
    the UTF-8 rekmo writes under CSV=UTF8, or, with a HOSTCODE line, as the host page's own
    characters (what rekmo writes with CSV=UTF8); or,
    with text="bytes", the bytes rekmo writes (without the quotes of CSV=QUOTE; trimmed
    under CSV=TRIM); P and Z items are Int64 when the item holds at most 18 digits,
    else float64, equal to the number rekmo prints.

    P and Z items printed exactly (CSV=EXACT, SCALE=, SIGN=, DIGITS=) are: with
    SCALE (n other than 0) float64, or with decimals="decimal" decimal.Decimal equal
    to the CSV's text (its places kept); with DIGITS str, leading zeros kept; else
    Int64 up to 18 digits and Python int (object column) beyond, every digit exact.
    An item that is no number (the CSV's empty field) is missing: <NA>, NaN or None.
    The column types depend on the layout only, never on the data.

    source: a path, or bytes / any buffer of whole records. records: a slice of record
    numbers (read with one seek). columns: names of the columns wanted. threads:
    decoding threads (default one per core)."""
    return _read(_Reader(layout, columns, text, threads, decimals), source, layout, records)


def _read(reader, source, layout, records):
    src = _Source(source, layout)
    try:
        first, end = src.select(records)
        block = max(1, _BLOCK_BYTES // layout.record_length)
        pieces, count = [], 0
        for data in src.blocks(layout, first, end, block):
            if reader.names:
                pieces.append(reader.columns(data))
            count += len(data) // layout.record_length
    finally:
        src.close()
    return reader.frame(pieces, first, count)


def iter_batches(source, layout, batch_records=None, *, records=None, columns=None, text="str", threads=None,
                 decimals="float"):
    """read_host as a generator of DataFrames of at most batch_records records each
    (default: 32 MiB of host data), for files larger than memory: one block of the
    file is read at a time, and memory stays bounded by the batch."""
    if batch_records is None:
        batch_records = max(1, _DEFAULT_BATCH_BYTES // layout.record_length)
    batch_records = operator.index(batch_records)
    if batch_records < 1:
        raise ValueError(f"batch_records must be at least 1, not {batch_records}")
    reader = _Reader(layout, columns, text, threads, decimals)
    src = _Source(source, layout)
    try:
        first, end = src.select(records)
        for data in src.blocks(layout, first, end, batch_records):
            count = len(data) // layout.record_length
            yield reader.frame([reader.columns(data)] if reader.names else [], first, count)
            first += count
    finally:
        src.close()
