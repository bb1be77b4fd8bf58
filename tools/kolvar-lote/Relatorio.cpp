#include "tools/kolvar-lote/Relatorio.h"

#include <sys/utsname.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <set>

namespace lote {

namespace {

constexpr char Substituto[] = "\xEF\xBF\xBD";  // U+FFFD

// Length of the valid UTF-8 sequence at the start of `s`, 0 when there is none
// (overlong forms, surrogates and code points above U+10FFFF are invalid).
size_t SequenciaUtf8(std::string_view s) {
  const auto b = [&](size_t i) { return static_cast<unsigned char>(s[i]); };
  const unsigned char c = b(0);
  if (c < 0x80) return 1;
  size_t n;
  unsigned minimo;
  unsigned cp;
  if (c >= 0xC2 && c <= 0xDF) {
    n = 2, minimo = 0x80, cp = c & 0x1F;
  } else if (c >= 0xE0 && c <= 0xEF) {
    n = 3, minimo = 0x800, cp = c & 0x0F;
  } else if (c >= 0xF0 && c <= 0xF4) {
    n = 4, minimo = 0x10000, cp = c & 0x07;
  } else {
    return 0;
  }
  if (s.size() < n) return 0;
  for (size_t i = 1; i < n; ++i) {
    if ((b(i) & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (b(i) & 0x3F);
  }
  if (cp < minimo || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  return n;
}

bool Utf8Valido(std::string_view s) {
  for (size_t i = 0; i < s.size();) {
    const size_t n = SequenciaUtf8(s.substr(i));
    if (n == 0) return false;
    i += n;
  }
  return true;
}

void Escapa(std::string& r, char c) {
  switch (c) {
    case '&': r += "&amp;"; break;
    case '<': r += "&lt;"; break;
    case '>': r += "&gt;"; break;
    case '"': r += "&quot;"; break;
    default: r += c;
  }
}

bool Controle(unsigned char c) { return (c < 0x20 && c != '\n' && c != '\t') || c == 0x7F; }

// Kolvar's console is Latin-1 (its texts), but the serial layer's line on
// standard error carries the port path in the user's encoding: a line that
// is valid UTF-8 is taken as such, any other as Latin-1.
std::string ConsoleHtml(std::string_view console) {
  std::string r;
  for (size_t i = 0; i < console.size();) {
    size_t fim = console.find('\n', i);
    fim = fim == std::string_view::npos ? console.size() : fim + 1;
    const std::string_view linha = console.substr(i, fim - i);
    r += TextoHtml(linha, !Utf8Valido(linha));
    i = fim;
  }
  return r;
}

std::string Numero(const char* formato, double v) {
  char t[32];
  std::snprintf(t, sizeof t, formato, v);
  return t;
}

// Colour class of a verdict: passed, the pinpad failed, or the run failed.
const char* Classe(const Porta& p, bool aceitaNaoAplica) {
  if (Aprovada(p, aceitaNaoAplica)) return "ok";
  return ErroDeExecucao(p) ? "erro" : "falha";
}

constexpr const char* NomesFases[NumFases] = {"abertura", "informacao", "confirmacao do operador", "criptografia",
                                              "confirmacao final"};

// The bar of one port: a segment per phase, as wide as its share of the
// slowest port's time so that bars compare across ports.
std::string Barra(const Porta& p, double escala) {
  std::string r = "<div class=\"barra\">";
  if (escala <= 0 || p.repetida || p.naoTerminal) return r + "</div>";
  for (size_t k = 0; k < p.marcas.size(); ++k) {
    const double de = p.marcas[k].segundos;
    const double ate = k + 1 < p.marcas.size() ? p.marcas[k + 1].segundos : std::max(p.segundos, de);
    if (ate <= de) continue;
    const int f = static_cast<int>(p.marcas[k].fase);
    r += "<span class=\"f" + std::to_string(f) + "\" style=\"width:" + Numero("%.2f", 100 * (ate - de) / escala) +
         "%\" title=\"" + NomesFases[f] + ": " + Numero("%.2f", ate - de) + " s\"></span>";
  }
  return r + "</div>";
}

std::string Maquina() {
  utsname u{};
  if (uname(&u) != 0) return "?";
  return std::string(u.nodename) + " (" + u.sysname + " " + u.release + ", " + u.machine + ")";
}

// "Kolvar v1.003" from the banners of the consoles, each version once.
std::string VersoesKolvar(const std::vector<Porta>& portas) {
  std::set<std::string> versoes;
  for (const auto& p : portas) {
    if (p.console.rfind("Kolvar v", 0) != 0) continue;
    versoes.insert(p.console.substr(0, p.console.find_first_of(" \n", 7)));
  }
  std::string r;
  for (const auto& v : versoes) r += (r.empty() ? "" : ", ") + TextoHtml(v, true);
  return r.empty() ? "-" : r;
}

constexpr char Estilo[] = R"(
body{font-family:sans-serif;margin:1.5em;color:#1f2328;background:#fff}
h1{font-size:1.4em;margin:0 0 .5em}
h2{font-size:1.1em;margin:1.5em 0 .5em}
dl.execucao{display:grid;grid-template-columns:max-content auto;gap:.2em 1em;margin:0}
dl.execucao dt{font-weight:bold}
dl.execucao dd{margin:0}
table{border-collapse:collapse;width:100%;font-size:.9em}
th,td{border:1px solid #d0d7de;padding:.3em .5em;text-align:left;vertical-align:middle}
th{background:#f6f8fa}
td.num{text-align:right;font-variant-numeric:tabular-nums}
td.veredito{font-weight:bold;white-space:nowrap}
.ok{background:#dafbe1;color:#116329}
.falha{background:#ffebe9;color:#a40e26}
.erro{background:#fff1c2;color:#7d4e00}
.interrompida{background:#fff1c2;color:#7d4e00;padding:.3em .5em;font-weight:bold}
.barra{display:flex;width:16em;height:1em;background:#f6f8fa;border:1px solid #d0d7de}
.barra span,.legenda span{display:inline-block;height:100%}
.legenda span{width:1em;height:1em;vertical-align:middle;margin:0 .3em 0 1em;border:1px solid #d0d7de}
.f0{background:#8c959f}.f1{background:#54aeff}.f2{background:#d4a72c}.f3{background:#8250df}.f4{background:#4ac26b}
details{border:1px solid #d0d7de;margin:.5em 0;padding:.3em .6em}
summary{cursor:pointer;font-weight:bold}
pre{background:#f6f8fa;padding:.5em;overflow-x:auto;white-space:pre-wrap;word-break:break-all;font-size:.85em}
*{-webkit-print-color-adjust:exact;print-color-adjust:exact}
@media print{body{margin:0}tr,details{break-inside:avoid}summary{list-style:none}}
)";

}  // namespace

std::string TextoHtml(std::string_view s, bool latin1) {
  std::string r;
  r.reserve(s.size());
  for (size_t i = 0; i < s.size();) {
    const auto c = static_cast<unsigned char>(s[i]);
    if (Controle(c)) {
      r += Substituto;
      ++i;
    } else if (c < 0x80) {
      Escapa(r, static_cast<char>(c));
      ++i;
    } else if (latin1) {
      if (c < 0xA0) {
        r += Substituto;  // C1 controls
      } else {
        r += static_cast<char>(0xC0 | (c >> 6));
        r += static_cast<char>(0x80 | (c & 0x3F));
      }
      ++i;
    } else if (const size_t n = SequenciaUtf8(s.substr(i)); n > 0) {
      r.append(s.substr(i, n));
      i += n;
    } else {
      r += Substituto;
      ++i;
    }
  }
  return r;
}

std::string Html(const std::vector<Porta>& portas, const DadosDoRelatorio& d) {
  double escala = 0;
  for (const auto& p : portas) escala = std::max(escala, p.segundos);
  std::string h;
  h += "<!DOCTYPE html>\n<html lang=\"pt\">\n<head>\n<meta charset=\"utf-8\">\n<title>kolvar-lote " +
       TextoHtml(d.inicio, false) + "</title>\n<style>" + Estilo + "</style>\n</head>\n<body>\n";
  h += "<h1>Teste de compatibilidade Veltrana M4120: relatorio do kolvar-lote</h1>\n";
  if (d.sinal)
    h += std::string("<p class=\"interrompida\">Execucao interrompida por ") + (d.sinal == SIGINT ? "SIGINT" : "SIGTERM") +
         ": as portas marcadas INTERROMPIDO nao chegaram ao fim.</p>\n";
  h += "<dl class=\"execucao\">\n<dt>Inicio</dt><dd>" + TextoHtml(d.inicio, false) + "</dd>\n<dt>Duracao</dt><dd>" +
       Numero("%.1f", d.segundos) + " s</dd>\n<dt>Maquina</dt><dd>" + TextoHtml(Maquina(), false) +
       "</dd>\n<dt>Versoes</dt><dd>kolvar-lote " + TextoHtml(d.versao, false) + "; " + VersoesKolvar(portas) +
       "</dd>\n<dt>Saida de console</dt><dd>" + TextoHtml(d.pasta, false) + "/</dd>\n";
  int aprovadas = 0;
  for (const auto& p : portas) aprovadas += Aprovada(p, d.aceitaNaoAplica);
  h += "<dt>Aprovadas</dt><dd>" + std::to_string(aprovadas) + " de " + std::to_string(portas.size()) +
       (d.aceitaNaoAplica ? " (NAO SE APLICA conta como aprovado)" : "") + "</dd>\n</dl>\n";

  h += "<h2>Portas</h2>\n<table id=\"portas\">\n<thead><tr><th>Porta</th><th>Fabricante</th><th>Modelo</th>"
       "<th>Serie</th><th>Versao</th><th>Veredito</th><th>Status</th><th>Segundos</th><th>Tempo</th></tr></thead>\n"
       "<tbody>\n";
  for (const auto& p : portas) {
    const bool rodou = !p.repetida && !p.naoTerminal;
    h += "<tr class=\"porta\" data-veredito=\"" + TextoHtml(p.veredito, true) + "\"><td>" + TextoHtml(p.porta, false) +
         "</td><td>" + TextoHtml(p.fabricante, true) + "</td><td>" + TextoHtml(p.modelo, true) + "</td><td>" +
         TextoHtml(p.serie, true) + "</td><td>" + TextoHtml(p.versao, true) + "</td><td class=\"veredito " +
         Classe(p, d.aceitaNaoAplica) + "\">" + TextoHtml(p.veredito, true) + "</td><td class=\"num\">" +
         (p.status >= 0 ? std::to_string(p.status) : "-") + "</td><td class=\"num\">" +
         (rodou ? Numero("%.1f", p.segundos) : "-") + "</td><td>" + Barra(p, escala) + "</td></tr>\n";
  }
  h += "</tbody>\n</table>\n<p class=\"legenda\">Tempo:";
  for (int f = 0; f < NumFases; ++f) h += "<span class=\"f" + std::to_string(f) + "\"></span>" + NomesFases[f];
  h += "</p>\n";

  h += "<h2>Console e visor de cada porta</h2>\n";
  for (const auto& p : portas) {
    h += "<details class=\"porta\"><summary>" + TextoHtml(p.porta, false) + ": " + TextoHtml(p.veredito, true) +
         "</summary>\n<p>Console (" + TextoHtml(d.pasta + "/" + p.arquivo, false) + ")</p>\n<pre class=\"console\">" +
         ConsoleHtml(p.console) + "</pre>\n<p>Visor</p>\n<pre class=\"visor\">";
    if (p.visor.empty()) h += "(nenhum texto)";
    // Appended piece by piece: text put in front of a temporary string trips
    // g++ 12's -Wrestrict at -O3.
    for (const auto& v : p.visor) {
      h += '|';
      h += TextoHtml(v.substr(0, 16), true);
      h += "|\n|";
      h += TextoHtml(v.size() > 16 ? v.substr(16) : "", true);
      h += "|\n\n";
    }
    h += "</pre>\n</details>\n";
  }
  // The folded parts are printed too.
  h += "<script>window.addEventListener('beforeprint',function(){"
       "document.querySelectorAll('details').forEach(function(d){d.open=true;});});</script>\n";
  h += "</body>\n</html>\n";
  return h;
}

}  // namespace lote
