// The framed receive, both framings: bytes that arrive on the serial line in
// chunks (ACK, NAK, EOT and CAN anywhere among them) after the library sent a
// command, read into field buffers of the caller's capacities.
#include <cstring>

#include "fuzz/ApoioFuzz.h"
#include "link/Enlace.h"
#include "link/Serial.h"
#include "pinpad/ppcomp.h"

using fuzz::BufferSujo;
using fuzz::Leitor;

namespace {

// The library's limits: 3 attempts of 2 s per byte for an acknowledgement, a
// little over 10 s for an answer; polls add nothing. Anything far past that is
// a hang.
constexpr int64_t kLimiteMs = 120000;

void Framed(Leitor& l, uint8_t modo) {
  const int nCampos = 1 + modo % 4;
  int32_t caps[4];
  for (int i = 0; i < 4; ++i) caps[i] = 1 + l.Dois() % 1100;  // above 999 is lowered by the library
  std::string entrada = l.Resto();
  if (modo & 0x10) {
    // Send a command first: the input then also answers it (ACK, NAK, ...).
    fuzz::LinhaInicia(entrada, modo, 1 + (modo >> 5));
    FUZZ_EXIGE(PortaAbre("fuzz", 19200) == PPCOMP_OK);
    const int32_t r = PinPadEnviaComando("GIN", 2, "00", -1);
    FUZZ_EXIGE(r >= 0 && r <= 999);
    if (r != PPCOMP_OK) return;
  } else {
    fuzz::LinhaInicia(entrada, modo, 1 + (modo >> 5));
    FUZZ_EXIGE(PortaAbre("fuzz", 19200) == PPCOMP_OK);
  }
  BufferSujo b0(static_cast<size_t>(caps[0])), b1(static_cast<size_t>(caps[1])), b2(static_cast<size_t>(caps[2])),
      b3(static_cast<size_t>(caps[3]));
  int32_t t[4];
  BufferSujo cod(4);
  for (int volta = 0; volta < 8; ++volta) {
    for (int i = 0; i < 4; ++i) t[i] = caps[i];
    const int aguarda = (modo & 0x08) ? 0 : 1;
    int32_t r;
    switch (nCampos) {
      case 1: r = PinPadRecebeResposta(aguarda, cod.p(), &t[0], b0.p(), nullptr); break;
      case 2: r = PinPadRecebeResposta(aguarda, cod.p(), &t[0], b0.p(), &t[1], b1.p(), nullptr); break;
      case 3: r = PinPadRecebeResposta(aguarda, cod.p(), &t[0], b0.p(), &t[1], b1.p(), &t[2], b2.p(), nullptr); break;
      default:
        r = PinPadRecebeResposta(aguarda, cod.p(), &t[0], b0.p(), &t[1], b1.p(), &t[2], b2.p(), &t[3], b3.p(),
                                 nullptr);
        break;
    }
    FUZZ_EXIGE(r >= 0 && r <= 999);
    for (int i = 0; i < nCampos; ++i) {
      const int32_t efetiva = caps[i] > 999 ? 999 : caps[i];
      // A field read is cut to the (lowered) capacity; a pair beyond the
      // answer's fields keeps its length.
      FUZZ_EXIGE(t[i] == caps[i] || (t[i] >= 0 && t[i] <= efetiva));
    }
    if (r != PPCOMP_PROCESSING && r != PPCOMP_NOTIFY) break;
    if (!fuzz::LinhaTemDados() && r == PPCOMP_PROCESSING && aguarda == 0) break;
  }
  FUZZ_EXIGE(fuzz::LinhaDecorridoMs() < kLimiteMs);
}

void SC5000(Leitor& l, uint8_t modo) {
  const int32_t cap = 1 + l.Dois() % 600;
  const std::string entrada = l.Resto();
  fuzz::LinhaInicia(entrada, modo, 1 + (modo >> 5));
  FUZZ_EXIGE(PortaAbre("fuzz", 19200) == PPCOMP_OK);
  if (modo & 0x10) {
    const bool si = modo & 0x04;
    const int32_t r = PinPadEnviaSC5000((modo & 0x02) ? "08PIN" : "72", si ? Enlace::SI : Enlace::STX,
                                        si ? Enlace::SO : Enlace::ETX);
    FUZZ_EXIGE(r >= 0 && r <= 999);
    if (r != PPCOMP_OK) return;
  }
  BufferSujo b(static_cast<size_t>(cap));
  for (int volta = 0; volta < 8; ++volta) {
    int32_t tam = -7;
    const int aguarda = (modo & 0x08) ? 0 : 1;
    const int32_t r = PinPadRecebeSC5000(aguarda, b.p(), cap, &tam);
    FUZZ_EXIGE(r >= 0 && r <= 999);
    if (r == PPCOMP_OK) {
      FUZZ_EXIGE(tam >= 0 && tam <= cap);
    }
    if (r != PPCOMP_PROCESSING) break;
    if (!fuzz::LinhaTemDados()) break;
  }
  FUZZ_EXIGE(fuzz::LinhaDecorridoMs() < kLimiteMs);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* dados, size_t tamanho) {
  Leitor l(dados, tamanho);
  const uint8_t modo = l.Byte();
  fuzz::ResetaEstado();
  if (modo & 0x01) SC5000(l, modo);
  else Framed(l, modo);
  PortaFecha();
  return 0;
}
