#!/usr/bin/env bash
# Several stampd instances behind nginx, on loopback, from deploy/nginx/stampd.conf: three
# instances on free ports, nginx in the foreground under a temporary prefix (the config's
# upstream ports, listen address and cache folder replaced by the test's own). Checks:
#   - a picture generated through nginx is the same bytes fetched from each instance directly;
#   - a thumbnail fetched twice: the second answer comes from nginx's cache (X-Cache-Status);
#   - two clients through nginx while an instance's render pool is saturated: each gets about
#     half of the renders (the instances trust nginx's X-Forwarded-For, --trusted-proxy);
#   - one instance SIGKILLed during a 20 s load through nginx: no failed request at the client;
# and prints throughput and p99 through nginx with one and with three instances.
# Usage: scripts/cluster-test.sh [path/to/stampd]   (scripts/test.sh runs it under the build lock)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
stampd=${1:-$root/build/native/service/stampd}
load_seconds=${CLUSTER_LOAD_SECONDS:-10}
[ -x "$stampd" ] || { echo "cluster-test: $stampd not built"; exit 1; }

tmp=$(mktemp -d /tmp/stampd-cluster.XXXXXX)
pids=()
nginx_pid=""
cleanup() {
  [ -n "$nginx_pid" ] && kill -QUIT "$nginx_pid" 2>/dev/null && wait "$nginx_pid" 2>/dev/null
  for p in "${pids[@]}"; do kill -TERM "$p" 2>/dev/null || true; done
  for p in "${pids[@]}"; do wait "$p" 2>/dev/null || true; done
  rm -rf "$tmp"
}
trap cleanup EXIT
fail() { echo "cluster-test: FAILED: $*"; [ -f "$tmp/error.log" ] && tail -5 "$tmp/error.log"; exit 1; }

free_ports() {  # free_ports N: N loopback ports nobody listens on
  python3 - "$1" <<'PY'
import socket, sys
socks = [socket.socket() for _ in range(int(sys.argv[1]))]
for s in socks: s.bind(("127.0.0.1", 0))
print(" ".join(str(s.getsockname()[1]) for s in socks))
PY
}
wait_http() {  # wait_http URL: up to 10 s
  for _ in $(seq 100); do curl -fsS -o /dev/null "$1" 2>/dev/null && return 0; sleep 0.1; done
  return 1
}

read -r p1 p2 p3 pn <<<"$(free_ports 4)"
ports=("$p1" "$p2" "$p3")
for p in "${ports[@]}"; do
  "$stampd" --listen "127.0.0.1:$p" --no-access-log --cache-mb 64 --trusted-proxy 127.0.0.1 2>"$tmp/stampd-$p.log" &
  pids+=($!)
done
for p in "${ports[@]}"; do wait_http "http://127.0.0.1:$p/healthz" || fail "stampd on $p did not start"; done

# nginx_conf FILE INSTANCES...: the deployed config with the test's ports and folders. With
# UNLIMITED=1 the per-client limit on cache misses is lifted: the throughput loads come from one
# address that stands for many clients.
nginx_conf() {
  local out=$1
  shift
  local rate=20r/s
  [ "${UNLIMITED:-0}" = 1 ] && rate=100000r/s
  local site="$tmp/stampd-site.conf"
  sed -e "s|127.0.0.1:8081|127.0.0.1:${1}|" \
      -e "s|127.0.0.1:8082|127.0.0.1:${2:-$1}|" \
      -e "s|127.0.0.1:8083|127.0.0.1:${3:-$1}|" \
      -e "s|listen 80;|listen 127.0.0.1:$pn;|" -e "/listen \[::\]:80;/d" \
      -e "s|/var/cache/nginx/stampd|$tmp/cache|" \
      -e "s|unix:/run/nginx-stampd-render.sock|unix:$tmp/render.sock|" \
      -e "/zone=stampd_render:/s|rate=20r/s|rate=$rate|" \
      "$root/deploy/nginx/stampd.conf" | awk '!seen[$0]++ || $0 !~ /^ *server 127/' >"$site"
  cat >"$out" <<CONF
daemon off;
user root;
worker_processes 2;
pid $tmp/nginx.pid;
error_log $tmp/error.log warn;
events { worker_connections 2048; }
http {
    access_log off;
    client_body_temp_path $tmp/body;
    proxy_temp_path $tmp/proxy;
    fastcgi_temp_path $tmp/fastcgi;
    uwsgi_temp_path $tmp/uwsgi;
    scgi_temp_path $tmp/scgi;
    include $site;
}
CONF
}
start_nginx() {  # start_nginx INSTANCES...
  nginx_conf "$tmp/nginx.conf" "$@"
  nginx -t -q -p "$tmp" -e "$tmp/error.log" -c "$tmp/nginx.conf" || fail "nginx rejects the config"
  nginx -p "$tmp" -e "$tmp/error.log" -c "$tmp/nginx.conf" &
  nginx_pid=$!
  wait_http "http://127.0.0.1:$pn/healthz" || fail "nginx did not start"
}
stop_nginx() {
  kill -QUIT "$nginx_pid"
  wait "$nginx_pid" 2>/dev/null || true
  nginx_pid=""
}
load() {  # load SECONDS: wrk through nginx, new pictures only; prints wrk-cluster.lua's lines
  wrk -t2 -c16 -d"${1}s" --timeout 10s -s "$root/scripts/wrk-cluster.lua" "http://127.0.0.1:$pn" | grep -E '^(requests|failed) '
}

base="http://127.0.0.1:$pn"
start_nginx "${ports[@]}"

echo "-- generation through nginx, the picture from each instance"
reply=$(curl -fsS "$base/aosbegin.php?text=%E9%9B%86%E7%BE%A4%E6%B5%8B%E8%AF%95&id=369&signsize=0&rnd=0.5")
path=$(sed -n 's|.*<outputimg>\.\(/stamp/[^<]*\)</outputimg>.*|\1|p' <<<"$reply")
[ -n "$path" ] || fail "no picture path in: $reply"
curl -fsS -o "$tmp/via-nginx.png" "$base$path" || fail "fetch $path through nginx"
for p in "${ports[@]}"; do
  curl -fsS -o "$tmp/direct-$p.png" "http://127.0.0.1:$p$path" || fail "fetch $path from $p"
  cmp -s "$tmp/via-nginx.png" "$tmp/direct-$p.png" || fail "instance $p drew different bytes for $path"
done
echo "   $path: $(stat -c %s "$tmp/via-nginx.png") bytes, identical from all three instances"

echo "-- a thumbnail twice: the second from nginx's cache"
thumb=/maker/thumbnails/C_1350613394995.png
first=$(curl -fsS -D - -o "$tmp/t1.png" "$base$thumb" | tr -d '\r' | sed -n 's/^X-Cache-Status: //Ip')
second=$(curl -fsS -D - -o "$tmp/t2.png" "$base$thumb" | tr -d '\r' | sed -n 's/^X-Cache-Status: //Ip')
[ "$first" = MISS ] || fail "first thumbnail fetch: X-Cache-Status '$first', want MISS"
[ "$second" = HIT ] || fail "second thumbnail fetch: X-Cache-Status '$second', want HIT"
cmp -s "$tmp/t1.png" "$tmp/t2.png" || fail "cached thumbnail differs"
gen=$(curl -fsS -D - -o /dev/null "$base/aosbegin.php?text=%E5%BC%A0%E4%B8%89&id=368" | tr -d '\r' | grep -ci '^X-Cache-Status:' || true)
[ "$gen" = 0 ] || fail "/aosbegin.php went through the cache"
echo "   MISS then HIT; /aosbegin.php not cached"

echo "-- a client over its limit on new pictures gets 429; another client gets every answer (its cache-hit latency printed)"
[ "$(curl -s -o /dev/null -w '%{http_code}' "$base/metrics")" = 404 ] || fail "/metrics is served through nginx"
python3 - "$pn" "$tmp/fair.txt" <<'PY' || fail "per-client limit: $(cat "$tmp/fair.txt")"
import http.client, socket, sys, threading, time
port, out = int(sys.argv[1]), sys.argv[2]
CJK = "%E5%AD%97"

def conn(source):
    c = http.client.HTTPConnection("127.0.0.1", port, timeout=10, source_address=(source, 0))
    return c

def get(c, path):
    t = time.perf_counter()
    c.request("GET", path)
    r = c.getresponse()
    r.read()
    return r.status, time.perf_counter() - t, r.getheader("X-Cache-Status")

# The hostile client (127.0.0.2): 4 connections asking for new pictures as fast as they can.
hostile, stop = {}, time.time() + 4
def flood(k):
    c, n = conn("127.0.0.2"), 0
    while time.time() < stop:
        n += 1
        s, _, _ = get(c, "/stamp/369/0/%s%d-%d.png" % (CJK * 4, k, n))
        hostile[s] = hostile.get(s, 0) + 1
threads = [threading.Thread(target=flood, args=(k,)) for k in range(4)]
for t in threads: t.start()
# The polite client (127.0.0.3): a cached picture every 20 ms and a new one every 200 ms.
polite, lat, c, n = {}, [], conn("127.0.0.3"), 0
get(c, "/stamp/368/0/%E5%BC%A0%E4%B8%89.png")
while time.time() < stop - 0.2:
    n += 1
    path = "/stamp/368/0/%s%d.png" % (CJK * 2, n) if n % 10 == 0 else "/stamp/368/0/%E5%BC%A0%E4%B8%89.png"
    s, took, cache = get(c, path)
    polite[s] = polite.get(s, 0) + 1
    if cache == "HIT": lat.append(took)
    time.sleep(0.02)
for t in threads: t.join()
lat.sort()
p99 = lat[int(0.99 * (len(lat) - 1))] * 1000
msg = "hostile client: %s; polite client: %s, cache hits p50 %.1f ms p99 %.1f ms" % (
    dict(sorted(hostile.items())), dict(sorted(polite.items())), lat[len(lat) // 2] * 1000, p99)
open(out, "w").write(msg)
print("   " + msg)
ok = hostile.get(429, 0) > 0 and set(polite) == {200}
sys.exit(0 if ok else 1)
PY

echo "-- two clients through nginx, one instance's render pool saturated: each about half the renders"
# 127.0.0.2 with 12 connections and 127.0.0.3 with 4 ask for new costly pictures for 6 s. nginx
# is the peer of every request; stampd trusts its X-Forwarded-For and takes turns between the
# two clients, so each gets about half of what is rendered (without --trusted-proxy, one queue:
# shares follow the connections, 3 to 1). A generous band: fairness, not timing, is checked.
export UNLIMITED=1
stop_nginx
start_nginx "$p1"
python3 - "$pn" "$tmp/share.txt" <<'PY' || fail "render shares: $(cat "$tmp/share.txt")"
import http.client, sys, threading, time
port, out = int(sys.argv[1]), sys.argv[2]
CJK = "%E5%AD%97" * 18  # with eight digits the template's 22 cells: tens of ms at 2048 px
rendered, other, lock = {"127.0.0.2": 0, "127.0.0.3": 0}, {}, threading.Lock()
start, stop = time.time() + 1, time.time() + 7  # the first second fills the queue

def client(source, k):
    c, n = http.client.HTTPConnection("127.0.0.1", port, timeout=60, source_address=(source, 0)), 0
    while time.time() < stop:
        n += 1
        c.request("GET", "/stamp/364/2048/%s%s%02d%05d.png" % (CJK, source[-1], k, n))
        r = c.getresponse()
        r.read()
        with lock:
            if r.status != 200:
                other[r.status] = other.get(r.status, 0) + 1
            elif start <= time.time() < stop:
                rendered[source] += 1

threads = [threading.Thread(target=client, args=("127.0.0.2", k)) for k in range(12)]
threads += [threading.Thread(target=client, args=("127.0.0.3", k)) for k in range(4)]
for t in threads: t.start()
for t in threads: t.join()
total = sum(rendered.values())
share = rendered["127.0.0.3"] / total if total else 0
msg = "renders in 6 s: 127.0.0.2 (12 connections) %d, 127.0.0.3 (4 connections) %d: %.0f %% / %.0f %%%s" % (
    rendered["127.0.0.2"], rendered["127.0.0.3"], 100 * (1 - share), 100 * share,
    "; other answers %s" % other if other else "")
open(out, "w").write(msg)
print("   " + msg)
sys.exit(0 if total >= 20 and 0.35 <= share <= 0.65 and not other else 1)
PY

echo "-- figures through nginx (${load_seconds} s each, wrk 2 threads, 16 connections, new picture per request)"
echo "   1 instance:  $(load "$load_seconds" | tr '\n' ' ')"
stop_nginx
start_nginx "${ports[@]}"
echo "   3 instances: $(load "$load_seconds" | tr '\n' ' ')"

echo "-- one instance SIGKILLed 5 s into a 20 s load through nginx"
(sleep 5 && kill -KILL "${pids[1]}") &
killer=$!
result=$(load 20)
wait "$killer"
echo "   $(tr '\n' ' ' <<<"$result")"
grep -q '^failed 0 ' <<<"$result" || fail "requests failed at the client while an instance died"
curl -fsS -o /dev/null "http://127.0.0.1:${p2}/healthz" 2>/dev/null && fail "the killed instance still answers"
echo "cluster-test: passed"
