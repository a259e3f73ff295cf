"""Encode once, read many: repeated reads, shared readers and resident memory."""
import os
import statistics

from mounts import olvex
from probes import cpu_seconds, median_wall, read_all, read_together, rss_kib, wall

HELD = [f"held/{i:04d}.mp3" for i in range(10)]
SONG = "song.mp3"
PLAIN = "plain/song.bin"
MIB = 1 << 20


def held_memory(point, pid):
    """(resident KiB before, resident KiB after, MP3 bytes) for the ten held
    files read to their ends and kept open."""
    before = rss_kib(pid)
    files = []
    try:
        sizes = 0
        for name in HELD:
            files.append(open(os.path.join(point, name), "rb", buffering=0))
            while files[-1].read(1 << 16):
                pass
            sizes += os.fstat(files[-1].fileno()).st_size
        return before, rss_kib(pid), sizes
    finally:
        for f in files:
            f.close()


def write_plain(library, size):
    """A file that is served as it is, as large as the transcoded song."""
    os.makedirs(os.path.join(library, "plain"), exist_ok=True)
    with open(os.path.join(library, PLAIN), "wb") as out:
        out.write(os.urandom(size))


def reader_cpu(mounter, command, library, readers, runs):
    """Median CPU time of the process while `readers` read one file at once."""
    samples = []
    for _ in range(runs):
        with mounter.mount(command, library) as (point, pid):
            before = cpu_seconds(pid)
            read_together([os.path.join(point, HELD[0])] * readers)
            samples.append(cpu_seconds(pid) - before)
    return statistics.median(samples)


def measure(report, mounter, library, olvex_binary, runs):
    cache = os.path.join(mounter.work, "cache-output")
    os.mkdir(cache)
    uncached = olvex(olvex_binary)
    cached = olvex(olvex_binary, f"--cachedir={cache}")
    median_of = f"median of {runs}"

    held_cached_row = "resident growth, 10 read files held open, --cachedir"
    second_row = "second full read after close / plain file, --cachedir"
    remount_row = "first read after remount with --cachedir / plain file"
    with report.section([(held_cached_row, "MiB", 4), (second_row, "ratio", 2),
                         (remount_row, "ratio", 2)]):
        with mounter.mount(cached, library) as (point, pid):
            before, after, sizes = held_memory(point, pid)
            report.add(held_cached_row, (after - before) / 1024, "MiB",
                       f"{before // 1024} to {after // 1024} MiB resident, MP3s {sizes / MIB:.1f} "
                       f"MiB, first reads", 4)
            song = os.path.join(point, SONG)
            write_plain(library, os.stat(song).st_size)
            read_all(song)
            second = median_wall(lambda: read_all(song), runs)
            direct = median_wall(lambda: read_all(os.path.join(point, PLAIN)), runs)
            report.ratio(second_row, second, direct,
                         f"{second * 1e3:.1f} ms vs {direct * 1e3:.1f} ms for "
                         f"{os.stat(song).st_size / MIB:.1f} MiB, {median_of}", 2)
        first, direct = [], []
        for _ in range(runs):
            with mounter.mount(cached, library) as (point, _):
                first.append(wall(lambda: read_all(os.path.join(point, SONG))))
                direct.append(wall(lambda: read_all(os.path.join(point, PLAIN))))
        first, direct = statistics.median(first), statistics.median(direct)
        report.ratio(remount_row, first, direct,
                     f"{first * 1e3:.1f} ms vs {direct * 1e3:.1f} ms, {median_of} remounts", 2)

    cpu_row = "olvex CPU, two readers of one file / one reader"
    with report.section([(cpu_row, "ratio", 1.25)]):
        one = reader_cpu(mounter, uncached, library, 1, runs)
        two = reader_cpu(mounter, uncached, library, 2, runs)
        report.ratio(cpu_row, two, one,
                     f"{two:.2f} s vs {one:.2f} s utime+stime, {median_of} fresh mounts", 1.25)

    held_row = "resident growth, 10 read files held open / their MP3 sizes"
    with report.section([(held_row, "ratio", 1.3)]):
        with mounter.mount(uncached, library) as (point, pid):
            before, after, sizes = held_memory(point, pid)
        report.ratio(held_row, (after - before) * 1024, sizes,
                     f"{before // 1024} to {after // 1024} MiB resident, MP3s {sizes / MIB:.1f} "
                     f"MiB, no --cachedir, fresh mount", 1.3)
