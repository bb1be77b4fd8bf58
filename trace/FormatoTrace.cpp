#include "trace/FormatoTrace.h"

#include <cstring>

#include "support/FuncoesString.h"

namespace {

// One chained pass: each output byte depends on the previous output byte.
void PassoEncadeado(std::span<uint8_t> v) {
  uint8_t s = 0;
  for (uint8_t& b : v) {
    b = static_cast<uint8_t>((s ^ 0xAA) + (b ^ 0x55) + 0x47);
    s = static_cast<uint8_t>(b + 0x71);
  }
}

// Inverse of one chained pass.
void DesfazPassoEncadeado(std::span<uint8_t> v) {
  uint8_t s = 0;
  for (uint8_t& b : v) {
    const uint8_t c = b;
    b = static_cast<uint8_t>(((c - (s ^ 0xAA) - 0x47) & 0xFF) ^ 0x55);
    s = static_cast<uint8_t>(c + 0x71);
  }
}

void Inverte8(uint8_t* b) {
  for (int i = 0, j = 7; i < j; ++i, --j) {
    uint8_t t = b[i];
    b[i] = b[j];
    b[j] = t;
  }
}

}  // namespace

void TrocaPosicoesTrace(std::span<uint8_t> v) {
  if (v.size() < 2) return;
  size_t i = 0, j = v.size() - 1, passo = 1;
  while (i < j) {
    uint8_t t = v[i];
    v[i] = v[j];
    v[j] = t;
    i += passo;
    j -= 1;
    if (++passo == 5) passo = 1;
  }
}

void EmbaralhaValorTrace(std::span<uint8_t> v) {
  PassoEncadeado(v);
  TrocaPosicoesTrace(v);
  PassoEncadeado(v);
}

namespace {
// One step of the chained pass: the new byte from the last output byte and the
// input byte.
inline uint8_t Encadeia(uint8_t anterior, uint8_t b) {
  return static_cast<uint8_t>(((anterior + 0x71) ^ 0xAA) + (b ^ 0x55) + 0x47);
}
}  // namespace

void CopiaEmbaralhadoTrace(const uint8_t* origem, uint8_t* destino, size_t n) {
  if (n == 0) return;
  // The chained pass starts from s = 0, which is what an "output byte" of
  // 0x8F gives: (0x8F + 0x71) mod 256 = 0.
  uint8_t anterior = 0x8F;
#pragma GCC unroll 8
  for (size_t k = 0; k < n; ++k) destino[k] = anterior = Encadeia(anterior, origem[k]);
  // The exchange pass swaps each position at most once, always with a
  // position further on; making the swap at i when the chained pass reaches i
  // hands every position its exchanged value before it is chained.
  anterior = 0x8F;
  size_t k = 0, i = 0, j = n - 1, passo = 1;
  while (i < j) {
    for (; k < i; ++k) destino[k] = anterior = Encadeia(anterior, destino[k]);
    const uint8_t t = destino[i];
    destino[i] = destino[j];
    destino[j] = t;
    destino[k] = anterior = Encadeia(anterior, destino[k]);
    ++k;
    i += passo;
    j -= 1;
    if (++passo == 5) passo = 1;
  }
#pragma GCC unroll 8
  for (; k < n; ++k) destino[k] = anterior = Encadeia(anterior, destino[k]);
}

void ChaveTraceParaValidade(const char* chave, char inicio[9], char fim[9]) {
  inicio[0] = fim[0] = '\0';
  if (chave == nullptr) return;
  // A key shorter than 16 digits is padded with NULs, which count as 0.
  char digitos[17] = {};
  std::strncpy(digitos, chave, 16);
  uint8_t bytes[8];
  HexParaBytes(bytes, digitos, 8);
  // key pass, reversal, key pass, reversal, key pass
  Desembaralha(bytes, 8);
  for (int k = 0; k < 2; ++k) {
    Inverte8(bytes);
    Desembaralha(bytes, 8);
  }
  char hex[16];
  BytesParaHex(hex, bytes, 8);
  std::memcpy(inicio, hex, 8);
  inicio[8] = '\0';
  std::memcpy(fim, hex + 8, 8);
  fim[8] = '\0';
}

void DesembaralhaValorTrace(std::span<uint8_t> v) {
  DesfazPassoEncadeado(v);
  TrocaPosicoesTrace(v);
  DesfazPassoEncadeado(v);
}

int ValidadeParaChaveTrace(const char* inicio, const char* fim, char chave[17]) {
  chave[0] = '\0';
  if (inicio == nullptr || fim == nullptr || std::strlen(inicio) != 8 || std::strlen(fim) != 8) return -1;
  char digitos[17];
  std::memcpy(digitos, inicio, 8);
  std::memcpy(digitos + 8, fim, 8);
  uint8_t bytes[8];
  HexParaBytes(bytes, digitos, 8);
  Embaralha(bytes, 8);
  for (int k = 0; k < 2; ++k) {
    Inverte8(bytes);
    Embaralha(bytes, 8);
  }
  BytesParaHex(chave, bytes, 8);
  chave[16] = '\0';
  return 0;
}
