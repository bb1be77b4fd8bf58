#!/usr/bin/env bash
# Checks every manual page of the repository (every tracked *.1 and *.3) with
# `mandoc -T lint` and fails on any message, style notes included.
#   bash scripts/verifica-man.sh
# Installs mandoc when it is missing (Debian).
set -euo pipefail
cd "$(dirname "$0")/.."

if ! command -v mandoc >/dev/null 2>&1; then
  echo "Installing: mandoc"
  sudo=""
  [ "$(id -u)" = 0 ] || sudo=sudo
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq mandoc
fi

mapfile -t paginas < <(git ls-files -- '*.1' '*.3')
if [ ${#paginas[@]} -eq 0 ]; then
  echo "verifica-man: no manual pages found" >&2
  exit 1
fi

raiz=$PWD
# mandoc resolves a cross reference (.Xr name sec) to a file name.sec in the
# folder it runs from: run it from a scratch folder that holds all our pages
# side by side, so that the pages' references to each other resolve and
# nothing depends on what this machine has installed.
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
args=()
for p in "${paginas[@]}"; do
  ln -s "$raiz/$p" "$dir/$(basename "$p")"
  args+=("$raiz/$p")
done

saida=$(cd "$dir" && mandoc -T lint -W all "${args[@]}" 2>&1) || true
if [ -n "$saida" ]; then
  printf '%s\n' "${saida//$raiz\//}"
  echo "verifica-man: mandoc reported the messages above" >&2
  exit 1
fi
echo "verifica-man: ${#paginas[@]} pages clean (${paginas[*]})"
