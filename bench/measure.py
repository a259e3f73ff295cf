#!/usr/bin/env python3
"""Writes the libraries under WORK, measures olvex against the plain tools, the
source tree and a bare FUSE passthrough, and prints a table.

measure.py WORK OLVEX PASSTHROUGH MAKE_LIBRARY JSON_PATH [--json] [--only=GROUP,...]

The groups, all by default: classic, listing, output_cache, segments, cuesheets, scan.
"""
import json
import os
import signal
import subprocess
import sys
import threading

import cuesheets
import listing
import output_cache
import scan
import segments
from mounts import Mounter, olvex
from probes import latency, ls_l, pipeline, read_all, wall
from report import Report


def classic(report, mounter, library, olvex_binary):
    """Sequential reads against flac | lame, listings against the source tree,
    latencies, parallel reads and memory, on one CBR and one VBR mount."""
    modes = (("CBR 128", [], ["-b", "128", "-q", "5"]),
             ("VBR", ["--vbr"], ["--vbr-old", "-V", "5", "-B", "128", "-q", "5"]))
    song = os.path.join(library, "song.flac")
    for mode, options, lame_args in modes:
        name = f"sequential read {mode}: mount / flac|lame"
        with report.section([(name, "ratio", None)]):
            with mounter.mount(olvex(olvex_binary, *options), library) as (point, _):
                mirror = wall(lambda: read_all(os.path.join(point, "song.mp3")))
            tools = wall(lambda: pipeline(song, lame_args))
            report.add(name, mirror / tools, "ratio", f"{mirror:.2f} s vs {tools:.2f} s")

    covers = len(os.listdir(os.path.join(library, "covers")))
    names = [(f"ls -l {covers} files, {n}: per-file cost", "ms/file", None)
             for n in ("first", "repeated")]
    names += [("open + first 4 KiB", "ms", None), ("open + last 128 bytes", "ms", None),
              ("two files in parallel: throughput gain", "ratio", None),
              ("resident memory, 10 read files open / their MP3 sizes", "ratio", None)]
    with report.section(names), mounter.mount(olvex(olvex_binary), library) as (cbr, pid):
        plain = min(wall(lambda: ls_l(os.path.join(library, "covers"))) for _ in range(3))
        first = wall(lambda: ls_l(os.path.join(cbr, "covers")))
        again = min(wall(lambda: ls_l(os.path.join(cbr, "covers"))) for _ in range(3))
        for (name, _, _), value in zip(names, (first, again)):
            report.add(name, value / covers * 1e3, "ms/file",
                       f"{value / plain:.1f}x the source listing ({plain / covers * 1e3:.3f} "
                       f"ms/file)")

        mp3 = os.path.join(cbr, "song.mp3")
        report.add("open + first 4 KiB", latency(mp3, lambda size: 0, 4096) * 1e3, "ms",
                   "median of 9 fresh opens")
        report.add("open + last 128 bytes", latency(mp3, lambda size: size - 128, 128) * 1e3, "ms",
                   "median of 9 fresh opens")

        held = [os.path.join(cbr, name) for name in output_cache.HELD]
        one_by_one = wall(lambda: [read_all(p) for p in held[0:2]])
        threads = [threading.Thread(target=read_all, args=(p,)) for p in held[2:4]]
        parallel = wall(lambda: ([t.start() for t in threads], [t.join() for t in threads]))
        report.add("two files in parallel: throughput gain", one_by_one / parallel, "ratio",
                   f"{one_by_one:.2f} s one after the other vs {parallel:.2f} s together")

        baseline, resident, sizes = output_cache.held_memory(cbr, pid)
        report.add("resident memory, 10 read files open / their MP3 sizes",
                   resident * 1024 / sizes, "ratio",
                   f"{resident // 1024} MiB resident ({baseline // 1024} MiB before), MP3s "
                   f"{sizes >> 20} MiB")


GROUPS = ("classic", "listing", "output_cache", "segments", "cuesheets", "scan")
# The groups that measure the library make_library writes.
ON_LIBRARY = {"classic", "listing", "output_cache"}


def chosen_groups(arguments):
    chosen = set(GROUPS)
    for argument in arguments:
        if argument.startswith("--only="):
            chosen = set(argument[len("--only="):].split(","))
    unknown = chosen - set(GROUPS)
    if unknown:
        sys.exit(f"measure.py: no group {', '.join(sorted(unknown))}; the groups are "
                 f"{', '.join(GROUPS)}")
    return chosen


def main():
    work, olvex_binary, passthrough_binary, make_library, json_path = sys.argv[1:6]
    chosen = chosen_groups(sys.argv[6:])
    library = os.path.join(work, "library")
    scale = os.environ.get("BENCH_SCALE", "normal")
    tiny = scale == "tiny"
    # Unmount on the way out also when bench/run is told to stop.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(128 + signal.SIGTERM))

    if chosen & ON_LIBRARY:
        print(f"Writing the {scale} library...", file=sys.stderr)
        subprocess.run([make_library, library, scale], check=True)

    report = Report(scale)
    mounter = Mounter(work)
    if "classic" in chosen:
        classic(report, mounter, library, olvex_binary)
    if "listing" in chosen:
        # A listing is over in milliseconds on a shared machine: more runs for its median.
        listing.measure(report, mounter, library, olvex_binary, passthrough_binary,
                        1 if tiny else 5)
    if "output_cache" in chosen:
        output_cache.measure(report, mounter, library, olvex_binary, 1 if tiny else 3)
    if "segments" in chosen:
        segments.measure(report, mounter, olvex_binary, tiny)
    if "cuesheets" in chosen:
        cuesheets.measure(report, mounter, olvex_binary, passthrough_binary, tiny)
    if "scan" in chosen:
        scan.measure(report, mounter, olvex_binary, passthrough_binary, make_library, scale)

    report.print_table()
    report.write_json(json_path)
    if "--json" in sys.argv:
        print(json.dumps(report.json(), indent=2))
    return 1 if report.failed else 0


if __name__ == "__main__":
    sys.exit(main())
