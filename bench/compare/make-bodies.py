#!/usr/bin/python3
"""Writes the comparison's request bodies, one file per shape, and prints
one line per body: FILE KIND LABEL (KIND is multipart or urlencoded).
    make-bodies.py DIR"""
import os
import random
import sys

BOUNDARY = b"----FormixBench7MA4YWxkTrZu0gW"
folder = sys.argv[1]
os.makedirs(folder, exist_ok=True)
rng = random.Random(7)
ALNUM = b"abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789"


def text(size):
    return bytes(rng.choice(ALNUM) for _ in range(64)) * (size // 64) + bytes(rng.choice(ALNUM) for _ in range(size % 64))


def part(name, content, filename=None, content_type=None):
    head = b"--" + BOUNDARY + b"\r\nContent-Disposition: form-data; name=\"" + name + b"\""
    if filename is not None:
        head += b"; filename=\"" + filename + b"\""
    head += b"\r\n"
    if content_type is not None:
        head += b"Content-Type: " + content_type + b"\r\n"
    return head + b"\r\n" + content + b"\r\n"


def multipart(parts):
    return b"".join(parts) + b"--" + BOUNDARY + b"--\r\n"


def write(name, kind, label, body):
    path = os.path.join(folder, name + ".body")
    with open(path, "wb") as out:
        out.write(body)
    print(path, kind, label.replace(" ", "_"))


kilobyte = text(1024)
write("text-distinct", "multipart", "40,000 text fields of 1 KB, distinct names",
      multipart(part(b"field%d" % i, kilobyte) for i in range(40000)))
write("text-10k", "multipart", "10,000 text fields of 1 KB (the server's field cap)",
      multipart(part(b"field%d" % i, kilobyte) for i in range(10000)))
write("text-100-names", "multipart", "40,000 text fields of 1 KB, 100 names",
      multipart(part(b"field%d" % (i % 100), kilobyte) for i in range(40000)))
write("files-1k", "multipart", "40,000 files of 1 KB",
      multipart(part(b"file%d" % i, kilobyte, b"photo%d.jpg" % i, b"image/jpeg") for i in range(40000)))
write("files-64k", "multipart", "1,000 files of 64 KB, one name",
      multipart(part(b"files", os.urandom(65536).replace(b"\r\n--", b"\r\n++"), b"scan%d.pdf" % i,
                     b"application/pdf") for i in range(1000)))
write("pairs-short", "urlencoded", "URL-encoded, 200,000 short pairs",
      b"&".join(b"k%d=%d" % (i % 1000, i) for i in range(200000)))
write("pairs-8mb", "urlencoded", "URL-encoded, 1,400,000 pairs, 8 MB",
      b"&".join(b"k%d=%d" % (i % 100, i % 10) for i in range(1400000)))
write("pairs-1k", "urlencoded", "URL-encoded, 10,000 pairs of 1 KB",
      b"&".join(b"field%d=" % i + kilobyte for i in range(10000)))
escaped = (b"%C3%A9t%C3%A9+d%27" + b"ab+cd%2F%3D%26" * 8) * 8  # 1,040 bytes of whole escapes
write("pairs-escaped", "urlencoded", "URL-encoded, 10,000 pairs of 1 KB full of %XX and +",
      b"&".join(b"field%d=" % i + escaped for i in range(10000)))
browser = [part(b"text%d" % i, text(40)) for i in range(10)]
browser += [part(b"upload%d" % i, os.urandom(5 << 20).replace(b"\r\n--", b"\r\n++"), b"IMG_%04d.JPG" % i,
                 b"image/jpeg") for i in range(3)]
write("browser", "multipart", "browser form: 10 text fields + 3 files of 5 MB", multipart(browser))
print(BOUNDARY.decode())
