#include "support/FuncoesString.h"

#include "support/FuncoesArquivo.h"

#include <array>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include <strings.h>

namespace {

// ---------------------------------------------------------------- case tables

using TabelaCaixa = std::array<unsigned char, 256>;

// Latin-1 letters with both forms: 0xC0-0xC5, 0xC7-0xCF, 0xD1-0xD6, 0xD9-0xDD
// (upper) and the same plus 0x20 (lower). 0xC6/0xE6, 0xD0/0xF0, 0xD8/0xF8,
// 0xDE/0xFE, 0xDF are left out on purpose: they go to the C library.
constexpr bool LetraLatinaMaiuscula(unsigned c) {
  return (c >= 0xC0 && c <= 0xC5) || (c >= 0xC7 && c <= 0xCF) || (c >= 0xD1 && c <= 0xD6) ||
         (c >= 0xD9 && c <= 0xDD);
}

constexpr TabelaCaixa MontaMaiusculas() {
  TabelaCaixa t{};
  for (unsigned c = 0; c < 256; ++c) {
    if (c >= 'a' && c <= 'z') t[c] = static_cast<unsigned char>(c - 0x20);
    else if (c >= 'A' && c <= 'Z') t[c] = static_cast<unsigned char>(c);
    else if (LetraLatinaMaiuscula(c)) t[c] = static_cast<unsigned char>(c);
    else if (c >= 0xE0 && LetraLatinaMaiuscula(c - 0x20)) t[c] = static_cast<unsigned char>(c - 0x20);
  }
  return t;
}

constexpr TabelaCaixa MontaMinusculas() {
  TabelaCaixa t{};
  for (unsigned c = 0; c < 256; ++c) {
    if (c >= 'A' && c <= 'Z') t[c] = static_cast<unsigned char>(c + 0x20);
    else if (c >= 'a' && c <= 'z') t[c] = static_cast<unsigned char>(c);
    else if (LetraLatinaMaiuscula(c)) t[c] = static_cast<unsigned char>(c + 0x20);
    else if (c >= 0xE0 && LetraLatinaMaiuscula(c - 0x20)) t[c] = static_cast<unsigned char>(c);
  }
  t[0xFF] = 0xFF;
  return t;
}

constexpr TabelaCaixa kMaiusculas = MontaMaiusculas();
constexpr TabelaCaixa kMinusculas = MontaMinusculas();

inline unsigned char U(char c) { return static_cast<unsigned char>(c); }

bool EhDigito(char c) { return c >= '0' && c <= '9'; }
bool EhBrancoTrim(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

}  // namespace

char CharMaiuscula(char c) {
  unsigned char m = kMaiusculas[U(c)];
  return static_cast<char>(m != 0 ? m : std::toupper(U(c)));
}

char CharMinuscula(char c) {
  unsigned char m = kMinusculas[U(c)];
  return static_cast<char>(m != 0 ? m : std::tolower(U(c)));
}

char* StrMaiusculas(char* texto) {
  if (texto == nullptr || *texto == '\0') return nullptr;
  for (char* p = texto; *p; ++p) *p = CharMaiuscula(*p);
  return texto;
}

char* StrMinusculas(char* texto) {
  if (texto == nullptr || *texto == '\0') return nullptr;
  for (char* p = texto; *p; ++p) *p = CharMinuscula(*p);
  return texto;
}

char* StrCapitaliza(char* texto) {
  if (StrMinusculas(texto) == nullptr) return nullptr;
  texto[0] = CharMaiuscula(texto[0]);
  return texto;
}

int StrComparaSemCaixaN(const char* a, const char* b, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    if (CharMaiuscula(a[i]) != CharMaiuscula(b[i])) return static_cast<int>(U(a[i])) - static_cast<int>(U(b[i]));
  }
  return 0;
}

int StrNumerica(const char* texto) {
  if (texto == nullptr) return 0;
  for (; *texto; ++texto)
    if (!EhDigito(*texto)) return 0;
  return 1;
}

int StrValorCaracteres(const char* texto) {
  if (texto == nullptr) return 0;
  for (; *texto; ++texto)
    if (!EhDigito(*texto) && *texto != '.' && *texto != ',') return 0;
  return 1;
}

int TemDuasDecimais(const char* texto, char separador) {
  if (texto == nullptr) return 0;
  const char* p = std::strchr(texto, separador);
  if (p == nullptr || separador == '\0') return 0;
  return std::strlen(p + 1) == 2 ? 1 : 0;
}

// ------------------------------------------------ copying, trimming, editing

namespace {
template <typename Aceita>
int CopiaFiltrando(const char* src, char* dst, Aceita aceita) {
  int n = 0;
  if (src != nullptr) {
    for (; *src; ++src)
      if (aceita(*src)) dst[n++] = *src;
  }
  if (dst != nullptr) dst[n] = '\0';
  return n;
}
}  // namespace

int StrSoDigitos(const char* src, char* dst) { return CopiaFiltrando(src, dst, EhDigito); }

int StrSoAlfanumericos(const char* src, char* dst) {
  return CopiaFiltrando(src, dst, [](char c) {
    return EhDigito(c) || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
  });
}

char* StrInverte(char* texto) {
  if (texto == nullptr) return texto;
  size_t n = std::strlen(texto);
  for (size_t i = 0; i < n / 2; ++i) {
    char t = texto[i];
    texto[i] = texto[n - 1 - i];
    texto[n - 1 - i] = t;
  }
  return texto;
}

namespace {
// Removes every leading `c`.
char* TiraEsquerda(char* texto, char c) {
  if (texto == nullptr) return texto;
  size_t i = 0;
  while (texto[i] == c) ++i;
  if (i > 0) std::memmove(texto, texto + i, std::strlen(texto + i) + 1);
  return texto;
}
}  // namespace

char* StrTiraBrancosEsq(char* texto) { return TiraEsquerda(texto, ' '); }

char* StrTiraBrancosDir(char* texto) {
  if (texto == nullptr) return texto;
  size_t n = std::strlen(texto);
  while (n > 0 && texto[n - 1] == ' ') --n;
  texto[n] = '\0';
  return texto;
}

void StrTiraBrancos(char* texto) { StrTiraBrancosEsq(StrTiraBrancosDir(texto)); }

char* StrTrim(char* texto) {
  if (texto == nullptr) return texto;
  size_t n = std::strlen(texto);
  while (n > 0 && EhBrancoTrim(texto[n - 1])) --n;
  size_t i = 0;
  while (i < n && EhBrancoTrim(texto[i])) ++i;
  std::memmove(texto, texto + i, n - i);
  texto[n - i] = '\0';
  return texto;
}

void StrTiraEspacos(char* texto) {
  if (texto == nullptr) return;
  char* d = texto;
  for (const char* s = texto; *s; ++s)
    if (*s != ' ') *d++ = *s;
  *d = '\0';
}

const char* StrPulaBrancos(const char* texto) {
  if (texto == nullptr) return texto;
  while (*texto == ' ') ++texto;
  return texto;
}

char* StrPulaBrancos(char* texto) {
  return const_cast<char*>(StrPulaBrancos(static_cast<const char*>(texto)));
}

char* StrTiraZerosEsq(char* texto) { return TiraEsquerda(texto, '0'); }

char* StrSoDigitosSemZeros(char* texto) {
  if (texto == nullptr) return texto;
  StrSoDigitos(texto, texto);  // writes never overtake the reads
  return StrTiraZerosEsq(texto);
}

char* StrCopiaLimitada(char* dst, const char* src, size_t n) {
  if (dst == nullptr || n == 0) return dst;
  size_t i = 0;
  if (src != nullptr)
    for (; i + 1 < n && src[i]; ++i) dst[i] = src[i];
  dst[i] = '\0';
  return dst;
}

void StrConcatenaLimitada(char* dst, const char* src, size_t n) {
  if (dst == nullptr) return;
  StrCopiaLimitada(dst + std::strlen(dst), src, n);
}

int StrSubstitui(char* texto, size_t tamTexto, const char* busca, const char* troca) {
  if (texto == nullptr || busca == nullptr || *busca == '\0') return 0;
  const size_t nb = std::strlen(busca);
  const size_t nt = troca ? std::strlen(troca) : 0;
  const size_t n = std::strlen(texto);

  // First pass: count and check that the result fits before touching the text.
  int conta = 0;
  for (const char* p = std::strstr(texto, busca); p; p = std::strstr(p + nb, busca)) ++conta;
  if (conta == 0) return 0;
  const size_t cabe = tamTexto == 0 ? 0 : tamTexto - 1;
  if (nt > nb && (n > cabe || (nt - nb) * static_cast<size_t>(conta) > cabe - n)) return -1;

  for (char* p = std::strstr(texto, busca); p; p = std::strstr(p + nt, busca)) {
    std::memmove(p + nt, p + nb, std::strlen(p + nb) + 1);
    if (nt) std::memcpy(p, troca, nt);
  }
  return conta;
}

void ConverteEscapes(char* texto) {
  if (texto == nullptr) return;
  char* d = texto;
  for (const char* s = texto; *s; ++s) {
    if (s[0] == '\\' && (s[1] == 'r' || s[1] == 'n')) {
      *d++ = '\r';
      ++s;
    } else {
      *d++ = *s;
    }
  }
  *d = '\0';
}

int StrCentraliza(char* texto, char preenche, int largura) {
  if (texto == nullptr || largura <= 0) return 0;
  const size_t n = std::strlen(texto);
  if (n >= static_cast<size_t>(largura)) return 0;
  const size_t desloca = (static_cast<size_t>(largura) - n) / 2;
  if (desloca == 0) return 0;
  std::memmove(texto + desloca, texto, n + 1);
  std::memset(texto, preenche, desloca);
  return static_cast<int>(desloca);
}

void StrAlinhaZeros(char* dst, const char* src, int largura) {
  if (dst == nullptr || src == nullptr || largura < 0) return;
  const size_t w = static_cast<size_t>(largura);
  const size_t n = strnlen(src, w);
  std::memset(dst, '0', w - n);
  std::memmove(dst + (w - n), src, n);
  dst[w] = '\0';
}

// ---------------------------------------------------- numbers, conversions

namespace {
// A text that converts to zero on purpose rather than by failing.
bool TextoZero(const char* t) {
  for (; *t; ++t)
    if (*t != '0' && *t != ' ' && *t != '.' && *t != '+' && *t != '-') return false;
  return true;
}
}  // namespace

int StrToIntDef(const char* texto, int padrao) {
  if (texto == nullptr || *texto == '\0') return padrao;
  long v = std::strtol(texto, nullptr, 10);
  if (v > INT_MAX) v = INT_MAX;
  if (v < INT_MIN) v = INT_MIN;
  if (v != 0) return static_cast<int>(v);
  return TextoZero(texto) ? 0 : padrao;
}

double StrToDoubleDef(const char* texto, double padrao) {
  if (texto == nullptr || *texto == '\0') return padrao;
  double v = std::strtod(texto, nullptr);
  if (v != 0.0) return v;
  return TextoZero(texto) ? 0.0 : padrao;
}

uint32_t DigitosParaInt(const char* texto, int n) {
  uint32_t valor = 0;
  if (texto == nullptr) return 0;
  for (int i = 0; i < n; ++i) valor = valor * 10u + (static_cast<unsigned char>(texto[i]) & 0x0Fu);
  return valor;
}

const char* LeNumero(const char* texto, uint32_t* valor) {
  if (texto == nullptr) return texto;
  int n = 0;
  while (EhDigito(texto[n])) ++n;
  if (valor) *valor = DigitosParaInt(texto, n);
  return texto + n;
}

int HexDigitoValor(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return 0;
}

char HexDigitoCaracter(int nibble) { return "0123456789ABCDEF"[nibble & 0x0F]; }

void HexParaBytes(void* dst, const char* hex, size_t n) {
  auto* d = static_cast<unsigned char*>(dst);
  bool fim = hex == nullptr;
  auto proximo = [&]() -> int {
    if (fim || *hex == '\0') {
      fim = true;
      return 0;
    }
    return HexDigitoValor(*hex++);
  };
  for (size_t i = 0; i < n; ++i) {
    int alto = proximo();
    int baixo = proximo();
    d[i] = static_cast<unsigned char>((alto << 4) | baixo);
  }
}

void BytesParaHex(char* dst, const void* bytes, size_t n) {
  const auto* b = static_cast<const unsigned char*>(bytes);
  for (size_t i = 0; i < n; ++i) {
    dst[2 * i] = HexDigitoCaracter(b[i] >> 4);
    dst[2 * i + 1] = HexDigitoCaracter(b[i]);
  }
}

namespace {
char* EscreveSemSinal(uint64_t v, char* dst, unsigned base) {
  char tmp[65];
  size_t n = 0;
  do {
    tmp[n++] = "0123456789abcdefghijklmnopqrstuvwxyz"[v % base];
    v /= base;
  } while (v != 0);
  for (size_t i = 0; i < n; ++i) dst[i] = tmp[n - 1 - i];
  dst[n] = '\0';
  return dst;
}
}  // namespace

char* IntParaStrBase(int32_t valor, char* dst, int base) {
  if (dst == nullptr) return dst;
  dst[0] = '\0';
  if (base < 2 || base > 36) return dst;
  if (base == 10 && valor < 0) {
    dst[0] = '-';
    EscreveSemSinal(static_cast<uint64_t>(-static_cast<int64_t>(valor)), dst + 1, 10);
    return dst;
  }
  return EscreveSemSinal(static_cast<uint32_t>(valor), dst, static_cast<unsigned>(base));
}

char* Int64ParaStrBase(int64_t valor, char* dst, int base) {
  if (dst == nullptr) return dst;
  if (base != 10) return IntParaStrBase(static_cast<int32_t>(static_cast<uint32_t>(valor)), dst, base);
  if (valor < 0) {
    dst[0] = '-';
    EscreveSemSinal(0u - static_cast<uint64_t>(valor), dst + 1, 10);
    return dst;
  }
  return EscreveSemSinal(static_cast<uint64_t>(valor), dst, 10);
}

int64_t ValorParaInt64(const char* texto) {
  if (texto == nullptr) return 0;
  uint64_t v = 0;
  for (; *texto; ++texto) {
    if (!EhDigito(*texto)) continue;
    unsigned d = static_cast<unsigned>(*texto - '0');
    if (v > (static_cast<uint64_t>(INT64_MAX) - d) / 10) return INT64_MAX;
    v = v * 10 + d;
  }
  return static_cast<int64_t>(v);
}

int ExtraiNumeroCartao(const char* trilha, char* dst, size_t tamDst) {
  if (dst != nullptr && tamDst > 0) dst[0] = '\0';
  if (trilha == nullptr || *trilha == '\0' || dst == nullptr) return -1;
  size_t fim = std::strcspn(trilha, "^=");
  if (trilha[fim] == '\0' && fim > 19) fim = 19;
  size_t ini = EhDigito(trilha[0]) ? 0 : 1;
  if (ini >= fim) return -1;
  for (size_t i = ini; i < fim; ++i)
    if (!EhDigito(trilha[i])) return -1;
  if (fim - ini >= tamDst) return -1;
  std::memcpy(dst, trilha + ini, fim - ini);
  dst[fim - ini] = '\0';
  return 0;
}

// ---------------------------------------------------------- money

char* FormataDecimal(char* dst, size_t tamDst, const char* src, int decimais, char separador) {
  if (dst == nullptr || tamDst == 0) return dst;
  dst[0] = '\0';
  if (src == nullptr) src = "";
  // The digits without leading zeros.
  size_t nd = 0;
  const char* primeiro = nullptr;
  for (const char* p = src; *p; ++p) {
    if (!EhDigito(*p)) continue;
    if (primeiro == nullptr && *p == '0') continue;
    if (primeiro == nullptr) primeiro = p;
    ++nd;
  }
  const size_t dec = decimais < 1 ? 0 : static_cast<size_t>(decimais);
  const size_t total = dec == 0 ? nd : (nd > dec + 1 ? nd : dec + 1);
  const size_t tam = total + (dec ? 1 : 0);
  if (tam >= tamDst) return dst;
  // Written right to left: digits of src from its end, then the zero padding.
  size_t pos = tam;
  dst[pos] = '\0';
  size_t escritos = 0;
  const char* p = primeiro ? primeiro + std::strlen(primeiro) : nullptr;
  while (escritos < total) {
    if (dec && escritos == dec) dst[--pos] = separador;
    char c = '0';
    if (p != nullptr) {
      while (p > primeiro && !EhDigito(p[-1])) --p;
      if (p > primeiro) c = *--p;
    }
    dst[--pos] = c;
    ++escritos;
  }
  return dst;
}

char* FormataValor(char* dst, size_t tamDst, const char* src) { return FormataDecimal(dst, tamDst, src, 2, ','); }

void FormataMoeda(char* dst, const char* src) {
  if (dst == nullptr) return;
  dst[0] = '\0';
  if (src == nullptr || strnlen(src, 31) >= 31) return;
  char dig[32];
  StrSoDigitos(src, dig);
  StrTiraZerosEsq(dig);
  char num[32];
  size_t n = std::strlen(dig);
  size_t pad = n < 3 ? 3 - n : 0;
  std::memset(num, '0', pad);
  std::memcpy(num + pad, dig, n + 1);
  n += pad;
  const size_t inteiros = n - 2;
  size_t d = 0;
  for (size_t i = 0; i < inteiros; ++i) {
    if (i > 0 && (inteiros - i) % 3 == 0) dst[d++] = '.';
    dst[d++] = num[i];
  }
  dst[d++] = ',';
  dst[d++] = num[n - 2];
  dst[d++] = num[n - 1];
  dst[d] = '\0';
}

int AnalisaValor(const char* texto) {
  if (texto == nullptr) return 0;
  const char* ponto = std::strchr(texto, '.');
  const char* virgula = std::strchr(texto, ',');
  if (!ponto && !virgula) return 0;

  const bool ambos = ponto && virgula;
  char decimal = 0, grupo = 0;
  bool unico = false;  // one separator, once
  if (ambos) {
    decimal = ponto > virgula ? '.' : ',';
    grupo = ponto > virgula ? ',' : '.';
  } else {
    const char c = ponto ? '.' : ',';
    int ocorre = 0;
    for (const char* p = texto; *p; ++p) ocorre += *p == c;
    grupo = c;
    if (ocorre == 1) {
      decimal = c;
      unico = true;
    }
  }

  const char* posDecimal = decimal ? std::strchr(texto, decimal) : nullptr;
  if (posDecimal && !unico) {
    if (std::strchr(posDecimal + 1, decimal)) return -1;
    if (std::strchr(posDecimal + 1, grupo)) return -2;
  }

  // Grouping check over the integer part, walked from its last character.
  const char* fimInteiro = ambos ? posDecimal : texto + std::strlen(texto);
  bool grupoOk = true;
  const char* maisEsquerda = nullptr;  // leftmost grouping separator seen
  size_t p = 0;
  for (const char* c = fimInteiro; c > texto; ++p) {
    --c;
    if (c == texto && (*c == '+' || *c == '-')) break;
    if (p % 4 == 3) {
      if (*c != grupo) {
        if (ambos) return -3;
        grupoOk = false;
        break;
      }
      maisEsquerda = c;
    } else if (!EhDigito(*c)) {
      grupoOk = false;
      break;
    }
  }
  if (grupoOk) {
    bool temSignificativo = false;
    for (const char* c = texto; maisEsquerda && c < maisEsquerda; ++c) temSignificativo |= EhDigito(*c) && *c != '0';
    if (!temSignificativo) grupoOk = false;
  }

  if (unico && grupoOk) return 1003;
  if (grupoOk || unico) {
    const char* depois = posDecimal ? posDecimal : std::strchr(texto, grupo);
    return static_cast<int>(std::strlen(depois + 1));
  }
  return -4;
}

int NormalizaValor(char* texto, size_t tamTexto, int decimais) {
  if (texto == nullptr) return -1;
  const int r = AnalisaValor(texto);
  size_t n = 0;
  {
    // Length of the digits without leading zeros, to check the room first.
    bool inicio = true;
    for (const char* p = texto; *p; ++p) {
      if (!EhDigito(*p) || (inicio && *p == '0')) continue;
      inicio = false;
      ++n;
    }
  }
  size_t acrescimo = 0, corte = 0;
  const bool ajusta = !(r < 0 || (decimais == 0 && r == 1000));
  if (ajusta) {
    const int d = r % 1000;
    if (d < decimais) acrescimo = static_cast<size_t>(decimais - d);
    else if (d > decimais) corte = static_cast<size_t>(d - decimais);
  }
  if (n + acrescimo >= tamTexto) return -1;
  StrSoDigitosSemZeros(texto);
  if (corte) texto[n > corte ? n - corte : 0] = '\0';
  if (acrescimo) {
    std::memset(texto + n, '0', acrescimo);
    texto[n + acrescimo] = '\0';
  }
  return 0;
}

// ---------------------------------------------------------- scrambling

void Embaralha(void* buffer, size_t tamanho) {
  auto* b = static_cast<unsigned char*>(buffer);
  unsigned char c = 0;
  for (size_t i = 0; i < tamanho; ++i) {
    b[i] = static_cast<unsigned char>((c ^ 0x13) + (b[i] ^ 0x0D) + 0x47);
    c = static_cast<unsigned char>(b[i] + 0x71);
  }
}

void Desembaralha(void* buffer, size_t tamanho) {
  auto* b = static_cast<unsigned char*>(buffer);
  unsigned char c = 0;
  for (size_t i = 0; i < tamanho; ++i) {
    const unsigned char s = b[i];
    b[i] = static_cast<unsigned char>(static_cast<unsigned char>(s - (c ^ 0x13) - 0x47) ^ 0x0D);
    c = static_cast<unsigned char>(s + 0x71);
  }
}

int ComparaComMascara(const void* a, const void* b, const void* mascara, size_t n) {
  const auto* pa = static_cast<const unsigned char*>(a);
  const auto* pb = static_cast<const unsigned char*>(b);
  const auto* m = static_cast<const unsigned char*>(mascara);
  for (size_t i = 0; i < n; ++i) {
    const auto x = static_cast<signed char>(pa[i] & m[i]);
    const auto y = static_cast<signed char>(pb[i] & m[i]);
    if (x != y) return x - y;
  }
  return 0;
}

// ------------------------------------------------------------- tokenizer

namespace {

// Bounded output of a decoder: counts every character produced and stores
// those whose index falls in [de, ate) while room is left.
struct Saida {
  char* buf = nullptr;
  size_t cap = 0;
  size_t n = 0;        // characters produced
  size_t gravados = 0; // characters stored
  size_t de = 0, ate = SIZE_MAX;
  // Trim bookkeeping: first and one-past-last produced character that is not
  // a trim blank.
  size_t primeiro = SIZE_MAX, ultimo = 0;

  void Poe(char c) {
    if (!EhBrancoTrim(c)) {
      if (primeiro == SIZE_MAX) primeiro = n;
      ultimo = n + 1;
    }
    if (buf != nullptr && n >= de && n < ate && gravados + 1 < cap) buf[gravados++] = c;
    ++n;
  }
  void Termina() {
    if (buf != nullptr && cap > 0) buf[gravados] = '\0';
  }
};

bool InicioComentario(const char* p) {
  return *p == '#' || *p == '!' || (p[0] == '-' && p[1] == '-') || (p[0] == '/' && p[1] == '/');
}

bool EhAspas(char c) { return c == '"' || c == '\''; }

// Inside a double-quoted token: decodes a backslash followed by `prox`;
// returns how many source characters the pair used.
size_t DecodificaEscape(char prox, Saida& s) {
  switch (prox) {
    case 'n': s.Poe('\r'); s.Poe('\n'); return 2;
    case 'r': s.Poe('\r'); return 2;
    case 't': s.Poe('\t'); return 2;
    case 'f': s.Poe('\n'); return 2;
    case '"': s.Poe('"'); return 2;
    default: s.Poe('\\'); s.Poe(prox); return 2;
  }
}

}  // namespace

int ExtraiToken(char* linha, const char* delimitadores, int usaDelimitadores, int consome, char* token,
                size_t tamToken) {
  if (linha == nullptr) return -1;
  Saida s;
  s.buf = token;
  s.cap = tamToken;
  s.Termina();
  StrTrim(linha);
  if (*linha == '\0' || InicioComentario(linha)) {
    linha[0] = '\0';
    return 0;
  }
  const char* delims = usaDelimitadores ? (delimitadores ? delimitadores : "") : " \t";
  const size_t n = std::strlen(linha);

  enum { FORA, ASPAS_SIMPLES, ASPAS_DUPLAS, INTERNA } estado = FORA;
  size_t resto = n;  // where the remaining line begins
  size_t i = 0;
  while (i < n) {
    const char c = linha[i];
    if (estado == FORA) {
      if (EhAspas(c)) {
        if (i == 0) {
          estado = c == '"' ? ASPAS_DUPLAS : ASPAS_SIMPLES;
        } else {
          estado = INTERNA;
          s.Poe(c);
        }
        ++i;
      } else if (std::strchr(delims, c) != nullptr) {
        resto = consome ? i + 1 : i;
        break;
      } else if (InicioComentario(linha + i)) {
        resto = n;
        break;
      } else {
        s.Poe(c);
        ++i;
      }
    } else if (estado == INTERNA) {
      s.Poe(c);
      if (EhAspas(c)) estado = FORA;
      ++i;
    } else if (estado == ASPAS_SIMPLES) {
      if (c == '\'') {
        resto = i + 1;
        break;
      }
      s.Poe(c);
      ++i;
    } else {  // ASPAS_DUPLAS
      if (c == '"') {
        resto = i + 1;
        break;
      }
      if (c == '\\' && i + 1 < n) {
        i += DecodificaEscape(linha[i + 1], s);
      } else {
        s.Poe(c);
        ++i;
      }
    }
  }
  s.Termina();
  std::memmove(linha, linha + resto, n - resto + 1);
  return 0;
}

int ExtraiPalavra(char* linha, char* token, size_t tamToken) { return ExtraiToken(linha, " \t", 0, 1, token, tamToken); }

int ExtraiCampo(char* linha, const char* delimitadores, int consome, char* token, size_t tamToken) {
  return ExtraiToken(linha, delimitadores, 1, consome, token, tamToken);
}

const char* BuscaForaDeAspas(const char* texto, char c) {
  if (texto == nullptr) return nullptr;
  bool aspas = false;
  for (const char* p = texto; *p; ++p) {
    if (*p == c && !aspas) return p;
    if (*p == '"' && (p == texto || p[-1] != '\\')) aspas = !aspas;
  }
  return nullptr;
}

char* BuscaForaDeAspas(char* texto, char c) {
  return const_cast<char*>(BuscaForaDeAspas(static_cast<const char*>(texto), c));
}

// --------------------------------------------------------- parameter lists

namespace {

// The section seen as separator + section + separator without copying it.
struct Secao {
  const char* s;
  size_t n;
  const char* sep;
  size_t ns;

  size_t Tam() const { return ns + n + ns; }
  size_t Fim() const { return ns + n; }  // end of the section proper
  char Em(size_t i) const { return i < ns ? sep[i] : i < ns + n ? s[i - ns] : sep[i - ns - n]; }
  bool Casa(size_t i, const char* p, size_t np) const {
    if (np == 0 || i + np > Tam()) return false;
    for (size_t k = 0; k < np; ++k)
      if (Em(i + k) != p[k]) return false;
    return true;
  }
  size_t Acha(size_t de, const char* p, size_t np) const {
    for (size_t i = de; i + np <= Tam(); ++i)
      if (Casa(i, p, np)) return i;
    return SIZE_MAX;
  }
  // BuscaForaDeAspas over the view, starting at `de`.
  size_t AchaForaDeAspas(size_t de, char c) const {
    bool aspas = false;
    for (size_t i = de; i < Tam(); ++i) {
      const char x = Em(i);
      if (x == c && !aspas) return i;
      if (x == '"' && (i == de || Em(i - 1) != '\\')) aspas = !aspas;
    }
    return SIZE_MAX;
  }
};

constexpr size_t kMaxChave = 127;

// Key between [ini, fim): cut to 127 characters, trimmed, compared with
// `chave` without regard to ASCII case; with `final`, a key that ends in
// `chave` counts too.
bool ChaveIgual(const Secao& v, size_t ini, size_t fim, const char* chave, bool final = false) {
  char k[kMaxChave + 1];
  size_t n = 0;
  for (size_t i = ini; i < fim && n < kMaxChave; ++i) k[n++] = v.Em(i);
  k[n] = '\0';
  StrTrim(k);
  const size_t nk = std::strlen(k), nc = std::strlen(chave);
  if (final && nk > nc) return strcasecmp(k + nk - nc, chave) == 0;
  return strcasecmp(k, chave) == 0;
}

// Decodes the value starting at `i` and returns where it ended: at the field
// separator, after the closing quote of a quoted value, or at the end of the
// section.
size_t DecodificaValor(const Secao& v, size_t i, Saida& s) {
  const size_t fim = v.Fim();
  if (i < fim && EhAspas(v.Em(i))) {
    const char q = v.Em(i++);
    while (i < fim) {
      const char c = v.Em(i);
      if (c == q) return i + 1;
      if (q == '"' && c == '\\' && i + 1 < fim) {
        i += DecodificaEscape(v.Em(i + 1), s);
      } else {
        s.Poe(c);
        ++i;
      }
    }
    return fim;
  }
  bool interna = false;
  while (i < fim) {
    const char c = v.Em(i);
    if (!interna && v.Casa(i, v.sep, v.ns)) return i;
    if (EhAspas(c)) interna = !interna;
    s.Poe(c);
    ++i;
  }
  return fim;
}

// The next entry from `pos` on: its key's start in *k and its '=' in *igual;
// false when no separator or no '=' follows.
bool ProximaEntrada(const Secao& v, size_t pos, size_t* k, size_t* igual) {
  const size_t f = v.Acha(pos, v.sep, v.ns);
  if (f == SIZE_MAX) return false;
  *k = f + v.ns;
  for (size_t i = *k; i < v.Tam(); ++i)
    if (v.Em(i) == '=') {
      *igual = i;
      return true;
    }
  return false;
}

// Finds the value of `chave` in the section: PARAM_OK and its start in *ini,
// or PARAM_NAO_ACHOU.
int AchaValor(const Secao& v, const char* chave, size_t* ini) {
  size_t pos = 0, k = 0, igual = 0;
  for (;;) {
    if (!ProximaEntrada(v, pos, &k, &igual)) return PARAM_NAO_ACHOU;
    if (ChaveIgual(v, k, igual, chave)) {
      *ini = igual + 1;
      return PARAM_OK;
    }
    Saida nada;
    pos = DecodificaValor(v, igual + 1, nada);
  }
}

// Every entry of the section whose key is `chave` (or ends in it): the value's
// range in the text, `base` being the text offset of the section's start.
void LocalizaValores(const Secao& v, size_t base, const char* chave, void (*visita)(void*, size_t, size_t),
                     void* ctx) {
  size_t pos = 0, k = 0, igual = 0;
  for (;;) {
    if (!ProximaEntrada(v, pos, &k, &igual)) return;
    Saida nada;
    const size_t fimValor = DecodificaValor(v, igual + 1, nada);
    if (ChaveIgual(v, k, igual, chave, true)) visita(ctx, base + igual + 1 - v.ns, base + fimValor - v.ns);
    pos = fimValor;
  }
}

// Locates section `secao` of the text: PARAM_OK with the view, or an error.
int LocalizaSecao(const char* texto, const char* cabecalho, const char* sepSecao, const char* sepCampo, int secao,
                  Secao* v) {
  if (texto == nullptr || sepCampo == nullptr || *sepCampo == '\0') return PARAM_ERRO;
  if (cabecalho != nullptr) {
    const size_t nc = std::strlen(cabecalho);
    if (std::strncmp(texto, cabecalho, nc) == 0) texto += nc;
  }
  const bool comSecoes = sepSecao != nullptr && *sepSecao != '\0';
  if (secao < 0 || (!comSecoes && secao > 0)) return PARAM_NAO_ACHOU;
  const char* fim = nullptr;
  if (comSecoes) {
    const size_t nss = std::strlen(sepSecao);
    for (int k = 0; k < secao; ++k) {
      const char* p = std::strstr(texto, sepSecao);
      if (p == nullptr) return PARAM_NAO_ACHOU;
      texto = p + nss;
    }
    fim = std::strstr(texto, sepSecao);
  }
  *v = Secao{texto, fim ? static_cast<size_t>(fim - texto) : std::strlen(texto), sepCampo, std::strlen(sepCampo)};
  return PARAM_OK;
}

}  // namespace

int ParamObtemValorEx(const char* texto, const char* cabecalho, const char* sepSecao, const char* sepCampo,
                      int secao, const char* chave, char** valor, size_t tamValor) {
  Secao v{};
  int r = LocalizaSecao(texto, cabecalho, sepSecao, sepCampo, secao, &v);
  if (r != PARAM_OK) return r;
  if (chave == nullptr) return PARAM_NAO_ACHOU;
  size_t ini = 0;
  r = AchaValor(v, chave, &ini);
  if (r != PARAM_OK || valor == nullptr) return r;
  Saida s;
  if (*valor == nullptr) {
    // The caller gets a block of the value's size, released with Libera.
    Saida medida;
    DecodificaValor(v, ini, medida);
    auto* bloco = static_cast<char*>(Aloca(medida.n + 1, 0, "FuncoesString", __LINE__));
    if (bloco == nullptr) return PARAM_SEM_MEMORIA;
    *valor = bloco;
    s.buf = bloco;
    s.cap = medida.n + 1;
  } else {
    s.buf = *valor;
    s.cap = tamValor;
  }
  DecodificaValor(v, ini, s);
  s.Termina();
  return PARAM_OK;
}

int ParamObtemValor(const char* texto, const char* cabecalho, int secao, const char* chave, char** valor,
                    size_t tamValor) {
  return ParamObtemValorEx(texto, cabecalho, "<#>", ",", secao, chave, valor, tamValor);
}

int ParamObtemInt(const char* texto, const char* cabecalho, int secao, const char* chave, int padrao) {
  char buf[32];
  char* p = buf;
  if (ParamObtemValor(texto, cabecalho, secao, chave, &p, sizeof buf) != PARAM_OK) return padrao;
  return StrToIntDef(buf, padrao);
}

double ParamObtemDouble(const char* texto, const char* cabecalho, int secao, const char* chave, double padrao) {
  char buf[32];
  char* p = buf;
  if (ParamObtemValor(texto, cabecalho, secao, chave, &p, sizeof buf) != PARAM_OK) return padrao;
  return StrToDoubleDef(buf, padrao);
}

int ParamAlteraValor(char* texto, size_t tamTexto, const char* cabecalho, int secao, const char* chave,
                     const char* novoValor) {
  if (texto == nullptr) return PARAM_ERRO;
  if (chave == nullptr) return PARAM_NAO_ACHOU;
  if (novoValor == nullptr) novoValor = "";
  char* base = texto;
  if (cabecalho != nullptr && *cabecalho != '\0') {
    char* p = std::strstr(texto, cabecalho);
    if (p != nullptr) base = p + std::strlen(cabecalho);
  }
  if (secao < 0) return PARAM_NAO_ACHOU;
  for (int k = 0; k < secao; ++k) {
    char* p = std::strstr(base, "<#>");
    if (p == nullptr) return PARAM_NAO_ACHOU;
    base = p + 3;
  }
  const char* fimSecao = std::strstr(base, "<#>");
  const Secao v{base, fimSecao ? static_cast<size_t>(fimSecao - base) : std::strlen(base), ",", 1};
  const size_t total = std::strlen(texto);
  const size_t nNovo = std::strlen(novoValor);

  size_t pos = 0;
  for (;;) {
    const size_t virgula = v.AchaForaDeAspas(pos, ',');
    if (virgula == SIZE_MAX) break;
    size_t igual = SIZE_MAX;
    for (size_t i = virgula + 1; i < v.Tam(); ++i)
      if (v.Em(i) == '=') {
        igual = i;
        break;
      }
    if (igual == SIZE_MAX) break;
    if (ChaveIgual(v, virgula + 1, igual, chave)) {
      size_t ini = igual + 1;
      size_t fim = v.AchaForaDeAspas(ini, ',');
      if (fim == SIZE_MAX || fim > v.Fim()) fim = v.Fim();
      if (fim > ini + 1 && v.Em(ini) == '"' && v.Em(fim - 1) == '"') {
        ++ini;
        --fim;
      }
      // View index i is base[i - 1] in the caller's text.
      const size_t apaga = fim - ini;
      if (total - apaga + nNovo >= tamTexto) return PARAM_SEM_MEMORIA;
      char* de = base + (ini - 1);
      std::memmove(de + nNovo, de + apaga, std::strlen(de + apaga) + 1);
      std::memcpy(de, novoValor, nNovo);
      return PARAM_OK;
    }
    pos = igual + 1;
  }

  // Absent: "chave=novoValor," goes before the first entry of the section.
  const size_t nChave = std::strlen(chave);
  const size_t nEntrada = nChave + 1 + nNovo + 1;
  if (total + nEntrada >= tamTexto) return PARAM_SEM_MEMORIA;
  std::memmove(base + nEntrada, base, std::strlen(base) + 1);
  std::memcpy(base, chave, nChave);
  base[nChave] = '=';
  std::memcpy(base + nChave + 1, novoValor, nNovo);
  base[nEntrada - 1] = ',';
  return PARAM_NAO_ACHOU;
}

int ListaObtemValor(const char* texto, const char* sepCampo, const char* chave, char** valor, size_t tamValor) {
  return ParamObtemValorEx(texto, nullptr, nullptr, sepCampo, 0, chave, valor, tamValor);
}

int ListaObtemTexto(const char* texto, const char* chave, char* dst, size_t tamDst) {
  Secao v{};
  if (LocalizaSecao(texto, nullptr, nullptr, ",", 0, &v) != PARAM_OK || chave == nullptr) return 0;
  size_t ini = 0;
  if (AchaValor(v, chave, &ini) != PARAM_OK) return 0;
  // First pass finds the trimmed stretch, the second stores only it.
  Saida medida;
  DecodificaValor(v, ini, medida);
  Saida s;
  s.buf = dst;
  s.cap = tamDst;
  if (medida.primeiro == SIZE_MAX) {
    s.ate = 0;
  } else {
    s.de = medida.primeiro;
    s.ate = medida.ultimo;
  }
  DecodificaValor(v, ini, s);
  s.Termina();
  return 1;
}

void ParamLocalizaValores(const char* texto, const char* chave, void (*visita)(void* ctx, size_t de, size_t ate),
                          void* ctx) {
  if (texto == nullptr || chave == nullptr || visita == nullptr) return;
  Secao v{};
  if (LocalizaSecao(texto, nullptr, nullptr, ",", 0, &v) == PARAM_OK) LocalizaValores(v, 0, chave, visita, ctx);
  for (int secao = 0; LocalizaSecao(texto, nullptr, "<#>", ",", secao, &v) == PARAM_OK; ++secao)
    LocalizaValores(v, static_cast<size_t>(v.s - texto), chave, visita, ctx);
}

int ListaObtemInt(const char* texto, const char* chave, int padrao) {
  char buf[40];
  if (ListaObtemTexto(texto, chave, buf, sizeof buf) != 1) return padrao;
  return StrToIntDef(buf, padrao);
}
