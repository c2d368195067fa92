#!/usr/bin/env bash
# stampd's image under podman (runc; loopback ports only), as an operator runs it:
#   - the image's configuration: non-root user, STOPSIGNAL SIGTERM, the /healthz health check,
#     the fonts inside;
#   - it starts (time to the first /healthz answer) and draws the same bytes as the native
#     build (build/native/service/stampd) for the same paths;
#   - it keeps serving with --read-only, no capabilities and a memory limit, and its root file
#     system refuses writes; /metrics passes `promtool check metrics`;
#   - SIGTERM with renders in flight: every request already sent is answered and it exits 0
#     within its grace (time printed; STOP_SIGNAL=KILL shows the check failing);
#   - a wrong listen address, missing fonts or a cache larger than its memory limit: it exits
#     at once with one clear line;
#   - a rolling restart behind the shipped nginx (deploy/nginx/stampd.conf): two containers,
#     each in turn stopped with SIGTERM and replaced by a container of the next image, under a
#     wrk load: zero failed requests (figures printed).
# Builds the image first with scripts/build-image.sh, from build/package/stampd_1.0-1_amd64.deb
# (scripts/test.sh's package step made it; built here when missing). Removes every container
# and image it made.
# Usage: scripts/container-test.sh [path/to/native/stampd]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
native=${1:-$root/build/native/service/stampd}
image=${STAMPD_IMAGE:-localhost/stampd:1.0-1}
next=$image-next
[ -x "$native" ] || { echo "container-test: $native not built"; exit 1; }

tmp=$(mktemp -d /tmp/stampd-container.XXXXXX)
tag=stampd-test-$$
native_pid=""
nginx_pid=""
# 9>&-: scripts/test.sh holds the build lock on fd 9; conmon must not keep it.
# Without systemd podman cannot schedule the periodic health check (podman healthcheck run
# still works) and says so on every start: keep that line out of the output.
pod() { timeout 120 podman --runtime runc "$@" 9>&- 2> >(grep -v 'unable to get systemd connection' >&2); }
cleanup() {
  [ -n "$nginx_pid" ] && kill -QUIT "$nginx_pid" 2>/dev/null && wait "$nginx_pid" 2>/dev/null
  [ -n "$native_pid" ] && kill -TERM "$native_pid" 2>/dev/null && wait "$native_pid" 2>/dev/null
  for c in $(podman ps -a --filter "name=^$tag" --format '{{.Names}}' 2>/dev/null); do
    pod rm -f -t 0 "$c" >/dev/null 2>&1 || true
  done
  if [ "${STAMPD_KEEP_IMAGE:-0}" != 1 ]; then
    pod rmi -f "$next" "$image" >/dev/null 2>&1 || true
  fi
  rm -rf "$tmp"
}
trap cleanup EXIT
fail() { echo "container-test: FAILED: $*"; exit 1; }
now() { date +%s.%N; }
ms_since() { awk -v a="$1" -v b="$(now)" 'BEGIN { printf "%.0f", (b - a) * 1000 }'; }
free_ports() {  # free_ports N: N loopback ports nobody listens on
  python3 - "$1" <<'PY'
import socket, sys
socks = [socket.socket() for _ in range(int(sys.argv[1]))]
for s in socks: s.bind(("127.0.0.1", 0))
print(" ".join(str(s.getsockname()[1]) for s in socks))
PY
}
wait_http() {  # wait_http URL [tenths]: until it answers 2xx, at most 20 s by default
  for _ in $(seq "${2:-200}"); do curl -fsS -o /dev/null --max-time 1 "$1" 2>/dev/null && return 0; sleep 0.1; done
  return 1
}
# The options every container here runs with: what the Kubernetes manifests ask for (read-only
# root, no capabilities, no privilege gain, the 320 MiB memory limit) and explicit limits for
# this machine (see ../shared/PLATFORM.md, "Containers").
run_opts=(--read-only --cap-drop=all --security-opt=no-new-privileges --memory=320m
          --ulimit nofile=16384:16384 --ulimit nproc=4096:4096)
start() {  # start NAME PORT [IMAGE]: a detached container publishing PORT on loopback
  pod run -d --name "$1" "${run_opts[@]}" -p "127.0.0.1:$2:8077" "${3:-$image}" --cache-mb 64 >/dev/null
}

echo "-- image"
scripts/build-image.sh | sed 's/^/   /' || fail "the image was not built"
[ "$(podman image inspect --format '{{.Config.User}}' "$image")" = 10001:10001 ] || fail "the image does not run as 10001"
[ "$(podman image inspect --format '{{.Config.StopSignal}}' "$image")" = SIGTERM ] || fail "STOPSIGNAL is not SIGTERM"
podman image inspect --format '{{.HealthCheck.Test}}' "$image" | grep -q stampd-healthz || fail "no health check"
pod run --rm "${run_opts[@]}" --entrypoint /bin/ls "$image" /usr/share/fonts/opentype/noto/NotoSerifCJK-Bold.ttc \
  /usr/share/fonts/truetype/arphic/ukai.ttc /usr/share/fonts/truetype/wqy/wqy-microhei.ttc >/dev/null || fail "fonts missing"
echo "   user 10001, STOPSIGNAL SIGTERM, HEALTHCHECK stampd-healthz, fonts inside"

read -r port pnative pa pb pn <<<"$(free_ports 5)"
c1=$tag-main
echo "-- start"
t0=$(now)
start "$c1" "$port"
wait_http "http://127.0.0.1:$port/healthz" || { podman logs "$c1" | tail -5; fail "the container did not answer /healthz"; }
start_ms=$(ms_since "$t0")
echo "   podman run to the first /healthz answer: $start_ms ms"
[ "$(podman inspect --format '{{.HostConfig.ReadonlyRootfs}}' "$c1")" = true ] || fail "root file system not read-only"
[ "$(pod exec "$c1" stat -c %u /proc/1)" = 10001 ] || fail "stampd (PID 1) does not run as 10001"
# Straight to the file, not through pod(): its filter of stderr runs asynchronously and could
# write after the file is read.
timeout 60 podman --runtime runc exec "$c1" /bin/sh -c 'echo x >/usr/share/stampd-write-test' 2>"$tmp/write.err" &&
  fail "the root file system took a write"
grep -q 'Read-only file system' "$tmp/write.err" || fail "a write failed otherwise: $(cat "$tmp/write.err")"
pod healthcheck run "$c1" >/dev/null || fail "the image's health check fails on a serving container"
echo "   user 10001, root read-only (a write fails), health check healthy"

echo "-- the same bytes as the native build"
"$native" --listen "127.0.0.1:$pnative" --no-access-log --cache-mb 64 2>"$tmp/native.log" &
native_pid=$!
wait_http "http://127.0.0.1:$pnative/healthz" || fail "native stampd did not start"
same=0
for path in "/stamp/369/0/%E5%AE%B9%E5%99%A8%E6%B5%8B%E8%AF%95%E6%9C%89%E9%99%90%E5%85%AC%E5%8F%B8.png" \
            "/stamp/368/300/%E5%BC%A0%E4%B8%89.png" "/stamp/366/0/%E7%8E%8B%E5%B0%8F%E6%98%8E.svg" \
            "/stamp/369/0/%E5%90%88%E5%90%8C.pdf" "/maker/thumbnails/C_1350613394995.png"; do
  curl -fsS -o "$tmp/c.bin" "http://127.0.0.1:$port$path" || fail "container: $path"
  curl -fsS -o "$tmp/n.bin" "http://127.0.0.1:$pnative$path" || fail "native: $path"
  cmp -s "$tmp/c.bin" "$tmp/n.bin" || fail "$path differs between the container and the native build"
  same=$((same + 1))
done
gen=$(curl -fsS "http://127.0.0.1:$port/aosbegin.php?text=%E9%95%9C%E5%83%8F&id=368&signsize=0&rnd=0.1")
[ "$gen" = "$(curl -fsS "http://127.0.0.1:$pnative/aosbegin.php?text=%E9%95%9C%E5%83%8F&id=368&signsize=0&rnd=0.1")" ] ||
  fail "the generation answers differ: $gen"
kill -TERM "$native_pid"; wait "$native_pid" 2>/dev/null || true; native_pid=""
echo "   $same pictures (PNG, SVG, PDF, a thumbnail) and a generation answer byte-identical"

echo "-- keeps serving read-only under load; /metrics"
load=$(wrk -t2 -c8 -d3s --timeout 10s -s scripts/wrk-cluster.lua "http://127.0.0.1:$port" | grep -E '^(requests|failed) ' | tr '\n' ' ')
echo "   $load"
grep -q 'failed 0 ' <<<"$load" || fail "requests failed against the container"
[ "$(podman inspect --format '{{.State.Running}}' "$c1")" = true ] || fail "the container stopped under load"
wait_http "http://127.0.0.1:$port/healthz" 10 || fail "/healthz after the load"
curl -fsS "http://127.0.0.1:$port/metrics" >"$tmp/metrics.txt" || fail "/metrics"
promtool check metrics <"$tmp/metrics.txt" >"$tmp/promtool.txt" 2>&1 || { cat "$tmp/promtool.txt"; fail "promtool check metrics"; }
threads=$(sed -n 's/^stampd_render_threads //p' "$tmp/metrics.txt")
echo "   promtool check metrics: clean ($(grep -c '^# TYPE' "$tmp/metrics.txt") metrics); render threads under 320 MiB: $threads"

echo "-- SIGTERM with renders in flight"
# 12 connections each send 5 requests for new 2048 px pictures at once (60 renders, about a
# second of work here; fewer than one client's share of the render queue); 50 ms later, once
# stampd has read them, SIGTERM goes straight to its process (podman stop would add its own
# start-up first and let the renders finish before the signal). Every request already sent
# must be answered whole, and stampd must exit 0 by itself, within its grace: podman's exit
# code would be 137 after a kill. The stop's time is printed, not checked (it depends on the
# machine's load).
signal=${STOP_SIGNAL:-TERM}
pid=$(podman inspect --format '{{.State.Pid}}' "$c1")
python3 - "$port" "$pid" "$signal" "$tmp/stop.txt" <<'PY' || fail "stop: $(cat "$tmp/stop.txt")"
import os, signal, socket, sys, threading, time
port, pid, sig, out = int(sys.argv[1]), int(sys.argv[2]), getattr(signal, "SIG" + sys.argv[3]), sys.argv[4]
CONNS, EACH = 12, 5
socks = []
for k in range(CONNS):
    s = socket.create_connection(("127.0.0.1", port), timeout=20)
    reqs = b"".join(b"GET /stamp/369/2048/%%E5%%81%%9C%d-%d.png HTTP/1.1\r\nHost: x\r\n\r\n" % (k, i) for i in range(EACH))
    s.sendall(reqs)
    socks.append(s)
results = [None] * CONNS
def read_all(k):
    f, got = socks[k].makefile("rb"), []
    try:
        for _ in range(EACH):
            status = f.readline().split()[1]
            length = 0
            while (line := f.readline()) not in (b"\r\n", b""):
                if line.lower().startswith(b"content-length:"): length = int(line.split(b":")[1])
            body = f.read(length)
            got.append((status, len(body) == length and body[:4] == b"\x89PNG"))
    except Exception as e:
        got.append((repr(e).encode(), False))
    results[k] = got
readers = [threading.Thread(target=read_all, args=(k,)) for k in range(CONNS)]
for r in readers: r.start()
time.sleep(0.05)
t = time.monotonic()
os.kill(pid, sig)
while time.monotonic() - t < 30:
    try:
        os.kill(pid, 0)
    except ProcessLookupError:
        break
    time.sleep(0.005)
took = time.monotonic() - t
for r in readers: r.join()
answers = [a for got in results for a in got]
whole = sum(1 for s, ok in answers if s == b"200" and ok)
msg = "SIG%s to exit %.0f ms with %d renders asked for; %d answered 200 whole" % (sys.argv[3], took * 1000, CONNS * EACH, whole)
open(out, "w").write(msg)
print("   " + msg)
sys.exit(0 if whole == CONNS * EACH else 1)
PY
code=$(timeout 60 podman wait "$c1")
echo "   exit code $code"
[ "$code" = 0 ] || fail "stampd did not stop by itself (exit code $code)"
pod rm "$c1" >/dev/null

echo "-- refusing to start"
while IFS='|' read -r want_code want_text opts; do
  read -r -a extra <<<"$opts"
  set +e
  timeout 60 podman --runtime runc run --rm "${run_opts[@]}" "$image" "${extra[@]}" \
    >/dev/null 2>"$tmp/refuse.err"
  code=$?
  set -e
  msg=$(grep -v -e '^$' -e 'systemd connection' "$tmp/refuse.err" | tail -1)
  [ "$code" = "$want_code" ] || fail "'${extra[*]}': exit $code, want $want_code ($msg)"
  grep -q -- "$want_text" <<<"$msg" || fail "'${extra[*]}': '$msg' does not say '$want_text'"
  echo "   ${extra[*]}: exit $code, \"$msg\""
done <<'CASES'
2|bad value for --listen|--listen nonsense
1|192.0.2.1:8077|--listen 192.0.2.1:8077
1|/srv/no-such-fonts|--fonts /srv/no-such-fonts
1|no usable CJK font|--no-system-fonts
1|--cache-mb|--cache-mb 200
CASES

echo "-- rolling restart behind nginx: both containers replaced under load"
pod tag "$image" "$next"
start "$tag-a" "$pa"
start "$tag-b" "$pb"
for p in "$pa" "$pb"; do wait_http "http://127.0.0.1:$p/healthz" || fail "container on $p did not start"; done
mkdir -p "$tmp/nginx"
nginx_conf() {  # nginx_conf PORT...: deploy/nginx/stampd.conf with these instances, render limit lifted
  local upstream=""
  for p in "$@"; do upstream+="    server 127.0.0.1:$p max_fails=1 fail_timeout=10s;\n"; done
  sed -e "/server 127.0.0.1:808[23] /d" -e "s|    server 127.0.0.1:8081 .*|$upstream|" \
      -e "s|listen 80;|listen 127.0.0.1:$pn;|" -e "/listen \[::\]:80;/d" \
      -e "s|/var/cache/nginx/stampd|$tmp/nginx/cache|" \
      -e "s|unix:/run/nginx-stampd-render.sock|unix:$tmp/nginx/render.sock|" \
      -e "/zone=stampd_render:/s|rate=20r/s|rate=100000r/s|" \
      deploy/nginx/stampd.conf >"$tmp/nginx/site.conf"
}
cat >"$tmp/nginx/nginx.conf" <<CONF
daemon off;
user root;
worker_processes 2;
pid $tmp/nginx/nginx.pid;
error_log $tmp/nginx/error.log warn;
events { worker_connections 2048; }
http {
    access_log off;
    client_body_temp_path $tmp/nginx/body;
    proxy_temp_path $tmp/nginx/proxy;
    fastcgi_temp_path $tmp/nginx/fastcgi;
    uwsgi_temp_path $tmp/nginx/uwsgi;
    scgi_temp_path $tmp/nginx/scgi;
    include $tmp/nginx/site.conf;
}
CONF
nginx_conf "$pa" "$pb"
nginx -t -q -p "$tmp/nginx" -e "$tmp/nginx/error.log" -c "$tmp/nginx/nginx.conf" || fail "nginx rejects the config"
nginx -p "$tmp/nginx" -e "$tmp/nginx/error.log" -c "$tmp/nginx/nginx.conf" &
nginx_pid=$!
wait_http "http://127.0.0.1:$pn/healthz" || fail "nginx did not start"
# One replacement: SIGTERM (stampd stops accepting and answers every request it has received;
# nginx sends what would have gone to it to the other instance: a refused connection is retried
# there), a new container of the next image on the same port, ready on /healthz. nginx takes an
# instance that refused a connection out for its fail_timeout (10 s): the second replacement
# waits until the first is back in the upstream, as a Deployment waits for readiness.
replace() {  # replace NAME PORT
  local t stopped
  t=$(now)
  pod stop -t 20 "$1" >/dev/null
  stopped=$(ms_since "$t")
  [ "$(podman inspect --format '{{.State.ExitCode}}' "$1")" = 0 ] || fail "$1 did not stop cleanly"
  pod rm "$1" >/dev/null
  t=$(now)
  start "$1" "$2" "$next"
  wait_http "http://127.0.0.1:$2/healthz" || fail "the new $1 did not start"
  echo "$1: stop $stopped ms, new one ready $(ms_since "$t") ms" >>"$tmp/rollout.txt"
}
(
  sleep 3
  replace "$tag-a" "$pa"
  sleep 11
  replace "$tag-b" "$pb"
) >"$tmp/replace.log" 2>&1 &
replacer=$!
result=$(wrk -t2 -c16 -d25s --timeout 10s -s scripts/wrk-cluster.lua "http://127.0.0.1:$pn" | grep -E '^(requests|failed) ')
wait "$replacer" || { cat "$tmp/replace.log"; fail "the replacement failed"; }
[ "$(wc -l <"$tmp/rollout.txt")" = 2 ] || { cat "$tmp/replace.log"; fail "the replacements did not finish within the load"; }
sed 's/^/   /' "$tmp/rollout.txt"
echo "   $(tr '\n' ' ' <<<"$result")"
for c in "$tag-a" "$tag-b"; do
  [ "$(podman inspect --format '{{.ImageName}}' "$c")" = "$next" ] || fail "$c does not run the new image"
done
grep -q '^failed 0 ' <<<"$result" || { tail -5 "$tmp/nginx/error.log"; fail "requests failed during the rolling restart"; }
echo "container-test: passed in $SECONDS s"
