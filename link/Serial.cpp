#include "link/Serial.h"

#include <fcntl.h>
#include <sched.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "pinpad/ppcomp.h"
#include "state/LibState.h"
#include "support/DonoPorta.h"
#include "support/FuncoesString.h"
#include "trace/FuncoesTrace.h"

namespace {

int AbreSistema(const char* caminho, int flags) { return ::open(caminho, flags); }
int IoctlSistema(int fd, unsigned long pedido, int* valor) { return ::ioctl(fd, pedido, valor); }
int DupfdSistema(int fd, int minimo) { return ::fcntl(fd, F_DUPFD_CLOEXEC, minimo); }

constexpr ChamadasSerial kChamadasSistema = {
    AbreSistema,    ::close,        ::read,   ::write,        ::poll,       ::tcgetattr,
    ::tcsetattr,    ::tcflush,      ::nanosleep, ::clock_gettime, ::sched_yield, ::flock,
    IoctlSistema,   DupfdSistema,
};

const ChamadasSerial& Sis() {
  const ChamadasSerial* c = LibState.serial.Chamadas;
  return c ? *c : kChamadasSistema;
}

int64_t AgoraNs() {
  timespec ts{};
  Sis().clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

constexpr int64_t kNsPorMs = 1000000;

struct Velocidade {
  int32_t argumento;
  speed_t constante;
};

// Speed argument: a small index or the rate itself; anything else is 9600.
constexpr Velocidade kVelocidades[] = {
    {1, B1200},     {1200, B1200},     {2, B2400},     {2400, B2400},   {3, B4800},   {4800, B4800},
    {4, B9600},     {9600, B9600},     {5, B19200},    {19200, B19200}, {6, B38400},  {38400, B38400},
    {7, B57600},    {57600, B57600},   {8, B115200},   {115200, B115200}, {50, B50},  {75, B75},
    {110, B110},    {134, B134},       {150, B150},    {200, B200},     {300, B300},  {600, B600},
    {1800, B1800},
};

speed_t ConstanteVelocidade(int32_t velocidade) {
  for (const Velocidade& v : kVelocidades)
    if (v.argumento == velocidade) return v.constante;
  return B9600;
}

tcflag_t FlagsParidade(char paridade) {
  switch (paridade) {
    case 'e': return PARENB;
    case 'o': return PARENB | PARODD;
    default: return 0;
  }
}

tcflag_t FlagsBitsDados(int32_t bits) {
  switch (bits) {
    case 5: return CS5;
    case 6: return CS6;
    case 7: return CS7;
    default: return CS8;
  }
}

// Retries a call interrupted by a signal.
template <typename F>
auto SemInterrupcao(F f) {
  for (;;) {
    auto r = f();
    if (r >= 0 || errno != EINTR) return r;
  }
}

// Rounded up, so that a resumed wait never ends early.
int ParaMsPoll(int64_t ns) {
  if (ns <= 0) return 0;
  const int64_t ms = (ns + kNsPorMs - 1) / kNsPorMs;
  return ms > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(ms);
}

// The device is gone (unplugged, or the other end of a pseudo-terminal closed):
// the errors a vanished device gives.
bool ErroDeDesconexao(int erro) { return erro == EIO || erro == ENXIO || erro == ENODEV; }

void MarcaDesconexao() { LibState.serial.PortaDesconectada = 1; }

// Waits until the descriptor is readable (or writable) or the time runs out.
// A signal does not end the wait: it resumes for the time that was left,
// measured on the monotonic clock. Returns 1 ready, 0 time out, -1 error. A
// hang-up with nothing left to read, or an error condition on the device,
// is an error and is noted as a disconnection.
int EsperaDispositivo(int fd, bool escrita, int64_t timeoutNs) {
  if (fd < 0) {
    errno = EBADF;
    return -1;
  }
  if (timeoutNs < 0) timeoutNs = 0;
  const int64_t fim = AgoraNs() + timeoutNs;
  int64_t resta = timeoutNs;
  for (;;) {
    pollfd p{};
    p.fd = fd;
    p.events = escrita ? POLLOUT : POLLIN;
    const int r = Sis().poll(&p, 1, ParaMsPoll(resta));
    if (r > 0) {
      if (p.revents & POLLNVAL) {
        errno = EBADF;
        return -1;
      }
      // Bytes that arrived before a hang-up are still handed out.
      if (p.revents & p.events) return 1;
      if (p.revents & (POLLHUP | POLLERR)) {
        MarcaDesconexao();
        errno = EIO;
        return -1;
      }
      return 1;
    }
    if (r == 0) return 0;
    if (errno != EINTR) return -1;
    resta = fim - AgoraNs();
    if (resta < 0) resta = 0;
  }
}

// True when the descriptor's device has hung up, without waiting.
bool DispositivoDesligado(int fd) {
  pollfd p{};
  p.fd = fd;
  p.events = POLLIN;
  const int r = SemInterrupcao([&] { return Sis().poll(&p, 1, 0); });
  return r > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
}

}  // namespace

const ChamadasSerial& SerialChamadasPadrao() { return kChamadasSistema; }

int64_t RelogioMonotonicoMs() { return AgoraNs() / kNsPorMs; }

void EsperaMs(int32_t ms) {
  if (ms <= 0) return;
  timespec pedido{};
  pedido.tv_sec = ms / 1000;
  pedido.tv_nsec = static_cast<long>(ms % 1000) * 1000000L;
  timespec resto{};
  // Interrupted by a signal: sleep again for what remained.
  while (Sis().nanosleep(&pedido, &resto) != 0 && errno == EINTR) pedido = resto;
}

namespace {

void LinhaErroAbertura(int erro, const char* dispositivo) {
  std::fprintf(stderr, "Erro %d[%s] na abertura da %s\n", erro, std::strerror(erro), dispositivo);
}

// The port is held by another process: the usual line with EBUSY, then who
// holds it when the system's lock table shows it.
void LinhaPortaEmUso(const char* dispositivo) {
  LinhaErroAbertura(EBUSY, dispositivo);
  int32_t pid = 0;
  char programa[64] = "";
  if (DonoPorta(dispositivo, "/proc", &pid, programa, sizeof programa) == 1 && pid > 0)
    std::fprintf(stderr, "%s: port in use by pid %d (%s)\n", dispositivo, static_cast<int>(pid), programa);
  else
    std::fprintf(stderr, "%s: port in use\n", dispositivo);
}

// Gives the port's ownership back, explicitly: the terminal's exclusive mode
// outlives our descriptor while another handle holds the terminal, and the
// lock belongs to the open file, which a child forked meanwhile still shares.
void LiberaPosse(int fd) {
  Sis().ioctl(fd, TIOCNXCL, nullptr);
  SemInterrupcao([&] { return Sis().flock(fd, LOCK_UN); });
}

}  // namespace

int32_t SerialAbre(int32_t* descritor, const char* porta, int32_t velocidade, char paridade, int32_t bitsDados,
                   int32_t bitsParada, const char* /*opcoes: no effect, see header*/) {
  *descritor = 0;
  if (porta == nullptr) porta = "";
  char nome[32];
  const char* dispositivo = porta;
  // Only digits (or nothing): a port number counted from 1, the empty text being 1.
  if (StrNumerica(porta)) {
    const int n = StrToIntDef(porta, 1);
    std::snprintf(nome, sizeof nome, "/dev/ttyS%d", n - 1);
    dispositivo = nome;
  }

  // Close-on-exec: a caller that runs system() or popen() must not hand the
  // pinpad to a child that outlives the close.
  int fd = SemInterrupcao([&] { return Sis().open(dispositivo, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC); });
  if (fd < 0) {
    const int erro = errno;
    if (erro == EBUSY) LinhaPortaEmUso(dispositivo);  // another user's exclusive mode
    else LinhaErroAbertura(erro, dispositivo);
    return fd;
  }
  // Descriptor 0 stands for "closed" in the port operations, and 1 and 2 are
  // where the program's own output goes: a process started with them closed
  // (a daemon) gets the port moved above them.
  if (fd <= STDERR_FILENO) {
    const int movido = Sis().dupfd(fd, STDERR_FILENO + 1);
    const int erro = errno;
    Sis().close(fd);
    if (movido < 0) {
      LinhaErroAbertura(erro, dispositivo);
      return -1;
    }
    fd = movido;
  }
  // Another process holds the port: leave it alone, settings and all.
  if (SemInterrupcao([&] { return Sis().flock(fd, LOCK_EX | LOCK_NB); }) != 0 && errno == EWOULDBLOCK) {
    Sis().close(fd);
    LinhaPortaEmUso(dispositivo);
    return -1;
  }
  // Something that opens but is not a terminal (a regular file named by
  // mistake, /dev/null) has no line settings: refuse it before any byte is
  // written into it, as a device that cannot be opened. The saved settings
  // are only replaced by those of a device that is kept.
  termios original{};
  if (Sis().tcgetattr(fd, &original) != 0) {
    const int erro = errno;
    Sis().close(fd);
    LinhaErroAbertura(erro, dispositivo);
    return -1;
  }
  // Further opens by other users fail with EBUSY while we hold the port; a
  // device that does not know the request is still used.
  Sis().ioctl(fd, TIOCEXCL, nullptr);
  LibState.serial.ConfigOriginalSerial = original;
  LibState.serial.PortaDesconectada = 0;
  *descritor = fd;

  termios config{};
  config.c_cflag =
      CREAD | CLOCAL | FlagsParidade(paridade) | FlagsBitsDados(bitsDados) | (bitsParada == 2 ? CSTOPB : 0);
  config.c_iflag = IGNPAR;
  config.c_oflag = 0;
  config.c_lflag = 0;
  config.c_cc[VMIN] = 0;
  config.c_cc[VTIME] = 1;
  // Through the C library only: what a speed_t holds differs between C
  // libraries (a bit pattern or the baud number itself).
  const speed_t constante = ConstanteVelocidade(velocidade);
  cfsetispeed(&config, constante);
  cfsetospeed(&config, constante);

  SemInterrupcao([&] { return Sis().tcflush(fd, TCIFLUSH); });
  SemInterrupcao([&] { return Sis().tcsetattr(fd, TCSANOW, &config); });
  return 0;
}

int32_t SerialFecha(int32_t* descritor) {
  const int fd = *descritor;
  if (fd == 0) return -2;
  // Unsent output is dropped: a device that stopped reading would otherwise
  // hold the close for the driver's closing wait (30 s by default).
  SemInterrupcao([&] { return Sis().tcflush(fd, TCIOFLUSH); });
  SemInterrupcao([&] { return Sis().tcsetattr(fd, TCSANOW, &LibState.serial.ConfigOriginalSerial); });
  LiberaPosse(fd);
  *descritor = 0;
  LibState.serial.PortaDesconectada = 0;
  // close is not retried after EINTR: on Linux the descriptor is gone either way.
  return Sis().close(fd);
}

int32_t SerialLe(int32_t descritor, uint8_t* buffer, int32_t capacidade, int32_t timeoutMs) {
  if (descritor == 0) return -1;
  if (buffer == nullptr || capacidade <= 0) return -1;
  const int64_t fim = AgoraNs() + (timeoutMs > 0 ? timeoutMs : 0) * kNsPorMs;
  for (;;) {
    const int pronto = EsperaDispositivo(descritor, false, fim - AgoraNs());
    if (pronto < 0) return -1;
    if (pronto == 0) return 0;
    const ssize_t n = Sis().read(descritor, buffer, static_cast<size_t>(capacidade));
    if (n > 0) return static_cast<int32_t>(n);
    if (n < 0) {
      // A signal, or a readiness that another reader consumed: wait again.
      if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK) {
        if (AgoraNs() >= fim) return 0;
        continue;
      }
      if (ErroDeDesconexao(errno)) MarcaDesconexao();
      return -1;
    }
    // Readable but empty: a hung-up device while time was left; nothing if not.
    if (AgoraNs() < fim) {
      MarcaDesconexao();
      return -1;
    }
    return 0;
  }
}

namespace {

// One write attempt; a signal or a full device queue count as no progress.
ssize_t EscreveUmaVez(int fd, const uint8_t* dados, size_t tamanho) {
  const ssize_t n = Sis().write(fd, dados, tamanho);
  if (n < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)) return 0;
  if (n < 0 && ErroDeDesconexao(errno)) MarcaDesconexao();
  return n;
}

// Waits until the device has sent every byte it queued (a real UART's write
// returns once the bytes are queued), polling the queue's length for at most
// `timeoutNs`: unlike tcdrain, a device that stopped taking bytes cannot hold
// the caller. A device that cannot tell its queue counts as empty.
void EsperaFilaVazia(int fd, int64_t timeoutNs) {
  const int64_t fim = AgoraNs() + (timeoutNs > 0 ? timeoutNs : 0);
  for (;;) {
    int naFila = 0;
    if (Sis().ioctl(fd, TIOCOUTQ, &naFila) != 0 || naFila <= 0) return;
    const int64_t resta = fim - AgoraNs();
    if (resta <= 0) return;
    // Looked at every millisecond: two bytes leave a 19200 bit/s line in one.
    EsperaMs(1);
  }
}

int32_t EscreveComPrazo(int fd, const uint8_t* dados, int32_t tamanho, int32_t timeoutMs) {
  const int32_t corpo = tamanho - 1;  // every byte but the last
  const int64_t fim = AgoraNs() + timeoutMs * kNsPorMs;
  auto resta = [&] {
    const int64_t r = fim - AgoraNs();
    return r > 0 ? r : 0;
  };
  int32_t escritos = 0;
  while (escritos < corpo) {
    const int pronto = EsperaDispositivo(fd, true, resta());
    if (pronto < 0) return -1;
    if (pronto == 0) break;
    const ssize_t n = EscreveUmaVez(fd, dados + escritos, static_cast<size_t>(corpo - escritos));
    if (n < 0) break;
    if (n == 0) {
      // Signal or full queue: give the device a moment instead of spinning.
      if (resta() == 0) break;
      EsperaMs(1);
      continue;
    }
    escritos += static_cast<int32_t>(n);
  }
  if (escritos < corpo) return escritos;

  // The last byte goes alone, after a short pause on an idle line.
  EsperaFilaVazia(fd, resta());
  EsperaMs(10);
  ssize_t n = EscreveUmaVez(fd, dados + corpo, 1);
  if (n < 1) {
    const int pronto = EsperaDispositivo(fd, true, resta());
    if (pronto < 0) return -1;
    if (pronto == 0) return escritos;
    n = EscreveUmaVez(fd, dados + corpo, 1);
    if (n < 1) return escritos;
  }
  // The caller's acknowledgement window starts once the frame has left.
  EsperaFilaVazia(fd, resta());
  return escritos + 1;
}

int32_t EscreveBloqueante(int fd, const uint8_t* dados, int32_t tamanho) {
  const int32_t corpo = tamanho - 1;
  int32_t escritos = 0;
  while (escritos < corpo) {
    const ssize_t n = SemInterrupcao(
        [&] { return Sis().write(fd, dados + escritos, static_cast<size_t>(corpo - escritos)); });
    if (n < 1) {
      if (n < 0) SerialRegistraErro("TxSerial.1");
      break;
    }
    escritos += static_cast<int32_t>(n);
    EsperaMs(1);
  }
  if (escritos < corpo) return escritos;
  constexpr int64_t kLimiteFila = kEsperaFilaBloqueanteMs * kNsPorMs;
  EsperaFilaVazia(fd, kLimiteFila);
  const ssize_t n = SemInterrupcao([&] { return Sis().write(fd, dados + corpo, 1); });
  if (n > 0) {
    EsperaFilaVazia(fd, kLimiteFila);
    EsperaMs(10);
    return escritos + 1;
  }
  if (n < 0) SerialRegistraErro("TxSerial.2");
  return escritos;
}

}  // namespace

int32_t SerialEscreve(int32_t descritor, const uint8_t* dados, int32_t tamanho, int32_t timeoutMs) {
  if (descritor == 0) return -1;
  if (dados == nullptr || tamanho <= 0) return 0;
  if (timeoutMs >= 0) return EscreveComPrazo(descritor, dados, tamanho, timeoutMs);
  return EscreveBloqueante(descritor, dados, tamanho);
}

void SerialDescarta(int32_t descritor) {
  if (descritor == 0) return;
  SemInterrupcao([&] { return Sis().tcflush(descritor, TCIOFLUSH); });
  EsperaMs(50);
  if (Sis().sched_yield) Sis().sched_yield();
  else sched_yield();
}

void SerialRegistraErro(const char* rotulo) {
  const int erro = errno;
  char texto[160];
  std::snprintf(texto, sizeof texto, "%d: %s", erro, std::strerror(erro));
  TraceTexto("Serial", rotulo, texto);
}

int32_t SerialDefineTimeoutEscrita(int32_t timeoutMs) {
  LibState.serial.TimeoutEscritaSerial = timeoutMs;
  return 0;
}

// ---- Link-level port operations -------------------------------------------

int32_t PortaAberta(int32_t descritor) { return descritor != 0 && descritor != -1 ? 1 : 0; }

int32_t PortaAbre(const char* porta, int32_t velocidade) {
  if (PortaAberta(LibState.serial.PortaPinPad)) {
    // A device that hung up (unplugged, perhaps back already as a new device
    // on the same path) is not reused: its descriptor stays dead for good.
    if (!LibState.serial.PortaDesconectada && !DispositivoDesligado(LibState.serial.PortaPinPad)) return PPCOMP_OK;
    SerialFecha(&LibState.serial.PortaPinPad);
  }
  const int32_t r =
      SerialAbre(&LibState.serial.PortaPinPad, porta, velocidade, 'n', 8, 1, "RTS=1;DTR=1;BLOCANTE=0");
  if (r < 0 || !PortaAberta(LibState.serial.PortaPinPad)) return PPCOMP_PORTERR;
  return PPCOMP_OK;
}

int32_t PortaFecha() {
  if (!PortaAberta(LibState.serial.PortaPinPad)) return PPCOMP_NOTOPEN;
  SerialFecha(&LibState.serial.PortaPinPad);
  return PPCOMP_OK;
}

int32_t PortaLe(int32_t timeoutMs, uint8_t* buffer, int32_t capacidade) {
  if (!PortaAberta(LibState.serial.PortaPinPad)) return -PPCOMP_NOTOPEN;
  const int32_t n = SerialLe(LibState.serial.PortaPinPad, buffer, capacidade, timeoutMs);
  if (n < 0) return -PPCOMP_COMMERR;
  return n;
}

int32_t PortaEscreve(const uint8_t* dados, int32_t tamanho) {
  if (!PortaAberta(LibState.serial.PortaPinPad)) return PPCOMP_NOTOPEN;
  SerialDescarta(LibState.serial.PortaPinPad);
  const int32_t n = SerialEscreve(LibState.serial.PortaPinPad, dados, tamanho, LibState.serial.TimeoutEscritaSerial);
  if (n != tamanho) {
    TraceNumero("Tx", "Retorno", n);
    return PPCOMP_COMMERR;
  }
  return PPCOMP_OK;
}
