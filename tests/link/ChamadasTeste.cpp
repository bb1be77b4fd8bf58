#include "ChamadasTeste.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>

#include "link/Serial.h"
#include "state/LibState.h"

namespace testlink {

ChamadasTeste* ChamadasTeste::atual = nullptr;

namespace {

using Clock = std::chrono::steady_clock;

const ChamadasSerial& Real() { return SerialChamadasPadrao(); }

// Runs `real` unless a rule fails the call; records the outcome.
template <typename F>
int64_t Chama(Chamada c, int argumento, F real) {
  ChamadasTeste* t = ChamadasTeste::atual;
  int64_t r = 0;
  int erroSalvo = 0;
  if (t && t->Injeta(c, r)) {
    erroSalvo = errno;
  } else {
    r = real();
    erroSalvo = errno;
  }
  if (t) {
    Evento e{c, Clock::now(), r, argumento, {}, {}, {}};
    t->Registra(std::move(e));
  }
  errno = erroSalvo;
  return r;
}

int Open(const char* caminho, int flags) {
  ChamadasTeste* t = ChamadasTeste::atual;
  int64_t r = 0;
  int erro = 0;
  if (t && t->Injeta(Chamada::open, r)) {
    erro = errno;
  } else {
    r = Real().open(caminho, flags);
    erro = errno;
  }
  if (t) t->Registra({Chamada::open, Clock::now(), r, flags, {}, caminho, {}});
  errno = erro;
  return static_cast<int>(r);
}

int Close(int fd) {
  return static_cast<int>(Chama(Chamada::close, fd, [&] { return Real().close(fd); }));
}

ssize_t Read(int fd, void* b, size_t n) {
  return static_cast<ssize_t>(Chama(Chamada::read, fd, [&] { return Real().read(fd, b, n); }));
}

ssize_t Write(int fd, const void* d, size_t n) {
  ChamadasTeste* t = ChamadasTeste::atual;
  int64_t r = 0;
  int erro = 0;
  if (t && t->Injeta(Chamada::write, r)) {
    erro = errno;
  } else {
    const size_t limite = t ? t->LimiteEscrita() : n;
    if (limite == 0 && n > 0) {
      r = 0;
    } else {
      r = Real().write(fd, d, n < limite ? n : limite);
    }
    erro = errno;
  }
  if (t) {
    Evento e{Chamada::write, Clock::now(), r, fd, {}, {}, {}};
    if (r > 0) e.dados.assign(static_cast<const uint8_t*>(d), static_cast<const uint8_t*>(d) + r);
    t->Registra(std::move(e));
  }
  errno = erro;
  return static_cast<ssize_t>(r);
}

int Poll(pollfd* p, nfds_t n, int timeoutMs) {
  const int escrita = n > 0 && (p[0].events & POLLOUT) ? 1 : 0;
  return static_cast<int>(Chama(Chamada::poll, escrita, [&] { return Real().poll(p, n, timeoutMs); }));
}

int Flock(int fd, int operacao) {
  return static_cast<int>(Chama(Chamada::flock, operacao, [&] { return Real().flock(fd, operacao); }));
}

int Ioctl(int fd, unsigned long pedido, int* valor) {
  ChamadasTeste* t = ChamadasTeste::atual;
  int64_t r = 0;
  if (!(t && t->Injeta(Chamada::ioctl, r))) {
    if (t && t->filaSaida && pedido == TIOCOUTQ) {
      *valor = t->filaSaida();
      r = 0;
    } else {
      r = Real().ioctl(fd, pedido, valor);
    }
  }
  const int erro = errno;
  if (t) {
    Evento e{Chamada::ioctl, Clock::now(), r, fd, {}, {}, {}};
    e.pedido = pedido;
    t->Registra(std::move(e));
  }
  errno = erro;
  return static_cast<int>(r);
}

int Dupfd(int fd, int minimo) {
  return static_cast<int>(Chama(Chamada::dupfd, minimo, [&] { return Real().dupfd(fd, minimo); }));
}

int TcGet(int fd, termios* c) {
  return static_cast<int>(Chama(Chamada::tcgetattr, fd, [&] { return Real().tcgetattr(fd, c); }));
}

int TcSet(int fd, int quando, const termios* c) {
  ChamadasTeste* t = ChamadasTeste::atual;
  int64_t r = 0;
  if (!(t && t->Injeta(Chamada::tcsetattr, r))) r = Real().tcsetattr(fd, quando, c);
  const int erro = errno;
  if (t) {
    Evento e{Chamada::tcsetattr, Clock::now(), r, quando, {}, {}, {}};
    e.config = *c;
    t->Registra(std::move(e));
  }
  errno = erro;
  return static_cast<int>(r);
}

int TcFlush(int fd, int fila) {
  return static_cast<int>(Chama(Chamada::tcflush, fila, [&] { return Real().tcflush(fd, fila); }));
}

int NanoSleep(const timespec* p, timespec* r) {
  return static_cast<int>(Chama(Chamada::nanosleep, 0, [&] { return Real().nanosleep(p, r); }));
}

int ClockGettime(clockid_t id, timespec* ts) {
  ChamadasTeste* t = ChamadasTeste::atual;
  return static_cast<int>(Chama(Chamada::clock_gettime, static_cast<int>(id), [&] {
    if (t && t->relogio) return t->relogio(id, ts);
    return Real().clock_gettime(id, ts);
  }));
}

constexpr ChamadasSerial kTabela = {Open,      Close,        Read,    Write, Poll,  TcGet, TcSet,
                                    TcFlush,   NanoSleep,    ClockGettime, nullptr, Flock, Ioctl, Dupfd};

}  // namespace

ChamadasTeste::ChamadasTeste() {
  atual = this;
  LibState.serial.Chamadas = &kTabela;
}

ChamadasTeste::~ChamadasTeste() {
  LibState.serial.Chamadas = nullptr;
  atual = nullptr;
}

void ChamadasTeste::Falha(Chamada c, int enesima, int erro, bool permanente) {
  std::lock_guard<std::mutex> l(mtx_);
  regras_.push_back({c, enesima, erro, permanente, false, 0});
}

void ChamadasTeste::EscritaCurta(int enesima, size_t maximo) {
  std::lock_guard<std::mutex> l(mtx_);
  regras_.push_back({Chamada::write, enesima, 0, false, true, maximo});
}

void ChamadasTeste::DefineRelogio(std::function<int(clockid_t, timespec*)> r) { relogio = std::move(r); }

void ChamadasTeste::DefineFilaSaida(std::function<int()> fila) { filaSaida = std::move(fila); }

bool ChamadasTeste::Injeta(Chamada c, int64_t& resultado) {
  std::lock_guard<std::mutex> l(mtx_);
  for (Regra& r : regras_) {
    if (r.chamada != c || r.curta) continue;
    if (r.restante > 1) {
      --r.restante;
      continue;
    }
    if (r.restante < 1 && !r.permanente) continue;
    r.restante = 0;
    errno = r.erro;
    resultado = -1;
    return true;
  }
  return false;
}

size_t ChamadasTeste::LimiteEscrita() {
  std::lock_guard<std::mutex> l(mtx_);
  size_t limite = SIZE_MAX;
  for (Regra& r : regras_) {
    if (!r.curta || r.restante < 1) continue;
    if (--r.restante == 0) limite = r.maximo;
  }
  return limite;
}

void ChamadasTeste::Registra(Evento e) {
  std::lock_guard<std::mutex> l(mtx_);
  eventos_.push_back(std::move(e));
}

std::vector<Evento> ChamadasTeste::Eventos() const {
  std::lock_guard<std::mutex> l(mtx_);
  return eventos_;
}

std::vector<Evento> ChamadasTeste::Eventos(Chamada c) const {
  std::lock_guard<std::mutex> l(mtx_);
  std::vector<Evento> r;
  for (const Evento& e : eventos_)
    if (e.chamada == c) r.push_back(e);
  return r;
}

int ChamadasTeste::Contagem(Chamada c) const {
  std::lock_guard<std::mutex> l(mtx_);
  int n = 0;
  for (const Evento& e : eventos_)
    if (e.chamada == c) ++n;
  return n;
}

void ChamadasTeste::Limpa() {
  std::lock_guard<std::mutex> l(mtx_);
  eventos_.clear();
}

}  // namespace testlink
