#!/usr/bin/env python3
"""Synthesise the program's sound cues into Recorder/resources/sounds/.

    scripts/make_sounds.py            write every cue
    scripts/make_sounds.py --out DIR  write them somewhere else

Every cue is 48 kHz, 16-bit, mono PCM WAVE, built from decaying sine partials
only, so the output is the same byte for byte on every run and machine.
Standard library only.
"""

import argparse
import math
import struct
import wave
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
OUT = ROOT / "Recorder" / "resources" / "sounds"

RATE = 48000
# Peak level of every cue: -3 dBFS leaves room for the player's volume and for
# resampling overshoot.
PEAK = 10 ** (-3 / 20)
# Onsets shorter than a few milliseconds click; longer ones sound soft and late.
ATTACK = 0.004
# The last few milliseconds fade to zero so no cue ends on a step.
TAIL_FADE = 0.015


def note(freq, start, decay, partials, length, attack=ATTACK):
    """One struck note: sine partials (ratio, amplitude, decay factor) under an
    exponential envelope with a short raised-cosine attack."""
    return dict(freq=freq, start=start, decay=decay, partials=partials, length=length, attack=attack)


# A soft wooden click: the fundamental and a quiet octave, both short.
CLICK = [(1.0, 1.0, 1.0), (2.0, 0.25, 0.5)]
# A small bell: a slightly inharmonic overtone set, the upper partials dying first.
BELL = [(1.0, 1.0, 1.0), (2.0, 0.35, 0.6), (3.01, 0.12, 0.4), (4.17, 0.05, 0.3)]
# A muted, dull knock: nearly pure fundamental with a hint of the second partial.
THUD = [(1.0, 1.0, 1.0), (2.0, 0.12, 0.5)]

CUES = {
    # Each countdown second but the last: a short, soft click at A5.
    "tick": [note(880.0, 0.0, 0.030, CLICK, 0.12)],
    # The last second: a fifth higher and a little longer, so it reads as "now".
    "tick_last": [note(1318.5, 0.0, 0.045, CLICK, 0.18)],
    # Recording starts (also the resume bell): a bright rising fourth, C6 then F6.
    "start": [
        note(1046.5, 0.0, 0.20, BELL, 0.60),
        note(1396.9, 0.09, 0.26, BELL, 0.62),
    ],
    # Recording ends: the same bell falling, G5 then C5.
    "end": [
        note(784.0, 0.0, 0.22, BELL, 0.60),
        note(523.3, 0.12, 0.32, BELL, 0.78),
    ],
    # Launch: a gentle rising C major arpeggio with a slow attack.
    "launch": [
        note(523.3, 0.00, 0.28, BELL, 0.70, attack=0.012),
        note(659.3, 0.11, 0.28, BELL, 0.70, attack=0.012),
        note(784.0, 0.22, 0.40, BELL, 0.90, attack=0.012),
    ],
    # Pause: a muted double blip, the second one lower.
    "pause": [
        note(330.0, 0.0, 0.035, THUD, 0.14, attack=0.006),
        note(262.0, 0.11, 0.045, THUD, 0.18, attack=0.006),
    ],
}


def render(notes):
    length = max(n["start"] + n["length"] for n in notes)
    frames = int(round(length * RATE))
    mix = [0.0] * frames
    for n in notes:
        first = int(round(n["start"] * RATE))
        count = min(int(round(n["length"] * RATE)), frames - first)
        attack = n["attack"] * RATE
        for i in range(count):
            t = i / RATE
            env = 0.5 - 0.5 * math.cos(math.pi * i / attack) if i < attack else 1.0
            value = 0.0
            for ratio, amp, decay_factor in n["partials"]:
                value += amp * math.exp(-t / (n["decay"] * decay_factor)) * math.sin(2 * math.pi * n["freq"] * ratio * t)
            mix[first + i] += env * value
    fade = int(TAIL_FADE * RATE)
    for i in range(fade):
        mix[frames - fade + i] *= 0.5 + 0.5 * math.cos(math.pi * (i + 1) / fade)
    peak = max(abs(v) for v in mix) or 1.0
    gain = PEAK * 32767 / peak
    return [max(-32768, min(32767, int(round(v * gain)))) for v in mix]


def write(path, samples):
    with wave.open(str(path), "wb") as w:
        w.setnchannels(1)
        w.setsampwidth(2)
        w.setframerate(RATE)
        w.writeframes(struct.pack("<%dh" % len(samples), *samples))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--out", type=Path, default=OUT)
    args = parser.parse_args()
    args.out.mkdir(parents=True, exist_ok=True)
    for name, notes in CUES.items():
        samples = render(notes)
        write(args.out / (name + ".wav"), samples)
        print("%s.wav: %.2f s" % (name, len(samples) / RATE))


if __name__ == "__main__":
    main()
