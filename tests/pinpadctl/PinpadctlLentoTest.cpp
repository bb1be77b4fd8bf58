// pinpadctl cases that wait on the link's own time limits: a pinpad that does
// not answer at all, the whole 0-99 key search, and the probe's time limit on
// a port where nothing answers.
#include <gtest/gtest.h>

#include <string>

#include "pinpadctl/Terminal.h"
#include "tool/Processo.h"

namespace {

bool Contem(const std::string& texto, const std::string& trecho) { return texto.find(trecho) != std::string::npos; }

TEST(PinpadctlLento, PinpadMudoExplicaQueAPortaAbreMasNaoResponde) {
  e2e::Simulador sim({"--sem-ack", "1000"});
  ASSERT_TRUE(sim.ativo());
  auto r = e2e::Executa(e2e::Programa("pinpadctl"), {sim.dispositivo(), "diagnostico"}, 60000);
  EXPECT_EQ(r.status, 31) << r.saida;
  EXPECT_TRUE(Contem(r.saida, "[ OK  ] porta: o dispositivo abre\n")) << r.saida;
  EXPECT_TRUE(Contem(r.saida, "[FALHA] pinpad responde: A porta abre, mas o pinpad nao responde")) << r.saida;
  EXPECT_TRUE(Contem(r.saida, "Resumo: 1 de 2 verificacoes passaram.\n")) << r.saida;
  EXPECT_TRUE(Contem(r.erro, "Erro PP_Open (31) - pinpad provavelmente desconectado")) << r.erro;
}

TEST(PinpadctlLento, BuscaDeChavesCobreOsCemIndices) {
  e2e::Simulador sim({"--chave", "0=0123456789ABCDEF", "--chave", "99=0123456789ABCDEFFEDCBA9876543210"});
  ASSERT_TRUE(sim.ativo());
  auto r = e2e::Executa(e2e::Programa("pinpadctl"), {sim.dispositivo(), "diagnostico"}, 90000);
  EXPECT_EQ(r.status, 0) << r.saida;
  EXPECT_TRUE(Contem(r.saida, "indices que cifram: 00 (3DES), 02 (3DES), 08 (3DES), 99 (3DES)\n")) << r.saida;
  int enb = 0;
  for (const auto& q : e2e::Quadros(sim.log())) enb += q.rfind("ENB", 0) == 0;
  EXPECT_EQ(enb, 4 + 96 * 2);  // an empty index is asked in both modes
}

// A port where nothing answers costs the probe its time limit, not the
// library's whole retry cycle, and gets its settings back though the probe
// was cut in the middle of an exchange.
TEST(PinpadctlLento, SondaDeUmaPortaSemRespostaParaNoLimiteEDevolveAPorta) {
  e2e::Simulador mudo({"--sem-ack", "1000"});
  ASSERT_TRUE(mudo.ativo());
  ConfiguraDiferente(mudo.dispositivo());
  const termios antes = Configuracao(mudo.dispositivo());
  auto r = e2e::Executa(e2e::Programa("pinpadctl"), {"--json", "portas", "--sonda", "--espera", "1", mudo.dispositivo()});
  EXPECT_EQ(r.status, 0) << r.saida << r.erro;
  EXPECT_GE(r.segundos, 1);
  EXPECT_LT(r.segundos, 4);  // the library alone would retry for about 6 s
  EXPECT_TRUE(Contem(r.saida, "\"sonda\":{\"resultado\":\"sem resposta\",\"pinpad\":false,\"status\":12}")) << r.saida;
  EXPECT_FALSE(e2e::Quadros(mudo.log()).empty());
  EsperaIguais(Configuracao(mudo.dispositivo()), antes, "sem resposta");
}

}  // namespace
