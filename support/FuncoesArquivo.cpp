#include "support/FuncoesArquivo.h"

namespace {
constexpr unsigned char kPadroesLimpeza[10] = {0x00, 0x01, 0xFF, 0x88, 0x00, 0x33, 0xAA, 0xFF, 0x77, 0x00};
}

void* LimpaSegura(void* buffer, size_t tamanho) {
  if (buffer == nullptr) return buffer;
  volatile unsigned char* p = static_cast<volatile unsigned char*>(buffer);
  for (unsigned char padrao : kPadroesLimpeza)
    for (size_t i = 0; i < tamanho; ++i) p[i] = padrao;
  return buffer;
}
