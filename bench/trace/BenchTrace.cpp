// Records per second of TraceTexto, with and without the per-record fsync,
// next to a bare loop that opens, appends the same record bytes and closes
// the file. The writer opens and closes the file for every record by design;
// the goal is that nothing else costs much: at most 1.25x the bare loop.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "state/LibState.h"
#include "trace/FuncoesTrace.h"

namespace {

const char kTexto[] = "PP_Comp_EncryptBuffer: resposta 000 recebida do pinpad em 120 ms";

std::string g_dir;

std::string Caminho(const char* nome) { return g_dir + "/" + nome; }

// The bytes of one TraceTexto record, as the writer produces them.
std::vector<char> RegistroExemplo() {
  TraceCtx* ctx = TraceAbre(12, g_dir.c_str(), "amostra.dmp", nullptr, "AB000001", 1, nullptr);
  TraceTexto("PP_EncryptBuffer", "Sts", kTexto);
  TraceFecha(ctx);
  std::ifstream in(Caminho("amostra.dmp"), std::ios::binary);
  std::vector<char> r((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::filesystem::remove(Caminho("amostra.dmp"));
  return r;
}

void TraceTextoPorRegistro(benchmark::State& state) {
  const char* parametros = state.range(0) ? "HabilitaTraceCache=1" : "HabilitaTraceCache=0";
  TraceCtx* ctx = TraceAbre(12, g_dir.c_str(), "trace.<YYYY/><MM/><DD/>.dmp", nullptr, "AB000001", 1, parametros);
  for (auto _ : state) TraceTexto("PP_EncryptBuffer", "Sts", kTexto);
  TraceFecha(ctx);
  state.SetItemsProcessed(state.iterations());
  for (const auto& e : std::filesystem::directory_iterator(g_dir)) std::filesystem::remove(e.path());
}

void LacoSimples(benchmark::State& state) {
  const bool sync = state.range(0) == 0;
  const std::vector<char> registro = RegistroExemplo();
  const std::string caminho = Caminho("simples.dmp");
  for (auto _ : state) {
    FILE* f = std::fopen(caminho.c_str(), "ab");
    std::fwrite(registro.data(), 1, registro.size(), f);
    if (sync) {
      std::fflush(f);
      fsync(fileno(f));
    }
    std::fclose(f);
  }
  state.SetItemsProcessed(state.iterations());
  std::filesystem::remove(caminho);
}

// For reference only: the same with raw descriptors (open, write, close).
void LacoDescritor(benchmark::State& state) {
  const std::vector<char> registro = RegistroExemplo();
  const std::string caminho = Caminho("descritor.dmp");
  for (auto _ : state) {
    const int fd = open(caminho.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0666);
    if (write(fd, registro.data(), registro.size()) < 0) state.SkipWithError("write");
    close(fd);
  }
  state.SetItemsProcessed(state.iterations());
  std::filesystem::remove(caminho);
}

// Arg: "HabilitaTraceCache" (1 = no fsync, 0 = fsync per record).
BENCHMARK(TraceTextoPorRegistro)->Arg(1)->Arg(0)->Repetitions(3)->ReportAggregatesOnly(true)->UseRealTime();
BENCHMARK(LacoSimples)->Arg(1)->Arg(0)->Repetitions(3)->ReportAggregatesOnly(true)->UseRealTime();
BENCHMARK(LacoDescritor)->Repetitions(3)->ReportAggregatesOnly(true)->UseRealTime();

// Keeps the median records per second of every run to print the ratios.
class Relator : public benchmark::ConsoleReporter {
 public:
  std::map<std::string, double> medianas;
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& r : runs)
      if (r.run_type == Run::RT_Aggregate && r.aggregate_name == "median") {
        auto it = r.counters.find("items_per_second");
        if (it != r.counters.end()) medianas[r.run_name.function_name + r.run_name.args] = it->second.value;
      }
    ConsoleReporter::ReportRuns(runs);
  }
};

}  // namespace

int main(int argc, char** argv) {
  char modelo[] = "/tmp/bench_trace.XXXXXX";
  if (mkdtemp(modelo) == nullptr) return 1;
  g_dir = modelo;
  benchmark::Initialize(&argc, argv);
  Relator relator;
  benchmark::RunSpecifiedBenchmarks(&relator);
  for (int cache : {1, 0}) {
    const std::string arg = std::to_string(cache);
    const double trace = relator.medianas["TraceTextoPorRegistro" + arg];
    const double simples = relator.medianas["LacoSimples" + arg];
    if (trace > 0 && simples > 0)
      std::printf("HabilitaTraceCache=%d: TraceTexto %.0f registros/s, laco simples %.0f/s, razao %.2fx (meta <= 1.25x)\n",
                  cache, trace, simples, simples / trace);
  }
  if (const double d = relator.medianas["LacoDescritor"]; d > 0)
    std::printf("referencia: open/write/close com descritor %.0f/s\n", d);
  std::filesystem::remove_all(g_dir);
  benchmark::Shutdown();
  return 0;
}
