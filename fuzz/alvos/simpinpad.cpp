// simpinpad's own frame parser: bytes from the library (or from anything
// attached to the device), in chunks, cut into events; the request fields of
// every good frame split as the simulator does.
#include "fuzz/ApoioFuzz.h"
#include "sim/SimProtocolo.h"

using fuzz::Leitor;
using namespace sim;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* dados, size_t tamanho) {
  Leitor l(dados, tamanho);
  const uint8_t modo = l.Byte();
  const std::string bytes = l.Resto();
  Recebedor rec((modo & 1) != 0);
  size_t pos = 0, consumidos = 0;
  uint32_t x = 0x2545F491u ^ modo;
  while (pos < bytes.size()) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    const size_t k = std::min<size_t>(1 + x % 24, bytes.size() - pos);
    rec.Acrescenta(bytes.data() + pos, k);
    pos += k;
    for (;;) {
      Evento ev = rec.Proximo();
      if (ev.tipo == TipoEvento::Nada) break;
      FUZZ_EXIGE(!ev.bytes.empty());
      consumidos += ev.bytes.size();
      if (ev.tipo == TipoEvento::Quadro) {
        // As the simulator takes the text between the code and ETB.
        std::vector<std::string> campos;
        (void)SeparaCampos(std::string_view(ev.bytes).substr(4, ev.bytes.size() - 7), campos);
      }
      (void)HexEspacado(ev.bytes);
      (void)Imprimivel(ev.bytes);
    }
    // Sometimes a silence: what is held is given up.
    if ((modo & 2) && (x & 7) == 0) {
      Evento ev = rec.Abandona();
      consumidos += ev.bytes.size();
    }
  }
  Evento ev = rec.Abandona();
  consumidos += ev.bytes.size();
  FUZZ_EXIGE(consumidos <= bytes.size());
  return 0;
}
