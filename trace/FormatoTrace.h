#pragma once
// Binary trace record: layout constants, the keyless scrambling of record
// values and the trace key that carries the period in which pinpad frames may
// be traced. Shared by the writer and by the reader program.
#include <cstddef>
#include <cstdint>
#include <span>

// Record header (all integers little-endian):
//   0 marker 6A 00 | 2 length of the record minus 2 | 4 type | 5 date and time,
//   7 packed digits YYYYMMDDhhmmss | 12 clock() | 16 pid | 20 thread | 24 kind |
//   26 data pointer | 30 caller's data length | 32 origin\0 tag\0 label\0 value
inline constexpr uint8_t MARCA_REGISTRO_TRACE[2] = {0x6A, 0x00};
inline constexpr size_t TAM_CABECALHO_TRACE = 32;
inline constexpr size_t TAM_MAXIMO_VALOR_TRACE = 4096;

// Kinds of value.
inline constexpr int32_t TRACE_TEXTO = 0;
inline constexpr int32_t TRACE_INTEIRO = 1;
inline constexpr int32_t TRACE_BINARIO = 2;

// The three passes applied to every value before it is written: chained pass,
// exchange pass, chained pass. In place.
void EmbaralhaValorTrace(std::span<uint8_t> valor);

// The same bytes as copying `n` bytes of `origem` to `destino` and running
// EmbaralhaValorTrace on the copy, in two loops instead of four: the copy
// with the first chained pass, then the exchange pass with the second one.
// The two buffers must not overlap.
void CopiaEmbaralhadoTrace(const uint8_t* origem, uint8_t* destino, size_t n);

// The exchange pass alone (swaps i and j moving inwards, i with a step that
// cycles 1..4). Each position is touched at most once, so the pass is its own
// inverse.
void TrocaPosicoesTrace(std::span<uint8_t> valor);

// Trace key ("ChaveTrace", 16 hexadecimal digits) to its validity period:
// inicio and fim get 8 characters each plus a NUL. A short or malformed key
// gives a meaningless period, never an overrun. A null key gives two empty texts.
void ChaveTraceParaValidade(const char* chave, char inicio[9], char fim[9]);

// Inverse of EmbaralhaValorTrace (for the reader).
void DesembaralhaValorTrace(std::span<uint8_t> valor);

// Inverse of ChaveTraceParaValidade: the 16 upper-case hexadecimal digits (and
// a NUL) of a key whose period is inicio..fim (8 characters each, YYYYMMDD).
// Returns 0, or -1 when either date is not 8 characters.
int ValidadeParaChaveTrace(const char* inicio, const char* fim, char chave[17]);
