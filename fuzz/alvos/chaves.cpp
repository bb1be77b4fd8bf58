// The key-control file: its content as read from disk, through the loader
// with the work buffer it lends, and through the key extraction alone.
#include <cstring>
#include <fstream>
#include <span>

#include "cipher/EnvelopeCripto.h"
#include "fuzz/ApoioFuzz.h"
#include "state/LibState.h"

using fuzz::BufferSujo;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* dados, size_t tamanho) {
  static const std::string& pasta = fuzz::PastaTrabalho();  // the loader reads from the working folder
  fuzz::ResetaEstado();
  {
    std::vector<uint8_t> exato(dados, dados + tamanho);
    uint8_t k1[8], k2[8], k3[8];
    const int32_t r = ExtraiChavesCripto(std::span<const uint8_t>(exato.data(), exato.size()), k1, k2, k3);
    FUZZ_EXIGE(r == 0 || r == 1);
  }
  std::ofstream(pasta + "/QXCLICTL.BIN", std::ios::binary | std::ios::trunc)
      .write(reinterpret_cast<const char*>(dados), static_cast<std::streamsize>(tamanho));
  // The documented work buffer, and (from the first byte) a short one.
  const size_t cap = (tamanho > 0 && dados[0] == 0xFF) ? 100 : 2048;
  BufferSujo trabalho(cap);
  const int32_t r = CarregaChavesCripto(std::span<uint8_t>(trabalho.u(), cap));
  FUZZ_EXIGE(r == 0 || r == 1);
  FUZZ_EXIGE(LibState.cripto.CriptoIniciada == r);
  return 0;
}
