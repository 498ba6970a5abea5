#!/usr/bin/env bash
# Installs what is needed, builds Quillmere and runs the whole test suite.
#   scripts/test.sh            the normal build in build/
#   scripts/test.sh asan       AddressSanitizer + UndefinedBehaviorSanitizer, in build-asan/
#   scripts/test.sh tsan       ThreadSanitizer, in build-tsan/ (window tests excluded)
set -euo pipefail
cd "$(dirname "$0")/.."
preset="${1:-default}"
scripts/setup.sh
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset"
ctest --preset "$preset"
