// kolvar-lote's records: every output checked before a pinpad is touched, a
// failed write reported, verdicts that tell a silent pinpad from one that
// refused, and the HTML report.
#include <sys/stat.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "common/TestUtil.h"
#include "tool/Processo.h"
#include "tools/kolvar-lote/Relatorio.h"

namespace {

bool Contem(const std::string& texto, const std::string& trecho) { return texto.find(trecho) != std::string::npos; }

size_t Conta(const std::string& texto, const std::string& trecho) {
  size_t n = 0;
  for (size_t p = texto.find(trecho); p != std::string::npos; p = texto.find(trecho, p + 1)) ++n;
  return n;
}

e2e::Resultado Lote(const std::vector<std::string>& args) { return e2e::Executa(e2e::Programa("kolvar-lote"), args); }

// Paths that cannot be written, for root too: below a regular file, a folder
// where a file is wanted, a folder of /proc.
TEST(KolvarLoteRegistros, SaidaQueNaoPodeSerGravadaEhRecusadaAntesDoPrimeiroPinpad) {
  e2e::Simulador sim({"--teclas", "OK,OK"});
  ASSERT_TRUE(sim.ativo());
  testutil::DiretorioTemp tmp;
  const std::string arquivo = tmp.arquivo("arquivo");
  testutil::GravaArquivo(arquivo, "x");
  struct Caso {
    const char* opcao;
    std::string caminho;
  } casos[] = {
      {"--saida", "/proc/self"},          {"--saida", arquivo + "/saida"},  {"--json", arquivo + "/r.json"},
      {"--junit", arquivo + "/r.xml"},    {"--html", arquivo + "/r.html"}, {"--json", tmp.caminho()},
      {"--html", "/proc/self/r.html"},
  };
  for (const auto& c : casos) {
    std::vector<std::string> args = {"--saida", tmp.arquivo("s"), c.opcao, c.caminho, sim.dispositivo()};
    auto r = Lote(args);
    EXPECT_EQ(r.status, 255) << c.opcao << " " << c.caminho << "\n" << r.saida << r.erro;
    EXPECT_TRUE(Contem(r.erro, c.caminho)) << r.erro;
    EXPECT_TRUE(Contem(r.erro, "nenhuma porta foi testada")) << r.erro;
  }
  // No Kolvar ever opened the pinpad.
  EXPECT_TRUE(e2e::Quadros(sim.log()).empty()) << sim.log();
}

TEST(KolvarLoteRegistros, GravacaoQueFalhaNoFimMudaOStatusEDiz) {
  e2e::Simulador sim({"--teclas", "OK,OK"});
  ASSERT_TRUE(sim.ativo());
  testutil::DiretorioTemp tmp;
  auto r = Lote({"--saida", tmp.arquivo("s"), "--json", tmp.arquivo("r.json"), "--html", "/dev/full",
                 sim.dispositivo()});
  EXPECT_EQ(r.status, 2) << r.saida << r.erro;
  EXPECT_TRUE(Contem(r.erro, "nao foi possivel gravar /dev/full")) << r.erro;
  EXPECT_TRUE(Contem(r.saida, "COMPATIVEL 3DES")) << r.saida;
  // The record that could be written is complete.
  EXPECT_TRUE(Contem(testutil::LeArquivo(tmp.arquivo("r.json")), "\"veredito\":\"COMPATIVEL 3DES\""));
}

// A pinpad that vanishes during the encryption step makes Kolvar print NAO
// COMPATIVEL after "Erro 31": that is a communication error, not a refusal.
// Character devices that are not terminals are not handed to Kolvar.
TEST(KolvarLoteRegistros, VereditosHonestos) {
  e2e::Simulador some({"--fecha", "6"}), recusa({"--sem-chave", "2", "--sem-chave", "8"});
  ASSERT_TRUE(some.ativo() && recusa.ativo());
  testutil::DiretorioTemp tmp;
  auto r = Lote({"--saida", tmp.arquivo("s"), "--json", tmp.arquivo("r.json"), "--junit", tmp.arquivo("r.xml"),
                 some.dispositivo(), recusa.dispositivo(), "/dev/null", "/dev/zero"});
  EXPECT_EQ(r.status, 1) << r.saida << r.erro;
  const std::string json = testutil::LeArquivo(tmp.arquivo("r.json"));
  EXPECT_TRUE(Contem(json, "\"veredito\":\"ERRO 31\",\"aprovada\":false,\"status\":31")) << json;
  EXPECT_TRUE(Contem(json, "\"veredito\":\"NAO COMPATIVEL\",\"aprovada\":false,\"status\":0")) << json;
  EXPECT_EQ(Conta(json, "\"veredito\":\"NAO E TERMINAL\",\"aprovada\":false,\"status\":null"), 2u) << json;
  const std::string xml = testutil::LeArquivo(tmp.arquivo("r.xml"));
  EXPECT_TRUE(Contem(xml, "tests=\"4\" failures=\"1\" errors=\"3\"")) << xml;
  EXPECT_TRUE(Contem(xml, "<error message=\"ERRO 31 (status 31)\" type=\"ERRO 31\"/>")) << xml;
  EXPECT_TRUE(Contem(xml, "<failure message=\"NAO COMPATIVEL (status 0)\" type=\"NAO COMPATIVEL\"/>")) << xml;
  // Kolvar's own console is left as it is.
  const std::string d = some.dispositivo();
  const std::string c1 = testutil::LeArquivo(tmp.arquivo("s/01-" + d.substr(d.rfind('/') + 1) + ".txt"));
  EXPECT_TRUE(Contem(c1, "] Erro 31 - pinpad provavelmente desconectado ou problemas com a interface serial.\n"
                         "[")) << c1;
  EXPECT_TRUE(Contem(c1, "] Resultado: PinPad NAO COMPATIVEL com Veltrana M4120\n")) << c1;
}

// ---- The HTML report ------------------------------------------------------------------

TEST(KolvarLoteHtml, TextoDoUsuarioEmUtf8ECamposDoPinpadEmLatin1) {
  struct Caso {
    const char* titulo;
    std::string entrada;
    bool latin1;
    std::string esperado;
  } casos[] = {
      {"escaped", "<a href=\"x\">&</a>", false, "&lt;a href=&quot;x&quot;&gt;&amp;&lt;/a&gt;"},
      {"UTF-8 kept", "/dev/a\xC3\xA7\xC3\xA3o", false, "/dev/a\xC3\xA7\xC3\xA3o"},
      {"invalid UTF-8 replaced", "a\xFF" "b\xC3", false, "a\xEF\xBF\xBD" "b\xEF\xBF\xBD"},
      {"overlong form replaced", "\xC0\xAF", false, "\xEF\xBF\xBD\xEF\xBF\xBD"},
      {"surrogate replaced", "\xED\xA0\x80", false, "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
      {"Latin-1 converted", "F\xC1" "BRICA n\xE3o", true, "F\xC3\x81" "BRICA n\xC3\xA3o"},
      {"control characters replaced", std::string("a\x01\x7F", 3) + "\tb\n", false,
       "a\xEF\xBF\xBD\xEF\xBF\xBD\tb\n"},
  };
  for (const auto& c : casos) EXPECT_EQ(lote::TextoHtml(c.entrada, c.latin1), c.esperado) << c.titulo;

  // In the page: the pinpad's fields and Kolvar's texts are Latin-1, the port the user's.
  lote::Porta p;
  p.porta = "/dev/a\xC3\xA7\xC3\xA3o";
  p.fabricante = "F\xC1" "BRICA";
  p.console = "[11/12/2026 10:00:00] Erro 32 - Status informado pelo pinpad n\xE3o \xE9 conhecido.\n";
  lote::Conclui(p, 32);
  const std::string h = lote::Html({p}, {});
  EXPECT_TRUE(Contem(h, "<td>/dev/a\xC3\xA7\xC3\xA3o</td><td>F\xC3\x81" "BRICA</td>")) << h;
  EXPECT_TRUE(Contem(h, "pinpad n\xC3\xA3o \xC3\xA9 conhecido.")) << h;
}

// One row per port in the page's table, the verdict's colour class, the
// pinpad's fields, a bar with a segment per phase, and the folded console and
// display texts.
TEST(KolvarLoteHtml, PaginaDeUmaBancada) {
  e2e::Simulador ok({"--teclas", "OK,OK", "--fabricante", "FABRICA & CIA"}), naoSeAplica({"--versao", "1.07"}),
      recusa({"--sem-chave", "2", "--sem-chave", "8"});
  ASSERT_TRUE(ok.ativo() && naoSeAplica.ativo() && recusa.ativo());
  testutil::DiretorioTemp tmp;
  // A port named in the user's UTF-8, and one whose name is not valid UTF-8.
  const std::string acao = tmp.arquivo("pinpad-a\xC3\xA7\xC3\xA3o");
  ASSERT_EQ(symlink(ok.dispositivo().c_str(), acao.c_str()), 0);
  const std::string invalido = tmp.arquivo("pinpad-\xFF");
  ASSERT_EQ(symlink(naoSeAplica.dispositivo().c_str(), invalido.c_str()), 0);
  auto r = Lote({"--saida", tmp.arquivo("s"), "--html", tmp.arquivo("r.html"), acao, invalido, recusa.dispositivo(),
                 tmp.arquivo("ttyNADA")});
  EXPECT_EQ(r.status, 1) << r.saida << r.erro;
  const std::string h = testutil::LeArquivo(tmp.arquivo("r.html"));
  EXPECT_EQ(h.rfind("<!DOCTYPE html>\n", 0), 0u);
  EXPECT_TRUE(Contem(h, "<meta charset=\"utf-8\">"));
  // Self-contained: nothing fetched.
  for (const char* externo : {"http:", "https:", "src=", "<link", "@import", "url("}) EXPECT_FALSE(Contem(h, externo)) << externo;
  EXPECT_EQ(Conta(h, "<tr class=\"porta\""), 4u);
  EXPECT_TRUE(Contem(h, "<tr class=\"porta\" data-veredito=\"COMPATIVEL 3DES\"><td>" +
                            lote::TextoHtml(acao, false) + "</td><td>FABRICA &amp; CIA</td><td>SIM-16X2</td>"))
      << h;
  EXPECT_TRUE(Contem(h, "pinpad-\xEF\xBF\xBD</td>")) << h;
  EXPECT_TRUE(Contem(h, "<td class=\"veredito ok\">COMPATIVEL 3DES</td>"));
  EXPECT_TRUE(Contem(h, "<td class=\"veredito falha\">NAO SE APLICA</td>"));
  EXPECT_TRUE(Contem(h, "<td class=\"veredito falha\">NAO COMPATIVEL</td>"));
  EXPECT_TRUE(Contem(h, "<td class=\"veredito erro\">ERRO 30</td>"));
  // The compatible pinpad went through every phase.
  for (const char* fase : {"abertura: ", "informacao: ", "confirmacao do operador: ", "criptografia: ",
                           "confirmacao final: "})
    EXPECT_TRUE(Contem(h, fase)) << fase;
  EXPECT_EQ(Conta(h, "<details class=\"porta\">"), 4u);
  EXPECT_TRUE(Contem(h, "] Resultado: PinPad COMPATIVEL com Veltrana M4120 com criptografia 3DES\n"));
  EXPECT_TRUE(Contem(h, "|CONFIRMA TESTE  |\n|PINPAD?         |\n"));
  EXPECT_TRUE(Contem(h, "| M4120 (3DES) OK|\n| PRESS QQ TECLA |\n"));
  EXPECT_TRUE(Contem(h, "| NAO SE APLICA  |\n| PRESS QQ TECLA |\n"));
  EXPECT_TRUE(Contem(h, "kolvar-lote 4.0.0.3; Kolvar v1.003"));
}

}  // namespace
