#!/usr/bin/env python3
"""stampd under socket activation (LISTEN_FDS, as stampd.socket starts it), restarted twice
during a wrk load of the generation round trip: no request may fail. systemd need not be
PID 1: scripts/socket-launcher.py holds the socket and restarts stampd as systemctl does.
Usage: socket_restart_test.py STAMPD"""
import os
import re
import signal
import subprocess
import sys
import tempfile
import time

root = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
stampd = sys.argv[1]
tmp = tempfile.mkdtemp()
port_file = os.path.join(tmp, "port")
launcher = subprocess.Popen([sys.executable, os.path.join(root, "scripts/socket-launcher.py"), port_file, stampd,
                             "--no-access-log"])
try:
    for _ in range(400):
        if os.path.exists(port_file):
            break
        time.sleep(0.05)
    port = int(open(port_file).read())
    wrk = subprocess.Popen(["wrk", "-t1", "-c16", "-d8s", "--timeout", "10s", "-s",
                            os.path.join(root, "scripts/wrk-generation.lua"), "http://127.0.0.1:%d" % port],
                           stdout=subprocess.PIPE, text=True)
    for _ in range(2):
        time.sleep(2.5)
        launcher.send_signal(signal.SIGUSR1)
    out = wrk.communicate(timeout=60)[0]
    print(out)
    requests = int(re.search(r"(\d+) requests in", out).group(1))
    assert requests > 1000, "too few requests: %d" % requests
    assert "Socket errors" not in out, "socket errors during the restarts"
    assert "Non-2xx" not in out, "failed answers during the restarts"
    print("socket_restart_test: passed (%d requests, 2 restarts, none failed)" % requests)
finally:
    launcher.send_signal(signal.SIGTERM)
    launcher.wait(20)
