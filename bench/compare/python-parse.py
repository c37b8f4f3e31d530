#!/usr/bin/python3
"""Parses a body file with python3-multipart (Debian's package), fed in 64 KB
chunks from memory; prints the best of three runs (one when a run takes over
ten seconds) in MB/s and the file bytes seen.
    python-parse.py BODY_FILE BOUNDARY"""
import sys
import time

from multipart.multipart import MultipartParser

body = open(sys.argv[1], "rb").read()
boundary = sys.argv[2].encode()


def parse_once():
    seen = [0]

    def on_part_data(data, start, end):
        seen[0] += end - start

    parser = MultipartParser(boundary, {"on_part_data": on_part_data})
    view = memoryview(body)
    for at in range(0, len(body), 65536):
        parser.write(view[at:at + 65536])
    parser.finalize()
    return seen[0]


best = float("inf")
for _ in range(3):
    start = time.perf_counter()
    seen = parse_once()
    best = min(best, time.perf_counter() - start)
    if best > 10:
        break
print("%.1f %d" % (len(body) / 1048576 / best, seen))
