// kolvar-lote's wall time on a bench of four pinpads (compatible, not
// applicable, no key at either index, operator cancels) plus a port that does
// not exist, next to the slowest of the same Kolvar runs made one at a time.
// The bench should take about as long as its slowest pinpad: goal ratio <= 1.2.
//
// Then 32 pinpads at once on this small machine: kolvar-lote's wall time next
// to the slowest Kolvar of that same run (as kolvar-lote timed each one, in its
// JSON record, from the moment all are let go together), goal <= 1.10, and
// kolvar-lote's own processor time (its children's not included), read from
// /proc before it is reaped.
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

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

// Runs args to its end; `cpu` receives the processor time the process itself
// used (user and system, its children's excluded).
double ExecutaMedindo(const std::vector<std::string>& args, double& cpu) {
  auto inicio = Relogio::now();
  pid_t pid = Lanca(args, -1);
  if (pid < 0) return -1;
  siginfo_t info{};
  // Ended but not reaped: its /proc/<pid>/stat still holds its own times.
  waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOWAIT);
  const double parede = std::chrono::duration<double>(Relogio::now() - inicio).count();
  // The scheduler's total (nanosecond clock, printed in ms) where the kernel
  // shows it; else user + system time in clock ticks.
  cpu = -1;
  std::ifstream sched("/proc/" + std::to_string(pid) + "/sched");
  for (std::string linha; std::getline(sched, linha);)
    if (linha.rfind("se.sum_exec_runtime", 0) == 0) cpu = std::atof(linha.c_str() + linha.find(':') + 1) / 1e3;
  if (cpu <= 0) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string texto((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    std::istringstream campos(texto.substr(texto.rfind(')') + 2));
    std::string campo;
    // Fields 14 and 15 (utime, stime); the text after "comm)" starts at field 3.
    long long ticks = 0;
    for (int i = 3; i <= 15 && campos >> campo; ++i)
      if (i >= 14) ticks += std::atoll(campo.c_str());
    cpu = static_cast<double>(ticks) / static_cast<double>(sysconf(_SC_CLK_TCK));
  }
  waitpid(pid, nullptr, 0);
  return parede;
}

// The longest "segundos" of the ports in kolvar-lote's JSON record.
double MaisLentaDoJson(const std::string& caminho) {
  std::ifstream f(caminho);
  std::string j((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  double maior = 0;
  const std::string chave = "\"segundos\":";
  for (size_t p = j.find("\"portas\""); p != std::string::npos && (p = j.find(chave, p)) != std::string::npos;
       p += chave.size())
    maior = std::max(maior, std::atof(j.c_str() + p + chave.size()));
  return maior;
}

// 32 pinpads (the four profiles in turn) in one kolvar-lote run.
void TrintaEDois(const std::string& bin, const std::string& pasta, int rodadas) {
  constexpr int Portas = 32;
  std::vector<double> razoes, lotes, lentas, cpus;
  for (int r = 0; r < rodadas; ++r) {
    std::vector<std::unique_ptr<Simulador>> sims;
    const std::string json = pasta + "/t" + std::to_string(r) + ".json";
    std::vector<std::string> args = {bin + "/kolvar-lote", "--saida", pasta + "/t" + std::to_string(r), "--json", json};
    for (int i = 0; i < Portas; ++i) {
      sims.push_back(std::make_unique<Simulador>(Perfis[static_cast<size_t>(i) % Perfis.size()]));
      if (sims.back()->dispositivo.empty()) return;
      args.push_back(sims.back()->dispositivo);
    }
    double cpu = 0;
    const double lote = ExecutaMedindo(args, cpu);
    const double maisLenta = MaisLentaDoJson(json);
    if (lote <= 0 || maisLenta <= 0) return;
    lotes.push_back(lote);
    lentas.push_back(maisLenta);
    razoes.push_back(lote / maisLenta);
    cpus.push_back(cpu);
  }
  auto mediana = [](std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
  };
  const double razao = mediana(razoes);
  bench::Figura("kolvar-lote wall / slowest Kolvar of the same run (32 simpinpads)", bench::Texto("%.3f", razao),
                "<= 1.10", bench::Atende(razao <= 1.10),
                bench::Texto("lote %.1f ms, slowest Kolvar %.1f ms; ratios %.3f-%.3f; %d rounds (medians)",
                             mediana(lotes) * 1e3, mediana(lentas) * 1e3,
                             *std::min_element(razoes.begin(), razoes.end()),
                             *std::max_element(razoes.begin(), razoes.end()), rodadas));
  bench::Figura("kolvar-lote's own CPU time (32 simpinpads)", bench::Texto("%.1f ms", mediana(cpus) * 1e3), "-",
                bench::Estado::Info,
                bench::Texto("kolvar-lote alone, its Kolvars excluded; %.1f-%.1f ms over %d rounds",
                             *std::min_element(cpus.begin(), cpus.end()) * 1e3,
                             *std::max_element(cpus.begin(), cpus.end()) * 1e3, rodadas));
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
  TrintaEDois(bin, pasta, std::max(3, rodadas / 2 + 1));
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
