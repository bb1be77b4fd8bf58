#pragma once
// Fields of the chip-processing parameters (AreaChip).
#include <cstdint>

// AreaChip's three parts of 1024 bytes: 0 the caller's Tags list, 1 its TagsOpt
// list (hexadecimal text without count, zero-terminated), 2 the list or field
// being built (3 count digits and hexadecimal text).
inline constexpr int TamParteAreaChip = 1024;

struct EstadoChip {
  char AreaChip[3][TamParteAreaChip] = {};
};
