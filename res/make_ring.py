#!/usr/bin/env python3
"""Write Kelvaro's ring (WAVE resource 130) as a .wav file.

Usage: python3 res/make_ring.py OUT.wav

One ring is two short warbles of a telephone bell (1100 and 1400 Hz swapped
twenty times a second), 0.9 s in all, 8-bit mono at 11025 Hz: about 10 KB.
The program plays it every two seconds while a call rings, so it ends well
before the next one starts.  Each tone segment fades in and out over a few
milliseconds, so the swaps do not click.
"""

import math
import struct
import sys

RATE = 11025
TONES = (1100.0, 1400.0)
WARBLE = 0.025          # seconds per tone segment
FADE = 0.003            # seconds of fade at each segment's ends
LEVEL = 0.45            # of full scale


def warble(seconds):
    out = []
    seg = int(WARBLE * RATE)
    fade = int(FADE * RATE)
    total = int(seconds * RATE)
    for i in range(total):
        k, j = divmod(i, seg)
        f = TONES[k % 2]
        env = min(1.0, j / fade, (seg - 1 - j) / fade)
        out.append(LEVEL * env * math.sin(2 * math.pi * f * i / RATE))
    return out


def ring():
    silence = lambda s: [0.0] * int(s * RATE)
    return warble(0.35) + silence(0.1) + warble(0.35) + silence(0.1)


def wav(samples):
    data = bytes(max(0, min(255, int(round(128 + 127 * s)))) for s in samples)
    fmt = struct.pack("<HHIIHH", 1, 1, RATE, RATE, 1, 8)
    body = b"WAVE" + b"fmt " + struct.pack("<I", len(fmt)) + fmt + b"data" + struct.pack("<I", len(data)) + data
    if len(data) % 2:
        body += b"\0"
    return b"RIFF" + struct.pack("<I", len(body)) + body


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    with open(sys.argv[1], "wb") as f:
        f.write(wav(ring()))


if __name__ == "__main__":
    main()
