# Sourced by the CI and packaging scripts: the Release build they share, the
# Debian packages they need, and a simulator started and stopped by its pid.

# One Release build serves the install check, the example and the packages:
# the one scripts/build-release.sh makes (g++, warnings as errors).
DIR_RELEASE=${DIR_RELEASE:-build-release}

instala_pacotes_debian() {
  local faltam=()
  for p in "$@"; do
    dpkg -s "$p" >/dev/null 2>&1 || faltam+=("$p")
  done
  if [ ${#faltam[@]} -gt 0 ]; then
    echo "Installing: ${faltam[*]}"
    local sudo=""
    [ "$(id -u)" = 0 ] || sudo=sudo
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${faltam[@]}"
  fi
}

compila_release() {
  BUILD_DIR=$DIR_RELEASE bash scripts/build-release.sh
}

# inicia_simpinpad BIN PASTA [options...]: starts the simulator BIN with its
# output in PASTA and sets SIM_DISPOSITIVO (the device path it prints first)
# and SIM_PID.
inicia_simpinpad() {
  local bin=$1 pasta=$2
  shift 2
  "$bin" --log "$pasta/simpinpad.log" "$@" >"$pasta/simpinpad.out" 2>&1 &
  SIM_PID=$!
  for _ in $(seq 1 200); do
    [ -s "$pasta/simpinpad.out" ] && break
    sleep 0.05
  done
  SIM_DISPOSITIVO=$(head -n 1 "$pasta/simpinpad.out")
  if [ ! -e "$SIM_DISPOSITIVO" ]; then
    echo "simpinpad did not start:" >&2
    cat "$pasta/simpinpad.out" >&2
    return 1
  fi
}

para_simpinpad() {
  if [ -n "${SIM_PID:-}" ]; then
    kill "$SIM_PID" 2>/dev/null || true
    wait "$SIM_PID" 2>/dev/null || true
    SIM_PID=
  fi
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
