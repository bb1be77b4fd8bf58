#!/usr/bin/env bash
# Builds everything and runs every test through CTest.
#   ./test.sh                      plain build in build/
#   PINPAD_SANITIZE=1 ./test.sh    AddressSanitizer + UBSan build in build-san/
# Any further arguments go to ctest (e.g. -L link, -R Kolvar).
set -euo pipefail
cd "$(dirname "$0")"
source scripts/setup.sh
instala_dependencias

if [ "${PINPAD_SANITIZE:-0}" = 1 ]; then
  dir=${BUILD_DIR:-build-san}
  opts=(-DPINPAD_SANITIZE=ON -DPINPAD_BENCH=OFF)
else
  dir=${BUILD_DIR:-build}
  opts=()
fi
# Our own builds treat every warning as an error.
opts+=(-DPINPAD_WERROR=ON)

cmake -S . -B "$dir" -G Ninja "${opts[@]}" >/dev/null
cmake --build "$dir" -j "$(nproc)"
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
# Tests that wait on protocol time-outs mostly sleep: run more of them than cores.
ctest --test-dir "$dir" --output-on-failure -j "$(( $(nproc) * 3 ))" "$@"
