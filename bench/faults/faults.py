#!/usr/bin/env python3
"""Faults injected into the upload site's cluster under load.

    faults.py ROOT RUN_DIR BALANCER_PORT PORT_ONE PORT_TWO REDIS_PORT [SECONDS]

The cluster (scripts/cluster.sh) serves ROOT; its supervisord's socket is in
RUN_DIR. Ten clients upload files of 20 MB through the balancer without a
pause, five pollers read the progress of the uploads in flight, and a probe
asks for the home page every 50 ms. Each fault is injected in turn, with
SECONDS (20) of load after it; then every upload answered 200 has its saved
file compared with what was sent. Prints a Markdown table.
"""
import hashlib
import http.client
import json
import os
import random
import re
import signal
import subprocess
import sys
import threading
import time

ROOT, RUN_DIR = sys.argv[1], sys.argv[2]
BALANCER, ONE, TWO, REDIS = (int(p) for p in sys.argv[3:7])
WINDOW = float(sys.argv[7]) if len(sys.argv) > 7 else 20.0
FILE_MB = 20
stop = threading.Event()
lock = threading.Lock()
uploads = []      # dicts: start, end, status, saved, sha, size, id, progress_seen
probes = []       # (time, ok, seconds)
active = {}       # query -> (cookie, upload record)


def control(*args):
    return subprocess.run(["supervisorctl", "-s", "unix://%s/supervisor.sock" % RUN_DIR] + list(args),
                          capture_output=True, text=True).stdout.strip()


def pid_of(program):
    text = control("pid", program)
    return int(text) if text.isdigit() else 0


def request(port, method, target, body=None, headers=None, timeout=300):
    connection = http.client.HTTPConnection("127.0.0.1", port, timeout=timeout)
    try:
        connection.request(method, target, body=body, headers=headers or {})
        answer = connection.getresponse()
        return answer.status, dict((k.lower(), v) for k, v in answer.getheaders()), answer.read()
    finally:
        connection.close()


def healthy(port):
    try:
        return request(port, "GET", "/health", timeout=1)[0] == 200
    except OSError:
        return False


def uploader(number):
    sequence = 0
    while not stop.is_set():
        sequence += 1
        record = {"start": time.time(), "end": None, "status": None, "saved": None, "progress_seen": False}
        try:
            status, headers, page = request(BALANCER, "GET", "/upload", timeout=10)
            form = re.search(rb'action="/upload\?([^"]+)"', page)
            if status != 200 or not form:
                raise LookupError("the upload page answered %d" % status)
            cookie = headers.get("set-cookie", "").split(";")[0]
            query = form.group(1).decode().replace("&amp;", "&")
            content = (b"%d-%d-" % (number, sequence)) * 1 + os.urandom(1024) * (FILE_MB * 1024)
            record.update(sha=hashlib.sha256(content).hexdigest(), size=len(content), query=query)
            body = (b"--Fault\r\nContent-Disposition: form-data; name=\"file\"; filename=\"f.bin\"\r\n"
                    b"Content-Type: application/octet-stream\r\n\r\n" + content + b"\r\n--Fault--\r\n")
            with lock:
                active[query] = (cookie, record)
            status, headers, answer = request(BALANCER, "POST", "/upload?" + query, body=body, headers={
                "Content-Type": "multipart/form-data; boundary=Fault", "Accept": "application/json",
                "Cookie": cookie})
            record["status"] = status
            if status == 200:
                saved = re.search(rb'"SavedAs": "([^"]+)"', answer)
                record["saved"] = saved.group(1).decode() if saved else None
        except LookupError:
            record["status"] = "upload page failed"
        except (OSError, http.client.HTTPException) as error:
            record["status"] = "error: %s" % type(error).__name__
            time.sleep(0.1)  # a balancer that is down refuses at once
        record["end"] = time.time()
        with lock:
            active.pop(record.get("query"), None)
            uploads.append(record)


def poller():
    while not stop.is_set():
        with lock:
            forms = list(active.items())
        for query, (cookie, record) in random.sample(forms, min(4, len(forms))):
            try:
                status, _, body = request(BALANCER, "GET", "/progress?" + query, headers={"Cookie": cookie}, timeout=5)
                if status == 200 and json.loads(body).get("BytesDone", 0) > 0:
                    record["progress_seen"] = True
            except (OSError, ValueError, http.client.HTTPException):
                pass
        time.sleep(0.2)


def probe_once():
    start = time.time()
    try:
        ok = request(BALANCER, "GET", "/index.html", timeout=30)[0] == 200
    except (OSError, http.client.HTTPException):
        ok = False
    with lock:
        probes.append((start, ok, time.time() - start))


def probe():
    # Each probe on a thread of its own: one that waits on a hung server does
    # not hold back the next.
    while not stop.is_set():
        threading.Thread(target=probe_once, daemon=True).start()
        time.sleep(0.05)


def wait_until(condition, limit):
    start = time.time()
    while time.time() - start < limit:
        if condition():
            return time.time() - start
        time.sleep(0.05)
    return None


def kill_server():
    pid = pid_of("server-one")
    os.kill(pid, signal.SIGKILL)
    time.sleep(0.2)
    back = wait_until(lambda: pid_of("server-one") not in (0, pid) and healthy(ONE), 30)
    return "server back in %.1f s" % (back + 0.2) if back is not None else "server not back in 30 s"


def hang_server():
    pid = pid_of("server-two")
    os.kill(pid, signal.SIGSTOP)
    start = time.time()
    time.sleep(20)
    os.kill(pid, signal.SIGCONT)
    time.sleep(2)  # the probes that waited on it end now
    # Taken out: the last probe sent to it (one that waited) left this long after the stop.
    with lock:
        waited = [p[0] - start for p in probes if p[0] >= start and (not p[1] or p[2] > 1)]
    return ("stopped for 20 s; the last probe that waited on it left %.1f s after the stop" % max(waited)
            if waited else "stopped for 20 s; no probe waited on it")


def restart_servers():
    start = time.time()
    control("restart", "server-one")
    control("restart", "server-two")
    return "both restarted one after the other (drained) in %.1f s" % (time.time() - start)


def kill_balancer():
    pid = pid_of("haproxy")
    os.kill(pid, signal.SIGKILL)
    back = wait_until(lambda: pid_of("haproxy") not in (0, pid) and healthy(BALANCER), 30)
    return "balancer back in %.1f s" % back if back is not None else "balancer not back"


def reload_balancer():
    control("signal", "USR2", "haproxy")
    return "graceful reload (SIGUSR2 to the master)"


def flush_redis():
    subprocess.run(["redis-cli", "-p", str(REDIS), "flushall"], capture_output=True)
    return "FLUSHALL"


def kill_redis():
    pid = pid_of("redis")
    os.kill(pid, signal.SIGKILL)
    back = wait_until(lambda: pid_of("redis") not in (0, pid), 30)
    return "Redis back in %.1f s" % back if back is not None else "Redis not back"


def check_saved(record):
    path = os.path.join(ROOT, record["saved"].lstrip("/"))
    try:
        digest = hashlib.sha256()
        size = 0
        with open(path, "rb") as saved:
            for block in iter(lambda: saved.read(1 << 20), b""):
                digest.update(block)
                size += len(block)
        return size == record["size"] and digest.hexdigest() == record["sha"]
    except OSError:
        return False


def summary(name, what, start, end):
    with lock:
        done = [u for u in uploads if u["end"] and u["start"] < end and u["end"] > start]
        window = [p for p in probes if start <= p[0] < end]
    ok = [u for u in done if u["status"] == 200]
    bad = [u for u in ok if not u["saved"] or not check_saved(u)]
    failed = [u for u in done if u["status"] != 200]
    failures = [p for p in window if not p[1]]
    slow = [p for p in window if p[1] and p[2] > 1]
    span = (max(p[0] for p in failures) - min(p[0] for p in failures)) if failures else 0
    no_progress = [u for u in ok if not u["progress_seen"] and u["end"] - u["start"] > 3]
    kinds = {}
    for u in failed:
        kinds[str(u["status"])] = kinds.get(str(u["status"]), 0) + 1
    return "| %s | %s | %d | %d | %s | %d of %d (%.1f s) | %d | %d |" % (
        name, what, len(ok), len(bad), ", ".join("%s x%d" % kv for kv in sorted(kinds.items())) or "0",
        len(failures), len(window), span, len(slow), len(no_progress))


def main():
    threads = [threading.Thread(target=uploader, args=(n,)) for n in range(10)]
    threads += [threading.Thread(target=poller) for _ in range(5)] + [threading.Thread(target=probe)]
    for thread in threads:
        thread.start()
    rows = []
    faults = [("none (steady load)", lambda: "no fault"), ("kill -9 one server", kill_server),
              ("SIGSTOP one server for 20 s", hang_server), ("SIGTERM both servers in turn (restart)", restart_servers),
              ("kill -9 HAProxy", kill_balancer), ("HAProxy graceful reload", reload_balancer),
              ("Redis FLUSHALL", flush_redis), ("kill -9 Redis", kill_redis)]
    try:
        time.sleep(5)
        for name, inject in faults:
            start = time.time()
            what = inject()
            time.sleep(max(0, WINDOW - (time.time() - start)))
            end = time.time()
            time.sleep(2)  # the probes and uploads of the window end
            rows.append(summary(name, what, start, end))
            print(rows[-1], flush=True)
    finally:
        stop.set()
        for thread in threads:
            thread.join()
    print()
    print("| fault | what happened | uploads answered 200 | of them with a missing, short or wrong file |"
          " uploads not answered 200 | failed probes (span) | probes slower than 1 s | uploads over 3 s never seen in progress |")
    print("|---|---|---:|---:|---|---|---:|---:|")
    for row in rows:
        print(row)


main()
