#include "pinpad/ParametrosChip.h"

// Pass-through hooks: the lists go down as the caller gave them and the answers
// come back unfiltered.
const char* ChipPreparaStartGoOnChip(const char*, const char* tagsOpt) { return tagsOpt; }
void ChipTraceStartGoOnChip(const char*, const char*, const char*) {}
void ChipPosProcessaGoOnChip(char*) {}
const char* ChipPreparaFinishChip(const char* tags) { return tags; }
void ChipPosProcessaFinishChip(char*) {}
