#pragma once
// Fields of the pinpad command set: wait flag, card-read flag, port name.
#include <cstdint>

struct EstadoComandos {
};
