#!/usr/bin/env bash
# Builds quaverly.exe and starts it under Wine on your own display and sound server.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/deps.sh
cmake --preset windows >/dev/null
cmake --build --preset windows --target quaverly
exec wine build/windows/app/quaverly.exe "$@"
