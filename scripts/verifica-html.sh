#!/usr/bin/env bash
# Renders kolvar-lote's HTML report in a real browser: runs kolvar-lote --html
# against simpinpads with different verdicts (and a missing port), renders the
# page with headless Chromium to a screenshot that must not be blank and must
# show the verdict colours, and checks the browser's DOM holds one row per
# port with the right verdicts. Everything goes to a temporary folder.
#   bash scripts/verifica-html.sh [BUILD_DIR]     (default: build; ./test.sh builds it)
# Installs chromium (Debian) when it is missing.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/setup.sh
dir=${1:-build}
bin=$dir/bin
instala_pacotes_debian chromium python3

tmp=$(mktemp -d)
sims=()
limpa() {
  for p in "${sims[@]}"; do
    kill "$p" 2>/dev/null || true
    wait "$p" 2>/dev/null || true
  done
  rm -rf "$tmp"
}
trap limpa EXIT

# One simpinpad per verdict; the expected verdicts in the order of the ports.
perfis=("--teclas OK,OK" "--sem-chave 2 --sem-chave 8" "--versao 1.07" "--teclas CANCEL")
esperados=("COMPATIVEL 3DES" "NAO COMPATIVEL" "NAO SE APLICA" "CANCELADO" "ERRO 30")
portas=()
for i in "${!perfis[@]}"; do
  mkdir -p "$tmp/sim$i"
  # shellcheck disable=SC2086
  inicia_simpinpad "$bin/simpinpad" "$tmp/sim$i" ${perfis[$i]}
  sims+=("$SIM_PID")
  portas+=("$SIM_DISPOSITIVO")
done
portas+=("$tmp/ttyNADA")

rc=0
"$bin/kolvar-lote" --saida "$tmp/saida" --html "$tmp/relatorio.html" "${portas[@]}" > "$tmp/lote.out" 2>&1 || rc=$?
if [ "$rc" -ne 1 ]; then
  echo "verifica-html: kolvar-lote ended with $rc (1 expected):" >&2
  cat "$tmp/lote.out" >&2
  exit 1
fi

navegador() {
  timeout 120 chromium --headless --no-sandbox --disable-gpu --disable-quic --no-first-run \
    --disable-background-networking --disable-component-update --disable-sync \
    --user-data-dir="$tmp/perfil-$1" "${@:2}" "file://$tmp/relatorio.html" 2>> "$tmp/chromium.log"
}
navegador tela --screenshot="$tmp/tela.png" --window-size=1280,1000 > /dev/null
navegador dom --dump-dom > "$tmp/dom.html"

python3 - "$tmp/tela.png" "$tmp/dom.html" "${esperados[@]}" <<'PYTHON'
import html.parser, struct, sys, zlib

def pixels(caminho):
    """RGB(A) pixels of an 8-bit PNG, scanline filters undone."""
    dados = open(caminho, "rb").read()
    assert dados[:8] == b"\x89PNG\r\n\x1a\n", "not a PNG"
    pos, idat = 8, b""
    while pos < len(dados):
        n, tipo = struct.unpack(">I4s", dados[pos:pos + 8])
        corpo = dados[pos + 8:pos + 8 + n]
        if tipo == b"IHDR":
            larg, alt, prof, cor = struct.unpack(">IIBB", corpo[:10])
        elif tipo == b"IDAT":
            idat += corpo
        pos += 12 + n
    assert prof == 8 and cor in (2, 6), "PNG of depth %d, colour type %d" % (prof, cor)
    bpp = 3 if cor == 2 else 4
    bruto, linha_ant, saida = zlib.decompress(idat), bytearray(larg * bpp), []
    for y in range(alt):
        base = y * (larg * bpp + 1)
        filtro, linha = bruto[base], bytearray(bruto[base + 1:base + 1 + larg * bpp])
        for i in range(len(linha)):
            a = linha[i - bpp] if i >= bpp else 0
            b = linha_ant[i]
            c = linha_ant[i - bpp] if i >= bpp else 0
            if filtro == 1: linha[i] = (linha[i] + a) & 255
            elif filtro == 2: linha[i] = (linha[i] + b) & 255
            elif filtro == 3: linha[i] = (linha[i] + (a + b) // 2) & 255
            elif filtro == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                linha[i] = (linha[i] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 255
        saida.extend(tuple(linha[i:i + 3]) for i in range(0, len(linha), bpp))
        linha_ant = linha
    return saida

cores = set(pixels(sys.argv[1]))
falhas = []
if len(cores) < 16:
    falhas.append("screenshot nearly blank: %d colours" % len(cores))
# The verdict cells' backgrounds: passed (green), failed (red), run error (yellow).
for nome, cor in (("green", (0xDA, 0xFB, 0xE1)), ("red", (0xFF, 0xEB, 0xE9)), ("yellow", (0xFF, 0xF1, 0xC2))):
    if cor not in cores:
        falhas.append("no %s verdict colour in the screenshot" % nome)

class Linhas(html.parser.HTMLParser):
    def __init__(self):
        super().__init__()
        self.vereditos, self.celulas, self.em_celula = [], [], False
    def handle_starttag(self, tag, attrs):
        a = dict(attrs)
        if tag == "tr" and "porta" in (a.get("class") or "").split():
            self.vereditos.append(a.get("data-veredito"))
        if tag == "td" and "veredito" in (a.get("class") or "").split():
            self.em_celula = True
            self.celulas.append("")
    def handle_endtag(self, tag):
        if tag == "td":
            self.em_celula = False
    def handle_data(self, d):
        if self.em_celula:
            self.celulas[-1] += d

dom = Linhas()
dom.feed(open(sys.argv[2], encoding="utf-8").read())
esperados = sys.argv[3:]
if dom.vereditos != esperados:
    falhas.append("rows %s, expected %s" % (dom.vereditos, esperados))
if dom.celulas != esperados:
    falhas.append("verdict cells %s, expected %s" % (dom.celulas, esperados))
if falhas:
    print("verifica-html: " + "; ".join(falhas), file=sys.stderr)
    sys.exit(1)
print("verifica-html: %d rows with the right verdicts; screenshot of %d colours" % (len(esperados), len(cores)))
PYTHON
