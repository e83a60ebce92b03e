#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""A microphone for the browser test: feeds the FIFO named on the command line, in real time, as
ALSA's file plugin reads it (48 kHz stereo 16-bit), with a tone of 2 s and then 5 s of silence,
over and over; waits for the next reader whenever one goes away."""
import math
import struct
import sys
import time

RATE, TONE, QUIET = 48000, 2.0, 5.0
CHUNK = RATE // 20


def feed(path):
    with open(path, "wb", buffering=0) as fifo:
        start, sent = time.monotonic(), 0
        while True:
            frames = []
            for n in range(sent, sent + CHUNK):
                t = n / RATE
                loud = t % (TONE + QUIET) < TONE
                v = int(8192 * math.sin(2 * math.pi * 440 * t)) if loud else 0
                frames.append(struct.pack("<hh", v, v))
            fifo.write(b"".join(frames))
            sent += CHUNK
            time.sleep(max(0.0, start + sent / RATE - 0.1 - time.monotonic()))


while True:
    try:
        feed(sys.argv[1])
    except (BrokenPipeError, OSError):
        time.sleep(0.05)
