#!/usr/bin/env bash
# Builds the Linux program and starts it.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "larkmoor: no display is available (neither DISPLAY nor WAYLAND_DISPLAY is set); it needs a desktop session to show its window." >&2
  exit 1
fi
cmake --preset linux >/dev/null
cmake --build --preset linux --target larkmoor -j"$(nproc)"
exec build/linux/app/larkmoor
