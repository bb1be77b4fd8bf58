#pragma once
// Fields of the entry layer: configuration, first-call flag, operation table, host functions.
#include <cstdint>

struct EstadoApi {
};
