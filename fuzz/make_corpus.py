#!/usr/bin/env python3
"""Writes the seed corpus of the fuzz targets (fuzz/corpus/<target>/) from the golden frames
in tests/data/frames.hex, plus broken variants. Files found by fuzzing (crash-*, regression-*)
are kept; the seeds are rewritten. Run from anywhere: python3 fuzz/make_corpus.py"""
import pathlib
import struct

ROOT = pathlib.Path(__file__).resolve().parent.parent
CORPUS = ROOT / "fuzz" / "corpus"
START, END = 0xBEAD, 0xBADE


def word(value):
    return struct.pack(">i", value)


def golden():
    frames = {}
    for line in (ROOT / "tests" / "data" / "frames.hex").read_text().splitlines():
        fields = line.split()
        if fields and not fields[0].startswith("#"):
            frames[fields[0]] = bytes.fromhex("".join(fields[3:]))
    return frames


def frame(network, text, start=START, end=END, kind=2, param=None):
    """A frame built field by field; `param` replaces the encoded string parameter."""
    if param is None:
        param = word(len(text)) + text + b"\0"
    body = b"\x01" + word(kind) + word(network) + param
    return word(start) + word(len(body)) + body + word(end)


def write(target, name, data):
    directory = CORPUS / target
    directory.mkdir(parents=True, exist_ok=True)
    (directory / name).write_bytes(data)


def main():
    frames = golden()
    full, empty, bit0 = frames["full"], frames["empty"], frames["bit0"]
    text = b"01" * 64
    noise = bytes.fromhex("deadbeef 0000bade 12345678")  # whole words, no start marker

    deserialize = {f"golden-{n}": b"\0" + f for n, f in frames.items()}
    deserialize.update({
        "no-end-marker-held": b"\x04" + full,
        "bad-markers-good-body": b"\0" + frame(7, text, start=1, end=2),
        "type-3": b"\0" + frame(7, text, kind=3),
        "text-with-2": b"\0" + frame(7, b"2" + text[1:]),
        "text-127": b"\0" + frame(7, text[:127]),
        "text-129": b"\0" + frame(7, text + b"1"),
        "text-length-negative": b"\0" + frame(7, b"", param=word(-1) + b"\0"),
        "text-length-huge": b"\0" + frame(7, b"", param=word(0x7FFFFFFF) + text),
        "text-length-1000": b"\0" + frame(7, b"", param=word(1000) + text + text),
        "text-no-terminator": b"\0" + frame(7, b"", param=word(128) + text + b"x"),
        "text-nul-inside": b"\0" + frame(7, b"", param=word(128) + text[:5] + b"\0" + text[6:] + b"\0"),
        "truncated-20": b"\0" + full[:20],
        "negative-length-argument": b"\xff" + full[:30],
        "held-to-the-network": bytes([len(full) - 16]) + full,
        "held-to-before-the-nul": bytes([5]) + full,
        "network-high-bits": b"\0" + full[:13] + bytes([0xAB, 0xCD]) + full[15:],
        "text-empty": b"\0" + frame(7, b""),
        "null-frame": b"",
    })
    for name, data in deserialize.items():
        write("fuzz_deserialize", name, data)

    string_param = {f"golden-{n}": f[17:-4] for n, f in frames.items()}
    string_param.update({
        "length-negative": word(-5) + b"\0",
        "length-past-end": word(200) + text + b"\0",
        "nul-inside": word(4) + b"ab\0d\0",
        "no-terminator": word(3) + b"abcd",
        "max-length-field": word(65535) + b"\0",
        "length-field-of-four-distinct-bytes": word(0x01020304) + b"\0",
        "empty": b"",
    })
    for name, data in string_param.items():
        write("fuzz_string_param", name, data)

    # Server reader: a control count, control bytes, then the stream.
    server = {f"golden-{n}": b"\0" + f for n, f in frames.items()}
    server.update({
        "noise-then-frame": b"\0" + noise + full,
        "two-frames": b"\0" + full + empty,
        "payload-in-pieces": bytes([6, 0x80, 0x80, 3, 40, 7, 0x80]) + full,
        # A 4-byte read that gets 2 bytes: the word's other 2 bytes were never written.
        "regression-short-word-read": bytes([3, 1, 2, 0x80]) + full + full,
        "length-zero": b"\0" + word(START) + word(0) + full,
        "length-181": b"\0" + word(START) + word(181) + full,
        "start-in-place-of-end": b"\0" + full[:-4] + full,
        "bad-end-marker": b"\0" + full[:-4] + word(0x12345678) + bit0,
        "read-failure-mid-frame": bytes([3, 0x80, 0x80, 0xFF]) + full + empty,
        "more-than-asked": bytes([3, 0x80, 0x80, 0xFE]) + full + empty,
        "bad-text": b"\0" + frame(9, b"x" * 128) + full,
        "payload-one-byte-left": bytes([4, 0x80, 0x80, 127, 12]) + full,
        "unaligned-after-partial": b"\0" + full[:11] + noise + full,
        "length-180": b"\0" + frame(7, b"1" * 166),
        "nothing-in-time-mid-frame": bytes([3, 0x80, 0xFD, 0x80]) + full,
        "fifo-closed-mid-frame": bytes([3, 0x80, 0xFC, 0x80]) + full + empty,
    })
    for name, data in server.items():
        write("fuzz_server_reader", name, data)

    # Client: three reads, each a status byte, a count and the bytes.
    def reads(*parts):
        return b"".join(bytes([status, len(data)]) + data for status, data in parts)

    client = {f"golden-{n}": reads((0, f[:4]), (0, f[4:8]), (0, f[8:])) for n, f in frames.items()}
    client.update({
        "length-181": reads((0, word(START)), (0, word(181)), (0, full[8:])),
        "length-minus-3": reads((0, word(START)), (0, word(-3)), (0, b"\1")),
        "length-minus-4": reads((0, word(START)), (0, word(-4)), (0, b"")),
        "nothing-first": reads((0xF0, b""), (0, full[4:8]), (0, full[8:])),
        # A scripted read with no bytes once made the session double memcpy from null.
        "regression-empty-read": reads((0, b""), (0, full[4:8]), (0, full[8:])),
        "failure-second": reads((0, full[:4]), (0xFF, b""), (0, full[8:])),
        "third-short": reads((0, full[:4]), (0, full[4:8]), (0, full[8:60])),
        "third-missing": reads((0, full[:4]), (0, full[4:8])),
        "bad-text": reads((0, word(START)), (0, word(142)), (0, frame(9, b"y" * 128)[8:])),
        "length-not-stored": reads((0, word(START)), (0, b""), (0, full[8:])),
        # A count above the bytes asked for, after a text that ends with them: cut short.
        "count-above-asked": reads((0, word(START)), (0, word(14)),
                                   (0xE0, b"\x01" + word(2) + word(7) + word(5) + b"10101")),
    })
    for name, data in client.items():
        write("fuzz_client_response", name, data)

    # --decode: each broken frame is followed by a good one, where decoding must pick up again.
    decode = {f"golden-{n}": f for n, f in frames.items()}
    decode.update({
        "noise-then-frame": noise + empty,
        "length-zero": word(START) + word(0) + empty,
        "length-180-padded": frame(7, b"", param=word(0) + bytes(167)),
        "length-181-padded": frame(7, b"", param=word(0) + bytes(168)) + empty,
        "bad-end-marker": full[:-4] + word(0x12345678) + empty,
        "type-3": frame(7, text, kind=3) + empty,
        "type-3-holding-a-start-marker": frame(7, word(START) + text[4:], kind=3) + empty,
        "too-short-for-type": word(START) + word(1) + b"\x01" + word(END) + empty,
        "no-room-for-text": word(START) + word(12) + b"\x01" + word(2) + word(7) + bytes(3) + word(END) + empty,
        "invalid-string-param": frame(7, b"", param=word(0) + b"A") + empty,
        "text-with-2": frame(7, b"2" + text[1:]) + empty,
        "text-127": frame(7, text[:127]) + empty,
        "cut-in-the-length": empty + word(START) + b"\0\0",
        "cut-in-the-frame": empty + full[:-1],
    })
    for name, data in decode.items():
        write("fuzz_decode", name, data)


if __name__ == "__main__":
    main()
