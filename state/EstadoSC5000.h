#pragma once
// Fields of the SC5000 commands.
#include <cstdint>

struct EstadoSC5000 {
  // Wait flag for the next SC5000 receive: 1 after an operation answered at
  // once, 0 after a Start operation whose answer is collected by polling.
  int32_t AguardaRespostaSC5000 = 0;
};
