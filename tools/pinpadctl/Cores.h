#pragma once
// Colour on a terminal: OK and compatible in green, failures in red, the rest
// in yellow. Only when the stream is a terminal, TERM is not "dumb" and
// NO_COLOR is unset or empty (no-color.org), so a pipe or a file never gets
// escape sequences.
#include <cstdio>
#include <string>
#include <string_view>

namespace pinpadctl {

enum class Cor { Verde, Vermelho, Amarelo };

bool CoresEm(FILE* f);

// `texto` wrapped in the colour's escape sequences when `ativo`.
std::string Colore(std::string_view texto, Cor cor, bool ativo);

}  // namespace pinpadctl
