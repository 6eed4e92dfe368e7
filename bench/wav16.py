"""wav16.py: the interleaved 16-bit samples of a WAV file, for the bench scripts."""
import array
import sys


def read_wav16(path):
    """Every sample of the file's data chunk, channels interleaved, as an array of int16."""
    with open(path, "rb") as f:
        data = f.read()
    # Walk the chunks to "data" (the peer writes more chunks than the plain 44-byte header).
    at = 12
    while at + 8 <= len(data):
        size = int.from_bytes(data[at + 4:at + 8], "little")
        if data[at:at + 4] == b"data":
            frames = array.array("h")
            frames.frombytes(data[at + 8:at + 8 + size - size % 4])
            if sys.byteorder != "little":
                frames.byteswap()
            return frames
        at += 8 + size + (size & 1)
    raise ValueError(f"{path}: no data chunk")
