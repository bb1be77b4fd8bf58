#pragma once
// Fields of the pinpad command set: wait flag, card-read flag, port name.
#include <cstdint>

struct EstadoComandos {
  // 1: the last command sent is answered at once (blocking); 0: it was a Start
  // command whose answer is collected by polling.
  int32_t AguardaResposta = 0;
  // 1 after a successful PP_Comp_GetCard, back to 0 when "OPN" is sent.
  int32_t CartaoLido = 0;
  // Port given to PP_Comp_Open: at most 20 characters, zero-terminated.
  char NomePortaPinPad[21] = {};
};
