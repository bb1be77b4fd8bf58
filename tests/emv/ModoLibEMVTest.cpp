// The PP_* operations in EMV-library mode against the stand-in libemv.so, and the
// mode switch. No pinpad is involved: the stand-in answers for the library.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "common/TestUtil.h"
#include "emv/stub/EmvStubControle.h"
#include "pinpad/LibEMV.h"
#include "pinpad/ParametrosChip.h"
#include "pinpad/pinpad.h"
#include "state/LibState.h"
#include "tools/letrace/DecodificaTrace.h"

namespace {

class ModoLibEMV : public ::testing::Test {
 protected:
  void SetUp() override {
    testutil::ResetaLibState();
    std::snprintf(LibState.libemv.DiretorioLibEMV, sizeof LibState.libemv.DiretorioLibEMV, "%s",
                  DiretorioEmvStub().c_str());
    ASSERT_TRUE(stub.ok());
  }
  void TearDown() override {
    FinalizaLibPinPad();  // unloads the stand-in and closes the trace context
    testutil::ResetaLibState();
  }
  // Enters EMV-library mode (the first call loads the stand-in) with a clean log.
  void EntraModoLibEMV() {
    ASSERT_EQ(PP_AtivaLibEMV(1, "{NaoExecutaPPClose=1}"), 0);
    ASSERT_EQ(LibEMVCarregada(), 1);
    ASSERT_EQ(LibState.libemv.LibEMVAtiva, 1);
    stub.Reinicia();
  }
  ControleEmvStub stub;
};

const std::string fixos = TagsFixosChip;

std::string HexDe(const std::vector<uint8_t>& v) {
  std::string r;
  char c[3];
  for (uint8_t b : v) {
    std::snprintf(c, sizeof c, "%02X", b);
    r += c;
  }
  return r;
}

// Every operation goes to its own LE_* function with the value identifiers of
// its operation number; the four without a counterpart answer 18 and call nothing.
TEST_F(ModoLibEMV, CadaOperacaoChamaSuaFuncao) {
  EntraModoLibEMV();
  char saida[TamRespostaChip] = {}, msg[64] = {}, seg[8] = {};
  struct Caso {
    const char* titulo;
    std::function<int32_t()> chama;
    int32_t esperado;
    std::string registro;
  };
  const Caso casos[] = {
      {"Open", [] { return PP_Open("/dev/x"); }, 0, "LE_Open(4242,/dev/x)\n"},
      {"GetInfo", [&] { return PP_GetInfo("00", saida); }, 0, "LE_GetInfo(4242,00)\n"},
      {"Display", [] { return PP_Display("OLA"); }, 0, "LE_ShowMessage(4242,OLA)\n"},
      {"DisplayEx", [] { return PP_DisplayEx("003OLA"); }, 0, "LE_ShowMessageEx(4242,003OLA)\n"},
      {"StartGetKey", [] { return PP_StartGetKey(); }, 0, "LE_Execute(4242,7,1)\n"},
      {"GetKey", [] { return PP_GetKey(); }, 0, "LE_Execute(4242,7,1)\n"},
      {"StartGetPIN", [] { return PP_StartGetPIN("pin"); }, 0, "LE_SetValue(4242,80060,pin)\nLE_Execute(4242,6,1)\n"},
      {"GetPIN", [&] { return PP_GetPIN(saida, msg); }, 0, "LE_Execute(4242,6,1)\nLE_GetValue(4242,90060)\n"},
      {"StartCheckEvent", [] { return PP_StartCheckEvent("011"); }, 0,
       "LE_SetValue(4242,80050,011)\nLE_Execute(4242,5,1)\n"},
      {"CheckEvent", [&] { return PP_CheckEvent(saida); }, 0, "LE_Execute(4242,5,1)\nLE_GetValue(4242,90050)\n"},
      {"StartRemoveCard", [] { return PP_StartRemoveCard("RETIRE"); }, 0,
       "LE_SetValue(4242,80040,RETIRE)\nLE_Execute(4242,4,1)\n"},
      {"RemoveCard", [&] { return PP_RemoveCard(msg); }, 0, "LE_Execute(4242,4,1)\n"},
      {"StartGetCard", [] { return PP_StartGetCard("a", "b"); }, 0,
       "LE_SetValue(4242,80010,a)\nLE_SetValue(4242,80011,b)\nLE_Execute(4242,1,1)\n"},
      {"GetCard", [&] { return PP_GetCard(saida, seg, msg); }, 0, "LE_Execute(4242,1,1)\nLE_GetValue(4242,90010)\n"},
      {"StartGoOnChip", [] { return PP_StartGoOnChip("e", "0029F26", nullptr); }, 0,
       "LE_SetValue(4242,80020,e)\nLE_SetValue(4242,80021,0029F26)\n"
       "LE_SetValue(4242,80022,023" + fixos.substr(0, 26) + fixos.substr(30) + ")\nLE_Execute(4242,2,1)\n"},
      {"GoOnChip", [&] { return PP_GoOnChip(saida, msg); }, 0, "LE_Execute(4242,2,1)\nLE_GetValue(4242,90020)\n"},
      {"FinishChip", [&] { return PP_FinishChip("f", nullptr, saida); }, 0,
       "LE_SetValue(4242,80030,f)\nLE_SetValue(4242,80031,025" + fixos +
           ")\nLE_Execute(4242,3,1)\nLE_GetValue(4242,90030)\n"},
      {"StartGenericCmd", [] { return PP_StartGenericCmd("gen"); }, 0,
       "LE_SetValue(4242,80080,gen)\nLE_Execute(4242,8,1)\n"},
      {"GenericCmd", [&] { return PP_GenericCmd(saida, msg); }, 0, "LE_Execute(4242,8,1)\nLE_GetValue(4242,90080)\n"},
      {"GetChip", [&] { return PP_GetChip(saida, seg, msg); }, 0, "LE_Execute(4242,10,1)\nLE_GetValue(4242,90080)\n"},
      {"Abort", [] { return PP_Abort(); }, 0, "LE_Execute(4242,8,0)\n"},
      {"TableLoadInit", [] { return PP_TableLoadInit("ini"); }, 0, "LE_TabEMVInit(4242,ini)\n"},
      {"TableLoadRec", [] { return PP_TableLoadRec("rec"); }, 0, "LE_TabEMVRec(4242,rec)\n"},
      {"TableLoadEnd", [] { return PP_TableLoadEnd(); }, 0, "LE_TabEMVEnd(4242)\n"},
      {"GetTimeStamp", [&] { return PP_GetTimeStamp("01", saida); }, 0, "LE_TabEMVTimeStamp(4242,01)\n"},
      {"ChangeParameter", [] { return PP_ChangeParameter("cng"); }, 0, "LE_TabEMVSetParam(4242,cng)\n"},
      {"ConfigProcess", [] { return PP_ConfigProcess("cfg"); }, 0, "LE_ConfigProcess(4242,cfg)\n"},
      {"GetTLV", [&] { return PP_GetTLV("tlv", saida); }, 0, "LE_GetTLV(4242,tlv)\n"},
      {"EncryptBuffer", [&] { return PP_EncryptBuffer("x", saida); }, PPCOMP_NOFUNC, ""},
      {"GetDUKPT", [&] { return PP_GetDUKPT("x", saida); }, PPCOMP_NOFUNC, ""},
      {"DefineWKPAN", [&] { return PP_DefineWKPAN("x", saida); }, PPCOMP_NOFUNC, ""},
      {"ChipDirect", [&] { return PP_ChipDirect("x", saida); }, PPCOMP_NOFUNC, ""},
      {"StartGetChip em modo LibEMV", [] { return PP_StartGetChip("a", "b"); }, PPCOMP_BADCALL, ""},
      {"Close", [] { return PP_Close("ATE LOGO"); }, 0, "LE_Close(4242,ATE LOGO)\n"},
  };
  for (const Caso& c : casos) {
    stub.Reinicia();
    EXPECT_EQ(c.chama(), c.esperado) << c.titulo;
    EXPECT_EQ(stub.Registro(), c.registro) << c.titulo;
  }
}

TEST_F(ModoLibEMV, ResultadosDoExecuteNoInicioENaConsulta) {
  EntraModoLibEMV();
  stub.FilaExecute("1,1,2,0");
  stub.Mensagem("DIGITE A SENHA");
  stub.Valor(90060, "BLOCO");
  char saida[64] = {}, msg[64] = {};
  EXPECT_EQ(PP_StartGetPIN("pin"), PPCOMP_OK);              // 1 on a start: started
  EXPECT_EQ(PP_GetPIN(saida, msg), PPCOMP_PROCESSING);      // 1 on a poll: still processing
  EXPECT_EQ(PP_GetPIN(saida, msg), PPCOMP_NOTIFY);          // 2: the message is fetched
  EXPECT_STREQ(msg, "DIGITE A SENHA");
  EXPECT_EQ(PP_GetPIN(saida, msg), PPCOMP_OK);
  EXPECT_STREQ(saida, "BLOCO");

  stub.FilaExecute("43");
  EXPECT_EQ(PP_StartGetCard("a", "b"), 43);  // errors pass through unchanged
}

TEST_F(ModoLibEMV, ResumeDependeDaUltimaOperacaoIniciada) {
  EntraModoLibEMV();
  EXPECT_EQ(PP_StartGetCard("a", "b"), 0);
  EXPECT_EQ(PP_ResumeGetCard(), PPCOMP_OK);
  EXPECT_EQ(PP_ResumeGetChip(), PPCOMP_BADCALL);
  EXPECT_EQ(PP_StartGetPIN("p"), 0);
  EXPECT_EQ(PP_ResumeGetCard(), PPCOMP_BADCALL);
  EXPECT_EQ(stub.Registro().find("LE_Execute(4242,1,0)"), std::string::npos);  // Resume calls nothing
}

// Leaving EMV-library mode closes through LE_Close unless told not to; staying
// in a mode does nothing but trace.
TEST_F(ModoLibEMV, NaoExecutaPPCloseNaTroca) {
  struct Caso {
    const char* opcoes;
    bool fecha;
  } casos[] = {
      {"{NaoExecutaPPClose=1}", false},
      {"x{NaoExecutaPPClose=1}y", false},
      {"{NaoExecutaPPClose=0}", true},
      {"{NaoExecutaPPClose=11}", false},  // the first character decides
      {"", true},
      {nullptr, true},
  };
  for (const Caso& c : casos) {
    EntraModoLibEMV();
    EXPECT_EQ(PP_AtivaLibEMV(1, ""), 0);  // already there: no close
    EXPECT_EQ(stub.Registro(), "");
    EXPECT_EQ(PP_AtivaLibEMV(0, c.opcoes), 0);
    EXPECT_EQ(LibState.libemv.LibEMVAtiva, 0);
    EXPECT_EQ(stub.Registro(), c.fecha ? "LE_Close(4242,)\n" : "") << (c.opcoes ? c.opcoes : "(null)");
    // Internal mode again: the chip-reading slots are empty.
    EXPECT_EQ(LibState.api.TabelaFuncoes.StartGetChip, nullptr);
    EXPECT_EQ(LibState.api.TabelaFuncoes.GetTLV, nullptr);
    EXPECT_NE(LibState.api.TabelaFuncoes.Open, nullptr);
  }
}

TEST_F(ModoLibEMV, InformacaoEConfiguracaoPassamPelaBiblioteca) {
  char saida[16] = {};
  stub.Valor(19001, "1");
  EXPECT_EQ(ObtemInformacaoLib(9999, saida), 0);
  EXPECT_STREQ(saida, "1");
  stub.Valor(19001, "0");
  EXPECT_EQ(ObtemInformacaoLib(9999, saida), 0);
  EXPECT_STREQ(saida, "0");
  stub.Reinicia();
  stub.Retorno("LE_GetValue", 7);
  EXPECT_EQ(ObtemInformacaoLib(12345, saida), 7);
  EXPECT_EQ(stub.Registro(), "LE_GetValue(4242,12345)\n");
  stub.Reinicia();
  EXPECT_EQ(ConfiguraTracePinPad("LOJA0001", "TERM0001", 1, 9, "NivelTrace=1"), 0);
  EXPECT_NE(stub.Registro().find("LE_ConfigTerminal(4242,LOJA0001,TERM0001,1,9,NivelTrace=1)"), std::string::npos);
}

// The trace of a chip answer's TLV field holds nothing of the card from the
// first entry the walk cannot be sure of: after it any byte could start the card
// number, so the rest is not traced (at most that entry's tag and first length
// byte). The caller still gets the entries it listed.
TEST_F(ModoLibEMV, Bit55NaoTraceNadaDepoisDeUmaEntradaIlegivel) {
  struct Caso {
    const char* titulo;
    std::string campo;
    std::string esperado;
  } casos[] = {
      {"tamanho 80", "9F1A0200039F10805A084761739001010010", "9F1A0200039F1080"},
      {"byte solto depois de uma entrada", "9F1A0200049F1003001122335A084761739001010010",
       "9F1A0200049F100300112233"},
      {"tag de tres bytes", "9F1A020009DF812908000000000000000F5A0847617390010100109F2608A1B2C3D4E5F60718" "9F2701809F360200019F10120110A00000000000000000000000000000FF",
       "9F1A020009DF81"},
      {"tamanho alem do campo", "9F1A0200099F10205A084761739001010010", "9F1A0200099F1020"},
      {"5A com tamanho 83", "9F1A0200095A830847617390010100109F2701", "9F1A020009"},
      {"dentro de um molde", "700D9F1A020009DF01805A08476173", "700D9F1A020009DF0180"},
  };
  testutil::DiretorioTemp pasta;
  LibState.api.HabilitaTrace = 1;
  ASSERT_EQ(ConfiguraTracePinPad(nullptr, nullptr, 0, 0, ("DiretorioTrace=" + pasta.caminho()).c_str()), 0);
  EntraModoLibEMV();
  for (const Caso& c : casos) {
    char n[24];
    std::snprintf(n, sizeof n, "%03zu", c.campo.size() / 2);
    stub.Valor(90020, (std::string(42, '0') + n + c.campo + "000").c_str());
    char saida[TamRespostaChip] = {}, msg[64] = {};
    ASSERT_EQ(PP_StartGoOnChip("e", "0025A57", nullptr), PPCOMP_OK);
    ASSERT_EQ(PP_GoOnChip(saida, msg), PPCOMP_OK);
    std::string traco;
    for (const auto& e : std::filesystem::directory_iterator(pasta.caminho())) {
      const std::string conteudo = testutil::LeArquivo(e.path());
      std::vector<RegistroLido> registros;
      std::string motivo;
      EXPECT_TRUE(LeTodosRegistros(std::span(reinterpret_cast<const uint8_t*>(conteudo.data()), conteudo.size()),
                                   registros, motivo)) << motivo;
      for (const RegistroLido& r : registros)
        if (r.rotulo == "Bit55") traco = HexDe(r.valor);
      std::filesystem::remove(e.path());
    }
    EXPECT_EQ(traco, c.esperado) << c.titulo;
  }
}

// In EMV-library mode without libemv.so every forwarded operation answers 18.
TEST(ModoLibEMVSemBiblioteca, TudoNOFUNC) {
  testutil::DiretorioTemp vazio;
  testutil::ResetaLibState();
  std::snprintf(LibState.libemv.DiretorioLibEMV, sizeof LibState.libemv.DiretorioLibEMV, "%s", vazio.caminho().c_str());
  char saida[TamRespostaChip] = {}, msg[64] = {};
  EXPECT_EQ(PP_AtivaLibEMV(1, "{NaoExecutaPPClose=1}"), 0);
  EXPECT_EQ(LibEMVCarregada(), 0);
  EXPECT_EQ(PP_Open("/dev/x"), PPCOMP_NOFUNC);
  EXPECT_EQ(PP_StartGetCard("a", "b"), PPCOMP_NOFUNC);
  EXPECT_EQ(PP_GetPIN(saida, msg), PPCOMP_NOFUNC);
  EXPECT_EQ(PP_Abort(), PPCOMP_NOFUNC);
  EXPECT_EQ(PP_TableLoadEnd(), PPCOMP_NOFUNC);
  EXPECT_EQ(PP_AtivaLibEMV(0, ""), 0);
  FinalizaLibPinPad();
  testutil::ResetaLibState();
}

}  // namespace
