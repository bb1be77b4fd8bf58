#pragma once
// Fields of the SC5000 commands.
#include <cstdint>

struct EstadoSC5000 {
};
