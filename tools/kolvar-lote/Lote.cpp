#include "tools/kolvar-lote/Lote.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>

#include "tools/pinpadctl/Json.h"
#include "tools/pinpadctl/Portas.h"

namespace lote {

namespace {

bool Comeca(std::string_view s, std::string_view prefixo) { return s.substr(0, prefixo.size()) == prefixo; }

std::string Aparado(std::string_view s) {
  while (!s.empty() && (s.back() == ' ' || s.back() == '\0')) s.remove_suffix(1);
  return std::string(s);
}

std::string Campo(std::string_view s, size_t pos, size_t n) {
  if (pos >= s.size()) return {};
  return Aparado(s.substr(pos, n));
}

// The text after the "[dd/mm/yyyy hh:mm:ss] " time stamp; "" for a line
// without one (the banner, or the serial layer's line on standard error).
std::string_view SemCarimbo(std::string_view l) {
  if (l.size() > 22 && l[0] == '[' && l[20] == ']' && l[21] == ' ') return l.substr(22);
  return {};
}

std::string Latin1ParaXml(std::string_view s, bool atributo) {
  std::string r;
  for (char ch : s) {
    auto c = static_cast<unsigned char>(ch);
    switch (c) {
      case '&': r += "&amp;"; break;
      case '<': r += "&lt;"; break;
      case '>': r += "&gt;"; break;
      case '"': r += atributo ? "&quot;" : "\""; break;
      default:
        if (c == '\n' || c == '\t') {
          r += atributo ? " " : std::string(1, static_cast<char>(c));
        } else if (c < 0x20 || c == 0x7F) {
          // not allowed in XML 1.0: dropped
        } else if (c < 0x80) {
          r += static_cast<char>(c);
        } else {
          r += static_cast<char>(0xC0 | (c >> 6));
          r += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
  }
  return r;
}

std::string Segundos(double s) {
  char t[32];
  std::snprintf(t, sizeof t, "%.3f", s);
  return t;
}

}  // namespace

bool LinhaKolvar(Porta& p, std::string_view linha) {
  const std::string antes = p.estado;
  std::string_view t = SemCarimbo(linha);
  if (t.empty()) return false;
  if (Comeca(t, "Iniciando teste")) {
    p.estado = "abrindo o pinpad";
  } else if (Comeca(t, "PinPad: [")) {
    std::string_view bloco = t.substr(9);
    if (auto fim = bloco.rfind(']'); fim != std::string_view::npos) bloco = bloco.substr(0, fim);
    p.fabricante = Campo(bloco, 0, 20);
    p.modelo = Campo(bloco, 20, 19);
    p.versao = bloco.size() > 60 ? std::string(bloco.substr(60, 4)) : std::string();
    p.serie = Campo(bloco, 80, 20);
    p.estado = "informacao lida";
  } else if (Comeca(t, "Confirme a operacao no pinpad")) {
    p.estado = "aguardando o operador (confirmar)";
  } else if (Comeca(t, "Processando...")) {
    p.estado = "processando";
  } else if (Comeca(t, "Resultado: PinPad COMPATIVEL com Veltrana M4120 com criptografia ")) {
    if (p.compativel.empty()) p.compativel = Aparado(t.substr(t.rfind(' ') + 1));
    p.estado = "COMPATIVEL " + p.compativel;
  } else if (Comeca(t, "Resultado: PinPad NAO COMPATIVEL")) {
    p.naoCompativel = true;
    p.estado = NaoCompativel;
  } else if (Comeca(t, "Resultado: Teste nao se aplica.")) {
    p.naoSeAplica = true;
    p.estado = "NAO SE APLICA";
  } else if (Comeca(t, "Teste cancelado pelo operador")) {
    p.cancelado = true;
    p.estado = "cancelado pelo operador";
  } else if (Comeca(t, "Finalize a operacao no pinpad")) {
    p.estado += " - aguardando o operador (finalizar)";
  } else if (Comeca(t, "Erro ")) {
    // "Erro N - text" or "Erro PP_Call (N) - text".
    std::string_view r = t.substr(5);
    if (auto par = r.find('('); par != std::string_view::npos && !r.empty() && !std::isdigit(static_cast<unsigned char>(r[0])))
      r = r.substr(par + 1);
    if (p.erro < 0 && !r.empty() && std::isdigit(static_cast<unsigned char>(r[0]))) p.erro = std::atoi(std::string(r).c_str());
    p.estado = "erro";
  }
  return p.estado != antes;
}

void Conclui(Porta& p, int status) {
  p.status = status;
  if (p.repetida) {
    p.veredito = Repetida;
  } else if (p.naoTerminal) {
    p.veredito = NaoTerminal;
  } else if (p.emUso) {
    p.veredito = EmUso;
  } else if (!p.compativel.empty()) {
    p.veredito = std::string(Compativel) + " " + p.compativel;
  } else if (p.naoCompativel) {
    p.veredito = NaoCompativel;
  } else if (p.naoSeAplica) {
    p.veredito = NaoSeAplica;
  } else if (p.esgotada) {
    p.veredito = TempoEsgotado;
  } else if (p.cancelado) {
    p.veredito = Cancelado;
  } else if (p.erro >= 0) {
    p.veredito = std::string(Erro) + " " + std::to_string(p.erro);
  } else if (status > 0 && status != 255) {
    p.veredito = std::string(Erro) + " " + std::to_string(status);
  } else {
    p.veredito = Indefinido;
  }
  p.estado = "terminado: " + p.veredito;
}

bool Aprovada(const Porta& p, bool aceitaNaoAplica) {
  return Comeca(p.veredito, Compativel) || (aceitaNaoAplica && p.veredito == NaoSeAplica);
}

bool ErroDeExecucao(const Porta& p) {
  return !Comeca(p.veredito, Compativel) && p.veredito != NaoCompativel && p.veredito != NaoSeAplica &&
         p.veredito != Cancelado;
}

std::string Tabela(const std::vector<Porta>& portas) {
  const std::vector<std::string> titulos = {"PORTA", "FABRICANTE", "MODELO", "SERIE", "VERSAO", "VEREDITO", "STATUS", "SEGUNDOS"};
  std::vector<std::vector<std::string>> linhas;
  for (const auto& p : portas) {
    char seg[32];
    std::snprintf(seg, sizeof seg, "%.1f", p.segundos);
    linhas.push_back({p.porta, p.fabricante, p.modelo, p.serie, p.versao, p.veredito,
                      p.status >= 0 ? std::to_string(p.status) : "-", p.repetida || p.naoTerminal || p.emUso ? "-" : seg});
  }
  std::vector<size_t> larg(titulos.size());
  for (size_t c = 0; c < titulos.size(); ++c) {
    larg[c] = titulos[c].size();
    for (const auto& l : linhas) larg[c] = std::max(larg[c], l[c].size());
  }
  auto formata = [&](const std::vector<std::string>& l) {
    std::string s;
    for (size_t c = 0; c < l.size(); ++c) {
      std::string cel = l[c];
      if (c + 1 < l.size()) cel.resize(larg[c], ' ');
      s += cel + (c + 1 < l.size() ? "  " : "");
    }
    while (!s.empty() && s.back() == ' ') s.pop_back();
    return s + "\n";
  };
  std::string t = formata(titulos);
  for (const auto& l : linhas) t += formata(l);
  return t;
}

std::string Json(const std::vector<Porta>& portas, const std::string& pasta, const std::string& inicio,
                 double segundos, bool aceitaNaoAplica) {
  std::string lista = "[";
  bool todas = !portas.empty();
  for (const auto& p : portas) {
    pinpadctl::ObjetoJson j;
    j.Texto("porta", p.porta)
        .Texto("fabricante", p.fabricante)
        .Texto("modelo", p.modelo)
        .Texto("serie", p.serie)
        .Texto("versao", p.versao)
        .Texto("veredito", p.veredito)
        .Logico("aprovada", Aprovada(p, aceitaNaoAplica));
    if (p.status >= 0) j.Numero("status", p.status);
    else j.Bruto("status", "null");
    j.Bruto("segundos", Segundos(p.segundos)).Texto("console", p.arquivo);
    if (p.emUso) {
      pinpadctl::ObjetoJson dono;
      if (p.donoPid > 0) dono.Numero("pid", p.donoPid);
      else dono.Bruto("pid", "null");
      dono.Texto("programa", p.donoPrograma);
      j.Bruto("dono", dono.Texto());
    }
    if (lista.size() > 1) lista += ',';
    lista += j.Texto();
    todas = todas && Aprovada(p, aceitaNaoAplica);
  }
  pinpadctl::ObjetoJson r;
  r.Texto("inicio", inicio)
      .Texto("saida", pasta)
      .Bruto("segundos", Segundos(segundos))
      .Logico("todas_aprovadas", todas)
      .Bruto("portas", lista + "]");
  return r.Texto() + "\n";
}

std::string JUnit(const std::vector<Porta>& portas, const std::string& inicio, double segundos,
                  bool aceitaNaoAplica) {
  int falhas = 0, erros = 0;
  std::string casos;
  for (const auto& p : portas) {
    casos += "  <testcase classname=\"kolvar-lote\" name=\"" + Latin1ParaXml(p.porta, true) + "\" time=\"" +
             Segundos(p.segundos) + "\">\n";
    if (!Aprovada(p, aceitaNaoAplica)) {
      const bool erro = ErroDeExecucao(p);
      (erro ? erros : falhas)++;
      std::string msg = p.veredito + (p.status >= 0 ? " (status " + std::to_string(p.status) + ")" : "");
      if (p.emUso) msg += ": " + pinpadctl::TextoDono(p.donoPid, p.donoPrograma);
      casos += std::string("    <") + (erro ? "error" : "failure") + " message=\"" + Latin1ParaXml(msg, true) +
               "\" type=\"" + Latin1ParaXml(p.veredito, true) + "\"/>\n";
    }
    casos += "    <system-out>" + Latin1ParaXml(p.console, false) + "</system-out>\n  </testcase>\n";
  }
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<testsuites>\n<testsuite name=\"kolvar-lote\" tests=\"" +
         std::to_string(portas.size()) + "\" failures=\"" + std::to_string(falhas) + "\" errors=\"" +
         std::to_string(erros) + "\" time=\"" + Segundos(segundos) + "\" timestamp=\"" + Latin1ParaXml(inicio, true) +
         "\">\n" + casos + "</testsuite>\n</testsuites>\n";
}

std::string NomeArquivo(int n, const std::string& porta) {
  std::string base = porta.substr(porta.find_last_of('/') == std::string::npos ? 0 : porta.find_last_of('/') + 1);
  for (auto& c : base) {
    auto u = static_cast<unsigned char>(c);
    if (!(std::isalnum(u) || c == '-' || c == '_' || c == '.')) c = '_';
  }
  if (base.empty() || base == "." || base == "..") base = "porta";
  char pre[16];
  std::snprintf(pre, sizeof pre, "%02d-", n);
  return pre + base + ".txt";
}

}  // namespace lote
