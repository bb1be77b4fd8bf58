#include "state/LibState.h"

// Initialised from the members' default values at load time; no constructor runs.
constinit EstadoLib LibState{};
