#include "support/FuncoesString.h"

uint32_t DigitosParaInt(const char* texto, int n) {
  uint32_t valor = 0;
  if (texto == nullptr) return 0;
  for (int i = 0; i < n; ++i) valor = valor * 10u + (static_cast<unsigned char>(texto[i]) & 0x0Fu);
  return valor;
}
