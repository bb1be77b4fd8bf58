#pragma once
// Fields of the chip-processing parameters (AreaChip).
#include <cstdint>

struct EstadoChip {
};
