#!/usr/bin/env bash
# Builds the Debian packages libpinpad4, libpinpad-dev and pinpad-tools from
# the Release build (build-release/) and checks them with lintian, which must
# report no errors. The .deb files land in build-release/pacotes/.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/setup.sh
source scripts/ci-comum.sh
instala_dependencias
instala_pacotes_debian dpkg-dev lintian file
compila_release >/dev/null

versao=$(sed -n 's/^CMAKE_PROJECT_VERSION:[A-Z]*=//p' "$DIR_RELEASE/CMakeCache.txt")
revisao=$(sed -n 's/^PINPAD_DEB_REVISAO:[A-Z]*=//p' "$DIR_RELEASE/CMakeCache.txt")
if ! head -n 1 packaging/debian/changelog | grep -qF "($versao-$revisao)"; then
  echo "packaging/debian/changelog has no entry for $versao-$revisao" >&2
  exit 1
fi

rm -rf "$DIR_RELEASE/pacotes"
(cd "$DIR_RELEASE" && cpack -G DEB >/dev/null)
mapfile -t debs < <(ls "$DIR_RELEASE"/pacotes/*.deb)
if [ ${#debs[@]} != 3 ]; then
  echo "expected 3 packages, got: ${debs[*]}" >&2
  exit 1
fi
for d in "${debs[@]}"; do
  echo "== $d"
  dpkg-deb -f "$d" Package Version Section Depends | sed 's/^/    /'
done

# lintian exits non-zero on errors; warnings are listed (see README).
echo "== lintian"
lintian --fail-on error --tag-display-limit 0 "${debs[@]}" | tee "$DIR_RELEASE/pacotes/lintian.txt"
echo "lintian: $(grep -c '^E:' "$DIR_RELEASE/pacotes/lintian.txt" || true) errors," \
  "$(grep -c '^W:' "$DIR_RELEASE/pacotes/lintian.txt" || true) warnings"
