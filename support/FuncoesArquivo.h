#pragma once
// Files, time, memory and the secure wipe.
#include <cstddef>
#include <cstdint>

// Overwrites the buffer with the ten wipe patterns in order, ending as zeros.
// Written through a volatile pointer so the optimiser keeps every pass.
void* LimpaSegura(void* buffer, size_t tamanho);
