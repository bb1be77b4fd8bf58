#include "link/CifraEnlace.h"

#include "pinpad/ppcomp.h"

// SEAM: placeholders until the link encryption is in place. They fail, so host
// link mode reports an encryption error instead of sending anything in clear.
int32_t PinPadEscreve(int32_t, const char*, int32_t) { return PPCOMP_QXCRIPTERR; }

int32_t PinPadLe(int32_t, char*, int32_t) { return -PPCOMP_QXCRIPTERR; }
