// The two chip steps against simpinpad: the lists on the wire, the answers cut
// back to the caller's tags, and no card data in any trace file.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "common/TestUtil.h"
#include "emv/ApoioE2E.h"
#include "pinpad/LibEMV.h"
#include "pinpad/ParametrosChip.h"
#include "pinpad/pinpad.h"
#include "state/LibState.h"
#include "tool/Processo.h"

namespace {

using apoioe2e::Consulta;
using apoioe2e::Contem;

const std::string fixos = TagsFixosChip;

std::vector<std::string> Enviados(const std::string& log) { return apoioe2e::Quadros(log, "RX QUADRO"); }

// "GOC" input: 86 characters whose last three count what follows (nothing).
const std::string entradaGoc = std::string(83, '0') + "000";
// "FNC" input: 7 characters (count a at 4), then a 3-digit count b.
const std::string entradaFnc = "0000000" "000";

class ChipSim : public ::testing::Test {
 protected:
  void SetUp() override { testutil::ResetaLibState(); }
  void TearDown() override {
    PP_Close("");
    FinalizaLibPinPad();
    testutil::ResetaLibState();
  }
};

TEST_F(ChipSim, ListasNoFioERespostasSoComOsTagsDoChamador) {
  e2e::Simulador sim;
  ASSERT_TRUE(sim.ativo());
  ASSERT_EQ(PP_Open(sim.dispositivo().c_str()), PPCOMP_OK);
  char saida[TamRespostaChip], msg[64];

  // Only 9F26 asked for: the fourteen other fixed tags go as TagsOpt (count 023).
  ASSERT_EQ(PP_StartGoOnChip(entradaGoc.c_str(), "0029F26", nullptr), PPCOMP_OK);
  EXPECT_TRUE(Contem(Enviados(sim.log()), "007" "0029F26" "049" "023" + fixos.substr(0, 26) + fixos.substr(30)));
  std::memset(saida, 0, sizeof saida);
  ASSERT_EQ(Consulta([&] { return PP_GoOnChip(saida, msg); }), PPCOMP_OK);
  std::string r(saida);
  ASSERT_GE(r.size(), 45u);
  EXPECT_EQ(r.substr(42, 9), "011" "9F2608") << r;
  EXPECT_EQ(r.substr(42 + 3 + 22), "000") << r;  // the field after the TLV, moved up

  // 9F26 and 5F2A asked for: 95 and the other fixed tags the pinpad returns are dropped.
  ASSERT_EQ(PP_StartGoOnChip(entradaGoc.c_str(), "0029F26", "0025F2A"), PPCOMP_OK);
  EXPECT_TRUE(Contem(Enviados(sim.log()), "007" "0029F26" "053" "025" "5F2A" + fixos.substr(0, 26) + fixos.substr(30)));
  std::memset(saida, 0, sizeof saida);
  ASSERT_EQ(Consulta([&] { return PP_GoOnChip(saida, msg); }), PPCOMP_OK);
  r = saida;
  ASSERT_GE(r.size(), 45u);
  EXPECT_EQ(r.substr(42, 3), "016") << r;
  EXPECT_NE(r.find("9F2608", 45), std::string::npos) << r;
  EXPECT_NE(r.find("5F2A02", 45), std::string::npos) << r;
  EXPECT_EQ(r.size(), 42u + 3 + 32 + 3) << r;

  // Finish without tags: the fifteen fixed tags are sent, every entry removed.
  std::memset(saida, 0, sizeof saida);
  ASSERT_EQ(PP_FinishChip(entradaFnc.c_str(), nullptr, saida), PPCOMP_OK);
  EXPECT_TRUE(Contem(Enviados(sim.log()), "053" "025" + fixos));
  EXPECT_STREQ(saida, "0" "000" "00" "000");
}

}  // namespace
