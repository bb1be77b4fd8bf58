#pragma once
// Bridge to the external EMV library (libemv.so) and the switch of the
// operation table between the library's own command set and that library.
//
// Internal mode is complete here. The loader reports the EMV library as absent
// and the EMV-library mode leaves every slot empty (PPCOMP_NOFUNC) until the
// bridge to libemv.so is in place.
#include <cstdint>

#include "pinpad/pinpad.h"

// Loads libemv.so and resolves its functions: 0, or PPCOMP_NOFUNC when absent.
int32_t CarregaLibEMV();
// Unloads it (no-op when not loaded). Returns 0.
int32_t DescarregaLibEMV();
// 1 while libemv.so is loaded.
int32_t LibEMVCarregada();
// Value `identificador` of the EMV library into saida; PPCOMP_NOFUNC when not loaded.
int32_t LibEMVObtemValor(int32_t identificador, char* saida);
// Hands store, terminal and trace options to the EMV library; PPCOMP_NOFUNC when not loaded.
int32_t ConfiguraTerminalLibEMV(const char* loja, const char* terminal, int32_t usaLojaTerminal, int32_t valor,
                                const char* parametros);
// Finds "{nome=valor}" (openChar, closeChar; altChar 0 for none) in texto and
// copies the value into saida (tamanho bytes). 1 when found, else 0.
int32_t ExtraiParametroDelimitado(const char* texto, const char* nome, char* saida, int32_t tamanho, char abre,
                                  char fecha, char alternativo);
