#pragma once
// Fields of the entry layer: configuration, first-call flag, operation table, host functions.
#include <cstdint>

#include "pinpad/pinpad.h"

struct TraceCtx;

// Parameter lists of the operations, one type per shape.
using FnPPVazia = int32_t (*)();
using FnPPTexto = int32_t (*)(const char*);
using FnPPSaida = int32_t (*)(char*);
using FnPPEntradaSaida = int32_t (*)(const char*, char*);
using FnPPDuasEntradas = int32_t (*)(const char*, const char*);
using FnPPTresEntradas = int32_t (*)(const char*, const char*, const char*);
using FnPPDuasEntradasSaida = int32_t (*)(const char*, const char*, char*);
using FnPPDuasSaidas = int32_t (*)(char*, char*);
using FnPPTresSaidas = int32_t (*)(char*, char*, char*);

// One slot per operation, in this fixed order (36 slots). An empty slot makes
// the operation answer PPCOMP_NOFUNC.
struct TabelaFuncoesPP {
  FnPPTexto Open;
  FnPPTexto Close;
  FnPPVazia Abort;
  FnPPEntradaSaida GetInfo;
  FnPPTexto Display;
  FnPPTexto DisplayEx;
  FnPPVazia StartGetKey;
  FnPPVazia GetKey;
  FnPPTexto StartGetPIN;
  FnPPDuasSaidas GetPIN;
  FnPPTexto StartCheckEvent;
  FnPPSaida CheckEvent;
  FnPPEntradaSaida EncryptBuffer;
  FnPPEntradaSaida GetDUKPT;
  FnPPTexto StartRemoveCard;
  FnPPSaida RemoveCard;
  FnPPDuasEntradas StartGetChip;
  FnPPTresSaidas GetChip;
  FnPPVazia ResumeGetChip;
  FnPPDuasEntradas StartGetCard;
  FnPPTresSaidas GetCard;
  FnPPVazia ResumeGetCard;
  FnPPTresEntradas StartGoOnChip;
  FnPPDuasSaidas GoOnChip;
  FnPPDuasEntradasSaida FinishChip;
  FnPPTexto StartGenericCmd;
  FnPPDuasSaidas GenericCmd;
  FnPPTexto TableLoadInit;
  FnPPTexto TableLoadRec;
  FnPPVazia TableLoadEnd;
  FnPPEntradaSaida GetTimeStamp;
  FnPPEntradaSaida DefineWKPAN;
  FnPPEntradaSaida ChipDirect;
  FnPPTexto ChangeParameter;
  FnPPTexto ConfigProcess;
  FnPPEntradaSaida GetTLV;
};
static_assert(sizeof(TabelaFuncoesPP) == 36 * sizeof(void (*)()), "36 operation slots");

inline constexpr int TamArqConfiguracao = 256;  // path text incl. terminator

struct EstadoApi {
  int32_t PrimeiraChamada = 1;       // 1 until InicializaLibPinPad has run
  int32_t CriptografiaCompleta = 1;  // 1 when "CriptografiaOtimizada" is 0
  int32_t HabilitaTrace = 0;         // trace-enable value for TraceAbre
  int32_t VelocidadePinPad = 19200;  // serial speed handed to PortaAbre
  char ChaveTrace[17] = {};          // trace key, at most 16 characters
  char IdLoja[9] = {};               // exactly 8 characters, or empty
  char IdTerminal[9] = {};           // exactly 8 characters, or empty
  int32_t UsaLojaTerminal = 0;       // store and terminal in the trace file name
  TraceCtx* TraceLib = nullptr;      // the library's trace context
  char ArqConfiguracao[TamArqConfiguracao] = {};  // set by DefineArquivoConfiguracao
  PP_FuncaoHostRecebe FuncaoHostRecebe = nullptr;
  PP_FuncaoHostComando FuncaoHostComando = nullptr;
  TabelaFuncoesPP TabelaFuncoes = {};
};
