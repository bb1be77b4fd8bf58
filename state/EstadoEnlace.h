#pragma once
// Fields of the link framing: frame buffers and counters.
#include <cstdint>

struct EstadoEnlace {
};
