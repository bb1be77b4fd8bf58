#pragma once
// Host link mode: messages travel, encrypted, through the host application's
// functions instead of the serial port.
//
// SEAM: the framing calls these two; until the link encryption is in place
// their bodies only report failure (PPCOMP_QXCRIPTERR / -PPCOMP_QXCRIPTERR).
#include <cstdint>

// Operation codes handed to the host.
inline constexpr int32_t kOpHostEnviaComando = 653;
inline constexpr int32_t kOpHostRecebeResposta = 654;
inline constexpr int32_t kOpHostEnviaSC5000 = 753;
inline constexpr int32_t kOpHostRecebeSC5000 = 754;

// Encrypts `mensagem` (`tamanho` bytes) and hands it to the host with operation
// code `operacao` (653 pinpad command, 753 SC5000 command). Returns a PPCOMP_*
// code or the host's non-negative result.
int32_t PinPadEscreve(int32_t operacao, const char* mensagem, int32_t tamanho);

// Takes one message from the host (operation code 654 or 754), decrypts it into
// `buffer` (`capacidade` bytes) and returns its length, 0 when nothing arrived,
// or -13 (cancelled by the host), -31, -100.
int32_t PinPadLe(int32_t operacao, char* buffer, int32_t capacidade);
