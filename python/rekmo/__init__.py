"""Japanese host files in Python: rekmo's decoders as pandas DataFrames.

    layout = rekmo.Layout.load("customers.fmt")
    frame = rekmo.read_host("customers.bin", layout)        # one column per output item
    for batch in rekmo.iter_batches("big.bin", layout, batch_records=100_000): ...
    rekmo.convert("customers.bin", "customers.csv", layout)  # what the rekmo command writes

The decoding is rekmo's own (the C++ core, on several threads, without the
GIL); texts are str decoded from exactly the code page 932 bytes rekmo writes.
The format's option lines (CSV=, SCALE=, SIGN=, DIGITS=) give exact numbers:
Python ints beyond Int64, Decimal or float64 for implied places, str for codes.
With KIND= lines read_host gives a dict of DataFrames, one per kind, and
iter_batches (kind, DataFrame) pairs; RECFM=V and VB files are read through
their descriptor words. rekmo.dask reads files as Dask DataFrames.
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

__all__ = ["Layout", "Item", "Error", "FormatError", "ConversionError", "RecordError", "convert", "read_host",
           "iter_batches"]

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
_BLOCK_BYTES = 16 << 20  # host bytes read at once by read_host (F: straight into the frame's arrays)
_FIRST_STREAM_BYTES = 1 << 20  # a stream's first buffer, doubled as its bytes come


def _unique(name, names):
    """`name`, or NAME.1, NAME.2, ... when `names` has it, which it is then added to."""
    base, suffix = name, 0
    while name in names:
        suffix += 1
        name = f"{base}.{suffix}"
    names.add(name)
    return name


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
    "record_length", "host_code", "option" or "format_size" (a file that goes on past
    16 MiB); `item_number` counts item lines from 1 (0 for the record length, the host
    code and the file size), `record_length` is the length refused,
    `value` the HOSTCODE line's value that names no host code page, or the option line.
    A GAIJI= table gives "cannot_open" (`value` its path), "format_size" (its path: it
    goes on past 1 MiB) or "option" (`value` its path and the faulty line's number)."""

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

    def __init__(self, kind, message, path=None, english=None):
        super().__init__(kind, message, english or _english(kind))
        self.path = path


class RecordError(ConversionError):
    """A record the command stops at: `kind` "record_kind" (it matches no KIND= line and
    no item line comes before the first) or "record_length" (a V or VB file's wrong
    descriptor, or a record or block that runs past the end of the file); `record` is the
    number of the record at fault from 1, as in the message (the DataFrame index counts
    from 0); `offset` (record_length only, else None) the byte of the file, from 0, where
    the descriptor at fault starts, as the message says it (for a block whose records
    do not fill it, the block's BDW)."""

    def __init__(self, kind, record, offset, message, path=None):
        if kind == "record_kind":
            english = f"record {record} is of no record kind"
        else:
            english = f"the record length of record {record} is invalid (byte offset {offset})"
        super().__init__(kind, message, path, english)
        self.record = record
        self.offset = offset


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
    kind: object = None


class Layout:
    """A format file, read and checked exactly as the rekmo command reads it."""

    def __init__(self, data, path=None, base=None):
        """Prefer Layout.load and Layout.parse."""
        try:
            self._data = bytes(memoryview(data))  # never bytes(n), n zero bytes
        except TypeError:
            raise TypeError(f"a format is bytes-like or str, not {type(data).__name__}") from None
        self._path = path
        # GAIJI= tables: relative paths from the format file's folder, or `base`.
        if base is None:
            base = os.path.dirname(path) if path is not None else ""
        folder = os.fsencode(base)
        if folder and not folder.endswith(os.fsencode(os.sep)):
            folder += os.fsencode(os.sep)
        fmt, (kind, item_number, record_length, value), table = _rekmo.parse(self._data, folder)
        if table is not None:
            kind, table_path, line = table
            pieces = _rekmo.gaiji_error_message(kind, table_path, line)
            value = os.fsdecode(table_path) + (f" {line}" if kind == "option" else "")
            raise FormatError(kind, 0, 0, _message(pieces), value)
        if fmt is None:
            pieces = _rekmo.format_error_message(kind, item_number, record_length, value, os.fsencode(path or ""))
            raise FormatError(kind, item_number, record_length, _message(pieces), _decode(value))
        self._format = fmt
        items = [Item(_decode(name), position, length, _TYPE_LETTERS[code], output != 0,
                      exact=exact, scale=scale, sign=sign, digits=digits)
                 for (name, position, length, code, output), (exact, digits, scale, sign) in zip(fmt.items, fmt.forms)]
        # Each layout, numbered as the decoder numbers them (each KIND line's, then that of
        # the item lines before the first): its key, the value of its KIND line as
        # written (X'..' in upper-case hex; a value repeated with another position gets
        # .1, .2, ...), None for the last; and its columns, column name -> (item index,
        # "text" | "int" | "float" | "bigint" | "scaled" | "digits").
        seen = set()
        self._keys = [_unique(f"X'{value.hex().upper()}'" if raw else _decode(value), seen)
                      for value, raw, *_ in fmt.kinds] + [None]
        for key, (*_, first_item, end_item) in zip(self._keys, fmt.kinds):
            for index in range(first_item, end_item):
                items[index] = dataclasses.replace(items[index], kind=key)
        self._layouts = []
        for key, columns in zip(self._keys, fmt.layouts):
            named, names = {}, set()
            for index, kind in columns:
                # Duplicate names become NAME.1, NAME.2, ... as pandas reads a CSV header.
                name = _unique(items[index].name, names)
                named[name] = (index, kind)
                items[index] = dataclasses.replace(items[index], column=name)
            self._layouts.append(named)
        self._kinds = self._layouts[-1]
        # The layouts in the order of read_host's dict: the records of no kind first (their
        # items come first in the file), then the KIND lines in file order.
        self._order = list(range(len(fmt.kinds)))
        if fmt.default_layout or not fmt.kinds:
            self._order.insert(0, len(fmt.kinds))
        self._default_layout = fmt.default_layout
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
    def parse(cls, data, base=None):
        """Reads format-file text: bytes (or any bytes-like object) as they would stand
        in the file, or str (written in code page 932, as a format file is).
        TypeError for anything else. The gaiji tables of its GAIJI= lines are read from
        `base` when their paths are relative (default: the current folder)."""
        if isinstance(data, str):
            data = data.encode("cp932", "surrogateescape")
        return cls(data, base=base)

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
        """The DataFrame's column names: the output items, in format order (with KIND=
        lines, those of the item lines before the first, which read the records of no kind)."""
        return list(self._kinds)

    @property
    def kinds(self):
        """With KIND= lines, the keys of read_host's dict, each with its column names:
        None for the item lines before the first KIND= line (when there are any), then
        each KIND= line's value as written ("1", "X'F1'"; a value that an earlier line
        has gets .1, .2, ...). Empty without KIND= lines."""
        if len(self._layouts) == 1:
            return {}
        return {self._keys[k]: list(self._layouts[k]) for k in self._order}

    @property
    def record_format(self):
        """The format's RECFM: "F" (also for FB and without the line), "V" or "VB"."""
        return self._format.record_format

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


# The module's names of the record faults, as the exceptions name them.
_RECORD_FAULTS = {"record_kind": "record_kind", "record_descriptor": "record_length"}


def _raise_record(kind, record, offset, path):
    """RecordError for the module's fault (kind, record number from 1, byte offset)."""
    message = _message(_rekmo.record_message(kind, record, offset))
    raise RecordError(_RECORD_FAULTS[kind], record, None if kind == "record_kind" else offset, message, path)


def _raise(kind, path, layout):
    if kind == "out_of_memory":
        raise MemoryError(_message(_rekmo.message(kind, b"", 0)))
    message = _message(_rekmo.message(kind, os.fsencode(path or ""), layout.record_length))
    raise ConversionError(kind, message, path)


def convert(host, win, layout, threads=None):
    """Converts HostFile into WinFile exactly as `rekmo HostFile WinFile FormatFile` does:
    the same bytes, on `threads` threads (default: rekmo's own choice). Raises OSError
    when a file cannot be opened or created (WinFile may not name HostFile or the
    format file: shutil.SameFileError, an OSError too), ConversionError otherwise:
    RecordError where the command stops at a record of no kind or a wrong descriptor
    of a V or VB file, WinFile holding the lines of the records before it.

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
    kind, path, record, offset = _rekmo.convert_file(os.fsencode(host), os.fsencode(win), layout._format,
                                                     format_path, threads)
    if kind == "ok":
        return
    if kind in _RECORD_FAULTS:
        _raise_record(kind, record, offset, host)
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
    from a buffer (bytes, bytearray, memoryview, mmap, ...). A V or VB file is walked
    from its start, or from `span`: (first byte, end byte, number of the record at the
    first byte), a piece that begins at a record (VB: block) boundary."""

    def __init__(self, source, layout, span=None):
        self.record_length = layout.record_length
        self.variable = layout.record_format != "F"
        self.span = span or (0, None, 0)
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
        if size is not None and not self.variable:  # a V file's size need not be a multiple of anything
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
                # A V file's records are counted only by walking it to its end.
                raise ValueError("negative record numbers need F records, not V or VB ones" if self.variable else
                                 "negative record numbers need a file of known size, not a stream")
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

    def walk(self, layout, decoder, first, end, batch):
        """Records first:end (end None: to the end of the file) decoded by the decoder's
        decode_records, in batches of at most `batch` records: yields (pieces, fault) per
        batch, pieces the results of decode_records with records, fault None or the
        module's (kind, record, offset), after which nothing follows. F records are read
        with one seek; V and VB records are walked to the first one wanted."""
        if not self.variable:
            decoder.start(first, first * self.record_length)
            for data in self.blocks(layout, first, end, batch):
                piece = decoder.decode_records(data, False, 0, batch)
                yield [piece], piece[3]
                if piece[3] is not None:
                    return
            return
        decoder.start(self.span[2], self.span[0])
        pending = _Pending(self, max(1 << 20, min(_BLOCK_BYTES, batch * self.record_length)))
        skip, taken, pieces, count = first, 0, [], 0
        while True:
            want = batch - count if end is None else min(batch - count, end - first - taken)
            piece = decoder.decode_records(pending.view(), pending.final, skip, want)
            used, skipped, ended, fault, (_, counts), _ = piece
            pending.passed(used)
            skip -= skipped
            got = int(counts.sum())
            taken += got
            count += got
            if got:
                pieces.append(piece)
            if fault is not None:
                yield pieces, fault
                return
            if count == batch:
                yield pieces, None
                pieces, count = [], 0
            if ended or (skip == 0 and end is not None and taken == end - first):
                break
            if skip or got < want:  # the walk needs the bytes that follow
                pending.read()
        if pieces:
            yield pieces, None
        if skip or (end is not None and taken < end - first):
            walked = first - skip + taken
            raise IndexError(f"records {first}:{end} are out of range: {self.name} holds {walked} records")

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


class _Pending:
    """The bytes of a V or VB file that the walk has not passed yet. From a file more
    are read, `chunk` at a time, when the walk asks for them, into a buffer that keeps
    the bytes not passed (at most a record and a descriptor) and grows beyond
    `chunk` only for them."""

    def __init__(self, src, chunk):
        self.src = src
        first, end, _ = src.span
        if src.memory is not None:
            self.buffer = src.memory[first:end]
            self.lo, self.hi = 0, len(self.buffer)
            self.final = True
            return
        if first:
            src.file.seek(first)  # a piece of a file is of a regular file
        self.chunk = chunk
        self.left = None if end is None else end - first
        self.buffer = np.empty(0, np.uint8)
        self.lo = self.hi = 0
        self.final = False

    def view(self):
        return memoryview(self.buffer)[self.lo:self.hi]

    def passed(self, count):
        self.lo += count

    def read(self):
        kept = self.hi - self.lo
        want = self.chunk if self.left is None else min(self.chunk, self.left)
        if kept + want > len(self.buffer):
            grown = np.empty(kept + want, np.uint8)
            grown[:kept] = self.buffer[self.lo:self.hi]
            self.buffer = grown
        else:
            self.buffer[:kept] = self.buffer[self.lo:self.hi].copy()
        got = self.src._read_into(memoryview(self.buffer)[kept:kept + want])
        self.lo, self.hi = 0, kept + got
        if self.left is not None:
            self.left -= got
        self.final = got < want or self.left == 0


class _Reader:
    """read_host and iter_batches: the columns chosen, the decoder, the frames. `plain`
    for F records without KIND= lines, read block by block with decode(); the others
    with decode_records(), one frame per layout."""

    def __init__(self, layout, columns, text, threads, decimals="float"):
        import pandas
        self.pandas = pandas
        if text not in ("str", "bytes"):
            raise ValueError(f'text must be "str" or "bytes", not {text!r}')
        if decimals not in ("float", "decimal"):
            raise ValueError(f'decimals must be "float" or "decimal", not {decimals!r}')
        layouts = layout._layouts
        if columns is None:
            self.names = [list(named) for named in layouts]
        else:
            names = [columns] if isinstance(columns, str) else list(columns)
            unknown = [name for name in names if not any(name in named for named in layouts)]
            if unknown:
                where = layout.kinds or layout.columns
                raise KeyError(f"no output item named {unknown[0]!r}; the columns are {where}")
            if len(set(names)) != len(names):
                raise ValueError(f"a column is named twice in {names}")
            # Under KIND= lines each kind's frame has the names its items have.
            self.names = [[name for name in names if name in named] for named in layouts]
        self.layout = layout
        self.plain = len(layouts) == 1 and layout.record_format == "F"
        self.order, self.kinds, items = [], [], set()
        for named, names in zip(layouts, self.names):
            chosen = sorted(names, key=lambda name: named[name][0])  # the decoder's order: the format's
            self.order.append([chosen.index(name) for name in names])
            self.kinds.append([named[name][1] for name in names])
            items.update(named[name][0] for name in names)
        self.decoder = _rekmo.Decoder(layout._format, sorted(items), text == "bytes", _threads(threads), _CP932,
                                      decimal.Decimal if decimals == "decimal" else None)

    def columns(self, data, out=None, at=0):
        """The column arrays of F records in the user's order; with `out` (from
        allocate()) the records fill its arrays from slot `at` on."""
        arrays = self.decoder.decode(data, out, at)
        return [arrays[i] for i in self.order[0]]

    def read_file(self, src, first, records, out):
        """Records first:first + records of src's regular file into the arrays of
        allocate(), read on the decoding threads: None, or the failure's kind."""
        info = os.fstat(src.file.fileno())
        return self.decoder.read_file(os.fsencode(src.name), (info.st_dev, info.st_ino), first, records, out)

    def allocate(self, records):
        """Arrays for `records` records, filled block by block by columns()."""
        return self.decoder.allocate(records)

    def frame(self, pieces, first, count):
        """A DataFrame of `count` records from lists of column arrays (one list per
        block decoded), its index the record numbers from `first`."""
        return self.frame_of(0, pieces, self.pandas.RangeIndex(first, first + count))

    def frame_of(self, k, pieces, index):
        """Layout k's DataFrame from lists of its column arrays in the user's order."""
        pd = self.pandas
        names = self.names[k]
        if not names:
            return pd.DataFrame(index=index)
        if not pieces:
            pieces = [self.columns(b"")] if self.plain else self.arrays(self.decoder.decode_records(b"", True, 0, 0), k)
        def joined(arrays):
            return arrays[0] if len(arrays) == 1 else np.concatenate(arrays)

        data = {}
        for c, name in enumerate(names):
            if self.kinds[k][c] == "int":  # (values, missing) per block
                values = pd.arrays.IntegerArray(joined([piece[c][0] for piece in pieces]),
                                                joined([piece[c][1] for piece in pieces]))
            else:
                values = joined([piece[c] for piece in pieces])
            data[name] = values
        # No columns=: with it pandas passes the arrays through a Series of objects,
        # each Int64 column made a Python int per value on the way. The dict keeps
        # the order, and copy=False keeps each array as its own block (no copy).
        return pd.DataFrame(data, index=index, copy=False)

    def arrays(self, piece, k):
        """Layout k's column arrays of a decode_records result, in the user's order: [columns]."""
        columns = piece[5][k][1]
        return [[columns[i] for i in self.order[k]]]

    def frames(self, pieces, first):
        """From decode_records results: the DataFrame of every record without KIND=
        lines (its index the record numbers from `first`), else a dict of one DataFrame
        per kind, each indexed by its records' numbers."""
        pd = self.pandas
        if len(self.names) == 1:
            count = sum(len(piece[5][0][0]) for piece in pieces)
            return self.frame_of(0, [self.arrays(piece, 0)[0] for piece in pieces], pd.RangeIndex(first, first + count))
        frames = {}
        for k in self.layout._order:
            numbers = [piece[5][k][0] for piece in pieces]
            index = pd.Index(np.concatenate(numbers) if numbers else np.empty(0, np.int64))
            frames[self.layout._keys[k]] = self.frame_of(k, [self.arrays(piece, k)[0] for piece in pieces], index)
        return frames


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

    With KIND= lines: a dict of one DataFrame per kind (layout.kinds: None for the
    records of no kind, when item lines come before the first KIND= line, then each
    KIND= line's value), each with its kind's columns and indexed by the numbers of its
    records in the file, so that they can be put back in order. RECFM=V and VB files
    are walked by their descriptor words; an item reaching past its record's end is
    missing (texts: ''), as the command writes an empty field. A record of no kind or a
    wrong descriptor raises RecordError, as the command stops there.

    source: a path, or bytes / any buffer of whole records. records: a slice of record
    numbers (read with one seek; V and VB files are walked to it, and take no negative
    numbers). columns: names of the columns wanted (under KIND= lines, each kind's frame
    has those of them its items have). threads: decoding threads (default one per
    core)."""
    return _read(_Reader(layout, columns, text, threads, decimals), _Source(source, layout), layout, records)


def _read(reader, src, layout, records):
    try:
        first, end = src.select(records)
        block = max(1, _BLOCK_BYTES // layout.record_length)
        pieces, count = [], 0
        if not reader.plain:
            for batch, fault in src.walk(layout, reader.decoder, first, end, block):
                if fault is not None:
                    _raise_record(*fault, src.name)
                pieces += batch
            return reader.frames(pieces, first + src.span[2])
        # A file of known size fills the frame's arrays: a regular file read by the
        # decoding threads themselves, a chunk each at a time (no block held, and
        # no thread waits for a read); a buffer or a stream block by block. No
        # block's arrays to join, and memory for one frame (and one block).
        out = reader.allocate(end - first) if end is not None and reader.names[0] else None
        if out is not None and src.file is not None and src.seekable and end > first:
            failed = reader.read_file(src, first, end - first, out)
            if failed is not None:
                _raise(failed, src.name, layout)
            return reader.frame([[out[i] for i in reader.order[0]]], first, end - first)
        for data in src.blocks(layout, first, end, block):
            if out is not None:
                reader.columns(data, out, count)
            elif reader.names[0]:
                pieces.append(reader.columns(data))
            count += len(data) // layout.record_length
        if out is not None:
            pieces = [[out[i] for i in reader.order[0]]]
    finally:
        src.close()
    return reader.frame(pieces, first, count)


def iter_batches(source, layout, batch_records=None, *, records=None, columns=None, text="str", threads=None,
                 decimals="float"):
    """read_host as a generator of DataFrames of at most batch_records records each
    (default: 32 MiB of host data), for files larger than memory: one block of the
    file is read at a time, and memory stays bounded by the batch.

    With KIND= lines it yields (kind, DataFrame) pairs, kind a key of layout.kinds:
    one pair per run of consecutive records of one kind within a batch, in file order.
    The records of a batch before a record of no kind or a wrong descriptor are
    yielded before RecordError is raised."""
    if batch_records is None:
        batch_records = max(1, _DEFAULT_BATCH_BYTES // layout.record_length)
    batch_records = operator.index(batch_records)
    if batch_records < 1:
        raise ValueError(f"batch_records must be at least 1, not {batch_records}")
    reader = _Reader(layout, columns, text, threads, decimals)
    src = _Source(source, layout)
    try:
        first, end = src.select(records)
        if reader.plain:
            for data in src.blocks(layout, first, end, batch_records):
                count = len(data) // layout.record_length
                yield reader.frame([reader.columns(data)] if reader.names[0] else [], first, count)
                first += count
            return
        for batch, fault in src.walk(layout, reader.decoder, first, end, batch_records):
            frames = reader.frames(batch, first)
            if len(reader.names) == 1:
                if len(frames):
                    yield frames
                first += len(frames)
            else:
                yield from _runs(batch, frames, layout)
            if fault is not None:
                _raise_record(*fault, src.name)
    finally:
        src.close()


def _runs(batch, frames, layout):
    """(kind, DataFrame) per run of consecutive records of one kind in a batch."""
    at = {}
    key, length = None, 0
    for piece in batch:
        for k, count in zip(*(array.tolist() for array in piece[4])):
            if length and k == key:
                length += count
                continue
            if length:
                yield _run(frames, layout, key, length, at)
            key, length = k, count
    if length:
        yield _run(frames, layout, key, length, at)


def _run(frames, layout, k, length, at):
    start = at.get(k, 0)
    at[k] = start + length
    name = layout._keys[k]
    return name, frames[name].iloc[start:start + length]
