"""Host files as a Dask DataFrame, for many or large files on a cluster.

    import rekmo, rekmo.dask
    frame = rekmo.dask.read_host(["a.bin", "b.bin"], rekmo.Layout.load("ledger.fmt"))

Each partition is a range of whole records of one file, computed from the
file's size and the record length; its task reads only that range (one seek)
with rekmo.read_host. Runs unchanged on dask.distributed: the layout travels
to the workers as the format text it was read from.
"""

import glob
import os

import dask.dataframe as dd
from dask.utils import parse_bytes

import rekmo

__all__ = ["read_host"]


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


def _read_part(part, layout, columns, text, decimals):
    path, first, end, number = part  # records first:end of the file, the first numbered `number`
    frame = rekmo.read_host(path, layout, records=slice(first, end), columns=columns, text=text, threads=1,
                            decimals=decimals)
    frame.index += number - first
    return frame


def read_host(paths, layout, blocksize="256MiB", *, columns=None, text="str", decimals="float"):
    """Host files as one dask.dataframe.DataFrame, the files' records in order.

    paths: a path (str, bytes or path-like), a glob pattern or a list of paths; a
    name that holds *, ? or [ is read as it is when a file has that name, and
    expanded as a pattern only when none has. blocksize: host bytes per
    partition (a number or a string such as "64MiB"), rounded down to whole
    records (at least one). The index is the record number counted across the
    files from 0, so the divisions are known. Every file is measured before any
    task runs: a size that is no whole number of records raises
    rekmo.ConversionError, a missing file OSError. columns, text and decimals as
    for rekmo.read_host."""
    paths = _paths(paths)
    record_length = layout.record_length
    per_part = max(1, parse_bytes(blocksize) // record_length if isinstance(blocksize, str) else
                   int(blocksize) // record_length)
    parts, offset = [], 0
    for path in paths:
        records = rekmo._Source(path, layout)  # measures it; raises as read_host would
        records.close()
        count = records.records
        if count is None:
            raise ValueError(f"{path!r} is not a regular file: its records cannot be split into ranges")
        parts.extend((path, first, min(count, first + per_part), offset + first) for first in range(0, count, per_part))
        offset += count
    meta = rekmo.read_host(b"", layout, columns=columns, text=text, decimals=decimals)
    if not parts:
        return dd.from_pandas(meta, npartitions=1)
    divisions = [part[3] for part in parts] + [offset - 1]
    return dd.from_map(_read_part, parts, layout=layout, columns=columns, text=text, decimals=decimals, meta=meta,
                       divisions=divisions, label="rekmo-read-host", enforce_metadata=False)

