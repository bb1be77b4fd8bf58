// simpinpad: a pinpad on a pseudo-terminal. See --help.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "sim/SimConfig.h"
#include "sim/SimCripto.h"
#include "sim/SimMotor.h"

namespace {

int g_pipeParada[2] = {-1, -1};

void AoSinal(int) {
  const int salvo = errno;
  char c = 1;
  if (write(g_pipeParada[1], &c, 1) < 0) {
  }
  errno = salvo;
}

// Removes the link only while it is still ours (a symbolic link to our device).
void RemoveLink(const std::string& link, const std::string& dispositivo) {
  if (link.empty()) return;
  char alvo[512];
  ssize_t n = readlink(link.c_str(), alvo, sizeof alvo - 1);
  if (n < 0) return;
  alvo[n] = 0;
  if (dispositivo == alvo) unlink(link.c_str());
}

}  // namespace

int main(int argc, char** argv) {
  sim::ConfigSim cfg;
  std::string msg;
  int rc = sim::InterpretaArgumentos(argc, argv, cfg, msg);
  if (rc == 1) {
    std::fputs(msg.c_str(), stdout);
    return 0;
  }
  if (rc == 2) {
    std::fprintf(stderr, "simpinpad: %s\n", msg.c_str());
    return 2;
  }

  int mestre = posix_openpt(O_RDWR | O_NOCTTY);
  if (mestre < 0 || grantpt(mestre) != 0 || unlockpt(mestre) != 0 || !ptsname(mestre)) {
    std::fprintf(stderr, "simpinpad: cannot create a pseudo-terminal: %s\n", std::strerror(errno));
    return 1;
  }
  const std::string dispositivo = ptsname(mestre);
  // Our own handle on the terminal side keeps the device alive while the library
  // closes and reopens it; it also carries the raw mode.
  int escravo = open(dispositivo.c_str(), O_RDWR | O_NOCTTY);
  termios t{};
  if (escravo < 0 || tcgetattr(escravo, &t) != 0) {
    std::fprintf(stderr, "simpinpad: cannot open %s: %s\n", dispositivo.c_str(), std::strerror(errno));
    return 1;
  }
  cfmakeraw(&t);
  cfsetispeed(&t, B19200);
  cfsetospeed(&t, B19200);
  tcsetattr(escravo, TCSANOW, &t);
  fcntl(mestre, F_SETFL, fcntl(mestre, F_GETFL) | O_NONBLOCK);
  fcntl(mestre, F_SETFD, FD_CLOEXEC);
  fcntl(escravo, F_SETFD, FD_CLOEXEC);

  if (!cfg.link.empty()) {
    struct stat st{};
    if (lstat(cfg.link.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) unlink(cfg.link.c_str());
    if (symlink(dispositivo.c_str(), cfg.link.c_str()) != 0) {
      std::fprintf(stderr, "simpinpad: cannot create link %s: %s\n", cfg.link.c_str(), std::strerror(errno));
      return 1;
    }
  }

  FILE* log = nullptr;
  if (!cfg.log.empty()) {
    log = std::fopen(cfg.log.c_str(), "w");
    if (!log) {
      std::fprintf(stderr, "simpinpad: cannot write log %s: %s\n", cfg.log.c_str(), std::strerror(errno));
      RemoveLink(cfg.link, dispositivo);
      return 1;
    }
    std::fprintf(log, "# simpinpad %s\n", dispositivo.c_str());
    std::fflush(log);
  }

  if (pipe2(g_pipeParada, O_CLOEXEC | O_NONBLOCK) != 0) return 1;
  struct sigaction sa{};
  sa.sa_handler = AoSinal;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
  sigaction(SIGHUP, &sa, nullptr);
  signal(SIGPIPE, SIG_IGN);

  int teclado = -1;
  termios terminalOriginal{};
  bool restaurar = false;
  if (cfg.interativo && isatty(STDIN_FILENO) && tcgetattr(STDIN_FILENO, &terminalOriginal) == 0) {
    termios tt = terminalOriginal;
    tt.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO));
    tt.c_cc[VMIN] = 1;
    tt.c_cc[VTIME] = 0;
    tcsetattr(STDIN_FILENO, TCSANOW, &tt);
    restaurar = true;
    teclado = STDIN_FILENO;
  } else if (cfg.interativo) {
    teclado = STDIN_FILENO;
  }

  // libcrypto loads its providers on the first cipher call, which takes
  // milliseconds; a pinpad's cipher is ready when it powers on, so that cost
  // is paid here, before the device is announced, not in the first answer.
  sim::PreparaCripto();

  std::printf("%s\n", dispositivo.c_str());
  std::fflush(stdout);
  if (cfg.interativo)
    std::printf("Enter=OK  Esc=CANCEL  F1-F4  Backspace  c=card  i=chip  r=remove card  Ctrl-C=quit\n");

  sim::Motor motor(cfg, mestre, teclado, log, cfg.interativo ? stdout : nullptr);
  rc = motor.Executa(g_pipeParada[0]);

  if (restaurar) tcsetattr(STDIN_FILENO, TCSANOW, &terminalOriginal);
  RemoveLink(cfg.link, dispositivo);
  if (!motor.DispositivoFechado()) close(mestre);
  close(escravo);
  if (log) std::fclose(log);
  close(g_pipeParada[0]);
  close(g_pipeParada[1]);
  return rc;
}
