#!/usr/bin/env python3
"""Session creation on a running server, as a flood would make them.

    bench/sessions.py PORT TOTAL [ADDRESSES]

Requests TOTAL times a page that uses Session, with no cookie, as a proxy on
this machine would pass them on for ADDRESSES clients (X-Forwarded-For
198.18.0.1 on; default 40, 200 requests each in turn), over four kept
connections; prints the rate of new sessions per ten thousand, and the time
of a plain visitor's request at the end.
The page is /session-bench.asp, which the caller puts in the document root:
    <% Session("n") = 1 %>ok
"""
import socket, sys, time, threading

port, total = int(sys.argv[1]), int(sys.argv[2])
addresses = int(sys.argv[3]) if len(sys.argv) > 3 else 40
def request(client):
    return ("GET /session-bench.asp HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Forwarded-For: 198.18.%d.%d\r\n\r\n"
            % (client // 250, 1 + client % 250)).encode()

def exchange(sock, client=0):
    sock.sendall(request(client))
    data = b""
    while b"\r\n\r\n" not in data:
        piece = sock.recv(65536)
        if not piece:
            raise ConnectionError("the server closed the connection")
        data += piece
    head, _, body = data.partition(b"\r\n\r\n")
    length = int([l.split(b":")[1] for l in head.split(b"\r\n") if l.lower().startswith(b"content-length")][0])
    while len(body) < length:
        body += sock.recv(65536)

done = 0
lock = threading.Lock()
def worker(index):
    global done
    sock = None
    while True:
        with lock:
            if done >= total: break
            done += 1
            mine = done
        for attempt in (1, 2):  # a connection the server closed is opened again
            try:
                if sock is None:
                    sock = socket.create_connection(("127.0.0.1", port))
                exchange(sock, (mine // 200) % addresses)
                break
            except ConnectionError:
                sock = None
        if mine % 10000 == 0:
            now = time.time()
            print("%6d sessions: %.0f new sessions/s" % (mine, 10000 / (now - marks[-1])), flush=True)
            marks.append(now)
    if sock: sock.close()

marks = [time.time()]
threads = [threading.Thread(target=worker, args=(i,)) for i in range(4)]
for t in threads: t.start()
for t in threads: t.join()
start = time.time()
with socket.create_connection(("127.0.0.1", port)) as s:
    exchange(s)
print("a visitor's request after the flood: %.1f ms" % ((time.time() - start) * 1000))
