#pragma once
// Looks at the serial device before the library opens it, and explains in
// plain words why a device cannot serve as a pinpad port.
#include <sys/types.h>

#include <cstdint>
#include <string>

namespace pinpadctl {

// Device path the library opens for a port name: "1" is /dev/ttyS0, "2"
// /dev/ttyS1, ...; anything else is the path itself.
std::string CaminhoDispositivo(const std::string& porta);

struct ExameDePorta {
  bool ok = false;
  int erro = 0;            // errno of the failing step (ENOTTY when not a terminal)
  std::string explicacao;  // one paragraph, empty when ok
  std::string grupo;       // group that owns the device (for the permission hint)
};

// Whether `caminho` can be a terminal, judged without opening it (opening a
// device may act on its own: a watchdog starts counting, a tape rewinds): 0
// for a character device of one of the system's terminal drivers (or any
// character device when the driver table cannot be read), EISDIR for a
// folder, ENOTTY for anything else (a regular file, a pipe, a character
// device of another driver such as /dev/null or /dev/zero), or the errno of
// stat (ENOENT, EACCES, ...). The one check of both pinpadctl and kolvar-lote.
// `grupo`, when given, receives the name of the group owning the path.
int TipoDeDispositivo(const std::string& caminho, std::string* grupo = nullptr);

// Checks that the path names a terminal that this user can open for reading
// and writing, without handing it to the library: a regular file, a
// directory or a non-terminal device is refused before any byte is written
// to it. Opens and closes the device once (non-blocking, not as the
// controlling terminal). A port that another program holds (its lock, or its
// exclusive mode) is refused with EBUSY and the holder named when
// <raizProc>/locks shows it.
ExameDePorta ExaminaPorta(const std::string& porta, const std::string& raizProc = "/proc");

// Plain-words explanation of an errno met while opening `caminho`. For EACCES
// `grupo` names the group to join ("" when unknown).
std::string ExplicaErro(int erro, const std::string& caminho, const std::string& grupo);

// Permission denied on a device of owner `dono`, group `grupo` and mode
// `modo`: joining the group is suggested only when the group may read and
// write it; otherwise the explanation says that joining would not help.
std::string ExplicaSemPermissao(const std::string& caminho, mode_t modo, const std::string& dono,
                                const std::string& grupo);

// When another program holds the port: true, with the explanation naming it.
bool PortaEmUso(const std::string& porta, std::string* explicacao, const std::string& raizProc = "/proc");

// A port another program holds: who (pid 0 when the lock table does not show
// the holder, an empty name when it is not known).
std::string ExplicaEmUso(const std::string& caminho, int32_t pid, const std::string& programa);

}  // namespace pinpadctl
