#!/usr/bin/env python3
"""RTCP SDES and BYE packets encoded by the rules the RTP slots follow, written apart from
the daemon's encoder: one line per case, "<name> <hex bytes>" ("-" for nothing).

Rules: a packet is whole 32-bit words inside the buffer (its size rounded down to a
multiple of 4), nothing below 8 bytes; an SDES holds one chunk, its items in order until
one does not fit with room for the end marker and padding (texts cut to 255 bytes); a
BYE holds one SSRC and its reason, cut to what fits.
"""

import struct
import sys


def pad(body):
    return body + b"\0" * (-len(body) % 4)


def sdes_body(ssrc, items, size):
    if size <= 3:
        return b""
    body = struct.pack(">I", ssrc)
    if not items or size - len(body) <= 7:
        return body
    for kind, text in items:
        text = text[:255]
        if size - len(body) < (len(text) + 3 + 3) // 4 * 4:
            break
        body += bytes([kind, len(text)]) + text
    return pad(body + b"\0")


def bye_body(ssrc, reason, size):
    if size <= 3:
        return b""
    body = struct.pack(">I", ssrc)
    if reason and size - len(body) >= 2:
        n = min(len(reason), 255, size - 5)
        body = pad(body + bytes([n]) + reason[:n])
    return body


def packet(pt, body_of, size):
    size -= size % 4
    if size < 8:
        return b""
    body = body_of(size - 4)
    return bytes([0x81, pt]) + struct.pack(">H", len(body) // 4) + body


SSRC = 0x01020304
CASES = {
    "bye": (203, lambda s: bye_body(SSRC, b"session end", s), 1024),
    "sdes_empty": (202, lambda s: sdes_body(SSRC, [], s), 1024),
    "bye_empty": (203, lambda s: bye_body(SSRC, b"", s), 1024),
    "sdes_long_item": (202, lambda s: sdes_body(SSRC, [(1, b"x" * 300)], s), 1024),
    "sdes_item_not_fitting": (202, lambda s: sdes_body(SSRC, [(1, b"a" * 200), (3, b"b" * 100), (4, b"z")], s), 300),
    "buffer_of_7": (203, lambda s: bye_body(SSRC, b"session end", s), 7),
    "bye_into_13": (203, lambda s: bye_body(SSRC, b"session end", s), 13),
    "sdes_into_21": (202, lambda s: sdes_body(SSRC, [(1, b"abc"), (3, b"defgh")], s), 21),
    "sdes_into_24": (202, lambda s: sdes_body(SSRC, [(1, b"abc"), (3, b"defgh")], s), 24),
    "bye_long_reason_into_30": (203, lambda s: bye_body(SSRC, b"r" * 40, s), 30),
}

for name, (pt, body_of, size) in CASES.items():
    data = packet(pt, body_of, size)
    sys.stdout.write("%s %s\n" % (name, data.hex() if data else "-"))
