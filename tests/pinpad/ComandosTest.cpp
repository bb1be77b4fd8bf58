// The command set against simpinpad: the payload of every PP_* operation on the
// wire, the copies into the caller's buffers, polling, notifications and abort.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "common/TestUtil.h"
#include "pinpad/pinpad.h"
#include "state/LibState.h"
#include "tool/Processo.h"

namespace {

using Relogio = std::chrono::steady_clock;

class Comandos : public ::testing::Test {
 protected:
  void Inicia(const std::vector<std::string>& opcoes = {}) {
    testutil::ResetaLibState();
    sim_ = std::make_unique<e2e::Simulador>(opcoes);
    ASSERT_TRUE(sim_->ativo()) << sim_->saida();
    ASSERT_EQ(PP_Open(sim_->dispositivo().c_str()), PPCOMP_OK);
  }
  void TearDown() override {
    FinalizaLibPinPad();  // closes the pinpad and the library's trace
    sim_.reset();
    testutil::ResetaLibState();
  }
  // Payloads the library sent after "OPN".
  std::vector<std::string> Enviados() {
    auto q = e2e::Quadros(sim_->log());
    if (!q.empty() && q.front() == "OPN") q.erase(q.begin());
    return q;
  }
  std::string Ultimo() {
    auto q = Enviados();
    return q.empty() ? "" : q.back();
  }

  std::unique_ptr<e2e::Simulador> sim_;
};

std::string Campo(const std::string& dados) {
  char n[4];
  std::snprintf(n, sizeof n, "%03zu", dados.size());
  return n + dados;
}

TEST_F(Comandos, DisplayCompletaECortaEm32) {
  Inicia();
  EXPECT_EQ(PP_Display(""), PPCOMP_OK);
  EXPECT_EQ(Ultimo(), "DSP032" + std::string(32, ' '));
  std::string quarenta = "0123456789ABCDEFGHIJ0123456789abcdefghij";
  EXPECT_EQ(PP_Display(quarenta.c_str()), PPCOMP_OK);
  EXPECT_EQ(Ultimo(), "DSP032" + quarenta.substr(0, 32));
  EXPECT_EQ(PP_DisplayEx("005ABCDEzz"), PPCOMP_OK);
  EXPECT_EQ(Ultimo(), "DEX008005ABCDE");
}

TEST_F(Comandos, GetInfoCopiaExatamenteOCampo) {
  Inicia({"--tam-info", "100"});
  char saida[300];
  std::memset(saida, 'X', sizeof saida);
  EXPECT_EQ(PP_GetInfo("00", saida), PPCOMP_OK);
  EXPECT_EQ(Ultimo(), "GIN00200");
  EXPECT_NE(saida[99], 'X');
  EXPECT_EQ(std::string(saida + 100, 200), std::string(200, 'X'));  // no terminator added
}

TEST_F(Comandos, EncryptBufferEnviaO51EDevolve16) {
  Inicia();
  std::string bloco = "102" "3F9A0C5E71B2D84A6E0F19C3B7D25A48" "1122334455667788";
  char saida[20];
  std::memset(saida, 'X', sizeof saida);
  EXPECT_EQ(PP_EncryptBuffer(bloco.c_str(), saida), PPCOMP_OK);
  EXPECT_EQ(Ultimo(), "ENB051" + bloco);
  EXPECT_EQ(std::string(saida, 20), "2CEFD8CF1F1CF0C6XXXX");
}

// Requests whose length comes from the caller's counts: the payload holds
// exactly the computed number of bytes, whatever follows in the block.
TEST_F(Comandos, TamanhosCalculadosDosContadores) {
  Inicia({"--tecla-padrao", "NENHUMA"});
  char saida[1100] = {};
  std::string pin(57, '0');
  pin[56] = '2';
  pin += std::string(72, 'P') + "LIXO";
  EXPECT_EQ(PP_StartGetPIN(pin.c_str()), PPCOMP_OK);
  EXPECT_EQ(Ultimo(), "GPN" + Campo(pin.substr(0, 129)));
  PP_Abort();

  std::string cartao(40, '1');
  cartao.replace(2, 2, "00");
  cartao.replace(38, 2, "03");
  cartao += std::string(12, 'C') + "0" + "LIXO";
  EXPECT_EQ(PP_StartGetCard(nullptr, cartao.c_str()), PPCOMP_OK);
  EXPECT_EQ(Ultimo(), "GCR" + Campo(cartao.substr(0, 53)));
  PP_Abort();
  cartao[52] = '9';
  EXPECT_EQ(PP_StartGetCard(nullptr, cartao.c_str()), PPCOMP_OK);
  EXPECT_EQ(Ultimo(), "GCR" + Campo(cartao.substr(0, 52)));
  PP_Abort();

  std::string goc = std::string(83, 'G') + "004" + "ABCD" + "LIXO";
  EXPECT_EQ(PP_StartGoOnChip(goc.c_str(), "0029F26zz", "0019Azz"), PPCOMP_OK);
  // The optional list goes down extended with the fixed chip tags the caller did not list.
  EXPECT_EQ(Ultimo(), "GOC" + Campo(goc.substr(0, 90)) + Campo("0029F26") +
                          Campo("0249A8C8D8F959B9F0D9F0E9F0F9F1B9F279F339F349F359F40"));
  PP_Abort();

  std::string fnc = "1234" "002" "AABB" "001" "CC" "LIXO";
  PP_FinishChip(fnc.c_str(), "0019Fzz", saida);
  EXPECT_EQ(Ultimo(), "FNC" + Campo(fnc.substr(0, 16)) +
                          Campo("0269F8C8D8F959B9F0D9F0E9F0F9F1B9F269F279F339F349F359F40"));

  PP_StartGenericCmd("AB003xyzLIXO");
  EXPECT_EQ(Ultimo(), "GEN" + Campo("AB003xyz"));
  PP_Abort();

  std::string chp = "13002AABB" + std::string(33, 'K');  // a '3' adds 33 bytes
  std::string chpLongo = chp + "LIXO";
  PP_ChipDirect(chpLongo.c_str(), saida);
  EXPECT_EQ(Ultimo(), "CHP" + Campo(chp));
  PP_ChipDirect("01002AABBLIXO", saida);
  EXPECT_EQ(Ultimo(), "CHP" + Campo("01002AABB"));

  PP_ChangeParameter("02AABBLIXO");
  EXPECT_EQ(Ultimo(), "CNG" + Campo("02AABB"));

  std::string tabela = "02" "005AB" "007CDEF" "LIXO";
  PP_TableLoadInit("0123456789ABLIXO");
  EXPECT_EQ(Ultimo(), "TLI" + Campo("0123456789AB"));
  PP_TableLoadRec(tabela.c_str());
  EXPECT_EQ(Ultimo(), "TLR" + Campo("02005AB007CDEF"));
  PP_TableLoadEnd();
  EXPECT_EQ(Ultimo(), "TLE");

  std::string wk1 = "1" + std::string(35, 'W') + "LIXO";
  PP_DefineWKPAN(wk1.c_str(), saida);
  EXPECT_EQ(Ultimo(), "DWK" + Campo(wk1.substr(0, 36)));
  std::string wk2 = "2" + std::string(262, 'W') + "LIXO";
  PP_DefineWKPAN(wk2.c_str(), saida);
  EXPECT_EQ(Ultimo(), "DWK" + Campo(wk2.substr(0, 263)));

  PP_GetTimeStamp("01LIXO", saida);
  EXPECT_EQ(Ultimo(), "GTS" + Campo("01"));
  PP_GetDUKPT("123LIXO", saida);
  EXPECT_EQ(Ultimo(), "GDU" + Campo("123"));
  PP_StartCheckEvent("011LIXO");
  EXPECT_EQ(Ultimo(), "CKE" + Campo("011"));
  PP_Abort();
  PP_StartRemoveCard("RETIRE");
  EXPECT_EQ(Ultimo(), "RMC032RETIRE" + std::string(26, ' '));
  PP_Abort();
  PP_ResumeGetCard();
  EXPECT_EQ(Ultimo(), "GCR");
}

TEST_F(Comandos, CampoAcimaDe999NaoEhEnviado) {
  Inicia();
  auto antes = Enviados().size();
  // 2 + 9 x 999-byte records: refused before anything goes out.
  std::string tabela = "09";
  for (int i = 0; i < 9; ++i) tabela += "999" + std::string(996, 'x');
  EXPECT_EQ(PP_TableLoadRec(tabela.c_str()), PPCOMP_BADPARAM);
  EXPECT_EQ(PP_DisplayEx("999"), PPCOMP_BADPARAM);  // 1002 bytes
  EXPECT_EQ(Enviados().size(), antes);
}

TEST_F(Comandos, ConsultaSemRespostaDevolveProcessandoSemEsperar) {
  Inicia({"--atraso-tecla", "1500", "--teclas", "F2"});
  EXPECT_EQ(PP_StartGetKey(), PPCOMP_OK);
  auto t0 = Relogio::now();
  EXPECT_EQ(PP_GetKey(), PPCOMP_PROCESSING);
  EXPECT_LT(std::chrono::duration<double>(Relogio::now() - t0).count(), 1.0);
  int32_t r;
  do {
    r = PP_GetKey();
  } while (r == PPCOMP_PROCESSING);
  EXPECT_EQ(r, PPCOMP_F2);
}

TEST_F(Comandos, NotificacaoVaiParaAMensagemComBrancos) {
  Inicia({"--tecla-padrao", "NENHUMA"});
  // Method 0, key index 08, no working key, a 16-digit card number, no extra entries.
  std::string pin = "008" + std::string(32, '0') + "16" "4761739001010010";
  pin.resize(57, '0');
  ASSERT_EQ(PP_StartGetPIN(pin.c_str()), PPCOMP_OK);
  char saida[64], mensagem[40];
  std::memset(mensagem, '#', sizeof mensagem);
  int32_t r;
  auto limite = Relogio::now() + std::chrono::seconds(10);
  do {
    r = PP_GetPIN(saida, mensagem);
  } while (r == PPCOMP_PROCESSING && Relogio::now() < limite);
  ASSERT_EQ(r, PPCOMP_NOTIFY);
  std::string texto = "DIGITE A SENHA";
  EXPECT_EQ(std::string(mensagem, 33), texto + std::string(32 - texto.size(), ' ') + "#");
  EXPECT_EQ(PP_Abort(), PPCOMP_OK);
}

TEST_F(Comandos, AbortEnviaCanSoComComandoPendente) {
  Inicia({"--tecla-padrao", "NENHUMA"});
  EXPECT_EQ(PP_Display("x"), PPCOMP_OK);
  EXPECT_EQ(PP_Abort(), PPCOMP_OK);  // after a blocking command: nothing
  EXPECT_EQ(e2e::ContaEventos(sim_->log(), "RX", "CAN"), 0);
  EXPECT_EQ(PP_StartGetKey(), PPCOMP_OK);
  auto t0 = Relogio::now();
  EXPECT_EQ(PP_Abort(), PPCOMP_OK);
  EXPECT_LT(std::chrono::duration<double>(Relogio::now() - t0).count(), 2.0);  // EOT came at once
  std::string log = sim_->log();
  EXPECT_EQ(e2e::ContaEventos(log, "RX", "CAN"), 1);
  EXPECT_EQ(e2e::ContaEventos(log, "TX", "EOT"), 1);
  EXPECT_EQ(PP_Display("depois"), PPCOMP_OK);  // the pinpad is idle again
}

TEST_F(Comandos, SemImplementacaoNadaEhEnviado) {
  Inicia();
  char saida[64] = {};
  auto antes = Enviados().size();
  EXPECT_EQ(PP_ConfigProcess("x"), PPCOMP_NOFUNC);
  EXPECT_EQ(PP_GetTLV("x", saida), PPCOMP_NOFUNC);
  EXPECT_EQ(PP_TableLoadRecEx("01005AB", "TipoSlot=2"), PPCOMP_OK);
  EXPECT_EQ(PP_TableLoadRecEx("01005AB", "TipoSlot=0"), PPCOMP_OK);
  EXPECT_EQ(Enviados().size(), antes);
  PP_TableLoadRecEx("01005AB", nullptr);
  EXPECT_EQ(Ultimo(), "TLR" + Campo("01005AB"));
}

TEST_F(Comandos, CloseEnviaBrancosEFechaAPorta) {
  Inicia();
  EXPECT_EQ(PP_Close(""), PPCOMP_OK);
  EXPECT_EQ(Ultimo(), "CLO032" + std::string(32, ' '));
  EXPECT_EQ(PP_Display("x"), PPCOMP_NOTOPEN);
}

}  // namespace
