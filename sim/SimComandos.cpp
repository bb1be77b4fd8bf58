#include "sim/SimComandos.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <ctime>
#include <vector>

#include "sim/SimCripto.h"

namespace sim {

namespace {

std::string Ajusta(std::string_view s, size_t n) {
  std::string r(s.substr(0, n));
  r.resize(n, ' ');
  return r;
}

// Length digits followed by the text blank-padded to its maximum.
std::string ComTamanho(std::string_view s, size_t max, int digitos) {
  char n[8];
  std::snprintf(n, sizeof n, "%0*zu", digitos, std::min(s.size(), max));
  return n + Ajusta(s, max);
}

int Digitos(std::string_view s, size_t pos, size_t n) {
  if (pos + n > s.size()) return -1;
  int v = 0;
  for (size_t i = pos; i < pos + n; ++i) {
    if (s[i] < '0' || s[i] > '9') return -1;
    v = v * 10 + (s[i] - '0');
  }
  return v;
}

std::string Ksn(int indice) {
  char s[32];
  std::snprintf(s, sizeof s, "FFFF98765432%02d%06X", indice % 100, 1);
  return s;
}

// Values the simulated card and terminal give for the tags they know.
struct ValorTag {
  const char* tag;
  const char* valor;  // hex; nullptr: computed from the configuration
};
constexpr ValorTag kTags[] = {
    {"4F", "A0000000031010"}, {"50", "53494D20435245444954"}, {"57", nullptr}, {"5A", nullptr},
    {"5F20", nullptr}, {"5F24", nullptr}, {"5F28", "0076"}, {"5F2A", "0986"}, {"5F34", "00"},
    {"82", "5800"}, {"84", "A0000000031010"}, {"8C", "9F02069F03069F1A0295055F2A029A039C019F3704"},
    {"8D", "8A029F02069F03069F1A0295055F2A029A039C019F3704"}, {"8E", "000000000000000042031E031F00"},
    {"8F", "05"}, {"95", "0000008000"}, {"9A", nullptr}, {"9B", "E800"}, {"9C", "00"},
    {"9F02", "000000001000"}, {"9F03", "000000000000"}, {"9F06", "A0000000031010"}, {"9F07", "FF00"},
    {"9F09", "008C"}, {"9F0D", "B860BC8800"}, {"9F0E", "0010000000"}, {"9F0F", "B860BC9800"},
    {"9F10", "06010A03A00000"}, {"9F1A", "0076"}, {"9F1B", "00000000"}, {"9F21", nullptr},
    {"9F26", "8A1C3F0E5D2B7A94"}, {"9F27", "80"}, {"9F33", "E0F8C8"}, {"9F34", "420300"},
    {"9F35", "22"}, {"9F36", "0001"}, {"9F37", "12345678"}, {"9F40", "7000B0A001"},
    {"9F41", "00000001"},
};

std::string ValorDinamico(const ConfigSim& cfg, std::string_view tag) {
  if (tag == "5A") {
    std::string v = cfg.pan;
    if (v.size() % 2) v += 'F';
    return v;
  }
  if (tag == "57") {
    std::string v = cfg.pan + "D" + cfg.validade + cfg.codigoServico + "0000000";
    if (v.size() % 2) v += 'F';
    return v;
  }
  if (tag == "5F20") return BytesParaHex(cfg.nome.substr(0, 26));
  if (tag == "5F24") return cfg.validade + "31";
  std::time_t t = std::time(nullptr);
  std::tm tm{};
  localtime_r(&t, &tm);
  char s[64];
  if (tag == "9A") std::snprintf(s, sizeof s, "%02d%02d%02d", tm.tm_year % 100, tm.tm_mon + 1, tm.tm_mday);
  else std::snprintf(s, sizeof s, "%02d%02d%02d", tm.tm_hour, tm.tm_min, tm.tm_sec);
  return s;
}

// Tags of a list "NNN" + hex, split by the rule that a first byte whose low five
// bits are all set starts a two-byte tag.
std::vector<std::string> TagsDaLista(std::string_view lista) {
  std::vector<std::string> tags;
  int n = Digitos(lista, 0, 3);
  if (n <= 0) return tags;
  std::string_view hex = lista.substr(3, static_cast<size_t>(2 * n));
  size_t p = 0;
  while (p + 2 <= hex.size()) {
    std::string b;
    if (!HexParaBytes(hex.substr(p, 2), b)) break;
    size_t tam = ((static_cast<unsigned char>(b[0]) & 0x1F) == 0x1F) ? 4 : 2;
    if (p + tam > hex.size()) break;
    std::string t(hex.substr(p, tam));
    for (auto& c : t) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    tags.push_back(t);
    p += tam;
  }
  return tags;
}

std::string Pinblock(const ConfigSim& cfg, int indice, bool triplo, std::string_view chaveTrabalhoHex,
                     std::string_view pan, int& status) {
  status = 11;
  if (indice < 0 || indice > 99 || cfg.chaves[indice].empty()) return {};
  std::string mestra = cfg.chaves[indice];
  if (!triplo) mestra = mestra.substr(0, 8);
  std::string wk = std::string(chaveTrabalhoHex.substr(0, triplo ? 32 : 16));
  std::string chave;
  if (wk.find_first_not_of(" 0") == std::string::npos) {
    chave = mestra;
  } else {
    std::string cifrada;
    if (!HexParaBytes(wk, cifrada) || !CifraDes(mestra, cifrada, false, chave)) {
      Limpa(mestra);
      return {};
    }
    Limpa(cifrada);
  }
  std::string pb = PinBlockCifrado(cfg.senha, pan, chave);
  Limpa(mestra);
  Limpa(chave);
  if (!pb.empty()) status = 0;
  return pb;
}

}  // namespace

std::string BlocoInformacao(const ConfigSim& cfg) {
  std::string b = cfg.info;
  if (b.empty())
    b = Ajusta(cfg.fabricante, 20) + Ajusta(cfg.modelo, 19) + "0" + Ajusta(cfg.firmware, 20) +
        Ajusta(cfg.versao, 4) + Ajusta("SIMPINPAD APP", 16) + Ajusta(cfg.serie, 20);
  if (cfg.tamInfo >= 0) b.resize(static_cast<size_t>(cfg.tamInfo), ' ');
  return b;
}

int RespostaEnb(const ConfigSim& cfg, std::string_view pedido, std::string& saida) {
  saida.clear();
  int indice = Digitos(pedido, 1, 2);
  if (pedido.size() != 51 || indice < 0 || cfg.chaves[indice].empty()) return 11;
  return CalculaEnb(pedido[0], cfg.chaves[indice], pedido.substr(3, 32), pedido.substr(35, 16), saida);
}

bool PedidoGpnValido(std::string_view pedido, std::string& mensagem) {
  mensagem.clear();
  int indice = Digitos(pedido, 1, 2), tamPan = Digitos(pedido, 35, 2), entradas = Digitos(pedido, 56, 1);
  if (pedido.size() < 57 || indice < 0 || tamPan < 0 || tamPan > 19 || entradas < 0 ||
      pedido.size() < 57 + 36 * static_cast<size_t>(entradas) || pedido[0] < '0' || pedido[0] > '3')
    return false;
  if (entradas > 0) {
    std::string m(pedido.substr(61, 32));
    while (!m.empty() && m.back() == ' ') m.pop_back();
    mensagem = m;
  }
  return true;
}

int RespostaGpn(const ConfigSim& cfg, std::string_view pedido, std::string& saida) {
  saida.clear();
  std::string mensagem;
  if (!PedidoGpnValido(pedido, mensagem)) return 11;
  const char metodo = pedido[0];
  const int indice = Digitos(pedido, 1, 2), tamPan = Digitos(pedido, 35, 2);
  int status = 11;
  std::string pb = Pinblock(cfg, indice, metodo == '1' || metodo == '3', pedido.substr(3, 32),
                            pedido.substr(37, static_cast<size_t>(tamPan)), status);
  if (status != 0) return status;
  saida = pb + (metodo >= '2' ? Ksn(indice) : std::string(20, '0'));
  return 0;
}

int RespostaGdu(const ConfigSim& cfg, std::string_view pedido, std::string& saida) {
  saida.clear();
  int indice = Digitos(pedido, 1, 2);
  if (pedido.size() != 3 || indice < 0 || cfg.chaves[indice].empty()) return 11;
  saida = Ksn(indice);
  return 0;
}

std::string Trilha1(const ConfigSim& cfg) {
  return "B" + cfg.pan + "^" + cfg.nome.substr(0, 26) + "^" + cfg.validade + cfg.codigoServico + "0000000000";
}

std::string Trilha2(const ConfigSim& cfg) { return cfg.pan + "=" + cfg.validade + cfg.codigoServico + "00000"; }

static std::string Trilhas(const ConfigSim& cfg) {
  return ComTamanho(Trilha1(cfg), 76, 2) + ComTamanho(Trilha2(cfg), 37, 2) + ComTamanho("", 104, 3);
}

std::string RespostaGcr(const ConfigSim& cfg, bool chip) {
  std::string val = cfg.validade + "31";
  return std::string(chip ? "03" : "00") + "0" + "99" + "01" + "01" + Trilhas(cfg) +
         ComTamanho(cfg.pan, 19, 2) + "00" + Ajusta("SIM CREDITO", 16) + cfg.codigoServico + Ajusta(cfg.nome, 26) +
         val;
}

std::string EventoCke(const ConfigSim& cfg, const ItemOperador& item) {
  switch (item.acao) {
    case AcaoOperador::Tecla: {
      char s[8];
      std::snprintf(s, sizeof s, "0%02d", item.codigo);
      return s;
    }
    case AcaoOperador::CartaoMagnetico: {
      // Appended rather than prefixed: prefixing a literal to a temporary string
      // inserts at its front, which g++ 12 at -O3 misreads as an overlapping copy.
      std::string evento = "1";
      evento += Trilhas(cfg);
      return evento;
    }
    case AcaoOperador::CartaoChip: return "21";
    case AcaoOperador::RetiraCartao: return "20";
  }
  return {};
}

std::string CampoTlv(const ConfigSim& cfg, std::string_view tags, std::string_view tagsOpt) {
  std::vector<std::string> lista = TagsDaLista(tags);
  for (auto& t : TagsDaLista(tagsOpt)) lista.push_back(t);
  std::string hex;
  std::vector<std::string> vistos;
  for (const auto& t : lista) {
    bool repetido = false;
    for (const auto& v : vistos) repetido = repetido || v == t;
    if (repetido) continue;
    vistos.push_back(t);
    for (const auto& k : kTags) {
      if (t != k.tag) continue;
      std::string v = k.valor ? k.valor : ValorDinamico(cfg, t);
      size_t n = v.size() / 2;
      char l[32];
      if (n < 0x80) std::snprintf(l, sizeof l, "%02zX", n);
      else std::snprintf(l, sizeof l, "81%02zX", n);
      hex += t + l + v;
    }
  }
  char c[32];
  std::snprintf(c, sizeof c, "%03zu", hex.size() / 2);
  return c + hex;
}

std::string RespostaGoc(const ConfigSim& cfg, std::string_view tags, std::string_view tagsOpt) {
  int status = 0;
  std::string pb = Pinblock(cfg, 2, true, "", cfg.pan, status);
  if (pb.empty()) pb = std::string(16, '0');
  return "200001" + pb + std::string(20, '0') + CampoTlv(cfg, tags, tagsOpt) + "000";
}

std::string RespostaFnc(const ConfigSim& cfg, std::string_view tags) {
  std::string resposta = "0";
  resposta += CampoTlv(cfg, tags, "");
  resposta += "00";
  resposta += "000";
  return resposta;
}

int RespostaChp(std::string_view pedido, std::string& saida) {
  saida.clear();
  if (pedido.size() < 5) return 11;
  switch (pedido[1]) {
    case '0': saida = "000"; return 0;
    case '1': saida = "0123B6800000073C84013009000"; return 0;
    case '2':
    case '3': saida = "0029000"; return 0;
    default: return 11;
  }
}

void TextoParaDisplay(std::string_view texto, bool quebraCr, std::string linhas[2]) {
  std::string_view l1 = texto, l2;
  size_t cr = quebraCr ? texto.find('\r') : std::string_view::npos;
  if (cr != std::string_view::npos) {
    l1 = texto.substr(0, cr);
    l2 = texto.substr(cr + 1);
    if (size_t cr2 = l2.find('\r'); cr2 != std::string_view::npos) l2 = l2.substr(0, cr2);
  } else if (texto.size() > 16) {
    l1 = texto.substr(0, 16);
    l2 = texto.substr(16);
  }
  linhas[0] = Ajusta(l1, 16);
  linhas[1] = Ajusta(l2, 16);
}

}  // namespace sim
