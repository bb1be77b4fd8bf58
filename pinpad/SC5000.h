#pragma once
// SC5000 commands: the texts sent and how the answers are taken apart. The
// operations themselves are declared in include/pinpad/sc5000.h.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

inline constexpr char FS = 0x1C;  // field separator inside SC5000 texts
inline constexpr int TamComandoSC5000 = 81;

// "08#" and the three-digit master key index. Returns the text length.
int FormataSelecionaChaveSC5000(std::span<char, TamComandoSC5000> buf, const char* keyIndex);
// "Z62." PIN entry, with or without working key; with limites the minimum and
// maximum PIN lengths (clamped to 0..12) replace "0412". Returns the length.
int FormataEntradaSenhaSC5000(std::span<char, TamComandoSC5000> buf, const char* pan, const char* workingKey,
                              bool limites, int minimo, int maximo);
// "Q42", three-digit key index, 16-character working key. Returns the length.
int FormataLeituraCartaoSC5000(std::span<char, TamComandoSC5000> buf, const char* keyIndex, const char* workingKey);

// Splits a card answer ("81", one character, track 2, FS, track 1, FS, ...) into
// the caller's buffers, each terminated. Returns 0, or the message for the trace
// of what is wrong (track 2 is already copied when track 1 is the problem). A
// track that does not fit its buffer (with its terminator) is refused, not cut.
const char* ExtraiTrilhasSC5000(std::string_view resposta, std::span<char> trilha1, std::span<char> trilha2);
