// A card reading, both chip steps and a PIN entry with frame tracing on (a valid
// trace key): no trace file may hold the card number, track 2 or the PIN block,
// while the caller's own outputs hold what it asked for.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "common/TestUtil.h"
#include "emv/ApoioE2E.h"
#include "pinpad/ParametrosChip.h"
#include "pinpad/pinpad.h"
#include "state/LibState.h"
#include "tool/Processo.h"

namespace {

using apoioe2e::Consulta;

const std::string pan = "5413330089010434";

std::string HexDe(const std::string& s) {
  std::string r;
  char c[3];
  for (unsigned char b : s) {
    std::snprintf(c, sizeof c, "%02X", b);
    r += c;
  }
  return r;
}

std::string Data(int dias) {
  std::time_t t = std::time(nullptr) + dias * 86400;
  std::tm tm{};
  localtime_r(&t, &tm);
  char s[16];
  std::strftime(s, sizeof s, "%Y%m%d", &tm);
  return s;
}

TEST(SemDadosCartao, NenhumArquivoDeTraceGuardaCartaoTrilhaOuSenha) {
  testutil::ResetaLibState();
  testutil::DiretorioTemp pasta;
  auto chave = e2e::Executa(e2e::Programa("letrace"), {"--gera-chave", Data(-1), Data(1)}, 10000);
  ASSERT_EQ(chave.status, 0) << chave.erro;
  std::string textoChave = chave.saida.substr(0, chave.saida.find_first_of("\r\n"));
  testutil::GravaArquivo(pasta.arquivo("pinpad.ini"), "[PinPad]\nHabilitaTrace=1\nChaveTrace=" + textoChave + "\n");
  ASSERT_EQ(DefineArquivoConfiguracao(pasta.arquivo("pinpad.ini").c_str()), PPCOMP_OK);
  CarregaConfiguracaoPinPad();
  ASSERT_EQ(ConfiguraTracePinPad(nullptr, nullptr, 0, 0, ("DiretorioTrace=" + pasta.caminho()).c_str()), 0);

  e2e::Simulador sim({"--pan", pan, "--senha", "4321", "--chave", "2=0123456789ABCDEFFEDCBA9876543210"});
  ASSERT_TRUE(sim.ativo());
  ASSERT_EQ(PP_Open(sim.dispositivo().c_str()), PPCOMP_OK);
  char msg[64], seg[8];

  char cartao[600] = {};
  ASSERT_EQ(PP_StartGetCard(nullptr, ("0001" + std::string(36, '0')).c_str()), PPCOMP_OK);
  ASSERT_EQ(Consulta([&] { return PP_GetCard(cartao, seg, msg); }), PPCOMP_OK);
  EXPECT_NE(std::string(cartao, sizeof cartao).find(pan), std::string::npos);

  // The caller asks for the card number and track 2 in both chip steps.
  char goc[TamRespostaChip] = {};
  ASSERT_EQ(PP_StartGoOnChip((std::string(83, '0') + "000").c_str(), "0025A57", nullptr), PPCOMP_OK);
  ASSERT_EQ(Consulta([&] { return PP_GoOnChip(goc, msg); }), PPCOMP_OK);
  EXPECT_NE(std::string(goc).find("5A08" + pan), std::string::npos) << goc;
  char fnc[TamRespostaChip] = {};
  ASSERT_EQ(PP_FinishChip("0000000000", "0025A57", fnc), PPCOMP_OK);
  const size_t p57 = std::string(fnc).find(pan + "D");
  ASSERT_NE(p57, std::string::npos) << fnc;
  const std::string trilha2Chip = std::string(fnc).substr(p57, 32);

  // PIN entry: method 1, key index 02, working key, account number, no messages.
  std::string gpn = "102" + std::string(32, '0') + "16" + pan + "   " + "0";
  char pin[64] = {};
  ASSERT_EQ(PP_StartGetPIN(gpn.c_str()), PPCOMP_OK);
  ASSERT_EQ(Consulta([&] { return PP_GetPIN(pin, msg); }), PPCOMP_OK);
  const std::string bloco(pin, 16);
  ASSERT_NE(bloco, std::string(16, '0'));
  PP_Close("");
  FinalizaLibPinPad();

  std::vector<std::string> arquivos;
  for (const auto& e : std::filesystem::directory_iterator(pasta.caminho()))
    if (e.path().extension() == ".dmp") arquivos.push_back(e.path().string());
  ASSERT_FALSE(arquivos.empty());
  for (const std::string& a : arquivos) {
    auto lido = e2e::Executa(e2e::Programa("letrace"), {a}, 20000);
    ASSERT_EQ(lido.status, 0) << lido.erro;
    const std::string& t = lido.saida;
    SCOPED_TRACE(a);
    EXPECT_NE(t.find("Bit55"), std::string::npos);  // the chip answers were traced, without the card data
    EXPECT_NE(t.find("RxM"), std::string::npos);    // so were the frames
    for (const std::string& proibido :
         {pan, HexDe(pan), trilha2Chip, pan + "=", HexDe(pan + "="), bloco, HexDe(bloco)}) {
      EXPECT_EQ(t.find(proibido), std::string::npos) << proibido << "\n" << t;
    }
  }
  testutil::ResetaLibState();
}

}  // namespace
