#include "pinpad/SC5000.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "link/Enlace.h"
#include "link/Serial.h"
#include "pinpad/sc5000.h"
#include "state/LibState.h"
#include "support/FuncoesArquivo.h"
#include "support/FuncoesString.h"
#include "trace/FuncoesTrace.h"

namespace {

int Tamanho(int n, size_t cap) { return n < 0 ? 0 : (n >= static_cast<int>(cap) ? static_cast<int>(cap) - 1 : n); }

}  // namespace

// The precision already pads the key index with zeros to three digits.
int FormataSelecionaChaveSC5000(std::span<char, TamComandoSC5000> buf, const char* keyIndex) {
  std::memset(buf.data(), 0, buf.size());
  int n = std::snprintf(buf.data(), buf.size(), "%2.2s#%.3d", "08", keyIndex ? std::atoi(keyIndex) : 0);
  return Tamanho(n, buf.size());
}

int FormataEntradaSenhaSC5000(std::span<char, TamComandoSC5000> buf, const char* pan, const char* workingKey,
                              bool limites, int minimo, int maximo) {
  std::memset(buf.data(), 0, buf.size());
  if (!pan) pan = "";
  int n;
  if (!limites) {
    if (workingKey)
      n = std::snprintf(buf.data(), buf.size(), "%3.3s.016%16.16s%c%16.16s0412N%s%c%c %c", "Z62", workingKey, FS, pan,
                        "Senha", FS, FS, FS);
    else
      n = std::snprintf(buf.data(), buf.size(), "%3.3s.%c%16.16s0412N%s%c%c %c", "Z62", FS, pan, "Senha", FS, FS, FS);
  } else {
    if (minimo < 0) minimo = 0;
    if (maximo > 12) maximo = 12;
    // Two digits each, whatever the caller passed.
    if (minimo > 99) minimo = 99;
    if (maximo < 0) maximo = 0;
    if (workingKey)
      n = std::snprintf(buf.data(), buf.size(), "%3.3s.016%16.16s%c%16.16s%02d%02dN%s%c%c %c", "Z62", workingKey, FS,
                        pan, minimo, maximo, "Senha", FS, FS, FS);
    else
      n = std::snprintf(buf.data(), buf.size(), "%3.3s.%c%16.16s%02d%02dN%s%c%c %c", "Z62", FS, pan, minimo, maximo,
                        "Senha", FS, FS, FS);
  }
  return Tamanho(n, buf.size());
}

int FormataLeituraCartaoSC5000(std::span<char, TamComandoSC5000> buf, const char* keyIndex, const char* workingKey) {
  std::memset(buf.data(), 0, buf.size());
  int n = std::snprintf(buf.data(), buf.size(), "%3.3s%.3d%16.16s", "Q42", keyIndex ? std::atoi(keyIndex) : 0,
                        workingKey ? workingKey : "");
  return Tamanho(n, buf.size());
}

const char* ExtraiTrilhasSC5000(std::string_view resposta, std::span<char> trilha1, std::span<char> trilha2) {
  std::string_view resto = resposta.size() > 3 ? resposta.substr(3) : std::string_view{};
  size_t fs2 = resto.find(FS);
  if (fs2 == std::string_view::npos) return "Trilha 2 indefinida";
  if (fs2 >= trilha2.size()) return "Trilha 2 maior que o buffer";
  std::memcpy(trilha2.data(), resto.data(), fs2);
  trilha2[fs2] = '\0';
  resto.remove_prefix(fs2 + 1);
  size_t fs1 = resto.find(FS);
  if (fs1 == std::string_view::npos) return "Trilha 1 indefinida";
  if (fs1 >= trilha1.size()) return "Trilha 1 maior que o buffer";
  std::memcpy(trilha1.data(), resto.data(), fs1);
  trilha1[fs1] = '\0';
  return nullptr;
}

// ---- Operations -------------------------------------------------------------

namespace {

int32_t& AguardaResposta() { return LibState.sc5000.AguardaRespostaSC5000; }

// Answer buffers: PIN and card answers, serial number and abort answers. The
// last byte stays zero behind the longest text accepted.
constexpr int32_t TamRespostaLonga = 1025;
constexpr int32_t TamRespostaCurta = 513;

void Status(const char* tag, int32_t r) { TraceNumero(tag, "Sts", r); }
void Erro(const char* tag, const char* mensagem) { TraceTexto(tag, mensagem, nullptr); }

int32_t EnviaTexto(std::span<char, TamComandoSC5000> cmd, uint8_t inicio, uint8_t fim) {
  int32_t r = PinPadEnviaSC5000(cmd.data(), inicio, fim);
  LimpaSegura(cmd.data(), cmd.size());
  return r;
}

int32_t IniciaSenha(const char* tag1, const char* tag, const char* keyIndex, const char* pan, const char* workingKey,
                    bool limites, int32_t minimo, int32_t maximo) {
  if (!keyIndex || !pan) return PPCOMP_BADPARAM;
  AguardaResposta() = 0;
  char cmd[TamComandoSC5000];
  FormataSelecionaChaveSC5000(cmd, keyIndex);
  // A text beginning with "08" is acknowledged with ACK and then EOT.
  int32_t r = EnviaTexto(cmd, Enlace::SI, Enlace::SO);
  if (r != PPCOMP_OK) {
    Status(tag1, r);
    return r;
  }
  FormataEntradaSenhaSC5000(cmd, pan, workingKey, limites, minimo, maximo);
  r = EnviaTexto(cmd, Enlace::STX, Enlace::ETX);
  Status(tag, r);
  return r;
}

}  // namespace

int32_t SC5000AbrePorta(const char* porta) {
  AguardaResposta() = 1;
  int32_t r = PortaAbre(porta, 19200);
  if (r != PPCOMP_OK) PortaFecha();
  return r;
}

int32_t SC5000FechaPorta(void) {
  AguardaResposta() = 1;
  PortaFecha();
  return PPCOMP_OK;
}

int32_t SC5000Mostra(const char* texto) {
  if (!texto || strnlen(texto, 3) < 3) return PPCOMP_BADPARAM;
  size_t n = 3 + DigitosParaInt(texto, 3);
  if (strnlen(texto, n) < n) return PPCOMP_BADPARAM;  // shorter than its count says
  int32_t r = PinPadEnviaComando("DEX", static_cast<int>(n), texto, -1);
  if (r == PPCOMP_OK) {
    char codigo[4] = {};
    r = PinPadRecebeResposta(1, codigo, static_cast<int32_t*>(nullptr));
  }
  return r;
}

int32_t PP_SC5000_Abort(void) {
  if (AguardaResposta() == 1) return PPCOMP_OK;  // nothing pending
  char cmd[TamComandoSC5000] = "72";
  if (EnviaTexto(cmd, Enlace::STX, Enlace::ETX) == PPCOMP_OK) {
    char resp[TamRespostaCurta] = {};
    int32_t tam = 0;
    PinPadRecebeSC5000(1, resp, TamRespostaCurta - 1, &tam);
    LimpaSegura(resp, sizeof resp);
  }
  Status("PP_SC5000_Abort", PPCOMP_OK);
  return PPCOMP_OK;
}

int32_t PP_SC5000_GetSerialNumber(char* saida) {
  if (!saida) return PPCOMP_BADPARAM;
  AguardaResposta() = 1;
  char cmd[TamComandoSC5000] = "06";
  int32_t r = EnviaTexto(cmd, Enlace::SI, Enlace::SO);
  if (r != PPCOMP_OK) {
    Status("PP_SC5000_GetSerialNumber (1)", r);
    return r;
  }
  char resp[TamRespostaCurta] = {};
  int32_t tam = 0;
  r = PinPadRecebeSC5000(1, resp, TamRespostaCurta - 1, &tam);
  if (r != PPCOMP_OK) {
    Status("PP_SC5000_GetSerialNumber (2)", r);
  } else if (std::strncmp(resp, "06", 2) != 0) {
    Erro("PP_SC5000_GetSerialNumber", "ID Resposta Invalido");
    r = PPCOMP_COMMERR;
  } else {
    std::snprintf(saida, 17, "%-16.16s", resp + 2);
  }
  LimpaSegura(resp, sizeof resp);
  return r;
}

int32_t PP_SC5000_StartGetPIN(const char* keyIndex, const char* pan, const char* workingKey) {
  return IniciaSenha("PP_SC5000_StartGetPIN (1)", "PP_SC5000_StartGetPIN", keyIndex, pan, workingKey, false, 0, 0);
}

int32_t PP_SC5000_StartGetPINEx(const char* keyIndex, const char* pan, const char* workingKey, int32_t minimo,
                                int32_t maximo) {
  return IniciaSenha("PP_SC5000_StartGetPINEx (1)", "PP_SC5000_StartGetPINEx", keyIndex, pan, workingKey, true, minimo,
                     maximo);
}

int32_t PP_SC5000_GetPIN(char* saida) {
  if (!saida) return PPCOMP_BADPARAM;
  char resp[TamRespostaLonga] = {};
  int32_t tam = 0;
  int32_t r = PinPadRecebeSC5000(AguardaResposta(), resp, TamRespostaLonga - 1, &tam);
  if (r == PPCOMP_OK) {
    // "71", two characters, the PIN length (2 digits), two characters, the 16-character PIN block.
    if (std::strncmp(resp, "71", 2) != 0) {
      Erro("PP_SC5000_GetPIN", "ID Resposta Invalido");
      r = PPCOMP_COMMERR;
    } else if (DigitosParaInt(resp + 4, 2) == 0) {
      Erro("PP_SC5000_GetPIN", "Senha com tamanho invalido");
      r = PPCOMP_COMMERR;
    } else if (tam < 8 + 16) {
      Erro("PP_SC5000_GetPIN", "Bloco de senha incompleto");
      r = PPCOMP_COMMERR;
    } else {
      std::snprintf(saida, 17, "%16.16s", resp + 8);
    }
  } else if (r != PPCOMP_PROCESSING) {
    Status("PP_GetPINCripto", r);
  }
  LimpaSegura(resp, sizeof resp);
  return r;
}

int32_t PP_StartGetCardCripto(const char* keyIndex, const char* workingKey) {
  if (!keyIndex) return PPCOMP_BADPARAM;
  AguardaResposta() = 0;
  SC5000Mostra("015 Passe o Cartao");
  char cmd[TamComandoSC5000];
  FormataLeituraCartaoSC5000(cmd, keyIndex, workingKey);
  int32_t r = EnviaTexto(cmd, Enlace::STX, Enlace::ETX);
  Status("PP_StartGetCardCripto", r);
  return r;
}

int32_t PP_SC5000_GetCardEx(char* trilha1, int32_t tamTrilha1, char* trilha2, int32_t tamTrilha2) {
  if (!trilha1 || !trilha2 || tamTrilha1 <= 0 || tamTrilha2 <= 0) return PPCOMP_BADPARAM;
  char resp[TamRespostaLonga] = {};
  int32_t tam = 0;
  int32_t r = PinPadRecebeSC5000(AguardaResposta(), resp, TamRespostaLonga - 1, &tam);
  if (r == PPCOMP_OK) {
    if (std::strncmp(resp, "81", 2) != 0) {
      Erro("PP_SC5000_GetCard", "ID Resposta Invalido");
      r = PPCOMP_COMMERR;
    } else if (const char* erro =
                   ExtraiTrilhasSC5000(std::string_view(resp, static_cast<size_t>(tam)),
                                       std::span<char>(trilha1, static_cast<size_t>(tamTrilha1)),
                                       std::span<char>(trilha2, static_cast<size_t>(tamTrilha2)))) {
      Erro("PP_SC5000_GetCard", erro);
      r = PPCOMP_COMMERR;
    }
  }
  if (r != PPCOMP_PROCESSING) {
    Status("PP_SC5000_GetCard", r);
    SC5000Mostra("001 ");  // blank display
  }
  LimpaSegura(resp, sizeof resp);
  return r;
}

int32_t PP_SC5000_GetCard(char* trilha1, char* trilha2) {
  return PP_SC5000_GetCardEx(trilha1, PP_SC5000_TAM_TRILHA, trilha2, PP_SC5000_TAM_TRILHA);
}

int32_t SC5000EnviaG42(const char* keyIndex, const char* workingKey) {
  if (!keyIndex) return PPCOMP_BADPARAM;
  AguardaResposta() = 1;
  char campo[TamComandoSC5000] = {};
  int n = std::snprintf(campo, sizeof campo, "%.3d%16.16s", std::atoi(keyIndex), workingKey ? workingKey : "");
  int32_t r = PinPadEnviaComando("G42", n, campo, -1);
  LimpaSegura(campo, sizeof campo);
  if (r == PPCOMP_OK) {
    char codigo[4] = {};
    r = PinPadRecebeResposta(AguardaResposta(), codigo, static_cast<int32_t*>(nullptr));
  }
  return r;
}
