#pragma once
// kolvar-lote's children: starting one Kolvar per port so that none outlives
// kolvar-lote, and the signals that stop the bench (SIGINT, SIGTERM) or tell
// that a child ended (SIGCHLD), turned into a descriptor the main loop polls.
#include <sys/types.h>

#include <string>

namespace lote {

// Catches SIGINT, SIGTERM and SIGCHLD. Each one makes the returned descriptor
// readable (drain it with DrenaSinais); the first SIGINT or SIGTERM is kept
// for SinalDeParada. Returns -1 when the handlers could not be installed.
int InstalaSinais();
// Empties the descriptor of InstalaSinais.
void DrenaSinais(int fd);
// The first SIGINT or SIGTERM received (0 while none came), and how many came.
int SinalDeParada();
int SinaisDeParada();

// The start line of a bench: children started with it wait before exec until
// Larga is called, so every Kolvar starts at the same moment, and starting the
// last one is not held up by the ones already running (on a small machine 32
// running Kolvars leave the process that starts them little processor time).
struct Largada {
  int leitura = -1;
  int escrita = -1;
};
// Opens the start line; false (errno set) when it could not.
bool AbreLargada(Largada& l);
// Lets every child waiting on `l` go on to exec, and closes `l`.
void Larga(Largada& l);

// Starts `programa` with the single argument `argumento`: standard input from
// /dev/null, standard output and error to `escrita`, signal dispositions and
// mask as a shell would give them. The child is killed (SIGKILL) when this
// process ends in any way, SIGKILL included, so no Kolvar keeps a pinpad after
// the bench is gone. With an open `largada` the child waits for Larga before
// exec; a signal that stops it there ends it as it would end Kolvar. Returns
// the pid, or -1 when it could not start.
pid_t LancaFilho(const std::string& programa, const std::string& argumento, int escrita,
                 const Largada& largada = {});

}  // namespace lote
