#pragma once
// A host application for host link mode, for tests: it opens each message the
// library hands it (with its own triple-DES code on OpenSSL, not the library's),
// carries it to the pinpad (simpinpad) over the pty in a serial frame (an SC5000
// frame for the SC5000 codes 753 and 754), and envelopes the pinpad's answers
// back. It can also misbehave on purpose.
#include <cstdint>
#include <string>

namespace hostteste {

enum class Falha {
  Nenhuma,
  Cancela,       // every receive reports the operation cancelled (-13)
  FalhaEnvio,    // every send of a message fails (-1)
  OutrasChaves,  // answers are enveloped with other keys
};

struct Config {
  std::string chaves[3];  // 16 hexadecimal characters each
  bool otimizada = false;  // answers in the optimised form instead of whole envelopes
  Falha falha = Falha::Nenhuma;
  std::string log;  // file receiving "<code> <text>" per exchanged text ("" = none)
  // When set, the next SC5000 answer (754) is this text instead of the pinpad's.
  std::string respostaSC5000;
};

void Configura(const Config& config);

// The two host functions to install with DefineFuncoesHost.
int32_t HostComando(int32_t operacao, const char* texto);
int32_t HostRecebe(int32_t a, int32_t operacao, int32_t b, int32_t capacidade, uint8_t* celula, char* buffer);

// The host's own envelope code, exposed for the tests' checks.
std::string Envelopa(const std::string& mensagem, const std::string chaves[3]);
// Opens any form; false when the header does not match or the text is malformed.
bool Abre(const std::string& texto, const std::string chaves[3], std::string& mensagem);

}  // namespace hostteste
