#!/usr/bin/env bash
# The shared library exports exactly the functions its public headers mark
# PP_EXPORT, carries the SONAME of major version 4, and needs nothing from the
# C++ runtime (a C application that loads it does not load libstdc++).
set -euo pipefail
biblioteca=$1
shift
cabecalhos=("$@")

esperados=$(grep -ohE 'PP_EXPORT[^(]*\b[A-Za-z_][A-Za-z0-9_]*\(' "${cabecalhos[@]}" \
  | sed -E 's/.*\b([A-Za-z_][A-Za-z0-9_]*)\($/\1/' | sort -u)
exportados=$(nm -D --defined-only "$biblioteca" | awk '$2 ~ /^[TWDBRV]$/ {print $3}' \
  | grep -vE '^(_init|_fini|_edata|_end|__bss_start)$' | sed 's/@.*//' | sort -u)

if [ "$esperados" != "$exportados" ]; then
  echo "exported symbols differ from the public header:"
  diff <(echo "$esperados") <(echo "$exportados") || true
  exit 1
fi
# The entry points outside the PP_* and SC5000 sets that callers are promised
# must be there, whatever the headers say.
for f in CarregaConfiguracaoPinPad DefineArquivoConfiguracao FinalizaLibPinPad DefineFuncoesHost \
         ConfiguraTracePinPad ObtemInformacaoLib ObtemVersaoLib GeraTraceTrnOffline; do
  if ! grep -qx "$f" <<<"$exportados"; then
    echo "$f is not exported"
    exit 1
  fi
done
soname=$(readelf -d "$biblioteca" | sed -nE 's/.*\(SONAME\).*\[(.*)\]/\1/p')
if [ "$soname" != "libpinpad.so.4" ]; then
  echo "SONAME is '$soname', expected libpinpad.so.4"
  exit 1
fi
runtime=$(readelf -d "$biblioteca" | sed -nE 's/.*\(NEEDED\).*\[(.*)\]/\1/p' | grep -E '^lib(stdc\+\+|gcc_s)\.' || true)
if [ -n "$runtime" ]; then
  echo "the library needs the C++ runtime: $runtime"
  nm -D --undefined-only "$biblioteca" | grep -E 'GLIBCXX|CXXABI|GCC_' || true
  exit 1
fi
echo "$(echo "$esperados" | wc -l) symbols exported, SONAME $soname, no C++ runtime needed"
