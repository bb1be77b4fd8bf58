#include "tools/pinpadctl/Cores.h"

#include <unistd.h>

#include <cstdlib>
#include <cstring>

namespace pinpadctl {

bool CoresEm(FILE* f) {
  const char* semCor = std::getenv("NO_COLOR");
  if (semCor && *semCor) return false;
  const char* term = std::getenv("TERM");
  if (term && std::strcmp(term, "dumb") == 0) return false;
  return isatty(fileno(f)) != 0;
}

std::string Colore(std::string_view texto, Cor cor, bool ativo) {
  if (!ativo) return std::string(texto);
  const char* inicio = cor == Cor::Verde ? "\033[32m" : cor == Cor::Vermelho ? "\033[31m" : "\033[33m";
  return inicio + std::string(texto) + "\033[0m";
}

}  // namespace pinpadctl
