#!/usr/bin/env bash
# Builds everything (library, programs, tests, benchmarks) in the Release
# configuration with g++ and warnings as errors, in build-release/.
#   bash scripts/build-release.sh
# g++ at -O3 inlines deeper than the default build and raises warnings that
# the default build does not see (-Wrestrict, -Warray-bounds inside the
# standard library), so a change that breaks a user's Release build is caught
# here. The install check, the example and the Debian packages reuse this
# build: it is configured for the prefix /usr, so that the library goes to the
# multiarch folder (lib/<triplet>) and the packaged pinpad.pc names /usr, and
# with Debian's hardening flags (PINPAD_ENDURECIDO), which lintian checks.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/setup.sh
instala_dependencias

dir=${BUILD_DIR:-build-release}
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DPINPAD_WERROR="${PINPAD_WERROR:-ON}" \
  -DCMAKE_INSTALL_PREFIX=/usr -DPINPAD_ENDURECIDO=ON >/dev/null
cmake --build "$dir" -j "$(nproc)"
