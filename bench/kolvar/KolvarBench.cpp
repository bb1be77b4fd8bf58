// Kolvar's whole happy path against simpinpad (confirm, 3DES accepted, OK key;
// the operator answers at once), repeated: wall time next to the protocol's
// floor, CPU time and peak memory of the Kolvar process; then one run whose
// operator waits 10 s, for the CPU cost of the key polling.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <sstream>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "comum/Figuras.h"
#include "comum/Processos.h"

namespace {

using bench::DiretorioProgramas;
using bench::Lanca;
using bench::Simulador;
using Relogio = std::chrono::steady_clock;

// 50 ms of discard pause and 10 ms before the last byte for every command
// written; the happy path writes 9 commands (OPN, GIN, DSP, GKY, DSP, ENB,
// DSP, GKY, CLO).
constexpr double PisoSegundos = 9 * 0.060;

struct Medida {
  int status = -1;
  double parede = 0, cpu = 0;
  long picoKb = 0;
};

Medida ExecutaKolvar(const std::string& dispositivo) {
  Medida m;
  auto inicio = Relogio::now();
  pid_t pid = Lanca({DiretorioProgramas() + "/Kolvar", dispositivo}, -1);
  if (pid < 0) return m;
  int st = 0;
  rusage uso{};
  wait4(pid, &st, 0, &uso);
  m.parede = std::chrono::duration<double>(Relogio::now() - inicio).count();
  m.cpu = uso.ru_utime.tv_sec + uso.ru_utime.tv_usec / 1e6 + uso.ru_stime.tv_sec + uso.ru_stime.tv_usec / 1e6;
  m.picoKb = uso.ru_maxrss;
  m.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  return m;
}

// Line time of everything the simulator sent (its log's TX lines: ACKs and
// answer frames), at 10 bits a byte.
double TempoLinhaRespostas(const std::string& log, int baud) {
  std::ifstream in(log);
  std::string linha;
  long bytes = 0;
  while (std::getline(in, linha)) {
    std::istringstream campos(linha);
    std::string instante, sentido, tipo, h;
    if (!(campos >> instante >> sentido >> tipo) || sentido != "TX") continue;
    while (campos >> h && h[0] != '|') {
      if (h.size() == 2 && std::isxdigit(static_cast<unsigned char>(h[0])) &&
          std::isxdigit(static_cast<unsigned char>(h[1])))
        ++bytes;
    }
  }
  return static_cast<double>(bytes) * 10.0 / baud;
}

double Mediana(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  int repeticoes = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20;
  std::vector<Medida> medidas;
  for (int i = 0; i < repeticoes; ++i) {
    Simulador sim({"--versao", "1.06", "--atraso-tecla", "0"});
    if (sim.dispositivo.empty()) {
      std::fprintf(stderr, "simpinpad did not start\n");
      return 1;
    }
    Medida m = ExecutaKolvar(sim.dispositivo);
    if (m.status != 0) {
      std::fprintf(stderr, "Kolvar ended with %d\n", m.status);
      return 1;
    }
    medidas.push_back(m);
  }
  auto mediana = [&](auto campo) {
    std::vector<double> v;
    for (const auto& m : medidas) v.push_back(campo(m));
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
  };
  double parede = mediana([](const Medida& m) { return m.parede; });
  double cpu = mediana([](const Medida& m) { return m.cpu; });
  long pico = 0;
  for (const auto& m : medidas) pico = std::max(pico, m.picoKb);

  std::printf("Kolvar happy path against simpinpad, %d runs (medians)\n", repeticoes);
  std::printf("  wall       %7.1f ms   floor %5.0f ms   ratio %.3f   (goal < 1.10)\n", parede * 1e3,
              PisoSegundos * 1e3, parede / PisoSegundos);
  std::printf("  CPU        %7.1f ms   (goal < 30 ms)\n", cpu * 1e3);
  std::printf("  peak RSS   %7.1f MB   (goal < 8 MB)\n", pico / 1024.0);
  bench::Figura("Kolvar wall / 540 ms floor (unpaced pty)", bench::Texto("%.3f", parede / PisoSegundos), "< 1.10",
                bench::Atende(parede / PisoSegundos < 1.10), bench::Texto("median %.1f ms of %d runs", parede * 1e3, repeticoes));
  bench::Figura("Kolvar CPU time", bench::Texto("%.1f ms", cpu * 1e3), "< 30 ms", bench::Atende(cpu < 0.030));
  bench::Figura("Kolvar peak RSS", bench::Texto("%.1f MB", pico / 1024.0), "< 8 MB", bench::Atende(pico < 8 * 1024));

  // A line paced like a real one: the simulator sends its answers at 19200
  // baud, so the floor grows by their line time.
  {
    constexpr int kBaud = 19200;
    std::vector<double> paredes, linhas;
    char modelo[] = "/tmp/bench_kolvar.XXXXXX";
    if (mkdtemp(modelo) == nullptr) return 1;
    const std::string log = std::string(modelo) + "/sim.log";
    for (int i = 0; i < std::max(5, repeticoes / 2); ++i) {
      std::remove(log.c_str());
      Medida mp;
      {
        Simulador sim({"--versao", "1.06", "--atraso-tecla", "0", "--baud", std::to_string(kBaud), "--log", log});
        mp = ExecutaKolvar(sim.dispositivo);
      }  // the simulator ends and its log is complete
      if (mp.status != 0) {
        std::fprintf(stderr, "Kolvar ended with %d on the paced line\n", mp.status);
        return 1;
      }
      paredes.push_back(mp.parede);
      linhas.push_back(TempoLinhaRespostas(log, kBaud));
    }
    std::remove(log.c_str());
    rmdir(modelo);
    const double pp = Mediana(paredes), linha = Mediana(linhas);
    const double piso = PisoSegundos + linha;
    std::printf("  paced at %d baud: wall %.1f ms, floor %.0f ms + answers' line time %.1f ms = %.1f ms, ratio %.3f (goal <= 1.02)\n",
                kBaud, pp * 1e3, PisoSegundos * 1e3, linha * 1e3, piso * 1e3, pp / piso);
    bench::Figura("Kolvar wall / (floor + answers' line time), 19200 baud", bench::Texto("%.3f", pp / piso), "<= 1.02",
                  bench::Atende(pp / piso <= 1.02),
                  bench::Texto("median %.1f ms; floor %.0f ms + line %.1f ms = %.1f ms; %zu runs", pp * 1e3,
                               PisoSegundos * 1e3, linha * 1e3, piso * 1e3, paredes.size()));
  }

  // The operator waits 10 s before confirming: Kolvar polls all that time.
  Simulador lento({"--versao", "1.06", "--atraso-tecla", "0", "--teclas", "OK:10000,OK"});
  Medida m = ExecutaKolvar(lento.dispositivo);
  std::printf("  10 s operator wait: wall %.2f s, CPU %.1f ms, %.3f%% of the wait   (goal < 1%%)\n", m.parede,
              m.cpu * 1e3, 100.0 * m.cpu / std::max(m.parede, 1e-9));
  const double fracao = 100.0 * m.cpu / std::max(m.parede, 1e-9);
  bench::Figura("Kolvar CPU during a 10 s operator wait", bench::Texto("%.3f %%", fracao), "< 1 %",
                bench::Atende(fracao < 1.0 && m.status == 0));
  return m.status == 0 ? 0 : 1;
}
