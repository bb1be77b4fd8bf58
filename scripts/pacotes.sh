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
# The library and its development package can be installed for several
# architectures side by side (Multi-Arch: same): every file either lies under
# lib/<triplet>/ or is the same on every architecture (C headers with
# fixed-width types, pages and changelogs compressed with gzip -n, the
# copyright file). CPack 3.25 writes no Multi-Arch field: it is added here, and
# the package rebuilt from its own unpacked tree.
for p in libpinpad4 libpinpad-dev; do
  deb=$(ls "$DIR_RELEASE"/pacotes/"${p}"_*.deb)
  arvore=$(mktemp -d)
  dpkg-deb -R "$deb" "$arvore/raiz"
  sed -i '/^Architecture:/a Multi-Arch: same' "$arvore/raiz/DEBIAN/control"
  dpkg-deb --root-owner-group -b "$arvore/raiz" "$deb" >/dev/null
  rm -rf "$arvore"
done
for d in "${debs[@]}"; do
  echo "== $d"
  dpkg-deb -f "$d" Package Version Architecture Multi-Arch Section Depends | sed 's/^/    /'
done

# lintian exits non-zero on errors; warnings and the pedantic and informative
# tags are listed (the README says which remain and why). The programs and the
# library are built with Debian's hardening flags: any hardening tag fails.
echo "== lintian"
lintian --fail-on error --pedantic --display-info --tag-display-limit 0 "${debs[@]}" |
  tee "$DIR_RELEASE/pacotes/lintian.txt"
echo "lintian: $(grep -c '^E:' "$DIR_RELEASE/pacotes/lintian.txt" || true) errors," \
  "$(grep -c '^W:' "$DIR_RELEASE/pacotes/lintian.txt" || true) warnings," \
  "$(grep -c '^[IP]:' "$DIR_RELEASE/pacotes/lintian.txt" || true) informative and pedantic tags"
if grep -q ' hardening-' "$DIR_RELEASE/pacotes/lintian.txt"; then
  echo "lintian reports hardening tags" >&2
  exit 1
fi
