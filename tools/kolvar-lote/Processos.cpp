#include "tools/kolvar-lote/Processos.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <cerrno>

extern char** environ;

namespace lote {

namespace {

int tuboSinais[2] = {-1, -1};
volatile sig_atomic_t primeiroSinal = 0;
volatile sig_atomic_t contaSinais = 0;

void AoSinal(int sinal) {
  const int salvo = errno;
  if (sinal == SIGINT || sinal == SIGTERM) {
    if (primeiroSinal == 0) primeiroSinal = sinal;
    contaSinais = contaSinais + 1;
  }
  const char c = static_cast<char>(sinal);
  // Non-blocking: a full pipe already wakes the loop.
  [[maybe_unused]] ssize_t n = write(tuboSinais[1], &c, 1);
  errno = salvo;
}

}  // namespace

int InstalaSinais() {
  if (tuboSinais[0] < 0 && pipe2(tuboSinais, O_CLOEXEC | O_NONBLOCK) != 0) return -1;
  struct sigaction sa {};
  sa.sa_handler = AoSinal;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;
  for (int s : {SIGINT, SIGTERM, SIGCHLD})
    if (sigaction(s, &sa, nullptr) != 0) return -1;
  return tuboSinais[0];
}

void DrenaSinais(int fd) {
  char buf[64];
  while (read(fd, buf, sizeof buf) > 0) {
  }
}

int SinalDeParada() { return primeiroSinal; }
int SinaisDeParada() { return contaSinais; }

bool AbreLargada(Largada& l) {
  int tubo[2];
  if (pipe2(tubo, O_CLOEXEC) != 0) return false;
  l.leitura = tubo[0];
  l.escrita = tubo[1];
  return true;
}

void Larga(Largada& l) {
  // Each waiting child reads until end of file, which comes once this end and
  // the children's inherited copies of it (each closes its own at once) are shut.
  for (int* fd : {&l.escrita, &l.leitura}) {
    if (*fd >= 0) close(*fd);
    *fd = -1;
  }
}

pid_t LancaFilho(const std::string& programa, const std::string& argumento, int escrita, const Largada& largada) {
  char* argv[] = {const_cast<char*>(programa.c_str()), const_cast<char*>(argumento.c_str()), nullptr};
  const pid_t pai = getpid();
  // Without a start line, vfork: no copy of this process's page tables and no
  // copy-on-write faults afterwards. With one, the child must wait while this
  // process goes on, so it gets its own memory (fork); this process is small
  // and single-threaded, and the children exec soon after Larga.
  // Either way no handler of ours may run in the child (it would write to this
  // process's signal pipe): every signal stays blocked until the child has
  // restored the defaults.
  const bool espera = largada.leitura >= 0;
  sigset_t todos, antes;
  sigfillset(&todos);
  sigprocmask(SIG_SETMASK, &todos, &antes);
  const pid_t pid = espera ? fork() : vfork();
  if (pid != 0) {
    sigprocmask(SIG_SETMASK, &antes, nullptr);
    return pid;
  }
  // The child, until exec: system calls only, nothing written to memory.
  struct sigaction padrao {};
  padrao.sa_handler = SIG_DFL;
  sigemptyset(&padrao.sa_mask);
  for (int s : {SIGINT, SIGTERM, SIGCHLD, SIGPIPE}) sigaction(s, &padrao, nullptr);
  sigset_t nenhum;
  sigemptyset(&nenhum);
  sigprocmask(SIG_SETMASK, &nenhum, nullptr);
  if (prctl(PR_SET_PDEATHSIG, SIGKILL) != 0) _exit(127);
  // The parent may have died before the request above took effect.
  if (getppid() != pai) _exit(127);
  if (espera) {
    close(largada.escrita);
    char c;
    while (read(largada.leitura, &c, 1) < 0 && errno == EINTR) {
    }
  }
  const int nulo = open("/dev/null", O_RDONLY | O_CLOEXEC);
  if (nulo < 0 || dup2(nulo, 0) < 0 || dup2(escrita, 1) < 0 || dup2(escrita, 2) < 0) _exit(127);
  execve(programa.c_str(), argv, environ);
  _exit(127);
}

}  // namespace lote
