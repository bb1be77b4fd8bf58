// Error dumps, system error and permission records, removal of old files.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <set>
#include <string>

#include "TraceTestUtil.h"
#include "state/LibState.h"
#include "trace/FormatoTrace.h"

namespace {

using namespace tracetest;
using TraceManutencao = TraceTeste;

std::set<std::string> Nomes(const std::string& dir) {
  std::set<std::string> s;
  for (const auto& e : std::filesystem::directory_iterator(dir)) s.insert(e.path().filename().string());
  return s;
}

TEST_F(TraceManutencao, ErroVaiParaODumpDoDia) {
  TraceErro("antes de abrir");  // no trace opened: nowhere to write
  FixaRelogio(Instante(2026, 12, 10, 9, 8, 7));
  Abre("t.dmp", nullptr, nullptr, nullptr, 0);  // the dump does not depend on the active flag
  TraceErro("primeiro");
  TraceErro(nullptr);
  FixaRelogio(Instante(2026, 12, 10, 23, 0, 1));
  TraceErro("segundo");
  EXPECT_EQ(testutil::LeArquivo(Arquivo("Erro.20261210.dmp")), "09:08:07: primeiro\n23:00:01: segundo\n");
  EXPECT_EQ(Nomes(dir.caminho()), std::set<std::string>{"Erro.20261210.dmp"});
}

TEST_F(TraceManutencao, ErroDeSistemaDescreveErrnoBufferEUsuario) {
  Abre();
  errno = ENOENT;
  TraceErroSistema(nullptr);
  errno = EACCES;
  TraceErroSistema("abrindo x");
  const auto regs = Registros(Arquivo("trace.dmp"));
  ASSERT_EQ(regs.size(), 2u);
  EXPECT_EQ(regs[0].tag, "ErroSistema");
  EXPECT_EQ(regs[0].rotulo, "Erro");
  const std::string un = "  UN: " + std::to_string(getuid()) + " - ";
  const std::string t0 = ValorTexto(regs[0]);
  EXPECT_EQ(t0.rfind("\n  LE: " + std::to_string(ENOENT) + " - " + std::strerror(ENOENT) + "\n" + un, 0), 0u) << t0;
  EXPECT_EQ(t0.find("BU:"), std::string::npos);
  const std::string t1 = ValorTexto(regs[1]);
  EXPECT_NE(t1.find("\n  BU: abrindo x\n" + un), std::string::npos) << t1;
  EXPECT_EQ(t1.back(), '\n');
}

TEST_F(TraceManutencao, PermissoesDeCadaDiretorioDoCaminhoQueExiste) {
  Abre();
  chmod(dir.caminho().c_str(), 0750);
  TracePermissoes((dir.caminho() + "/naoexiste/trace").c_str());
  const auto regs = Registros(Arquivo("trace.dmp"));
  // One binary and one text record per existing prefix of the path.
  size_t barras = 0;
  for (char c : dir.caminho().substr(1)) barras += c == '/';
  ASSERT_EQ(regs.size(), 2 * (barras + 1));
  const auto& bin = regs[regs.size() - 2];
  const auto& txt = regs.back();
  EXPECT_EQ(bin.tag, "Prm");
  EXPECT_EQ(bin.rotulo, dir.caminho());
  EXPECT_EQ(bin.especie, TRACE_BINARIO);
  EXPECT_EQ(bin.valor.size(), sizeof(struct stat));
  EXPECT_EQ(txt.rotulo, "Permissao");
  const std::string t = ValorTexto(txt);
  EXPECT_EQ(t.rfind("\n  FN: " + dir.caminho() + "\n  FT: Diretorio\n  PE: 0750\n  FS: ", 0), 0u) << t;
  EXPECT_NE(t.find("\n  UN: " + std::to_string(getuid()) + " - "), std::string::npos);
  EXPECT_EQ(regs[0].rotulo, dir.caminho().substr(0, dir.caminho().find('/', 1)));
}

TEST_F(TraceManutencao, ExcluiOsMaisAntigosSoDaLojaETerminal) {
  const char modelo[] = "CliNorva.<LOJA/>.<TERM/>.<YYYY/><MM/><DD/>.dmp";
  std::set<std::string> intocaveis = {
      "CliNorva.00000043.AB000001.20261201.dmp",   // other store
      "CliNorva.00000042.AB000002.20261201.dmp",   // other terminal
      "CliNorva.00000042.AB000001.2026120.dmp",    // other length
      "CliNorva.00000042.AB000001.20261201.dmp.bkp",
      "cliNorva.00000042.AB000001.20261201.dmp",   // case differs
  };
  std::set<std::string> diarios;
  for (int d = 10; d >= 1; --d) {  // created newest first: order must come from the names
    char nome[64];
    std::snprintf(nome, sizeof nome, "CliNorva.00000042.AB000001.202612%02d.dmp", d);
    diarios.insert(nome);
  }
  for (const auto& n : intocaveis) testutil::GravaArquivo(Arquivo(n), "x");
  for (const auto& n : diarios) testutil::GravaArquivo(Arquivo(n), "x");
  TraceCtx* ctx = Abre("log.dmp");

  EXPECT_EQ(traceExcluiArquivos(ctx, modelo, "00000042", "AB000001", 0), 0);
  EXPECT_EQ(traceExcluiArquivos(ctx, modelo, "00000042", "AB000001", 11), 0);
  EXPECT_FALSE(std::filesystem::exists(Arquivo("log.dmp")));
  // Ids longer than 8 characters are cut.
  EXPECT_EQ(traceExcluiArquivos(ctx, modelo, "000000429", "AB000001xyz", 7), 0);
  std::set<std::string> esperado = intocaveis;
  for (int d = 4; d <= 10; ++d) esperado.insert("CliNorva.00000042.AB000001.202612" + std::string(d < 10 ? "0" : "") +
                                                std::to_string(d) + ".dmp");
  esperado.insert("log.dmp");
  EXPECT_EQ(Nomes(dir.caminho()), esperado);
  const auto regs = Registros(Arquivo("log.dmp"));
  ASSERT_EQ(regs.size(), 3u);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(regs[static_cast<size_t>(i)].tag, "traceExcluiArquivosDaLista");
    EXPECT_EQ(regs[static_cast<size_t>(i)].rotulo, "Arquivo");
    EXPECT_EQ(ValorTexto(regs[static_cast<size_t>(i)]),
              Arquivo("CliNorva.00000042.AB000001.2026120" + std::to_string(i + 1) + ".dmp"));
  }
}

TEST_F(TraceManutencao, ArgumentosRuinsOuDiretorioIlegivel) {
  TraceCtx* ctx = Abre();
  EXPECT_EQ(traceExcluiArquivos(nullptr, "x", "1", "2", 1), -1);
  EXPECT_EQ(traceExcluiArquivos(ctx, "x", nullptr, "2", 1), -1);
  EXPECT_EQ(traceExcluiArquivos(ctx, "x", "1", nullptr, 1), -1);
  EXPECT_EQ(traceExcluiArquivos(ctx, nullptr, "1", "2", 1), -1);
  EXPECT_EQ(traceExcluiArquivos(ctx, "x", "1", "2", -1), -1);
  EXPECT_EQ(traceExcluiArquivosDaLista(ctx, nullptr, 1), -1);
  EXPECT_EQ(traceExcluiArquivosDaLista(nullptr, nullptr, 1), -1);
  TraceFecha(ctx);
  ctx = TraceAbre(12, Arquivo("naoexiste").c_str(), "t.dmp", nullptr, nullptr, 1, nullptr);
  EXPECT_EQ(traceExcluiArquivos(ctx, "t.dmp", "1", "2", 1), -1);
}

}  // namespace
