#!/usr/bin/env python3
"""Hostile-load probe of stampd: prints the figures its operating targets are stated in.

  1. 32 keep-alive connections of unique maximum-cost renders (2048 px PNG of a full ring; the
     same ring with a full line after '|' as PDF): /healthz and a cached stamp, each asked every
     10 ms on a connection of its own, p50 / p99 / max; how the renders were answered
     (200, 503, anything else, resets and time-outs).
  2. 100 costly requests whose connections close right after sending: the next /healthz.
  3. Peak RSS (VmHWM) with the default cache under 16 connections of mixed costly PNG/PDF/SVG.
  4. SIGTERM while 8 connected clients have 3 pipelined requests each: clients answered in full.
  5. Restart through socket activation (scripts/socket-launcher.py) twice during a 20 s wrk
     load of the generation round trip: failed requests.

Usage: scripts/probe_load.py [--stampd PATH] [--seconds N] [--only 1,2,...]
"""
import argparse
import os
import re
import signal
import socket
import statistics
import subprocess
import sys
import tempfile
import threading
import time
import urllib.request

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
CJK = "%E5%AD%97"


def free_port():
    s = socket.socket()
    s.bind(("127.0.0.1", 0))
    p = s.getsockname()[1]
    s.close()
    return p


def start(stampd, extra=()):
    port = free_port()
    proc = subprocess.Popen([stampd, "--listen", "127.0.0.1:%d" % port, "--no-access-log"] + list(extra),
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    for _ in range(300):
        try:
            urllib.request.urlopen("http://127.0.0.1:%d/healthz" % port, timeout=1).read()
            return proc, port
        except Exception:
            time.sleep(0.05)
    raise SystemExit("stampd did not start")


def stop(proc):
    proc.send_signal(signal.SIGTERM)
    try:
        proc.wait(15)
    except subprocess.TimeoutExpired:
        proc.kill()
        proc.wait()


class Conn:
    """One keep-alive connection; request() returns the status (or an error name) and seconds."""

    def __init__(self, port, timeout=30):
        self.port, self.timeout, self.sock, self.buf = port, timeout, None, b""

    def _connect(self):
        self.sock = socket.create_connection(("127.0.0.1", self.port), timeout=self.timeout)
        self.sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        self.buf = b""

    def request(self, target):
        t0 = time.perf_counter()
        try:
            if self.sock is None:
                self._connect()
            self.sock.sendall(("GET %s HTTP/1.1\r\nHost: probe\r\n\r\n" % target).encode())
            status, close = self._read()
            if close:
                self.close()
            return status, time.perf_counter() - t0
        except socket.timeout:
            self.close()
            return "timeout", time.perf_counter() - t0
        except (ConnectionError, OSError) as e:
            self.close()
            return "reset" if isinstance(e, ConnectionResetError) else "error", time.perf_counter() - t0

    def _read(self):
        while b"\r\n\r\n" not in self.buf:
            d = self.sock.recv(65536)
            if not d:
                raise ConnectionError("closed")
            self.buf += d
        head, self.buf = self.buf.split(b"\r\n\r\n", 1)
        lines = head.decode("latin-1").split("\r\n")
        status = int(lines[0].split()[1])
        length, close = 0, False
        for l in lines[1:]:
            k, _, v = l.partition(":")
            if k.lower() == "content-length":
                length = int(v)
            if k.lower() == "connection" and "close" in v.lower():
                close = True
        while len(self.buf) < length:
            d = self.sock.recv(1 << 20)
            if not d:
                raise ConnectionError("closed")
            self.buf += d
        self.buf = self.buf[length:]
        return status, close

    def close(self):
        if self.sock:
            self.sock.close()
        self.sock = None


# Template 364 holds 22 cells on its ring and 12 on its line; a number of up to 8 digits takes
# 4 cells, so every text is new and full.
def costly_png(i):
    return "/stamp/364/2048/%s%08d.png" % (CJK * 18, i % 10**8)


def costly_bar(i, ext="pdf"):
    return "/stamp/364/0/%s%%7C%s%08d.%s" % (CJK * 22, CJK * 8, i % 10**8, ext)


def pct(values, p):
    if not values:
        return float("nan")
    v = sorted(values)
    return v[min(len(v) - 1, int(round(p / 100 * (len(v) - 1))))]


def ms(values):
    return "p50 %.1f ms, p99 %.1f ms, max %.1f ms (n=%d)" % (
        pct(values, 50) * 1e3, pct(values, 99) * 1e3, max(values) * 1e3 if values else float("nan"), len(values))


def load(port, make_target, conns, seconds):
    counts, lock, end = {}, threading.Lock(), time.time() + seconds
    seq = [0]

    def worker():
        c = Conn(port)
        while time.time() < end:
            with lock:
                seq[0] += 1
                n = seq[0]
            status, _ = c.request(make_target(n))
            with lock:
                counts[status] = counts.get(status, 0) + 1
        c.close()

    threads = [threading.Thread(target=worker) for _ in range(conns)]
    for t in threads:
        t.start()
    return threads, counts


def probe(port, target, until, interval=0.01):
    c, lat = Conn(port, timeout=60), []
    while time.time() < until:
        status, took = c.request(target)
        if status == 200:
            lat.append(took)
        else:
            lat.append(float("inf"))
        time.sleep(interval)
    c.close()
    return lat


def scenario_fairness(stampd, seconds):
    for name, make in (("2048 px PNG", costly_png), ("'|' PDF", costly_bar)):
        proc, port = start(stampd)
        cached = "/stamp/368/300/%E5%BC%A0%E4%B8%89.png"
        Conn(port).request(cached)
        base = int(time.time() * 1000) % 100000 * 1000
        threads, counts = load(port, lambda n: make(base + n), 32, seconds)
        time.sleep(0.5)
        until = time.time() + seconds - 1
        res = {}
        pt = [threading.Thread(target=lambda t=t: res.__setitem__(t, probe(port, t, until)))
              for t in ("/healthz", cached)]
        for t in pt:
            t.start()
        for t in pt + threads:
            t.join()
        stop(proc)
        print("1. 32 connections of %s renders, %d s:" % (name, seconds))
        print("   /healthz      %s" % ms(res["/healthz"]))
        print("   cached stamp  %s" % ms(res[cached]))
        print("   renders answered: %s" % ", ".join("%s: %d" % (k, v) for k, v in sorted(counts.items(), key=str)))


def scenario_abandoned(stampd):
    proc, port = start(stampd)
    base = int(time.time() * 1000) % 100000 * 1000
    for i in range(100):
        s = socket.create_connection(("127.0.0.1", port))
        s.sendall(("GET %s HTTP/1.1\r\nHost: probe\r\n\r\n" % costly_png(base + i)).encode())
        s.close()
    time.sleep(0.05)
    status, took = Conn(port, timeout=120).request("/healthz")
    stop(proc)
    print("2. 100 abandoned costly requests: next /healthz %s in %.1f ms" % (status, took * 1e3))


def scenario_memory(stampd, seconds):
    proc, port = start(stampd)
    kinds = [lambda n: costly_png(n), lambda n: costly_bar(n, "pdf"), lambda n: costly_bar(n, "svg"),
             lambda n: "/stamp/369/2048/%s%d.png" % (CJK * 10, n)]
    base = int(time.time() * 1000) % 100000 * 1000
    threads, counts = load(port, lambda n: kinds[n % len(kinds)](base + n), 16, seconds)
    for t in threads:
        t.join()
    with open("/proc/%d/status" % proc.pid) as f:
        hwm = int(re.search(r"VmHWM:\s+(\d+)", f.read()).group(1))
    stop(proc)
    print("3. 16 connections of mixed costly PNG/PDF/SVG, %d s, default cache: peak RSS %d MiB (%s)" % (
        seconds, hwm // 1024, ", ".join("%s: %d" % (k, v) for k, v in sorted(counts.items(), key=str))))


def scenario_sigterm(stampd):
    proc, port = start(stampd)
    cached = "/stamp/368/300/%E5%BC%A0%E4%B8%89.png"
    Conn(port).request(cached)
    base = int(time.time() * 1000) % 100000 * 1000
    socks = []
    for i in range(8):
        s = socket.create_connection(("127.0.0.1", port), timeout=20)
        req = "".join("GET %s HTTP/1.1\r\nHost: probe\r\n\r\n" % t for t in (costly_png(base + i), "/healthz", cached))
        s.sendall(req.encode())
        socks.append(s)
    proc.send_signal(signal.SIGTERM)
    complete = 0
    for s in socks:
        data = b""
        try:
            while True:
                d = s.recv(1 << 20)
                if not d:
                    break
                data += d
        except OSError:
            pass
        if len(re.findall(rb"HTTP/1\.1 200", data)) == 3:
            complete += 1
        s.close()
    proc.wait(20)
    print("4. SIGTERM with 8 pipelining clients (3 requests each): %d/8 answered in full" % complete)


def scenario_restart(stampd, seconds=20):
    tmp = tempfile.mkdtemp()
    port_file = os.path.join(tmp, "port")
    launcher = subprocess.Popen([sys.executable, os.path.join(ROOT, "scripts/socket-launcher.py"), port_file, stampd,
                                 "--no-access-log"], stderr=subprocess.DEVNULL)
    for _ in range(300):
        if os.path.exists(port_file):
            break
        time.sleep(0.05)
    port = int(open(port_file).read())
    wrk = subprocess.Popen(["wrk", "-t1", "-c32", "-d%ds" % seconds, "--timeout", "10s", "-s",
                            os.path.join(ROOT, "scripts/wrk-generation.lua"), "http://127.0.0.1:%d" % port],
                           stdout=subprocess.PIPE, text=True)
    for _ in range(2):  # at 30 % and 60 % of the load
        time.sleep(seconds * 0.3)
        launcher.send_signal(signal.SIGUSR1)
    out = wrk.communicate()[0]
    launcher.send_signal(signal.SIGTERM)
    launcher.wait(20)
    reqs = re.search(r"(\d+) requests in", out)
    errors = re.search(r"Socket errors: (.*)", out)
    non2xx = re.search(r"Non-2xx or 3xx responses: (\d+)", out)
    print("5. two restarts through socket activation during a %d s wrk load: %s requests, socket errors: %s, "
          "non-2xx: %s" % (seconds, reqs.group(1) if reqs else "?", errors.group(1) if errors else "none",
                           non2xx.group(1) if non2xx else "0"))


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--stampd", default=os.path.join(ROOT, "build/native/service/stampd"))
    ap.add_argument("--seconds", type=int, default=10)
    ap.add_argument("--only", default="1,2,3,4,5")
    a = ap.parse_args()
    only = set(a.only.split(","))
    if "1" in only:
        scenario_fairness(a.stampd, a.seconds)
    if "2" in only:
        scenario_abandoned(a.stampd)
    if "3" in only:
        scenario_memory(a.stampd, a.seconds)
    if "4" in only:
        scenario_sigterm(a.stampd)
    if "5" in only:
        scenario_restart(a.stampd)


if __name__ == "__main__":
    main()
