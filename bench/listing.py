"""`ls -l` through olvex against the bare passthrough of the same tree.

Every first listing is on a fresh mount, so that neither the kernel nor the
process remembers anything; each figure is the median over RUNS mounts.
"""
import os
import statistics
import time

from mounts import olvex, passthrough
from probes import ATTRIBUTE_TIMEOUT, ls_l, wall


def listings(mounter, command, library, directory, runs, repeat=False):
    """Medians of the first listing on a fresh mount and, with repeat, of the
    same listing again once the kernel's attributes have expired."""
    first, again = [], []
    for _ in range(runs):
        with mounter.mount(command, library) as (point, _):
            path = os.path.join(point, directory)
            first.append(wall(lambda: ls_l(path)))
            if repeat:
                time.sleep(ATTRIBUTE_TIMEOUT)
                again.append(wall(lambda: ls_l(path)))
    return statistics.median(first), statistics.median(again) if repeat else None


def files_in(library, directory):
    return len(os.listdir(os.path.join(library, directory)))


def per_file(seconds, count):
    return f"{seconds / count * 1e3:.3f} ms/file"


def measure(report, mounter, library, olvex_binary, passthrough_binary, runs):
    floor = passthrough(passthrough_binary)
    mirror = olvex(olvex_binary)
    covers = files_in(library, "covers")
    flats = sorted((files_in(library, d), d) for d in os.listdir(library) if d.startswith("flat-"))
    (small, small_dir), (large, large_dir) = flats[0], flats[-1]
    median_of = f"median of {runs} fresh mounts"

    first_row = f"ls -l {covers} files with covers, first: olvex / passthrough"
    again_row = f"ls -l {covers} files with covers, after 1 s: olvex / passthrough"
    remount_row = f"ls -l {covers} files, first after remount with --cachedir / passthrough first"
    growth_row = f"ls -l first, {large} vs {small} files in one directory: olvex per file"
    with report.section([(first_row, "ratio", 4), (again_row, "ratio", 1.5),
                         (remount_row, "ratio", 2)]):
        floor_first, floor_again = listings(mounter, floor, library, "covers", runs, repeat=True)
        first, again = listings(mounter, mirror, library, "covers", runs, repeat=True)
        report.ratio(first_row, first, floor_first,
                     f"{per_file(first, covers)} vs {per_file(floor_first, covers)}, {median_of}",
                     4)
        report.ratio(again_row, again, floor_again,
                     f"{per_file(again, covers)} vs {per_file(floor_again, covers)}, "
                     f"listed again {ATTRIBUTE_TIMEOUT} s after the first", 1.5)

        cache = os.path.join(mounter.work, "cache-listing")
        os.mkdir(cache)
        cached = olvex(olvex_binary, f"--cachedir={cache}")
        with mounter.mount(cached, library) as (point, _):
            ls_l(os.path.join(point, "covers"))
        remounted, _ = listings(mounter, cached, library, "covers", runs)
        report.ratio(remount_row, remounted, floor_first,
                     f"{per_file(remounted, covers)} vs {per_file(floor_first, covers)}, "
                     f"{median_of} on a cache an earlier mount filled", 2)

    with report.section([(growth_row, "ratio", 1.3)]):
        costs = {}
        for name, command in (("olvex", mirror), ("passthrough", floor)):
            for count, directory in ((small, small_dir), (large, large_dir)):
                seconds, _ = listings(mounter, command, library, directory, runs)
                costs[name, count] = seconds / count
        floor_growth = costs["passthrough", large] / costs["passthrough", small]
        report.ratio(growth_row, costs["olvex", large], costs["olvex", small],
                     f"{costs['olvex', large] * 1e3:.3f} vs {costs['olvex', small] * 1e3:.3f} "
                     f"ms/file (passthrough {floor_growth:.2f}x), {median_of}", 1.3)
