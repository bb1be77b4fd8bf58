#!/usr/bin/env bash
# Runs every benchmark program and prints one table: a line per figure with
# what is measured, the value, the goal and whether it is met. The same goes
# to a JSON file in the build folder, so that two runs can be compared.
#
#   bench/run.sh [BUILD_DIR]      (default: build; ./test.sh builds it)
#
# Each program prints its figures as "@figura" lines (bench/comum/Figuras.h);
# everything else it prints goes to BUILD_DIR/bench/<program>.log.
# Exit status: 0 when every goal is met, 1 otherwise.
set -uo pipefail
cd "$(dirname "$0")/.."
dir=${1:-build}
bin=$dir/bin
saida=$dir/bench
mkdir -p "$saida"

# One line per benchmark program: its name in BUILD_DIR/bin and its arguments.
PROGRAMAS=(
  "bench_trace"
  "bench_cipher"
  "bench_primeira"
  "bench_link"
  "bench_sim"
  "bench_kolvar"
  "bench_kolvar_lote"
  "bench_soak"
)

figuras=$saida/figuras.tsv
: > "$figuras"
for linha in "${PROGRAMAS[@]}"; do
  read -r prog args <<< "$linha"
  log=$saida/$prog.log
  if [ ! -x "$bin/$prog" ]; then
    printf '%s\t%s\tnot built\t-\tNAO\t%s\n' "$prog" "$prog" "no $bin/$prog" >> "$figuras"
    continue
  fi
  echo "running $prog ..." >&2
  # One core's worth, politely: the machine may be shared.
  # shellcheck disable=SC2086
  nice -n 10 "$bin/$prog" $args > "$log" 2>&1
  rc=$?
  n=$(grep -c $'^@figura\t' "$log")
  grep $'^@figura\t' "$log" | sed "s/^@figura\t/$prog\t/" >> "$figuras"
  if [ "$rc" -ne 0 ] && [ "$n" -eq 0 ]; then
    printf '%s\t%s\texit %d\t-\tNAO\tsee %s\n' "$prog" "$prog" "$rc" "$log" >> "$figuras"
  elif [ "$rc" -ne 0 ]; then
    printf '%s\t%s: exit status\t%d\t0\tNAO\tsee %s\n' "$prog" "$prog" "$rc" "$log" >> "$figuras"
  fi
done

quando=$(date +%Y%m%d-%H%M%S)
json=$saida/bench-$quando.json
commit=$(git rev-parse --short HEAD 2>/dev/null || echo "?")
carga=$(cut -d' ' -f1-3 /proc/loadavg 2>/dev/null || echo "?")

awk -F'\t' -v json="$json" -v quando="$quando" -v commit="$commit" -v carga="$carga" \
    -v nucleos="$(nproc)" '
function esc(s) { gsub(/\\/, "\\\\", s); gsub(/"/, "\\\"", s); gsub(/\t/, " ", s); return s }
{
  n++; prog[n] = $1; nome[n] = $2; valor[n] = $3; meta[n] = $4; estado[n] = $5; detalhe[n] = $6
  if (length($2) > w1) w1 = length($2)
  if (length($3) > w2) w2 = length($3)
  if (length($4) > w3) w3 = length($4)
  if ($5 == "NAO") falhas++
}
END {
  if (w1 < 6) w1 = 6; if (w2 < 5) w2 = 5; if (w3 < 4) w3 = 4
  printf "%-*s  %*s  %-*s  %-4s  %s\n", w1, "figure", w2, "value", w3, "goal", "ok", "detail (spread of interleaved ratios, medians...)"
  linha = ""; for (i = 0; i < w1 + w2 + w3 + 16; i++) linha = linha "-"
  print linha
  for (i = 1; i <= n; i++) {
    ok = estado[i] == "ok" ? "ok" : (estado[i] == "info" ? "-" : "NOT")
    printf "%-*s  %*s  %-*s  %-4s  %s\n", w1, nome[i], w2, valor[i], w3, meta[i], ok, detalhe[i]
  }
  print linha
  printf "%d figures, %d goals not met; load average %s on %d cores; commit %s\n", n, falhas, carga, nucleos, commit
  printf "{\n  \"quando\": \"%s\",\n  \"commit\": \"%s\",\n  \"carga\": \"%s\",\n  \"nucleos\": %d,\n  \"figuras\": [\n", quando, commit, carga, nucleos > json
  for (i = 1; i <= n; i++)
    printf "    {\"programa\": \"%s\", \"figura\": \"%s\", \"valor\": \"%s\", \"meta\": \"%s\", \"estado\": \"%s\", \"detalhe\": \"%s\"}%s\n", esc(prog[i]), esc(nome[i]), esc(valor[i]), esc(meta[i]), esc(estado[i]), esc(detalhe[i]), (i < n ? "," : "") > json
  printf "  ]\n}\n" > json
  exit falhas > 0 ? 1 : 0
}' "$figuras"
rc=$?
cp "$json" "$saida/ultimo.json"
echo "JSON: $json (also $saida/ultimo.json); program logs: $saida/*.log"
exit $rc
