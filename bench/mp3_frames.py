"""Just enough of the MP3 layout to compare streams: the audio between the tags,
its frames, and whether the first one is an information frame."""

# Bit rates of layer III in kbit/s by index: MPEG-1, then MPEG-2 and 2.5.
BITRATES = {1: [0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320],
            2: [0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160]}
RATES = {3: [44100, 48000, 32000], 2: [22050, 24000, 16000], 0: [11025, 12000, 8000]}


def id3v2_size(head):
    """Bytes of the ID3v2 tag that starts with head, its first 10 bytes or more;
    0 when there is none."""
    if head[:3] != b"ID3" or len(head) < 10:
        return 0
    size = 0
    for byte in head[6:10]:
        size = size << 7 | byte & 0x7F
    return 10 + size + (10 if head[5] & 0x10 else 0)


def audio(data):
    """The bytes between an ID3v2 tag at the start and an ID3v1 tag at the end."""
    start = id3v2_size(data)
    end = len(data) - 128 if data[-128:-125] == b"TAG" else len(data)
    return data[start:end]


def frame_length(header):
    """Bytes of the layer III frame with this 4-byte header, or 0 if it is none."""
    if len(header) < 4 or header[0] != 0xFF or header[1] & 0xE0 != 0xE0:
        return 0
    version = header[1] >> 3 & 3  # 3: MPEG-1, 2: MPEG-2, 0: MPEG-2.5
    layer = header[1] >> 1 & 3
    rate_index = header[2] >> 2 & 3
    bitrate_index = header[2] >> 4
    if version == 1 or layer != 1 or rate_index == 3 or bitrate_index in (0, 15):
        return 0
    bitrate = BITRATES[1 if version == 3 else 2][bitrate_index] * 1000
    rate = RATES[version][rate_index]
    padding = header[2] >> 1 & 1
    per_frame = 144 if version == 3 else 72
    return per_frame * bitrate // rate + padding


def frames(stream):
    """(offset, length) of each frame from the start of stream, up to the
    first bytes that are not a frame."""
    found = []
    offset = 0
    while offset < len(stream):
        length = frame_length(stream[offset:offset + 4])
        if length == 0 or offset + length > len(stream):
            break
        found.append((offset, length))
        offset += length
    return found


def info_frame_length(stream):
    """The length of a leading Info or Xing frame, 0 when the stream has none."""
    length = frame_length(stream[:4])
    # The tag follows the side information, at most 36 bytes into the frame.
    if length and (b"Info" in stream[4:40] or b"Xing" in stream[4:40]):
        return length
    return 0
