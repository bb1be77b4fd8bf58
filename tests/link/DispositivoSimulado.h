#pragma once
// A pinpad device behind the serial driver's system-call table, for tests that
// need no real terminal: reads hand out queued bytes, writes are recorded,
// sleeps return at once and the clock moves 10 ms per look. In virtual time the
// clock stands still instead, except in waits, which last what they ask for: a
// pause its length, a read wait with nothing to read its whole time-out.
#include <poll.h>
#include <termios.h>
#include <time.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <deque>
#include <ostream>
#include <vector>

#include "link/Serial.h"
#include "state/LibState.h"

namespace testlink {

// One wait for bytes to read: how many bytes the library had written before
// it, and its time-out.
struct EsperaLeitura {
  size_t escritos;
  int64_t ms;
  bool operator==(const EsperaLeitura&) const = default;
};

inline void PrintTo(const EsperaLeitura& e, std::ostream* os) { *os << "{" << e.escritos << ", " << e.ms << " ms}"; }

struct DispositivoSimulado {
  std::deque<uint8_t> entrada;   // bytes the pinpad will send
  std::vector<uint8_t> escrito;  // bytes the library wrote
  // Answers held back until the library has written a frame: each write of more
  // than one byte (a frame's body) releases the next one once `entrada` is empty.
  std::deque<std::vector<uint8_t>> respostas;
  int quadrosEscritos = 0;
  int64_t relogioNs = 1'000'000'000;
  int descritor = 77;            // what open returns
  bool tempoVirtual = false;
  std::vector<EsperaLeitura> esperasLeitura;
};

inline DispositivoSimulado g_dispositivo;

namespace simulado {
inline void Libera() {
  DispositivoSimulado& d = g_dispositivo;
  if (!d.entrada.empty() || d.quadrosEscritos == 0 || d.respostas.empty()) return;
  --d.quadrosEscritos;
  d.entrada.insert(d.entrada.end(), d.respostas.front().begin(), d.respostas.front().end());
  d.respostas.pop_front();
}
inline int Abre(const char*, int) { return g_dispositivo.descritor; }
inline int Fecha(int) { return 0; }
inline ssize_t Le(int, void* b, size_t n) {
  Libera();
  const size_t k = std::min(n, g_dispositivo.entrada.size());
  for (size_t i = 0; i < k; ++i) {
    static_cast<uint8_t*>(b)[i] = g_dispositivo.entrada.front();
    g_dispositivo.entrada.pop_front();
  }
  return static_cast<ssize_t>(k);
}
inline ssize_t Escreve(int, const void* d, size_t n) {
  const uint8_t* p = static_cast<const uint8_t*>(d);
  g_dispositivo.escrito.insert(g_dispositivo.escrito.end(), p, p + n);
  if (n > 1) ++g_dispositivo.quadrosEscritos;
  return static_cast<ssize_t>(n);
}
inline int Espera(pollfd* p, nfds_t, int prazoMs) {
  p->revents = 0;
  if (p->events & POLLOUT) {
    p->revents = POLLOUT;
    return 1;
  }
  DispositivoSimulado& d = g_dispositivo;
  d.esperasLeitura.push_back({d.escrito.size(), prazoMs});
  Libera();
  if (d.entrada.empty()) {
    if (d.tempoVirtual && prazoMs > 0) d.relogioNs += static_cast<int64_t>(prazoMs) * 1'000'000;
    return 0;
  }
  p->revents = POLLIN;
  return 1;
}
inline int LeConfig(int, termios*) { return 0; }
inline int AplicaConfig(int, int, const termios*) { return 0; }
inline int Descarta(int, int) { return 0; }
inline int Dorme(const timespec* pedido, timespec*) {
  if (g_dispositivo.tempoVirtual) g_dispositivo.relogioNs += pedido->tv_sec * 1'000'000'000LL + pedido->tv_nsec;
  return 0;
}
// A device of nobody else's, that sends at once what it is given.
inline int Tranca(int, int) { return 0; }
inline int Ioctl(int, unsigned long, int* valor) {
  if (valor) *valor = 0;
  return 0;
}
inline int Duplica(int fd, int) { return fd; }
inline int Relogio(clockid_t, timespec* ts) {
  if (!g_dispositivo.tempoVirtual) g_dispositivo.relogioNs += 10'000'000;
  ts->tv_sec = static_cast<time_t>(g_dispositivo.relogioNs / 1'000'000'000);
  ts->tv_nsec = static_cast<long>(g_dispositivo.relogioNs % 1'000'000'000);
  return 0;
}
}  // namespace simulado

inline constexpr ChamadasSerial kDispositivoSimulado = {
    simulado::Abre,     simulado::Fecha,        simulado::Le,       simulado::Escreve, simulado::Espera,
    simulado::LeConfig, simulado::AplicaConfig, simulado::Descarta, simulado::Dorme,   simulado::Relogio,
    nullptr,            simulado::Tranca,       simulado::Ioctl,    simulado::Duplica};

// A fresh device installed in LibState (which the caller has reset) and the
// pinpad port opened on it.
inline int32_t AbreDispositivoSimulado() {
  g_dispositivo = DispositivoSimulado{};
  LibState.serial.Chamadas = &kDispositivoSimulado;
  return PortaAbre("/simulado", 19200);
}

template <typename C>
void Enfileira(const C& bytes) {
  g_dispositivo.entrada.insert(g_dispositivo.entrada.end(), bytes.begin(), bytes.end());
}

// The pinpad's answer to the next frame the library writes.
template <typename C>
void RespondeAoProximoQuadro(const C& bytes) {
  g_dispositivo.respostas.emplace_back(bytes.begin(), bytes.end());
}

}  // namespace testlink
