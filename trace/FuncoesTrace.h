#pragma once
// Trace calls used by every module. They report no failure and change no
// result. Until the writer is in place these are no-ops with their final
// signatures.
#include <cstdint>

struct TraceCtx;

// Contexts
TraceCtx* TraceAbre(uint8_t tipo, const char* diretorio, const char* modeloArquivo, const char* idLoja,
                    const char* idTerminal, int32_t ativo, const char* parametros);
void TraceFecha(TraceCtx* ctx);

// Records on the current context
void TraceTexto(const char* tag, const char* rotulo, const char* texto);
void TraceNumero(const char* tag, const char* rotulo, int32_t valor);
void TraceDados(const char* tag, const char* rotulo, int32_t tipo, const void* dados, int32_t tamanho);
void TraceBinario(const char* tag, const char* rotulo, const void* dados, int32_t tamanho);
// direcao: 1 = sent to the pinpad, 2 = received from it.
void TraceDadosPinPad(const char* tag, const char* rotulo, const void* quadro, int32_t tamanho, int32_t direcao);
int32_t TraceAtivo();
int32_t TraceChaveValida();
