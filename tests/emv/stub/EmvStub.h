#pragma once
// Control side of the stand-in libemv.so used by the tests. The stand-in has the
// nineteen LE_* functions of the real library; each call is appended to a log
// ("LE_Open(4242,porta)") and answered from a script set through these calls.
#include <cstdint>

extern "C" {
// Clears the log and the script (every result back to 0, no values, no message).
void EmvStubReinicia(void);
// Results of the next LE_Execute calls, in order ("1,1,2,0"); once used up
// LE_Execute answers 0.
void EmvStubFilaExecute(const char* resultados);
// Fixed result of one function ("LE_Open", "LE_Close", ...); default 0.
void EmvStubRetorno(const char* funcao, int32_t resultado);
// Text that LE_GetValue writes (with its terminator) for an identifier.
void EmvStubValor(int32_t identificador, const char* texto);
// Text that LE_GetStatusMessage writes (with its terminator).
void EmvStubMensagem(const char* texto);
// Every call so far, one line each.
const char* EmvStubRegistro(void);
}

// What LE_Create hands out.
inline constexpr int32_t InstanciaEmvStub = 4242;
