#!/usr/bin/env python3
"""Writes the program's three prompt clips: short 16-bit PCM mono tones.

101: a web page arrived instead of the file (two short high beeps)
102: downloading stopped (a rising three-note chime)
103: a transfer failed (a low falling tone)

Run from this folder: python3 make_sounds.py
"""
import math
import struct
import wave

RATE = 22050


def tone(freq_start, freq_end, seconds, volume=0.45):
    """A sine sweep with a short fade in and out, so it starts and ends without a click."""
    count = int(RATE * seconds)
    fade = max(1, int(RATE * 0.01))
    samples = []
    phase = 0.0
    for i in range(count):
        freq = freq_start + (freq_end - freq_start) * i / count
        phase += 2.0 * math.pi * freq / RATE
        envelope = min(1.0, i / fade, (count - 1 - i) / fade)
        samples.append(volume * envelope * math.sin(phase))
    return samples


def silence(seconds):
    return [0.0] * int(RATE * seconds)


def write(name, samples):
    with wave.open(name, "wb") as out:
        out.setnchannels(1)
        out.setsampwidth(2)
        out.setframerate(RATE)
        out.writeframes(b"".join(struct.pack("<h", int(s * 32767)) for s in samples))


write("101.wav", tone(1320, 1320, 0.09) + silence(0.06) + tone(1320, 1320, 0.09))
write("102.wav", tone(660, 660, 0.1) + tone(880, 880, 0.1) + tone(1100, 1100, 0.16))
write("103.wav", tone(440, 220, 0.3))
