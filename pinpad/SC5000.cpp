#include "pinpad/SC5000.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

int Tamanho(int n, size_t cap) { return n < 0 ? 0 : (n >= static_cast<int>(cap) ? static_cast<int>(cap) - 1 : n); }

}  // namespace

// The precision already pads the key index with zeros to three digits.
int FormataSelecionaChaveSC5000(std::span<char, TamComandoSC5000> buf, const char* keyIndex) {
  std::memset(buf.data(), 0, buf.size());
  int n = std::snprintf(buf.data(), buf.size(), "%2.2s#%.3d", "08", keyIndex ? std::atoi(keyIndex) : 0);
  return Tamanho(n, buf.size());
}

int FormataEntradaSenhaSC5000(std::span<char, TamComandoSC5000> buf, const char* pan, const char* workingKey,
                              bool limites, int minimo, int maximo) {
  std::memset(buf.data(), 0, buf.size());
  if (!pan) pan = "";
  int n;
  if (!limites) {
    if (workingKey)
      n = std::snprintf(buf.data(), buf.size(), "%3.3s.016%16.16s%c%16.16s0412N%s%c%c %c", "Z62", workingKey, FS, pan,
                        "Senha", FS, FS, FS);
    else
      n = std::snprintf(buf.data(), buf.size(), "%3.3s.%c%16.16s0412N%s%c%c %c", "Z62", FS, pan, "Senha", FS, FS, FS);
  } else {
    if (minimo < 0) minimo = 0;
    if (maximo > 12) maximo = 12;
    // Two digits each, whatever the caller passed.
    if (minimo > 99) minimo = 99;
    if (maximo < 0) maximo = 0;
    if (workingKey)
      n = std::snprintf(buf.data(), buf.size(), "%3.3s.016%16.16s%c%16.16s%02d%02dN%s%c%c %c", "Z62", workingKey, FS,
                        pan, minimo, maximo, "Senha", FS, FS, FS);
    else
      n = std::snprintf(buf.data(), buf.size(), "%3.3s.%c%16.16s%02d%02dN%s%c%c %c", "Z62", FS, pan, minimo, maximo,
                        "Senha", FS, FS, FS);
  }
  return Tamanho(n, buf.size());
}

int FormataLeituraCartaoSC5000(std::span<char, TamComandoSC5000> buf, const char* keyIndex, const char* workingKey) {
  std::memset(buf.data(), 0, buf.size());
  int n = std::snprintf(buf.data(), buf.size(), "%3.3s%.3d%16.16s", "Q42", keyIndex ? std::atoi(keyIndex) : 0,
                        workingKey ? workingKey : "");
  return Tamanho(n, buf.size());
}

const char* ExtraiTrilhasSC5000(std::string_view resposta, std::span<char> trilha1, std::span<char> trilha2) {
  std::string_view resto = resposta.size() > 3 ? resposta.substr(3) : std::string_view{};
  size_t fs2 = resto.find(FS);
  if (fs2 == std::string_view::npos) return "Trilha 2 indefinida";
  if (fs2 >= trilha2.size()) return "Trilha 2 maior que o buffer";
  std::memcpy(trilha2.data(), resto.data(), fs2);
  trilha2[fs2] = '\0';
  resto.remove_prefix(fs2 + 1);
  size_t fs1 = resto.find(FS);
  if (fs1 == std::string_view::npos) return "Trilha 1 indefinida";
  if (fs1 >= trilha1.size()) return "Trilha 1 maior que o buffer";
  std::memcpy(trilha1.data(), resto.data(), fs1);
  trilha1[fs1] = '\0';
  return nullptr;
}
