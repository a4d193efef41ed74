#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Writes the wave reader's seed corpus into corpus/ next to this script.

Each seed is a small wave file, sound or broken, named after what it holds.
The corpus is kept in the repository; run this again after changing it here.
"""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
OUT = os.path.join(HERE, "corpus")


def chunk(tag, body, stated=None):
    size = len(body) if stated is None else stated
    return tag + struct.pack("<I", size) + body


def fmt_body(tag=1, channels=1, rate=44100, bits=16, block_align=None, byte_rate=None, extra=b""):
    if block_align is None:
        block_align = channels * bits // 8
    if byte_rate is None:
        byte_rate = rate * block_align
    return struct.pack("<HHIIHH", tag, channels, rate, byte_rate, block_align, bits) + extra


def riff(*chunks, stated=None, form=b"WAVE", magic=b"RIFF"):
    body = form + b"".join(chunks)
    size = len(body) if stated is None else stated
    return magic + struct.pack("<I", size) + body


def pcm16(count):
    return b"".join(struct.pack("<h", (i * 2731) % 65536 - 32768) for i in range(count))


def pcm8(count):
    return bytes((i * 37) % 256 for i in range(count))


FMT16 = chunk(b"fmt ", fmt_body())
FMT8 = chunk(b"fmt ", fmt_body(bits=8))
DATA16 = chunk(b"data", pcm16(64))
LIST = chunk(b"LIST", b"INFO" + chunk(b"ISFT", b"Vellomar test\0\0\0"))
MONO16 = riff(FMT16, DATA16)

SEEDS = {
    # Sound mono files, plainly laid out or not.
    "mono16.wav": MONO16,
    "mono8.wav": riff(FMT8, chunk(b"data", pcm8(64))),
    "list-before-fmt.wav": riff(LIST, FMT16, DATA16),
    "list-before-data.wav": riff(FMT16, LIST, DATA16),
    "fact-before-data.wav": riff(FMT16, chunk(b"fact", struct.pack("<I", 64)), DATA16),
    "odd-chunk-unpadded.wav": riff(FMT16, chunk(b"junk", b"abc"), DATA16),
    "empty-data.wav": riff(FMT16, chunk(b"data", b"")),
    "odd-data-size16.wav": riff(FMT16, chunk(b"data", pcm16(8) + b"\x01")),
    "data-longer-than-riff.wav": riff(FMT16, DATA16, stated=36),
    "trailing-chunk.wav": riff(FMT16, DATA16, LIST),
    # Broken, cut short or of another kind: to be refused, or to end a render early.
    "empty.wav": b"",
    "riff-only.wav": b"RIFF",
    "not-riff.wav": b"RIFX" + MONO16[4:],
    "not-wave.wav": riff(FMT16, DATA16, form=b"AVI "),
    "riff-size-small.wav": riff(FMT16, DATA16, stated=35),
    "truncated-header.wav": MONO16[:30],
    "truncated-fmt.wav": MONO16[:28],
    "fmt-then-eof.wav": riff(FMT16),
    "truncated-data.wav": riff(FMT16, chunk(b"data", pcm16(10), stated=2000)),
    "huge-data-size.wav": riff(FMT16, chunk(b"data", pcm16(16), stated=0xFFFFFFFF)),
    "huge-data-size8.wav": riff(FMT8, chunk(b"data", pcm8(16), stated=0xFFFFFFFF)),
    "huge-skipped-chunk.wav": riff(FMT16, chunk(b"junk", b"xyz", stated=0xFFFFFFF0), DATA16),
    "skipped-chunk-past-eof.wav": riff(FMT16, chunk(b"junk", b"xyz", stated=10000000), DATA16),
    "odd-chunk-padded.wav": riff(FMT16, chunk(b"junk", b"abc") + b"\0", DATA16),
    "no-fmt.wav": riff(DATA16),
    "no-data.wav": riff(FMT16, LIST),
    "data-before-fmt.wav": riff(DATA16, FMT16),
    "fmt18.wav": riff(chunk(b"fmt ", fmt_body(extra=b"\0\0")), DATA16),
    "fmt14.wav": riff(chunk(b"fmt ", fmt_body()[:14]), DATA16),
    "extensible.wav": riff(chunk(b"fmt ", fmt_body(tag=0xFFFE, extra=struct.pack("<HHI", 22, 16, 4)
                                                   + b"\x01\x00\x00\x00\x00\x00\x10\x00\x80\x00\x00\xaa\x00\x38\x9b\x71")),
                           DATA16),
    "float32.wav": riff(chunk(b"fmt ", fmt_body(tag=3, bits=32)), chunk(b"data", b"\0" * 64)),
    "stereo16.wav": riff(chunk(b"fmt ", fmt_body(channels=2)), chunk(b"data", pcm16(64))),
    "stereo8.wav": riff(chunk(b"fmt ", fmt_body(channels=2, bits=8)), chunk(b"data", pcm8(64))),
    "zero-channels.wav": riff(chunk(b"fmt ", fmt_body(channels=0, block_align=0, byte_rate=0)), DATA16),
    "bits24.wav": riff(chunk(b"fmt ", fmt_body(bits=24)), chunk(b"data", b"\0" * 48)),
    "bits12.wav": riff(chunk(b"fmt ", fmt_body(bits=12, block_align=2)), DATA16),
    "rate48000.wav": riff(chunk(b"fmt ", fmt_body(rate=48000)), DATA16),
    "rate0.wav": riff(chunk(b"fmt ", fmt_body(rate=0)), DATA16),
    "byte-rate-wrong.wav": riff(chunk(b"fmt ", fmt_body(byte_rate=44100)), DATA16),
    "block-align-wrong.wav": riff(chunk(b"fmt ", fmt_body(block_align=4, byte_rate=176400)), DATA16),
    "block-align-wraps.wav": riff(chunk(b"fmt ", fmt_body(bits=16, block_align=0x8002, byte_rate=0x8002 * 44100)),
                                  DATA16),
}


def main():
    os.makedirs(OUT, exist_ok=True)
    for name in os.listdir(OUT):
        os.remove(os.path.join(OUT, name))
    for name, data in sorted(SEEDS.items()):
        with open(os.path.join(OUT, name), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main()
