"""Music-like sources for the benchmarks: chords, a bass line, percussive noise
and a noise floor, changing beat by beat, so that the encoder meets transients
and a full spectrum instead of one steady tone. Written as FLAC with Debian's
flac; a long image gets a CUE sheet beside it.
"""
import subprocess

import numpy as np

RATE = 44100
CD_FRAME = RATE // 75  # samples in one CUE sheet frame (1/75 s)
# The synthesized chunk handed to flac: a bound on memory for a 70-minute image.
CHUNK_SECONDS = 30


def _beats(random, samples):
    """Yields (left, right) float arrays of one beat each, samples in all."""
    beat = int(RATE * random.uniform(0.3, 0.6))
    key = random.integers(40, 52)  # MIDI note of the tonic
    scale = np.array([0, 2, 4, 5, 7, 9, 11])
    t = np.arange(beat) / RATE
    # Attack of 5 ms and a fade over the last 10 ms, so that notes cut at the
    # beat's end do not click.
    edge = np.ones(beat)
    edge[: int(0.005 * RATE)] = np.linspace(0, 1, int(0.005 * RATE))
    edge[-int(0.01 * RATE):] = np.linspace(1, 0, int(0.01 * RATE))
    done = 0
    while done < samples:
        left = np.zeros(beat)
        right = np.zeros(beat)
        root = random.integers(0, 7)
        for voice, degree in enumerate((root, root + 2, root + 4)):
            note = key + 12 + scale[degree % 7] + 12 * (degree // 7)
            frequency = 440.0 * 2 ** ((note - 69) / 12)
            decay = np.exp(-t / random.uniform(0.15, 0.5))
            tone = sum(np.sin(2 * np.pi * frequency * k * t + random.uniform(0, 6.3)) / k
                       for k in range(1, 5))
            pan = (voice + 1) / 4
            left += 0.12 * (1 - pan) * tone * decay
            right += 0.12 * pan * tone * decay
        bass = 440.0 * 2 ** ((key + scale[root] - 12 - 69) / 12)
        low = 0.2 * np.sin(2 * np.pi * bass * t) * np.exp(-t / 0.4)
        left += low
        right += low
        if random.random() < 0.6:  # a hi-hat: differenced noise, short decay
            hat = np.diff(random.normal(0, 0.08, beat + 1)) * np.exp(-t / 0.04)
            left += hat
            right += 0.8 * hat
        left = left * edge + random.normal(0, 0.003, beat)
        right = right * edge + random.normal(0, 0.003, beat)
        take = min(beat, samples - done)
        yield left[:take], right[:take]
        done += take


def synthesize(seed, samples):
    """Yields interleaved 16-bit little-endian PCM of samples frames, in chunks."""
    random = np.random.default_rng(seed)
    pending = []
    pending_samples = 0
    for left, right in _beats(random, samples):
        pending.append(np.stack((left, right), axis=1))
        pending_samples += len(left)
        if pending_samples >= CHUNK_SECONDS * RATE:
            yield _pcm(pending)
            pending, pending_samples = [], 0
    if pending:
        yield _pcm(pending)


def _pcm(blocks):
    audio = np.concatenate(blocks)
    return (np.clip(audio, -1, 1) * 32767).astype("<i2").tobytes()


def write_flac(path, parts, tags=()):
    """Writes a FLAC of the parts, (seed, samples) each one after the other,
    with a seek table (flac builds one only when it knows the length)."""
    total = sum(samples for _, samples in parts)
    command = ["flac", "-s", "-f", "-5", "--force-raw-format", "--endian=little",
               "--sign=signed", "--channels=2", "--bps=16", f"--sample-rate={RATE}",
               f"--input-size={total * 4}", "-o", path]
    for tag in tags:
        command += ["-T", tag]
    flac = subprocess.Popen(command + ["-"], stdin=subprocess.PIPE)
    try:
        for seed, samples in parts:
            for chunk in synthesize(seed, samples):
                flac.stdin.write(chunk)
    finally:
        flac.stdin.close()
        if flac.wait(timeout=600) != 0:
            raise subprocess.CalledProcessError(flac.returncode, command)


def track_lengths(total_seconds, count, seed):
    """count track lengths in CD frames, unequal like an album's, adding up to
    total_seconds."""
    random = np.random.default_rng(seed)
    weights = random.uniform(0.7, 1.3, count)
    frames = np.floor(weights / weights.sum() * total_seconds * 75).astype(int)
    frames[-1] += total_seconds * 75 - frames.sum()
    return [int(f) for f in frames]


def cue_time(frames):
    return f"{frames // (75 * 60):02d}:{frames // 75 % 60:02d}:{frames % 75:02d}"


def write_image(directory, name, total_seconds, count):
    """An album image NAME.flac of count tracks, each its own music, and the
    sheet NAME.cue naming it. Returns the first sample of every track."""
    lengths = track_lengths(total_seconds, count, seed=17)
    starts = np.concatenate(([0], np.cumsum(lengths)[:-1]))
    write_flac(f"{directory}/{name}.flac",
               [(100 + n, frames * CD_FRAME) for n, frames in enumerate(lengths)],
               ["ALBUM=Benchmark Album", "ARTIST=olvex bench"])
    lines = ['REM GENRE "Synthetic"', "REM DATE 2026", 'PERFORMER "olvex bench"',
             'TITLE "Benchmark Album"', f'FILE "{name}.flac" WAVE']
    for n, start in enumerate(starts, 1):
        lines += [f"  TRACK {n:02d} AUDIO", f'    TITLE "Song {n:02d}"',
                  '    PERFORMER "olvex bench"', f"    INDEX 01 {cue_time(int(start))}"]
    with open(f"{directory}/{name}.cue", "w") as sheet:
        sheet.write("\r\n".join(lines) + "\r\n")
    return [int(s) * CD_FRAME for s in starts]
