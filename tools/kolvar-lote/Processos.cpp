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

pid_t LancaFilho(const std::string& programa, const std::string& argumento, int escrita) {
  char* argv[] = {const_cast<char*>(programa.c_str()), const_cast<char*>(argumento.c_str()), nullptr};
  const pid_t pai = getpid();
  const pid_t pid = fork();
  if (pid != 0) return pid;
  // The child, until exec: async-signal-safe calls only.
  if (prctl(PR_SET_PDEATHSIG, SIGKILL) != 0) _exit(127);
  // The parent may have died before the request above took effect.
  if (getppid() != pai) _exit(127);
  struct sigaction padrao {};
  padrao.sa_handler = SIG_DFL;
  sigemptyset(&padrao.sa_mask);
  for (int s : {SIGINT, SIGTERM, SIGCHLD, SIGPIPE}) sigaction(s, &padrao, nullptr);
  sigset_t nenhum;
  sigemptyset(&nenhum);
  sigprocmask(SIG_SETMASK, &nenhum, nullptr);
  const int nulo = open("/dev/null", O_RDONLY);
  if (nulo < 0 || dup2(nulo, 0) < 0 || dup2(escrita, 1) < 0 || dup2(escrita, 2) < 0) _exit(127);
  if (nulo > 2) close(nulo);
  execve(programa.c_str(), argv, environ);
  _exit(127);
}

}  // namespace lote
