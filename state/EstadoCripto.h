#pragma once
// Fields of the cipher module: the envelope keys.
#include <cstdint>

// Round keys of one DES key in the layout of the fast form: per round, the
// subkey's even 6-bit groups in one word and its odd groups in the other.
struct EscalaDes {
  uint32_t Subchave[16][2];
};

struct EstadoCripto {
  uint8_t CriptoIniciada = 0;     // 1 once keys are loaded; nothing sets it back
  uint8_t ChaveCripto1[9] = {};   // 8 key bytes + zero byte
  uint8_t ChaveCripto2[9] = {};
  uint8_t ChaveCripto3[9] = {};
  uint8_t CabecalhoCripto[9] = {};  // header block of every envelope + zero byte

  // Round keys of the three keys for the fast form, rebuilt whenever the key
  // fields no longer match the copy they were made from.
  uint8_t EscalaValida = 0;
  uint8_t ChavesDaEscala[24] = {};
  EscalaDes Escala[3] = {};
};
