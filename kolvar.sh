#!/usr/bin/env bash
# Runs Kolvar's compatibility check.
#   ./kolvar.sh                 against simpinpad (version 1.06, master keys at
#                               indexes 2 and 8, an operator who confirms)
#   ./kolvar.sh /dev/ttyACM0    against a real pinpad on that device
# Installs what is missing, builds, and ends with Kolvar's exit status.
set -euo pipefail
cd "$(dirname "$0")"
source scripts/setup.sh
instala_dependencias

dir=${BUILD_DIR:-build}
cmake -S . -B "$dir" -G Ninja >/dev/null
cmake --build "$dir" -j "$(nproc)" --target Kolvar simpinpad >/dev/null
bin=$dir/bin

if [ $# -ge 1 ]; then
  exec "$bin/Kolvar" "$1"
fi

pasta=$(mktemp -d)
trap 'para_simpinpad; rm -rf "$pasta"' EXIT

# The simulator prints its device path on its first line; its frame log holds
# the display texts shown afterwards.
inicia_simpinpad "$bin/simpinpad" "$pasta" --versao 1.06 \
  --chave 2=0123456789ABCDEFFEDCBA9876543210 --chave 8=0123456789ABCDEF \
  --teclas OK:800,OK:1500
dispositivo=$SIM_DISPOSITIVO

echo "== Kolvar $dispositivo (simpinpad: version 1.06, keys at indexes 2 and 8)"
set +e
"$bin/Kolvar" "$dispositivo"
status=$?
set -e
echo "== Pinpad display"
grep ' DISPLAY ' "$pasta/simpinpad.log" | sed -E 's/^.* DISPLAY /   /' || true
echo "== Exit status: $status"
exit $status
