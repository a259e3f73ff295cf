"""First encodings of CBR files: a seek far into a never-read file, one reader
against the plain tools, eight readers with and without segments, the sound at
segment joins and the audio bytes against LAME's own command line.

Every figure is taken on fresh mounts, so that nothing has been encoded before.
Where this build makes no segments (its default output equals --segments=off
byte for byte) the rows still measure and say so in their notes.
"""
import os
import statistics

import numpy as np

import mp3_frames
import music
import sound
from mounts import olvex
from probes import (children_cpu, cpu_seconds, open_and_read, pipeline, read_all, read_together,
                    wall, wall_and_cpu)

LAME_CBR = ["-b", "128", "-q", "5"]  # olvex's defaults
READERS = 8

MEAN = ("decoded error per 26 ms window, segmented - continuous: mean", "dB", 0.25)
WORST = ("decoded error per 26 ms window, segmented - continuous: worst", "dB", 4)
OFF_BYTES = ("CBR audio between the tags, --segments=off, vs lame -t: bytes that differ",
             "bytes", 0)
LENGTH = ("CBR audio between the tags, default, vs lame -t: length difference", "bytes", 0)
SEEK = ("open + 4 KiB at 90% of a never-read 10-minute file", "ms", 250)
ONE = ("one reader, never-read 5-minute file: mount / flac|lame", "ratio", 0.6)
EIGHT = (f"{READERS} readers of {READERS} never-read 60 s files at once: default / "
         "--segments=off", "ratio", 1.1)

# Seconds of each source: (normal, tiny).
SIZES = {"seek.flac": (600, 40), "sequential.flac": (300, 20), "join.flac": (120, 30),
         "eight": (60, 6)}


def write_library(root, tiny):
    os.makedirs(os.path.join(root, "eight"))
    seed = 1
    for name, seconds in SIZES.items():
        length = seconds[1 if tiny else 0] * music.RATE
        names = [f"eight/{i}.flac" for i in range(READERS)] if name == "eight" else [name]
        for each in names:
            music.write_flac(os.path.join(root, each), [(seed, length)], [f"TITLE={each}"])
            seed += 1


def seconds_of(name, scale):
    return SIZES[name][1 if scale == "tiny" else 0]


def medians(pairs):
    """The median of each column of (wall, cpu) pairs."""
    return tuple(statistics.median(column) for column in zip(*pairs))


def mp3(name):
    return name.rsplit(".", 1)[0] + ".mp3"


def read_bytes(path):
    with open(path, "rb") as f:
        return f.read()


def lame_reference(source, path):
    """The source through flac | lame -t (no information frame) into path."""
    pipeline(source, ["-t", *LAME_CBR], output=path)
    return read_bytes(path)


def differing_bytes(a, b):
    """Bytes that differ where both have them, plus the difference in length."""
    n = min(len(a), len(b))
    differ = np.frombuffer(a[:n], np.uint8) != np.frombuffer(b[:n], np.uint8)
    return int(np.count_nonzero(differ)) + abs(len(a) - len(b))


def joins_and_bytes(report, mounter, library, olvex_binary, work):
    """The join and byte rows; returns what the other notes should say about
    this build's segments."""
    status = "whether this build makes segments is unknown"
    with report.section([MEAN, WORST, OFF_BYTES, LENGTH]):
        name = mp3("join.flac")
        outputs = {}
        for label, options in (("default", []), ("off", ["--segments=off"])):
            with mounter.mount(olvex(olvex_binary, *options), library) as (point, _):
                outputs[label] = read_bytes(os.path.join(point, name))
            with open(os.path.join(work, f"join-{label}.mp3"), "wb") as out:
                out.write(outputs[label])
        segmented = outputs["default"] != outputs["off"]
        status = ("segmented by default" if segmented else
                  "this build makes no segments: its default output equals --segments=off")

        source = sound.decode_flac(os.path.join(library, "join.flac"))
        errors, signal, delays = {}, {}, {}
        for label in outputs:
            decoded = sound.decode_mp3(os.path.join(work, f"join-{label}.mp3"))
            decoded, cut, delays[label] = sound.aligned(decoded, source)
            errors[label] = sound.window_db(decoded - cut)
            signal[label] = sound.window_db(cut)
        count = min(len(e) for e in errors.values())
        seconds = seconds_of("join.flac", report.scale)
        if count == 0:
            for row in (MEAN, WORST):
                report.missing(*row[:2], "an MP3 decoded to less than one window", row[2])
        else:
            difference = errors["default"][:count] - errors["off"][:count]
            worst = int(difference.argmax())
            snr = (signal["off"] - errors["off"]).mean()
            report.add(MEAN[0], float(difference.mean()), MEAN[1],
                       f"{count} windows of {seconds} s decoded by mpg123; continuous "
                       f"encoding {snr:.1f} dB below the signal on average; {status}", MEAN[2])
            report.add(WORST[0], float(difference.max()), WORST[1],
                       f"at {worst * sound.WINDOW / music.RATE:.2f} s; decoded audio lagged the "
                       f"source by {delays['default']} samples (default) and "
                       f"{delays['off']} (--segments=off) before alignment", WORST[2])

        reference = mp3_frames.audio(lame_reference(os.path.join(library, "join.flac"),
                                                    os.path.join(work, "join-lame.mp3")))
        ours = {}
        skipped = {}
        for label, data in outputs.items():
            stream = mp3_frames.audio(data)
            skipped[label] = mp3_frames.info_frame_length(stream)
            ours[label] = stream[skipped[label]:]
        info = (f"our leading information frame ({skipped['off']} bytes) left out"
                if skipped["off"] else "no information frame in ours")
        report.add(OFF_BYTES[0], differing_bytes(ours["off"], reference), OFF_BYTES[1],
                   f"{len(ours['off'])} vs {len(reference)} bytes; {info}", OFF_BYTES[2])
        ours_frames = mp3_frames.frames(ours["default"])
        lame_frames = mp3_frames.frames(reference)
        headers = sum(ours["default"][a:a + 4] != reference[b:b + 4]
                      for (a, _), (b, _) in zip(ours_frames, lame_frames))
        report.add(LENGTH[0], abs(len(ours["default"]) - len(reference)), LENGTH[1],
                   f"{len(ours_frames)} vs {len(lame_frames)} frames, {headers} headers and "
                   f"{differing_bytes(ours['default'], reference)} bytes differ: segments "
                   f"are encoded apart, only their length must match; information frame left "
                   f"out as above", LENGTH[2])
    return status


def seek_far(report, mounter, library, olvex_binary, runs, status):
    row, unit, target = SEEK
    with report.section([SEEK]):
        times = []
        for _ in range(runs):
            with mounter.mount(olvex(olvex_binary), library) as (point, _):
                path = os.path.join(point, mp3("seek.flac"))
                offset = os.stat(path).st_size * 9 // 10
                times.append(wall(lambda: open_and_read(path, lambda fd: offset, 4096)))
        report.add(row, statistics.median(times) * 1e3, unit,
                   f"{seconds_of('seek.flac', report.scale)} s file at this scale, median of "
                   f"{runs} fresh mounts; {status}", target)


def one_reader(report, mounter, library, olvex_binary, runs, status):
    row, _, target = ONE
    with report.section([ONE]):
        source = os.path.join(library, "sequential.flac")
        mirror, tools = [], []
        for _ in range(runs):
            with mounter.mount(olvex(olvex_binary), library) as (point, pid):
                path = os.path.join(point, mp3("sequential.flac"))
                mirror.append(wall_and_cpu(lambda: read_all(path), lambda: cpu_seconds(pid)))
            tools.append(wall_and_cpu(lambda: pipeline(source, LAME_CBR), children_cpu))
        (mirror, mirror_cpu), (tools, tools_cpu) = medians(mirror), medians(tools)
        report.ratio(row, mirror, tools,
                     f"{mirror:.2f} s vs {tools:.2f} s for a "
                     f"{seconds_of('sequential.flac', report.scale)} s file (CPU {mirror_cpu:.2f} "
                     f"s vs {tools_cpu:.2f} s), medians of {runs}, {os.cpu_count()} cores; "
                     f"{status}", target)


def eight_readers(report, mounter, library, olvex_binary, runs, status):
    row, _, target = EIGHT
    with report.section([EIGHT]):
        names = [os.path.join("eight", f"{i}.mp3") for i in range(READERS)]
        times = {"default": [], "off": []}
        for _ in range(runs):
            for label, options in (("default", []), ("off", ["--segments=off"])):
                with mounter.mount(olvex(olvex_binary, *options), library) as (point, pid):
                    paths = [os.path.join(point, n) for n in names]
                    times[label].append(wall_and_cpu(lambda: read_together(paths),
                                                     lambda: cpu_seconds(pid)))
        (ours, ours_cpu), (off, off_cpu) = medians(times["default"]), medians(times["off"])
        report.ratio(row, ours, off,
                     f"{ours:.2f} s vs {off:.2f} s for {seconds_of('eight', report.scale)} s "
                     f"files (olvex CPU {ours_cpu:.2f} s vs {off_cpu:.2f} s), medians of {runs}, "
                     f"{os.cpu_count()} cores; {status}", target)


def measure(report, mounter, olvex_binary, tiny):
    library = os.path.join(mounter.work, "segments-library")
    work = os.path.join(mounter.work, "segments-output")
    # Rows the library could not be written for show n/a with the reason.
    with report.section([MEAN, WORST, OFF_BYTES, LENGTH, SEEK, ONE, EIGHT]):
        os.makedirs(work)
        write_library(library, tiny)
        # First, so that the other notes can say whether this build makes segments.
        status = joins_and_bytes(report, mounter, library, olvex_binary, work)
        seek_far(report, mounter, library, olvex_binary, 3 if tiny else 5, status)
        one_reader(report, mounter, library, olvex_binary, 1 if tiny else 3, status)
        eight_readers(report, mounter, library, olvex_binary, 1 if tiny else 3, status)
