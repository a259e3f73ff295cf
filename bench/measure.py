#!/usr/bin/env python3
"""Measures the mounted mirrors against the plain tools and prints a table.

measure.py LIBRARY CBR_MOUNT VBR_MOUNT CBR_PID JSON_PATH
"""
import json
import os
import platform
import statistics
import subprocess
import sys
import threading
import time


def wall(action):
    start = time.perf_counter()
    action()
    return time.perf_counter() - start


def read_all(path):
    total = 0
    with open(path, "rb", buffering=0) as f:
        while True:
            chunk = f.read(1 << 16)
            if not chunk:
                return total
            total += len(chunk)


def pipeline(source, lame_args):
    flac = subprocess.Popen(["flac", "-dcs", source], stdout=subprocess.PIPE)
    subprocess.run(["lame", "--silent", *lame_args, "-", "/dev/null"], stdin=flac.stdout, check=True)
    flac.stdout.close()
    flac.wait()


def ls_l(path):
    subprocess.run(["ls", "-l", path], stdout=subprocess.DEVNULL, check=True)


def latency(path, offset_of, size, count=9):
    times = []
    for _ in range(count):
        start = time.perf_counter()
        fd = os.open(path, os.O_RDONLY)
        try:
            os.pread(fd, size, offset_of(os.fstat(fd).st_size))
        finally:
            os.close(fd)
        times.append(time.perf_counter() - start)
    return statistics.median(times)


def rss_kib(pid):
    with open(f"/proc/{pid}/status") as status:
        for line in status:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    return 0


def machine():
    model = next((l.split(":", 1)[1].strip() for l in open("/proc/cpuinfo") if l.startswith("model name")), "?")
    memory = next((int(l.split()[1]) for l in open("/proc/meminfo") if l.startswith("MemTotal")), 0)
    return {"cpu": model, "cores": os.cpu_count(), "memory_mib": memory // 1024, "kernel": platform.release()}


def main():
    library, cbr, vbr, pid, json_path = sys.argv[1:6]
    pid = int(pid)
    rows = []

    def row(name, value, unit, note):
        rows.append({"measure": name, "value": round(value, 3), "unit": unit, "note": note})

    song = os.path.join(library, "song.flac")
    for mode, mount, lame_args in (("CBR 128", cbr, ["-b", "128", "-q", "5"]),
                                   ("VBR", vbr, ["--vbr-old", "-V", "5", "-B", "128", "-q", "5"])):
        mirror = wall(lambda: read_all(os.path.join(mount, "song.mp3")))
        tools = wall(lambda: pipeline(song, lame_args))
        row(f"sequential read {mode}: mount / flac|lame", mirror / tools, "ratio",
            f"{mirror:.2f} s vs {tools:.2f} s")

    covers = len(os.listdir(os.path.join(library, "covers")))
    plain = min(wall(lambda: ls_l(os.path.join(library, "covers"))) for _ in range(3))
    first = wall(lambda: ls_l(os.path.join(cbr, "covers")))
    again = min(wall(lambda: ls_l(os.path.join(cbr, "covers"))) for _ in range(3))
    for name, value in (("first", first), ("repeated", again)):
        row(f"ls -l {covers} files, {name}: per-file cost", value / covers * 1e3, "ms/file",
            f"{value / plain:.1f}x the source listing ({plain / covers * 1e3:.3f} ms/file)")

    mp3 = os.path.join(cbr, "song.mp3")
    row("open + first 4 KiB", latency(mp3, lambda size: 0, 4096) * 1e3, "ms", "median of 9 fresh opens")
    row("open + last 128 bytes", latency(mp3, lambda size: size - 128, 128) * 1e3, "ms",
        "median of 9 fresh opens")

    held = [os.path.join(cbr, "held", f"{i:03d}.mp3") for i in range(10)]
    one_by_one = wall(lambda: [read_all(p) for p in held[0:2]])
    threads = [threading.Thread(target=read_all, args=(p,)) for p in held[2:4]]
    parallel = wall(lambda: ([t.start() for t in threads], [t.join() for t in threads]))
    row("two files in parallel: throughput gain", one_by_one / parallel, "ratio",
        f"{one_by_one:.2f} s one after the other vs {parallel:.2f} s together")

    baseline = rss_kib(pid)
    descriptors = [open(p, "rb", buffering=0) for p in held]
    sizes = 0
    for f in descriptors:
        while f.read(1 << 16):
            pass
        sizes += os.fstat(f.fileno()).st_size
    resident = rss_kib(pid)
    for f in descriptors:
        f.close()
    row("resident memory, 10 read files open / their MP3 sizes", resident * 1024 / sizes, "ratio",
        f"{resident // 1024} MiB resident ({baseline // 1024} MiB before), MP3s {sizes >> 20} MiB")

    report = {"machine": machine(), "scale": os.environ.get("BENCH_SCALE", "normal"), "results": rows}
    m = report["machine"]
    print(f"Machine: {m['cpu']}, {m['cores']} cores, {m['memory_mib']} MiB, kernel {m['kernel']}")
    print(f"Scale: {report['scale']}")
    width = max(len(r["measure"]) for r in rows)
    for r in rows:
        print(f"{r['measure']:<{width}}  {r['value']:>10.3f} {r['unit']:<8} {r['note']}")
    with open(json_path, "w") as out:
        json.dump(report, out, indent=2)
    if "--json" in sys.argv:
        print(json.dumps(report, indent=2))


if __name__ == "__main__":
    main()
