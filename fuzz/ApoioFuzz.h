#pragma once
// Shared pieces of the fuzz targets: a serial line whose incoming bytes come
// from the fuzzer's input, a clock that only moves when the library waits,
// caller buffers that are not zero-filled, and a work folder of the process.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "pinpad/ppcomp.h"

// A failed invariant: report it like a crash so that the fuzzer keeps the input.
#define FUZZ_EXIGE(cond)                                                                     \
  do {                                                                                        \
    if (!(cond)) {                                                                            \
      std::fprintf(stderr, "%s:%d: invariante violada: %s\n", __FILE__, __LINE__, #cond);    \
      std::abort();                                                                           \
    }                                                                                         \
  } while (0)

namespace fuzz {

// Reads the fuzzer's input from the front: small numbers to choose a path, and
// the rest as the bytes of the pinpad, the file or the text.
class Leitor {
 public:
  Leitor(const uint8_t* dados, size_t tamanho) : d_(dados), n_(tamanho) {}
  uint8_t Byte() { return p_ < n_ ? d_[p_++] : 0; }
  uint16_t Dois() { return static_cast<uint16_t>(Byte() << 8 | Byte()); }
  // At most `maximo` bytes.
  std::string Texto(size_t maximo) {
    const size_t k = std::min(maximo, n_ - p_);
    std::string s(reinterpret_cast<const char*>(d_ + p_), k);
    p_ += k;
    return s;
  }
  // A stretch whose length is given by one byte in front of it.
  std::string Pedaco() { return Texto(Byte()); }
  std::string Resto() { return Texto(n_ - p_); }
  size_t Restam() const { return n_ - p_; }

 private:
  const uint8_t* d_;
  size_t n_;
  size_t p_ = 0;
};

// `s` up to its first NUL: a text as a C caller would pass it.
inline std::string AteNul(std::string s) {
  s.erase(std::find(s.begin(), s.end(), '\0'), s.end());
  return s;
}

// A caller's output buffer of exactly `tamanho` bytes on the heap, filled with
// a non-zero pattern, so that a write or a read past its end hits the
// sanitizer's red zone and a missing terminator shows.
class BufferSujo {
 public:
  explicit BufferSujo(size_t tamanho, uint8_t padrao = 0xA5);
  char* p() { return buf_.get(); }
  uint8_t* u() { return reinterpret_cast<uint8_t*>(buf_.get()); }
  size_t tamanho() const { return n_; }
  // 1 when a NUL lies within the buffer.
  bool Terminado() const;
  // Bytes from `de` on still hold the pattern.
  bool IntactoDesde(size_t de) const;

 private:
  std::unique_ptr<char[]> buf_;
  size_t n_;
  uint8_t padrao_;
};

// A caller's text argument: `s` and its terminator in a heap block of exactly
// that size, plus `folga` bytes of room for routines that write in place.
struct TextoC {
  explicit TextoC(const std::string& s, size_t folga = 0) : b(s.size() + 1 + folga) {
    std::memcpy(b.p(), s.c_str(), s.size() + 1);
  }
  char* c() { return b.p(); }
  BufferSujo b;
};

// A private folder, created once per process and made the working directory
// (files the library writes there, such as its error log, stay out of the
// caller's way).
const std::string& PastaTrabalho();
// Removes every file of the work folder (trace files grow across runs).
void LimpaPastaTrabalho();

// ---- The serial line ------------------------------------------------------

// What the pinpad sends: `entrada`, handed to the library's reads in chunks of
// 1 to `maxPedaco` bytes chosen from `semente`. Writes are kept. Installs the
// system-call table into the library's state (LibState must be reset before).
// The clock starts at an arbitrary point and moves only when the library waits
// (poll time-outs, pauses), so protocol time limits cost nothing.
void LinhaInicia(std::string entrada, uint8_t semente, int maxPedaco = 16);
// Bytes the library wrote since LinhaInicia.
const std::string& LinhaEscrito();
// 1 while bytes remain unread.
bool LinhaTemDados();
// Simulated milliseconds since LinhaInicia.
int64_t LinhaDecorridoMs();
// Appends more incoming bytes.
void LinhaAcrescenta(const std::string& mais);

// ---- The host link ---------------------------------------------------------

// Empties the host's texts. With `crCancela`, a text of one CR byte stands for
// the host's cancel (HostRecebe answers -13) instead of being handed over.
void HostInicia(bool crCancela);
// The rest of `l` as the host's texts, each after a two-byte length (taken
// modulo 2600).
void HostLeTextos(Leitor& l);
// The host's functions: HostRecebe hands out the texts in order, truncated to
// the capacity, then answers -31 ("nothing yet"); HostComando accepts all.
int32_t HostRecebe(int32_t, int32_t, int32_t, int32_t capacidade, uint8_t*, char* buffer);
int32_t HostComando(int32_t, const char*);

// 1 when `r` is a return code of the library's set (0 to 999); reports any other.
bool CodigoValido(int32_t r);

// Polls an operation as a caller does: calls `f` again while it answers
// PPCOMP_PROCESSING (and, with `segueNotificacao`, PPCOMP_NOTIFY), 12 times at
// the most; every answer must be a valid code. Returns the last answer.
template <typename F>
int32_t Consulta(F f, bool segueNotificacao = false) {
  int32_t r = PPCOMP_PROCESSING;
  for (int i = 0; i < 12; ++i) {
    r = f();
    FUZZ_EXIGE(CodigoValido(r));
    if (r != PPCOMP_PROCESSING && !(segueNotificacao && r == PPCOMP_NOTIFY)) break;
  }
  return r;
}

// Puts LibState back to its load-time value with the fake line installed.
void ResetaEstado();

// A trace key valid from yesterday to tomorrow.
std::string ChaveTraceValida();

// Folder of the stand-in EMV library built beside the targets ("" when none).
std::string PastaEmvStub();

}  // namespace fuzz
