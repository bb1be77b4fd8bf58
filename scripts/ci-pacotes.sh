#!/usr/bin/env bash
# CI: builds the three Debian packages (scripts/pacotes.sh, lintian included),
# unpacks them with dpkg -x into a temporary root and runs that root's Kolvar,
# which loads that root's libpinpad, against that root's simpinpad. Nothing is
# installed into the machine's own folders.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/pacotes.sh
source scripts/ci-comum.sh

pasta=$(mktemp -d)
trap 'para_simpinpad; rm -rf "$pasta"' EXIT
raiz=$pasta/raiz
for d in "$DIR_RELEASE"/pacotes/*.deb; do
  dpkg -x "$d" "$raiz"
done

multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
if ! grep -qx 'prefix=/usr' "$raiz/usr/lib/$multiarch/pkgconfig/pinpad.pc"; then
  echo "pinpad.pc of libpinpad-dev does not name /usr" >&2
  exit 1
fi
# The programs find the library beside them (RUNPATH $ORIGIN/...), whatever
# the machine has installed.
unset LD_LIBRARY_PATH
if ! carrega_de "$raiz/usr/bin/Kolvar" "$raiz/usr/lib/$multiarch"; then
  echo "the unpacked Kolvar does not load the unpacked library" >&2
  ldd "$raiz/usr/bin/Kolvar" >&2
  exit 1
fi

echo "== unpacked Kolvar against the unpacked simpinpad"
executa_kolvar "unpacked Kolvar" "$raiz/usr/bin/Kolvar" "$raiz/usr/bin/simpinpad" "$pasta"
echo "packages check: OK"
