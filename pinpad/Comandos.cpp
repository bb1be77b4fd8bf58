// The pinpad command set: payloads of the pinpad commands "OPN" to "CNG" over
// the framed link, blocking commands and Start/poll pairs.
#include "pinpad/Comandos.h"

#include <algorithm>
#include <cstring>
#include <initializer_list>

#include "link/Enlace.h"
#include "link/Serial.h"
#include "state/LibState.h"
#include "support/FuncoesArquivo.h"
#include "support/FuncoesString.h"
#include "trace/FuncoesTrace.h"

namespace {

constexpr uint8_t CAN = 0x18;
constexpr uint8_t EOT = 0x04;
constexpr int32_t TamCampoMensagem = 32;  // two display lines of 16
constexpr int32_t TamMaximoCampo = 999;
constexpr int32_t TentativasAbort = 3;
constexpr int32_t TimeoutEotMs = 2000;
// Bytes read past while waiting for EOT in one attempt: a line that keeps
// talking cannot hold the abort forever.
constexpr int32_t MaxBytesIgnoradosAbort = 1300;
// An empty tag list: a chip step without the optional list still sends the field.
constexpr char ListaVazia[] = "000";

// Fixed-width decimal count inside a caller's block (each character gives its
// low four bits, so a blank counts as 0).
int32_t Contador(const char* bloco, int indice, int digitos) {
  return static_cast<int32_t>(DigitosParaInt(bloco + indice, digitos));
}

bool ModoHost() { return LibState.api.FuncaoHostRecebe && LibState.api.FuncaoHostComando; }

// Host link operations 650, 651, 652: a negative result is a communication error.
int32_t ComandoHost(int32_t operacao, const char* argumento) {
  int32_t r = LibState.api.FuncaoHostComando(operacao, argumento);
  return r < 0 ? PPCOMP_COMMERR : r;
}

int32_t FechaLink() { return ModoHost() ? ComandoHost(651, nullptr) : PortaFecha(); }

struct Campo {
  int32_t tamanho;
  const char* dados;
};

// Sends one command with its fields (the link refuses a field above 999 bytes,
// or a frame that would not fit its buffer, before sending anything).
int32_t Envia(const char* codigo, std::initializer_list<Campo> campos) {
  const Campo* c = campos.begin();
  switch (campos.size()) {
    case 0:
      return PinPadEnviaComando(codigo, -1);
    case 1:
      return PinPadEnviaComando(codigo, c[0].tamanho, c[0].dados, -1);
    case 2:
      return PinPadEnviaComando(codigo, c[0].tamanho, c[0].dados, c[1].tamanho, c[1].dados, -1);
    default:
      return PinPadEnviaComando(codigo, c[0].tamanho, c[0].dados, c[1].tamanho, c[1].dados, c[2].tamanho,
                                c[2].dados, -1);
  }
}

// Reads the answer (waiting or not, as AguardaResposta says) into one field
// buffer of `*tamanho` bytes; *tamanho becomes the count copied.
int32_t Recebe(char* buffer, int32_t* tamanho) {
  char codigo[4] = {};
  int32_t espera = LibState.comandos.AguardaResposta;
  if (!buffer) return PinPadRecebeResposta(espera, codigo, static_cast<int32_t*>(nullptr));
  return PinPadRecebeResposta(espera, codigo, tamanho, buffer, static_cast<int32_t*>(nullptr));
}

// Blocking command: send, wait for the answer, copy `capacidade` bytes at most
// to saida on PPCOMP_OK (nothing when saida is null).
int32_t Bloqueante(const char* codigo, std::initializer_list<Campo> campos, char* saida = nullptr,
                   int32_t capacidade = 0) {
  LibState.comandos.AguardaResposta = 1;
  int32_t r = Envia(codigo, campos);
  if (r != PPCOMP_OK) return r;
  if (capacidade == 0) return Recebe(nullptr, nullptr);
  char resposta[1000] = {};
  int32_t n = capacidade;
  r = Recebe(resposta, &n);
  if (r == PPCOMP_OK && saida) std::memcpy(saida, resposta, std::clamp(n, 0, capacidade));
  LimpaSegura(resposta, sizeof resposta);
  return r;
}

// A blocking command refused before anything is sent leaves the library as
// every blocking command does: nothing pending, so a PP_Abort after it sends
// no CAN even when a Start command was pending before.
int32_t RecusaBloqueante() {
  LibState.comandos.AguardaResposta = 1;
  return PPCOMP_BADPARAM;
}

// Start command: send and return; the answer is collected by polling.
int32_t Inicia(const char* codigo, std::initializer_list<Campo> campos) {
  LibState.comandos.AguardaResposta = 0;
  return Envia(codigo, campos);
}

// One poll of a Start command: a notification goes to mensagem, the final
// answer's data (on PPCOMP_OK) to saida.
int32_t Consulta(char* saida, int32_t capacidade, char* mensagem, int32_t* copiados = nullptr) {
  char resposta[1000] = {};
  int32_t n = capacidade;
  int32_t r = Recebe(resposta, &n);
  n = std::clamp(n, 0, capacidade);
  if (r == PPCOMP_NOTIFY) {
    CopiaNotificacao(mensagem, resposta, n);
  } else if (r == PPCOMP_OK && saida) {
    std::memcpy(saida, resposta, n);
  }
  if (copiados) *copiados = n;
  LimpaSegura(resposta, sizeof resposta);
  return r;
}

}  // namespace

void FormataCampo(char* buffer, int32_t posicao, int32_t largura, int32_t preenche, const char* texto,
                  int32_t tamanho) {
  if (!buffer || posicao < 1 || largura <= 0) return;
  char* campo = buffer + (posicao - 1);
  std::memset(campo, preenche < 0 ? -preenche : preenche, largura);
  int32_t n = texto ? std::clamp(tamanho, 0, largura) : 0;
  if (n == 0) return;
  std::memcpy(preenche < 0 ? campo : campo + (largura - n), texto, n);
}

void FormataCampoTexto(char* buffer, int32_t posicao, int32_t largura, int32_t preenche, const char* texto) {
  int32_t tamanho = texto ? static_cast<int32_t>(strnlen(texto, largura)) : 0;
  FormataCampo(buffer, posicao, largura, preenche, texto, tamanho);
}

void CopiaNotificacao(char* mensagem, const char* texto, int32_t tamanho) {
  if (!mensagem) return;
  std::memset(mensagem, ' ', TamCampoMensagem);
  if (texto) std::memcpy(mensagem, texto, std::clamp(tamanho, 0, TamCampoMensagem));
}

void AbortaComandoSerial() {
  if (LibState.comandos.AguardaResposta == 1) return;  // nothing pending
  for (int tentativa = 0; tentativa < TentativasAbort; ++tentativa) {
    if (PortaEscreve(&CAN, 1) != PPCOMP_OK) return;
    for (int lidos = 0; lidos < MaxBytesIgnoradosAbort; ++lidos) {
      uint8_t byte = 0;
      int32_t n = PortaLe(TimeoutEotMs, &byte, 1);
      if (n < 0) return;          // read error ends the abort
      if (n == 0) break;          // silence: next attempt
      if (byte == EOT) return;    // the pinpad dropped the command
    }
  }
}

// ---- Connection ----------------------------------------------------------------

int32_t PP_Comp_Open(const char* porta) {
  auto& cmd = LibState.comandos;
  cmd.AguardaResposta = 1;
  if (!porta) return PPCOMP_BADPARAM;
  int32_t r = ModoHost() ? ComandoHost(650, porta) : PortaAbre(porta, LibState.api.VelocidadePinPad);
  if (r != PPCOMP_OK) {
    TraceTexto("PP_Comp_Open", "Porta", porta);
    PortaFecha();
    return r;
  }
  r = Envia("OPN", {});
  if (r != PPCOMP_OK) {
    PortaFecha();
    return r;
  }
  std::memset(cmd.NomePortaPinPad, 0, sizeof cmd.NomePortaPinPad);
  std::memcpy(cmd.NomePortaPinPad, porta, strnlen(porta, sizeof cmd.NomePortaPinPad - 1));
  cmd.CartaoLido = 0;
  return Recebe(nullptr, nullptr);
}

int32_t PP_Comp_Close(const char* mensagem) {
  LibState.comandos.AguardaResposta = 1;
  char campo[TamCampoMensagem];
  FormataCampoTexto(campo, 1, TamCampoMensagem, -' ', mensagem);
  int32_t r = Envia("CLO", {{TamCampoMensagem, campo}});
  if (r == PPCOMP_OK) r = Recebe(nullptr, nullptr);
  FechaLink();  // whatever the pinpad said
  LimpaSegura(campo, sizeof campo);
  return r;
}

int32_t PP_Comp_Abort() {
  if (ModoHost()) {
    if (LibState.comandos.AguardaResposta == 0) ComandoHost(652, nullptr);
  } else {
    AbortaComandoSerial();
  }
  return PPCOMP_OK;
}

// ---- Blocking commands -----------------------------------------------------------

int32_t PP_Comp_GetInfo(const char* indice, char* saida) {
  if (!indice || !saida) return RecusaBloqueante();
  return Bloqueante("GIN", {{2, indice}}, saida, 256);
}

int32_t PP_Comp_Display(const char* mensagem) {
  char campo[TamCampoMensagem];
  FormataCampoTexto(campo, 1, TamCampoMensagem, -' ', mensagem);
  int32_t r = Bloqueante("DSP", {{TamCampoMensagem, campo}});
  LimpaSegura(campo, sizeof campo);
  return r;
}

int32_t PP_Comp_DisplayEx(const char* entrada) {
  if (!entrada) return RecusaBloqueante();
  return Bloqueante("DEX", {{3 + Contador(entrada, 0, 3), entrada}});
}

int32_t PP_Comp_EncryptBuffer(const char* entrada, char* saida) {
  if (!entrada || !saida) return RecusaBloqueante();
  return Bloqueante("ENB", {{51, entrada}}, saida, 16);
}

int32_t PP_Comp_GetDUKPT(const char* entrada, char* saida) {
  if (!entrada || !saida) return RecusaBloqueante();
  return Bloqueante("GDU", {{3, entrada}}, saida, 256);
}

int32_t PP_Comp_FinishChip(const char* entrada, const char* tags, char* saida) {
  if (!entrada || !saida) return RecusaBloqueante();
  const char* lista = tags ? tags : ListaVazia;
  int32_t a = Contador(entrada, 4, 3);
  int32_t b = Contador(entrada, 7 + 2 * a, 3);
  return Bloqueante("FNC", {{7 + 2 * a + 3 + 2 * b, entrada}, {3 + 2 * Contador(lista, 0, 3), lista}}, saida, 1000);
}

int32_t PP_Comp_TableLoadInit(const char* entrada) {
  if (!entrada) return RecusaBloqueante();
  return Bloqueante("TLI", {{12, entrada}});
}

int32_t PP_Comp_TableLoadRec(const char* entrada) {
  if (!entrada) return RecusaBloqueante();
  // A 2-digit record count, then records that each start with their own
  // 3-digit total length.
  int32_t registros = Contador(entrada, 0, 2);
  int32_t tamanho = 2;
  for (int32_t i = 0; i < registros; ++i) {
    tamanho += Contador(entrada, tamanho, 3);
    if (tamanho > TamMaximoCampo) return RecusaBloqueante();  // do not read past what can be sent
  }
  return Bloqueante("TLR", {{tamanho, entrada}});
}

int32_t PP_Comp_TableLoadEnd() { return Bloqueante("TLE", {}); }

int32_t PP_Comp_GetTimeStamp(const char* entrada, char* saida) {
  if (!entrada || !saida) return RecusaBloqueante();
  return Bloqueante("GTS", {{2, entrada}}, saida, 10);
}

int32_t PP_Comp_DefineWKPAN(const char* entrada, char* saida) {
  if (!entrada) return RecusaBloqueante();
  int32_t tamanho = entrada[0] == '1' ? 36 : 263;
  // The answer reaches the caller only for the '2' form of the request.
  return Bloqueante("DWK", {{tamanho, entrada}}, entrada[0] == '2' ? saida : nullptr, 264);
}

int32_t PP_Comp_ChipDirect(const char* entrada, char* saida) {
  if (!entrada || !saida) return RecusaBloqueante();
  int32_t tamanho = 5 + 2 * Contador(entrada, 2, 3) + (entrada[1] == '3' ? 33 : 0);
  return Bloqueante("CHP", {{tamanho, entrada}}, saida, 1000);
}

int32_t PP_Comp_ChangeParameter(const char* entrada) {
  if (!entrada) return RecusaBloqueante();
  return Bloqueante("CNG", {{2 + 2 * Contador(entrada, 0, 2), entrada}});
}

int32_t PP_Comp_ConfigProcess(const char*) { return PPCOMP_NOFUNC; }

// ---- Start and poll pairs ---------------------------------------------------------

int32_t PP_Comp_StartGetKey() { return Inicia("GKY", {}); }

int32_t PP_Comp_GetKey() { return Recebe(nullptr, nullptr); }

int32_t PP_Comp_StartGetPIN(const char* entrada) {
  if (!entrada) return PPCOMP_BADPARAM;
  return Inicia("GPN", {{57 + 36 * Contador(entrada, 56, 1), entrada}});
}

int32_t PP_Comp_GetPIN(char* saida, char* mensagem) { return Consulta(saida, 36, mensagem); }

int32_t PP_Comp_StartCheckEvent(const char* entrada) {
  if (!entrada) return PPCOMP_BADPARAM;
  return Inicia("CKE", {{3, entrada}});
}

int32_t PP_Comp_CheckEvent(char* saida) {
  if (!saida) return PPCOMP_BADPARAM;
  char resposta[225] = {};
  int32_t n = sizeof resposta;
  int32_t r = Recebe(resposta, &n);
  saida[0] = resposta[0];  // the event type, whatever the status
  if (r == PPCOMP_OK) {
    int32_t copia = 0;
    switch (resposta[0]) {
      case '0': copia = 3; break;
      case '1': copia = 225; break;
      case '2': copia = 2; break;
      default: break;
    }
    std::memcpy(saida, resposta, copia);
  }
  LimpaSegura(resposta, sizeof resposta);
  return r;
}

int32_t PP_Comp_StartRemoveCard(const char* mensagem) {
  char campo[TamCampoMensagem];
  FormataCampoTexto(campo, 1, TamCampoMensagem, -' ', mensagem);
  int32_t r = Inicia("RMC", {{TamCampoMensagem, campo}});
  LimpaSegura(campo, sizeof campo);
  return r;
}

int32_t PP_Comp_RemoveCard(char* mensagem) { return Consulta(nullptr, 32, mensagem); }

int32_t PP_Comp_StartGetCard(const char*, const char* entrada) {
  if (!entrada) return PPCOMP_BADPARAM;
  int32_t tamanho = 40;
  if (Contador(entrada, 2, 2) == 0) tamanho += 4 * Contador(entrada, 38, 2);
  if (entrada[tamanho] == '0') tamanho += 1;
  return Inicia("GCR", {{tamanho, entrada}});
}

int32_t PP_Comp_GetCard(char* saida, char*, char* mensagem) {
  int32_t r = Consulta(saida, 512, mensagem);
  if (r == PPCOMP_OK) LibState.comandos.CartaoLido = 1;
  return r;
}

// Resumes the card reading: "GCR" without fields, the wait flag left as it is.
int32_t PP_Comp_ResumeGetCard() { return Envia("GCR", {}); }

int32_t PP_Comp_StartGoOnChip(const char* entrada, const char* tags, const char* tagsOpt) {
  if (!entrada || !tags) return PPCOMP_BADPARAM;
  const char* opcionais = tagsOpt ? tagsOpt : ListaVazia;
  return Inicia("GOC", {{86 + Contador(entrada, 83, 3), entrada},
                        {3 + 2 * Contador(tags, 0, 3), tags},
                        {3 + 2 * Contador(opcionais, 0, 3), opcionais}});
}

int32_t PP_Comp_GoOnChip(char* saida, char* mensagem) { return Consulta(saida, 1000, mensagem); }

int32_t PP_Comp_StartGenericCmd(const char* entrada) {
  if (!entrada) return PPCOMP_BADPARAM;
  return Inicia("GEN", {{5 + Contador(entrada, 2, 3), entrada}});
}

int32_t PP_Comp_GenericCmd(char* saida, char* mensagem) { return Consulta(saida, 1000, mensagem); }
