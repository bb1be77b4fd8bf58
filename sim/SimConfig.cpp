#include "sim/SimConfig.h"

#include <cstdio>
#include <cstdlib>
#include <cctype>
#include <cstring>
#include <fstream>

#include "sim/SimCripto.h"

namespace sim {

namespace {

struct Opcao {
  const char* nome;
  const char* valor;  // nullptr: a switch
  const char* ajuda;
};

constexpr Opcao kOpcoes[] = {
    {"help", nullptr, "show this text and exit"},
    {"version", nullptr, "show the version and exit"},
    {"perfil", "FILE", "read options from FILE first (\"option = value\" lines; flags win)"},
    {"link", "PATH", "also create a symbolic link PATH to the device (removed on exit)"},
    {"log", "FILE", "log every frame both ways, the display and the operator (format below)"},
    {"versao", "V", "version field of the information block, characters 60-63 (default 1.06)"},
    {"tam-info", "N", "length of the information block answer, 0-999: blank-padded or cut\n      (default: the block as it is, 100 characters)"},
    {"info", "TEXT", "whole information block (overrides the fields below and --versao)"},
    {"fabricante", "TEXT", "maker field, 20 characters (default SIMPINPAD)"},
    {"modelo", "TEXT", "model field, 19 characters (default SIM-16X2)"},
    {"serie", "TEXT", "serial number (information block and SC5000 \"06\")"},
    {"chave", "I=HEX", "master key of index I (0-99): 16, 32 or 48 hex digits; repeatable.\n"
                       "      Defaults: 02=0123456789ABCDEFFEDCBA9876543210, 08=0123456789ABCDEF"},
    {"sem-chave", "I", "index I holds no key (the encryption command answers 011)"},
    {"teclas", "LIST", "operator script, comma separated: OK, F1-F4, BACKSP, CANCEL, CARTAO\n"
                       "      (magnetic card), CHIP (chip card), RETIRA (card removed); each\n"
                       "      may end in :MS, the delay before it (e.g. OK:500,CANCEL)"},
    {"tecla-padrao", "KEY", "what the operator does once the script is exhausted (default OK;\n"
                            "      NENHUMA: nothing, the pinpad waits until cancelled)"},
    {"atraso-tecla", "MS", "default delay before each operator action (default 50)"},
    {"interativo", nullptr, "the operator is you: Enter=OK, Esc=CANCEL, F1-F4, Backspace,\n"
                            "      c=magnetic card, i=chip card, r=card removed; the display is drawn"},
    {"senha", "PIN", "PIN the operator types (default 1234)"},
    {"pan", "DIGITS", "card number (default 4761739001010010)"},
    {"nome", "TEXT", "cardholder name (default CLIENTE/SIMULADO)"},
    {"validade", "YYMM", "card expiry (default 3112)"},
    {"cartao-chip", nullptr, "cards are presented as chip cards"},
    {"sc5000", nullptr, "also speak the SC5000 frames (STX/ETX and SI/SO with LRC)"},
    {"baud", "N", "pace output as a line of N baud would (10 bits a byte; default no pacing)"},
    {"lento", "MS", "answer every command MS milliseconds late"},
    {"nak", "N[@CMD]", "fault: answer NAK to the next N good frames (of command CMD only)"},
    {"sem-ack", "N[@CMD]", "fault: neither ACK nor answer the next N frames"},
    {"crc-errado", "N[@CMD]", "fault: corrupt the CRC (LRC) of the next N answers"},
    {"lixo", "N[@CMD]", "fault: send garbage bytes before the next N answers"},
    {"corta", "N[@CMD]", "fault: send only the first half of the next N answers"},
    {"mudo", "N[@CMD]", "fault: ACK the next N frames and then stay silent"},
    {"fecha", "N", "fault: close the device when the Nth frame arrives, then exit"},
    {"some", "N", "fault: the device vanishes (as if unplugged) when the Nth frame arrives\n"
                  "      and comes back after --volta ms, on the same --link path; SIGUSR1\n"
                  "      makes it vanish at once"},
    {"volta", "MS", "how long a vanished device stays away (default 1000)"},
    {"aleatorio", "P[:SEED]", "fault: each frame draws, with P % chance, one of the faults nak,\n"
                              "      crc-errado, lixo or corta for itself or its answer (seed default 1)"},
};

bool Inteiro(const std::string& v, int min, int max, int& out) {
  if (v.empty()) return false;
  char* fim = nullptr;
  long n = std::strtol(v.c_str(), &fim, 10);
  if (*fim || n < min || n > max) return false;
  out = static_cast<int>(n);
  return true;
}

bool LeFalha(const std::string& v, Falha& f) {
  auto arroba = v.find('@');
  int n = 0;
  if (!Inteiro(v.substr(0, arroba), 0, 1000000, n)) return false;
  f.restantes = f.total = n;
  f.comando = arroba == std::string::npos ? "" : v.substr(arroba + 1);
  return true;
}

bool LeItem(const std::string& texto, ItemOperador& item) {
  struct Nome {
    const char* nome;
    AcaoOperador acao;
    int codigo;
  };
  static constexpr Nome kNomes[] = {
      {"OK", AcaoOperador::Tecla, 0},           {"F1", AcaoOperador::Tecla, 4},
      {"F2", AcaoOperador::Tecla, 5},           {"F3", AcaoOperador::Tecla, 6},
      {"F4", AcaoOperador::Tecla, 7},           {"BACKSP", AcaoOperador::Tecla, 8},
      {"CANCEL", AcaoOperador::Tecla, 13},      {"CARTAO", AcaoOperador::CartaoMagnetico, 0},
      {"CHIP", AcaoOperador::CartaoChip, 0},    {"RETIRA", AcaoOperador::RetiraCartao, 0},
  };
  std::string nome = texto;
  item.atrasoMs = -1;
  auto dp = texto.find(':');
  if (dp != std::string::npos) {
    nome = texto.substr(0, dp);
    if (!Inteiro(texto.substr(dp + 1), 0, 3600000, item.atrasoMs)) return false;
  }
  for (auto& c : nome) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  for (const auto& n : kNomes) {
    if (nome == n.nome) {
      item.acao = n.acao;
      item.codigo = n.codigo;
      item.nome = n.nome;
      return true;
    }
  }
  return false;
}

std::string Apara(const std::string& s) {
  size_t a = s.find_first_not_of(" \t\r\n");
  if (a == std::string::npos) return "";
  size_t b = s.find_last_not_of(" \t\r\n");
  return s.substr(a, b - a + 1);
}

}  // namespace

const char* NomeTecla(int codigo) {
  switch (codigo) {
    case 0: return "OK";
    case 4: return "F1";
    case 5: return "F2";
    case 6: return "F3";
    case 7: return "F4";
    case 8: return "BACKSP";
    case 13: return "CANCEL";
    default: return "?";
  }
}

bool InterpretaTeclas(const std::string& lista, std::vector<ItemOperador>& itens, std::string& erro) {
  itens.clear();
  size_t p = 0;
  while (p <= lista.size()) {
    size_t v = lista.find(',', p);
    std::string parte = Apara(lista.substr(p, v == std::string::npos ? std::string::npos : v - p));
    if (!parte.empty()) {
      ItemOperador item;
      if (!LeItem(parte, item)) {
        erro = "unknown operator action: " + parte;
        return false;
      }
      itens.push_back(item);
    }
    if (v == std::string::npos) break;
    p = v + 1;
  }
  return true;
}

bool AplicaOpcao(ConfigSim& cfg, const std::string& nome, const std::string& valor, std::string& erro) {
  auto ruim = [&] {
    erro = "bad value for --" + nome + ": " + valor;
    return false;
  };
  auto sim = [&] { return valor.empty() || valor == "1" || valor == "sim" || valor == "yes" || valor == "true"; };
  if (nome == "link") cfg.link = valor;
  else if (nome == "log") cfg.log = valor;
  else if (nome == "versao") cfg.versao = valor;
  else if (nome == "info") cfg.info = valor;
  else if (nome == "tam-info") { if (!Inteiro(valor, 0, 999, cfg.tamInfo)) return ruim(); }
  else if (nome == "fabricante") cfg.fabricante = valor;
  else if (nome == "modelo") cfg.modelo = valor;
  else if (nome == "serie") cfg.serie = valor;
  else if (nome == "chave") {
    auto ig = valor.find('=');
    int i = 0;
    std::string bytes;
    if (ig == std::string::npos || !Inteiro(valor.substr(0, ig), 0, 99, i) ||
        !HexParaBytes(valor.substr(ig + 1), bytes) ||
        (bytes.size() != 8 && bytes.size() != 16 && bytes.size() != 24))
      return ruim();
    Limpa(cfg.chaves[i]);
    cfg.chaves[i] = bytes;
    Limpa(bytes);
  } else if (nome == "sem-chave") {
    int i = 0;
    if (!Inteiro(valor, 0, 99, i)) return ruim();
    Limpa(cfg.chaves[i]);
  } else if (nome == "teclas") {
    if (!InterpretaTeclas(valor, cfg.teclas, erro)) return false;
  } else if (nome == "tecla-padrao") {
    std::string v = valor;
    for (auto& c : v) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (v == "NENHUMA") cfg.temTeclaPadrao = false;
    else if (LeItem(v, cfg.teclaPadrao)) cfg.temTeclaPadrao = true;
    else return ruim();
  } else if (nome == "atraso-tecla") { if (!Inteiro(valor, 0, 3600000, cfg.atrasoTeclaMs)) return ruim(); }
  else if (nome == "interativo") cfg.interativo = sim();
  else if (nome == "senha") {
    if (valor.size() < 4 || valor.size() > 12 || valor.find_first_not_of("0123456789") != std::string::npos)
      return ruim();
    cfg.senha = valor;
  } else if (nome == "pan") {
    if (valor.empty() || valor.size() > 19 || valor.find_first_not_of("0123456789") != std::string::npos)
      return ruim();
    cfg.pan = valor;
  } else if (nome == "nome") cfg.nome = valor;
  else if (nome == "validade") {
    if (valor.size() != 4 || valor.find_first_not_of("0123456789") != std::string::npos) return ruim();
    cfg.validade = valor;
  } else if (nome == "cartao-chip") cfg.cartaoChip = sim();
  else if (nome == "sc5000") cfg.sc5000 = sim();
  else if (nome == "baud") { if (!Inteiro(valor, 0, 4000000, cfg.baud)) return ruim(); }
  else if (nome == "lento") { if (!Inteiro(valor, 0, 3600000, cfg.lentoMs)) return ruim(); }
  else if (nome == "nak") { if (!LeFalha(valor, cfg.nak)) return ruim(); }
  else if (nome == "sem-ack") { if (!LeFalha(valor, cfg.semAck)) return ruim(); }
  else if (nome == "crc-errado") { if (!LeFalha(valor, cfg.crcErrado)) return ruim(); }
  else if (nome == "lixo") { if (!LeFalha(valor, cfg.lixo)) return ruim(); }
  else if (nome == "corta") { if (!LeFalha(valor, cfg.corta)) return ruim(); }
  else if (nome == "mudo") { if (!LeFalha(valor, cfg.mudo)) return ruim(); }
  else if (nome == "fecha") { if (!Inteiro(valor, 0, 1000000, cfg.fechaNoQuadro)) return ruim(); }
  else if (nome == "some") { if (!Inteiro(valor, 0, 1000000, cfg.someNoQuadro)) return ruim(); }
  else if (nome == "volta") { if (!Inteiro(valor, 0, 3600000, cfg.voltaMs)) return ruim(); }
  else if (nome == "aleatorio") {
    const auto dp = valor.find(':');
    int semente = 1;
    if (!Inteiro(valor.substr(0, dp), 0, 100, cfg.aleatorioPct)) return ruim();
    if (dp != std::string::npos && !Inteiro(valor.substr(dp + 1), 0, 2147483647, semente)) return ruim();
    cfg.semente = static_cast<unsigned>(semente);
  }
  else {
    erro = "unknown option --" + nome;
    return false;
  }
  return true;
}

bool CarregaPerfil(ConfigSim& cfg, const std::string& caminho, std::string& erro) {
  std::ifstream in(caminho);
  if (!in) {
    erro = "cannot read profile " + caminho;
    return false;
  }
  std::string linha;
  int num = 0;
  while (std::getline(in, linha)) {
    ++num;
    linha = Apara(linha);
    if (linha.empty() || linha[0] == '#' || linha[0] == ';' || linha[0] == '[') continue;
    auto ig = linha.find('=');
    std::string nome = Apara(linha.substr(0, ig));
    std::string valor = ig == std::string::npos ? "" : Apara(linha.substr(ig + 1));
    if (valor.size() >= 2 && valor.front() == '"' && valor.back() == '"') valor = valor.substr(1, valor.size() - 2);
    if (nome == "perfil" || !AplicaOpcao(cfg, nome, valor, erro)) {
      erro = caminho + ":" + std::to_string(num) + ": " + (erro.empty() ? "bad line" : erro);
      return false;
    }
  }
  return true;
}

int InterpretaArgumentos(int argc, char** argv, ConfigSim& cfg, std::string& mensagem) {
  HexParaBytes("0123456789ABCDEFFEDCBA9876543210", cfg.chaves[2]);
  HexParaBytes("0123456789ABCDEF", cfg.chaves[8]);
  // The profile goes first so that flags override it.
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    std::string caminho;
    if (a.rfind("--perfil=", 0) == 0) caminho = a.substr(9);
    else if (a == "--perfil" && i + 1 < argc) caminho = argv[i + 1];
    else continue;
    if (!CarregaPerfil(cfg, caminho, mensagem)) return 2;
  }
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a.rfind("--", 0) != 0) {
      mensagem = "unexpected argument: " + a;
      return 2;
    }
    std::string nome = a.substr(2), valor;
    bool temValor = false;
    if (auto ig = nome.find('='); ig != std::string::npos) {
      valor = nome.substr(ig + 1);
      nome = nome.substr(0, ig);
      temValor = true;
    }
    const Opcao* op = nullptr;
    for (const auto& o : kOpcoes)
      if (nome == o.nome) op = &o;
    if (!op) {
      mensagem = "unknown option --" + nome + " (see --help)";
      return 2;
    }
    if (nome == "help") {
      mensagem = TextoAjuda();
      return 1;
    }
    if (nome == "version") {
      mensagem = "simpinpad " PINPAD_VERSAO "\n";
      return 1;
    }
    if (op->valor && !temValor) {
      if (i + 1 >= argc) {
        mensagem = "--" + nome + " needs a value";
        return 2;
      }
      valor = argv[++i];
    }
    if (nome == "perfil") continue;
    if (!AplicaOpcao(cfg, nome, valor, mensagem)) return 2;
  }
  return 0;
}

std::string TextoAjuda() {
  std::string s =
      "Usage: simpinpad [options]\n"
      "A pinpad on a pseudo-terminal. Prints the device path the library should open on\n"
      "the first line of standard output, then answers the framed protocol as a pinpad\n"
      "does until SIGINT or SIGTERM.\n\nOptions:\n";
  for (const auto& o : kOpcoes) {
    std::string esq = std::string("  --") + o.nome + (o.valor ? std::string(" ") + o.valor : "");
    if (esq.size() < 24) esq.resize(24, ' ');
    else esq += "\n" + std::string(24, ' ');
    std::string ajuda = o.ajuda;
    for (size_t p = 0; (p = ajuda.find("\n      ", p)) != std::string::npos; p += 25)
      ajuda.replace(p, 7, "\n" + std::string(24, ' '));
    s += esq + ajuda + "\n";
  }
  s +=
      "\nHow it answers:\n"
      "  Blocking commands are answered right after the ACK; start commands (GKY, GPN,\n"
      "  GCR, CKE, GOC, RMC, GEN) when the operator acts, with an \"NTM\" notification\n"
      "  first where a pinpad prompts (\"DIGITE A SENHA\", \"INSIRA OU PASSE O CARTAO\").\n"
      "  CAN is answered with EOT and drops what was pending; NAK resends the last answer.\n"
      "  ENB: the working key is decrypted under the master key of the index, then the\n"
      "  data block encrypted under it: mode 1 triple DES (32-hex working key), mode 0\n"
      "  single DES (first 16 hex digits of the working key, first 8 bytes of the master\n"
      "  key). An index without a key, or a malformed request, answers 011.\n"
      "\nFaults are counted down as they strike; each use is logged.\n"
      "\nLog format (one line per event, flushed at once):\n"
      "  SECONDS DIR KIND [HEX] |PRINTABLE|\n"
      "  SECONDS  time since start, 6 decimals\n"
      "  DIR      RX = received from the library, TX = sent to it, -- = event of the pinpad\n"
      "  KIND     QUADRO (framed command or answer), SC5000, ACK, NAK, EOT, CAN, LIXO (bytes\n"
      "           outside any frame), RUIM (frame with a bad check), CORTADO (half frame);\n"
      "           events: INICIO, DISPLAY |line 1|line 2|, OPERADOR key, FALHA name n/N,\n"
      "           FIM\n"
      "  HEX      the bytes in upper-case hexadecimal separated by blanks\n"
      "  PRINTABLE the same bytes, 0x20-0x7E as they are and '.' for the others\n";
  return s;
}

}  // namespace sim
