#pragma once
// Helpers of the cipher suites: hexadecimal, random data, a working directory
// of its own for the key and error files.
#include <unistd.h>

#include <climits>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "common/TestUtil.h"

namespace criptotest {

inline std::vector<uint8_t> DeHex(const std::string& hex) {
  std::vector<uint8_t> v;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) v.push_back(static_cast<uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  return v;
}

inline std::string ParaHex(const uint8_t* p, size_t n) {
  static const char* h = "0123456789ABCDEF";
  std::string s;
  for (size_t i = 0; i < n; ++i) {
    s += h[p[i] >> 4];
    s += h[p[i] & 15];
  }
  return s;
}

inline std::vector<uint8_t> Aleatorios(std::mt19937& gen, size_t n) {
  std::vector<uint8_t> v(n);
  for (auto& b : v) b = static_cast<uint8_t>(gen());
  return v;
}

// Runs the test inside a fresh temporary directory (the cipher files live in
// the working directory) and goes back afterwards.
class NoDiretorioTemp {
 public:
  NoDiretorioTemp() {
    char atual[PATH_MAX];
    if (getcwd(atual, sizeof atual) != nullptr) anterior_ = atual;
    if (chdir(dir_.caminho().c_str()) != 0) anterior_.clear();
  }
  ~NoDiretorioTemp() {
    if (!anterior_.empty() && chdir(anterior_.c_str()) != 0) {
    }
  }
  NoDiretorioTemp(const NoDiretorioTemp&) = delete;
  NoDiretorioTemp& operator=(const NoDiretorioTemp&) = delete;
  const testutil::DiretorioTemp& dir() const { return dir_; }

 private:
  testutil::DiretorioTemp dir_;
  std::string anterior_;
};

}  // namespace criptotest
