#include "trace/FuncoesTrace.h"

// Placeholders: the record writer replaces these.
TraceCtx* TraceAbre(uint8_t, const char*, const char*, const char*, const char*, int32_t, const char*) {
  return nullptr;
}
void TraceFecha(TraceCtx*) {}
void TraceTexto(const char*, const char*, const char*) {}
void TraceNumero(const char*, const char*, int32_t) {}
void TraceDados(const char*, const char*, int32_t, const void*, int32_t) {}
void TraceBinario(const char*, const char*, const void*, int32_t) {}
void TraceDadosPinPad(const char*, const char*, const void*, int32_t, int32_t) {}
int32_t TraceAtivo() { return 0; }
int32_t TraceChaveValida() { return 0; }
