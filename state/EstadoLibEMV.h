#pragma once
// Fields of the EMV library bridge: handle, instance, mode.
#include <cstdint>

struct EstadoLibEMV {
};
