// Weak stand-ins for the link operations: a library built without the link
// module answers as with a port that is never open. The link module's
// definitions replace these.
#include "pinpad/EnlaceProvisorio.h"

#include "pinpad/ppcomp.h"

__attribute__((weak)) int32_t PinPadEnviaComando(const char*, ...) { return PPCOMP_NOTOPEN; }
__attribute__((weak)) int32_t PinPadRecebeResposta(int32_t, char*, ...) { return PPCOMP_NOTOPEN; }
__attribute__((weak)) int32_t PortaAbre(const char*, int32_t) { return PPCOMP_PORTERR; }
__attribute__((weak)) int32_t PortaFecha() { return PPCOMP_NOTOPEN; }
__attribute__((weak)) int32_t PortaLe(int32_t, uint8_t*, int32_t) { return -PPCOMP_NOTOPEN; }
__attribute__((weak)) int32_t PortaEscreve(const uint8_t*, int32_t) { return PPCOMP_NOTOPEN; }
