#include "pinpad/LibEMV.h"

#include <dlfcn.h>
#include <link.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <type_traits>

#include "pinpad/Comandos.h"
#include "pinpad/libpinpad.h"
#include "pinpad/ppcomp.h"
#include "state/LibState.h"
#include "trace/FuncoesTrace.h"

namespace {

EstadoLibEMV& E() { return LibState.libemv; }

// Stores a dlsym result in one typed slot.
template <auto Membro>
void Atribui(FuncoesLibEMV& f, void* p) {
  using Tipo = std::remove_reference_t<decltype(f.*Membro)>;
  f.*Membro = reinterpret_cast<Tipo>(p);
}

struct SimboloLibEMV {
  const char* nome;
  void (*atribui)(FuncoesLibEMV&, void*);
};

// Resolved in this order; the first one missing refuses the library.
constexpr SimboloLibEMV TabelaSimbolosLibEMV[] = {
    {"LE_Create", Atribui<&FuncoesLibEMV::LE_Create>},
    {"LE_Free", Atribui<&FuncoesLibEMV::LE_Free>},
    {"LE_Open", Atribui<&FuncoesLibEMV::LE_Open>},
    {"LE_Close", Atribui<&FuncoesLibEMV::LE_Close>},
    {"LE_ConfigTerminal", Atribui<&FuncoesLibEMV::LE_ConfigTerminal>},
    {"LE_ConfigProcess", Atribui<&FuncoesLibEMV::LE_ConfigProcess>},
    {"LE_GetTLV", Atribui<&FuncoesLibEMV::LE_GetTLV>},
    {"LE_GetValue", Atribui<&FuncoesLibEMV::LE_GetValue>},
    {"LE_SetValue", Atribui<&FuncoesLibEMV::LE_SetValue>},
    {"LE_Execute", Atribui<&FuncoesLibEMV::LE_Execute>},
    {"LE_ShowMessage", Atribui<&FuncoesLibEMV::LE_ShowMessage>},
    {"LE_ShowMessageEx", Atribui<&FuncoesLibEMV::LE_ShowMessageEx>},
    {"LE_GetStatusMessage", Atribui<&FuncoesLibEMV::LE_GetStatusMessage>},
    {"LE_GetInfo", Atribui<&FuncoesLibEMV::LE_GetInfo>},
    {"LE_TabEMVSetParam", Atribui<&FuncoesLibEMV::LE_TabEMVSetParam>},
    {"LE_TabEMVInit", Atribui<&FuncoesLibEMV::LE_TabEMVInit>},
    {"LE_TabEMVRec", Atribui<&FuncoesLibEMV::LE_TabEMVRec>},
    {"LE_TabEMVEnd", Atribui<&FuncoesLibEMV::LE_TabEMVEnd>},
    {"LE_TabEMVTimeStamp", Atribui<&FuncoesLibEMV::LE_TabEMVTimeStamp>},
};
static_assert(std::size(TabelaSimbolosLibEMV) * sizeof(void*) == sizeof(FuncoesLibEMV));

constexpr char NomeLibEMV[] = "libemv.so";

// Folder of the object that holds this code: the shared pinpad library, or the
// executable when the library is linked statically. Empty when unknown. The
// shared library's path is its entry in the loader's link map; the main
// program's entry has no name (dladdr would answer argv[0] for it, which
// whoever starts the program chooses), so its real path comes from
// /proc/self/exe.
bool DiretorioDaBiblioteca(char* dir, size_t tam) {
  Dl_info info{};
  link_map* mapa = nullptr;
  char caminho[PATH_MAX] = {};
  if (dladdr1(reinterpret_cast<void*>(&CarregaLibEMV), &info, reinterpret_cast<void**>(&mapa), RTLD_DL_LINKMAP) &&
      mapa && mapa->l_name && mapa->l_name[0] == '/') {
    std::snprintf(caminho, sizeof caminho, "%s", mapa->l_name);
  } else {
    ssize_t n = readlink("/proc/self/exe", caminho, sizeof caminho - 1);
    if (n <= 0) return false;
    caminho[n] = '\0';
  }
  char* barra = std::strrchr(caminho, '/');
  if (!barra || caminho[0] != '/') return false;
  *barra = '\0';
  return std::snprintf(dir, tam, "%s", caminho) < static_cast<int>(tam);
}

// First attempt's full path, or false when there is no safe absolute folder.
bool CaminhoLibEMV(char* caminho, size_t tam) {
  char dir[PATH_MAX] = {};
  if (E().DiretorioLibEMV[0] != '\0') {
    if (E().DiretorioLibEMV[0] != '/') return false;  // relative: never from the working directory
    std::snprintf(dir, sizeof dir, "%.128s", E().DiretorioLibEMV);
  } else if (!DiretorioDaBiblioteca(dir, sizeof dir)) {
    return false;
  }
  int n = std::snprintf(caminho, tam, "%s/%s", dir, NomeLibEMV);
  return n > 0 && n < static_cast<int>(tam);
}

}  // namespace

int32_t CarregaLibEMV() {
  if (E().HandleLibEMV) return 0;
  char caminho[PATH_MAX + 16] = {};
  void* h = nullptr;
  if (CaminhoLibEMV(caminho, sizeof caminho)) h = dlopen(caminho, RTLD_NOW | RTLD_LOCAL);
  // The bare name goes to the loader's search path, which never includes the
  // working directory unless the environment puts it there.
  if (!h) h = dlopen(NomeLibEMV, RTLD_NOW | RTLD_LOCAL);
  if (!h) return PPCOMP_NOFUNC;
  E().HandleLibEMV = h;
  for (const SimboloLibEMV& s : TabelaSimbolosLibEMV) {
    dlerror();
    void* p = dlsym(h, s.nome);
    if (!p) {
      DescarregaLibEMV();
      return PPCOMP_NOFUNC;
    }
    s.atribui(E().funcoes, p);
  }
  E().InstanciaLibEMV = E().funcoes.LE_Create();
  return 0;
}

int32_t DescarregaLibEMV() {
  if (E().HandleLibEMV) {
    dlclose(E().HandleLibEMV);
    E().funcoes = FuncoesLibEMV{};
    E().HandleLibEMV = nullptr;
  }
  return 0;
}

int32_t LibEMVCarregada() { return E().HandleLibEMV ? 1 : 0; }

int32_t LibEMVInicia(int32_t n, const char* entrada0, const char* entrada1, const char* entrada2) {
  const FuncoesLibEMV& f = E().funcoes;
  if (!f.LE_Execute) return PPCOMP_NOFUNC;
  E().OperacaoLibEMV = n;
  const char* entradas[] = {entrada0, entrada1, entrada2};
  for (int32_t k = 0; k < 3; ++k) {
    if (entradas[k] && f.LE_SetValue) f.LE_SetValue(E().InstanciaLibEMV, IdEntradaLibEMV(n, k), entradas[k]);
  }
  int32_t r = f.LE_Execute(E().InstanciaLibEMV, n, 1);
  return r == PPCOMP_PROCESSING ? PPCOMP_OK : r;
}

int32_t LibEMVContinua(int32_t n, char* saida, char* mensagem) {
  const FuncoesLibEMV& f = E().funcoes;
  if (!f.LE_Execute) return PPCOMP_NOFUNC;
  int32_t r = f.LE_Execute(E().InstanciaLibEMV, n, 1);
  if (r == PPCOMP_NOTIFY && mensagem) {
    if (f.LE_GetStatusMessage) f.LE_GetStatusMessage(E().InstanciaLibEMV, 2, mensagem);
    return PPCOMP_NOTIFY;
  }
  if (r != 0 || !saida) return r;
  if (f.LE_GetValue) f.LE_GetValue(E().InstanciaLibEMV, IdSaidaLibEMV(E().OperacaoLibEMV), saida);
  return 0;
}

int32_t ExtraiParametroDelimitado(const char* texto, const char* nome, char* saida, int32_t tamanho, char abre,
                                  char fecha, char alternativo) {
  if (!texto || !nome || !saida || tamanho <= 0) return 0;
  char chave[160];
  int n = std::snprintf(chave, sizeof chave, "%c%s=", abre, nome);
  if (n <= 0 || n >= static_cast<int>(sizeof chave)) return 0;
  const char* achado = std::strstr(texto, chave);
  if (!achado && alternativo != '\0') {
    chave[0] = alternativo;
    achado = std::strstr(texto, chave);
  }
  if (!achado) return 0;
  const char* valor = achado + n;
  const char* fim = std::strchr(achado, fecha);
  if (!fim || fim < valor) return 0;
  if (alternativo != '\0') {
    const char* a = std::strchr(valor, alternativo);
    if (a && a < fim) fim = a;
  }
  size_t tam = static_cast<size_t>(fim - valor);
  if (tam >= static_cast<size_t>(tamanho)) return 0;
  std::memcpy(saida, valor, tam);
  saida[tam] = '\0';
  return 1;
}

int32_t ConfiguraTerminalLibEMV(const char* loja, const char* terminal, int32_t usaLojaTerminal, int32_t valor,
                                const char* parametros) {
  const FuncoesLibEMV& f = E().funcoes;
  if (!f.LE_ConfigTerminal) return PPCOMP_NOFUNC;
  return f.LE_ConfigTerminal(E().InstanciaLibEMV, loja, terminal, usaLojaTerminal, valor, parametros);
}

int32_t LibEMVObtemValor(int32_t identificador, char* saida) {
  const FuncoesLibEMV& f = E().funcoes;
  if (!f.LE_GetValue) return PPCOMP_NOFUNC;
  return f.LE_GetValue(E().InstanciaLibEMV, identificador, saida);
}

// ---- EMV-library mode: what each operation slot does --------------------------

namespace {

// Each forwarding function answers PPCOMP_NOFUNC when the LE_* function it
// needs is not loaded, else that function's result unchanged.
#define LE_CHAMA(funcao, ...) \
  (E().funcoes.funcao ? E().funcoes.funcao(E().InstanciaLibEMV __VA_OPT__(, ) __VA_ARGS__) : PPCOMP_NOFUNC)

int32_t EmvOpen(const char* porta) { return LE_CHAMA(LE_Open, porta); }
int32_t EmvClose(const char* mensagem) { return LE_CHAMA(LE_Close, mensagem); }
int32_t EmvAbort() { return LE_CHAMA(LE_Execute, E().OperacaoLibEMV, 0); }
int32_t EmvGetInfo(const char* entrada, char* saida) { return LE_CHAMA(LE_GetInfo, entrada, saida); }
int32_t EmvDisplay(const char* texto) { return LE_CHAMA(LE_ShowMessage, texto); }
int32_t EmvDisplayEx(const char* texto) { return LE_CHAMA(LE_ShowMessageEx, texto); }
int32_t EmvStartGetKey() { return LibEMVInicia(7, nullptr, nullptr, nullptr); }
int32_t EmvGetKey() { return LibEMVContinua(7, nullptr, nullptr); }
int32_t EmvStartGetPIN(const char* entrada) { return LibEMVInicia(6, entrada, nullptr, nullptr); }
int32_t EmvGetPIN(char* saida, char* mensagem) { return LibEMVContinua(6, saida, mensagem); }
int32_t EmvStartCheckEvent(const char* entrada) { return LibEMVInicia(5, entrada, nullptr, nullptr); }
int32_t EmvCheckEvent(char* saida) { return LibEMVContinua(5, saida, nullptr); }
int32_t EmvStartRemoveCard(const char* mensagem) { return LibEMVInicia(4, mensagem, nullptr, nullptr); }
int32_t EmvRemoveCard(char* mensagem) { return LibEMVContinua(4, nullptr, mensagem); }
int32_t EmvStartGetChip(const char* e1, const char* e2) { return LibEMVInicia(10, e1, e2, nullptr); }
int32_t EmvGetChip(char* saida, char*, char* mensagem) { return LibEMVContinua(10, saida, mensagem); }
int32_t EmvResumeGetChip() { return E().OperacaoLibEMV == 10 ? PPCOMP_OK : PPCOMP_BADCALL; }
int32_t EmvStartGetCard(const char* e1, const char* e2) { return LibEMVInicia(1, e1, e2, nullptr); }
int32_t EmvGetCard(char* saida, char*, char* mensagem) { return LibEMVContinua(1, saida, mensagem); }
int32_t EmvResumeGetCard() { return E().OperacaoLibEMV == 1 ? PPCOMP_OK : PPCOMP_BADCALL; }
int32_t EmvStartGoOnChip(const char* e, const char* tags, const char* tagsOpt) {
  return LibEMVInicia(2, e, tags, tagsOpt);
}
int32_t EmvGoOnChip(char* saida, char* mensagem) { return LibEMVContinua(2, saida, mensagem); }
int32_t EmvFinishChip(const char* e, const char* tags, char* saida) {
  int32_t r = LibEMVInicia(3, e, tags, nullptr);
  if (r == PPCOMP_OK && E().funcoes.LE_GetValue) E().funcoes.LE_GetValue(E().InstanciaLibEMV, IdSaidaLibEMV(3), saida);
  return r;
}
int32_t EmvStartGenericCmd(const char* entrada) { return LibEMVInicia(8, entrada, nullptr, nullptr); }
int32_t EmvGenericCmd(char* saida, char* mensagem) { return LibEMVContinua(8, saida, mensagem); }
int32_t EmvTableLoadInit(const char* entrada) { return LE_CHAMA(LE_TabEMVInit, entrada); }
int32_t EmvTableLoadRec(const char* entrada) { return LE_CHAMA(LE_TabEMVRec, entrada); }
int32_t EmvTableLoadEnd() { return LE_CHAMA(LE_TabEMVEnd); }
int32_t EmvGetTimeStamp(const char* entrada, char* saida) { return LE_CHAMA(LE_TabEMVTimeStamp, entrada, saida); }
int32_t EmvChangeParameter(const char* entrada) { return LE_CHAMA(LE_TabEMVSetParam, entrada); }
int32_t EmvConfigProcess(const char* entrada) { return LE_CHAMA(LE_ConfigProcess, entrada); }
int32_t EmvGetTLV(const char* entrada, char* saida) { return LE_CHAMA(LE_GetTLV, entrada, saida); }

#undef LE_CHAMA

}  // namespace

// The operation table of EMV-library mode. EncryptBuffer, GetDUKPT, DefineWKPAN
// and ChipDirect have no counterpart there: their empty slots answer PPCOMP_NOFUNC.
const TabelaFuncoesPP TabelaLibEMV = {
    EmvOpen, EmvClose, EmvAbort, EmvGetInfo, EmvDisplay, EmvDisplayEx, EmvStartGetKey, EmvGetKey,
    EmvStartGetPIN, EmvGetPIN, EmvStartCheckEvent, EmvCheckEvent, nullptr /* EncryptBuffer */,
    nullptr /* GetDUKPT */, EmvStartRemoveCard, EmvRemoveCard, EmvStartGetChip, EmvGetChip, EmvResumeGetChip,
    EmvStartGetCard, EmvGetCard, EmvResumeGetCard, EmvStartGoOnChip, EmvGoOnChip, EmvFinishChip,
    EmvStartGenericCmd, EmvGenericCmd, EmvTableLoadInit, EmvTableLoadRec, EmvTableLoadEnd, EmvGetTimeStamp,
    nullptr /* DefineWKPAN */, nullptr /* ChipDirect */, EmvChangeParameter, EmvConfigProcess, EmvGetTLV,
};

// ---- Mode switch and the chip-reading operations ----------------------------

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
    tabela = modo ? TabelaLibEMV : TabelaComandosInternos;
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
