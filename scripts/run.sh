#!/usr/bin/env bash
# Builds the program and says what can be run.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh
for preset in native win64 win32; do
  cmake --preset "$preset" >/dev/null && cmake --build --preset "$preset" >/dev/null
done
echo "Built: build/native, build/win64 and build/win32 (32-bit release)."
