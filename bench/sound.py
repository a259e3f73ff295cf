"""How far a decoded MP3 is from its source: both decoded to 16-bit PCM by
Debian's decoders, aligned, and compared as error energy per window."""
import subprocess

import numpy as np

WINDOW = 1152  # samples: one MPEG-1 frame, 26 ms at 44.1 kHz
# Delays searched for the alignment: LAME's encoder delay plus the decoder's
# is about 1100 samples and is trimmed when an information frame says so.
MOST_LAG = 4000
TIMEOUT = 300


def _pcm(command, channels=2):
    raw = subprocess.run(command, stdout=subprocess.PIPE, check=True, timeout=TIMEOUT).stdout
    samples = np.frombuffer(raw, dtype="<i2").astype(np.float64)
    return samples[: len(samples) // channels * channels].reshape(-1, channels)


def decode_mp3(path):
    return _pcm(["mpg123", "-q", "-s", "-e", "s16", "--stereo", path])


def decode_flac(path):
    return _pcm(["flac", "-dcs", "--force-raw-format", "--endian=little", "--sign=signed",
                 path])


def lag(decoded, source):
    """The number of samples the decoded audio lags the source by (negative if
    it starts early), from the cross-correlation of their first seconds."""
    span = min(len(source), len(decoded), 4 * 44100)
    a = decoded[:span].sum(axis=1)
    b = source[:span].sum(axis=1)
    size = 1 << int(np.ceil(np.log2(2 * span)))
    correlation = np.fft.irfft(np.fft.rfft(a, size) * np.conj(np.fft.rfft(b, size)), size)
    # Index k holds the match of decoded[k:] with source; the tail holds negative k.
    candidates = list(range(0, MOST_LAG + 1)) + list(range(-MOST_LAG, 0))
    return max(candidates, key=lambda k: correlation[k % size])


def aligned(decoded, source):
    """decoded and source cut to start together and end at the same whole
    window, and the decoded audio's lag."""
    shift = lag(decoded, source)
    if shift >= 0:
        decoded = decoded[shift:]
    else:
        source = source[-shift:]
    length = min(len(decoded), len(source)) // WINDOW * WINDOW
    return decoded[:length], source[:length], shift


def window_db(samples):
    """The energy of each window of samples in dB (1 is added so that a silent
    window is 0 dB, not minus infinity)."""
    count = len(samples) // WINDOW
    energy = (samples[: count * WINDOW] ** 2).reshape(count, -1).sum(axis=1)
    return 10 * np.log10(energy + 1)
