#pragma once
// Fields of the serial driver: open port, write time-out.
#include <cstdint>

struct EstadoSerial {
};
