# Sourced by the set-up commands: installs the Debian packages the build needs
# when any is missing.
instala_dependencias() {
  local pacotes=(cmake ninja-build g++ pkg-config libgtest-dev libgmock-dev libssl-dev libbenchmark-dev)
  local faltam=()
  for p in "${pacotes[@]}"; do
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
