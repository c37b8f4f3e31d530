#!/usr/bin/python3
"""Writes the comparison's request bodies: one file part of SIZE_MB megabytes
of random bytes, of the boundary's own characters, and of "\\r\\n".
    make-bodies.py SIZE_MB DIR"""
import os
import random
import sys

BOUNDARY = b"----FormixBench7MA4YWxkTrZu0gW"
size = int(sys.argv[1]) << 20
folder = sys.argv[2]
os.makedirs(folder, exist_ok=True)


def write(name, data):
    head = (b"--" + BOUNDARY + b"\r\nContent-Disposition: form-data; name=\"file\"; filename=\"" + name.encode() +
            b".bin\"\r\nContent-Type: application/octet-stream\r\n\r\n")
    with open(os.path.join(folder, name + ".body"), "wb") as out:
        out.write(head + data + b"\r\n--" + BOUNDARY + b"--\r\n")


def boundary_characters(length):
    # Runs of dashes and pieces of the delimiter, never the whole delimiter.
    rng = random.Random(7)
    alphabet = b"\r\n-" + BOUNDARY
    pieces = []
    total = 0
    while total < length:
        cut = rng.randrange(1, len(BOUNDARY))
        wrong = [c for c in alphabet if c != BOUNDARY[cut]]  # the next character never completes it
        piece = b"\r\n--" + BOUNDARY[:cut] + bytes([wrong[rng.randrange(len(wrong))]])
        pieces.append(piece)
        total += len(piece)
    data = b"".join(pieces)[:length]
    assert b"\r\n--" + BOUNDARY not in data
    return data


random_data = bytearray(os.urandom(size))
write("random", bytes(random_data).replace(b"\r\n--" + BOUNDARY, b"\r\n++" + BOUNDARY))
write("boundary-characters", boundary_characters(size))
write("line-ends", b"\r\n" * (size // 2))
print(BOUNDARY.decode())
