#!/usr/bin/env bash
# Builds the Debian package from this checkout in one command:
#   bash scripts/package.sh            # -> build-package/pennacle_<version>_amd64.deb
# A Release build of the programs alone (no tests, no benchmarks) in build-package/, laid out for
# /usr (PENNACLE_PACKAGE), then `cpack -G DEB`. The last line printed is the package's path.
# BUILD=DIR builds elsewhere.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD:-build-package}
bash scripts/install-deps.sh
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DPENNACLE_SANITIZE= -DPENNACLE_TESTS=OFF \
  -DPENNACLE_BENCH=OFF -DPENNACLE_PACKAGE=ON
cmake --build "$build" -j"$(nproc)"
rm -f "$build"/pennacle_*.deb
(cd "$build" && cpack -G DEB)
deb=$(ls "$build"/pennacle_*_amd64.deb)
realpath "$deb"
