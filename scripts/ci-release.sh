#!/usr/bin/env bash
# CI: a Release build with clang of everything (library, programs, tests,
# benchmarks), warnings as errors, in build-release/. The install and package
# checks reuse it.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/setup.sh
source scripts/ci-comum.sh
instala_dependencias
compila_release
