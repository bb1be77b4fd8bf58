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
  local bin=$1 pasta=$2 saida=$2/simpinpad.out
  shift 2
  # The redirection below truncates the file in the child, after the fork: a
  # file left by an earlier simulator must be gone before, or the wait could
  # read that simulator's device.
  rm -f "$saida"
  "$bin" --log "$pasta/simpinpad.log" "$@" >"$saida" 2>&1 &
  SIM_PID=$!
  SIM_DISPOSITIVO=
  for _ in $(seq 1 400); do
    # A whole first line: the device path.
    if [ -s "$saida" ] && [ "$(wc -l <"$saida")" -ge 1 ]; then
      SIM_DISPOSITIVO=$(head -n 1 "$saida")
      break
    fi
    kill -0 "$SIM_PID" 2>/dev/null || break
    sleep 0.05
  done
  if [ -z "$SIM_DISPOSITIVO" ] || [ ! -e "$SIM_DISPOSITIVO" ]; then
    echo "simpinpad did not start:" >&2
    cat "$saida" >&2
    para_simpinpad
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
