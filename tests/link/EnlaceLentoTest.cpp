// The link's time-outs, in real seconds: each is exercised once.
#include <gtest/gtest.h>

#include "Fixtura.h"
#include "link/Enlace.h"

using namespace testlink;

namespace {

using TempoReal = LinkPty;

TEST_F(TempoReal, NoAckMeansThreeTwoSecondWaits) {
  peer.EsperaQuadro().EsperaQuadro().EsperaQuadro().Inicia();
  const auto t0 = Relogio::now();
  EXPECT_EQ(PinPadEnviaComando("OPN", -1), PPCOMP_COMMERR);
  const auto dt = Ms(Relogio::now() - t0);
  ASSERT_TRUE(peer.Termina());
  const auto r = peer.Recepcoes();
  ASSERT_EQ(r.size(), 3u);
  // Each resend follows a full 2 s wait at once (no NAK pause).
  EXPECT_GE(Ms(r[1].ultimo - r[0].ultimo), 2000);
  EXPECT_GE(Ms(r[2].ultimo - r[1].ultimo), 2000);
  EXPECT_GE(dt, 6000);
  EXPECT_LT(dt, 6000 + 4000);
  EXPECT_EQ(peer.Recebido().size(), 3u * 7u);
}

TEST_F(TempoReal, NoResponseWithinTenSeconds) {
  peer.EsperaQuadro().Envia({kACK}).Inicia();
  ASSERT_EQ(PinPadEnviaComando("OPN", -1), PPCOMP_OK);
  const auto t0 = Relogio::now();
  char codigo[4];
  EXPECT_EQ(PinPadRecebeResposta(1, codigo, nullptr), PPCOMP_COMMERR);
  const auto dt = Ms(Relogio::now() - t0);
  // More than 10 s on a one-second clock: between 10 and 12 s.
  EXPECT_GE(dt, 10000);
  EXPECT_LT(dt, 12000 + 3000);
  EXPECT_TRUE(peer.Termina());
}

TEST_F(TempoReal, SC5000FrameWithoutAnswerAfterAck) {
  // An "08" frame acknowledged but never ended: one more 2 s wait, then an error.
  peer.EsperaSC5000().Envia({kACK}).Inicia();
  const auto t0 = Relogio::now();
  EXPECT_EQ(PinPadEnviaSC5000("08PIN", Enlace::STX, Enlace::ETX), PPCOMP_COMMERR);
  EXPECT_GE(Ms(Relogio::now() - t0), 2000);
  EXPECT_TRUE(peer.Termina());
}

}  // namespace
