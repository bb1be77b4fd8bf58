// Entry layer: every PP_* function makes sure the library is initialised,
// dispatches through its TabelaFuncoes slot and writes one "Sts" trace record.
#include "pinpad/libpinpad.h"

#include <strings.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "pinpad/Comandos.h"
#include "pinpad/LibEMV.h"
#include "pinpad/ParametrosChip.h"
#include "state/LibState.h"
#include "support/FuncoesString.h"
#include "support/ArquivoIni.h"
#include "trace/FuncoesTrace.h"

namespace {

constexpr uint8_t TipoRegistroTraceLib = 12;
constexpr char ArquivoTracePadrao[] = "CliNorva.<YYYY/><MM/><DD/>.dmp";
constexpr char ArquivoTraceLojaTerminal[] = "CliNorva.<LOJA/>.<TERM/>.<YYYY/><MM/><DD/>.dmp";
constexpr char SecaoConfiguracao[] = "PinPad";

// Copies a text into a fixed buffer, cut to its size and always terminated.
template <size_t N>
void CopiaCampo(char (&destino)[N], const char* origem) {
  std::memset(destino, 0, N);
  if (origem) std::snprintf(destino, N, "%s", origem);
}

// Steps 1, 2, 4 and 5 of the wrapper pattern around one slot call. Poll
// functions (pulaProcessando) skip the record while the operation goes on, so
// a polling loop leaves one record: the final one.
template <auto Slot, typename... Args>
int32_t Despacha(const char* nome, bool pulaProcessando, Args... args) {
  GaranteInicializacao();
  auto funcao = LibState.api.TabelaFuncoes.*Slot;
  int32_t r = funcao ? funcao(args...) : PPCOMP_NOFUNC;
  if (pulaProcessando && r == PPCOMP_PROCESSING) return r;
  TraceNumero(nome, "Sts", r);
  return r;
}

}  // namespace

void TraceIdentificacaoLib() {
  TraceTexto("IM", "Versao", VersaoLib);
  TraceTexto("IM", "Compilacao", CompilacaoLib);
  TraceTexto("IM", "ArqConfiguracao", LibState.api.ArqConfiguracao);
}

void InicializaLibPinPad(int32_t abreTrace) {
  auto& api = LibState.api;
  if (api.PrimeiraChamada) {
    api.PrimeiraChamada = 0;  // first, so that the calls below do not come back here
    if (abreTrace) {
      api.TraceLib = TraceAbre(TipoRegistroTraceLib, ".", ArquivoTracePadrao, api.IdLoja, api.IdTerminal,
                               api.HabilitaTrace, nullptr);
    }
    TraceIdentificacaoLib();
    CarregaLibEMV();  // its absence is not an error
  }
  PP_AtivaLibEMV(0, "");
}

void GaranteInicializacao(int32_t abreTrace) {
  if (LibState.api.PrimeiraChamada) InicializaLibPinPad(abreTrace);
}

// ---- Configuration and information entry points ------------------------------

int32_t DefineArquivoConfiguracao(const char* caminho) {
  if (caminho && std::strlen(caminho) >= sizeof LibState.api.ArqConfiguracao) return PPCOMP_BADPARAM;
  CopiaCampo(LibState.api.ArqConfiguracao, caminho);
  return PPCOMP_OK;
}

int32_t CarregaConfiguracaoPinPad() {
  auto& api = LibState.api;
  const char* arquivo = api.ArqConfiguracao;
  api.CriptografiaCompleta = IniLeInteiro(SecaoConfiguracao, "CriptografiaOtimizada", 0, arquivo) == 0 ? 1 : 0;
  api.VelocidadePinPad = IniLeInteiro(SecaoConfiguracao, "VelocidadePinPad", 19200, arquivo);
  api.HabilitaTrace = IniLeInteiro(SecaoConfiguracao, "HabilitaTrace", 1, arquivo);
  return IniLeTexto(SecaoConfiguracao, "ChaveTrace", "", api.ChaveTrace, sizeof api.ChaveTrace, arquivo);
}

int32_t FinalizaLibPinPad() {
  PP_Close("");
  DescarregaLibEMV();
  if (LibState.api.TraceLib) {
    TraceFecha(LibState.api.TraceLib);
    LibState.api.TraceLib = nullptr;
  }
  return PPCOMP_OK;
}

int32_t DefineFuncoesHost(PP_FuncaoHostRecebe recebe, PP_FuncaoHostComando comando) {
  GaranteInicializacao();
  LibState.api.FuncaoHostRecebe = recebe;
  LibState.api.FuncaoHostComando = comando;
  return 0;
}

int32_t ConfiguraTracePinPad(const char* loja, const char* terminal, int32_t usaLojaTerminal, int32_t valor,
                             const char* opcoes) {
  auto& api = LibState.api;
  GaranteInicializacao(0);
  api.UsaLojaTerminal = usaLojaTerminal;
  if (loja && terminal && std::strlen(loja) == 8 && std::strlen(terminal) == 8) {
    CopiaCampo(api.IdLoja, loja);
    CopiaCampo(api.IdTerminal, terminal);
  } else {
    CopiaCampo(api.IdLoja, "");
    CopiaCampo(api.IdTerminal, "");
  }

  // Values of a parameter list are shorter than its 284-byte work buffer.
  char diretorio[300] = {};
  char arquivo[300] = {};
  if (!opcoes || !ListaObtemTexto(opcoes, "DiretorioTrace", diretorio, sizeof diretorio) || !diretorio[0]) {
    std::snprintf(diretorio, sizeof diretorio, ".");
  }
  if (!opcoes || !ListaObtemTexto(opcoes, "ArquivoTrace", arquivo, sizeof arquivo) || !arquivo[0]) {
    std::snprintf(arquivo, sizeof arquivo, "%s", api.UsaLojaTerminal ? ArquivoTraceLojaTerminal : ArquivoTracePadrao);
  }

  if (api.TraceLib) {
    TraceFecha(api.TraceLib);
    api.TraceLib = nullptr;
  }

  // "ChaveTrace=<key>" first, then the caller's options after a comma.
  constexpr char Prefixo[] = "ChaveTrace=";
  size_t tamChave = std::strlen(api.ChaveTrace);
  size_t tamOpcoes = opcoes ? std::strlen(opcoes) : 0;
  char* parametros = static_cast<char*>(std::calloc(sizeof Prefixo + tamChave + 1 + tamOpcoes + 1, 1));
  if (parametros) {
    char* p = parametros;
    if (tamChave) {
      std::memcpy(p, Prefixo, sizeof Prefixo - 1);
      p += sizeof Prefixo - 1;
      std::memcpy(p, api.ChaveTrace, tamChave);
      p += tamChave;
      if (opcoes) *p++ = ',';
    }
    if (opcoes) std::memcpy(p, opcoes, tamOpcoes);
  }
  api.TraceLib = TraceAbre(TipoRegistroTraceLib, diretorio, arquivo, api.IdLoja, api.IdTerminal, api.HabilitaTrace,
                           parametros ? parametros : "");
  std::free(parametros);

  TraceIdentificacaoLib();
  ConfiguraTerminalLibEMV(api.IdLoja, api.IdTerminal, usaLojaTerminal, valor, opcoes);
  return 0;
}

int32_t ObtemInformacaoLib(int32_t codigo, char* saida) {
  GaranteInicializacao();
  if (!saida) return PPCOMP_BADPARAM;
  if (codigo >= 10000 && codigo <= 19999) return LibEMVObtemValor(codigo, saida);
  if (codigo == 1) {
    std::memcpy(saida, VersaoLib, sizeof VersaoLib);
    return 0;
  }
  if (codigo == 9999) {
    if (LibEMVCarregada()) {
      // The value is "0" or "1", but the EMV library is told no size: give it
      // room for any value it may write rather than the two bytes it needs.
      char disponivel[1025] = {};
      bool sim = LibEMVObtemValor(19001, disponivel) == 0 && disponivel[0] == '1';
      std::memcpy(saida, sim ? "1" : "0", 2);
    } else {
      std::memcpy(saida, "1", 2);
    }
    return 0;
  }
  return PPCOMP_BADPARAM;
}

int32_t ObtemVersaoLib(char* saida) {
  GaranteInicializacao();
  if (saida) std::memcpy(saida, VersaoLib, sizeof VersaoLib);
  return 0;
}

// ---- PP_* wrappers -----------------------------------------------------------

using T = TabelaFuncoesPP;

int32_t PP_Open(const char* porta) { return Despacha<&T::Open>("PP_Open", false, porta); }
int32_t PP_Close(const char* mensagem) { return Despacha<&T::Close>("PP_Close", false, mensagem); }
int32_t PP_Abort() { return Despacha<&T::Abort>("PP_Abort", false); }
int32_t PP_GetInfo(const char* indice, char* saida) {
  return Despacha<&T::GetInfo>("PP_GetInfo", false, indice, saida);
}
int32_t PP_Display(const char* mensagem) { return Despacha<&T::Display>("PP_Display", false, mensagem); }
int32_t PP_DisplayEx(const char* entrada) { return Despacha<&T::DisplayEx>("PP_DisplayEx", false, entrada); }
int32_t PP_StartGetKey() { return Despacha<&T::StartGetKey>("PP_StartGetKey", false); }
int32_t PP_GetKey() { return Despacha<&T::GetKey>("PP_GetKey", true); }
int32_t PP_StartGetPIN(const char* entrada) { return Despacha<&T::StartGetPIN>("PP_StartGetPIN", false, entrada); }
int32_t PP_GetPIN(char* saida, char* mensagem) { return Despacha<&T::GetPIN>("PP_GetPIN", true, saida, mensagem); }
int32_t PP_StartCheckEvent(const char* entrada) {
  return Despacha<&T::StartCheckEvent>("PP_StartCheckEvent", false, entrada);
}
int32_t PP_CheckEvent(char* saida) { return Despacha<&T::CheckEvent>("PP_CheckEvent", true, saida); }
int32_t PP_EncryptBuffer(const char* entrada, char* saida) {
  return Despacha<&T::EncryptBuffer>("PP_EncryptBuffer", false, entrada, saida);
}
int32_t PP_GetDUKPT(const char* entrada, char* saida) {
  return Despacha<&T::GetDUKPT>("PP_GetDUKPT", false, entrada, saida);
}
int32_t PP_StartRemoveCard(const char* mensagem) {
  return Despacha<&T::StartRemoveCard>("PP_StartRemoveCard", false, mensagem);
}
int32_t PP_RemoveCard(char* mensagem) { return Despacha<&T::RemoveCard>("PP_RemoveCard", true, mensagem); }
int32_t PP_StartGetCard(const char* primeira, const char* entrada) {
  return Despacha<&T::StartGetCard>("PP_StartGetCard", false, primeira, entrada);
}
int32_t PP_GetCard(char* saida, char* segunda, char* mensagem) {
  return Despacha<&T::GetCard>("PP_GetCard", true, saida, segunda, mensagem);
}
int32_t PP_ResumeGetCard() { return Despacha<&T::ResumeGetCard>("PP_ResumeGetCard", false); }
int32_t PP_StartGenericCmd(const char* entrada) {
  return Despacha<&T::StartGenericCmd>("PP_StartGenericCmd", false, entrada);
}
int32_t PP_GenericCmd(char* saida, char* mensagem) {
  return Despacha<&T::GenericCmd>("PP_GenericCmd", true, saida, mensagem);
}
int32_t PP_TableLoadInit(const char* entrada) {
  return Despacha<&T::TableLoadInit>("PP_TableLoadInit", false, entrada);
}
int32_t PP_TableLoadRec(const char* entrada) { return Despacha<&T::TableLoadRec>("PP_TableLoadRec", false, entrada); }
int32_t PP_TableLoadEnd() { return Despacha<&T::TableLoadEnd>("PP_TableLoadEnd", false); }
int32_t PP_GetTimeStamp(const char* entrada, char* saida) {
  return Despacha<&T::GetTimeStamp>("PP_GetTimeStamp", false, entrada, saida);
}
int32_t PP_DefineWKPAN(const char* entrada, char* saida) {
  return Despacha<&T::DefineWKPAN>("PP_DefineWKPAN", false, entrada, saida);
}
int32_t PP_ChipDirect(const char* entrada, char* saida) {
  return Despacha<&T::ChipDirect>("PP_ChipDirect", false, entrada, saida);
}
int32_t PP_ChangeParameter(const char* entrada) {
  return Despacha<&T::ChangeParameter>("PP_ChangeParameter", false, entrada);
}
int32_t PP_ConfigProcess(const char* entrada) {
  return Despacha<&T::ConfigProcess>("PP_ConfigProcess", false, entrada);
}
int32_t PP_GetTLV(const char* entrada, char* saida) { return Despacha<&T::GetTLV>("PP_GetTLV", false, entrada, saida); }

// The chip steps wrap their slot with the chip-parameter handling: the tag
// lists are kept and extended before the call, and the answer is traced and
// cut back to the caller's tags after it.
int32_t PP_StartGoOnChip(const char* entrada, const char* tags, const char* tagsOpt) {
  GaranteInicializacao();
  auto slot = LibState.api.TabelaFuncoes.StartGoOnChip;
  int32_t r = PPCOMP_NOFUNC;
  if (slot) {
    const char* lista = ChipPreparaStartGoOnChip(tags, tagsOpt);
    r = slot(entrada, tags, lista);
    ChipTraceStartGoOnChip(entrada, tags, lista);
  }
  TraceNumero("PP_StartGoOnChip", "Sts", r);
  return r;
}

int32_t PP_GoOnChip(char* saida, char* mensagem) {
  GaranteInicializacao();
  auto slot = LibState.api.TabelaFuncoes.GoOnChip;
  int32_t r = slot ? slot(saida, mensagem) : PPCOMP_NOFUNC;
  if (r == PPCOMP_PROCESSING) return r;
  if (r == PPCOMP_OK) ChipPosProcessaGoOnChip(saida);
  TraceNumero("PP_GoOnChip", "Sts", r);
  return r;
}

int32_t PP_FinishChip(const char* entrada, const char* tags, char* saida) {
  GaranteInicializacao();
  auto slot = LibState.api.TabelaFuncoes.FinishChip;
  int32_t r = PPCOMP_NOFUNC;
  if (slot) {
    const char* lista = ChipPreparaFinishChip(tags);
    r = slot(entrada, lista, saida);
    if (r == PPCOMP_OK) ChipPosProcessaFinishChip(saida);
  }
  TraceNumero("PP_FinishChip", "Sts", r);
  return r;
}

int32_t PP_TableLoadRecEx(const char* entrada, const char* opcoes) {
  GaranteInicializacao();
  int32_t tipoSlot = 1;
  char copia[128] = {};
  if (opcoes) std::snprintf(copia, sizeof copia, "%s", opcoes);
  char entradaOpcao[128];
  char chave[128];
  for (int volta = 0; copia[0] && volta < static_cast<int>(sizeof copia); ++volta) {
    std::memset(entradaOpcao, 0, sizeof entradaOpcao);
    std::memset(chave, 0, sizeof chave);
    if (ExtraiCampo(copia, ";", 1, entradaOpcao, sizeof entradaOpcao) != 0) break;
    if (ExtraiCampo(entradaOpcao, "=", 1, chave, sizeof chave) != 0) break;
    if (strcasecmp(chave, "TipoSlot") == 0) {
      tipoSlot = StrToIntDef(entradaOpcao, 1);
      break;
    }
  }
  int32_t r = PPCOMP_OK;
  bool emvAtiva = LibState.libemv.LibEMVAtiva != 0;
  if ((tipoSlot == 1 && !emvAtiva) || (tipoSlot == 2 && emvAtiva)) r = PP_TableLoadRec(entrada);
  TraceNumero("PP_TableLoadRecEx", "Sts", r);
  return r;
}
