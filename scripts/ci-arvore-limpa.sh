#!/usr/bin/env bash
# CI: fails when the runs before left anything in the source tree, tracked or
# not (build folders are ignored through .gitignore).
set -euo pipefail
cd "$(dirname "$0")/.."
sujeira=$(git status --porcelain)
if [ -n "$sujeira" ]; then
  echo "The source tree changed during the CI run:" >&2
  echo "$sujeira" >&2
  exit 1
fi
echo "source tree clean"
