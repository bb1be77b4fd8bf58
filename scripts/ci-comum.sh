# shellcheck shell=bash
# Sourced by the CI and packaging scripts: the Release build they share, and
# the runs of the example and of Kolvar against a simulator. The package
# installer and the simulator's start and stop come from setup.sh.
# shellcheck source=scripts/setup.sh
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"

# One Release build serves the install check, the example and the packages:
# the one scripts/build-release.sh makes (g++, warnings as errors).
DIR_RELEASE=${DIR_RELEASE:-build-release}

compila_release() {
  BUILD_DIR=$DIR_RELEASE bash scripts/build-release.sh
}

# executa_exemplo BIN SIMPINPAD PASTA: runs the example against a fresh
# simulator and checks every step and the cryptogram the test key gives.
executa_exemplo() {
  local bin=$1 sim=$2 pasta=$3
  inicia_simpinpad "$sim" "$pasta"
  local status=0
  (cd "$pasta" && "$bin" "$SIM_DISPOSITIVO") >"$pasta/exemplo.out" 2>&1 || status=$?
  para_simpinpad
  sed 's/^/    /' "$pasta/exemplo.out"
  if [ "$status" != 0 ] || [ "$(grep -c '  0  PPCOMP_OK' "$pasta/exemplo.out")" != 6 ] ||
     ! grep -q '^cryptogram  *2CEFD8CF1F1CF0C6$' "$pasta/exemplo.out"; then
    echo "FAIL: $bin (status $status)" >&2
    return 1
  fi
}

# carrega_de BIN PASTA: true when BIN loads libpinpad.so.4 from the folder PASTA.
carrega_de() {
  local caminho
  caminho=$(ldd "$1" | awk '$1 == "libpinpad.so.4" { print $3 }')
  [ -n "$caminho" ] && [ "$(dirname "$(realpath "$caminho")")" = "$(realpath "$2")" ]
}

# executa_kolvar NOME KOLVAR SIMPINPAD PASTA: runs KOLVAR against a fresh
# SIMPINPAD whose operator confirms, and checks that it finds the pinpad
# compatible; NOME names the Kolvar in the failure message.
executa_kolvar() {
  local nome=$1 bin=$2 sim=$3 pasta=$4
  inicia_simpinpad "$sim" "$pasta" --teclas OK:100,OK:100
  local status=0
  (cd "$pasta" && "$bin" "$SIM_DISPOSITIVO") >"$pasta/kolvar.out" || status=$?
  para_simpinpad
  sed 's/^/    /' "$pasta/kolvar.out"
  if [ "$status" != 0 ] || ! grep -q 'PinPad COMPATIVEL' "$pasta/kolvar.out"; then
    echo "FAIL: $nome (status $status)" >&2
    return 1
  fi
}
