#pragma once
// Fields of the serial driver: open port, write time-out, the settings the
// device had before the open.
#include <termios.h>

#include <cstdint>

struct ChamadasSerial;

struct EstadoSerial {
  // Descriptor of the open pinpad port; 0 means closed (-1 is also taken as closed).
  int32_t PortaPinPad = 0;
  // Time budget of every link write, in ms; negative selects the blocking write.
  int32_t TimeoutEscritaSerial = 1000;
  // Device settings saved by the open and written back by the close (one record
  // for the whole program, not one per port).
  termios ConfigOriginalSerial{};
  // 1 once the open port's device has hung up (unplugged: POLLHUP, EIO, ENXIO,
  // ENODEV, a read of 0): the next PortaAbre opens it afresh instead of keeping
  // the stale descriptor. Cleared by every open.
  int32_t PortaDesconectada = 0;
  // System calls used by the driver; null means the system's own. Tests install
  // a table that fails chosen calls.
  const ChamadasSerial* Chamadas = nullptr;
};
