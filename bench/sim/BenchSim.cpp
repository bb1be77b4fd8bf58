// simpinpad as a peer: how long it takes from the last byte of a command to
// the last byte of its answer (it must stay far below the library's own 60 ms of
// pauses per write), and how closely --baud paces an answer.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "comum/Figuras.h"
#include "sim/SimProtocolo.h"

extern char** environ;

namespace {

double Ms() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<double>(ts.tv_sec) * 1e3 + static_cast<double>(ts.tv_nsec) / 1e6;
}

struct Simpinpad {
  pid_t pid = -1;
  int fd = -1;
  explicit Simpinpad(std::vector<std::string> args) {
    int canal[2];
    if (pipe(canal) != 0) return;
    posix_spawn_file_actions_t acoes;
    posix_spawn_file_actions_init(&acoes);
    posix_spawn_file_actions_adddup2(&acoes, canal[1], STDOUT_FILENO);
    std::string prog = SIMPINPAD_PROGRAMA;
    std::vector<char*> argv{prog.data()};
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    if (posix_spawn(&pid, prog.c_str(), &acoes, nullptr, argv.data(), environ) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&acoes);
    close(canal[1]);
    std::string linha;
    char c;
    while (read(canal[0], &c, 1) == 1 && c != '\n') linha += c;
    close(canal[0]);
    fd = open(linha.c_str(), O_RDWR | O_NOCTTY);
    termios t{};
    if (fd >= 0 && tcgetattr(fd, &t) == 0) {
      cfmakeraw(&t);
      tcsetattr(fd, TCSANOW, &t);
    }
  }
  ~Simpinpad() {
    if (fd >= 0) close(fd);
    if (pid > 0) {
      kill(pid, SIGTERM);
      waitpid(pid, nullptr, 0);
    }
  }
  // Sends the frame and reads until n bytes came back; milliseconds, or -1.
  double Troca(const std::string& quadro, size_t n) {
    if (write(fd, quadro.data(), quadro.size()) != static_cast<ssize_t>(quadro.size())) return -1;
    const double t0 = Ms();
    size_t lidos = 0;
    char buf[2048];
    while (lidos < n) {
      pollfd p{fd, POLLIN, 0};
      if (poll(&p, 1, 3000) <= 0) return -1;
      ssize_t r = read(fd, buf, sizeof buf);
      if (r <= 0) return -1;
      lidos += static_cast<size_t>(r);
    }
    return Ms() - t0;
  }
};

void Relata(const char* nome, std::vector<double> t, double meta) {
  std::sort(t.begin(), t.end());
  double mediana = t[t.size() / 2], p99 = t[t.size() * 99 / 100];
  std::printf("  %-28s median %7.3f ms  p99 %7.3f ms  (goal: median < %.1f ms) %s\n", nome, mediana, p99, meta,
              mediana < meta ? "ok" : "MISSED");
  bench::Figura(std::string("simpinpad turnaround, ") + nome + " (median)", bench::Texto("%.3f ms", mediana),
                bench::Texto("< %.0f ms", meta), bench::Atende(mediana < meta), bench::Texto("p99 %.3f ms", p99));
}

}  // namespace

int main(int argc, char** argv) {
  int trocas = 300;
  if (argc > 1) std::sscanf(argv[1], "%d", &trocas);
  std::printf("simpinpad: %d exchanges of each command over a pty\n", trocas);
  {
    Simpinpad s({});
    if (s.fd < 0) {
      std::fprintf(stderr, "simpinpad did not start\n");
      return 2;
    }
    struct Caso {
      const char* nome;
      std::string quadro;
      size_t resposta;  // ACK + answer frame
    } casos[] = {
        {"OPN (ACK + 10 bytes)", sim::MontaComando("OPN", {}), 11},
        {"GIN (ACK + 113 bytes)", sim::MontaComando("GIN", {"00"}), 114},
        {"ENB 3DES (ACK + 29 bytes)",
         sim::MontaComando("ENB", {"102" "3F9A0C5E71B2D84A6E0F19C3B7D25A48" "1122334455667788"}), 30},
    };
    for (auto& c : casos) {
      std::vector<double> t;
      for (int i = 0; i < trocas; ++i) {
        double ms = s.Troca(c.quadro, c.resposta);
        if (ms < 0) {
          std::fprintf(stderr, "exchange failed\n");
          return 1;
        }
        t.push_back(ms);
      }
      Relata(c.nome, t, 1.0);
    }
  }
  {
    // 114 bytes of 10 bits at 19200 baud: 59.4 ms.
    Simpinpad s({"--baud", "19200"});
    std::vector<double> t;
    for (int i = 0; i < 20; ++i) t.push_back(s.Troca(sim::MontaComando("GIN", {"00"}), 114));
    std::sort(t.begin(), t.end());
    const double teorico = 114 * 10.0 / 19200 * 1000;
    std::printf("  GIN paced at 19200 baud      median %7.3f ms  (line time %.1f ms; goal within 5%%) %s\n",
                t[t.size() / 2], teorico, t[t.size() / 2] < teorico * 1.05 && t[t.size() / 2] > teorico * 0.95
                                                                ? "ok"
                                                                : "MISSED");
    const double m = t[t.size() / 2];
    bench::Figura("simpinpad GIN at 19200 baud / its line time", bench::Texto("%.3f", m / teorico), "0.95-1.05",
                  bench::Atende(m < teorico * 1.05 && m > teorico * 0.95),
                  bench::Texto("median %.1f ms, line time %.1f ms", m, teorico));
  }
  return 0;
}
