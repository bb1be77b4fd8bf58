#!/usr/bin/env bash
# CI: the README's install, as a user runs it: a Release build in a folder of
# its own (build-instala/) with the default prefix, installed under a temporary
# prefix; checks the layout (the library in lib/, where the README's
# PKG_CONFIG_PATH and CMAKE_PREFIX_PATH look), builds examples/ against that
# tree through pkg-config and through find_package (shared and static each),
# and runs every build, and the installed Kolvar, against the installed
# simpinpad.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/ci-comum.sh
instala_dependencias
instala_pacotes_debian make gcc

# The README's commands (its own folder: build-release/ is configured for /usr,
# whose library folder is lib/<triplet>).
DIR_INSTALA=${DIR_INSTALA:-build-instala}
cmake -S . -B "$DIR_INSTALA" -G Ninja -DCMAKE_BUILD_TYPE=Release -DPINPAD_TESTS=OFF -DPINPAD_BENCH=OFF >/dev/null
cmake --build "$DIR_INSTALA" >/dev/null

pasta=$(mktemp -d)
trap 'para_simpinpad; rm -rf "$pasta"' EXIT
prefixo=$pasta/prefixo
cmake --install "$DIR_INSTALA" --prefix "$prefixo" >/dev/null

libdir=lib
esperados=(
  "$libdir/libpinpad.so.4.0.0.3" "$libdir/libpinpad.so.4" "$libdir/libpinpad.so" "$libdir/libpinpad.a"
  include/pinpad/pinpad.h include/pinpad/ppcomp.h include/pinpad/sc5000.h
  "$libdir/pkgconfig/pinpad.pc"
  "$libdir/cmake/pinpad/pinpadConfig.cmake" "$libdir/cmake/pinpad/pinpadConfigVersion.cmake"
  "$libdir/cmake/pinpad/pinpadTargets.cmake"
  bin/Kolvar bin/simpinpad bin/letrace bin/geractl bin/pinpadctl bin/kolvar-lote
  share/man/man1/Kolvar.1 share/man/man1/simpinpad.1 share/man/man1/letrace.1
  share/man/man1/geractl.1 share/man/man1/pinpadctl.1 share/man/man1/kolvar-lote.1
  share/man/man3/pinpad.3
)
falta=0
for f in "${esperados[@]}"; do
  [ -e "$prefixo/$f" ] || { echo "missing from the installed tree: $f" >&2; falta=1; }
done
[ "$(readlink "$prefixo/$libdir/libpinpad.so.4")" = libpinpad.so.4.0.0.3 ] || falta=1
[ "$(readlink "$prefixo/$libdir/libpinpad.so")" = libpinpad.so.4 ] || falta=1
# Nothing of the tests or benchmarks.
if find "$prefixo" \( -name '*emv*' -o -name '*teste*' -o -name '*Test*' -o -name 'bench*' \) | grep .; then
  echo "test or benchmark files installed" >&2; falta=1
fi
[ $falta = 0 ] || exit 1
echo "== installed tree: ${#esperados[@]} expected files present"

# The installed programs find the installed library.
if ! carrega_de "$prefixo/bin/Kolvar" "$prefixo/$libdir"; then
  echo "installed Kolvar does not load the installed library" >&2; ldd "$prefixo/bin/Kolvar" >&2; exit 1
fi

fonte=$pasta/exemplo
cp -r examples "$fonte"
export PKG_CONFIG_PATH=$prefixo/$libdir/pkgconfig
if [ "$(pkg-config --variable=prefix pinpad)" != "$prefixo" ]; then
  echo "pinpad.pc names another prefix: $(pkg-config --variable=prefix pinpad)" >&2; exit 1
fi

echo "== example through pkg-config (make)"
make -s -C "$fonte" exemplo exemplo-estatico LDFLAGS="-Wl,-rpath,$prefixo/$libdir"
if ldd "$fonte/exemplo-estatico" | grep -q libpinpad; then echo "static example loads libpinpad.so" >&2; exit 1; fi
echo "== example through find_package (cmake)"
for forma in OFF ON; do
  cmake -S "$fonte" -B "$pasta/cmake-$forma" -G Ninja -DCMAKE_PREFIX_PATH="$prefixo" \
    -DEXEMPLO_ESTATICO=$forma >/dev/null
  cmake --build "$pasta/cmake-$forma" >/dev/null
done
if ldd "$pasta/cmake-ON/exemplo" | grep -q libpinpad; then echo "static example loads libpinpad.so" >&2; exit 1; fi

for bin in "$fonte/exemplo" "$fonte/exemplo-estatico" "$pasta/cmake-OFF/exemplo" "$pasta/cmake-ON/exemplo"; do
  echo "== ${bin#"$pasta"/} against the installed simpinpad"
  executa_exemplo "$bin" "$prefixo/bin/simpinpad" "$pasta"
done

echo "== installed Kolvar against the installed simpinpad"
executa_kolvar "installed Kolvar" "$prefixo/bin/Kolvar" "$prefixo/bin/simpinpad" "$pasta"
echo "install check: OK"
