"""A library's first scan: `du -s --apparent-size` of a fresh mount, one stat of
every file as a media server or rsync does, against the bare passthrough of the
same tree; and one `ls -l` of a wide folder of that library.
"""
import os
import statistics
import subprocess
import sys

from mounts import olvex, passthrough
from probes import COMMAND_TIMEOUT, ls_l, read_all, wall


def du(point):
    subprocess.run(["du", "-s", "--apparent-size", point], stdout=subprocess.DEVNULL,
                   check=True, timeout=COMMAND_TIMEOUT)


def drop_page_cache():
    """As after a boot: the sources' pages and inodes are on disk only."""
    os.sync()
    with open("/proc/sys/vm/drop_caches", "w") as control:
        control.write("3")


def warm(tree):
    for directory, _, names in os.walk(tree):
        for name in names:
            read_all(os.path.join(directory, name))


def files_under(tree):
    return sum(len(names) for _, _, names in os.walk(tree))


def scan(mounter, command, tree, cold, runs):
    """Median seconds of du on fresh mounts, each after dropping the page cache when cold."""
    times = []
    for _ in range(runs):
        with mounter.mount(command, tree) as (point, _):
            if cold:
                drop_page_cache()
            times.append(wall(lambda: du(point)))
    return statistics.median(times)


def first_listing(mounter, command, tree, directory, runs):
    times = []
    for _ in range(runs):
        with mounter.mount(command, tree) as (point, _):
            times.append(wall(lambda: ls_l(os.path.join(point, directory))))
    return statistics.median(times)


def measure(report, mounter, olvex_binary, passthrough_binary, make_library, scale):
    tiny = scale == "tiny"
    tree = os.path.join(mounter.work, "scan-library")
    print(f"Writing the {scale} scan tree...", file=sys.stderr)
    subprocess.run([make_library, tree, scale, "scan"], check=True)
    files = files_under(tree)
    wide = len(os.listdir(os.path.join(tree, "wide")))
    cold_row = f"du of {files} files after dropping the page cache: olvex / passthrough"
    warm_row = f"du of {files} files, sources in the page cache, olvex caches empty / passthrough"
    cached_row = f"du of {files} files after dropping the page cache, sizes in --cachedir / passthrough"
    wide_row = f"ls -l of one folder of {wide} files, first / passthrough"
    runs = 1 if tiny else 3
    floor = passthrough(passthrough_binary)
    mirror = olvex(olvex_binary)
    with report.section([(cold_row, "ratio", 2), (warm_row, "ratio", 1.5),
                         (cached_row, "ratio", 1.2), (wide_row, "ratio", 1.5)]):
        floor_cold = scan(mounter, floor, tree, True, runs)
        cold = scan(mounter, mirror, tree, True, runs)
        report.ratio(cold_row, cold, floor_cold,
                     f"{cold:.2f} s vs {floor_cold:.2f} s, median of {runs}", 2)

        warm(tree)
        floor_warm = scan(mounter, floor, tree, False, runs)
        warm(tree)
        warm_seconds = scan(mounter, mirror, tree, False, runs)
        report.ratio(warm_row, warm_seconds, floor_warm,
                     f"{warm_seconds:.2f} s vs {floor_warm:.2f} s, median of {runs}", 1.5)

        cache = os.path.join(mounter.work, "cache-scan")
        os.mkdir(cache)
        cached = olvex(olvex_binary, f"--cachedir={cache}")
        with mounter.mount(cached, tree) as (point, _):
            du(point)
        cached_seconds = scan(mounter, cached, tree, True, runs)
        report.ratio(cached_row, cached_seconds, floor_cold,
                     f"{cached_seconds:.2f} s vs {floor_cold:.2f} s, median of {runs}, on a "
                     f"cache an earlier mount filled", 1.2)

        listing_runs = 1 if tiny else 5
        warm(tree)
        floor_wide = first_listing(mounter, floor, tree, "wide", listing_runs)
        wide_seconds = first_listing(mounter, mirror, tree, "wide", listing_runs)
        report.ratio(wide_row, wide_seconds, floor_wide,
                     f"{wide_seconds * 1e3:.1f} ms vs {floor_wide * 1e3:.1f} ms, median of "
                     f"{listing_runs} fresh mounts", 1.5)
