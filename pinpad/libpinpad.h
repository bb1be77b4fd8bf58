#pragma once
// Entry layer of the pinpad library: first-call initialisation and the internal
// helpers shared by the PP_* wrappers. The public interface is include/pinpad/pinpad.h.
#include <cstdint>

#include "pinpad/pinpad.h"

inline constexpr char VersaoLib[] = "4.0.0.3";
inline constexpr char CompilacaoLib[] = "r9";

// First-call initialisation: clears PrimeiraChamada, opens the library's trace
// (when abreTrace is set), writes the "IM" records, tries to load the EMV library,
// then selects internal mode. Runs its one-time part only once per process.
void InicializaLibPinPad(int32_t abreTrace);

// Runs InicializaLibPinPad(abreTrace) when it is still pending.
void GaranteInicializacao(int32_t abreTrace = 1);

// The three "IM" records: version, build label, configuration file.
void TraceIdentificacaoLib();
