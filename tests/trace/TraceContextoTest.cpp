// Opening and closing contexts: file names, options, the key period, the mutex.
#include <cstring>
#include <string>

#include "TraceTestUtil.h"
#include "state/LibState.h"

namespace {

using namespace tracetest;
using TraceContexto = TraceTeste;

const char kModelo[] = "CliNorva.<LOJA/>.<TERM/>.<YYYY/><MM/><DD/>.dmp";

TEST_F(TraceContexto, NomeDoArquivoComLojaETerminal) {
  struct Caso {
    const char* loja;
    const char* terminal;
    const char* esperado;
  } casos[] = {
      {"00000001", "AB000001", "CliNorva.00000001.AB000001.<YYYY/><MM/><DD/>.dmp"},
      {"", "", "CliNorva.<YYYY/><MM/><DD/>.dmp"},
      {nullptr, nullptr, "CliNorva.<YYYY/><MM/><DD/>.dmp"},
      {"00000001", nullptr, "CliNorva.00000001.<YYYY/><MM/><DD/>.dmp"},
      // Ids longer than 8 characters are cut.
      {"0000000123", "AB00000199", "CliNorva.00000001.AB000001.<YYYY/><MM/><DD/>.dmp"},
  };
  for (const Caso& c : casos) {
    TraceCtx* ctx = Abre(kModelo, nullptr, c.loja, c.terminal);
    ASSERT_NE(ctx, nullptr);
    EXPECT_STREQ(ctx->arquivo, c.esperado);
    EXPECT_STREQ(ctx->modeloArquivo, kModelo);
    TraceFecha(ctx);
  }
}

TEST_F(TraceContexto, MudaLojaTerminalReconstroiDoModelo) {
  TraceCtx* ctx = Abre(kModelo, nullptr, "00000001", "AB000001");
  TraceMudaLojaTerminal(ctx, "00000002", "AB000002");
  EXPECT_STREQ(ctx->arquivo, "CliNorva.00000002.AB000002.<YYYY/><MM/><DD/>.dmp");
  EXPECT_STREQ(ctx->terminal, "AB000002");
  // Here only null means absent: an empty id leaves its dot.
  TraceMudaLojaTerminal(ctx, "", nullptr);
  EXPECT_STREQ(ctx->arquivo, "CliNorva..<YYYY/><MM/><DD/>.dmp");
  EXPECT_STREQ(ctx->terminal, "AB000002");
  TraceMudaLojaTerminal(ctx, nullptr, "");
  EXPECT_STREQ(ctx->arquivo, "CliNorva..<YYYY/><MM/><DD/>.dmp");
  EXPECT_STREQ(ctx->terminal, "");
}

TEST_F(TraceContexto, PadroesDiretorioEDescricao) {
  TraceCtx* ctx = TraceAbre(12, nullptr, nullptr, nullptr, nullptr, 1, nullptr);
  ASSERT_NE(ctx, nullptr);
  EXPECT_EQ(LibState.trace.contextoTrace, ctx);
  EXPECT_STREQ(ctx->diretorio, ".");
  EXPECT_STREQ(ctx->arquivo, "");
  EXPECT_STREQ(LibState.trace.arquivoErro, "./Erro.<YYYY/><MM/><DD/>.dmp");
  EXPECT_EQ(ctx->cache, 1);
  EXPECT_EQ(ctx->nivel, 0);
  EXPECT_EQ(ctx->tipo, 12);
  EXPECT_STREQ(ctx->validadeInicio, "");
  EXPECT_STREQ(ctx->validadeFim, "");
  TraceFecha(ctx);
  EXPECT_EQ(LibState.trace.contextoTrace, nullptr);

  ctx = TraceAbre(12, "/var/log", "CliNorva.<YYYY/><MM/><DD/>.dmp", nullptr, nullptr, 1, "Outro=1");
  EXPECT_EQ(ctx->cache, 1);
  EXPECT_EQ(ctx->nivel, 1);
  EXPECT_EQ(TraceNivel(), 1);
  char texto[300];
  TraceDescreve(ctx, texto, sizeof texto);
  EXPECT_STREQ(texto, "DiretorioTrace=/var/log,ArquivoTrace=CliNorva.<YYYY/><MM/><DD/>.dmp");
  char curto[20];
  TraceDescreve(ctx, curto, sizeof curto);
  EXPECT_STREQ(curto, "DiretorioTrace=/var");
  TraceDescreve(nullptr, texto, sizeof texto);
  EXPECT_STREQ(texto, "");
  TraceDescreve(ctx, nullptr, 10);
  TraceFecha(ctx);
  EXPECT_EQ(TraceNivel(), 0);
  EXPECT_EQ(TraceAtivo(), 0);
}

TEST_F(TraceContexto, OpcoesDaListaDeParametros) {
  TraceCtx* ctx = Abre("t.dmp", "NivelTrace=3, habilitatracecache=0,ChaveTrace=0123456789ABCDEF");
  EXPECT_EQ(ctx->cache, 0);
  EXPECT_EQ(ctx->nivel, 3);
  EXPECT_EQ(std::strlen(ctx->validadeInicio), 8u);
  EXPECT_EQ(std::strlen(ctx->validadeFim), 8u);
}

TEST_F(TraceContexto, NomesLongosSaoCortadosSemEstourarOContexto) {
  const std::string longo(300, 'd');
  TraceCtx* ctx = TraceAbre(12, longo.c_str(), (longo + "<LOJA/><TERM/>").c_str(), "12345678", "ABCDEFGH", 1,
                            nullptr);
  ASSERT_NE(ctx, nullptr);
  EXPECT_EQ(std::strlen(ctx->diretorio), TAM_NOME_TRACE);
  EXPECT_EQ(std::strlen(ctx->modeloArquivo), TAM_NOME_TRACE);
  EXPECT_EQ(std::strlen(ctx->arquivo), TAM_NOME_TRACE);
  EXPECT_LT(std::strlen(LibState.trace.arquivoErro), sizeof LibState.trace.arquivoErro);
  // A template whose ids make it grow past 128 characters is cut too.
  TraceFecha(ctx);
  const std::string macros = std::string(120, 'x') + "<LOJA/><LOJA/><LOJA/><LOJA/><LOJA/>";
  ctx = TraceAbre(12, ".", macros.c_str(), "12345678", nullptr, 1, nullptr);
  EXPECT_EQ(std::string(ctx->arquivo), (std::string(120, 'x') + "12345678").substr(0, TAM_NOME_TRACE));
}

TEST_F(TraceContexto, OMutexViveEnquantoHaContextoAberto) {
  TraceCtx* a = Abre();
  Semaforo* primeiro = LibState.trace.semaforoTrace;
  ASSERT_NE(primeiro, nullptr);
  TraceCtx* b = Abre();
  EXPECT_EQ(LibState.trace.aberturasTrace, 2);
  EXPECT_EQ(LibState.trace.semaforoTrace, primeiro);
  TraceFecha(a);
  EXPECT_NE(LibState.trace.semaforoTrace, nullptr);
  TraceFecha(b);
  EXPECT_EQ(LibState.trace.aberturasTrace, 0);
  EXPECT_EQ(LibState.trace.semaforoTrace, nullptr);
  TraceFecha(nullptr);  // harmless
  EXPECT_EQ(LibState.trace.aberturasTrace, 0);
  Abre();
  EXPECT_NE(LibState.trace.semaforoTrace, nullptr);
}

}  // namespace
