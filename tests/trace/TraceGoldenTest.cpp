// The writer's output pinned byte for byte: a fixed script of records (every
// kind, cut texts and values, every value length class of the scrambling,
// origins, date and time macros in file names, a change of day, of month and
// year, a change of terminal, the backup cycle and a context with fsync) is
// written at chosen clock instants, and every file left behind, its name and
// its bytes, is compared with what the writer produced before it was made
// faster. Only the fields that differ from run to run (processor clock,
// process and thread ids, the caller's pointer) are set to fixed values before
// the comparison; the pid and thread id are checked first.
//
// PINPAD_GOLDEN_IMPRIME=1 prints the table of the current output.
#include <pthread.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "TraceTestUtil.h"
#include "state/LibState.h"
#include "trace/FormatoTrace.h"

namespace {

using namespace tracetest;
using TraceGolden = TraceTeste;

uint64_t Fnv64(const std::string& s) {
  uint64_t h = 0xcbf29ce484222325ull;
  for (unsigned char c : s) {
    h ^= c;
    h *= 0x100000001b3ull;
  }
  return h;
}

uint32_t Le32(const std::string& s, size_t p) {
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = v << 8 | static_cast<uint8_t>(s[p + static_cast<size_t>(i)]);
  return v;
}

// Clock, pid and thread set to zero, a non-null pointer to 1; walks the
// records by their length field and fails on a record that runs past the end.
std::string Normaliza(std::string s, const std::string& nome) {
  size_t p = 0;
  while (p < s.size()) {
    if (s.size() - p < TAM_CABECALHO_TRACE) {
      ADD_FAILURE() << nome << ": short record at " << p;
      break;
    }
    const size_t tam = static_cast<uint8_t>(s[p + 2]) | static_cast<size_t>(static_cast<uint8_t>(s[p + 3])) << 8;
    EXPECT_EQ(Le32(s, p + 16), static_cast<uint32_t>(getpid())) << nome << " at " << p;
    EXPECT_EQ(Le32(s, p + 20), static_cast<uint32_t>((uintptr_t)pthread_self())) << nome << " at " << p;
    for (size_t k = 12; k < 24; ++k) s[p + k] = 0;
    const bool comPonteiro = Le32(s, p + 26) != 0;
    for (size_t k = 26; k < 30; ++k) s[p + k] = 0;
    s[p + 26] = comPonteiro ? 1 : 0;
    p += tam + 2;
  }
  EXPECT_EQ(p, s.size()) << nome;
  return s;
}

std::vector<uint8_t> Bytes(size_t n, uint32_t semente) {
  std::vector<uint8_t> v(n);
  for (auto& b : v) {
    semente = semente * 1103515245u + 12345u;
    b = static_cast<uint8_t>(semente >> 16);
  }
  return v;
}

struct Arquivo {
  const char* nome;
  size_t tamanho;
  uint64_t fnv;
};

// Captured from the writer as it was before the speed work.
const Arquivo kEsperado[] = {
#include "TraceGolden.inc"
};

TEST_F(TraceGolden, ArquivosERegistrosIguaisByteAByte) {
  const std::string& d = dir.caminho();
  std::vector<std::pair<std::string, std::string>> extras;  // control file snapshots

  FixaRelogio(Instante(2026, 12, 9, 23, 59, 58));
  TraceCtx* a = Abre("Cli.<LOJA/>.<TERM/>.<YYYY/><MM/><DD/>.dmp", "HabilitaTraceCache=1,NivelTrace=3", "0001",
                     "AB000001");
  TraceTexto("IM", "Versao", "4.0.0.3");
  TraceTexto(nullptr, nullptr, nullptr);
  TraceTexto("", "", "");
  TraceNumero("Tag", "Num", 0x01020304);
  TraceNumero("Tag", "Neg", -2);
  for (size_t n : {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 15, 16, 17, 31, 32, 33, 64, 100, 255, 256, 1000, 4000,
                   4063, 4064, 4095, 4096, 4097, 5000}) {
    const auto v = Bytes(n, static_cast<uint32_t>(n));
    TraceBinario("Bin", "N", v.data(), static_cast<int32_t>(n));
  }
  TraceDados("Dados", "Neg", TRACE_BINARIO, "xyz", -5);
  TraceDados("Dados", "Nulo", TRACE_BINARIO, nullptr, 10);
  TraceDados("Dados", "Tipo9", 9, "abc", 3);
  TraceTextoOrigem("pre", "nome", "T", "R", "origem com prefixo");
  TraceTextoOrigem("", "so", "T", "R", "x");
  TraceTextoOrigem(nullptr, "so", "T", "R", nullptr);
  TraceNumeroOrigem(nullptr, "num", "T", "R", 77);
  const std::string longo(5000, 'L');
  TraceTexto(longo.c_str(), "R", "valor");
  TraceTexto("T", longo.c_str(), "valor");
  TraceTextoOrigem(longo.c_str(), "n", "T", "R", "v");
  const auto grande = Bytes(4096, 9);
  TraceTexto(std::string(3000, 'T').c_str(), std::string(500, 'R').c_str(),
             std::string(grande.begin(), grande.end()).c_str());

  // Backup cycle across midnight.
  TraceSolicitaBackup();
  TraceTexto("T", "R", "marcado");
  extras.emplace_back("ctl1", testutil::LeArquivo(Arquivo("CtlBkpTrace.ini")));
  FixaRelogio(Instante(2026, 12, 9, 23, 59, 59));
  TraceTexto("T", "R", "mesmo dia");
  FixaRelogio(Instante(2026, 12, 10, 0, 0, 0));
  TraceTexto("T", "R", "dia seguinte");
  EXPECT_FALSE(std::filesystem::exists(Arquivo("CtlBkpTrace.ini")));

  // New ids: the 6-character terminal gives no origin.
  TraceMudaLojaTerminal(a, nullptr, "AB0002");
  TraceTexto("T", "R", "terminal curto");
  TraceNumeroCtx(a, "T", "Ctx", 5);

  // A second context with time macros, made current; the first still writes
  // through the explicit calls.
  FixaRelogio(Instante(2026, 12, 10, 8, 7, 6));
  TraceCtx* b = Abre("h.<YY/><MM/><DD/>.<HH/><NN/><SS/>.dmp", nullptr, nullptr, "TERM0001");
  TraceTexto("H", "1", "primeiro");
  TraceTextoCtx(a, "A", "Ctx", "no primeiro contexto");
  FixaRelogio(Instante(2026, 12, 10, 8, 7, 7));
  TraceTexto("H", "2", "segundo");
  TraceBinarioCtx(a, "A", "Bin", "\x01\x02", 2);
  TraceSolicitaBackup();
  TraceTexto("H", "3", "marca");
  extras.emplace_back("ctl2", testutil::LeArquivo(Arquivo("CtlBkpTrace.ini")));
  FixaRelogio(Instante(2026, 12, 10, 8, 8, 0));
  TraceTexto("H", "4", "outro minuto");
  TraceFecha(b);

  // Synced records across a change of year; an inactive context.
  FixaRelogio(Instante(2026, 12, 31, 23, 59, 59));
  TraceCtx* c = Abre("s.<YYYY/>-<MM/>-<DD/>.dmp", "HabilitaTraceCache=0");
  TraceTexto("S", "1", "ano velho");
  FixaRelogio(Instante(2027, 1, 1, 0, 0, 0));
  TraceTexto("S", "2", "ano novo");
  TraceFecha(c);
  TraceCtx* inativo = Abre("inativo.dmp", nullptr, nullptr, nullptr, 0);
  TraceTexto("I", "R", "nada");
  TraceFecha(inativo);
  TraceFecha(a);

  std::vector<std::pair<std::string, std::string>> obtidos;
  for (const auto& e : std::filesystem::directory_iterator(d)) {
    const std::string nome = e.path().filename().string();
    obtidos.emplace_back(nome, Normaliza(testutil::LeArquivo(e.path().string()), nome));
  }
  std::sort(obtidos.begin(), obtidos.end());
  for (auto& [nome, conteudo] : extras) {
    // The control file holds the absolute path of the temporary directory.
    for (size_t p; (p = conteudo.find(d)) != std::string::npos;) conteudo.replace(p, d.size(), "<DIR>");
    obtidos.emplace_back(nome, conteudo);
  }

  if (const char* imprime = std::getenv("PINPAD_GOLDEN_IMPRIME"); imprime && imprime[0] == '1')
    for (const auto& [nome, conteudo] : obtidos)
      std::printf("    {\"%s\", %zu, 0x%016llxull},\n", nome.c_str(), conteudo.size(),
                  static_cast<unsigned long long>(Fnv64(conteudo)));

  ASSERT_EQ(obtidos.size(), std::size(kEsperado));
  for (size_t i = 0; i < obtidos.size(); ++i) {
    SCOPED_TRACE(obtidos[i].first);
    EXPECT_EQ(obtidos[i].first, kEsperado[i].nome);
    EXPECT_EQ(obtidos[i].second.size(), kEsperado[i].tamanho);
    EXPECT_EQ(Fnv64(obtidos[i].second), kEsperado[i].fnv);
  }
}

}  // namespace

namespace {

// The writer's two-loop scrambling against the three passes, at every length
// up to a whole record value and on several fillings.
TEST(CopiaEmbaralhadoTrace, IgualACopiarEEmbaralharEmTresPassos) {
  for (size_t n = 0; n <= TAM_MAXIMO_VALOR_TRACE; n += (n < 700 ? 1 : 97)) {
    for (uint32_t semente : {1u, 0xFFu}) {
      const auto origem = Bytes(n, semente + static_cast<uint32_t>(n));
      auto esperado = origem;
      EmbaralhaValorTrace(esperado);
      std::vector<uint8_t> obtido(n + 1, 0xEE);  // one guard byte
      CopiaEmbaralhadoTrace(origem.data(), obtido.data(), n);
      ASSERT_EQ(obtido.back(), 0xEE) << n;
      obtido.pop_back();
      ASSERT_EQ(obtido, esperado) << n;
    }
  }
}

}  // namespace
