#pragma once
// Serial driver for a Linux terminal device, and the four link-level port
// operations on the library's one pinpad port (LibState.serial.PortaPinPad).
//
// Sign convention: PortaLe returns a byte count or a negated PPCOMP_* code;
// PortaAbre, PortaFecha and PortaEscreve return a PPCOMP_* code.
#include <poll.h>
#include <sys/types.h>
#include <termios.h>
#include <time.h>

#include <cstdint>

// ---- Link-level port operations -------------------------------------------

// Opens the pinpad port unless it is open already (then PPCOMP_OK, the port and
// its settings untouched), or opens it afresh when the device it was opened on
// has hung up meanwhile (unplugged and perhaps plugged in again): the stale
// descriptor is closed first. `porta` is a port number counted from 1 ("1" is
// /dev/ttyS0, "" too) or a device path; `velocidade` a baud rate or table index.
// 8 data bits, no parity, 1 stop bit. PPCOMP_PORTERR when the device cannot be
// opened, is not a terminal or is held by another process (a line goes to
// standard error, see SerialAbre).
int32_t PortaAbre(const char* porta, int32_t velocidade);

// Closes the pinpad port: discards unsent output, restores the settings it had
// before the open, gives up the port's ownership. PPCOMP_NOTOPEN when it is
// not open.
int32_t PortaFecha();

// Waits up to `timeoutMs` for bytes and reads at most `capacidade` of them.
// Returns the count (0: nothing came in time), -PPCOMP_NOTOPEN (-15) when the
// port is closed, -PPCOMP_COMMERR (-31) on a device error or hang-up.
int32_t PortaLe(int32_t timeoutMs, uint8_t* buffer, int32_t capacidade);

// Discards pending input and output, waits 50 ms, then writes `dados` (all
// bytes but the last, 10 ms, the last byte) within TimeoutEscritaSerial; both
// the pause and the return wait until the device has sent what it queued.
// PPCOMP_OK when every byte went out, PPCOMP_COMMERR otherwise,
// PPCOMP_NOTOPEN when the port is closed.
int32_t PortaEscreve(const uint8_t* dados, int32_t tamanho);

// 1 when the descriptor names an open port (neither 0 nor -1).
int32_t PortaAberta(int32_t descritor);

// ---- Driver -----------------------------------------------------------------

// Opens `porta` (number or path, as PortaAbre) read-write, non-blocking, not as
// controlling terminal, close-on-exec, and applies raw line settings:
// `velocidade` (baud rate or index 1..8; unknown values give 9600, set through
// cfsetispeed/cfsetospeed), `paridade` 'n'/'e'/'o', `bitsDados` 5..8 (else 8),
// `bitsParada` 2 (else 1); reads return after 0.1 s without data. `opcoes`
// ("RTS=1;DTR=1;...") is accepted and has no effect.
//
// The port is owned while open: an exclusive flock (which stops a second
// opener of any user, root included) and the terminal's exclusive mode
// (TIOCEXCL: further opens fail with EBUSY for other users). A device placed on
// descriptor 0, 1 or 2 (a process started with those closed) is moved above 2,
// since 0 means "closed" to the port operations and 1 and 2 would be written
// to by the program's own output. The device's settings are saved for
// SerialFecha only once the port is owned.
//
// Returns 0 and the descriptor in `*descritor`; on failure `*descritor` = 0,
// the line "Erro %d[%s] na abertura da %s\n" on standard error and a negative
// result (that of the open when it failed). A device whose settings cannot be
// read (not a terminal: a regular file, /dev/null) is closed again before
// anything is written to it and fails the same way, with the errno of that
// read. A device held by another process fails with EBUSY in that line,
// followed by "%s: port in use by pid %d (%s)\n" (device, holder and its
// program, from the system's lock table) or "%s: port in use\n" when the
// holder is not shown there; its settings are not touched.
int32_t SerialAbre(int32_t* descritor, const char* porta, int32_t velocidade, char paridade, int32_t bitsDados,
                   int32_t bitsParada, const char* opcoes);

// Discards pending input and unsent output (a device that stopped reading
// cannot hold the close), restores the saved settings, releases the port's
// ownership and closes the descriptor, setting it to 0. Returns the close
// result, or -2 for a descriptor of 0.
int32_t SerialFecha(int32_t* descritor);

// Waits up to `timeoutMs` for the device to be readable, then reads once.
// Returns the count, 0 when the time ran out, -1 on an error or when a readable
// device yields nothing while time was left (hang-up). Signals do not shorten
// the wait. A hang-up (POLLHUP, EIO, ENXIO, ENODEV, a read of 0) is noted in
// LibState.serial.PortaDesconectada.
int32_t SerialLe(int32_t descritor, uint8_t* buffer, int32_t capacidade, int32_t timeoutMs);

// Writes all bytes but the last, waits until the device's output queue is
// empty, pauses 10 ms, writes the last byte and waits for the queue again, so
// that the pause and the caller's next timer start once the bytes have left
// (a real UART queues what write hands it). A `timeoutMs` of 0 or more is one
// budget for the whole write, queue waits included; a negative one selects the
// blocking variant, whose queue waits are bounded by kEsperaFilaBloqueanteMs.
// Returns the number of bytes written, or -1 when waiting for the device fails.
int32_t SerialEscreve(int32_t descritor, const uint8_t* dados, int32_t tamanho, int32_t timeoutMs);

// Discards pending input and output, pauses 50 ms and yields the processor.
void SerialDescarta(int32_t descritor);

// Traces "errno: text" under tag "Serial" with the given label.
void SerialRegistraErro(const char* rotulo);

// Sets TimeoutEscritaSerial (ms; negative selects the blocking write). Returns 0.
int32_t SerialDefineTimeoutEscrita(int32_t timeoutMs);

// Pauses for `ms` milliseconds; a signal does not cut the pause short.
void EsperaMs(int32_t ms);

// ---- System calls -----------------------------------------------------------

// Every system call of the driver goes through this table, so that tests can
// fail chosen calls (EINTR, EAGAIN, short writes, EIO, hang-ups) without
// hardware. LibState.serial.Chamadas points to the table in use; null means
// SerialChamadasPadrao(). Every entry but sched_yield must be filled.
struct ChamadasSerial {
  int (*open)(const char* caminho, int flags);
  int (*close)(int fd);
  ssize_t (*read)(int fd, void* buffer, size_t tamanho);
  ssize_t (*write)(int fd, const void* dados, size_t tamanho);
  int (*poll)(pollfd* descritores, nfds_t quantos, int timeoutMs);
  int (*tcgetattr)(int fd, termios* config);
  int (*tcsetattr)(int fd, int quando, const termios* config);
  int (*tcflush)(int fd, int fila);
  int (*nanosleep)(const timespec* pedido, timespec* resto);
  // Source of the link's time limits; always asked for CLOCK_MONOTONIC.
  int (*clock_gettime)(clockid_t relogio, timespec* agora);
  // Gives the processor away after a discard; null means the system's own.
  int (*sched_yield)();
  // The port's ownership: flock(LOCK_EX | LOCK_NB) on open, LOCK_UN on close.
  int (*flock)(int fd, int operacao);
  // Terminal requests: TIOCEXCL and TIOCNXCL (`valor` null) and TIOCOUTQ
  // (bytes still queued for output, into `*valor`).
  int (*ioctl)(int fd, unsigned long pedido, int* valor);
  // fcntl(fd, F_DUPFD_CLOEXEC, minimo): a copy on the lowest free descriptor
  // from `minimo` up.
  int (*dupfd)(int fd, int minimo);
};

// Bound of each wait for the output queue in the blocking write variant.
constexpr int32_t kEsperaFilaBloqueanteMs = 1000;

const ChamadasSerial& SerialChamadasPadrao();

// Milliseconds on the monotonic clock (through the table above).
int64_t RelogioMonotonicoMs();
