#include "cipher/Des.h"

#include <array>

#include "state/LibState.h"
#include "support/FuncoesArquivo.h"

namespace {

// FIPS 46 tables, 1-based bit numbers as the standard prints them.
constexpr uint8_t kPermInicial[64] = {
    58, 50, 42, 34, 26, 18, 10, 2, 60, 52, 44, 36, 28, 20, 12, 4,
    62, 54, 46, 38, 30, 22, 14, 6, 64, 56, 48, 40, 32, 24, 16, 8,
    57, 49, 41, 33, 25, 17, 9,  1, 59, 51, 43, 35, 27, 19, 11, 3,
    61, 53, 45, 37, 29, 21, 13, 5, 63, 55, 47, 39, 31, 23, 15, 7};

constexpr uint8_t kPermFinal[64] = {
    40, 8, 48, 16, 56, 24, 64, 32, 39, 7, 47, 15, 55, 23, 63, 31,
    38, 6, 46, 14, 54, 22, 62, 30, 37, 5, 45, 13, 53, 21, 61, 29,
    36, 4, 44, 12, 52, 20, 60, 28, 35, 3, 43, 11, 51, 19, 59, 27,
    34, 2, 42, 10, 50, 18, 58, 26, 33, 1, 41, 9,  49, 17, 57, 25};

constexpr uint8_t kExpansao[48] = {
    32, 1,  2,  3,  4,  5,  4,  5,  6,  7,  8,  9,  8,  9,  10, 11,
    12, 13, 12, 13, 14, 15, 16, 17, 16, 17, 18, 19, 20, 21, 20, 21,
    22, 23, 24, 25, 24, 25, 26, 27, 28, 29, 28, 29, 30, 31, 32, 1};

constexpr uint8_t kPermP[32] = {16, 7, 20, 21, 29, 12, 28, 17, 1,  15, 23, 26, 5,  18, 31, 10,
                                2,  8, 24, 14, 32, 27, 3,  9,  19, 13, 30, 6,  22, 11, 4,  25};

constexpr uint8_t kEscolha1[56] = {57, 49, 41, 33, 25, 17, 9,  1,  58, 50, 42, 34, 26, 18,
                                   10, 2,  59, 51, 43, 35, 27, 19, 11, 3,  60, 52, 44, 36,
                                   63, 55, 47, 39, 31, 23, 15, 7,  62, 54, 46, 38, 30, 22,
                                   14, 6,  61, 53, 45, 37, 29, 21, 13, 5,  28, 20, 12, 4};

constexpr uint8_t kEscolha2[48] = {14, 17, 11, 24, 1,  5,  3,  28, 15, 6,  21, 10,
                                   23, 19, 12, 4,  26, 8,  16, 7,  27, 20, 13, 2,
                                   41, 52, 31, 37, 47, 55, 30, 40, 51, 45, 33, 48,
                                   44, 49, 39, 56, 34, 53, 46, 42, 50, 36, 29, 32};

// Eight S-boxes of 4 rows x 16 columns, row by row.
constexpr uint8_t kCaixasS[8][64] = {
    {14, 4,  13, 1, 2,  15, 11, 8,  3,  10, 6,  12, 5,  9,  0, 7,  0, 15, 7,  4,  14, 2,
     13, 1,  10, 6, 12, 11, 9,  5,  3,  8,  4,  1,  14, 8,  13, 6, 2, 11, 15, 12, 9,  7,
     3,  10, 5,  0, 15, 12, 8,  2,  4,  9,  1,  7,  5,  11, 3,  14, 10, 0, 6, 13},
    {15, 1,  8,  14, 6,  11, 3,  4,  9,  7, 2, 13, 12, 0, 5,  10, 3, 13, 4, 7,  15, 2,
     8,  14, 12, 0,  1,  10, 6,  9,  11, 5, 0, 14, 7,  11, 10, 4, 13, 1, 5, 8,  12, 6,
     9,  3,  2,  15, 13, 8,  10, 1,  3,  15, 4, 2,  11, 6,  7,  12, 0, 5, 14, 9},
    {10, 0,  9,  14, 6,  3,  15, 5,  1,  13, 12, 7, 11, 4,  2,  8,  13, 7,  0, 9, 3, 4,
     6,  10, 2,  8,  5,  14, 12, 11, 15, 1,  13, 6, 4,  9,  8,  15, 3,  0,  11, 1, 2, 12,
     5,  10, 14, 7,  1,  10, 13, 0,  6,  9,  8,  7,  4,  15, 14, 3,  11, 5,  2, 12},
    {7,  13, 14, 3, 0,  6,  9,  10, 1,  2, 8, 5,  11, 12, 4,  15, 13, 8,  11, 5, 6, 15,
     0,  3,  4,  7, 2,  12, 1,  10, 14, 9, 10, 6, 9,  0,  12, 11, 7, 13, 15, 1, 3, 14,
     5,  2,  8,  4, 3,  15, 0,  6,  10, 1, 13, 8,  9,  4,  5,  11, 12, 7,  2,  14},
    {2,  12, 4,  1,  7,  10, 11, 6,  8,  5, 3, 15, 13, 0,  14, 9,  14, 11, 2, 12, 4, 7,
     13, 1,  5,  0,  15, 10, 3,  9,  8,  6, 4, 2,  1,  11, 10, 13, 7,  8,  15, 9, 12, 5,
     6,  3,  0,  14, 11, 8,  12, 7,  1,  14, 2, 13, 6,  15, 0,  9,  10, 4, 5,  3},
    {12, 1,  10, 15, 9,  2,  6,  8,  0,  13, 3, 4,  14, 7,  5,  11, 10, 15, 4, 2,  7, 12,
     9,  5,  6,  1,  13, 14, 0,  11, 3,  8,  9, 14, 15, 5,  2,  8,  12, 3,  7, 0, 4, 10,
     1,  13, 11, 6,  4,  3,  2,  12, 9,  5,  15, 10, 11, 14, 1,  7,  6,  0,  8, 13},
    {4,  11, 2,  14, 15, 0, 8, 13, 3,  12, 9,  7,  5,  10, 6,  1,  13, 0, 11, 7, 4, 9,
     1,  10, 14, 3,  5,  12, 2, 15, 8, 6,  1,  4,  11, 13, 12, 3, 7,  14, 10, 15, 6, 8,
     0,  5,  9,  2,  6,  11, 13, 8, 1,  4, 10, 7,  9,  5,  0,  15, 14, 2,  3,  12},
    {13, 2,  8,  4,  6,  15, 11, 1,  10, 9,  3, 14, 5,  0,  12, 7, 1, 15, 13, 8,  10, 3,
     7,  4,  12, 5,  6,  11, 0,  14, 9,  2,  7, 11, 4,  1,  9,  12, 14, 2,  0, 6, 10, 13,
     15, 3,  5,  8,  2,  1,  14, 7,  4,  10, 8, 13, 15, 12, 9,  0,  3,  5,  6,  11}};

// Left shifts of the key register, round by round.
constexpr uint8_t kDeslocamentos[16] = {1, 1, 2, 2, 2, 2, 2, 2, 1, 2, 2, 2, 2, 2, 2, 1};

// Bit positions 1 to 8 of a byte.
constexpr uint8_t kMascaraBit[8] = {0x80, 0x40, 0x20, 0x10, 0x08, 0x04, 0x02, 0x01};

// The 16 subkeys of one key (6 bytes each), reference form.
void GeraSubchaves(std::span<const uint8_t, 8> chave, uint8_t subchaves[16][6]) {
  uint8_t registro[7];
  DesPermuta(chave, registro, kEscolha1);
  for (int rodada = 1; rodada <= 16; ++rodada) {
    DesRotacionaChave(registro, rodada);
    DesPermuta(registro, std::span<uint8_t>(subchaves[rodada - 1], 6), kEscolha2);
  }
  LimpaSegura(registro, sizeof registro);
}

// ---- fast form ----

constexpr uint32_t Rotd(uint32_t x, int n) { return n == 0 ? x : (x >> n) | (x << (32 - n)); }
constexpr uint32_t Rote(uint32_t x, int n) { return n == 0 ? x : (x << n) | (x >> (32 - n)); }

// SP tables: for S-box j and a 6-bit input (first bit high), the box's 4-bit
// output put in place j and passed through P, as a 32-bit word (bit 1 highest).
constexpr std::array<std::array<uint32_t, 64>, 8> GeraTabelasSP() {
  std::array<std::array<uint32_t, 64>, 8> sp{};
  for (int j = 0; j < 8; ++j) {
    for (int x = 0; x < 64; ++x) {
      int linha = ((x >> 4) & 2) | (x & 1);
      int coluna = (x >> 1) & 0xF;
      uint32_t s = static_cast<uint32_t>(kCaixasS[j][linha * 16 + coluna]) << (28 - 4 * j);
      uint32_t p = 0;
      for (int i = 0; i < 32; ++i)
        if ((s >> (32 - kPermP[i])) & 1u) p |= 1u << (31 - i);
      sp[j][x] = p;
    }
  }
  return sp;
}
constexpr auto kSP = GeraTabelasSP();

// Swaps the bits of `a` selected by `mascara << n` with the bits of `b` under `mascara`.
inline void TrocaBits(uint32_t& a, uint32_t& b, int n, uint32_t mascara) {
  uint32_t t = ((a >> n) ^ b) & mascara;
  b ^= t;
  a ^= t << n;
}

// Initial permutation as a network of bit-group swaps; (e, d) becomes (L0, R0).
inline void PermutacaoInicial(uint32_t& e, uint32_t& d) {
  TrocaBits(e, d, 4, 0x0f0f0f0fu);
  TrocaBits(e, d, 16, 0x0000ffffu);
  TrocaBits(d, e, 2, 0x33333333u);
  TrocaBits(d, e, 8, 0x00ff00ffu);
  TrocaBits(e, d, 1, 0x55555555u);
}

// Inverse of PermutacaoInicial: the same swaps in reverse order.
inline void PermutacaoFinal(uint32_t& e, uint32_t& d) {
  TrocaBits(e, d, 1, 0x55555555u);
  TrocaBits(d, e, 8, 0x00ff00ffu);
  TrocaBits(d, e, 2, 0x33333333u);
  TrocaBits(e, d, 16, 0x0000ffffu);
  TrocaBits(e, d, 4, 0x0f0f0f0fu);
}

// The round function: the eight 6-bit groups of E(R) are R rotated so that
// each group falls on a byte's low six bits (even groups from one rotation,
// odd groups from the other), matching the layout of the prepared subkeys.
inline uint32_t FuncaoF(uint32_t r, const uint32_t k[2]) {
  uint32_t u = Rotd(r, 3) ^ k[0];
  uint32_t v = Rote(r, 1) ^ k[1];
  return kSP[0][(u >> 24) & 63] ^ kSP[2][(u >> 16) & 63] ^ kSP[4][(u >> 8) & 63] ^ kSP[6][u & 63] ^
         kSP[1][(v >> 24) & 63] ^ kSP[3][(v >> 16) & 63] ^ kSP[5][(v >> 8) & 63] ^ kSP[7][v & 63];
}

// Sixteen rounds on (l, r) in place, ending with the halves swapped as the
// standard does before the final permutation.
inline void Rodadas(uint32_t& l, uint32_t& r, int direcao, const EscalaDes& escala) {
  if (direcao == DES_CIFRA) {
    for (int i = 0; i < 16; i += 2) {
      l ^= FuncaoF(r, escala.Subchave[i]);
      r ^= FuncaoF(l, escala.Subchave[i + 1]);
    }
  } else {
    for (int i = 15; i > 0; i -= 2) {
      l ^= FuncaoF(r, escala.Subchave[i]);
      r ^= FuncaoF(l, escala.Subchave[i - 1]);
    }
  }
  uint32_t t = l;
  l = r;
  r = t;
}

inline uint32_t Le32(const uint8_t* p) {
  return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | uint32_t{p[3]};
}
inline void Grava32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v >> 24);
  p[1] = static_cast<uint8_t>(v >> 16);
  p[2] = static_cast<uint8_t>(v >> 8);
  p[3] = static_cast<uint8_t>(v);
}

}  // namespace

void DesPermuta(std::span<const uint8_t> origem, std::span<uint8_t> destino, std::span<const uint8_t> tabela) {
  for (auto& b : destino) b = 0;
  for (size_t i = 0; i < tabela.size() && i / 8 < destino.size(); ++i) {
    size_t bit = tabela[i];
    if (bit == 0 || bit > origem.size() * 8) continue;
    --bit;
    if (origem[bit / 8] & kMascaraBit[bit % 8]) destino[i / 8] |= kMascaraBit[i % 8];
  }
}

void DesRotacionaChave(std::span<uint8_t, 7> registro, int rodada) {
  if (rodada < 1 || rodada > 16) return;
  uint64_t cd = 0;
  for (uint8_t b : registro) cd = (cd << 8) | b;
  const int n = kDeslocamentos[rodada - 1];
  constexpr uint64_t kMeia = (uint64_t{1} << 28) - 1;
  uint64_t c = (cd >> 28) & kMeia;
  uint64_t d = cd & kMeia;
  c = ((c << n) | (c >> (28 - n))) & kMeia;
  d = ((d << n) | (d >> (28 - n))) & kMeia;
  cd = (c << 28) | d;
  for (int i = 6; i >= 0; --i) {
    registro[static_cast<size_t>(i)] = static_cast<uint8_t>(cd);
    cd >>= 8;
  }
}

void DesBloco(int direcao, std::span<const uint8_t, 8> entrada, std::span<const uint8_t, 8> chave,
              std::span<uint8_t, 8> saida) {
  uint8_t subchaves[16][6];
  GeraSubchaves(chave, subchaves);

  uint8_t lr[8];
  DesPermuta(entrada, lr, kPermInicial);
  uint8_t* l = lr;
  uint8_t* r = lr + 4;
  uint8_t expandido[6], caixas[4], f[4];
  for (int rodada = 0; rodada < 16; ++rodada) {
    const uint8_t* k = subchaves[direcao == DES_CIFRA ? rodada : 15 - rodada];
    DesPermuta(std::span<const uint8_t>(r, 4), expandido, kExpansao);
    for (int i = 0; i < 6; ++i) expandido[i] ^= k[i];
    for (auto& b : caixas) b = 0;
    for (int j = 0; j < 8; ++j) {
      int grupo = 0;
      for (int b = 0; b < 6; ++b) {
        int bit = 6 * j + b;
        grupo = (grupo << 1) | ((expandido[bit / 8] & kMascaraBit[bit % 8]) ? 1 : 0);
      }
      int linha = ((grupo >> 4) & 2) | (grupo & 1);
      int coluna = (grupo >> 1) & 0xF;
      uint8_t s = kCaixasS[j][linha * 16 + coluna];
      caixas[j / 2] |= static_cast<uint8_t>((j % 2 == 0) ? s << 4 : s);
    }
    DesPermuta(caixas, f, kPermP);
    for (int i = 0; i < 4; ++i) {
      uint8_t novo = static_cast<uint8_t>(l[i] ^ f[i]);
      l[i] = r[i];
      r[i] = novo;
    }
  }
  uint8_t pre[8];
  for (int i = 0; i < 4; ++i) {
    pre[i] = r[i];
    pre[i + 4] = l[i];
  }
  DesPermuta(pre, saida, kPermFinal);

  LimpaSegura(subchaves, sizeof subchaves);
  LimpaSegura(lr, sizeof lr);
  LimpaSegura(pre, sizeof pre);
  LimpaSegura(expandido, sizeof expandido);
  LimpaSegura(caixas, sizeof caixas);
  LimpaSegura(f, sizeof f);
}

void TriploDesBloco(int direcao1, int direcao2, int direcao3, std::span<uint8_t, 8> bloco, int ordem) {
  const EstadoCripto& c = LibState.cripto;
  const uint8_t* chaves[3] = {c.ChaveCripto1, c.ChaveCripto2, c.ChaveCripto3};
  if (ordem != ORDEM_CHAVES_123) {
    chaves[0] = c.ChaveCripto3;
    chaves[2] = c.ChaveCripto1;
  }
  const int direcoes[3] = {direcao1, direcao2, direcao3};
  for (int i = 0; i < 3; ++i)
    DesBloco(direcoes[i], bloco, std::span<const uint8_t, 8>(chaves[i], 8), bloco);
}

void DesPreparaEscala(std::span<const uint8_t, 8> chave, EscalaDes& escala) {
  uint8_t subchaves[16][6];
  GeraSubchaves(chave, subchaves);
  for (int i = 0; i < 16; ++i) {
    uint64_t k = 0;
    for (int b = 0; b < 6; ++b) k = (k << 8) | subchaves[i][b];
    uint32_t grupos[8];
    for (int j = 0; j < 8; ++j) grupos[j] = static_cast<uint32_t>((k >> (42 - 6 * j)) & 63);
    escala.Subchave[i][0] = (grupos[0] << 24) | (grupos[2] << 16) | (grupos[4] << 8) | grupos[6];
    escala.Subchave[i][1] = (grupos[1] << 24) | (grupos[3] << 16) | (grupos[5] << 8) | grupos[7];
    LimpaSegura(grupos, sizeof grupos);
    k = 0;
  }
  LimpaSegura(subchaves, sizeof subchaves);
}

void DesBlocoRapido(int direcao, const EscalaDes& escala, std::span<const uint8_t, 8> entrada,
                    std::span<uint8_t, 8> saida) {
  uint32_t l = Le32(entrada.data());
  uint32_t r = Le32(entrada.data() + 4);
  PermutacaoInicial(l, r);
  Rodadas(l, r, direcao, escala);
  PermutacaoFinal(l, r);
  Grava32(saida.data(), l);
  Grava32(saida.data() + 4, r);
}

void TriploDesBlocoRapido(int direcao1, int direcao2, int direcao3, const EscalaDes& chave1,
                          const EscalaDes& chave2, const EscalaDes& chave3, std::span<uint8_t, 8> bloco) {
  uint32_t l = Le32(bloco.data());
  uint32_t r = Le32(bloco.data() + 4);
  // The final permutation of one step and the initial one of the next cancel out.
  PermutacaoInicial(l, r);
  Rodadas(l, r, direcao1, chave1);
  Rodadas(l, r, direcao2, chave2);
  Rodadas(l, r, direcao3, chave3);
  PermutacaoFinal(l, r);
  Grava32(bloco.data(), l);
  Grava32(bloco.data() + 4, r);
}
