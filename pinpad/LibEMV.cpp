#include "pinpad/LibEMV.h"

#include <cstdio>
#include <cstring>

#include "pinpad/Comandos.h"
#include "pinpad/libpinpad.h"
#include "state/LibState.h"
#include "trace/FuncoesTrace.h"

int32_t CarregaLibEMV() { return PPCOMP_NOFUNC; }
int32_t DescarregaLibEMV() { return 0; }
int32_t LibEMVCarregada() { return 0; }
int32_t LibEMVObtemValor(int32_t, char*) { return PPCOMP_NOFUNC; }
int32_t ConfiguraTerminalLibEMV(const char*, const char*, int32_t, int32_t, const char*) { return PPCOMP_NOFUNC; }

int32_t ExtraiParametroDelimitado(const char* texto, const char* nome, char* saida, int32_t tamanho, char abre,
                                  char fecha, char alternativo) {
  if (!texto || !nome || !saida || tamanho <= 0) return 0;
  char chave[160];
  int n = std::snprintf(chave, sizeof chave, "%c%s=", abre, nome);
  if (n < 0 || n >= static_cast<int>(sizeof chave)) return 0;
  const char* inicio = std::strstr(texto, chave);
  if (!inicio && alternativo) {
    chave[0] = alternativo;
    inicio = std::strstr(texto, chave);
  }
  if (!inicio) return 0;
  const char* valor = inicio + n;
  const char* fim = std::strchr(inicio, fecha);
  if (!fim) return 0;
  if (alternativo) {
    const char* alt = std::strchr(valor, alternativo);
    if (alt && alt < fim) fim = alt;
  }
  if (fim < valor || fim - valor >= tamanho) return 0;
  std::memcpy(saida, valor, fim - valor);
  saida[fim - valor] = '\0';
  return 1;
}

int32_t PP_AtivaLibEMV(int32_t ativa, const char* parametros) {
  GaranteInicializacao();
  auto& tabela = LibState.api.TabelaFuncoes;
  auto& emv = LibState.libemv;
  int32_t modo = ativa ? 1 : 0;
  if (emv.LibEMVAtiva != modo || !tabela.Open) {
    // Leaving a mode closes its pinpad connection unless the caller says not to.
    if (tabela.Close) {
      char valor[11] = {};
      if (!(ExtraiParametroDelimitado(parametros, "NaoExecutaPPClose", valor, sizeof valor, '{', '}', 0) &&
            valor[0] == '1')) {
        tabela.Close("");
      }
    }
    emv.LibEMVAtiva = modo;
    tabela = modo ? TabelaFuncoesPP{} : TabelaComandosInternos;
  }
  TraceNumero("PP_AtivaLibEMV", "Ativa", emv.LibEMVAtiva);
  return 0;
}

int32_t PP_StartGetChip(const char* entrada1, const char* entrada2) {
  GaranteInicializacao();
  if (LibState.libemv.LibEMVAtiva == 1) {
    TraceTexto("PP_StartGetChip", "Biblioteca compartilhada nao ativa", "");
    return PPCOMP_BADCALL;
  }
  if (!LibState.comandos.CartaoLido) {
    TraceTexto("PP_StartGetChip", "Nao executou PP_Comp_GetCard", "");
    return PPCOMP_BADCALL;
  }
  PP_Comp_Close("");
  int32_t r;
  if (!LibState.comandos.NomePortaPinPad[0]) {
    TraceTexto("PP_StartGetChip", "Porta serial nula", "");
    r = PPCOMP_EXECERR;
  } else if ((r = PP_AtivaLibEMV(1, "")) != 0) {
    TraceTexto("PP_StartGetChip", "Erro na ativacao da LibEMV", "");
  } else if (!LibState.api.TabelaFuncoes.Open || !LibState.api.TabelaFuncoes.StartGetChip) {
    TraceTexto("PP_StartGetChip", "Funcoes nulas", "");
    r = PPCOMP_EXECERR;
  } else if ((r = LibState.api.TabelaFuncoes.Open(LibState.comandos.NomePortaPinPad)) != 0) {
    TraceTexto("PP_StartGetChip", "ppOpen retornou erro", "");
  } else if ((r = LibState.api.TabelaFuncoes.StartGetChip(entrada1, entrada2)) != 0) {
    TraceTexto("PP_StartGetChip", "ppStartGetChip retornou erro", "");
  }
  if (r != 0) PP_AtivaLibEMV(0, "");
  TraceNumero("PP_StartGetChip", "Sts", r);
  return r;
}

int32_t PP_GetChip(char* saida, char* segunda, char* mensagem) {
  GaranteInicializacao();
  auto slot = LibState.api.TabelaFuncoes.GetChip;
  int32_t r;
  if (!slot) {
    TraceTexto("PP_GetChip", "Funcao ppGetChip nula", "");
    r = PPCOMP_NOFUNC;
  } else {
    r = slot(saida, segunda, mensagem);
  }
  if (r == PPCOMP_PROCESSING) return r;
  TraceNumero("PP_GetChip", "Sts", r);
  return r;
}

int32_t PP_ResumeGetChip() {
  GaranteInicializacao();
  auto slot = LibState.api.TabelaFuncoes.ResumeGetChip;
  int32_t r = slot ? slot() : PPCOMP_NOFUNC;
  TraceNumero("PP_ResumeGetChip", "Sts", r);
  return r;
}
