#!/usr/bin/env python3
"""GET /metrics of a running stampd read by the Prometheus client library's own text-format
parser (Debian's python3-prometheus-client): every family parses, has its type, and the counts
follow the requests made. Usage: metrics_format_test.py STAMPD"""
import socket
import subprocess
import sys
import time
import urllib.request

from prometheus_client.parser import text_string_to_metric_families

s = socket.socket()
s.bind(("127.0.0.1", 0))
port = s.getsockname()[1]
s.close()
proc = subprocess.Popen([sys.argv[1], "--listen", "127.0.0.1:%d" % port, "--no-access-log"], stderr=subprocess.DEVNULL)
base = "http://127.0.0.1:%d" % port
try:
    for _ in range(300):
        try:
            urllib.request.urlopen(base + "/healthz", timeout=1).read()
            break
        except Exception:
            time.sleep(0.05)
    for path in ["/healthz", "/stamp/368/0/AB.png", "/stamp/368/0/AB.png", "/aosbegin.php?text=%E5%BC%A0%E4%B8%89&id=368"]:
        urllib.request.urlopen(base + path, timeout=10).read()
    try:
        urllib.request.urlopen(base + "/missing", timeout=10)
    except urllib.error.HTTPError:
        pass
    reply = urllib.request.urlopen(base + "/metrics", timeout=10)
    assert reply.headers["Content-Type"].startswith("text/plain; version=0.0.4"), reply.headers["Content-Type"]
    families = {f.name: f for f in text_string_to_metric_families(reply.read().decode())}
    want = {
        "stampd_requests": "counter", "stampd_request_duration_seconds": "histogram",
        "stampd_render_queue_depth": "gauge", "stampd_render_wait_seconds": "histogram",
        "stampd_render_rejected": "counter", "stampd_render_dropped": "counter", "stampd_render_expired": "counter",
        "stampd_cache_hits": "counter",
        "stampd_cache_misses": "counter", "stampd_cache_bytes": "gauge", "stampd_open_connections": "gauge",
        "stampd_access_log_dropped_lines": "counter", "process_resident_memory_bytes": "gauge",
    }
    for name, kind in want.items():
        assert name in families, "missing family %s (have %s)" % (name, sorted(families))
        assert families[name].type == kind, "%s is %s, want %s" % (name, families[name].type, kind)
    counts = {(x.labels.get("route"), x.labels.get("status")): x.value for x in families["stampd_requests"].samples}
    assert counts[("stamp", "200")] == 2, counts
    assert counts[("generate", "200")] == 1, counts
    assert counts[("other", "404")] == 1, counts
    hits = [x.value for x in families["stampd_cache_hits"].samples][0]
    misses = [x.value for x in families["stampd_cache_misses"].samples][0]
    assert (hits, misses) == (1, 2), (hits, misses)
    buckets = [x for x in families["stampd_request_duration_seconds"].samples
               if x.name.endswith("_bucket") and x.labels["route"] == "healthz"]
    count = [x.value for x in families["stampd_request_duration_seconds"].samples
             if x.name.endswith("_count") and x.labels["route"] == "healthz"][0]
    # The start-up poll and the request above (and more if the poll retried).
    assert buckets[-1].labels["le"] == "+Inf" and buckets[-1].value == count >= 2, buckets
    assert all(a.value <= b.value for a, b in zip(buckets, buckets[1:])), "buckets not cumulative"
    print("metrics_format_test: passed (%d families)" % len(families))
finally:
    proc.terminate()
    proc.wait(10)
