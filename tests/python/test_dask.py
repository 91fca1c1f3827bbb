"""rekmo.dask on a LocalCluster of two worker processes: partitions at record
boundaries, known divisions, and the same frame as read_host on one machine."""

import os

import pandas as pd
import pytest

import rekmo
from conftest import source

distributed = pytest.importorskip("distributed")
import rekmo.dask  # noqa: E402


def test_three_files_on_a_local_cluster(write):
    layout = rekmo.Layout.load(source("tests/data/every_type.fmt"))
    data = open(source("tests/data/every_type.bin"), "rb").read()
    length = layout.record_length
    paths = [write("a.bin", data[:50 * length]), write("b.bin", data[50 * length:53 * length]),
             write("c.bin", data[53 * length:])]
    frame = rekmo.dask.read_host(paths, layout, blocksize=20 * length + 7)
    # 50 records in parts of 20, then 3, then 67 in parts of 20.
    assert frame.divisions == (0, 20, 40, 50, 53, 73, 93, 113, 119)
    expected = pd.concat([rekmo.read_host(path, layout) for path in paths], ignore_index=True)
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True, dashboard_address=None,
                                  local_directory=str(paths[0].parent)) as cluster:
        with distributed.Client(cluster):
            pd.testing.assert_frame_equal(frame.compute(), expected)
            picked = rekmo.dask.read_host(str(paths[0].parent / "*.bin"), layout, columns=["K", "P"], text="bytes")
            pd.testing.assert_frame_equal(picked.compute(), rekmo.read_host(data, layout, columns=["K", "P"], text="bytes"))

    write("d.bin", data[:length + 1])
    with pytest.raises(rekmo.ConversionError) as raised:
        rekmo.dask.read_host(paths + [paths[0].parent / "d.bin"], layout)
    assert raised.value.kind == "size_mismatch"


def test_a_name_that_exists_is_that_file_before_it_is_a_pattern(write):
    layout = rekmo.Layout.load(source("examples/customers.fmt"))
    data = open(source("examples/customers.bin"), "rb").read()  # 4 records
    named = write("x[1].bin", data)
    other = write("x1.bin", data[:2 * layout.record_length])

    def records(paths):
        return len(rekmo.dask.read_host(paths, layout).compute(scheduler="sync"))

    for name, count in [(named, 4), (str(named), 4), (os.fsencode(named), 4), ([os.fsencode(named)], 4),
                        (named.parent / "x[12].bin", 2), (os.fsencode(named.parent / "x[12].bin"), 2),
                        (str(named.parent / "x*.bin"), 6)]:
        assert records(name) == count, name
    with pytest.raises(FileNotFoundError):
        rekmo.dask.read_host(named.parent / "y*.bin", layout)
    other.unlink()
    assert records(str(named)) == 4
