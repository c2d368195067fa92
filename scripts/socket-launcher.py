#!/usr/bin/env python3
"""Holds a listening socket and runs stampd on it the way systemd's stampd.socket does
(LISTEN_FDS=1, LISTEN_PID, the socket as descriptor 3), for tests and probes on machines where
systemd is not PID 1. SIGUSR1 restarts stampd as `systemctl restart` does: SIGTERM to the
running one, wait for it to exit, start a new one. Connections arriving meanwhile wait in the
socket's queue. SIGTERM stops stampd and the launcher.

Usage: socket-launcher.py PORTFILE STAMPD [ARGS...]   (binds 127.0.0.1 on a free port and
writes the port to PORTFILE once the first stampd answers /healthz)
"""
import os
import signal
import socket
import sys
import time
import urllib.request

port_file, stampd, args = sys.argv[1], sys.argv[2], sys.argv[3:]
listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
listener.bind(("127.0.0.1", 0))
listener.listen(4096)
port = listener.getsockname()[1]


def start():
    pid = os.fork()
    if pid == 0:
        os.dup2(listener.fileno(), 3)
        os.set_inheritable(3, True)
        env = dict(os.environ, LISTEN_FDS="1", LISTEN_PID=str(os.getpid()))
        os.execve(stampd, [stampd] + args, env)
    return pid


child = start()
restart = False
stop = False


def on_usr1(*_):
    global restart
    restart = True


def on_term(*_):
    global stop
    stop = True


signal.signal(signal.SIGUSR1, on_usr1)
signal.signal(signal.SIGTERM, on_term)
for _ in range(200):
    try:
        urllib.request.urlopen("http://127.0.0.1:%d/healthz" % port, timeout=1).read()
        break
    except Exception:
        time.sleep(0.05)
with open(port_file + ".tmp", "w") as f:
    f.write(str(port))
os.rename(port_file + ".tmp", port_file)
while not stop:
    if restart:
        restart = False
        os.kill(child, signal.SIGTERM)
        os.waitpid(child, 0)
        child = start()
        sys.stderr.write("socket-launcher: restarted stampd\n")
        continue
    pid, status = os.waitpid(child, os.WNOHANG)
    if pid == child:
        sys.stderr.write("socket-launcher: stampd exited (%d)\n" % status)
        sys.exit(1)
    time.sleep(0.02)
os.kill(child, signal.SIGTERM)
os.waitpid(child, 0)
