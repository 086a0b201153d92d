#!/usr/bin/env python3
"""Slow clients against the running proxy, for bench/slow_clients.sh.

  run PID PROXY ORIGIN N TIMEOUT   opens N connections to the proxy that send one
                                   byte each and then nothing; meanwhile a normal
                                   client (a process of its own) sends keep-alive
                                   GETs through the proxy. Prints the proxy's
                                   descriptors and RSS idle, with the N open, and
                                   once the header timeout has closed them, and
                                   the normal client's latencies.
  normal PROXY ORIGIN SECONDS      the normal client alone; prints its latencies

Talks to 127.0.0.1 only; every wait is bounded.
"""
import json
import os
import resource
import selectors
import socket
import subprocess
import sys
import time

from httpwire import read_answer

HOST = "127.0.0.1"


def figures(pid):
    """Open descriptors and RSS in KiB of the process."""
    fds = len(os.listdir("/proc/%d/fd" % pid))
    with open("/proc/%d/status" % pid) as f:
        rss = next(int(line.split()[1]) for line in f if line.startswith("VmRSS"))
    return fds, rss


def normal(proxy, origin, seconds):
    request = (b"GET http://%s:%d/n HTTP/1.1\r\nHost: %s:%d\r\n\r\n"
               % (HOST.encode(), origin, HOST.encode(), origin))
    latencies, failures = [], 0
    end = time.monotonic() + seconds
    sock, buf = None, b""
    while time.monotonic() < end:
        started = time.monotonic()
        try:
            if sock is None:
                sock = socket.create_connection((HOST, proxy), timeout=10)
                buf = b""
            sock.sendall(request)
            buf = read_answer(sock, buf)
            latencies.append(time.monotonic() - started)
        except (OSError, ConnectionError):
            failures += 1
            if sock is not None:
                sock.close()
            sock = None
        time.sleep(0.01)
    print(json.dumps({"latencies": latencies, "failures": failures}))


def percentile(values, p):
    if not values:
        return float("nan")
    values = sorted(values)
    return values[min(len(values) - 1, int(len(values) * p / 100))]


def run(pid, proxy, origin, n, timeout):
    soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
    want = n + 256
    if soft != resource.RLIM_INFINITY and soft < want:
        if hard != resource.RLIM_INFINITY and hard < want:
            sys.exit("slow_clients.py: %d connections need %d descriptors; the hard limit is %d"
                     % (n, want, hard))
        resource.setrlimit(resource.RLIMIT_NOFILE, (want, hard))
    idle = figures(pid)
    client = subprocess.Popen(
        [sys.executable, __file__, "normal", str(proxy), str(origin), str(timeout + 25)],
        stdout=subprocess.PIPE)
    time.sleep(1)  # the normal client's first requests before the crowd
    opened_at = time.monotonic()
    sel = selectors.DefaultSelector()
    slow = []
    refused = 0
    for _ in range(n):
        s = socket.socket()
        s.setblocking(False)
        try:
            s.connect((HOST, proxy))
        except BlockingIOError:
            pass
        except OSError:
            refused += 1
            s.close()
            continue
        slow.append(s)
        sel.register(s, selectors.EVENT_WRITE)
    # One byte on each once its connect has completed; then nothing.
    pending = len(slow)
    deadline = time.monotonic() + 30
    while pending and time.monotonic() < deadline:
        for key, _ in sel.select(1):
            try:
                key.fileobj.send(b"G")
            except OSError:
                refused += 1
            sel.unregister(key.fileobj)
            pending -= 1
    sent_at = time.monotonic()
    time.sleep(0.5)
    crowd = figures(pid)
    # Wait for the proxy to close them: each end is seen as EOF or a reset.
    for s in slow:
        sel.register(s, selectors.EVENT_READ)
    open_left = len(slow)
    deadline = sent_at + timeout + 20
    while open_left and time.monotonic() < deadline:
        for key, _ in sel.select(1):
            try:
                key.fileobj.recv(1)
            except OSError:
                pass
            sel.unregister(key.fileobj)
            open_left -= 1
    closed_after = time.monotonic() - sent_at
    time.sleep(1)
    after = figures(pid)
    for s in slow:
        s.close()
    out, _ = client.communicate(timeout=timeout + 60)
    served = json.loads(out)
    lat = served["latencies"]
    print("slow clients: %d opened (%d failed), one byte each, HeaderTimeout=%d s"
          % (len(slow), refused, timeout))
    print("all %d closed by the proxy %.1f s after the last byte (still open: %d)"
          % (len(slow) - open_left, closed_after, open_left))
    print("proxy descriptors: idle %d, with the crowd %d, after %d" % (idle[0], crowd[0], after[0]))
    print("proxy RSS KiB:     idle %d, with the crowd %d, after %d" % (idle[1], crowd[1], after[1]))
    print("normal client: %d requests, %d failed, p50 %.2f ms, p99 %.2f ms, max %.2f ms"
          % (len(lat), served["failures"], percentile(lat, 50) * 1000, percentile(lat, 99) * 1000,
             max(lat, default=float("nan")) * 1000))
    print("SLOW %s" % json.dumps({"idle": idle, "crowd": crowd, "after": after,
                                  "closed_after_s": round(closed_after, 2), "open_left": open_left,
                                  "requests": len(lat), "failures": served["failures"],
                                  "p99_ms": round(percentile(lat, 99) * 1000, 3),
                                  "opened_in_s": round(sent_at - opened_at, 2)}))
    return 0 if open_left == 0 and served["failures"] == 0 else 1


def main():
    if sys.argv[1] == "normal":
        normal(int(sys.argv[2]), int(sys.argv[3]), float(sys.argv[4]))
        return 0
    if sys.argv[1] == "run":
        pid, proxy, origin, n, timeout = map(int, sys.argv[2:7])
        return run(pid, proxy, origin, n, timeout)
    print(__doc__)
    return 2


if __name__ == "__main__":
    sys.exit(main())
