"""An album image with its CUE sheet: listing it, reaching a late track of a
never-read image, and reading a whole track against cutting the same range
with flac and encoding it with lame.

A build that does not split images lists the image as one MP3: the listing row
still measures, the latency row reads where track 15 begins inside that MP3,
and the whole-track row says why it has no value.
"""
import os
import statistics

import mp3_frames
import music
from listing import listings
from mounts import olvex, passthrough
from probes import open_and_read, pipeline, read_all, wall

TRACKS = 20
TRACK = 15  # the one read
IMAGE = "album"
DIRECTORY = "album"
SECONDS = (70 * 60, 40)  # of the image: normal, tiny
LAME_CBR = ["-b", "128", "-q", "5"]  # olvex's defaults

LISTING = (f"ls -l first, a {TRACKS}-track image with its sheet: olvex / passthrough", "ratio", 4)
REACH = (f"open + 4 KiB of track {TRACK} of a never-read 70-minute image", "ms", 250)
WHOLE = (f"whole track {TRACK} read / its range cut by flac, through lame", "ratio", 1.05)


def track_file(names):
    """The listed name of track TRACK, or None when the image is not split."""
    number = f"{TRACK:02d} - "
    return next((n for n in sorted(names) if n.startswith(number) or f" - {number}" in n),
                None)


def tag_end(fd):
    """Where the audio begins, from the ID3v2 tag's head: a player reads the
    tag before it reads audio."""
    return mp3_frames.id3v2_size(os.pread(fd, 10, 0))


def sample_offset(sample, total):
    """For open_and_read: where sample (of total) is in a CBR MP3, found as a
    player would, from the tag's head and the file's size."""
    def at(fd):
        tag = tag_end(fd)
        return tag + (os.fstat(fd).st_size - tag) * sample // total
    return at


def reach_track(report, mounter, library, olvex_binary, runs, starts, total):
    row, unit, target = REACH
    with report.section([REACH]):
        times = []
        split = None
        for _ in range(runs):
            with mounter.mount(olvex(olvex_binary), library) as (point, _):
                names = os.listdir(os.path.join(point, DIRECTORY))
                track = track_file(names)
                split = track is not None
                if split:
                    path = os.path.join(point, DIRECTORY, track)
                    times.append(wall(lambda: open_and_read(path, tag_end, 4096)))
                else:
                    # Where the track's audio begins inside the image's one MP3.
                    path = os.path.join(point, DIRECTORY, IMAGE + ".mp3")
                    at = sample_offset(starts[TRACK - 1], total)
                    times.append(wall(lambda: open_and_read(path, at, 4096)))
                    break  # the whole prefix is encoded: once is enough
        seconds = SECONDS[1 if report.scale == "tiny" else 0]
        where = ("the track's tag head, then its first audio" if split else
                 "this build lists the image as one MP3: read where the track begins in it")
        report.add(row, statistics.median(times) * 1e3, unit,
                   f"{seconds} s image at this scale, median of {len(times)} fresh mounts; "
                   f"{where}", target)


def whole_track(report, mounter, library, olvex_binary, runs, starts, total):
    row, unit, target = WHOLE
    with report.section([WHOLE]):
        image = os.path.join(library, DIRECTORY, IMAGE + ".flac")
        end = starts[TRACK] if TRACK < TRACKS else total
        cut = [f"--skip={starts[TRACK - 1]}", f"--until={end}"]
        mirror, tools = [], []
        for _ in range(runs):
            with mounter.mount(olvex(olvex_binary), library) as (point, _):
                track = track_file(os.listdir(os.path.join(point, DIRECTORY)))
                if track is None:
                    report.missing(row, unit, "this build lists the image as one MP3, "
                                   "not as its tracks", target)
                    return
                mirror.append(wall(lambda: read_all(os.path.join(point, DIRECTORY, track))))
            tools.append(wall(lambda: pipeline(image, LAME_CBR, cut)))
        mirror, tools = statistics.median(mirror), statistics.median(tools)
        length = (end - starts[TRACK - 1]) / music.RATE
        report.ratio(row, mirror, tools,
                     f"{mirror:.2f} s vs {tools:.2f} s for {length:.1f} s of audio, medians of "
                     f"{runs} fresh mounts", target)


def listing(report, mounter, library, olvex_binary, passthrough_binary, runs):
    row, _, target = LISTING
    with report.section([LISTING]):
        floor, _ = listings(mounter, passthrough(passthrough_binary), library, DIRECTORY, runs)
        ours, _ = listings(mounter, olvex(olvex_binary), library, DIRECTORY, runs)
        with mounter.mount(olvex(olvex_binary), library) as (point, _):
            names = os.listdir(os.path.join(point, DIRECTORY))
        mp3s = sum(n.endswith(".mp3") for n in names)
        report.ratio(row, ours, floor,
                     f"{ours * 1e3:.2f} ms vs {floor * 1e3:.2f} ms, median of {runs} fresh "
                     f"mounts; {mp3s} MP3s listed beside the sheet", target)


def measure(report, mounter, olvex_binary, passthrough_binary, tiny):
    library = os.path.join(mounter.work, "cue-library")
    # Rows the library could not be written for show n/a with the reason.
    with report.section([LISTING, REACH, WHOLE]):
        os.makedirs(os.path.join(library, DIRECTORY))
        seconds = SECONDS[1 if tiny else 0]
        starts = music.write_image(os.path.join(library, DIRECTORY), IMAGE, seconds, TRACKS)
        total = seconds * music.RATE
        listing(report, mounter, library, olvex_binary, passthrough_binary, 1 if tiny else 5)
        reach_track(report, mounter, library, olvex_binary, 3 if tiny else 5, starts, total)
        whole_track(report, mounter, library, olvex_binary, 1 if tiny else 3, starts, total)
