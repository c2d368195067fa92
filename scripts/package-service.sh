#!/usr/bin/env bash
# Builds and checks what an operator installs: the Debian package stampd_1.0-1_amd64.deb
# (debian/), its systemd unit, the manual page stampd(8) and the nginx front
# (deploy/nginx/stampd.conf). Works from a fresh clone; the package is built from a copy of
# the work tree in build/package/src so nothing lands outside build/.
# Usage: scripts/package-service.sh      -> build/package/stampd_1.0-1_amd64.deb
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
out=$root/build/package
deb=$out/stampd_1.0-1_amd64.deb
fail() { echo "package-service: FAILED: $*"; exit 1; }

rm -rf "$out"
mkdir -p "$out/src"
# Tracked and new (not ignored) files: what a clone plus the work in progress would hold.
git ls-files -z --cached --others --exclude-standard | xargs -0 -I{} sh -c '[ -e "{}" ] && printf "%s\0" "{}"' |
  tar --null -T - -cf - | tar -xf - -C "$out/src"

echo "-- dpkg-buildpackage"
(cd "$out/src" && dpkg-buildpackage -b -us -uc -j2 >"$out/build.log" 2>&1) ||
  { tail -30 "$out/build.log"; fail "dpkg-buildpackage"; }
[ -f "$deb" ] || fail "no $deb"
echo "   $(basename "$deb"): $(stat -c %s "$deb") bytes"
echo "   Depends: $(dpkg-deb -f "$deb" Depends)"
for want in fonts-noto-cjk fonts-arphic-ukai fonts-wqy-microhei libcairo2 libspng0 libdeflate0 libturbojpeg0 libgif7; do
  dpkg-deb -f "$deb" Depends | grep -q "$want" || fail "Depends lacks $want"
done

echo "-- lintian"
lintian --fail-on error --tag-display-limit 0 "$deb" | tee "$out/lintian.txt" || fail "lintian reports errors"
if [ -s "$out/lintian.txt" ]; then echo "   (warnings above are explained in the README)"; else echo "   clean"; fi

echo "-- contents"
rm -rf "$out/root" && mkdir -p "$out/root"
dpkg-deb -x "$deb" "$out/root"
unit=$(find "$out/root" -name stampd.service | head -1)
for f in usr/sbin/stampd usr/share/man/man8/stampd.8.gz etc/default/stampd; do
  [ -e "$out/root/$f" ] || fail "package lacks /$f"
done
[ -n "$unit" ] || fail "package lacks stampd.service"
socket_unit=$(find "$out/root" -name stampd.socket | head -1)
[ -n "$socket_unit" ] || fail "package lacks stampd.socket"
echo "   /usr/sbin/stampd, stampd(8), /etc/default/stampd, ${unit#"$out/root"}"

echo "-- manual page agrees with --help"
man=$(zcat "$out/root/usr/share/man/man8/stampd.8.gz" | sed 's/\\-/-/g')
"$out/root/usr/sbin/stampd" --help | grep -oE '^  --[a-z-]+' | while read -r flag; do
  grep -q -- "$flag" <<<"$man" || fail "stampd(8) lacks $flag"
done
for section in SIGNALS FILES "EXIT STATUS" ENDPOINTS; do grep -q "^\.SH $section" <<<"$man" || fail "stampd(8) lacks $section"; done
MANWIDTH=80 man -l "$out/root/usr/share/man/man8/stampd.8.gz" >/dev/null 2>"$out/man.err" || fail "man cannot format stampd(8)"
[ ! -s "$out/man.err" ] || { cat "$out/man.err"; fail "man warns about stampd(8)"; }
echo "   every flag, SIGNALS, FILES, EXIT STATUS"

echo "-- systemd-analyze verify"
# systemd is not PID 1 in a build container; verify reads the unit offline. The unit names
# /usr/sbin/stampd, which verify wants to see: point it at the unpacked binary.
mkdir -p "$out/unit"
sed "s|/usr/sbin/stampd|$out/root/usr/sbin/stampd|" "$unit" >"$out/unit/stampd.service"
cp "$socket_unit" "$out/unit/stampd.socket"
# Documentation=man:stampd(8) is checked with man(1): show it the unpacked page.
MANPATH=$out/root/usr/share/man SYSTEMD_LOG_LEVEL=notice systemd-analyze verify "$out/unit/stampd.service" "$out/unit/stampd.socket" 2>&1 | tee "$out/verify.txt"
[ ! -s "$out/verify.txt" ] || fail "systemd-analyze verify complains"
grep -q '^ExecReload=/bin/kill -HUP \$MAINPID' "$unit" || fail "reload is not SIGHUP"
grep -q '^KillSignal=SIGTERM' "$unit" || fail "stop is not SIGTERM"
# With the socket unit disabled, stampd must listen where STAMPD_LISTEN says: the service may be
# ordered after the socket but must not start it again (Wants=, Requires= and the like would).
if grep -Eq '^(Wants|Requires|Requisite|BindsTo|PartOf|Upholds)=.*stampd\.socket' "$unit"; then
  fail "stampd.service pulls stampd.socket back in"
fi
for want in DynamicUser=yes ProtectSystem=strict NoNewPrivileges=yes PrivateTmp=yes Restart=on-failure MemoryMax= EnvironmentFile=-/etc/default/stampd; do
  grep -q "^$want" "$unit" || fail "unit lacks $want"
done
echo "   accepted"

echo "-- nginx -t on deploy/nginx/stampd.conf"
mkdir -p "$out/nginx/cache"
sed "s|/var/cache/nginx/stampd|$out/nginx/cache|; s|unix:/run/nginx-stampd-render.sock|unix:$out/nginx/render.sock|; s|listen 80;|listen 127.0.0.1:1;|; /listen \[::\]:80;/d" \
  deploy/nginx/stampd.conf >"$out/nginx/stampd.conf"
cat >"$out/nginx/nginx.conf" <<CONF
pid $out/nginx/nginx.pid;
error_log $out/nginx/error.log;
events {}
http { include $out/nginx/stampd.conf; }
CONF
nginx -t -q -p "$out/nginx" -e "$out/nginx/error.log" -c "$out/nginx/nginx.conf" || fail "nginx rejects the config"
echo "   accepted"
echo "package-service: passed ($deb)"
