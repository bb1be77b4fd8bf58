#pragma once
// Serial driver for a Linux terminal device, and the four link-level port
// operations on the library's one pinpad port (LibState.serial.PortaPinPad).
//
// Sign convention: PortaLe returns a byte count or a negated PPCOMP_* code;
// PortaAbre, PortaFecha and PortaEscreve return a PPCOMP_* code.
#include <sys/select.h>
#include <sys/types.h>
#include <termios.h>
#include <time.h>

#include <cstdint>

// ---- Link-level port operations -------------------------------------------

// Opens the pinpad port unless it is open already (then PPCOMP_OK, the port and
// its settings untouched). `porta` is a port number counted from 1 ("1" is
// /dev/ttyS0, "" too) or a device path; `velocidade` a baud rate or table index.
// 8 data bits, no parity, 1 stop bit. PPCOMP_PORTERR when the device cannot be
// opened or is not a terminal (a line goes to standard error), and when it
// could only be opened as descriptor 0 (then it is closed again, its settings
// untouched).
int32_t PortaAbre(const char* porta, int32_t velocidade);

// Closes the pinpad port, restoring the settings it had before the open.
// PPCOMP_NOTOPEN when it is not open.
int32_t PortaFecha();

// Waits up to `timeoutMs` for bytes and reads at most `capacidade` of them.
// Returns the count (0: nothing came in time), -PPCOMP_NOTOPEN (-15) when the
// port is closed, -PPCOMP_COMMERR (-31) on a device error or hang-up.
int32_t PortaLe(int32_t timeoutMs, uint8_t* buffer, int32_t capacidade);

// Discards pending input and output, waits 50 ms, then writes `dados` (all
// bytes but the last, 10 ms, the last byte) within TimeoutEscritaSerial.
// PPCOMP_OK when every byte went out, PPCOMP_COMMERR otherwise,
// PPCOMP_NOTOPEN when the port is closed.
int32_t PortaEscreve(const uint8_t* dados, int32_t tamanho);

// 1 when the descriptor names an open port (neither 0 nor -1).
int32_t PortaAberta(int32_t descritor);

// ---- Driver -----------------------------------------------------------------

// Opens `porta` (number or path, as PortaAbre) read-write, non-blocking, not as
// controlling terminal, and applies raw line settings: `velocidade` (baud rate
// or index 1..8; unknown values give 9600), `paridade` 'n'/'e'/'o', `bitsDados`
// 5..8 (else 8), `bitsParada` 2 (else 1); reads return after 0.1 s without data.
// The device's settings are saved for SerialFecha. `opcoes` ("RTS=1;DTR=1;...")
// is accepted and has no effect. Returns 0 and the descriptor in `*descritor`;
// on failure `*descritor` = 0, the line "Erro %d[%s] na abertura da %s\n" on
// standard error, and the negative result of the open. A device whose settings
// cannot be read (not a terminal: a regular file, /dev/null) is closed again
// before anything is written to it and fails the same way, with the errno of
// that read and -1. When the open gives
// descriptor 0 (standard input was closed), the device is closed again with
// its settings untouched and 0 is returned with `*descritor` = 0, which the
// port operations take as not open.
int32_t SerialAbre(int32_t* descritor, const char* porta, int32_t velocidade, char paridade, int32_t bitsDados,
                   int32_t bitsParada, const char* opcoes);

// Restores the saved settings and closes the descriptor, setting it to 0.
// Returns the close result, or -2 for a descriptor of 0.
int32_t SerialFecha(int32_t* descritor);

// Waits up to `timeoutMs` for the device to be readable, then reads once.
// Returns the count, 0 when the time ran out, -1 on an error or when a readable
// device yields nothing while time was left (hang-up). Signals do not shorten
// the wait.
int32_t SerialLe(int32_t descritor, uint8_t* buffer, int32_t capacidade, int32_t timeoutMs);

// Writes all bytes but the last, pauses 10 ms, writes the last byte. A
// `timeoutMs` of 0 or more is one budget for the whole write; a negative one
// selects the blocking variant. Returns the number of bytes written, or -1 when
// waiting for the device fails.
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
// fail chosen calls (EINTR, EAGAIN, short writes, EIO) without hardware.
// LibState.serial.Chamadas points to the table in use; null means
// SerialChamadasPadrao().
struct ChamadasSerial {
  int (*open)(const char* caminho, int flags);
  int (*close)(int fd);
  ssize_t (*read)(int fd, void* buffer, size_t tamanho);
  ssize_t (*write)(int fd, const void* dados, size_t tamanho);
  int (*select)(int nfds, fd_set* leitura, fd_set* escrita, fd_set* excecao, timeval* timeout);
  int (*tcgetattr)(int fd, termios* config);
  int (*tcsetattr)(int fd, int quando, const termios* config);
  int (*tcflush)(int fd, int fila);
  int (*nanosleep)(const timespec* pedido, timespec* resto);
  // Source of the link's time limits; always asked for CLOCK_MONOTONIC.
  int (*clock_gettime)(clockid_t relogio, timespec* agora);
  // Gives the processor away after a discard; null means the system's own.
  int (*sched_yield)();
};

const ChamadasSerial& SerialChamadasPadrao();

// Milliseconds on the monotonic clock (through the table above).
int64_t RelogioMonotonicoMs();
