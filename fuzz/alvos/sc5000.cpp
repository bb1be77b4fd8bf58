// The SC5000 operations that read the pinpad's answers: serial number, PIN
// block, card tracks, display and "G42", over the simulated serial line (or, in
// host link mode, as the host's texts), into outputs of the documented sizes.
#include <cstring>

#include "cipher/EnvelopeCripto.h"
#include "fuzz/ApoioFuzz.h"
#include "pinpad/pinpad.h"
#include "pinpad/sc5000.h"
#include "state/LibState.h"

using fuzz::BufferSujo;
using fuzz::CodigoValido;
using fuzz::Consulta;
using fuzz::Leitor;

namespace {

void Opera(uint8_t op, Leitor& l) {
  switch (op) {
    case 0: {
      BufferSujo saida(17);
      const int32_t r = PP_SC5000_GetSerialNumber(saida.p());
      FUZZ_EXIGE(CodigoValido(r));
      if (r == PPCOMP_OK) FUZZ_EXIGE(std::strlen(saida.p()) == 16);
      break;
    }
    case 1: {
      if (PP_SC5000_StartGetPINEx("1", "5413330089010434", (l.Byte() & 1) ? "0123456789ABCDEF" : nullptr, 4, 12) !=
          PPCOMP_OK)
        break;
      BufferSujo saida(17);
      if (Consulta([&] { return PP_SC5000_GetPIN(saida.p()); }) == PPCOMP_OK)
        FUZZ_EXIGE(std::strlen(saida.p()) == 16);
      break;
    }
    case 2:
    case 3: {
      if (PP_StartGetCardCripto("1", "0123456789ABCDEF") != PPCOMP_OK) break;
      int32_t t1 = PP_SC5000_TAM_TRILHA, t2 = PP_SC5000_TAM_TRILHA;
      if (op == 3) {
        t1 = 1 + l.Byte() % 160;
        t2 = 1 + l.Byte() % 160;
      }
      BufferSujo trilha1(static_cast<size_t>(t1)), trilha2(static_cast<size_t>(t2));
      const int32_t r = Consulta([&] {
        return op == 2 ? PP_SC5000_GetCard(trilha1.p(), trilha2.p())
                       : PP_SC5000_GetCardEx(trilha1.p(), t1, trilha2.p(), t2);
      });
      if (r == PPCOMP_OK) FUZZ_EXIGE(trilha1.Terminado() && trilha2.Terminado());
      break;
    }
    case 4:
      FUZZ_EXIGE(CodigoValido(SC5000Mostra("015 Passe o Cartao")));
      break;
    default:
      FUZZ_EXIGE(CodigoValido(SC5000EnviaG42("1", "0123456789ABCDEF")));
      break;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* dados, size_t tamanho) {
  static const std::string& pasta = fuzz::PastaTrabalho();
  (void)pasta;
  Leitor l(dados, tamanho);
  const uint8_t modo = l.Byte();  // bit 1 host link, bits 4-7 chunk size
  const uint8_t op = l.Byte() % 6;
  const std::string argumentos = l.Texto(2);
  Leitor la(reinterpret_cast<const uint8_t*>(argumentos.data()), argumentos.size());
  fuzz::ResetaEstado();
  fuzz::HostInicia(false);
  if (modo & 2) {
    fuzz::HostLeTextos(l);
    DefineChavesCripto("0123456789ABCDEF", "FEDCBA9876543210", "89ABCDEF01234567");
    LibState.api.FuncaoHostRecebe = fuzz::HostRecebe;
    LibState.api.FuncaoHostComando = fuzz::HostComando;
    fuzz::LinhaInicia("", modo);
  } else {
    fuzz::LinhaInicia(l.Resto(), modo, 1 + (modo >> 4));
  }
  (void)SC5000AbrePorta("fuzz");
  Opera(op, la);
  PP_SC5000_Abort();
  SC5000FechaPorta();
  FUZZ_EXIGE(fuzz::LinhaDecorridoMs() < 600000);
  return 0;
}
