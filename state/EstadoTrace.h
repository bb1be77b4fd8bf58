#pragma once
// Fields of the trace: current context, open count, mutex.
#include <cstdint>

struct EstadoTrace {
};
