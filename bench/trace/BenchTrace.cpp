// TraceTexto with "HabilitaTraceCache" 1 and 0, side by side with a bare loop
// that opens the file, appends the same record bytes and closes it, with the
// same system calls as the writer: stdio unbuffered (open, lseek, write,
// close) and one read of the processor clock, which every record carries (on
// some virtual machines that read alone costs microseconds; its cost is shown
// as a figure of its own). The
// writer opens and closes the file for every record by design; the goal is
// that nothing else costs much: at most 1.10x the bare loop (median of the
// per-round ratios of interleaved batches). With cache 0 both sides fsync
// every record, so the disk sets the pace: that ratio is reported only. A
// raw-descriptor loop (open, write, close) is shown for reference.
//
//   bench_trace [rounds]
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "comum/Figuras.h"
#include "trace/FuncoesTrace.h"

namespace {

const char kTexto[] = "PP_Comp_EncryptBuffer: resposta 000 recebida do pinpad em 120 ms";

std::string g_dir;
volatile long g_relogio = 0;  // keeps the clock reads

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

void Limpa() {
  for (const auto& e : std::filesystem::directory_iterator(g_dir)) std::filesystem::remove(e.path());
}

// One side by side run: `lote` records per batch on each side.
bench::Razoes Compara(int cache, int lote, int rodadas, const std::vector<char>& registro) {
  const std::string parametros = cache ? "HabilitaTraceCache=1" : "HabilitaTraceCache=0";
  TraceCtx* ctx =
      TraceAbre(12, g_dir.c_str(), "trace.<YYYY/><MM/><DD/>.dmp", nullptr, "AB000001", 1, parametros.c_str());
  const std::string simples = Caminho("simples.dmp");
  auto escritor = [&] {
    for (int i = 0; i < lote; ++i) TraceTexto("PP_EncryptBuffer", "Sts", kTexto);
  };
  auto laco = [&] {
    for (int i = 0; i < lote; ++i) {
      FILE* f = std::fopen(simples.c_str(), "ab");
      if (f == nullptr) std::abort();
      std::setvbuf(f, nullptr, _IONBF, 0);  // one write of the record, as the writer does
      g_relogio = g_relogio + std::clock();            // the record's processor clock field
      std::fwrite(registro.data(), 1, registro.size(), f);
      if (!cache) {
        std::fflush(f);
        fsync(fileno(f));
      }
      std::fclose(f);
    }
  };
  escritor();  // warm up both
  laco();
  // Cache 1 is processor work (system calls into the page cache): compared in
  // processor time, which the other processes of a shared machine leave alone.
  // Cache 0 waits on the disk: wall time.
  const bench::Razoes r = bench::Intercala(escritor, laco, rodadas,
                                           cache ? bench::Tempo::Processador : bench::Tempo::Parede);
  TraceFecha(ctx);
  Limpa();
  return r;
}

}  // namespace

int main(int argc, char** argv) {
  const int rodadas = argc > 1 ? std::max(3, std::atoi(argv[1])) : 21;
  char modelo[] = "/tmp/bench_trace.XXXXXX";
  if (mkdtemp(modelo) == nullptr) return 1;
  g_dir = modelo;
  const std::vector<char> registro = RegistroExemplo();

  constexpr int kLote = 2000;
  const bench::Razoes c1 = Compara(1, kLote, rodadas, registro);
  std::printf("cache 1: TraceTexto %.0f records per processor second, bare stdio loop %.0f, ratio %.3f (%s)\n", kLote / c1.medianaA,
              kLote / c1.medianaB, c1.mediana, bench::Dispersao(c1).c_str());
  bench::Figura("trace cache 1: TraceTexto / bare open+append+close", bench::Texto("%.3fx", c1.mediana), "<= 1.10x",
                bench::Atende(c1.mediana <= 1.10), bench::Dispersao(c1));
  bench::Figura("trace cache 1: TraceTexto records per CPU second", bench::Texto("%.0f", kLote / c1.medianaA), "-",
                bench::Estado::Info, bench::Texto("bare loop %.0f/s", kLote / c1.medianaB));

  constexpr int kLoteSync = 20;
  const bench::Razoes c0 = Compara(0, kLoteSync, std::max(3, rodadas / 3), registro);
  std::printf("cache 0: TraceTexto %.0f records/s, bare stdio loop with fsync %.0f/s, ratio %.3f (%s)\n",
              kLoteSync / c0.medianaA, kLoteSync / c0.medianaB, c0.mediana, bench::Dispersao(c0).c_str());
  bench::Figura("trace cache 0 (fsync per record): TraceTexto / bare loop with fsync",
                bench::Texto("%.3fx", c0.mediana), "bound by fsync", bench::Estado::Info,
                bench::Texto("%.0f records/s; ", kLoteSync / c0.medianaA) + bench::Dispersao(c0));

  // The one system call of a record that is not about the file.
  constexpr int kLeituras = 20000;
  const double tc = bench::Cronometra([&] {
    for (int i = 0; i < kLeituras; ++i) g_relogio = g_relogio + std::clock();
  });
  std::printf("one clock() read: %.0f ns\n", tc / kLeituras * 1e9);
  bench::Figura("trace: one clock() read (in both loops)", bench::Texto("%.0f ns", tc / kLeituras * 1e9), "-",
                bench::Estado::Info);

  // Reference: open, write, close on a raw descriptor (no stdio).
  const std::string descritor = Caminho("descritor.dmp");
  const double t = bench::Cronometra([&] {
    for (int i = 0; i < kLote; ++i) {
      const int fd = open(descritor.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0666);
      if (fd < 0 || write(fd, registro.data(), registro.size()) < 0) std::abort();
      close(fd);
    }
  });
  std::printf("reference: raw descriptor open/write/close %.0f/s\n", kLote / t);
  bench::Figura("trace reference: raw open+write+close records/s", bench::Texto("%.0f", kLote / t), "-",
                bench::Estado::Info);
  std::filesystem::remove_all(g_dir);
  return 0;
}
