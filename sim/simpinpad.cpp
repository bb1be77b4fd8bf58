// simpinpad: a pinpad on a pseudo-terminal. See --help.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "tools/SemExcecao.h"
#include "sim/SimConfig.h"
#include "sim/SimCripto.h"
#include "sim/SimMotor.h"

namespace {

int g_pipeParada[2] = {-1, -1};

// Signals only write a byte to the stop pipe: SIGUSR1 makes the device vanish,
// the others stop the simulator.
void AoSinal(int sinal) {
  const int salvo = errno;
  char c = sinal == SIGUSR1 ? sim::Motor::kByteSome : 1;
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

// A pseudo-terminal pair: the master the pinpad speaks on, and our own handle
// on the terminal side, which keeps the device alive while the library closes
// and reopens it and carries the raw mode.
struct Dispositivo {
  int mestre = -1;
  int escravo = -1;
  std::string caminho;
};

bool CriaDispositivo(Dispositivo& d) {
  d.mestre = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (d.mestre < 0 || grantpt(d.mestre) != 0 || unlockpt(d.mestre) != 0 || !ptsname(d.mestre)) {
    std::fprintf(stderr, "simpinpad: cannot create a pseudo-terminal: %s\n", std::strerror(errno));
    return false;
  }
  d.caminho = ptsname(d.mestre);
  d.escravo = open(d.caminho.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  termios t{};
  if (d.escravo < 0 || tcgetattr(d.escravo, &t) != 0) {
    std::fprintf(stderr, "simpinpad: cannot open %s: %s\n", d.caminho.c_str(), std::strerror(errno));
    return false;
  }
  cfmakeraw(&t);
  cfsetispeed(&t, B19200);
  cfsetospeed(&t, B19200);
  tcsetattr(d.escravo, TCSANOW, &t);
  fcntl(d.mestre, F_SETFL, fcntl(d.mestre, F_GETFL) | O_NONBLOCK);
  return true;
}

bool CriaLink(const std::string& link, const std::string& dispositivo) {
  if (link.empty()) return true;
  struct stat st{};
  if (lstat(link.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) unlink(link.c_str());
  if (symlink(dispositivo.c_str(), link.c_str()) != 0) {
    std::fprintf(stderr, "simpinpad: cannot create link %s: %s\n", link.c_str(), std::strerror(errno));
    return false;
  }
  return true;
}

// Waits `ms` for a byte on the stop pipe; true when the simulator is to stop.
bool EsperaOuPara(int fdParada, int ms) {
  timespec t0{};
  clock_gettime(CLOCK_MONOTONIC, &t0);
  for (;;) {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    const int64_t passou = (t.tv_sec - t0.tv_sec) * 1000 + (t.tv_nsec - t0.tv_nsec) / 1000000;
    if (passou >= ms) return false;
    pollfd p{fdParada, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(ms - passou)) > 0) {
      char c = 0;
      // Another SIGUSR1 while away changes nothing.
      if (read(fdParada, &c, 1) == 1 && c != sim::Motor::kByteSome) return true;
    }
  }
}

}  // namespace

namespace {
int Principal(int argc, char** argv) {
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

  Dispositivo disp;
  if (!CriaDispositivo(disp)) return 1;
  const std::string& dispositivo = disp.caminho;
  if (!CriaLink(cfg.link, dispositivo)) return 1;

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
  sigaction(SIGUSR1, &sa, nullptr);
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

  for (;;) {
    sim::Motor motor(cfg, disp.mestre, teclado, log, cfg.interativo ? stdout : nullptr);
    rc = motor.Executa(g_pipeParada[0]);
    if (rc != sim::Motor::kSumiu) {
      RemoveLink(cfg.link, disp.caminho);
      if (!motor.DispositivoFechado()) close(disp.mestre);
      close(disp.escravo);
      break;
    }
    // Unplugged: the device and its path go away (whoever holds the terminal
    // side sees a hang-up); after a while a new device appears on the same path,
    // as a pinpad plugged in again does, starting afresh.
    // The path goes first, so that nobody opens it and finds a dead device.
    RemoveLink(cfg.link, disp.caminho);
    close(disp.mestre);
    close(disp.escravo);
    cfg.someNoQuadro = 0;  // the fault strikes once; SIGUSR1 any time
    cfg.semente = motor.Sorteio();
    if (EsperaOuPara(g_pipeParada[0], cfg.voltaMs)) {
      rc = 0;
      break;
    }
    if (!CriaDispositivo(disp) || !CriaLink(cfg.link, disp.caminho)) {
      rc = 1;
      break;
    }
    std::printf("%s\n", disp.caminho.c_str());
    std::fflush(stdout);
  }
  if (restaurar) tcsetattr(STDIN_FILENO, TCSANOW, &terminalOriginal);
  if (log) std::fclose(log);
  close(g_pipeParada[0]);
  close(g_pipeParada[1]);
  return rc;
}
}  // namespace

int main(int argc, char** argv) { return ExecutaSemExcecao("simpinpad", 1, Principal, argc, argv); }
