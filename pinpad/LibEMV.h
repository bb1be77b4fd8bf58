#pragma once
// Bridge to the external EMV library libemv.so: loading, the value identifiers
// of its operations, the option parser of PP_AtivaLibEMV, and the operation
// table of EMV-library mode. PP_AtivaLibEMV, PP_StartGetChip, PP_GetChip and
// PP_ResumeGetChip are declared in the public header.
#include <cstddef>
#include <cstdint>

#include "pinpad/pinpad.h"

// Where libemv.so is looked for (two attempts, in this order):
//  1. <dir>/libemv.so, dir being LibState.libemv.DiretorioLibEMV when it holds an
//     absolute path, else the folder the pinpad library itself was loaded from
//     (the executable's folder when it is linked statically);
//  2. "libemv.so" through the dynamic loader's own search path (rpath,
//     LD_LIBRARY_PATH, the loader cache, the system folders).
// The current working directory is never searched: whoever can write there could
// otherwise run code inside the terminal's process.
// Returns 0 when loaded (every LE_* symbol resolved, LE_Create called), else
// PPCOMP_NOFUNC; one missing symbol or a file that is not a shared object leaves
// nothing loaded.
int32_t CarregaLibEMV();
// Closes libemv.so and clears every slot; LE_Free is not called. Returns 0.
int32_t DescarregaLibEMV();
// 1 while libemv.so is loaded, else 0.
int32_t LibEMVCarregada();

// Value identifiers: input k of operation n, and the output of operation n.
constexpr int32_t IdEntradaLibEMV(int32_t n, int32_t k) { return 80000 + 10 * n + k; }
constexpr int32_t IdSaidaLibEMV(int32_t n) { return 90000 + 10 * n; }

// Starts EMV-library operation n with up to three inputs (null ones are not
// sent); "still processing" from LE_Execute is a successful start.
int32_t LibEMVInicia(int32_t n, const char* entrada0, const char* entrada1, const char* entrada2);
// Polls operation n: PPCOMP_PROCESSING, PPCOMP_NOTIFY with the message copied,
// 0 with the output fetched, or the library's error code.
int32_t LibEMVContinua(int32_t n, char* saida, char* mensagem);

// Finds "<abre>name=value<fecha>" in texto (or "<alt>name=" when not found with
// abre and alt is not 0; then alt also ends the value when it comes before fecha)
// and copies the value, terminated, into saida. Returns 1 when found and it fits
// in tamanho - 1 characters, else 0.
int32_t ExtraiParametroDelimitado(const char* texto, const char* nome, char* saida, int32_t tamanho, char abre,
                                  char fecha, char alternativo);

// LE_ConfigTerminal with the store/terminal configuration; PPCOMP_NOFUNC when not loaded.
int32_t ConfiguraTerminalLibEMV(const char* loja, const char* terminal, int32_t usaLojaTerminal, int32_t valor,
                                const char* parametros);
// LE_GetValue(instance, identificador, saida) and its result; PPCOMP_NOFUNC when not loaded.
int32_t LibEMVObtemValor(int32_t identificador, char* saida);
