#pragma once
// The machine's serial ports as the kernel describes them in sysfs, without
// opening any of them: which device, its stable name under /dev/serial/by-id,
// its driver, the USB device behind it, and whether a program holds it. The
// roots of sysfs, /dev and /proc are arguments, so that a small tree of files
// can stand for a machine.
#include <cstdint>
#include <string>
#include <vector>

#include "tools/pinpadctl/Blocos.h"

namespace pinpadctl {

// What asking a port for its information block gave.
enum class Sonda {
  NaoFeita,     // not asked (no --sonda)
  EmUso,        // another program holds the port: not touched
  Console,      // the system console: not touched
  NaoAbre,      // the device does not open (or is not a terminal)
  SemResposta,  // opened, but nothing answered as a pinpad within the time
  Pinpad,       // a pinpad answered (its information block in `info` when it gave one)
};

struct PortaSerie {
  std::string nome;         // name in /sys/class/tty ("ttyACM0"); "" when sysfs does not know the device
  std::string dispositivo;  // path to open ("/dev/ttyACM0")
  std::string porId;        // stable name under /dev/serial/by-id, "" when there is none
  std::string driver;       // kernel driver ("cdc_acm", "ftdi_sio", "serial")
  std::string usb;          // USB vendor:product ("0403:6001"), "" for a port not on USB
  std::string fabricante, produto, serie;  // USB strings (UTF-8 as the kernel gives them)
  int emUso = -1;           // 1 held by a program, 0 free, -1 unknown (no lock table, no device file)
  bool console = false;     // the kernel writes its console there (never probed)
  int32_t donoPid = 0;      // holder, when the lock table shows it (0: not shown)
  std::string donoPrograma;
  // Filled by the probe.
  Sonda sonda = Sonda::NaoFeita;
  int32_t codigoSonda = 0;  // return code of the step that ended the probe
  Informacao info;
};

// Serial ports of the machine: every entry of <raizSys>/class/tty backed by a
// device, except serial-core ports without a UART behind them (type 0: the
// placeholders a legacy driver registers for ports that may not exist).
// Devices are named <raizDev>/<name>; in use as <raizProc>/locks shows; the
// system console as <raizSys>/class/tty/console/active names it.
// Sorted by name, numbers in their numeric order (ttyACM2 before ttyACM10).
std::vector<PortaSerie> ListaPortas(const std::string& raizSys, const std::string& raizDev,
                                    const std::string& raizProc);

// One device given by its path (any name that leads to it: /dev/ttyACM0, a
// by-id link, a pseudo-terminal), described from sysfs where sysfs knows it.
PortaSerie DescrevePorta(const std::string& caminho, const std::string& raizSys, const std::string& raizDev,
                         const std::string& raizProc);

// Why the probe must leave a port alone (EmUso, Console), or NaoFeita when it
// may ask it: bytes of ours on another program's port or on the system's
// console would garble what they say.
Sonda SondaRecusada(const PortaSerie& p);

// "pid 4242 (Kolvar)", "pid 4242", or "um processo de outro espaco de nomes"
// when the lock table hides the holder.
std::string TextoDono(int32_t pid, const std::string& programa);

// Text table (UTF-8) with a column for the probe when `sondou`, or a line
// saying that there is no port.
std::string TabelaPortas(const std::vector<PortaSerie>& portas, bool sondou);

// One JSON object: {"formato":1,"portas":[...]} with the probe's result in
// each port when `sondou`. Valid UTF-8 whatever the bytes of the strings.
std::string JsonPortas(const std::vector<PortaSerie>& portas, bool sondou);

}  // namespace pinpadctl
