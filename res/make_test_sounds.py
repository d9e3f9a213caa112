#!/usr/bin/env python3
"""Writes the calibration's test sounds into this folder.

sound.wav: one second of a 441 Hz tone, 16-bit stereo at 44100 Hz, peak 24000
(loud, well below clipping). 441 Hz is exactly 100 samples per period, so the
crest of every period is a sample of exactly 24000 and the file loops without a
click.

sound.mid: a few piano notes (a C major arpeggio), one track.
"""
import math
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
RATE = 44100
FREQUENCY = 441
PEAK = 24000


def write_wav(path):
    frames = RATE  # one second, 441 whole periods
    data = bytearray()
    for i in range(frames):
        v = int(round(PEAK * math.sin(2 * math.pi * FREQUENCY * i / RATE)))
        data += struct.pack('<hh', v, v)
    header = b'RIFF' + struct.pack('<I', 36 + len(data)) + b'WAVE'
    header += b'fmt ' + struct.pack('<IHHIIHH', 16, 1, 2, RATE, RATE * 4, 4, 16)
    header += b'data' + struct.pack('<I', len(data))
    with open(path, 'wb') as f:
        f.write(header + data)


def var_len(n):
    out = [n & 0x7F]
    n >>= 7
    while n:
        out.insert(0, 0x80 | (n & 0x7F))
        n >>= 7
    return bytes(out)


def write_midi(path):
    ticks = 480  # per quarter note
    events = bytearray()
    events += var_len(0) + bytes([0xFF, 0x51, 0x03]) + (500000).to_bytes(3, 'big')  # 120 bpm
    events += var_len(0) + bytes([0xC0, 0x00])  # piano
    for note in (60, 64, 67, 72, 67, 64, 60):
        events += var_len(0) + bytes([0x90, note, 110])
        events += var_len(ticks) + bytes([0x80, note, 0])
    events += var_len(0) + bytes([0xFF, 0x2F, 0x00])
    header = b'MThd' + struct.pack('>IHHH', 6, 0, 1, ticks)
    track = b'MTrk' + struct.pack('>I', len(events)) + bytes(events)
    with open(path, 'wb') as f:
        f.write(header + track)


if __name__ == '__main__':
    write_wav(os.path.join(HERE, 'sound.wav'))
    write_midi(os.path.join(HERE, 'sound.mid'))
