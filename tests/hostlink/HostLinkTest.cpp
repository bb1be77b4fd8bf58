// Host link mode end to end: every message leaves the library enveloped, the
// test host opens it with its own code, carries it to simpinpad over the pty
// and envelopes the answer back.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "common/TestUtil.h"
#include "emv/ApoioE2E.h"
#include "link/CifraEnlace.h"
#include "link/Enlace.h"
#include "pinpad/pinpad.h"
#include "pinpad/sc5000.h"
#include "state/LibState.h"
#include "tests/cipher/CriptoTestUtil.h"
#include "tests/hostlink/HostTeste.h"
#include "tool/Processo.h"

namespace {

const std::string kChaves[3] = {"0123456789ABCDEF", "FEDCBA9876543210", "89ABCDEF01234567"};
const std::string Blocos = "3F9A0C5E71B2D84A6E0F19C3B7D25A481122334455667788";

std::vector<std::string> Linhas(const std::string& texto) {
  std::vector<std::string> v;
  std::istringstream in(texto);
  for (std::string l; std::getline(in, l);) v.push_back(l);
  return v;
}

class HostLink : public ::testing::Test {
 protected:
  void SetUp() override {
    testutil::ResetaLibState();
    const std::string cmd = testutil::DiretorioProgramas() + "/geractl grava QXCLICTL.BIN " + kChaves[0] + " " +
                            kChaves[1] + " " + kChaves[2] + " >/dev/null 2>&1";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    log_ = dir_.dir().arquivo("host.log");
  }
  void TearDown() override {
    FinalizaLibPinPad();  // gives back what the library's start took (trace context)
    hostteste::HostComando(651, nullptr);
    testutil::ResetaLibState();
  }
  void InstalaHost(hostteste::Falha falha = hostteste::Falha::Nenhuma) {
    hostteste::Config c;
    for (int i = 0; i < 3; ++i) c.chaves[i] = kChaves[i];
    c.falha = falha;
    c.log = log_;
    hostteste::Configura(c);
    ASSERT_EQ(DefineFuncoesHost(hostteste::HostRecebe, hostteste::HostComando), 0);
  }

  // Kolvar with the host preloaded, against a fresh simpinpad.
  struct Execucao {
    e2e::Resultado r;
    std::vector<std::string> quadros;  // what the pinpad received
    std::vector<std::string> host;     // texts exchanged with the library
  };
  Execucao KolvarPeloHost(bool otimizada) {
    Execucao e;
    e2e::Simulador sim({"--teclas", "OK,OK"});
    if (!sim.ativo()) return e;
    std::string chaves = kChaves[0] + ":" + kChaves[1] + ":" + kChaves[2];
    setenv("HOSTTESTE_CHAVES", chaves.c_str(), 1);
    setenv("HOSTTESTE_LOG", log_.c_str(), 1);
    if (otimizada) {
      const std::string ini = dir_.dir().arquivo("pinpad.ini");
      testutil::GravaArquivo(ini, "[PinPad]\nCriptografiaOtimizada=1\nHabilitaTrace=0\n");
      setenv("HOSTTESTE_CONFIG", ini.c_str(), 1);
      setenv("HOSTTESTE_OTIMIZADA", "1", 1);
    }
    const std::string preload = std::string(PINPAD_LIB_DIR) + "/libhostteste.so";
    setenv("LD_PRELOAD", preload.c_str(), 1);
    const char* asan = std::getenv("ASAN_OPTIONS");
    const std::string asanAntes = asan ? asan : "";
    setenv("ASAN_OPTIONS", (asanAntes + (asanAntes.empty() ? "" : ":") + "verify_asan_link_order=0").c_str(), 1);
    e.r = e2e::Kolvar({sim.dispositivo()});
    unsetenv("LD_PRELOAD");
    setenv("ASAN_OPTIONS", asanAntes.c_str(), 1);
    for (const char* v : {"HOSTTESTE_CHAVES", "HOSTTESTE_LOG", "HOSTTESTE_CONFIG", "HOSTTESTE_OTIMIZADA"}) unsetenv(v);
    sim.Para();
    e.quadros = e2e::Quadros(sim.log());
    e.host = Linhas(testutil::LeArquivo(log_));
    return e;
  }

  // Kolvar's verdict as over the serial line, and the encryption block that
  // reached the pinpad intact.
  static void VeredictoCompativel(const Execucao& e) {
    EXPECT_EQ(e.r.status, 0) << e.r.saida << e.r.erro;
    EXPECT_NE(e.r.saida.find("Resultado: PinPad COMPATIVEL com Veltrana M4120 com criptografia 3DES"),
              std::string::npos)
        << e.r.saida;
    ASSERT_GE(e.quadros.size(), 9u);
    EXPECT_EQ(e.quadros[5], "ENB051102" + Blocos);
  }

  criptotest::NoDiretorioTemp dir_;
  std::string log_;
};

TEST_F(HostLink, KolvarFlowInCompleteForm) {
  auto e = KolvarPeloHost(false);
  ASSERT_NO_FATAL_FAILURE(VeredictoCompativel(e));
  EXPECT_EQ(e.quadros[0], "OPN");
  EXPECT_EQ(e.quadros.back(), "CLO032" + std::string(32, ' '));
  // Every text of 8 bytes or more travelled as a whole envelope, both ways.
  ASSERT_FALSE(e.host.empty());
  for (const auto& l : e.host) {
    const std::string texto = l.substr(4);
    if (texto.size() >= 8) {
      EXPECT_EQ(texto.substr(0, 16).find_first_not_of("0123456789ABCDEF"), std::string::npos) << l;
      EXPECT_EQ(texto.find("ENB"), std::string::npos) << l;
    }
  }
}

TEST_F(HostLink, KolvarFlowInOptimisedForm) {
  auto e = KolvarPeloHost(true);
  ASSERT_NO_FATAL_FAILURE(VeredictoCompativel(e));
  bool enb = false, dsp = false, respostaOtimizada = false;
  for (const auto& l : e.host) {
    if (l.rfind("653 QX:0:", 0) == 0) {
      enb = true;
      EXPECT_EQ(l.find(Blocos), std::string::npos) << l;
    }
    if (l.rfind("653 QX:DSP032", 0) == 0) dsp = true;
    if (l.rfind("654 QX:6:", 0) == 0) respostaOtimizada = true;
  }
  EXPECT_TRUE(enb);
  EXPECT_TRUE(dsp);
  EXPECT_TRUE(respostaOtimizada);
}

TEST_F(HostLink, PinpadOperationsThroughTheHost) {
  e2e::Simulador sim({"--versao", "1.06"});
  ASSERT_TRUE(sim.ativo());
  InstalaHost();
  ASSERT_EQ(PP_Open(sim.dispositivo().c_str()), PPCOMP_OK);
  char info[200] = {};
  EXPECT_EQ(PP_GetInfo("00", info), PPCOMP_OK);
  EXPECT_EQ(std::string(info).substr(60, 4), "1.06");
  EXPECT_EQ(PP_Display("HOST LINK       ENVELOPADO      "), PPCOMP_OK);
  char saida[1025] = {};
  const std::string bloco = "102" + std::string(32, '0') + "1122334455667788";
  EXPECT_EQ(PP_EncryptBuffer(bloco.c_str(), saida), PPCOMP_OK);
  EXPECT_EQ(std::string(saida).size(), 16u);
  EXPECT_EQ(PP_Close(""), PPCOMP_OK);
  auto quadros = e2e::Quadros(sim.log());
  ASSERT_GE(quadros.size(), 5u);
  EXPECT_EQ(quadros[2], "DSP032HOST LINK       ENVELOPADO      ");
  EXPECT_EQ(quadros[3], "ENB051" + bloco);
}

TEST_F(HostLink, HostFailuresGiveTheirCodes) {
  struct Caso {
    const char* titulo;
    hostteste::Falha falha;
    int32_t esperado;
  };
  const Caso casos[] = {
      {"host reports cancel", hostteste::Falha::Cancela, PPCOMP_CANCEL},
      {"host fails to send", hostteste::Falha::FalhaEnvio, PPCOMP_COMMERR},
      {"answer under other keys", hostteste::Falha::OutrasChaves, PPCOMP_QXCRIPTERR},
  };
  for (const auto& c : casos) {
    SCOPED_TRACE(c.titulo);
    e2e::Simulador sim;
    ASSERT_TRUE(sim.ativo());
    FinalizaLibPinPad();
    testutil::ResetaLibState();
    InstalaHost(c.falha);
    // The answer to "OPN" is short enough to travel unchanged: the other keys
    // show on the information block.
    int32_t r = PP_Open(sim.dispositivo().c_str());
    char info[200] = {};
    if (r == PPCOMP_OK) r = PP_GetInfo("00", info);
    EXPECT_EQ(r, c.esperado);
    hostteste::HostComando(651, nullptr);
  }
}

// Polls a Start operation until it ends (at most ~15 s).
template <typename F>
int32_t AteTerminar(F f) {
  int32_t r = PPCOMP_PROCESSING;
  for (int i = 0; i < 1500 && r == PPCOMP_PROCESSING; ++i) {
    r = f();
    if (r == PPCOMP_PROCESSING) usleep(10000);
  }
  return r;
}

// The SC5000 operations in host link mode: every text leaves enveloped under
// code 753, the host carries it in an SC5000 frame, and the pinpad's answers
// come back enveloped under 754.
TEST_F(HostLink, SC5000ThroughTheHost) {
  e2e::Simulador sim({"--sc5000", "--chave", "1=0123456789ABCDEFFEDCBA9876543210", "--teclas", "OK,CARTAO:300"});
  ASSERT_TRUE(sim.ativo());
  InstalaHost();
  ASSERT_EQ(hostteste::HostComando(650, sim.dispositivo().c_str()), 0);  // the host's own link to the pinpad

  char serie[17];
  std::memset(serie, 'x', sizeof serie);
  ASSERT_EQ(PP_SC5000_GetSerialNumber(serie), PPCOMP_OK);
  EXPECT_STREQ(serie, "SIM0000000000001");

  ASSERT_EQ(PP_SC5000_StartGetPIN("1", "1234567890123456", nullptr), PPCOMP_OK);
  char bloco[17] = {};
  ASSERT_EQ(AteTerminar([&] { return PP_SC5000_GetPIN(bloco); }), PPCOMP_OK);
  EXPECT_EQ(std::strlen(bloco), 16u);

  ASSERT_EQ(PP_StartGetCardCripto("2", "0123456789ABCDEF"), PPCOMP_OK);
  char t1[PP_SC5000_TAM_TRILHA] = {}, t2[PP_SC5000_TAM_TRILHA] = {};
  ASSERT_EQ(AteTerminar([&] { return PP_SC5000_GetCard(t1, t2); }), PPCOMP_OK);
  EXPECT_STREQ(t2, "4761739001010010=311220100000");

  // What the pinpad received are the library's texts, in their frames.
  const auto rx = apoioe2e::Quadros(sim.log(), "RX SC5000");
  ASSERT_GE(rx.size(), 4u);
  EXPECT_EQ(rx[0].substr(1, 2), "06");
  EXPECT_EQ(rx[1].substr(1, 6), "08#001");
  EXPECT_EQ(rx[2].substr(1, 4), "Z62.");
  EXPECT_EQ(rx[3].substr(1, 22), "Q42002" "0123456789ABCDEF");
  // And no SC5000 text crossed the host in clear: the PIN entry text holds the
  // card number, the card answer its tracks.
  bool envio = false, resposta = false;
  for (const auto& l : Linhas(testutil::LeArquivo(log_))) {
    envio = envio || l.rfind("753 ", 0) == 0;
    resposta = resposta || l.rfind("754 ", 0) == 0;
    EXPECT_EQ(l.find("1234567890123456"), std::string::npos) << l;
    EXPECT_EQ(l.find("4761739001010010"), std::string::npos) << l;
  }
  EXPECT_TRUE(envio);
  EXPECT_TRUE(resposta);
}

// Hostile host answers to SC5000 operations: each ends with a code, inside the
// caller's buffers.
TEST_F(HostLink, SC5000HostileHostAnswers) {
  e2e::Simulador sim({"--sc5000"});
  ASSERT_TRUE(sim.ativo());
  struct Caso {
    const char* titulo;
    std::string resposta;
    int operacao;  // 0 serial number, 1 PIN, 2 card
    int32_t esperado;
  } casos[] = {
      {"serie mais longa que qualquer buffer", "06" + std::string(1200, '9'), 0, PPCOMP_COMMERR},
      {"serie de um caractere", "0", 0, PPCOMP_COMMERR},
      {"outra resposta no lugar da serie", "71000412" + std::string(16, 'F'), 0, PPCOMP_COMMERR},
      {"senha sem bloco", "71000412", 1, PPCOMP_COMMERR},
      {"senha de tamanho zero", "7100" "00" "00" + std::string(16, 'F'), 1, PPCOMP_COMMERR},
      {"cartao sem separador", "810" + std::string(600, '4'), 2, PPCOMP_COMMERR},
      {"cartao com trilha maior que o buffer", "810" + std::string(300, '4') + "\x1C" "B4\x1C", 2, PPCOMP_COMMERR},
  };
  for (const auto& c : casos) {
    SCOPED_TRACE(c.titulo);
    FinalizaLibPinPad();
    testutil::ResetaLibState();
    InstalaHost();
    ASSERT_EQ(hostteste::HostComando(650, sim.dispositivo().c_str()), 0);
    struct {
      char dados[PP_SC5000_TAM_TRILHA];
      char guarda[8];
    } a, b;
    std::memset(&a, '#', sizeof a);
    std::memset(&b, '#', sizeof b);
    int32_t r = PPCOMP_OK;
    if (c.operacao == 1) {
      r = PP_SC5000_StartGetPIN("1", "1234567890123456", nullptr);
    } else if (c.operacao == 2) {
      r = PP_StartGetCardCripto("2", "0123456789ABCDEF");
    }
    ASSERT_EQ(r, PPCOMP_OK);
    hostteste::Config cfg;
    for (int i = 0; i < 3; ++i) cfg.chaves[i] = kChaves[i];
    cfg.log = log_;
    cfg.respostaSC5000 = c.resposta;
    hostteste::Configura(cfg);
    if (c.operacao == 0) r = PP_SC5000_GetSerialNumber(a.dados);
    if (c.operacao == 1) r = PP_SC5000_GetPIN(a.dados);
    if (c.operacao == 2) r = PP_SC5000_GetCard(a.dados, b.dados);
    EXPECT_EQ(r, c.esperado);
    EXPECT_EQ(std::string(a.guarda, 8), std::string(8, '#'));
    EXPECT_EQ(std::string(b.guarda, 8), std::string(8, '#'));
    PP_SC5000_Abort();
    hostteste::HostComando(651, nullptr);
  }
}

TEST_F(HostLink, MessageAbove1291BytesIsRefusedBeforeTheHost) {
  InstalaHost();
  const std::string a(999, 'A'), b(284, 'B');  // "GIN" + 3 + 999 + 3 + 284 = 1292 bytes
  EXPECT_EQ(PinPadEnviaComando("GIN", 999, a.data(), 284, b.data(), -1), PPCOMP_QXCRIPTERR);
  EXPECT_EQ(testutil::LeArquivo("QXCLIERR.TXT"), "TAM BUF SAIDA INV (E)");
  EXPECT_EQ(testutil::LeArquivo(log_), "");  // nothing reached the host
}

}  // namespace
