// Hand-over of a read card to the EMV library (PP_StartGetChip) after a real
// card reading against simpinpad, with and without libemv.so.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>

#include "common/TestUtil.h"
#include "emv/ApoioE2E.h"
#include "emv/stub/EmvStubControle.h"
#include "pinpad/Comandos.h"
#include "pinpad/LibEMV.h"
#include "pinpad/ParametrosChip.h"
#include "pinpad/pinpad.h"
#include "state/LibState.h"
#include "tool/Processo.h"

namespace {

using apoioe2e::Consulta;

// "GCR" input: 40 characters (a non-zero count at index 2 keeps it at 40).
const std::string entradaGcr = "0001" + std::string(36, '0');

void DefineDiretorio(const std::string& dir) {
  std::snprintf(LibState.libemv.DiretorioLibEMV, sizeof LibState.libemv.DiretorioLibEMV, "%s", dir.c_str());
}

// Every record of every trace file in the folder, as letrace prints them.
std::string TraceLido(const std::string& pasta) {
  std::vector<std::string> arquivos;
  for (const auto& e : std::filesystem::directory_iterator(pasta))
    if (e.path().extension() == ".dmp") arquivos.push_back(e.path().string());
  if (arquivos.empty()) return "";
  auto r = e2e::Executa(e2e::Programa("letrace"), arquivos, 20000);
  return r.saida;
}

class Entrega : public ::testing::Test {
 protected:
  void SetUp() override { testutil::ResetaLibState(); }
  void TearDown() override {
    PP_AtivaLibEMV(0, "{NaoExecutaPPClose=1}");
    PP_Close("");
    FinalizaLibPinPad();
    testutil::ResetaLibState();
  }
  // Opens the simulator's device in internal mode and reads a card.
  void LeCartao(e2e::Simulador& sim) {
    ASSERT_TRUE(sim.ativo());
    ASSERT_EQ(PP_Open(sim.dispositivo().c_str()), PPCOMP_OK);
    ASSERT_EQ(PP_StartGetCard(nullptr, entradaGcr.c_str()), PPCOMP_OK);
    char saida[600] = {}, msg[64] = {}, seg[8] = {};
    ASSERT_EQ(Consulta([&] { return PP_GetCard(saida, seg, msg); }), PPCOMP_OK);
    ASSERT_EQ(LibState.comandos.CartaoLido, 1);
  }
};

TEST_F(Entrega, AntesDeLerCartaoNadaMuda) {
  testutil::DiretorioTemp vazio;
  DefineDiretorio(vazio.caminho());
  auto tabela = LibState.api.TabelaFuncoes;
  EXPECT_EQ(PP_StartGetChip("a", "b"), PPCOMP_BADCALL);
  EXPECT_EQ(LibState.libemv.LibEMVAtiva, 0);
  EXPECT_EQ(LibState.api.TabelaFuncoes.StartGetChip, nullptr);
  EXPECT_NE(LibState.api.TabelaFuncoes.Open, tabela.Open);  // the first call filled the table...
  tabela = LibState.api.TabelaFuncoes;
  EXPECT_EQ(PP_StartGetChip("a", "b"), PPCOMP_BADCALL);
  EXPECT_EQ(std::memcmp(&tabela, &LibState.api.TabelaFuncoes, sizeof tabela), 0);  // ...and nothing else changes
  char msg[64] = {}, saida[64] = {};
  EXPECT_EQ(PP_GetChip(saida, nullptr, msg), PPCOMP_NOFUNC);
  EXPECT_EQ(PP_ResumeGetChip(), PPCOMP_NOFUNC);
}

// Without libemv.so the hand-over closes the internal connection, finds no
// PP_Open in EMV-library mode, and returns to internal mode with PPCOMP_NOFUNC.
TEST_F(Entrega, SemLibEMVVoltaAoModoInterno) {
  testutil::DiretorioTemp pasta;
  DefineDiretorio(pasta.caminho());  // no libemv.so there
  LibState.api.HabilitaTrace = 1;
  ASSERT_EQ(ConfiguraTracePinPad(nullptr, nullptr, 0, 0, ("DiretorioTrace=" + pasta.caminho()).c_str()), 0);
  e2e::Simulador sim;
  LeCartao(sim);
  ASSERT_EQ(LibEMVCarregada(), 0);
  EXPECT_EQ(PP_StartGetChip("a", "b"), PPCOMP_NOFUNC);
  EXPECT_EQ(LibState.libemv.LibEMVAtiva, 0);
  EXPECT_EQ(LibState.api.TabelaFuncoes.Open, TabelaComandosInternos.Open);
  EXPECT_EQ(LibState.api.TabelaFuncoes.StartGetChip, nullptr);
  EXPECT_NE(sim.log().find("CLO"), std::string::npos);
  char saida[64] = {}, msg[64] = {};
  EXPECT_EQ(PP_GetChip(saida, nullptr, msg), PPCOMP_NOFUNC);  // internal mode: no chip reading
  GeraTraceTrnOffline(1);
  std::string trace = TraceLido(pasta.caminho());
  EXPECT_NE(trace.find("Funcao ppGetChip nula"), std::string::npos);
  EXPECT_NE(trace.find("Trn aprovada offline (GoOnChip)"), std::string::npos);
  EXPECT_NE(trace.find("ppOpen retornou erro"), std::string::npos) << trace;
  EXPECT_EQ(trace.find("Funcoes nulas"), std::string::npos);
  // The internal mode works again after a new open.
  EXPECT_EQ(PP_Open(sim.dispositivo().c_str()), PPCOMP_OK);
}

TEST_F(Entrega, ComLibEMVAposLeituraReal) {
  ControleEmvStub stub;
  ASSERT_TRUE(stub.ok());
  DefineDiretorio(DiretorioEmvStub());
  e2e::Simulador sim;
  LeCartao(sim);
  ASSERT_EQ(LibEMVCarregada(), 1);
  const std::string abre = "LE_Open(4242," + sim.dispositivo() + ")\n";
  const std::string inicia = "LE_SetValue(4242,80100,e1)\nLE_SetValue(4242,80101,e2)\nLE_Execute(4242,10,1)\n";

  struct Caso {
    const char* titulo;
    const char* retornoOpen;  // LE_Open's result
    const char* execute;      // LE_Execute's results
    int32_t esperado;
    std::string registro;
  } casos[] = {
      {"LE_Open falha", "30", "", 30, abre + "LE_Close(4242,)\n"},
      {"LE_Execute falha no inicio", "0", "43", 43, abre + inicia + "LE_Close(4242,)\n"},
      {"entrega completa", "0", "1", 0, abre + inicia},
  };
  for (const Caso& c : casos) {
    stub.Reinicia();
    stub.Retorno("LE_Open", std::atoi(c.retornoOpen));
    stub.FilaExecute(c.execute);
    EXPECT_EQ(PP_StartGetChip("e1", "e2"), c.esperado) << c.titulo;
    EXPECT_EQ(stub.Registro(), c.registro) << c.titulo;
    EXPECT_EQ(LibState.libemv.LibEMVAtiva, c.esperado == 0 ? 1 : 0) << c.titulo;
  }

  // EMV-library mode now: the chip reading is polled through the library.
  stub.Reinicia();
  stub.FilaExecute("1,2,0");
  stub.Mensagem("APROXIME O CARTAO");
  stub.Valor(90100, "DADOS DO CHIP");
  char saida[64] = {}, msg[64] = {};
  EXPECT_EQ(PP_GetChip(saida, nullptr, msg), PPCOMP_PROCESSING);
  EXPECT_EQ(PP_GetChip(saida, nullptr, msg), PPCOMP_NOTIFY);
  EXPECT_STREQ(msg, "APROXIME O CARTAO");
  EXPECT_EQ(PP_GetChip(saida, nullptr, msg), PPCOMP_OK);
  EXPECT_STREQ(saida, "DADOS DO CHIP");
  EXPECT_EQ(PP_ResumeGetChip(), PPCOMP_OK);
  EXPECT_EQ(PP_ResumeGetCard(), PPCOMP_BADCALL);

  // Back to internal mode: closes through the EMV library, then the pinpad is ours again.
  stub.Reinicia();
  EXPECT_EQ(PP_AtivaLibEMV(0, ""), 0);
  EXPECT_EQ(stub.Registro(), "LE_Close(4242,)\n");
  EXPECT_EQ(PP_Open(sim.dispositivo().c_str()), PPCOMP_OK);
}

}  // namespace
