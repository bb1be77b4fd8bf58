#!/usr/bin/env bash
# Builds the fuzz targets with clang (libFuzzer, AddressSanitizer, UBSan) in
# build-fuzz/ and runs each for SECONDS seconds; fails when any target finds
# something. Usage:
#   fuzz/run.sh SECONDS [target...]      run (all targets when none named)
#   fuzz/run.sh --minimiza [target...]   merge what the runs found back into
#                                        the committed corpora (-merge=1), then
#                                        keep at most FUZZ_MAX_CORPUS (40) files
# Environment: BUILD_DIR (default build-fuzz), FUZZ_EXECUCOES (stop each target
# after this many executions instead of after SECONDS), FUZZ_OPCOES (more
# libFuzzer options). A summary line per target (executions, cov, ft, result)
# goes to standard output and to $BUILD_DIR/resumo.txt; inputs that fail are
# kept in $BUILD_DIR/achados/<target>/.
set -euo pipefail
cd "$(dirname "$0")/.."
raiz=$PWD

minimiza=0
if [ "${1:-}" = --minimiza ]; then
  minimiza=1
  shift
  segundos=0
else
  segundos=${1:?uso: fuzz/run.sh SEGUNDOS [alvo...] | fuzz/run.sh --minimiza [alvo...]}
  shift
fi

source scripts/setup.sh
instala_dependencias
if ! command -v clang++ >/dev/null || ! command -v python3 >/dev/null ||
   ! ls /usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a >/dev/null 2>&1; then
  echo "Installing: clang python3"
  sudo=""
  [ "$(id -u)" = 0 ] || sudo=sudo
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq clang python3
fi

dir=${BUILD_DIR:-build-fuzz}
mkdir -p "$dir"
# Absolute paths: the targets work in a folder of their own.
dir=$(cd "$dir" && pwd)
corpora=$raiz/fuzz/corpus
cmake -S . -B "$dir" -G Ninja -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DPINPAD_FUZZ=ON -DPINPAD_TESTS=OFF -DPINPAD_BENCH=OFF >/dev/null
cmake --build "$dir" -j "$(nproc)" --target fuzz_todos

alvos=("$@")
if [ ${#alvos[@]} -eq 0 ]; then
  for c in "$corpora"/*/; do alvos+=("$(basename "$c")"); done
fi

# The seeds, rebuilt from the worked frames, join every run.
python3 fuzz/sementes/gera.py "$dir/sementes"

# The targets write their files in a folder of their own under TMPDIR: a
# memory file system, where there is one, makes that several times faster.
if [ -z "${TMPDIR:-}" ] && [ -d /dev/shm ] && [ -w /dev/shm ]; then export TMPDIR=/dev/shm; fi

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

# Keeps a committed corpus small: past findings, then the smallest of the
# other inputs, FUZZ_MAX_CORPUS files in all (default 40).
apara() {
  local pasta=$1 max=${FUZZ_MAX_CORPUS:-40}
  local fixos outros
  fixos=$(find "$pasta" -maxdepth 1 -type f -name 'regressao-*' | wc -l)
  outros=$(( max > fixos ? max - fixos : 0 ))
  find "$pasta" -maxdepth 1 -type f ! -name 'regressao-*' -printf '%s %p\n' | sort -n |
    tail -n +"$(( outros + 1 ))" | cut -d' ' -f2- | xargs -r rm -f
}

falhas=0
resumo="$dir/resumo.txt"
: >"$resumo"
for a in "${alvos[@]}"; do
  bin="$dir/bin/fuzz_$a"
  [ -x "$bin" ] || { echo "alvo desconhecido: $a" >&2; exit 2; }
  trabalho="$dir/corpus/$a"
  achados="$dir/achados/$a"
  mkdir -p "$trabalho" "$achados" "$dir/sementes/$a"
  log="$dir/log-$a.txt"
  if [ $minimiza = 1 ]; then
    novo=$(mktemp -d)
    "$bin" -merge=1 -dict="$raiz/fuzz/dicionario.dict" "$novo" "$corpora/$a" "$dir/sementes/$a" "$trabalho" >"$log" 2>&1
    # Past findings stay whatever coverage they add.
    cp "$corpora/$a"/regressao-* "$novo"/ 2>/dev/null || true
    apara "$novo"
    rm -rf "$corpora/$a"
    mv "$novo" "$corpora/$a"
    chmod 755 "$corpora/$a"
    echo "$a: $(ls "$corpora/$a" | wc -l) entradas" | tee -a "$resumo"
    continue
  fi
  limite=(-max_total_time="$segundos")
  [ -n "${FUZZ_EXECUCOES:-}" ] && limite=(-runs="$FUZZ_EXECUCOES")
  set +e
  # shellcheck disable=SC2086
  "$bin" "${limite[@]}" -timeout=20 -rss_limit_mb=2048 -max_len=4096 -print_final_stats=1 \
    -dict="$raiz/fuzz/dicionario.dict" -artifact_prefix="$achados/" ${FUZZ_OPCOES:-} \
    "$trabalho" "$corpora/$a" "$dir/sementes/$a" >"$log" 2>&1
  rc=$?
  set -e
  execs=$(grep -o 'stat::number_of_executed_units: [0-9]*' "$log" | tail -1 | awk '{print $2}' || true)
  cov=$(grep -oE '(DONE|pulse|NEW|REDUCE|INITED) +cov: [0-9]+ ft: [0-9]+' "$log" | tail -1 | awk '{print $3 "/" $5}' || true)
  if [ $rc = 0 ]; then estado=ok; else estado="ACHADO (rc=$rc, ver $log)"; falhas=$((falhas + 1)); fi
  printf '%-12s execucoes=%-10s cov/ft=%-12s %s\n' "$a" "${execs:-?}" "${cov:-?}" "$estado" | tee -a "$resumo"
done
cd "$raiz"
[ $falhas = 0 ]
