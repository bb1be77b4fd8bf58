#pragma once
// Fields of the chip-processing parameters (AreaChip).
#include <cstdint>

// AreaChip's three parts: 0 the caller's Tags list, 1 its TagsOpt list
// (hexadecimal text without count, zero-terminated), 2 the list or field being
// built (3 count digits and hexadecimal text). Each holds the longest tag list
// whole: 3 count digits, 511 bytes as 1022 hexadecimal characters, the
// terminator.
inline constexpr int TamParteAreaChip = 1026;

struct EstadoChip {
  char AreaChip[3][TamParteAreaChip] = {};
};
