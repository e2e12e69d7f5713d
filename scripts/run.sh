#!/usr/bin/env bash
# Builds Pennacle (Release) in build-release/, installs it for this user (scripts/install.sh: the
# program directory ~/.local/lib/pennacle, or PENNACLE_HOME=DIR, with the ledger data.kdb beside
# the program, links in ~/.local/bin and a desktop entry) and starts the installed program. Only
# the programs and what they link are built: no tests, no benchmarks (scripts/test.sh builds those).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=Release -DPENNACLE_SANITIZE= -DPENNACLE_TESTS=OFF \
  -DPENNACLE_BENCH=OFF -DPENNACLE_PACKAGE=OFF
cmake --build build-release -j"$(nproc)"
bash scripts/install.sh build-release
home=$(realpath -m "${PENNACLE_HOME:-$HOME/.local/lib/pennacle}")
if [[ -z ${DISPLAY:-} && -z ${WAYLAND_DISPLAY:-} ]]; then
  echo "No display to show the window on. Start it under a virtual one:" >&2
  printf '  xvfb-run -a %q\n' "$home/pennacle" >&2
  exit 1
fi
exec "$home/pennacle"
