#!/usr/bin/env bash
# Installs what is needed, builds everything with ASan+UBSan into build-asan/ and runs every test
# there. Before that: the threaded tests in a TSan build (build-tsan/) and a short smoke run of every
# fuzz target (build-fuzz/, clang). The last lines printed are CTest's summary of the whole suite.
# Each build has a folder of its own: the tests never replace the run command's build-release/ or
# the installed program.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
jobs=$(nproc)

cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPENNACLE_SANITIZE=address
cmake --build build-asan -j"$jobs"

cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPENNACLE_SANITIZE=thread
cmake --build build-tsan -j"$jobs" --target tsan_tests
ctest --test-dir build-tsan -L tsan --output-on-failure

CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPENNACLE_FUZZ=ON
cmake --build build-fuzz -j"$jobs" --target fuzz_targets
bash scripts/fuzz-smoke.sh build-fuzz 20

ctest --test-dir build-asan --output-on-failure -j"$jobs"
