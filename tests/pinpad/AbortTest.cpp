// PP_Abort of a pending Start command against a device behind the serial
// driver's system-call table, in virtual time: how many CAN bytes go out, the
// wait for EOT after each, and the bytes read past on the way to EOT.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "DispositivoSimulado.h"
#include "PeerPty.h"
#include "common/TestUtil.h"
#include "pinpad/pinpad.h"
#include "state/LibState.h"

using namespace testlink;

namespace {

constexpr uint8_t kCAN = 0x18;

TEST(AbortSerial, CanAteTresVezesComEsperaDe2sPeloEot) {
  struct Caso {
    const char* titulo;
    std::string resposta;  // what the pinpad sends after the first CAN
    Bytes escrito;         // what the abort writes
    std::vector<EsperaLeitura> esperas;
    std::string resta;     // left unread on the line
  } casos[] = {
      {"silent pinpad: three CAN, each followed by a 2 s wait that runs out", "", Bytes{kCAN, kCAN, kCAN},
       {{1, 2000}, {2, 2000}, {3, 2000}}, ""},
      // A late answer and a stray NAK are read past, one byte per 2 s wait;
      // EOT ends the abort at once.
      {"other bytes, then EOT", std::string("\x16GKY000\x17\x12\x34\x15") + "\x04Z", Bytes{kCAN},
       std::vector<EsperaLeitura>(12, {1, 2000}), "Z"},
      {"EOT at once", "\x04", Bytes{kCAN}, {{1, 2000}}, ""},
  };
  for (const Caso& c : casos) {
    SCOPED_TRACE(c.titulo);
    testutil::ResetaLibState();
    ASSERT_EQ(AbreDispositivoSimulado(), PPCOMP_OK);
    g_dispositivo.tempoVirtual = true;
    Enfileira(Bytes{kACK});
    ASSERT_EQ(PP_StartGetKey(), PPCOMP_OK);
    g_dispositivo.escrito.clear();
    g_dispositivo.esperasLeitura.clear();
    Enfileira(c.resposta);
    EXPECT_EQ(PP_Abort(), PPCOMP_OK);
    EXPECT_EQ(g_dispositivo.escrito, c.escrito);
    EXPECT_EQ(g_dispositivo.esperasLeitura, c.esperas);
    EXPECT_EQ(std::string(g_dispositivo.entrada.begin(), g_dispositivo.entrada.end()), c.resta);
    FinalizaLibPinPad();
  }
  testutil::ResetaLibState();
}

}  // namespace
