#!/usr/bin/env bash
# Installs the Debian packages Quillmere needs. This file is the only place the
# project's packages are named.
#   scripts/setup.sh          what building, running and testing need
#   scripts/setup.sh --bench  the same, plus the benchmark tools
# Quick when everything is already there: apt-get runs only for what is missing.
set -euo pipefail

packages=(
  # build
  cmake ninja-build g++ pkg-config
  # libraries
  qt6-base-dev libasio-dev libhttp-parser-dev libcurl4-openssl-dev
  # fonts that show Chinese in the window
  fonts-wqy-microhei
  # tests
  libgtest-dev libgmock-dev libcpp-httplib-dev curl
)
bench_packages=(
  libbenchmark-dev nginx-light wrk python3
  # the window under a virtual display, and screenshots of it
  xvfb xauth x11-apps imagemagick
)

case "${1:-}" in
  --bench) packages+=("${bench_packages[@]}") ;;
  "") ;;
  *) echo "usage: $0 [--bench]" >&2; exit 2 ;;
esac

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
echo "setup: installing ${missing[*]}"
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"

# The benchmarks start their own nginx on loopback; the system service that
# Debian starts when it installs nginx is not wanted.
if [[ " ${missing[*]} " == *" nginx-light "* ]] && command -v systemctl >/dev/null &&
   [ -d /run/systemd/system ]; then
  $sudo systemctl disable --now nginx >/dev/null 2>&1 || true
fi
