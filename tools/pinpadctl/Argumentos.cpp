#include "tools/pinpadctl/Argumentos.h"

#include <cstdlib>

namespace pinpadctl {

bool InteiroEstrito(std::string_view s, long minimo, long maximo, long& valor) {
  // More digits than a long holds cannot be in range anyway.
  if (s.empty() || s.size() > 18) return false;
  long v = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + (c - '0');
  }
  if (v < minimo || v > maximo) return false;
  valor = v;
  return true;
}

bool SegundosEstritos(std::string_view s, double maximo, double& valor) {
  if (s.empty() || s.size() > 24) return false;
  int pontos = 0, digitos = 0;
  for (char c : s) {
    if (c == '.') ++pontos;
    else if (c >= '0' && c <= '9') ++digitos;
    else return false;
  }
  if (pontos > 1 || digitos == 0) return false;
  const double v = std::strtod(std::string(s).c_str(), nullptr);
  if (!(v > 0) || v > maximo) return false;
  valor = v;
  return true;
}

bool FaixaEstrita(std::string_view s, int minimo, int maximo, int& de, int& ate) {
  const size_t traco = s.find('-');
  long a = 0, b = 0;
  if (!InteiroEstrito(s.substr(0, traco), minimo, maximo, a)) return false;
  b = a;
  if (traco != std::string_view::npos && !InteiroEstrito(s.substr(traco + 1), minimo, maximo, b)) return false;
  if (a > b) return false;
  de = static_cast<int>(a);
  ate = static_cast<int>(b);
  return true;
}

std::string LinhaVersao(const char* programa) { return std::string(programa) + " " PINPAD_VERSAO "\n"; }

}  // namespace pinpadctl
