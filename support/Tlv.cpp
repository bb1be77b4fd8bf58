#include "support/Tlv.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <iterator>

#include "support/FuncoesArquivo.h"
#include "support/FuncoesString.h"

namespace {

struct EntradaTag {
  uint16_t tag;
  int8_t formato;
  int8_t tamanhoFixo;
};

// Tags not listed are format 0 with no fixed length.
constexpr EntradaTag kDicionario[] = {
    // 1: alphanumeric
    {0x50, 1, -1}, {0x5F20, 1, -1}, {0x5F2D, 1, -1}, {0x9F0B, 1, -1}, {0x9F12, 1, -1}, {0x9F1F, 1, -1},
    {0x9F53, 1, 1}, {0x8A, 1, 2}, {0x89, 1, 6}, {0x9F1C, 1, 8}, {0x9F1E, 1, 8}, {0x9F16, 1, 15},
    // 2: binary
    {0x4F, 2, -1}, {0x52, 2, -1}, {0x57, 2, -1}, {0x83, 2, -1}, {0x84, 2, -1}, {0x86, 2, -1}, {0x8C, 2, -1},
    {0x8D, 2, -1}, {0x8E, 2, -1}, {0x90, 2, -1}, {0x91, 2, -1}, {0x92, 2, -1}, {0x93, 2, -1}, {0x97, 2, -1},
    {0x99, 2, -1}, {0x9D, 2, -1}, {0x9F05, 2, -1}, {0x9F06, 2, -1}, {0x9F10, 2, -1}, {0x9F1D, 2, -1},
    {0x9F2D, 2, -1}, {0x9F2E, 2, -1}, {0x9F2F, 2, -1}, {0x9F32, 2, -1}, {0x9F38, 2, -1}, {0x9F46, 2, -1},
    {0x9F47, 2, -1}, {0x9F48, 2, -1}, {0x9F49, 2, -1}, {0x9F4A, 2, -1}, {0x9F4B, 2, -1}, {0x9F4C, 2, -1},
    {0x87, 2, 1}, {0x88, 2, 1}, {0x9F14, 2, 1}, {0x9F17, 2, 1}, {0x9F22, 2, 1}, {0x9F23, 2, 1}, {0x9F27, 2, 1},
    {0x82, 2, 2}, {0x9B, 2, 2}, {0x9F07, 2, 2}, {0x9F08, 2, 2}, {0x9F09, 2, 2}, {0x9F13, 2, 2}, {0x9F36, 2, 2},
    {0x9F45, 2, 2}, {0x9F33, 2, 3}, {0x9F34, 2, 3}, {0x81, 2, 4}, {0x9F04, 2, 4}, {0x9F18, 2, 4},
    {0x9F1B, 2, 4}, {0x9F37, 2, 4}, {0x9F3A, 2, 4}, {0x95, 2, 5}, {0x9F0D, 2, 5}, {0x9F0E, 2, 5},
    {0x9F0F, 2, 5}, {0x9F40, 2, 5}, {0x9F26, 2, 8}, {0x98, 2, 20},
    // 3: numeric
    {0x9F3B, 3, -1}, {0x9F41, 3, -1}, {0x9F43, 3, -1}, {0x8F, 3, 1}, {0x9C, 3, 1}, {0x5F34, 3, 1},
    {0x5F36, 3, 1}, {0x9F11, 3, 1}, {0x9F35, 3, 1}, {0x9F39, 3, 1}, {0x9F3D, 3, 1}, {0x9F44, 3, 1},
    {0x5F28, 3, 2}, {0x5F2A, 3, 2}, {0x5F30, 3, 2}, {0x9F15, 3, 2}, {0x9F1A, 3, 2}, {0x9F3C, 3, 2},
    {0x9F42, 3, 2}, {0x9A, 3, 3}, {0x5F24, 3, 3}, {0x5F25, 3, 3}, {0x9F21, 3, 3}, {0x9F01, 3, 6},
    {0x9F02, 3, 6}, {0x9F03, 3, 6},
    // 4: compressed numeric
    {0x5A, 4, -1}, {0x9F20, 4, -1},
    // 5: templates
    {0x61, 5, -1}, {0x6F, 5, -1}, {0x70, 5, -1}, {0x71, 5, -1}, {0x72, 5, -1}, {0x77, 5, -1}, {0x80, 5, -1},
    {0xA5, 5, -1},
    // 6: other constructed or proprietary
    {0x73, 6, -1}, {0x94, 6, -1}, {0xBF0C, 6, -1},
};

// The same entries in tag order, for a binary search: tags are looked up for
// every field a walk over TLV data meets.
constexpr auto kPorTag = [] {
  std::array<EntradaTag, std::size(kDicionario)> a{};
  std::copy(std::begin(kDicionario), std::end(kDicionario), a.begin());
  std::sort(a.begin(), a.end(), [](const EntradaTag& x, const EntradaTag& y) { return x.tag < y.tag; });
  return a;
}();
static_assert(std::adjacent_find(kPorTag.begin(), kPorTag.end(),
                                 [](const EntradaTag& x, const EntradaTag& y) { return x.tag == y.tag; }) ==
                  kPorTag.end(),
              "a tag is listed twice");

const EntradaTag* Procura(uint32_t tag) {
  const auto e = std::lower_bound(kPorTag.begin(), kPorTag.end(), tag,
                                  [](const EntradaTag& x, uint32_t t) { return x.tag < t; });
  return e != kPorTag.end() && e->tag == tag ? &*e : nullptr;
}

// Bytes (binary) or characters (text) of one byte.
int Unidade(int texto) { return texto ? 2 : 1; }

// Byte number i from the position, 0 when it lies beyond `disponivel`.
unsigned ByteEm(const unsigned char* p, size_t disponivel, int texto, size_t i) {
  if (!texto) return i < disponivel ? p[i] : 0u;
  size_t c = 2 * i;
  unsigned alto = c < disponivel ? static_cast<unsigned>(HexDigitoValor(static_cast<char>(p[c]))) : 0u;
  unsigned baixo = c + 1 < disponivel ? static_cast<unsigned>(HexDigitoValor(static_cast<char>(p[c + 1]))) : 0u;
  return (alto << 4) | baixo;
}

// In text form an unbounded read stops at the string's end.
size_t Limite(const unsigned char* p, int texto, size_t disponivel) {
  if (texto && disponivel == SIZE_MAX) return strnlen(reinterpret_cast<const char*>(p), 8);
  return disponivel;
}

int LarguraTag(uint32_t tag, int texto) { return (tag > 0xFF ? 2 : 1) * Unidade(texto); }

void EscreveTag(unsigned char* p, uint32_t tag, int texto) {
  unsigned char bytes[2] = {static_cast<unsigned char>(tag >> 8), static_cast<unsigned char>(tag)};
  const unsigned char* b = tag > 0xFF ? bytes : bytes + 1;
  size_t n = tag > 0xFF ? 2 : 1;
  if (texto)
    BytesParaHex(reinterpret_cast<char*>(p), b, n);
  else
    memcpy(p, b, n);
}

// Reads the tag and the length field of the entry at *pos and moves *pos to
// its value. False when the data ends within the tag.
bool LeCabecalho(const unsigned char* dados, int tamanho, int texto, int* pos, uint32_t* tag, int32_t* len) {
  *tag = 0, *len = 0;
  *pos += TlvLeTag(dados + *pos, texto, tag, static_cast<size_t>(tamanho - *pos));
  if (*pos >= tamanho) return false;
  *pos += TlvLeTamanho(dados + *pos, texto, len, static_cast<size_t>(tamanho - *pos));
  return true;
}

int BuscaEm(unsigned char* dados, int tamanho, int texto, uint32_t tag, TlvLocal* local, int nivel) {
  int pos = 0;
  while (pos < tamanho) {
    const int inicio = pos;
    uint32_t t;
    int32_t len;
    if (!LeCabecalho(dados, tamanho, texto, &pos, &t, &len)) break;
    if (len > tamanho - pos) continue;  // overruns the end: read on from after its length field
    if (t == tag) {
      if (local != nullptr) *local = TlvLocal{pos + len - inicio, len, dados + inicio, dados + pos};
      return TLV_ENCONTRADO;
    }
    if (TagFormato(t) == 5 && nivel < TLV_MAX_NIVEIS &&
        BuscaEm(dados + pos, len, texto, tag, local, nivel + 1) == TLV_ENCONTRADO)
      return TLV_ENCONTRADO;
    pos += len;
  }
  return TLV_NAO_ENCONTRADO;
}

int Medida(const char* s) { return s == nullptr ? 0 : static_cast<int>(strnlen(s, INT32_MAX - 1)); }
unsigned char* U(char* s) { return reinterpret_cast<unsigned char*>(s); }

}  // namespace

int BitLigadoMsb(const unsigned char* bytes, int tamanho, int bit, int padrao) {
  if (bytes == nullptr || bit < 0 || bit / 8 >= tamanho) return padrao;
  return (bytes[bit / 8] >> (7 - bit % 8)) & 1;
}

int BitLigadoLsb(const unsigned char* bytes, int tamanho, int bit) {
  if (bytes == nullptr || bit < 0 || bit / 8 >= tamanho) return -1;
  return (bytes[bit / 8] >> (bit % 8)) & 1;
}

unsigned char TlvLeByte(const unsigned char* pos, int texto, int* contador, size_t disponivel) {
  if (contador != nullptr) *contador += Unidade(texto);
  if (pos == nullptr) return 0;
  return static_cast<unsigned char>(ByteEm(pos, Limite(pos, texto, disponivel), texto, 0));
}

int TlvLeTag(const unsigned char* pos, int texto, uint32_t* tag, size_t disponivel) {
  size_t lim = pos == nullptr ? 0 : Limite(pos, texto, disponivel);
  uint32_t t = ByteEm(pos, lim, texto, 0);
  int bytes = 1;
  if ((t & 0x1F) == 0x1F) {
    t = (t << 8) | ByteEm(pos, lim, texto, 1);
    bytes = 2;
  }
  if (tag != nullptr) *tag = t;
  return bytes * Unidade(texto);
}

int TlvLeTamanho(const unsigned char* pos, int texto, int32_t* tamanho, size_t disponivel) {
  size_t lim = pos == nullptr ? 0 : Limite(pos, texto, disponivel);
  unsigned primeiro = ByteEm(pos, lim, texto, 0);
  int32_t len = 0;
  int bytes = 0;
  if (primeiro < 0x80) {
    len = static_cast<int32_t>(primeiro), bytes = 1;
  } else if (primeiro == 0x81) {
    len = static_cast<int32_t>(ByteEm(pos, lim, texto, 1)), bytes = 2;
  } else if (primeiro == 0x82) {
    len = static_cast<int32_t>((ByteEm(pos, lim, texto, 1) << 8) | ByteEm(pos, lim, texto, 2)), bytes = 3;
  }
  if (tamanho != nullptr) *tamanho = len * Unidade(texto);
  return bytes * Unidade(texto);
}

int TagFormato(uint32_t tag) {
  const EntradaTag* e = Procura(tag);
  return e == nullptr ? 0 : e->formato;
}

int TagTamanhoFixo(uint32_t tag) {
  const EntradaTag* e = Procura(tag);
  return e == nullptr ? -1 : e->tamanhoFixo;
}

int TlvBusca(unsigned char* dados, int tamanho, int texto, uint32_t tag, TlvLocal* local) {
  if (dados == nullptr || tamanho < 1) return TLV_ERRO_DADOS;
  return BuscaEm(dados, tamanho, texto, tag, local, 0);
}

int TlvBusca(char* dados, uint32_t tag, TlvLocal* local) { return TlvBusca(U(dados), Medida(dados), 1, tag, local); }

unsigned char* TlvObtemValor(unsigned char* dados, int tamanho, int texto, uint32_t tag, int32_t* tamValor) {
  TlvLocal local{};
  if (TlvBusca(dados, tamanho, texto, tag, &local) != TLV_ENCONTRADO) return nullptr;
  if (tamValor != nullptr) *tamValor = local.tamanhoValor;
  return local.valor;
}

unsigned char* TlvObtemValor(char* dados, uint32_t tag, int32_t* tamValor) {
  return TlvObtemValor(U(dados), Medida(dados), 1, tag, tamValor);
}

char* TlvMontaCampo(char* saida, size_t tamSaida, uint32_t tag, int formato, int tamanhoFixo, const char* valor) {
  if (saida == nullptr || valor == nullptr) return nullptr;
  char area[128];  // the value as it goes into the entry
  size_t n = strlen(valor);
  size_t digitos = 0;  // hex digits of the value in the entry
  unsigned tamByte = 0;
  bool cabe = true;
  if (formato == 3 && tamanhoFixo >= 1) {
    size_t largura = 2 * static_cast<size_t>(tamanhoFixo);
    cabe = largura < sizeof area;
    if (cabe) {
      size_t zeros = n < largura ? largura - n : 0;
      memset(area, '0', zeros);
      memcpy(area + zeros, valor + (n > largura ? n - largura : 0), largura - zeros);
      digitos = largura, tamByte = static_cast<unsigned>(tamanhoFixo);
    }
  } else if (formato == 3) {
    size_t impar = n % 2;
    cabe = n + impar < sizeof area;
    if (cabe) {
      area[0] = '0';
      memcpy(area + impar, valor, n);
      digitos = n + impar, tamByte = static_cast<unsigned>(digitos / 2);
    }
  } else if (formato == 1) {
    size_t caracteres = tamanhoFixo >= 1 ? static_cast<size_t>(tamanhoFixo) : n;
    cabe = caracteres < sizeof area;
    if (cabe) {
      size_t copia = n < caracteres ? n : caracteres;
      memcpy(area, valor, copia);
      memset(area + copia, ' ', caracteres - copia);
      digitos = 2 * caracteres, tamByte = static_cast<unsigned>(caracteres);
    }
  } else {
    digitos = n, tamByte = static_cast<unsigned>(n / 2);
  }
  const size_t atual = strnlen(saida, tamSaida);
  const size_t largTag = tag > 0xFF ? 4 : 2;
  cabe = cabe && tamByte <= 127 && atual < tamSaida && tamSaida - atual > largTag + 2 + digitos;
  if (cabe) {
    char* p = saida + atual;
    unsigned char t[2] = {static_cast<unsigned char>(tag >> 8), static_cast<unsigned char>(tag)};
    BytesParaHex(p, largTag == 4 ? t : t + 1, largTag / 2);
    p += largTag;
    unsigned char b = static_cast<unsigned char>(tamByte);
    BytesParaHex(p, &b, 1);
    p += 2;
    if (formato == 1)
      BytesParaHex(p, area, digitos / 2);
    else
      memcpy(p, formato == 3 ? area : valor, digitos);
    p[digitos] = '\0';
  }
  LimpaSegura(area, sizeof area);
  return cabe ? saida : nullptr;
}

char* TlvMontaCampoTag(char* saida, size_t tamSaida, uint32_t tag, const char* valor) {
  return TlvMontaCampo(saida, tamSaida, tag, TagFormato(tag), TagTamanhoFixo(tag), valor);
}

int TlvTrocaTag(unsigned char* dados, int tamanho, size_t capacidade, int texto, uint32_t tagVelha,
                uint32_t tagNova, int32_t* novoTamanho) {
  if (TagFormato(tagVelha) != TagFormato(tagNova)) return TLV_FORMATOS_DIFERENTES;
  TlvLocal local{};
  int r = TlvBusca(dados, tamanho, texto, tagVelha, &local);
  if (r != TLV_ENCONTRADO) return r;
  const int velha = LarguraTag(tagVelha, texto), nova = LarguraTag(tagNova, texto);
  const int diferenca = nova - velha;
  if (diferenca > 0 && static_cast<size_t>(tamanho) + static_cast<size_t>(diferenca) > capacidade)
    return TLV_SEM_ESPACO;
  unsigned char* resto = local.inicio + velha;
  memmove(resto + diferenca, resto, static_cast<size_t>(dados + tamanho - resto));
  EscreveTag(local.inicio, tagNova, texto);
  if (novoTamanho != nullptr) *novoTamanho = tamanho + diferenca;
  return TLV_ENCONTRADO;
}

int TlvTrocaTag(char* dados, size_t capacidade, uint32_t tagVelha, uint32_t tagNova, int32_t* novoTamanho) {
  int32_t novo = 0;
  if (capacidade == 0) return TLV_SEM_ESPACO;
  int r = TlvTrocaTag(U(dados), Medida(dados), capacidade - 1, 1, tagVelha, tagNova, &novo);
  if (r == TLV_ENCONTRADO && novo >= 0) dados[novo] = '\0';
  if (r == TLV_ENCONTRADO && novoTamanho != nullptr) *novoTamanho = novo;
  return r;
}

int TlvRemoveTag(unsigned char* dados, int tamanho, int texto, uint32_t tag, int32_t* novoTamanho) {
  TlvLocal local{};
  int r = TlvBusca(dados, tamanho, texto, tag, &local);
  if (r != TLV_ENCONTRADO) return r;
  unsigned char* depois = local.inicio + local.tamanhoTotal;
  memmove(local.inicio, depois, static_cast<size_t>(dados + tamanho - depois));
  if (novoTamanho != nullptr) *novoTamanho = tamanho - local.tamanhoTotal;
  return TLV_ENCONTRADO;
}

int TlvRemoveTag(char* dados, uint32_t tag, int32_t* novoTamanho) {
  int32_t novo = 0;
  int r = TlvRemoveTag(U(dados), Medida(dados), 1, tag, &novo);
  if (r == TLV_ENCONTRADO && novo >= 0) dados[novo] = '\0';
  if (r == TLV_ENCONTRADO && novoTamanho != nullptr) *novoTamanho = novo;
  return r;
}

int TlvRemoveVazios(unsigned char* dados, int tamanho, int texto, int32_t* novoTamanho) {
  if (dados == nullptr || tamanho < 1) return TLV_ERRO_DADOS;
  int pos = 0;
  while (pos < tamanho) {
    const int inicio = pos;
    uint32_t t;
    int32_t len;
    if (!LeCabecalho(dados, tamanho, texto, &pos, &t, &len)) break;
    if (len > tamanho - pos) break;  // overruns the end: left alone
    if (len == 0) {
      memmove(dados + inicio, dados + pos, static_cast<size_t>(tamanho - pos));
      tamanho -= pos - inicio;
      pos = inicio;
      continue;
    }
    pos += len;
  }
  if (novoTamanho != nullptr) *novoTamanho = tamanho;
  return 0;
}

int TlvRemoveVazios(char* dados, int32_t* novoTamanho) {
  int32_t novo = 0;
  int r = TlvRemoveVazios(U(dados), Medida(dados), 1, &novo);
  if (r == 0 && novo >= 0) dados[novo] = '\0';
  if (r == 0 && novoTamanho != nullptr) *novoTamanho = novo;
  return r;
}

int ListaTagsContem(const unsigned char* lista, int tamanho, int texto, uint32_t tag) {
  if (lista == nullptr) return 0;
  for (int pos = 0; pos < tamanho;) {
    uint32_t t = 0;
    pos += TlvLeTag(lista + pos, texto, &t, static_cast<size_t>(tamanho - pos));
    if (t == tag) return 1;
  }
  return 0;
}

int ListaTagsContem(const char* lista, uint32_t tag) {
  return ListaTagsContem(reinterpret_cast<const unsigned char*>(lista), Medida(lista), 1, tag);
}

int ListaTagsInclui(unsigned char* lista, int tamanho, size_t capacidade, int texto, uint32_t tag,
                    int permiteRepetida, int32_t* novoTamanho) {
  if (lista == nullptr || tamanho < 0) return TLV_SEM_ESPACO;
  if (!permiteRepetida && ListaTagsContem(lista, tamanho, texto, tag)) return -1;
  const int largura = LarguraTag(tag, texto);
  if (static_cast<size_t>(tamanho) + static_cast<size_t>(largura) > capacidade) return TLV_SEM_ESPACO;
  EscreveTag(lista + tamanho, tag, texto);
  if (novoTamanho != nullptr) *novoTamanho = tamanho + largura;
  return 0;
}

int ListaTagsInclui(char* lista, size_t capacidade, uint32_t tag, int permiteRepetida, int32_t* novoTamanho) {
  if (lista == nullptr || capacidade == 0) return TLV_SEM_ESPACO;
  int32_t novo = 0;
  int r = ListaTagsInclui(U(lista), Medida(lista), capacidade - 1, 1, tag, permiteRepetida, &novo);
  if (r == 0) {
    lista[novo] = '\0';
    if (novoTamanho != nullptr) *novoTamanho = novo;
  }
  return r;
}

int ListaTagsRemoveRepetidas(unsigned char* lista, int tamanho, int texto, int32_t* novoTamanho) {
  int removidas = 0;
  if (lista == nullptr || tamanho < 0) tamanho = 0;
  for (int pos = 0; pos < tamanho;) {
    uint32_t t = 0;
    int largura = TlvLeTag(lista + pos, texto, &t, static_cast<size_t>(tamanho - pos));
    if (largura > tamanho - pos) break;  // a cut tag at the end stays
    if (ListaTagsContem(lista, pos, texto, t)) {
      memmove(lista + pos, lista + pos + largura, static_cast<size_t>(tamanho - pos - largura));
      tamanho -= largura;
      ++removidas;
      continue;
    }
    pos += largura;
  }
  if (novoTamanho != nullptr) *novoTamanho = tamanho;
  return removidas;
}

int ListaTagsRemoveRepetidas(char* lista, int32_t* novoTamanho) {
  int32_t novo = 0;
  int r = ListaTagsRemoveRepetidas(U(lista), Medida(lista), 1, &novo);
  if (lista != nullptr) lista[novo] = '\0';
  if (novoTamanho != nullptr) *novoTamanho = novo;
  return r;
}
