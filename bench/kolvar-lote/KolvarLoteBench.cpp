// kolvar-lote's wall time on a bench of four pinpads (compatible, not
// applicable, no key at either index, operator cancels) plus a port that does
// not exist, next to the slowest of the same Kolvar runs made one at a time.
// The bench should take about as long as its slowest pinpad: goal ratio <= 1.2.
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "comum/Figuras.h"
#include "comum/Processos.h"

namespace {

using bench::DiretorioProgramas;
using bench::Lanca;
using bench::Simulador;
using Relogio = std::chrono::steady_clock;

const std::vector<std::vector<std::string>> Perfis = {
    {"--teclas", "OK,OK"},
    {"--versao", "1.07"},
    {"--sem-chave", "2", "--sem-chave", "8"},
    {"--teclas", "CANCEL"},
};

double Executa(const std::vector<std::string>& args) {
  auto inicio = Relogio::now();
  pid_t pid = Lanca(args, -1);
  if (pid < 0) return -1;
  int st = 0;
  waitpid(pid, &st, 0);
  return std::chrono::duration<double>(Relogio::now() - inicio).count();
}

}  // namespace

int main(int argc, char** argv) {
  const int rodadas = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
  const std::string bin = DiretorioProgramas();
  std::string modelo = (std::filesystem::temp_directory_path() / "bench_kolvar_lote.XXXXXX").string();
  if (!mkdtemp(modelo.data())) return 1;
  const std::string pasta = modelo;
  std::vector<double> razoes, lentas, lotes;
  for (int r = 0; r < rodadas; ++r) {
    // Each pinpad alone, each against a fresh simulator (the operator's script is used up by a run).
    double maisLenta = 0;
    for (const auto& p : Perfis) {
      Simulador s(p);
      if (s.dispositivo.empty()) return 1;
      maisLenta = std::max(maisLenta, Executa({bin + "/Kolvar", s.dispositivo}));
    }
    // The whole bench at once.
    std::vector<std::unique_ptr<Simulador>> sims;
    std::vector<std::string> args = {bin + "/kolvar-lote", "--saida", pasta + "/r" + std::to_string(r)};
    for (const auto& p : Perfis) {
      sims.push_back(std::make_unique<Simulador>(p));
      if (sims.back()->dispositivo.empty()) return 1;
      args.push_back(sims.back()->dispositivo);
    }
    args.push_back(pasta + "/ttyNADA");
    const double lote = Executa(args);
    lentas.push_back(maisLenta);
    lotes.push_back(lote);
    razoes.push_back(lote / maisLenta);
  }
  std::error_code ec;
  std::filesystem::remove_all(pasta, ec);
  auto mediana = [](std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
  };
  const double razao = mediana(razoes);
  bench::Figura("kolvar-lote wall / slowest single Kolvar (4 simpinpads + 1 missing port)",
                bench::Texto("%.3f", razao), "<= 1.20", bench::Atende(razao <= 1.2),
                bench::Texto("lote %.1f ms, slowest %.1f ms; %d rounds (medians)", mediana(lotes) * 1e3,
                             mediana(lentas) * 1e3, rodadas));
  return 0;
}
