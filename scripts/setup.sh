#!/usr/bin/env bash
# Installs everything the build, the run and the tests need on a Debian 12 machine, as root.
# Safe to run again: apt skips what is there, locale-gen is cheap, and a stamp file
# records the package list so a second run with nothing new to install costs no apt call.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)

packages=(
  build-essential curl cmake ninja-build pkg-config python3 git
  mingw-w64 g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
  wine wine64 xvfb x11-utils imagemagick locales
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  fonts-wqy-microhei fonts-noto-cjk fonts-arphic-ukai
  fonts-noto-cjk-extra fonts-arphic-gbsn00lp fonts-arphic-gkai00mp fonts-wqy-zenhei fonts-lxgw-wenkai
  fonts-cns11643-kai fonts-cns11643-sung fonts-hanazono python3-fonttools
  libboost1.81-dev libboost-program-options1.81-dev libcairo2-dev libfreetype-dev libspng-dev libturbojpeg0-dev libgif-dev
  clang libclang-rt-14-dev wrk
  librsvg2-dev poppler-utils zlib1g-dev libdeflate-dev
  debhelper dpkg-dev devscripts lintian man-db systemd nginx-light
  chromium chromium-driver python3-selenium python3-prometheus-client
  nsis
  podman runc mmdebstrap prometheus
)

stamp=/var/lib/tambrel-setup.stamp
want=$(printf '%s\n' "${packages[@]}" | sort | md5sum | cut -d' ' -f1)
if [ ! -f "$stamp" ] || [ "$(cat "$stamp")" != "$want" ] || ! dpkg -s "${packages[@]}" >/dev/null 2>&1; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${packages[@]}" >/dev/null
  echo "$want" > "$stamp"
fi

# Wine takes the ANSI code page from the locale; Chinese file names need the locale generated.
if ! locale -a 2>/dev/null | grep -qi '^zh_CN.utf8$'; then
  sed -i 's/^# *zh_CN.UTF-8 UTF-8/zh_CN.UTF-8 UTF-8/' /etc/locale.gen
  grep -q '^zh_CN.UTF-8 UTF-8' /etc/locale.gen || echo 'zh_CN.UTF-8 UTF-8' >> /etc/locale.gen
  locale-gen >/dev/null
fi

# The tool is also tested as a user on another system locale meets it: Wine takes the ANSI code
# page from these (1252 for en_US, 932 for ja_JP), and the user interface language (the
# installer's language test also uses de_DE and zh_TW).
for loc in en_US ja_JP de_DE zh_TW; do
  if ! locale -a 2>/dev/null | grep -qi "^${loc}.utf8$"; then
    localedef -i "$loc" -f UTF-8 "${loc}.UTF-8"
  fi
done

# The page's audit tools (npm, pinned); the browser tests install them on first use too and
# say why when they cannot.
bash "$here/web-tools.sh" >/dev/null || echo "setup: the page's audit tools (scripts/web-tools.sh) could not be installed" >&2
# The Kubernetes manifests' schemas (npm, pinned); scripts/deploy-check.sh installs them on first
# use too.
bash "$here/deploy-tools.sh" >/dev/null || echo "setup: the manifests' schema packages (scripts/deploy-tools.sh) could not be installed" >&2
