#include "tools/kolvar-lote/Lote.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>

#include "tool/Visor.h"
#include "tools/pinpadctl/Cores.h"
#include "tools/pinpadctl/Json.h"
#include "tools/pinpadctl/Portas.h"
#include "tools/pinpadctl/Texto.h"

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

// UTF-8 text escaped for XML 1.0.
std::string XmlUtf8(std::string_view s, bool atributo) {
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
        } else {
          r += static_cast<char>(c);
        }
    }
  }
  return r;
}

std::string Latin1ParaXml(std::string_view s, bool atributo) { return XmlUtf8(pinpadctl::Latin1ParaUtf8(s), atributo); }

// A port path the user gave (in the locale's encoding), for XML.
std::string PortaParaXml(std::string_view porta, bool atributo) {
  return XmlUtf8(pinpadctl::TextoUsuarioParaUtf8(porta), atributo);
}

std::string Segundos(double s) {
  char t[32];
  std::snprintf(t, sizeof t, "%.3f", s);
  return t;
}

void MarcaFase(Porta& p, Fase f, double segundos) {
  if (p.marcas.back().fase != f) p.marcas.push_back({f, segundos});
}

}  // namespace

bool FalhaDeComunicacao(int codigo) {
  // PPCOMP_PORTERR, PPCOMP_COMMERR, PPCOMP_RSPERR, PPCOMP_COMMTOUT
  return codigo == 30 || codigo == 31 || codigo == 33 || codigo == 34;
}

bool LinhaKolvar(Porta& p, std::string_view linha, double segundos) {
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
    MarcaFase(p, Fase::Informacao, segundos);
  } else if (Comeca(t, "Confirme a operacao no pinpad")) {
    p.estado = "aguardando o operador (confirmar)";
    MarcaFase(p, Fase::Confirmacao, segundos);
    p.visor.push_back(DisplayConfirma);
  } else if (Comeca(t, "Processando...")) {
    p.estado = "processando";
    MarcaFase(p, Fase::Criptografia, segundos);
    p.visor.push_back(DisplayProcessando);
  } else if (Comeca(t, "Resultado: PinPad COMPATIVEL com Veltrana M4120 com criptografia ")) {
    const std::string nome = Aparado(t.substr(t.rfind(' ') + 1));
    if (p.compativel.empty()) p.compativel = nome;
    p.estado = "COMPATIVEL " + p.compativel;
    char texto[64];
    std::snprintf(texto, sizeof texto, DISPLAY_COMPATIVEL, nome.c_str());
    p.visor.push_back(texto);
  } else if (Comeca(t, "Resultado: PinPad NAO COMPATIVEL")) {
    p.naoCompativel = true;
    if (p.erroResultado < 0) p.erroResultado = p.erroUltimo;
    p.estado = NaoCompativel;
    p.visor.push_back(DisplayNaoOk);
  } else if (Comeca(t, "Resultado: Teste nao se aplica.")) {
    p.naoSeAplica = true;
    p.estado = "NAO SE APLICA";
    p.visor.push_back(DisplayNaoSeAplica);
  } else if (Comeca(t, "Teste cancelado pelo operador")) {
    p.cancelado = true;
    p.estado = "cancelado pelo operador";
  } else if (Comeca(t, "Finalize a operacao no pinpad")) {
    p.estado += " - aguardando o operador (finalizar)";
    MarcaFase(p, Fase::Finalizacao, segundos);
  } else if (Comeca(t, "Erro ")) {
    // "Erro N - text" or "Erro PP_Call (N) - text".
    std::string_view r = t.substr(5);
    if (auto par = r.find('('); par != std::string_view::npos && !r.empty() && !std::isdigit(static_cast<unsigned char>(r[0])))
      r = r.substr(par + 1);
    if (!r.empty() && std::isdigit(static_cast<unsigned char>(r[0]))) {
      p.erroUltimo = std::atoi(std::string(r).c_str());
      if (p.erro < 0) p.erro = p.erroUltimo;
    }
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
  } else if (p.interrompida) {
    p.veredito = Interrompido;
  } else if (!p.compativel.empty()) {
    p.veredito = std::string(Compativel) + " " + p.compativel;
  } else if (p.naoCompativel && FalhaDeComunicacao(p.erroResultado)) {
    // Kolvar prints NAO COMPATIVEL for any failed request; a pinpad that
    // stopped answering did not refuse anything.
    p.veredito = std::string(Erro) + " " + std::to_string(p.erroResultado);
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

std::string ConsoleUtf8(const Porta& p) {
  // Kolvar writes Latin-1 (its texts, the pinpad's block) and, in the serial
  // layer's line, the port path exactly as it was given.
  const std::string porta = pinpadctl::TextoUsuarioParaUtf8(p.porta);
  std::string r;
  size_t i = 0;
  while (i < p.console.size()) {
    const size_t achou = p.porta.empty() ? std::string::npos : p.console.find(p.porta, i);
    r += pinpadctl::Latin1ParaUtf8(std::string_view(p.console).substr(i, achou == std::string::npos ? achou : achou - i));
    if (achou == std::string::npos) break;
    r += porta;
    i = achou + p.porta.size();
  }
  return r;
}

pinpadctl::Cor CorDoVeredito(const Porta& p) {
  if (Comeca(p.veredito, Compativel)) return pinpadctl::Cor::Verde;
  if (p.veredito == NaoCompativel || ErroDeExecucao(p)) return pinpadctl::Cor::Vermelho;
  return pinpadctl::Cor::Amarelo;
}

std::string Tabela(const std::vector<Porta>& portas, bool cores) {
  const std::vector<std::string> titulos = {"PORTA", "FABRICANTE", "MODELO", "SERIE", "VERSAO", "VEREDITO", "STATUS", "SEGUNDOS"};
  constexpr size_t ColunaVeredito = 5;
  std::vector<std::vector<std::string>> linhas;
  for (const auto& p : portas) {
    char seg[32];
    std::snprintf(seg, sizeof seg, "%.1f", p.segundos);
    using pinpadctl::Latin1ParaUtf8;
    linhas.push_back({pinpadctl::TextoUsuarioParaUtf8(p.porta), Latin1ParaUtf8(p.fabricante), Latin1ParaUtf8(p.modelo),
                      Latin1ParaUtf8(p.serie), Latin1ParaUtf8(p.versao), p.veredito,
                      p.status >= 0 ? std::to_string(p.status) : "-",
                      p.repetida || p.naoTerminal || p.emUso ? "-" : seg});
  }
  // Widths in characters shown, not bytes: "ação" takes four columns.
  std::vector<size_t> larg(titulos.size());
  for (size_t c = 0; c < titulos.size(); ++c) {
    larg[c] = titulos[c].size();
    for (const auto& l : linhas) larg[c] = std::max(larg[c], pinpadctl::Largura(l[c]));
  }
  auto formata = [&](const std::vector<std::string>& l, const Porta* p) {
    std::string s;
    for (size_t c = 0; c < l.size(); ++c) {
      const bool ultima = c + 1 == l.size();
      std::string cel = ultima ? l[c] : pinpadctl::Preenche(l[c], larg[c]);
      // The colour wraps the verdict only, never the padding.
      if (p && c == ColunaVeredito && cores)
        cel = pinpadctl::Colore(l[c], CorDoVeredito(*p), true) + cel.substr(l[c].size());
      s += cel + (ultima ? "" : "  ");
    }
    while (!s.empty() && s.back() == ' ') s.pop_back();
    return s + "\n";
  };
  std::string t = formata(titulos, nullptr);
  for (size_t i = 0; i < linhas.size(); ++i) t += formata(linhas[i], &portas[i]);
  return t;
}

std::string Json(const std::vector<Porta>& portas, const std::string& pasta, const std::string& inicio,
                 double segundos, bool aceitaNaoAplica) {
  std::string lista = "[";
  bool todas = !portas.empty();
  for (const auto& p : portas) {
    using pinpadctl::Latin1ParaUtf8;
    pinpadctl::ObjetoJson j;
    j.Texto("porta", pinpadctl::TextoUsuarioParaUtf8(p.porta))
        .Texto("fabricante", Latin1ParaUtf8(p.fabricante))
        .Texto("modelo", Latin1ParaUtf8(p.modelo))
        .Texto("serie", Latin1ParaUtf8(p.serie))
        .Texto("versao", Latin1ParaUtf8(p.versao))
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
  r.Numero("versao_formato", VersaoFormatoJson)
      .Texto("inicio", inicio)
      .Texto("saida", pinpadctl::TextoUsuarioParaUtf8(pasta))
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
    casos += "  <testcase classname=\"kolvar-lote\" name=\"" + PortaParaXml(p.porta, true) + "\" time=\"" +
             Segundos(p.segundos) + "\">\n";
    if (!Aprovada(p, aceitaNaoAplica)) {
      const bool erro = ErroDeExecucao(p);
      (erro ? erros : falhas)++;
      std::string msg = p.veredito + (p.status >= 0 ? " (status " + std::to_string(p.status) + ")" : "");
      if (p.emUso) msg += ": " + pinpadctl::TextoDono(p.donoPid, p.donoPrograma);
      casos += std::string("    <") + (erro ? "error" : "failure") + " message=\"" + Latin1ParaXml(msg, true) +
               "\" type=\"" + Latin1ParaXml(p.veredito, true) + "\"/>\n";
    }
    casos += "    <system-out>" + XmlUtf8(ConsoleUtf8(p), false) + "</system-out>\n  </testcase>\n";
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
