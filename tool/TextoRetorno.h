#pragma once
// Text of a PPCOMP_* return code for the tool's console lines.
#include <cstdint>

// Returns a pointer to one static buffer holding the code's Latin-1 text. Each
// lookup overwrites it: copy the first text before asking for a second. A code
// without a text (a gap in the table, above 100, or negative) yields "".
const char* TextoRetorno(uint32_t codigo);
