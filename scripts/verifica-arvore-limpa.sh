#!/usr/bin/env bash
# Fails when the working tree holds anything git would report: a file left by
# a test or a tool run, or a tracked file changed by one. Run it after the
# tests (build folders are ignored by .gitignore).
#   bash scripts/verifica-arvore-limpa.sh
set -euo pipefail
cd "$(dirname "$0")/.."
sujeira=$(git status --porcelain --untracked-files=all)
if [ -n "$sujeira" ]; then
  printf '%s\n' "$sujeira"
  echo "verifica-arvore-limpa: the run left the files above in the working tree" >&2
  exit 1
fi
echo "verifica-arvore-limpa: working tree clean"
