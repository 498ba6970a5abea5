#!/usr/bin/env bash
# Installs what is needed, builds Quillmere and starts it.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake --preset default >/dev/null
cmake --build --preset default --target quillmere 2>/dev/null || {
  cmake --build --preset default
  echo "run: Quillmere's program is not built yet; the libraries and tests are."
  exit 0
}
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "run: no display (DISPLAY and WAYLAND_DISPLAY are unset), so Quillmere runs headless."
  exec build/quillmere --headless "$@"
fi
exec build/quillmere "$@"
