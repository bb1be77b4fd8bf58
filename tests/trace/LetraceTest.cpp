// letrace against files written by the library, damaged files and random bytes.
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "TraceTestUtil.h"
#include "trace/FormatoTrace.h"

namespace {

using namespace tracetest;
using Letrace = TraceTeste;

struct Saida {
  int status = -1;  // exit status, or -1 when killed by a signal
  std::string out, err;
};

Saida Executa(const testutil::DiretorioTemp& dir, const std::string& argumentos) {
  const std::string out = dir.arquivo("stdout"), err = dir.arquivo("stderr");
  const std::string comando =
      testutil::DiretorioProgramas() + "/letrace " + argumentos + " >" + out + " 2>" + err;
  const int r = std::system(comando.c_str());
  Saida s;
  s.status = (r != -1 && WIFEXITED(r)) ? WEXITSTATUS(r) : -1;
  s.out = testutil::LeArquivo(out);
  s.err = testutil::LeArquivo(err);
  return s;
}

std::vector<std::string> Linhas(const std::string& texto) {
  std::vector<std::string> v;
  size_t p = 0, f;
  while ((f = texto.find('\n', p)) != std::string::npos) {
    v.push_back(texto.substr(p, f - p));
    p = f + 1;
  }
  return v;
}

void EscreveExemplos() {
  const uint8_t bin[] = {0x00, 0xFF, 0x6A};
  TraceTexto("IM", "Versao", "4.0.0.3");
  TraceNumero("PP_Open", "Sts", -5);
  TraceBinario("B", "bin", bin, sizeof bin);
  TraceTexto("T", "r\"x", "Ol\xE1\n");
}

TEST_F(Letrace, ImprimeCadaRegistroEmTextoEJson) {
  FixaRelogio(Instante(2026, 12, 10, 1, 2, 3));
  Abre("t.dmp", nullptr, nullptr, "AB000001");
  EscreveExemplos();
  const std::string pid = std::to_string(getpid());

  Saida s = Executa(dir, Arquivo("t.dmp"));
  ASSERT_EQ(s.status, 0) << s.err;
  auto linhas = Linhas(s.out);
  ASSERT_EQ(linhas.size(), 4u);
  const std::string inicio = "2026-12-10 01:02:03 tipo=12 pid=" + pid + " thread=";
  for (const auto& l : linhas) EXPECT_EQ(l.rfind(inicio, 0), 0u) << l;
  auto resto = [](const std::string& l) { return l.substr(l.find(' ', l.find("thread=")) + 1); };
  EXPECT_EQ(resto(linhas[0]), "texto origem=\"AB000001\" tag=\"IM\" rotulo=\"Versao\" valor=\"4.0.0.3\"");
  EXPECT_EQ(resto(linhas[1]), "inteiro origem=\"AB000001\" tag=\"PP_Open\" rotulo=\"Sts\" valor=-5");
  EXPECT_EQ(resto(linhas[2]), "binario origem=\"AB000001\" tag=\"B\" rotulo=\"bin\" valor=00FF6A");
  EXPECT_EQ(resto(linhas[3]), "texto origem=\"AB000001\" tag=\"T\" rotulo=\"r\\\"x\" valor=\"Ol\\xE1\\x0A\"");

  s = Executa(dir, "--json " + Arquivo("t.dmp"));
  ASSERT_EQ(s.status, 0) << s.err;
  linhas = Linhas(s.out);
  ASSERT_EQ(linhas.size(), 4u);
  EXPECT_EQ(linhas[0].rfind("{\"deslocamento\":0,\"data\":\"2026-12-10\",\"hora\":\"01:02:03\",\"tipo\":12,", 0), 0u);
  EXPECT_NE(linhas[0].find("\"pid\":" + pid + ","), std::string::npos);
  EXPECT_NE(linhas[0].find(",\"especie\":\"texto\",\"origem\":\"AB000001\",\"tag\":\"IM\",\"rotulo\":\"Versao\","
                           "\"tamanho\":7,\"valor\":\"4.0.0.3\"}"),
            std::string::npos);
  EXPECT_NE(linhas[1].find("\"especie\":\"inteiro\""), std::string::npos);
  EXPECT_NE(linhas[1].find("\"valor\":-5}"), std::string::npos);
  EXPECT_NE(linhas[2].find("\"valor\":\"00FF6A\"}"), std::string::npos);
  EXPECT_NE(linhas[3].find("\"rotulo\":\"r\\\"x\""), std::string::npos);
  EXPECT_NE(linhas[3].find("\"valor\":\"Ol\xC3\xA1\\u000A\"}"), std::string::npos);
}

TEST_F(Letrace, RegistrosDanificadosSaoApontadosERetomados) {
  Abre();
  EscreveExemplos();
  const std::string bom = testutil::LeArquivo(Arquivo("trace.dmp"));
  const size_t primeiro = 50;  // the "IM"/"Versao" record
  // record, garbage, the other three records, and the first record cut short.
  const std::string danificado = bom.substr(0, primeiro) + "lixo\x6A" + bom.substr(primeiro) + bom.substr(0, 40);
  testutil::GravaArquivo(Arquivo("d.dmp"), danificado);
  const Saida s = Executa(dir, Arquivo("d.dmp") + " " + Arquivo("nao-existe.dmp"));
  EXPECT_EQ(s.status, 1);
  EXPECT_EQ(Linhas(s.out).size(), 4u);
  EXPECT_NE(s.err.find("deslocamento 50: marca de registro invalida; retomando no deslocamento 55"),
            std::string::npos)
      << s.err;
  EXPECT_NE(s.err.find("deslocamento " + std::to_string(danificado.size() - 40) +
                       ": comprimento alem do fim do arquivo; nenhum registro legivel"),
            std::string::npos)
      << s.err;
  EXPECT_NE(s.err.find("nao-existe.dmp: nao foi possivel abrir"), std::string::npos);
}

// A name that cannot be read gets its line on stderr and the files after it are
// still decoded; the status says that something failed.
TEST_F(Letrace, ArquivoIlegivelNaoImpedeOsOutros) {
  Abre();
  EscreveExemplos();
  struct Caso {
    const char* titulo;
    std::string nome;
    const char* erro;
  } casos[] = {
      {"uma pasta", dir.caminho(), "nao foi possivel ler: e uma pasta"},
      {"leitura que falha", "/proc/self/mem", "nao foi possivel ler: "},
      {"inexistente", Arquivo("nao-existe.dmp"), "nao foi possivel abrir: "},
  };
  for (const Caso& c : casos) {
    SCOPED_TRACE(c.titulo);
    const Saida s = Executa(dir, c.nome + " " + Arquivo("trace.dmp"));
    EXPECT_EQ(s.status, 1);
    EXPECT_EQ(Linhas(s.out).size(), 4u);
    const auto erros = Linhas(s.err);
    ASSERT_EQ(erros.size(), 1u) << s.err;
    EXPECT_EQ(erros[0].rfind("letrace: " + c.nome + ": " + c.erro, 0), 0u) << erros[0];
  }
}

TEST_F(Letrace, BytesAleatoriosETruncadosNuncaDerrubamOLeitor) {
  Abre();
  EscreveExemplos();
  const std::string bom = testutil::LeArquivo(Arquivo("trace.dmp"));
  std::mt19937 gerador(20261210);
  // In process, many inputs: every cut of a good file, and random bytes with
  // markers and good records spliced in.
  auto decodifica = [](const std::string& d) {
    std::span<const uint8_t> dados(reinterpret_cast<const uint8_t*>(d.data()), d.size());
    size_t pos = 0, registros = 0;
    while (pos < dados.size()) {
      RegistroLido r;
      std::string motivo;
      if (LeRegistro(dados, pos, r, motivo)) {
        FormataTexto(r);
        FormataJson(r);
        ++registros;
      } else {
        size_t prox = ProximoRegistroValido(dados, pos);
        EXPECT_GT(prox, pos);
        pos = prox;
      }
    }
    return registros;
  };
  for (size_t n = 0; n <= bom.size(); ++n) decodifica(bom.substr(0, n));
  for (int i = 0; i < 1000; ++i) {
    std::string d(gerador() % 400, '\0');
    for (auto& c : d) c = static_cast<char>(gerador() % 4 == 0 ? 0x6A : gerador());
    if (i % 3 == 0) d.insert(gerador() % (d.size() + 1), bom.substr(0, gerador() % (bom.size() + 1)));
    decodifica(d);
  }
  // And the program itself on a few such files.
  std::string aleatorio(4096, '\0');
  for (auto& c : aleatorio) c = static_cast<char>(gerador());
  testutil::GravaArquivo(Arquivo("a.dmp"), aleatorio);
  testutil::GravaArquivo(Arquivo("m.dmp"), bom.substr(0, 2) + std::string("\xFF\xFF", 2) + bom.substr(4, 60));
  const Saida s = Executa(dir, "--json " + Arquivo("a.dmp") + " " + Arquivo("m.dmp"));
  EXPECT_EQ(s.status, 1);
  EXPECT_NE(s.err.find("m.dmp: deslocamento 0: comprimento alem do fim do arquivo"), std::string::npos) << s.err;
}

TEST_F(Letrace, GeraChaveParaUmPeriodo) {
  Saida s = Executa(dir, "--gera-chave 20261201 20261231");
  ASSERT_EQ(s.status, 0) << s.err;
  ASSERT_EQ(s.out.size(), 17u);
  const std::string chave = s.out.substr(0, 16);
  TraceCtx* ctx = Abre("t.dmp", ("ChaveTrace=" + chave).c_str());
  EXPECT_STREQ(ctx->validadeInicio, "20261201");
  EXPECT_STREQ(ctx->validadeFim, "20261231");
  // Impossible dates are refused like a reversed period; 29 February only in a leap year.
  for (const char* ruim : {"20261231 20261201", "20261301 20261231", "20261201", "20260231 20260301",
                           "20260101 20260431", "20250229 20250301", "20261200 20261231", "2026120A 20261231"}) {
    s = Executa(dir, std::string("--gera-chave ") + ruim);
    EXPECT_EQ(s.status, 2) << ruim;
    EXPECT_EQ(s.out, "") << ruim;
  }
  s = Executa(dir, "--gera-chave 20240229 20240301");
  EXPECT_EQ(s.status, 0) << s.err;
  EXPECT_EQ(Executa(dir, "--opcao x").status, 2);
}

}  // namespace
