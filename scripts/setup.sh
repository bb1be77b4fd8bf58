# shellcheck shell=bash
# Sourced by the set-up commands: installs the Debian packages the build needs
# when any is missing, and starts and stops a simulator by its pid.

# instala_pacotes_debian PACOTE...: installs those of the packages that are missing.
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

instala_dependencias() {
  instala_pacotes_debian cmake ninja-build g++ pkg-config libgtest-dev libgmock-dev libssl-dev libbenchmark-dev
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
