// A stand-in for the closed EMV library: records every call and answers from a
// script. Built twice: complete, and without LE_TabEMVTimeStamp (the last symbol
// the bridge resolves) to show that one missing function refuses the whole library.
#include "EmvStub.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <string>
#include <type_traits>

#include "state/EstadoLibEMV.h"

#define EXPORTA extern "C" __attribute__((visibility("default")))

namespace {

struct Roteiro {
  std::string registro;
  std::deque<int32_t> filaExecute;
  std::map<std::string, int32_t> retornos;
  std::map<int32_t, std::string> valores;
  std::string mensagem;
};

Roteiro& R() {
  static Roteiro r;
  return r;
}

const char* T(const char* s) { return s ? s : "(null)"; }

void Registra(const char* funcao, const std::string& args) {
  R().registro += funcao;
  R().registro += "(" + args + ")\n";
}

int32_t Retorno(const char* funcao) {
  auto it = R().retornos.find(funcao);
  return it == R().retornos.end() ? 0 : it->second;
}

std::string N(int32_t v) { return std::to_string(v); }

}  // namespace

EXPORTA void EmvStubReinicia(void) { R() = Roteiro{}; }

EXPORTA void EmvStubFilaExecute(const char* resultados) {
  R().filaExecute.clear();
  for (const char* p = resultados; p && *p;) {
    char* fim = nullptr;
    R().filaExecute.push_back(static_cast<int32_t>(std::strtol(p, &fim, 10)));
    p = (*fim == ',') ? fim + 1 : fim;
  }
}

EXPORTA void EmvStubRetorno(const char* funcao, int32_t resultado) { R().retornos[funcao] = resultado; }
EXPORTA void EmvStubValor(int32_t identificador, const char* texto) { R().valores[identificador] = texto; }
EXPORTA void EmvStubMensagem(const char* texto) { R().mensagem = texto; }
EXPORTA const char* EmvStubRegistro(void) { return R().registro.c_str(); }

EXPORTA int32_t LE_Create(void) {
  Registra("LE_Create", "");
  return InstanciaEmvStub;
}
EXPORTA int32_t LE_Free(int32_t i) {
  Registra("LE_Free", N(i));
  return 0;
}
EXPORTA int32_t LE_Open(int32_t i, const char* porta) {
  Registra("LE_Open", N(i) + "," + T(porta));
  return Retorno("LE_Open");
}
EXPORTA int32_t LE_Close(int32_t i, const char* mensagem) {
  Registra("LE_Close", N(i) + "," + T(mensagem));
  return Retorno("LE_Close");
}
EXPORTA int32_t LE_ConfigTerminal(int32_t i, const char* loja, const char* terminal, int32_t usa, int32_t valor,
                                  const char* parametros) {
  Registra("LE_ConfigTerminal", N(i) + "," + T(loja) + "," + T(terminal) + "," + N(usa) + "," + N(valor) + "," +
                                    T(parametros));
  return Retorno("LE_ConfigTerminal");
}
EXPORTA int32_t LE_ConfigProcess(int32_t i, const char* entrada) {
  Registra("LE_ConfigProcess", N(i) + "," + T(entrada));
  return Retorno("LE_ConfigProcess");
}
EXPORTA int32_t LE_GetTLV(int32_t i, const char* entrada, char* saida) {
  Registra("LE_GetTLV", N(i) + "," + T(entrada));
  if (saida) std::strcpy(saida, "GetTLV");
  return Retorno("LE_GetTLV");
}
EXPORTA int32_t LE_GetValue(int32_t i, int32_t id, char* saida) {
  Registra("LE_GetValue", N(i) + "," + N(id));
  auto it = R().valores.find(id);
  if (saida && it != R().valores.end()) std::memcpy(saida, it->second.c_str(), it->second.size() + 1);
  return Retorno("LE_GetValue");
}
EXPORTA int32_t LE_SetValue(int32_t i, int32_t id, const char* entrada) {
  Registra("LE_SetValue", N(i) + "," + N(id) + "," + T(entrada));
  return Retorno("LE_SetValue");
}
EXPORTA int32_t LE_Execute(int32_t i, int32_t operacao, int32_t continua) {
  Registra("LE_Execute", N(i) + "," + N(operacao) + "," + N(continua));
  if (R().filaExecute.empty()) return 0;
  int32_t r = R().filaExecute.front();
  R().filaExecute.pop_front();
  return r;
}
EXPORTA int32_t LE_ShowMessage(int32_t i, const char* texto) {
  Registra("LE_ShowMessage", N(i) + "," + T(texto));
  return Retorno("LE_ShowMessage");
}
EXPORTA int32_t LE_ShowMessageEx(int32_t i, const char* texto) {
  Registra("LE_ShowMessageEx", N(i) + "," + T(texto));
  return Retorno("LE_ShowMessageEx");
}
EXPORTA int32_t LE_GetStatusMessage(int32_t i, int32_t status, char* mensagem) {
  Registra("LE_GetStatusMessage", N(i) + "," + N(status));
  if (mensagem) std::memcpy(mensagem, R().mensagem.c_str(), R().mensagem.size() + 1);
  return Retorno("LE_GetStatusMessage");
}
EXPORTA int32_t LE_GetInfo(int32_t i, const char* entrada, char* saida) {
  Registra("LE_GetInfo", N(i) + "," + T(entrada));
  if (saida) std::strcpy(saida, "GetInfo");
  return Retorno("LE_GetInfo");
}
EXPORTA int32_t LE_TabEMVSetParam(int32_t i, const char* entrada) {
  Registra("LE_TabEMVSetParam", N(i) + "," + T(entrada));
  return Retorno("LE_TabEMVSetParam");
}
EXPORTA int32_t LE_TabEMVInit(int32_t i, const char* entrada) {
  Registra("LE_TabEMVInit", N(i) + "," + T(entrada));
  return Retorno("LE_TabEMVInit");
}
EXPORTA int32_t LE_TabEMVRec(int32_t i, const char* entrada) {
  Registra("LE_TabEMVRec", N(i) + "," + T(entrada));
  return Retorno("LE_TabEMVRec");
}
EXPORTA int32_t LE_TabEMVEnd(int32_t i) {
  Registra("LE_TabEMVEnd", N(i));
  return Retorno("LE_TabEMVEnd");
}
#ifndef EMVSTUB_INCOMPLETO
EXPORTA int32_t LE_TabEMVTimeStamp(int32_t i, const char* entrada, char* saida) {
  Registra("LE_TabEMVTimeStamp", N(i) + "," + T(entrada));
  if (saida) std::strcpy(saida, "0000000001");
  return Retorno("LE_TabEMVTimeStamp");
}
#endif

// The stand-in's functions must have exactly the types the bridge calls them with.
static_assert(std::is_same_v<decltype(&LE_Create), FnLE_Create>);
static_assert(std::is_same_v<decltype(&LE_ConfigTerminal), FnLE_ConfigTerminal>);
static_assert(std::is_same_v<decltype(&LE_GetValue), FnLE_GetValue>);
static_assert(std::is_same_v<decltype(&LE_SetValue), FnLE_SetValue>);
static_assert(std::is_same_v<decltype(&LE_Execute), FnLE_Execute>);
static_assert(std::is_same_v<decltype(&LE_GetStatusMessage), FnLE_GetStatusMessage>);
static_assert(std::is_same_v<decltype(&LE_TabEMVEnd), FnLE_TabEMVEnd>);
