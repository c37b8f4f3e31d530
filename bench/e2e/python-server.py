#!/usr/bin/python3
"""The upload handler a Python user would write with python-multipart behind
http.server: the body streamed to the parser in 64 KB reads, each file
written to a file of its own in a folder per request and hashed with SHA-256
as it is written; the answer lists the files and the text fields.
    python-server.py ROOT    listens on a free loopback port, printed first"""
import hashlib
import itertools
import json
import os
import sys
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

from multipart.multipart import MultipartParser, parse_options_header

root = sys.argv[1]
requests = itertools.count(1)


class Upload(BaseHTTPRequestHandler):
    def do_POST(self):
        _, options = parse_options_header(self.headers.get("Content-Type", ""))
        if b"boundary" not in options:
            return self.answer(400, {"error": "not a multipart form"})
        folder = "/%d" % next(requests)
        os.mkdir(root + folder)
        files, fields = [], []
        part = {}

        def on_part_begin():
            part.clear()
            part.update(headers={}, header=b"", value=b"")

        def on_header_field(data, start, end):
            part["header"] += data[start:end]

        def on_header_value(data, start, end):
            part["value"] += data[start:end]

        def on_header_end():
            part["headers"][part["header"].lower()] = part["value"]
            part["header"], part["value"] = b"", b""

        def on_headers_finished():
            _, disposition = parse_options_header(part["headers"].get(b"content-disposition", b""))
            part["name"] = disposition.get(b"name", b"").decode("utf-8", "replace")
            if b"filename" in disposition:
                filename = disposition[b"filename"].decode("utf-8", "replace")
                saved = "%s/%d-%s" % (folder, len(files) + 1, os.path.basename(filename))
                part["file"] = {"name": part["name"], "filename": filename, "length": 0, "sha256": "", "saved": saved}
                part["out"] = open(root + saved, "wb")
                part["hash"] = hashlib.sha256()
            else:
                part["chunks"] = []

        def on_part_data(data, start, end):
            chunk = data[start:end]
            if "out" in part:
                part["out"].write(chunk)
                part["hash"].update(chunk)
                part["file"]["length"] += len(chunk)
            else:
                part["chunks"].append(chunk)

        def on_part_end():
            if "out" in part:
                part["out"].close()
                part["file"]["sha256"] = part["hash"].hexdigest()
                files.append(part["file"])
            else:
                fields.append({"name": part["name"], "value": b"".join(part["chunks"]).decode("utf-8", "replace")})

        parser = MultipartParser(options[b"boundary"], {
            "on_part_begin": on_part_begin, "on_header_field": on_header_field,
            "on_header_value": on_header_value, "on_header_end": on_header_end,
            "on_headers_finished": on_headers_finished, "on_part_data": on_part_data, "on_part_end": on_part_end})
        left = int(self.headers.get("Content-Length", 0))
        while left > 0:
            chunk = self.rfile.read(min(65536, left))
            if not chunk:
                return
            left -= len(chunk)
            parser.write(chunk)
        parser.finalize()
        self.answer(200, {"files": files, "fields": fields})

    def answer(self, status, document):
        body = json.dumps(document).encode()
        self.send_response(status)
        self.send_header("Content-Type", "application/json")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def log_message(self, *args):
        pass


class Server(ThreadingHTTPServer):
    # The listen backlog of the other servers here (socketserver's is 5:
    # 100 clients at once would see connections dropped and tried again).
    request_queue_size = 1024


server = Server(("127.0.0.1", 0), Upload)
print("python listening on http://127.0.0.1:%d/" % server.server_address[1], flush=True)
server.serve_forever()
