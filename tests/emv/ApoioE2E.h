#pragma once
// Small helpers shared by the chip, EMV bridge and SC5000 end-to-end suites.
#include <chrono>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "pinpad/ppcomp.h"

namespace apoioe2e {

// Polls a Get operation until its answer is final (neither still processing nor
// a notification), for at most 20 seconds.
template <typename F>
int32_t Consulta(F f) {
  auto limite = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  int32_t r;
  while (((r = f()) == PPCOMP_PROCESSING || r == PPCOMP_NOTIFY) && std::chrono::steady_clock::now() < limite)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  return r;
}

// The bytes of every line of simpinpad's log of one direction and kind
// ("RX QUADRO": frames the library sent; "RX SC5000": its SC5000 frames).
inline std::vector<std::string> Quadros(const std::string& log, const std::string& tipo) {
  std::vector<std::string> r;
  std::istringstream in(log);
  const std::string marca = " " + tipo + " ";
  for (std::string linha; std::getline(in, linha);) {
    size_t p = linha.find(marca);
    if (p == std::string::npos) continue;
    p += marca.size();
    std::istringstream hex(linha.substr(p, linha.find('|') - p));
    std::string bytes;
    for (std::string b; hex >> b;) bytes += static_cast<char>(std::stoi(b, nullptr, 16));
    r.push_back(bytes);
  }
  return r;
}

inline bool Contem(const std::vector<std::string>& quadros, const std::string& trecho) {
  for (const auto& q : quadros)
    if (q.find(trecho) != std::string::npos) return true;
  return false;
}

}  // namespace apoioe2e
