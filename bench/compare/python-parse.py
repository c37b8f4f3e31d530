#!/usr/bin/python3
"""Parses a body file with python3-multipart (Debian's package), fed in 64 KB
chunks from memory, or with urllib's parse_qsl; prints the best of three runs
(one when a run takes over ten seconds) in MB/s and the items seen.
    python-parse.py BODY_FILE multipart BOUNDARY
    python-parse.py BODY_FILE urlencoded
    python-parse.py BODY_FILE parse_qsl"""
import sys
import time
import urllib.parse

from multipart.multipart import MultipartParser, QuerystringParser

body = open(sys.argv[1], "rb").read()
kind = sys.argv[2]


def feed(parser):
    for at in range(0, len(body), 65536):
        parser.write(body[at:at + 65536])
    parser.finalize()


def parse_once():
    seen = [0]

    def count():
        seen[0] += 1

    if kind == "multipart":
        feed(MultipartParser(sys.argv[3].encode(), {"on_part_end": count}))
    elif kind == "urlencoded":
        # The parser hands out the raw text of names and values; a page needs
        # them decoded, as every other parser here gives them.
        pieces = {"name": [], "value": []}

        def on_name(data, start, end):
            pieces["name"].append(data[start:end])

        def on_value(data, start, end):
            pieces["value"].append(data[start:end])

        def on_end():
            urllib.parse.unquote_to_bytes(b"".join(pieces["name"]).replace(b"+", b" "))
            urllib.parse.unquote_to_bytes(b"".join(pieces["value"]).replace(b"+", b" "))
            pieces["name"].clear()
            pieces["value"].clear()
            count()

        feed(QuerystringParser({"on_field_name": on_name, "on_field_data": on_value, "on_field_end": on_end}))
    else:
        text = body.decode("latin-1")
        seen[0] = len(urllib.parse.parse_qsl(text, keep_blank_values=True, encoding="latin-1"))
    return seen[0]


best = float("inf")
for _ in range(3):
    start = time.perf_counter()
    seen = parse_once()
    best = min(best, time.perf_counter() - start)
    if best > 10:
        break
print("%.1f %d" % (len(body) / 1048576 / best, seen))
