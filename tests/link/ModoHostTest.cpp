// Host link mode: with both host functions installed the framing leaves the
// serial port alone and goes through the link encryption; its failures come
// back as the caller's codes.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "Fixtura.h"
#include "link/Enlace.h"

using namespace testlink;

namespace {

int32_t g_comandos = 0;
int32_t g_recebimentos = 0;
int32_t HostComando(int32_t, const char*) {
  ++g_comandos;
  return 0;
}
int32_t HostRecebe(int32_t, int32_t, int32_t, int32_t, uint8_t*, char* buffer) {
  ++g_recebimentos;
  buffer[0] = '\0';
  return 0;
}

// In a directory without a key-control file the encryption cannot start.
class ModoHost : public LinkPty {
 protected:
  void SetUp() override {
    LinkPty::SetUp();
    ASSERT_NE(getcwd(anterior_, sizeof anterior_), nullptr);
    ASSERT_EQ(chdir(dir_.caminho().c_str()), 0);
    g_comandos = g_recebimentos = 0;
  }
  void TearDown() override {
    ASSERT_EQ(chdir(anterior_), 0);
    LinkPty::TearDown();
  }
  char anterior_[4096] = {};
  testutil::DiretorioTemp dir_;
};

TEST_F(ModoHost, OnlyWithBothHostFunctions) {
  // One function alone keeps the serial link.
  LibState.api.FuncaoHostComando = HostComando;
  peer.EsperaQuadro().Envia({kACK}).Inicia();
  EXPECT_EQ(PinPadEnviaComando("OPN", -1), PPCOMP_OK);
  ASSERT_TRUE(peer.Termina());
  EXPECT_EQ(peer.Recebido().size(), 7u);
  EXPECT_EQ(g_comandos, 0);
}

TEST_F(ModoHost, NothingGoesToTheSerialPort) {
  LibState.api.FuncaoHostComando = HostComando;
  LibState.api.FuncaoHostRecebe = HostRecebe;
  char codigo[4];
  char texto[8];
  int32_t tam = 0;
  EXPECT_EQ(PinPadEnviaComando("OPN", -1), PPCOMP_QXCRIPTERR);
  EXPECT_EQ(PinPadRecebeResposta(1, codigo, nullptr), PPCOMP_QXCRIPTERR);
  EXPECT_EQ(PinPadEnviaSC5000("71", Enlace::STX, Enlace::ETX), PPCOMP_QXCRIPTERR);
  EXPECT_EQ(PinPadRecebeSC5000(1, texto, sizeof texto, &tam), PPCOMP_QXCRIPTERR);
  // The limits still apply to the message without SYN, ETB and CRC.
  EXPECT_EQ(PinPadEnviaComando("TLR", 1000, "x", -1), PPCOMP_BADPARAM);
  for (uint8_t c : LibState.enlace.BufferTxPinPad) ASSERT_EQ(c, 0);
  for (uint8_t c : LibState.enlace.BufferRxPinPad) ASSERT_EQ(c, 0);
  peer.Inicia();
  EXPECT_TRUE(peer.Termina());
  EXPECT_TRUE(peer.Recebido().empty());
}

}  // namespace
