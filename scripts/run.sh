#!/usr/bin/env bash
# Installs what is needed, builds Pennacle (Release) into build/ and starts it. The program never
# creates its record file: a missing build/bin/data.kdb is made here with kdbtool.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release -DPENNACLE_SANITIZE=
cmake --build build -j"$(nproc)"
if [[ -x build/bin/kdbtool && ! -e build/bin/data.kdb ]]; then
  build/bin/kdbtool create build/bin/data.kdb
fi
if [[ ! -x build/bin/pennacle ]]; then
  echo "build/bin/pennacle is not built yet (see README: what is not built yet)." >&2
  exit 0
fi
if [[ -z ${DISPLAY:-} && -z ${WAYLAND_DISPLAY:-} ]]; then
  echo "No display. Run it under a virtual one: xvfb-run -a build/bin/pennacle" >&2
  exit 1
fi
exec build/bin/pennacle
