"""The small actions the measurements time, and what they read from /proc."""
import os
import resource
import statistics
import subprocess
import threading
import time

COMMAND_TIMEOUT = 300  # seconds for any one listing, pipeline or read
# The kernel keeps FUSE attributes and entries for 1 s by default; wait past that.
ATTRIBUTE_TIMEOUT = 1.2


def wall(action):
    start = time.perf_counter()
    action()
    return time.perf_counter() - start


def wall_and_cpu(action, cpu):
    """The wall time of action and the CPU seconds cpu() counted meanwhile."""
    before = cpu()
    seconds = wall(action)
    return seconds, cpu() - before


def median_wall(action, runs):
    return statistics.median(wall(action) for _ in range(runs))


def read_all(path):
    total = 0
    with open(path, "rb", buffering=0) as f:
        while True:
            chunk = f.read(1 << 16)
            if not chunk:
                return total
            total += len(chunk)


def read_together(paths):
    """Reads every path to its end, each in its own thread, all at once."""
    failures = []

    def reader(path):
        try:
            read_all(path)
        except OSError as error:
            failures.append(error)

    threads = [threading.Thread(target=reader, args=(p,), daemon=True) for p in paths]
    for t in threads:
        t.start()
    for t in threads:
        t.join(COMMAND_TIMEOUT)
        if t.is_alive():
            raise TimeoutError(f"a reader did not finish in {COMMAND_TIMEOUT} s")
    if failures:
        raise failures[0]


def ls_l(path):
    subprocess.run(["ls", "-l", path], stdout=subprocess.DEVNULL, check=True,
                   timeout=COMMAND_TIMEOUT)


def pipeline(source, lame_args, flac_args=(), output="/dev/null"):
    """source decoded by flac (with flac_args) and encoded by lame into output."""
    flac = subprocess.Popen(["flac", "-dcs", *flac_args, source], stdout=subprocess.PIPE)
    try:
        subprocess.run(["lame", "--silent", *lame_args, "-", output], stdin=flac.stdout,
                       check=True, timeout=COMMAND_TIMEOUT)
    finally:
        flac.stdout.close()
        flac.wait(timeout=COMMAND_TIMEOUT)


def open_and_read(path, offset_of, size):
    """Opens path and reads size bytes at offset_of(fd), as a player starting
    somewhere does; offset_of may read the file first."""
    fd = os.open(path, os.O_RDONLY)
    try:
        os.pread(fd, size, offset_of(fd))
    finally:
        os.close(fd)


def latency(path, offset_of, size, count=9):
    """Median time of open_and_read at offset_of(file size)."""
    def at(fd):
        return offset_of(os.fstat(fd).st_size)
    return statistics.median(wall(lambda: open_and_read(path, at, size)) for _ in range(count))


def rss_kib(pid):
    with open(f"/proc/{pid}/status") as status:
        for line in status:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    return 0


def cpu_seconds(pid):
    """User plus system time of the process so far."""
    with open(f"/proc/{pid}/stat") as stat:
        fields = stat.read().rsplit(")", 1)[1].split()
    # utime and stime are fields 14 and 15; the split starts at field 3.
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def children_cpu():
    """User plus system time of this process's children that have ended."""
    usage = resource.getrusage(resource.RUSAGE_CHILDREN)
    return usage.ru_utime + usage.ru_stime
