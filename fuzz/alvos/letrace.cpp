// The trace decoder behind letrace: a whole trace file as found on disk, read
// record by record, resumed after damage, and formatted as text and JSON.
#include <span>

#include "fuzz/ApoioFuzz.h"
#include "tools/letrace/DecodificaTrace.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* dados, size_t tamanho) {
  const std::vector<uint8_t> exato(dados, dados + tamanho);
  const std::span<const uint8_t> arq(exato.data(), exato.size());
  std::vector<RegistroLido> lidos;
  std::string motivo;
  (void)LeTodosRegistros(arq, lidos, motivo);
  for (const auto& r : lidos) {
    FUZZ_EXIGE(r.deslocamento < tamanho);
    (void)FormataTexto(r);
    (void)FormataJson(r);
    (void)TextoDataHora(r);
  }
  // As letrace goes on after a damaged stretch.
  size_t pos = 0;
  for (int i = 0; i < 1000 && pos < tamanho; ++i) {
    RegistroLido reg;
    const size_t antes = pos;
    if (LeRegistro(arq, pos, reg, motivo)) {
      FUZZ_EXIGE(pos > antes && pos <= tamanho);
      (void)FormataJson(reg);
    } else {
      FUZZ_EXIGE(pos == antes);
      pos = ProximoRegistroValido(arq, pos);
      FUZZ_EXIGE(pos > antes && pos <= tamanho);
    }
  }
  return 0;
}
