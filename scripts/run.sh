#!/usr/bin/env bash
# Installs what is needed, builds Quillmere and starts it: with its window, or headless (lines on
# standard output, Ctrl+C to stop) when there is no display. Arguments go to the program, e.g.
#   scripts/run.sh --port 8080
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake --preset default >/dev/null
cmake --build --preset default
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "run: no display (DISPLAY and WAYLAND_DISPLAY are unset), so Quillmere runs headless."
  exec build/quillmere --headless "$@"
fi
exec build/quillmere "$@"
