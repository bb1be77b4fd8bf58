#pragma once
// Fields of the EMV library bridge: handle, instance, mode.
#include <cstdint>

struct EstadoLibEMV {
  // 1 while TabelaFuncoes holds the EMV library's operations, 0 in internal mode.
  int32_t LibEMVAtiva = 0;
};
