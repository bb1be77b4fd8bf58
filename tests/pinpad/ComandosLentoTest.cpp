// The command set against a pinpad that waits out the link's time-outs.
#include <gtest/gtest.h>

#include "common/TestUtil.h"
#include "pinpad/pinpad.h"
#include "tool/Processo.h"

namespace {

TEST(ComandosLento, CloseFechaAPortaMesmoSemResposta) {
  testutil::ResetaLibState();
  e2e::Simulador sim({"--sem-ack", "3@CLO"});
  ASSERT_TRUE(sim.ativo()) << sim.saida();
  ASSERT_EQ(PP_Open(sim.dispositivo().c_str()), PPCOMP_OK);
  EXPECT_EQ(PP_Close("FIM"), PPCOMP_COMMERR);
  EXPECT_EQ(PP_Display("x"), PPCOMP_NOTOPEN);
  auto q = e2e::Quadros(sim.log());
  ASSERT_FALSE(q.empty());
  EXPECT_EQ(q.back(), "CLO032FIM" + std::string(29, ' '));
  FinalizaLibPinPad();
  testutil::ResetaLibState();
}

}  // namespace
