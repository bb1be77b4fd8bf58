// Every PP_* operation that parses a pinpad answer, in internal mode: the
// pinpad's bytes come through the serial driver's system-call table in chunks
// (or, in host link mode, as the host's texts), after the operation's own
// request. Output buffers are the caller's: of the documented size, not
// zero-filled. The trace is on (with a valid key) for part of the inputs, so
// the answer filtering and TraceBit55 run too.
#include <dlfcn.h>

#include <cstring>

#include "cipher/EnvelopeCripto.h"
#include "fuzz/ApoioFuzz.h"
#include "link/Serial.h"
#include "pinpad/ParametrosChip.h"
#include "pinpad/pinpad.h"
#include "state/LibState.h"

using fuzz::AteNul;
using fuzz::BufferSujo;
using fuzz::CodigoValido;
using fuzz::Leitor;
using fuzz::TextoC;

namespace {

// The stand-in EMV library's controls (the same instance the library loads).
struct EmvStub {
  void (*Reinicia)() = nullptr;
  void (*FilaExecute)(const char*) = nullptr;
  void (*Valor)(int32_t, const char*) = nullptr;
  void (*Mensagem)(const char*) = nullptr;
  bool ok = false;
};

EmvStub& Stub() {
  static EmvStub s = [] {
    EmvStub e;
    const std::string pasta = fuzz::PastaEmvStub();
    void* h = pasta.empty() ? nullptr : dlopen((pasta + "/libemv.so").c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!h) return e;
    e.Reinicia = reinterpret_cast<void (*)()>(dlsym(h, "EmvStubReinicia"));
    e.FilaExecute = reinterpret_cast<void (*)(const char*)>(dlsym(h, "EmvStubFilaExecute"));
    e.Valor = reinterpret_cast<void (*)(int32_t, const char*)>(dlsym(h, "EmvStubValor"));
    e.Mensagem = reinterpret_cast<void (*)(const char*)>(dlsym(h, "EmvStubMensagem"));
    e.ok = e.Reinicia && e.FilaExecute && e.Valor && e.Mensagem;
    return e;
  }();
  return s;
}

// Polls a Get operation as a caller does: a notification is polled past too.
template <typename F>
int32_t Consulta(F f) {
  return fuzz::Consulta(f, true);
}

std::string Hex(const std::string& b) {
  static const char d[] = "0123456789ABCDEF";
  std::string h;
  for (unsigned char c : b) {
    h += d[c >> 4];
    h += d[c & 15];
  }
  return h;
}

// "NNN" and N bytes in hexadecimal, as the caller's blocks carry them.
std::string ComContagem(const std::string& bytes) {
  char n[8];
  std::snprintf(n, sizeof n, "%03zu", bytes.size() % 1000);
  return n + Hex(bytes.substr(0, 999));
}

// Tag list from the input when it brings one, else a usual one.
std::string ListaTags(Leitor& l) {
  const std::string t = l.Texto(l.Byte() % 128);
  return t.empty() ? "0045A579F2782" : ComContagem(t);
}

void Opera(uint8_t op, Leitor& l) {
  BufferSujo msg(32);
  switch (op) {
    case 0: {
      BufferSujo saida(256);
      std::string i = AteNul(l.Texto(2));
      i.resize(2, '0');
      TextoC indice(i);
      FUZZ_EXIGE(CodigoValido(PP_GetInfo(indice.c(), saida.p())));
      break;
    }
    case 1: {
      TextoC e("0001" + std::string(36, '0'));
      if (PP_StartGetCard(nullptr, e.c()) != PPCOMP_OK) break;
      BufferSujo saida(512), seg(8);
      const int32_t r = Consulta([&] { return PP_GetCard(saida.p(), seg.p(), msg.p()); });
      if (r == PPCOMP_NOTIFY || r == PPCOMP_OK) (void)PP_ResumeGetCard();
      break;
    }
    case 2: {
      TextoC e("102" + std::string(32, '0') + "16" + "5413330089010434" + "   " + "0");
      if (PP_StartGetPIN(e.c()) != PPCOMP_OK) break;
      BufferSujo saida(36);
      Consulta([&] { return PP_GetPIN(saida.p(), msg.p()); });
      break;
    }
    case 3: {
      TextoC e("011");
      if (PP_StartCheckEvent(e.c()) != PPCOMP_OK) break;
      BufferSujo saida(225);
      Consulta([&] { return PP_CheckEvent(saida.p()); });
      break;
    }
    case 4: {
      // Two characters, then the command's bytes with their count; 33 more
      // characters when the second is '3'.
      std::string cab = AteNul(l.Texto(2));
      cab.resize(2, '0');
      std::string dados = cab + ComContagem(l.Pedaco());
      if (cab[1] == '3') dados += std::string(33, '0');
      TextoC e(dados);
      BufferSujo saida(TamRespostaChip);
      FUZZ_EXIGE(CodigoValido(PP_ChipDirect(e.c(), saida.p())));
      break;
    }
    case 5: {
      TextoC e(std::string(83, '0') + "000");
      TextoC tags(ListaTags(l));
      const std::string bytesOpt = l.Texto(l.Byte() % 64);
      const std::string opt = bytesOpt.empty() ? "" : ComContagem(bytesOpt);
      TextoC tagsOpt(opt);
      if (PP_StartGoOnChip(e.c(), tags.c(), opt.empty() ? nullptr : tagsOpt.c()) != PPCOMP_OK) break;
      BufferSujo saida(TamRespostaChip);
      Consulta([&] { return PP_GoOnChip(saida.p(), msg.p()); });
      break;
    }
    case 6: {
      // "xxxx", then two blocks with their counts.
      std::string cab = AteNul(l.Texto(4));
      cab.resize(4, '0');
      TextoC e(cab + ComContagem(l.Pedaco()) + ComContagem(l.Pedaco()));
      TextoC tags(ListaTags(l));
      BufferSujo saida(TamRespostaChip);
      FUZZ_EXIGE(CodigoValido(PP_FinishChip(e.c(), tags.c(), saida.p())));
      break;
    }
    case 7: {
      TextoC e("00");
      BufferSujo saida(10);
      FUZZ_EXIGE(CodigoValido(PP_GetTimeStamp(e.c(), saida.p())));
      break;
    }
    case 8: {
      TextoC e("00003ABC");
      if (PP_StartGenericCmd(e.c()) != PPCOMP_OK) break;
      BufferSujo saida(1000);
      Consulta([&] { return PP_GenericCmd(saida.p(), msg.p()); });
      break;
    }
    case 9: {
      TextoC e("000");
      BufferSujo saida(256);
      FUZZ_EXIGE(CodigoValido(PP_GetDUKPT(e.c(), saida.p())));
      break;
    }
    case 10: {
      TextoC e("102" + std::string(48, '0'));
      BufferSujo saida(16);
      FUZZ_EXIGE(CodigoValido(PP_EncryptBuffer(e.c(), saida.p())));
      break;
    }
    case 11: {
      TextoC e("RETIRE O CARTAO");
      if (PP_StartRemoveCard(e.c()) != PPCOMP_OK) break;
      Consulta([&] { return PP_RemoveCard(msg.p()); });
      break;
    }
    case 12: {
      if (PP_StartGetKey() != PPCOMP_OK) break;
      Consulta([&] { return PP_GetKey(); });
      break;
    }
    case 13: {
      TextoC e(std::string("2").append(262, '0'));
      BufferSujo saida(264);
      FUZZ_EXIGE(CodigoValido(PP_DefineWKPAN(e.c(), saida.p())));
      break;
    }
    default: {
      TextoC porta("fuzz");
      FUZZ_EXIGE(CodigoValido(PP_Open(porta.c())));
      break;
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* dados, size_t tamanho) {
  static const std::string& pasta = fuzz::PastaTrabalho();
  static const std::string chave = fuzz::ChaveTraceValida();
  static unsigned execucoes = 0;
  if (++execucoes % 2000 == 0) fuzz::LimpaPastaTrabalho();  // trace files grow

  Leitor l(dados, tamanho);
  const uint8_t modo = l.Byte();   // bit 0 trace, bit 1 host link, bits 4-7 chunk size
  const uint8_t op = l.Byte() % 15;
  fuzz::ResetaEstado();
  if (modo & 1) {
    LibState.api.HabilitaTrace = 1;
    std::snprintf(LibState.api.ChaveTrace, sizeof LibState.api.ChaveTrace, "%s", chave.c_str());
  }
  // The stand-in EMV library is what the first-call initialisation loads.
  std::snprintf(LibState.libemv.DiretorioLibEMV, sizeof LibState.libemv.DiretorioLibEMV, "%s",
                fuzz::PastaEmvStub().c_str());
  const std::string opcoes = "DiretorioTrace=" + pasta;
  ConfiguraTracePinPad(nullptr, nullptr, 0, 0, opcoes.c_str());
  PP_AtivaLibEMV(0, nullptr);

  // The operation's own arguments (index, tag lists, chip data) come first,
  // then the answers.
  const std::string argumentos = l.Pedaco();
  Leitor la(reinterpret_cast<const uint8_t*>(argumentos.data()), argumentos.size());

  fuzz::HostInicia(true);
  if ((modo & 4) && Stub().ok) {
    // EMV-library mode: the stand-in library answers every operation with the
    // input's text (within the documented output of the operation: a library
    // writes what fits), after the polls the input asks for.
    Stub().Reinicia();
    PP_AtivaLibEMV(1, "{NaoExecutaPPClose=1}");
    const uint8_t polls = l.Byte();
    std::string fila = "1,";  // the Start
    for (int i = 0; i < (polls & 7); ++i) fila += (polls & (8 << (i % 4))) ? "2," : "1,";
    fila += "0";
    Stub().FilaExecute(fila.c_str());
    Stub().Mensagem(AteNul(l.Texto(31)).c_str());
    const size_t limite = (op == 4 || op == 5 || op == 6 || op == 8) ? TamRespostaChip - 1 : 9;
    const std::string valor = AteNul(l.Texto(limite));
    for (int n = 0; n < 40; ++n) Stub().Valor(90000 + 10 * n, valor.c_str());
    fuzz::LinhaInicia("", modo);
  } else if (modo & 2) {
    // Host link mode: the answers are the host's texts, two-byte length each.
    fuzz::HostLeTextos(l);
    DefineChavesCripto("0123456789ABCDEF", "FEDCBA9876543210", "89ABCDEF01234567");
    DefineFuncoesHost(fuzz::HostRecebe, fuzz::HostComando);
    fuzz::LinhaInicia("", modo);
    TextoC porta("fuzz");
    (void)PP_Open(porta.c());
  } else {
    fuzz::LinhaInicia(l.Resto(), modo, 1 + (modo >> 4));
    FUZZ_EXIGE(PortaAbre("fuzz", 19200) == PPCOMP_OK);
  }
  Opera(op, la);
  FinalizaLibPinPad();
  FUZZ_EXIGE(fuzz::LinhaDecorridoMs() < 600000);
  return 0;
}
