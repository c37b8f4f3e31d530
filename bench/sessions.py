#!/usr/bin/env python3
"""Session creation on a running server, as a flood would make them.

    bench/sessions.py PORT TOTAL [ADDRESSES]

Requests TOTAL times a page that uses Session, with no cookie, each time from
the next of ADDRESSES loopback client addresses (127.0.0.2 on; default 40),
over four kept connections per address round; prints the rate of new
sessions per thousand, and the time of a plain visitor's request at the end.
The page is /session-bench.asp, which the caller puts in the document root:
    <% Session("n") = 1 %>ok
"""
import socket, sys, time, threading

port, total = int(sys.argv[1]), int(sys.argv[2])
addresses = int(sys.argv[3]) if len(sys.argv) > 3 else 40
request = b"GET /session-bench.asp HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n"

def exchange(sock):
    sock.sendall(request)
    data = b""
    while b"\r\n\r\n" not in data:
        data += sock.recv(65536)
    head, _, body = data.partition(b"\r\n\r\n")
    length = int([l.split(b":")[1] for l in head.split(b"\r\n") if l.lower().startswith(b"content-length")][0])
    while len(body) < length:
        body += sock.recv(65536)

done = 0
lock = threading.Lock()
def worker(index):
    global done
    sock = None
    n = 0
    while True:
        with lock:
            if done >= total: break
            done += 1
            mine = done
        if n % 200 == 0:
            if sock: sock.close()
            sock = socket.socket()
            sock.bind(("127.0.0.%d" % (2 + (mine // 200) % addresses), 0))
            sock.connect(("127.0.0.1", port))
        exchange(sock)
        n += 1
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
