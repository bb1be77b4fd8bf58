#pragma once
// A system-call table for the serial driver that records every call with its
// time and fails chosen ones: the Nth call of a kind (counted from when the
// failure is armed) fails with an errno once or from then on, a write can be
// cut short, and the clock can be replaced. Installed into LibState for the
// lifetime of the object.
#include <sys/types.h>
#include <termios.h>
#include <time.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace testlink {

enum class Chamada {
  open, close, read, write, poll, tcgetattr, tcsetattr, tcflush, nanosleep, clock_gettime, flock, ioctl, dupfd, Total
};

struct Evento {
  Chamada chamada;
  std::chrono::steady_clock::time_point quando;  // when the call returned
  int64_t resultado = 0;
  int argumento = 0;               // tcflush queue, clock id, tcsetattr action, flock operation,
                                   // poll: 1 when waiting to write; dupfd: the lowest descriptor
  std::vector<uint8_t> dados;      // bytes a write put out
  std::string caminho;             // path given to open
  termios config{};                // settings given to tcsetattr
  unsigned long pedido = 0;        // ioctl request
};

class ChamadasTeste {
 public:
  ChamadasTeste();
  ~ChamadasTeste();
  ChamadasTeste(const ChamadasTeste&) = delete;
  ChamadasTeste& operator=(const ChamadasTeste&) = delete;

  // The `enesima` call of `c` from now on fails with `erro` (permanente: that
  // one and every later one).
  void Falha(Chamada c, int enesima, int erro, bool permanente = false);
  // The `enesima` write from now on writes at most `maximo` bytes (0: returns 0).
  void EscritaCurta(int enesima, size_t maximo);
  // Replaces the clock (called for every clock_gettime).
  void DefineRelogio(std::function<int(clockid_t, timespec*)> relogio);
  // Answers TIOCOUTQ (bytes still queued for output) instead of the device;
  // other ioctl requests go to the device.
  void DefineFilaSaida(std::function<int()> fila);

  std::vector<Evento> Eventos() const;
  std::vector<Evento> Eventos(Chamada c) const;
  int Contagem(Chamada c) const;
  void Limpa();

  // Used by the table's entries.
  static ChamadasTeste* atual;
  bool Injeta(Chamada c, int64_t& resultado);
  size_t LimiteEscrita();
  void Registra(Evento e);
  std::function<int(clockid_t, timespec*)> relogio;
  std::function<int()> filaSaida;

 private:
  struct Regra {
    Chamada chamada;
    int restante;
    int erro;
    bool permanente;
    bool curta;
    size_t maximo;
  };
  mutable std::mutex mtx_;
  std::vector<Regra> regras_;
  std::vector<Evento> eventos_;
};

}  // namespace testlink
