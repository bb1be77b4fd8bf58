// Installs the test host in a program that knows nothing of host link mode
// (Kolvar), when preloaded into it. Configured by the environment:
//   HOSTTESTE_CHAVES    "k1:k2:k3", 16 hexadecimal characters each
//   HOSTTESTE_OTIMIZADA 1: answers in the optimised form
//   HOSTTESTE_CONFIG    library configuration file to load (e.g. to choose
//                       the optimised form on the library's side)
//   HOSTTESTE_LOG       file receiving every text exchanged with the library
#include <cstdlib>
#include <string>

#include "pinpad/pinpad.h"
#include "tests/hostlink/HostTeste.h"

namespace {

__attribute__((constructor)) void InstalaHostTeste() {
  const char* chaves = std::getenv("HOSTTESTE_CHAVES");
  if (chaves == nullptr) return;
  hostteste::Config c;
  std::string s = chaves;
  for (int i = 0; i < 3 && s.size() >= 16 * (static_cast<size_t>(i) + 1); ++i) c.chaves[i] = s.substr(17 * static_cast<size_t>(i), 16);
  const char* otimizada = std::getenv("HOSTTESTE_OTIMIZADA");
  c.otimizada = otimizada && otimizada[0] == '1';
  const char* log = std::getenv("HOSTTESTE_LOG");
  if (log) c.log = log;
  hostteste::Configura(c);
  if (const char* config = std::getenv("HOSTTESTE_CONFIG")) {
    DefineArquivoConfiguracao(config);
    CarregaConfiguracaoPinPad();
  }
  DefineFuncoesHost(hostteste::HostRecebe, hostteste::HostComando);
}

}  // namespace
