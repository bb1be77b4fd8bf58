// Kolvar: checks whether the pinpad on a serial port meets the Veltrana M4120
// encryption requirement. Opens the pinpad, reads its information block, and
// for pinpads whose version field is below 1.07 asks the operator to
// confirm and has the pinpad encrypt a known block (triple DES, then single
// DES). The verdict goes to the console and the pinpad display; the exit
// status carries the last relevant return code.
#include <sys/prctl.h>

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "pinpad/pinpad.h"
#include "tool/TextoRetorno.h"
#include "tool/Visor.h"

namespace {

constexpr char VersaoKolvar[] = "1.003";
constexpr char VersaoLimite[] = "1.07";  // pinpads from this version on are certified already

// Test vectors of the encryption check. The expected cryptogram is what a
// pinpad holding the test master key 0123456789ABCDEFFEDCBA9876543210 at index
// 2 answers in triple DES. Pinpads in the field hold their own keys, so the
// verdict rests on the pinpad accepting the request and the answer is not
// compared with it.
constexpr char ChaveTrabalho[] = "3F9A0C5E71B2D84A6E0F19C3B7D25A48";
constexpr char BlocoDados[] = "1122334455667788";
constexpr char CriptogramaEsperado[] = "2CEFD8CF1F1CF0C6";

// Local time of the moment, "dd/mm/yyyy hh:mm:ss", in one static buffer that
// every call overwrites.
const char* DataHoraConsole() {
  static char texto[64];
  std::time_t agora = std::time(nullptr);
  std::tm local{};
  localtime_r(&agora, &local);
  std::snprintf(texto, sizeof texto, "%02d/%02d/%04d %02u:%02u:%02u", local.tm_mday, local.tm_mon + 1,
                local.tm_year + 1900, static_cast<unsigned>(local.tm_hour), static_cast<unsigned>(local.tm_min),
                static_cast<unsigned>(local.tm_sec));
  return texto;
}

// Every console line is flushed at once: the operator reads it while the
// pinpad waits for a key.
__attribute__((format(printf, 1, 2))) void Imprime(const char* formato, ...) {
  va_list args;
  va_start(args, formato);
  std::vprintf(formato, args);
  va_end(args);
  std::fflush(stdout);
}

// Upper case of a Latin-1 byte: ASCII letters and the accented lower-case
// letters (0xE0-0xFD but the division sign and 0xFE, 0xFF).
unsigned char Maiuscula(unsigned char c) {
  if (c >= 'a' && c <= 'z') return c - 0x20;
  if ((c >= 0xE0 && c <= 0xE5) || (c >= 0xE7 && c <= 0xEF) || (c >= 0xF1 && c <= 0xF6) || (c >= 0xF9 && c <= 0xFD)) {
    return c - 0x20;
  }
  return c;
}

// Compares exactly n bytes without regard to case, not stopping at a zero
// byte: 0 when equal, else the difference of the unmapped bytes at the first
// position that differs.
int ComparaSemCaixaN(const char* a, const char* b, int n) {
  for (int i = 0; i < n; ++i) {
    auto ca = static_cast<unsigned char>(a[i]);
    auto cb = static_cast<unsigned char>(b[i]);
    if (Maiuscula(ca) != Maiuscula(cb)) return static_cast<int>(ca) - static_cast<int>(cb);
  }
  return 0;
}

// Shows textoDisplay on the pinpad, prints textoConsole ('@' separates lines)
// and waits for a key. PPCOMP_OK when the key confirms; PPCOMP_CANCEL or the
// failing call's code otherwise, each reported on the console.
int32_t ConfirmaNoPinPad(const char* textoConsole, const char* textoDisplay) {
  char display[257] = {};
  std::snprintf(display, sizeof display, "%.256s", textoDisplay);
  const char* chamada = "PP_Display";
  int32_t r = PP_Display(display);
  if (r == PPCOMP_OK) {
    chamada = "PP_StartGetKey";
    r = PP_StartGetKey();
  }
  if (r == PPCOMP_OK) {
    chamada = "PP_GetKey";
    const char* inicio = textoConsole;
    for (const char* p = textoConsole; *p; ++p) {
      if (*p == '@') {
        Imprime("[%s] %.*s\n", DataHoraConsole(), static_cast<int>(p - inicio), inicio);
        inicio = p + 1;
      }
    }
    if (*inicio) Imprime("[%s] %s\n", DataHoraConsole(), inicio);
    do {
      r = PP_GetKey();
    } while (r == PPCOMP_PROCESSING);
  }
  if (r == PPCOMP_CANCEL) {
    Imprime("[%s] Teste cancelado pelo operador\n", DataHoraConsole());
  } else if (r != PPCOMP_OK) {
    Imprime("[%s] Erro %s (%d) - %s\n", DataHoraConsole(), chamada, r, TextoRetorno(static_cast<uint32_t>(r)));
  }
  return r;
}

// Has the pinpad encrypt the test block under the key at `indice`. A failure is
// returned silently unless reportaFalha is set; once a verdict is shown the
// result is the operator's key that ends the check.
int32_t TestaCriptografia(int tripleDes, int indice, const char* chave, const char* dados,
                          const char* /*criptogramaEsperado*/, int reportaFalha) {
  const char* nome = tripleDes ? "3DES" : "DES";
  char display[257] = {};
  char resposta[1025] = {};

  Imprime("[%s] Processando...\n", DataHoraConsole());
  PP_Display(DisplayProcessando);

  char bloco[64] = {};
  std::snprintf(bloco, sizeof bloco, "%1.1d%2.2d%32.32s%16.16s", tripleDes ? 1 : 0, indice, chave, dados);
  int32_t r = PP_EncryptBuffer(bloco, resposta);
  if (r != PPCOMP_OK && !reportaFalha) return r;

  if (r == PPCOMP_OK) {
    Imprime("[%s] Resultado: PinPad COMPATIVEL com Veltrana M4120 com criptografia %s\n", DataHoraConsole(), nome);
    std::snprintf(display, sizeof display, DISPLAY_COMPATIVEL, nome);
  } else {
    Imprime("[%s] Erro %d - %s\n", DataHoraConsole(), r, TextoRetorno(static_cast<uint32_t>(r)));
    Imprime("[%s] Resultado: PinPad NAO COMPATIVEL com Veltrana M4120\n", DataHoraConsole());
    std::snprintf(display, sizeof display, "%s", DisplayNaoOk);
  }
  Imprime("[%s] Finalize a operacao no pinpad\n", DataHoraConsole());

  PP_Display(display);
  r = PP_StartGetKey();
  if (r == PPCOMP_OK) {
    do {
      r = PP_GetKey();
    } while (r == PPCOMP_PROCESSING);
  }
  return r;
}

}  // namespace

int main(int argc, char** argv) {
  char porta[257] = {};
  char informacao[1025] = {};
  char mensagem[257] = {};

  // The test is mostly the protocol's pauses (50 ms and 10 ms for every
  // frame): ask the kernel to end them on time instead of up to its default
  // 50 us slack late.
  prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
  Imprime("Kolvar v%s - Compatibilidade com Veltrana M4120\n", VersaoKolvar);
  if (argc < 2) {
    Imprime("\nForma de uso: Kolvar <Porta serial>\n");
    Imprime("     Exemplo: ./Kolvar \"/dev/ttyACM0\"\n");
    return 255;
  }
  std::snprintf(porta, sizeof porta, "%.256s", argv[1]);
  Imprime("[%s] Iniciando teste\n", DataHoraConsole());

  int32_t resultado = PP_Open(porta);
  if (resultado != PPCOMP_OK) {
    Imprime("[%s] Erro %d - %s\n", DataHoraConsole(), resultado, TextoRetorno(static_cast<uint32_t>(resultado)));
    return resultado & 0xFF;
  }

  if (PP_GetInfo("00", informacao) == PPCOMP_OK) {
    informacao[100] = '\0';
    Imprime("[%s] PinPad: [%s]\n", DataHoraConsole(), informacao);
  }

  // The pinpad's version field: 4 characters at index 60.
  const char* versao = informacao + 60;
  if (ComparaSemCaixaN(versao, VersaoLimite, 4) < 0) {
    if (ConfirmaNoPinPad("Confirme a operacao no pinpad", DisplayConfirma) == PPCOMP_OK) {
      resultado = TestaCriptografia(1, 2, ChaveTrabalho, BlocoDados, CriptogramaEsperado, 0);
      if (resultado != PPCOMP_OK) {
        resultado = TestaCriptografia(0, 8, ChaveTrabalho, BlocoDados, CriptogramaEsperado, 1);
      }
    }
  } else {
    std::snprintf(mensagem, sizeof mensagem,
                  "Resultado: Teste nao se aplica. Pinpad (%.4s) usado na homologacao Veltrana M4120.@"
                  "Finalize a operacao no pinpad.",
                  versao);
    resultado = ConfirmaNoPinPad(mensagem, DisplayNaoSeAplica);
  }

  PP_Close("");
  return resultado & 0xFF;
}
