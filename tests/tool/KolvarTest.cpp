// Kolvar end to end: the console bytes, the exit status and the frames that
// reach the simulated pinpad.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include <unistd.h>

#include "common/TestUtil.h"

#include "tool/Processo.h"

namespace {

const std::string Banner = "Kolvar v1.003 - Compatibilidade com Veltrana M4120\n";

using e2e::Execucao;
using e2e::Kolvar;
using e2e::KolvarContraSimulador;
using e2e::SemHorario;

TEST(Kolvar, SemArgumentoMostraOUsoESai255) {
  auto r = Kolvar({});
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(r.saida, Banner + "\nForma de uso: Kolvar <Porta serial>\n" +
                         "     Exemplo: ./Kolvar \"/dev/ttyACM0\"\n");
  EXPECT_EQ(r.erro, "");
}

TEST(Kolvar, PortaQueNaoAbreDaErro30ComALinhaDaSerial) {
  auto r = Kolvar({"/nao/existe/ttyX"});
  EXPECT_EQ(r.status, 30);
  EXPECT_EQ(SemHorario(r.saida), Banner + "[TS] Iniciando teste\n" +
                                     "[TS] Erro 30 - porta serial do pinpad provavelmente ocupada.\n");
  EXPECT_EQ(r.erro, "Erro 2[No such file or directory] na abertura da /nao/existe/ttyX\n");
}

TEST(Kolvar, ArgumentoLongoEhCortadoEm256Caracteres) {
  std::string longo = "/nao/existe/" + std::string(300, 'x');
  auto r = Kolvar({longo, "ignorado"});
  EXPECT_EQ(r.status, 30);
  EXPECT_EQ(r.erro, "Erro 2[No such file or directory] na abertura da " + longo.substr(0, 256) + "\n");
}

// ---- Against simpinpad -----------------------------------------------------------

const std::string Blocos = "3F9A0C5E71B2D84A6E0F19C3B7D25A481122334455667788";
const std::string Confirma = "CONFIRMA TESTE  PINPAD?         ";
const std::string Processando = " PROCESSANDO...                 ";
const std::string Fecha = "CLO032" + std::string(32, ' ');

// The first console lines of a run whose pinpad answered "GIN": the
// information block as the simulator sent it, cut at 100 characters.
std::string Inicio(const Execucao& e, const std::string& versao) {
  std::string info;
  for (const auto& q : e2e::Quadros(e.log, "TX")) {
    if (q.rfind("GIN000", 0) == 0) info = q.substr(9);
  }
  EXPECT_EQ(info.size() >= 64 ? info.substr(60, 4) : info, versao);
  return Banner + "[TS] Iniciando teste\n[TS] PinPad: [" + info.substr(0, 100) + "]\n";
}

TEST(KolvarSimulador, Versao106Confirmada3DesAceitaETeclaOk) {
  auto e = KolvarContraSimulador({"--versao", "1.06", "--teclas", "OK,OK"});
  EXPECT_EQ(e.r.status, 0);
  EXPECT_EQ(SemHorario(e.r.saida),
            Inicio(e, "1.06") + "[TS] Confirme a operacao no pinpad\n[TS] Processando...\n" +
                "[TS] Resultado: PinPad COMPATIVEL com Veltrana M4120 com criptografia 3DES\n" +
                "[TS] Finalize a operacao no pinpad\n");
  EXPECT_EQ(e.r.erro, "");
  std::vector<std::string> esperados = {"OPN",
                                        "GIN00200",
                                        "DSP032" + Confirma,
                                        "GKY",
                                        "DSP032" + Processando,
                                        "ENB051102" + Blocos,
                                        "DSP032 M4120 (3DES) OK PRESS QQ TECLA ",
                                        "GKY",
                                        Fecha};
  EXPECT_EQ(e.quadros, esperados);
}

TEST(KolvarSimulador, TeclaF1AposO3DesLevaAoDes) {
  auto e = KolvarContraSimulador({"--teclas", "OK,F1,OK"});
  EXPECT_EQ(e.r.status, 0);
  EXPECT_EQ(SemHorario(e.r.saida),
            Inicio(e, "1.06") + "[TS] Confirme a operacao no pinpad\n[TS] Processando...\n" +
                "[TS] Resultado: PinPad COMPATIVEL com Veltrana M4120 com criptografia 3DES\n" +
                "[TS] Finalize a operacao no pinpad\n[TS] Processando...\n" +
                "[TS] Resultado: PinPad COMPATIVEL com Veltrana M4120 com criptografia DES\n" +
                "[TS] Finalize a operacao no pinpad\n");
  ASSERT_GE(e.quadros.size(), 12u);
  EXPECT_EQ(e.quadros[5], "ENB051102" + Blocos);
  EXPECT_EQ(e.quadros[9], "ENB051008" + Blocos);
  // The 31-character DES text is blank-padded to 32 by PP_Display.
  EXPECT_EQ(e.quadros[10], "DSP032 M4120 (DES) OK PRESS QQ TECLA  ");
  EXPECT_EQ(e.quadros.back(), Fecha);
}

TEST(KolvarSimulador, AmbasRecusadasMostramErro11ENaoCompativel) {
  auto e = KolvarContraSimulador({"--sem-chave", "2", "--sem-chave", "8", "--teclas", "OK,CANCEL"});
  // The result is the operator's key after the verdict: cancel.
  EXPECT_EQ(e.r.status, 13);
  EXPECT_EQ(SemHorario(e.r.saida),
            Inicio(e, "1.06") + "[TS] Confirme a operacao no pinpad\n[TS] Processando...\n" +
                "[TS] Processando...\n[TS] Erro 11 - Parametro invalido passado a funcao.\n" +
                "[TS] Resultado: PinPad NAO COMPATIVEL com Veltrana M4120\n" +
                "[TS] Finalize a operacao no pinpad\n");
  // The verdict is the last text shown before the (blank) closing message.
  std::string ultimo;
  for (const auto& d : e.displays) {
    if (d != std::string(32, ' ')) ultimo = d;
  }
  EXPECT_EQ(ultimo, " M4120 NAO OK    PRESS QQ TECLA ");
}

TEST(KolvarSimulador, ConfirmacaoCanceladaNaoEnviaEnb) {
  auto e = KolvarContraSimulador({"--teclas", "CANCEL"});
  EXPECT_EQ(e.r.status, 0);
  EXPECT_EQ(SemHorario(e.r.saida),
            Inicio(e, "1.06") + "[TS] Confirme a operacao no pinpad\n[TS] Teste cancelado pelo operador\n");
  std::vector<std::string> esperados = {"OPN", "GIN00200", "DSP032" + Confirma, "GKY", Fecha};
  EXPECT_EQ(e.quadros, esperados);
}

TEST(KolvarSimulador, Versao107NaoSeAplicaEmDuasLinhas) {
  struct Caso {
    const char* versao;
    const char* tecla;
    int status;
    const char* fim;
  } casos[] = {
      {"1.07", "OK", 0, ""},
      {"2.00", "CANCEL", 13, "[TS] Teste cancelado pelo operador\n"},
      {"1.10", "F1", 4, "[TS] Erro PP_GetKey (4) - PPCOMP_F1\n"},
  };
  for (const auto& c : casos) {
    auto e = KolvarContraSimulador({"--versao", c.versao, "--teclas", c.tecla});
    EXPECT_EQ(e.r.status, c.status) << c.versao;
    EXPECT_EQ(SemHorario(e.r.saida),
              Inicio(e, c.versao) + "[TS] Resultado: Teste nao se aplica. Pinpad (" + c.versao +
                  ") usado na homologacao Veltrana M4120.\n[TS] Finalize a operacao no pinpad.\n" + c.fim)
        << c.versao;
    std::vector<std::string> esperados = {"OPN", "GIN00200", "DSP032 NAO SE APLICA   PRESS QQ TECLA ", "GKY",
                                          Fecha};
    EXPECT_EQ(e.quadros, esperados) << c.versao;
  }
}

TEST(KolvarSimulador, BlocoDeInformacaoLongoMostraSo100Caracteres) {
  auto e = KolvarContraSimulador({"--tam-info", "150", "--teclas", "CANCEL"});
  auto inicio = e.r.saida.find("PinPad: [");
  ASSERT_NE(inicio, std::string::npos);
  inicio += 9;
  auto fim = e.r.saida.find("]\n", inicio);
  ASSERT_NE(fim, std::string::npos);
  EXPECT_EQ(fim - inicio, 100u);
}

TEST(KolvarSimulador, GetInfoFalhandoSegueParaAConfirmacao) {
  // GIN refused three times: no PinPad line, the zeroed block counts as older than 1.07.
  auto e = KolvarContraSimulador({"--nak", "3@GIN", "--teclas", "CANCEL"});
  EXPECT_EQ(e.r.status, 0);
  EXPECT_EQ(SemHorario(e.r.saida), Banner + "[TS] Iniciando teste\n[TS] Confirme a operacao no pinpad\n" +
                                       "[TS] Teste cancelado pelo operador\n");
}

// ---- Faults through the whole stack ----------------------------------------------

TEST(KolvarFalhas, FalhasNoEnlaceTerminamComOCodigoCerto) {
  struct Caso {
    std::vector<std::string> opcoes;
    int status;
    const char* contem;
  } casos[] = {
      // OPN rejected three times: PP_Open fails with 31.
      {{"--nak", "3@OPN"}, 31, "[TS] Erro 31 - pinpad provavelmente desconectado"},
      // Two damaged answers are asked again and the check still passes.
      {{"--crc-errado", "2@ENB", "--teclas", "OK,OK"}, 0, "criptografia 3DES\n"},
      // A 3DES answer cut in the middle fails silently: the DES check reports.
      {{"--corta", "1@ENB", "--teclas", "OK,OK"}, 0, "[TS] Processando...\n[TS] Processando...\n"},
      // Garbage before an answer is dropped.
      {{"--lixo", "2", "--teclas", "OK,OK"}, 0, "criptografia 3DES\n"},
  };
  for (const auto& c : casos) {
    auto e = KolvarContraSimulador(c.opcoes);
    EXPECT_EQ(e.r.status, c.status) << c.opcoes[0];
    EXPECT_NE(SemHorario(e.r.saida).find(c.contem), std::string::npos) << c.opcoes[0] << "\n" << e.r.saida;
  }
}

TEST(KolvarFalhas, DispositivoSomeDuranteAEsperaDaTecla) {
  e2e::Simulador sim({"--versao", "1.07", "--tecla-padrao", "NENHUMA"});
  ASSERT_TRUE(sim.ativo());
  // Stop the simulator once the key wait has started.
  std::thread parador([&] {
    auto limite = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < limite) {
      auto q = e2e::Quadros(sim.log());
      if (!q.empty() && q.back() == "GKY") break;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    sim.Para();
  });
  auto r = Kolvar({sim.dispositivo()}, 60000);
  parador.join();
  EXPECT_EQ(r.status, 31);
  EXPECT_NE(SemHorario(r.saida).find("[TS] Erro PP_GetKey (31) - pinpad provavelmente desconectado"),
            std::string::npos)
      << r.saida;
  EXPECT_LT(r.segundos, 30.0);
}

// The pinpad is unplugged during a run (at its information command) and comes
// back on the same path: that run fails, the next one passes against the
// replugged device.
TEST(KolvarSimulador, PassaContraOPinpadReconectado) {
  testutil::DiretorioTemp dir;
  const std::string caminho = dir.arquivo("pinpad");
  e2e::Simulador sim({"--link", caminho, "--some", "2", "--volta", "300", "--teclas", "OK,OK"});
  ASSERT_TRUE(sim.ativo()) << sim.saida();
  auto primeira = Kolvar({caminho});
  EXPECT_EQ(SemHorario(primeira.saida).find("COMPATIVEL"), std::string::npos);
  bool voltou = false;
  for (int i = 0; i < 1000 && !voltou; ++i) {
    voltou = access(caminho.c_str(), F_OK) == 0;
    if (!voltou) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ASSERT_TRUE(voltou);
  auto segunda = Kolvar({caminho});
  EXPECT_EQ(segunda.status, 0) << segunda.saida << segunda.erro;
  EXPECT_NE(segunda.saida.find("PinPad COMPATIVEL com Veltrana M4120 com criptografia 3DES"), std::string::npos)
      << segunda.saida;
  EXPECT_EQ(segunda.erro, "");
}

}  // namespace
