// Soak: PP_Open / PP_GetInfo / PP_Close cycles in one process against
// simpinpad, which draws line faults at random (--aleatorio) while this
// program unplugs it at random moments (SIGUSR1; it comes back on the same
// path after 100 ms). After a failure the caller sometimes closes and
// sometimes opens again straight away, as applications do. Figures: the
// descriptors this process has open after the soak against before, the growth
// of its resident memory, the longest single call against the protocol's
// bound, and crashes (this process or the simulator ending by a signal).
//
//   bench_soak [CYCLES]      (default 2000)
#include <dirent.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <thread>

#include "comum/Figuras.h"
#include "comum/Processos.h"
#include "pinpad/pinpad.h"

namespace {

using Relogio = std::chrono::steady_clock;

// The longest a blocking call can take by the link's rules: three attempts at
// sending (50 ms discard pause, a write budget of 1 s, 2 s for the
// acknowledgement) with 500 ms after each of the first two rejections, then
// more than 10 s on a one-second clock for the answer (up to 11 s).
constexpr double kLimiteChamadaS = 3 * (0.05 + 1.0 + 2.0) + 2 * 0.5 + 11.0;

int DescritoresAbertos() {
  int n = 0;
  DIR* d = opendir("/proc/self/fd");
  if (!d) return -1;
  while (dirent* e = readdir(d))
    if (e->d_name[0] != '.') ++n;
  closedir(d);
  return n - 1;  // the listing's own
}

// A line of /proc/self/status in kB: "VmRSS" (all resident pages, the
// library's code pages that a rarer path touches first included) or
// "RssAnon" (the process's own memory: heap, stacks; what a leak grows).
long StatusKb(const std::string& campo) {
  std::ifstream f("/proc/self/status");
  std::string linha;
  while (std::getline(f, linha))
    if (linha.rfind(campo + ":", 0) == 0) return std::atol(linha.c_str() + campo.size() + 1);
  return -1;
}

bool Existe(const std::string& caminho) { return access(caminho.c_str(), F_OK) == 0; }

}  // namespace

int main(int argc, char** argv) {
  const int ciclos = argc > 1 ? std::atoi(argv[1]) : 2000;
  std::string modelo = (std::filesystem::temp_directory_path() / "bench_soak.XXXXXX").string();
  if (!mkdtemp(modelo.data())) return 2;
  const std::string pasta = modelo;
  const std::string caminho = pasta + "/pinpad";
  std::mt19937 sorte(20261211);

  int rc = 0;
  {
    bench::Simulador sim({"--link", caminho, "--volta", "100", "--aleatorio", "2:7", "--atraso-tecla", "0"});
    if (sim.dispositivo.empty()) {
      std::fprintf(stderr, "simpinpad did not start\n");
      return 2;
    }
    std::map<std::string, int> desfechos;
    double maisLonga = 0;
    std::string qualMaisLonga;
    auto chama = [&](const char* nome, auto f) {
      const auto t0 = Relogio::now();
      const int32_t r = f();
      const double s = bench::Segundos(Relogio::now() - t0);
      if (s > maisLonga) {
        maisLonga = s;
        qualMaisLonga = nome;
      }
      ++desfechos[std::string(nome) + " " + std::to_string(r)];
      return r;
    };
    auto desconecta = [&] {
      kill(sim.pid, SIGUSR1);
      ++desfechos["unplugged"];
    };

    int descritoresAntes = 0;
    long rssAntes = 0, anonAntes = 0;
    char info[300];
    bool aberto = false;
    const auto inicio = Relogio::now();
    // Cycle 0 warms up (the library's first call, the allocator); the
    // figures compare the end with the state after it.
    for (int ciclo = 0; ciclo <= ciclos; ++ciclo) {
      if (ciclo == 1) {
        descritoresAntes = DescritoresAbertos();
        rssAntes = StatusKb("VmRSS");
        anonAntes = StatusKb("RssAnon");
      }
      if (ciclo > 0 && sorte() % 100 == 0) desconecta();  // before the open
      // A device away is a device that comes back: wait for its path, as a
      // caller retrying would.
      for (int i = 0; i < 200 && !Existe(caminho); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
      if (chama("PP_Open", [&] { return PP_Open(caminho.c_str()); }) != PPCOMP_OK) continue;
      aberto = true;
      if (ciclo > 0 && sorte() % 100 == 0) desconecta();  // between the commands
      const int32_t r = chama("PP_GetInfo", [&] { return PP_GetInfo("00", info); });
      // After a failure, half the callers open again without closing.
      if (r != PPCOMP_OK && sorte() % 2 == 0) continue;
      chama("PP_Close", [&] { return PP_Close(""); });
      aberto = false;
    }
    if (aberto) PP_Close("");
    const double total = bench::Segundos(Relogio::now() - inicio);
    const int descritoresDepois = DescritoresAbertos();
    const long rssDepois = StatusKb("VmRSS");
    const long anonDepois = StatusKb("RssAnon");
    int st = 0;
    const bool simVivo = waitpid(sim.pid, &st, WNOHANG) == 0;
    const int quedas = simVivo ? 0 : (WIFSIGNALED(st) ? 1 : 0);

    std::string detalhe;
    for (const auto& [chave, n] : desfechos) detalhe += chave + ": " + std::to_string(n) + "; ";
    std::printf("%d cycles in %.1f s; %s\n", ciclos, total, detalhe.c_str());
    std::printf("descriptors %d -> %d, RSS %ld -> %ld kB (anonymous %ld -> %ld kB), longest call %s %.3f s\n",
                descritoresAntes, descritoresDepois, rssAntes, rssDepois, anonAntes, anonDepois,
                qualMaisLonga.c_str(), maisLonga);

    bench::Figura("soak: PP_Open/GetInfo/Close cycles, random faults and unplugging", std::to_string(ciclos),
                  ">= 2000", bench::Atende(ciclos >= 2000),
                  bench::Texto("%.0f s; unplugged %d times, %d opens refused", total, desfechos["unplugged"],
                               desfechos["PP_Open 30"]));
    bench::Figura("soak: descriptors open after - before", std::to_string(descritoresDepois - descritoresAntes), "0",
                  bench::Atende(descritoresDepois == descritoresAntes),
                  bench::Texto("%d before, %d after", descritoresAntes, descritoresDepois));
    bench::Figura("soak: resident memory growth (anonymous)", bench::Texto("%ld KB", anonDepois - anonAntes),
                  "<= 64 KB", bench::Atende(anonDepois - anonAntes <= 64),
                  bench::Texto("anonymous %ld -> %ld KB; all resident pages %ld -> %ld KB", anonAntes, anonDepois,
                               rssAntes, rssDepois));
    bench::Figura("soak: longest call", bench::Texto("%.2f s", maisLonga), bench::Texto("<= %.2f s", kLimiteChamadaS),
                  bench::Atende(maisLonga <= kLimiteChamadaS), qualMaisLonga + "; the protocol's bound");
    bench::Figura("soak: crashes", std::to_string(quedas), "0", bench::Atende(quedas == 0),
                  simVivo ? "simulator alive at the end" : "simulator ended");
    if (!simVivo) rc = 1;
  }
  std::remove(caminho.c_str());
  rmdir(pasta.c_str());
  return rc;
}
