#!/usr/bin/env bash
# Installs what is needed, builds everything with ASan+UBSan into build-asan/ and runs every test
# there. Before that: the threaded tests in a TSan build (build-tsan/), the thread-safety build
# (build-clang/, clang -Wthread-safety -Werror) with the clang-tidy checks, and a
# short smoke run of every fuzz target (build-fuzz/, clang), and the Debian package built in
# build-package/ and checked (scripts/package_test.sh). The last lines printed are CTest's
# summary of the whole suite. Each build has a folder of its own: the tests never replace the run
# command's build-release/ or the installed program.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
jobs=$(nproc)
# Each step says how long the run has taken when it begins: CI has 30 minutes.
step() { echo "== test.sh: ${SECONDS}s: $*"; }
# The layering rules first: they need no build.
bash scripts/check-rules.sh

# The sanitizer builds optimise lightly and keep line tables only: they build in about two thirds
# of the time -O2 -g takes, and a report still names file and line. The benchmarks are compiled by
# the clang build below (clang-tidy reads every one of them), not here.
sanitizer_flags=(-DCMAKE_BUILD_TYPE=RelWithDebInfo "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O1 -g1 -DNDEBUG"
  "-DCMAKE_C_FLAGS_RELWITHDEBINFO=-O1 -g1 -DNDEBUG")
step "ASan+UBSan build"
cmake -S . -B build-asan -G Ninja "${sanitizer_flags[@]}" -DPENNACLE_SANITIZE=address
cmake --build build-asan -j"$jobs"

step "TSan build and its tests"
cmake -S . -B build-tsan -G Ninja "${sanitizer_flags[@]}" -DPENNACLE_SANITIZE=thread
cmake --build build-tsan -j"$jobs" --target tsan_tests
ctest --test-dir build-tsan -L tsan --output-on-failure

# Every target named with pennacle_thread_safety() in a CMakeLists.txt, compiled by clang with
# -Wthread-safety -Werror; then the naming rule and the function sizes over that build's compile
# database.
step "thread-safety build and clang-tidy"
# Built for its warnings only: no debug information.
CC=clang CXX=clang++ cmake -S . -B build-clang -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG=-g0 \
  -DCMAKE_C_FLAGS_DEBUG=-g0 -DPENNACLE_THREAD_SAFETY=ON \
  -DPENNACLE_BENCH=ON
cmake --build build-clang -j"$jobs" --target thread_safety_check
bash scripts/check-tidy.sh

step "fuzz build and smoke runs"
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja "${sanitizer_flags[@]}" -DPENNACLE_FUZZ=ON
cmake --build build-fuzz -j"$jobs" --target fuzz_targets
BUILD=build-fuzz bash scripts/check-tidy.sh fuzz
bash scripts/fuzz-smoke.sh build-fuzz 3

# The Debian package from a Release build of the programs alone, its checks and (as root) an install,
# a first start as a fresh user and a removal on this machine.
step "Debian package"
bash scripts/package.sh
bash scripts/package_test.sh build-package/pennacle_*_amd64.deb

step "every test under ASan+UBSan"
ctest --test-dir build-asan --output-on-failure -j"$jobs"
