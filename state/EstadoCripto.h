#pragma once
// Fields of the cipher module: the envelope keys.
#include <cstdint>

struct EstadoCripto {
};
