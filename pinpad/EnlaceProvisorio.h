#pragma once
// Link operations used by the command set, declared here until the link
// module's own headers are in place (same names and parameter lists).
#include <cstdint>

int32_t PinPadEnviaComando(const char* codigo, ...);
int32_t PinPadRecebeResposta(int32_t espera, char* codigo, ...);
int32_t PortaAbre(const char* porta, int32_t velocidade);
int32_t PortaFecha();
int32_t PortaLe(int32_t timeoutMs, uint8_t* buffer, int32_t capacidade);
int32_t PortaEscreve(const uint8_t* dados, int32_t tamanho);
