#pragma once
// Fields of the EMV library bridge: handle, instance, mode, and one slot per
// function of the external EMV library (libemv.so), filled when it is loaded.
#include <cstdint>

// The external library's functions as the bridge calls them. Every call but
// LE_Create takes the instance that LE_Create returned; texts and buffers are
// the caller's, passed through unchanged.
extern "C" {
typedef int32_t (*FnLE_Create)(void);
typedef int32_t (*FnLE_Free)(int32_t instancia);
typedef int32_t (*FnLE_Open)(int32_t instancia, const char* porta);
typedef int32_t (*FnLE_Close)(int32_t instancia, const char* mensagem);
typedef int32_t (*FnLE_ConfigTerminal)(int32_t instancia, const char* loja, const char* terminal,
                                       int32_t usaLojaTerminal, int32_t valor, const char* parametros);
typedef int32_t (*FnLE_ConfigProcess)(int32_t instancia, const char* entrada);
typedef int32_t (*FnLE_GetTLV)(int32_t instancia, const char* entrada, char* saida);
typedef int32_t (*FnLE_GetValue)(int32_t instancia, int32_t identificador, char* saida);
typedef int32_t (*FnLE_SetValue)(int32_t instancia, int32_t identificador, const char* entrada);
typedef int32_t (*FnLE_Execute)(int32_t instancia, int32_t operacao, int32_t continua);
typedef int32_t (*FnLE_ShowMessage)(int32_t instancia, const char* texto);
typedef int32_t (*FnLE_ShowMessageEx)(int32_t instancia, const char* texto);
typedef int32_t (*FnLE_GetStatusMessage)(int32_t instancia, int32_t status, char* mensagem);
typedef int32_t (*FnLE_GetInfo)(int32_t instancia, const char* entrada, char* saida);
typedef int32_t (*FnLE_TabEMVSetParam)(int32_t instancia, const char* entrada);
typedef int32_t (*FnLE_TabEMVInit)(int32_t instancia, const char* entrada);
typedef int32_t (*FnLE_TabEMVRec)(int32_t instancia, const char* entrada);
typedef int32_t (*FnLE_TabEMVEnd)(int32_t instancia);
typedef int32_t (*FnLE_TabEMVTimeStamp)(int32_t instancia, const char* entrada, char* saida);
}

// One slot per symbol, in the order they are resolved.
struct FuncoesLibEMV {
  FnLE_Create LE_Create = nullptr;
  FnLE_Free LE_Free = nullptr;
  FnLE_Open LE_Open = nullptr;
  FnLE_Close LE_Close = nullptr;
  FnLE_ConfigTerminal LE_ConfigTerminal = nullptr;
  FnLE_ConfigProcess LE_ConfigProcess = nullptr;
  FnLE_GetTLV LE_GetTLV = nullptr;
  FnLE_GetValue LE_GetValue = nullptr;
  FnLE_SetValue LE_SetValue = nullptr;
  FnLE_Execute LE_Execute = nullptr;
  FnLE_ShowMessage LE_ShowMessage = nullptr;
  FnLE_ShowMessageEx LE_ShowMessageEx = nullptr;
  FnLE_GetStatusMessage LE_GetStatusMessage = nullptr;
  FnLE_GetInfo LE_GetInfo = nullptr;
  FnLE_TabEMVSetParam LE_TabEMVSetParam = nullptr;
  FnLE_TabEMVInit LE_TabEMVInit = nullptr;
  FnLE_TabEMVRec LE_TabEMVRec = nullptr;
  FnLE_TabEMVEnd LE_TabEMVEnd = nullptr;
  FnLE_TabEMVTimeStamp LE_TabEMVTimeStamp = nullptr;
};

struct EstadoLibEMV {
  void* HandleLibEMV = nullptr;  // dlopen handle; null while not loaded
  int32_t InstanciaLibEMV = 0;   // what LE_Create returned
  int32_t OperacaoLibEMV = -1;   // EMV-library operation last started
  int32_t LibEMVAtiva = 0;       // 1 while the operation table forwards to libemv.so
  // Absolute directory searched first for libemv.so; empty means "the folder the
  // pinpad library itself was loaded from". A relative directory is never used.
  char DiretorioLibEMV[129] = {};
  FuncoesLibEMV funcoes{};
};
