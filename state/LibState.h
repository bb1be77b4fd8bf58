#pragma once
// The library's whole state: one statically initialised record, made of one
// sub-record per owning module. A line such as `LibState.enlace.TamTotalRx`
// shows whose field it touches. Each module writes only its own sub-record.
#include "state/EstadoApi.h"
#include "state/EstadoChip.h"
#include "state/EstadoComandos.h"
#include "state/EstadoCripto.h"
#include "state/EstadoEnlace.h"
#include "state/EstadoLibEMV.h"
#include "state/EstadoSC5000.h"
#include "state/EstadoSerial.h"
#include "state/EstadoTrace.h"

struct EstadoLib {
  EstadoApi api;            // entry layer
  EstadoComandos comandos;  // pinpad command set
  EstadoChip chip;          // chip-processing parameters
  EstadoSC5000 sc5000;      // SC5000 commands
  EstadoLibEMV libemv;      // EMV library bridge
  EstadoSerial serial;      // serial driver
  EstadoEnlace enlace;      // link framing
  EstadoCripto cripto;      // cipher keys
  EstadoTrace trace;        // trace state
};

extern EstadoLib LibState;
