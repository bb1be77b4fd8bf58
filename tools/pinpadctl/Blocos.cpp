#include "tools/pinpadctl/Blocos.h"

#include <cctype>
#include <cstring>

namespace pinpadctl {

namespace {

std::string Campo(std::string_view s, size_t pos, size_t n) {
  if (pos >= s.size()) return {};
  std::string r(s.substr(pos, n));
  while (!r.empty() && (r.back() == ' ' || r.back() == '\0')) r.pop_back();
  return r;
}

// Value of a fixed-width decimal count; -1 when it is not all digits.
int Contagem(std::string_view s, size_t pos, size_t n) {
  if (pos + n > s.size()) return -1;
  int v = 0;
  for (size_t i = pos; i < pos + n; ++i) {
    if (s[i] < '0' || s[i] > '9') return -1;
    v = v * 10 + (s[i] - '0');
  }
  return v;
}

// Count-prefixed field: `digitos` length digits, then `maximo` bytes of which
// the count are the data.
std::string CampoContado(std::string_view s, size_t pos, size_t digitos, size_t maximo) {
  int n = Contagem(s, pos, digitos);
  if (n < 0) return {};
  size_t tam = static_cast<size_t>(n) < maximo ? static_cast<size_t>(n) : maximo;
  if (pos + digitos >= s.size()) return {};
  return std::string(s.substr(pos + digitos, tam));
}

unsigned char Maiuscula(unsigned char c) {
  if (c >= 'a' && c <= 'z') return c - 0x20;
  if ((c >= 0xE0 && c <= 0xE5) || (c >= 0xE7 && c <= 0xEF) || (c >= 0xF1 && c <= 0xF6) || (c >= 0xF9 && c <= 0xFD))
    return c - 0x20;
  return c;
}

std::string SoDigitos(std::string_view s) {
  std::string d;
  for (char c : s)
    if (c >= '0' && c <= '9') d.push_back(c);
  return d;
}

// "YYMM..." -> "MM/YY"; "" when not digits.
std::string Validade(std::string_view aamm) {
  if (aamm.size() < 4 || Contagem(aamm, 0, 4) < 0) return {};
  return std::string(aamm.substr(2, 2)) + "/" + std::string(aamm.substr(0, 2));
}

// Number, name and expiry from track 2 ("PAN=YYMM...") or track 1
// ("B" PAN "^" NAME "^" YYMM...). Only what may be shown leaves this function;
// the local copies are wiped.
void DasTrilhas(std::string t1, std::string t2, CartaoVisivel& c) {
  std::string pan;
  if (auto sep = t2.find_first_of("=D"); sep != std::string::npos && sep > 0) {
    pan = t2.substr(0, sep);
    if (c.validade.empty()) c.validade = Validade(std::string_view(t2).substr(sep + 1));
  }
  auto a = t1.find('^');
  auto b = a == std::string::npos ? a : t1.find('^', a + 1);
  if (a != std::string::npos) {
    const size_t inicio = !t1.empty() && std::isalpha(static_cast<unsigned char>(t1[0])) ? 1 : 0;
    if (pan.empty() && a >= inicio) pan = t1.substr(inicio, a - inicio);
    if (b != std::string::npos) {
      if (c.nome.empty()) {
        c.nome = t1.substr(a + 1, b - a - 1);
        while (!c.nome.empty() && c.nome.back() == ' ') c.nome.pop_back();
      }
      if (c.validade.empty()) c.validade = Validade(std::string_view(t1).substr(b + 1));
    }
  }
  if (c.pan_mascarado.empty() && !pan.empty()) c.pan_mascarado = MascaraPan(pan);
  Apaga(pan.data(), pan.size());
  Apaga(t1.data(), t1.size());
  Apaga(t2.data(), t2.size());
}

// Offsets of the card answer.
constexpr size_t PosTrilha1 = 9, PosTrilha2 = PosTrilha1 + 2 + 76, PosTrilha3 = PosTrilha2 + 2 + 37,
                 PosPan = PosTrilha3 + 3 + 104, PosRotulo = PosPan + 2 + 19 + 2, PosNome = PosRotulo + 16 + 3,
                 PosValidade = PosNome + 26;

}  // namespace

Informacao LeInformacao(std::string_view bloco) {
  Informacao i;
  i.fabricante = Campo(bloco, 0, 20);
  i.modelo = Campo(bloco, 20, 19);
  i.sem_contato = Campo(bloco, 39, 1);
  i.firmware = Campo(bloco, 40, 20);
  i.versao = bloco.size() > 60 ? std::string(bloco.substr(60, 4)) : std::string();
  i.aplicacao = Campo(bloco, 64, 16);
  i.serie = Campo(bloco, 80, 20);
  return i;
}

bool KolvarAplicaTeste(std::string_view versao) {
  static constexpr char Limite[] = "1.07";
  for (size_t k = 0; k < 4; ++k) {
    auto a = static_cast<unsigned char>(k < versao.size() ? versao[k] : '\0');
    auto b = static_cast<unsigned char>(Limite[k]);
    if (Maiuscula(a) != Maiuscula(b)) return a < b;
  }
  return false;
}

std::string MascaraPan(std::string_view pan) {
  std::string d = SoDigitos(pan);
  std::string r(d.size(), '*');
  const size_t n = d.size();
  if (n > 12) {
    for (size_t i = 0; i < 6; ++i) r[i] = d[i];
    for (size_t i = n - 4; i < n; ++i) r[i] = d[i];
  } else if (n > 4) {
    for (size_t i = n - 4; i < n; ++i) r[i] = d[i];
  }
  Apaga(d.data(), d.size());
  return r;
}

bool LeCartao(std::string_view resposta, CartaoVisivel& c) {
  c = CartaoVisivel{};
  if (resposta.size() < PosTrilha1) return false;
  std::string tipo(resposta.substr(0, 2));
  c.tipo = tipo == "00" ? "magnetico" : tipo == "03" ? "chip" : tipo == "05" || tipo == "06" ? "sem contato" : tipo;
  std::string pan = CampoContado(resposta, PosPan, 2, 19);
  c.pan_mascarado = MascaraPan(pan);
  Apaga(pan.data(), pan.size());
  c.rotulo = Campo(resposta, PosRotulo, 16);
  c.nome = Campo(resposta, PosNome, 26);
  if (resposta.size() >= PosValidade + 4) c.validade = Validade(resposta.substr(PosValidade, 4));
  DasTrilhas(CampoContado(resposta, PosTrilha1, 2, 76), CampoContado(resposta, PosTrilha2, 2, 37), c);
  return !c.pan_mascarado.empty();
}

bool LeTrilhasEvento(std::string_view trilhas, CartaoVisivel& c) {
  c = CartaoVisivel{};
  c.tipo = "magnetico";
  DasTrilhas(CampoContado(trilhas, 0, 2, 76), CampoContado(trilhas, 78, 2, 37), c);
  return !c.pan_mascarado.empty();
}

const char* NomeTecla(int codigo) {
  switch (codigo) {
    case 0: return "OK";
    case 4: return "F1";
    case 5: return "F2";
    case 6: return "F3";
    case 7: return "F4";
    case 8: return "BACKSP";
    case 13: return "CANCEL";
    default: return "";
  }
}

void Apaga(void* p, size_t n) {
  if (p && n) explicit_bzero(p, n);
}

}  // namespace pinpadctl
