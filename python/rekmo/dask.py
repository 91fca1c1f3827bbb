"""Host files as a Dask DataFrame, for many or large files on a cluster.

    import rekmo, rekmo.dask
    frame = rekmo.dask.read_host(["a.bin", "b.bin"], rekmo.Layout.load("ledger.fmt"))

Each partition is a range of whole records of one file, computed from the
file's size and the record length (V and VB files: from one pass over their
descriptor words, cut at record or block boundaries); its task reads only
that range (one seek) with rekmo's reader. Runs unchanged on
dask.distributed: the layout travels to the workers as the format text it
was read from.
"""

import glob
import os

import dask
import dask.dataframe as dd
from dask.utils import parse_bytes

import rekmo

__all__ = ["read_host"]

_PASS_BYTES = 64 << 20  # bytes read at once by the pass over a V or VB file's descriptors


def _path(path):
    """A path as str, bytes decoded as the file system names them (so that the same
    file is opened, and rekmo.read_host takes it for a path, not for records)."""
    return os.fsdecode(os.fspath(path))


def _paths(paths):
    if isinstance(paths, (str, bytes, os.PathLike)):
        path = _path(paths)
        # A name that exists is that file, whatever its characters; a pattern is
        # expanded only when no file has that name.
        if glob.has_magic(path) and not os.path.lexists(path):
            found = sorted(glob.glob(path))
            if not found:
                raise FileNotFoundError(f"no file matches {path!r}")
            return found
        return [path]
    return [_path(path) for path in paths]


def _renumbered(frames, shift):
    """The frame, or each frame of a dict, with `shift` added to its index."""
    for frame in frames.values() if isinstance(frames, dict) else [frames]:
        frame.index += shift
    return frames


def _read_part(part, layout, columns, text, decimals):
    # F: records first:end of the file; V, VB: the bytes first:end, from record
    # `number` of the file; the first record numbered `across` the files.
    path, span, first, end, number, across = part
    if not span:
        frames = rekmo.read_host(path, layout, records=slice(first, end), columns=columns, text=text, threads=1,
                                 decimals=decimals)
        return _renumbered(frames, across - first)
    reader = rekmo._Reader(layout, columns, text, 1, decimals)
    frames = rekmo._read(reader, rekmo._Source(path, layout, (first, end, number)), layout, None)
    return _renumbered(frames, across - number)


def _variable_parts(path, layout, every, across):
    """A V or VB file cut at record (VB: block) boundaries about `every` bytes apart, by
    one pass over its descriptors: its parts, and how many records it holds. A wrong
    descriptor raises rekmo.RecordError, as read_host would."""
    src = rekmo._Source(path, layout)
    try:
        if not src.seekable:
            raise ValueError(f"{path!r} is not a regular file: its records cannot be split into ranges")
        splitter = rekmo._rekmo.Splitter(layout._format, every)
        pending = rekmo._Pending(src, _PASS_BYTES)
        cuts, size = [], 0
        while True:
            used, new, ended, fault, records = splitter.feed(pending.view(), pending.final)
            pending.passed(used)
            size += used
            cuts += new
            if fault is not None:
                rekmo._raise_record("record_descriptor", *fault, src.name)
            if ended:
                break
            pending.read()
    finally:
        src.close()
    bounds = cuts + [(size, records)]
    return [(path, True, start, end, number, across + number)
            for (start, number), (end, _) in zip(bounds, bounds[1:])], records


def read_host(paths, layout, blocksize="256MiB", *, columns=None, text="str", decimals="float"):
    """Host files as one dask.dataframe.DataFrame, the files' records in order.

    paths: a path (str, bytes or path-like), a glob pattern or a list of paths; a
    name that holds *, ? or [ is read as it is when a file has that name, and
    expanded as a pattern only when none has. blocksize: host bytes per
    partition (a number or a string such as "64MiB"), rounded down to whole
    records (at least one); a V or VB file is cut at the first record (VB: block)
    boundary at least blocksize bytes after the last cut, found by one pass over its
    descriptors before any task runs. The index is the record number counted across
    the files from 0, so the divisions are known. Every file is measured before any
    task runs: a size that is no whole number of records raises
    rekmo.ConversionError, a wrong descriptor rekmo.RecordError, a missing file
    OSError. columns, text and decimals as for rekmo.read_host.

    With KIND= lines, a dict of one Dask DataFrame per kind, as rekmo.read_host gives
    pandas ones: each indexed by its records' numbers (its divisions unknown); the
    frames share their tasks, so computing them together reads each part once."""
    paths = _paths(paths)
    record_length = layout.record_length
    every = parse_bytes(blocksize) if isinstance(blocksize, str) else int(blocksize)
    per_part = max(1, every // record_length)
    parts, offset = [], 0
    for path in paths:
        if layout.record_format != "F":
            found, count = _variable_parts(path, layout, every, offset)
            parts += found
            offset += count
            continue
        records = rekmo._Source(path, layout)  # measures it; raises as read_host would
        records.close()
        count = records.records
        if count is None:
            raise ValueError(f"{path!r} is not a regular file: its records cannot be split into ranges")
        parts.extend((path, False, first, min(count, first + per_part), first, offset + first)
                     for first in range(0, count, per_part))
        offset += count
    meta = rekmo.read_host(b"", layout, columns=columns, text=text, decimals=decimals)
    if isinstance(meta, dict):
        if not parts:
            return {key: dd.from_pandas(frame, npartitions=1) for key, frame in meta.items()}
        tasks = [dask.delayed(_read_part, pure=True)(part, layout, columns, text, decimals) for part in parts]
        return {key: dd.from_delayed([task[key] for task in tasks], meta=frame, verify_meta=False)
                for key, frame in meta.items()}
    if not parts:
        return dd.from_pandas(meta, npartitions=1)
    divisions = [part[5] for part in parts] + [offset - 1]
    return dd.from_map(_read_part, parts, layout=layout, columns=columns, text=text, decimals=decimals, meta=meta,
                       divisions=divisions, label="rekmo-read-host", enforce_metadata=False)
