// SC5000 framing over a pty with a scripted pinpad.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <string_view>
#include <string>
#include <utility>
#include <vector>

#include "DispositivoSimulado.h"
#include "Fixtura.h"
#include "link/Enlace.h"

using namespace testlink;

namespace {

using SC5000 = LinkPty;

TEST_F(SC5000, WorkedFrameAcknowledged) {
  EXPECT_EQ(Hex(QuadroSC5000("123")), "02 31 32 33 03 33");
  peer.EsperaSC5000().Envia({kACK}).EsperaSC5000().Envia({kACK}).Inicia();
  EXPECT_EQ(PinPadEnviaSC5000("123", Enlace::STX, Enlace::ETX), PPCOMP_OK);
  EXPECT_EQ(PinPadEnviaSC5000("72ABC", Enlace::SI, Enlace::SO), PPCOMP_OK);
  ASSERT_TRUE(peer.Termina());
  const auto r = peer.Recepcoes();
  ASSERT_EQ(r.size(), 2u);
  EXPECT_EQ(Hex(r[0].bytes), "02 31 32 33 03 33");
  EXPECT_EQ(r[1].bytes, QuadroSC5000("72ABC", kSI, kSO));
}

TEST_F(SC5000, AcknowledgementRules) {
  // Each step: whether the peer first waits for a frame, then the byte it sends.
  using Roteiro = std::vector<std::pair<bool, uint8_t>>;
  struct Caso {
    const char* titulo;
    const char* texto;
    Roteiro roteiro;
    int quadros;  // frames the library sends
    int32_t esperado;
  } casos[] = {
      {"08: ACK e depois EOT", "08PIN", {{true, kACK}, {false, kEOT}}, 1, PPCOMP_OK},
      {"08: EOT direto", "08PIN", {{true, kEOT}}, 1, PPCOMP_OK},
      {"08: NAK, reenvio, ACK, EOT", "08PIN", {{true, kNAK}, {true, kACK}, {false, kEOT}}, 2, PPCOMP_OK},
      {"08: ACK e depois NAK", "08PIN", {{true, kACK}, {false, kNAK}, {false, kEOT}}, 1, PPCOMP_OK},
      {"outro: EOT e erro", "72", {{true, kEOT}}, 1, PPCOMP_COMMERR},
      {"outro: NAK e ACK", "72", {{true, kNAK}, {true, kACK}}, 2, PPCOMP_OK},
      {"outro: tres NAK", "72", {{true, kNAK}, {true, kNAK}, {true, kNAK}}, 3, PPCOMP_COMMERR},
      {"outro: byte estranho", "72", {{true, 'x'}}, 1, PPCOMP_COMMERR},
  };
  for (const auto& c : casos) {
    PeerPty p;
    PortaFecha();
    ASSERT_EQ(PortaAbre(p.Caminho().c_str(), 19200), PPCOMP_OK);
    for (const auto& [esperaQuadro, byte] : c.roteiro) {
      if (esperaQuadro) p.EsperaSC5000();
      p.Envia({byte});
    }
    p.Inicia();
    EXPECT_EQ(PinPadEnviaSC5000(c.texto, Enlace::STX, Enlace::ETX), c.esperado) << c.titulo;
    EXPECT_TRUE(p.Termina()) << c.titulo;
    EXPECT_EQ(static_cast<int>(p.Recepcoes().size()), c.quadros) << c.titulo;
    EXPECT_EQ(p.Recebido().size(), c.quadros * QuadroSC5000(c.texto).size()) << c.titulo;
    PortaFecha();
  }
}

Bytes LrcErrado(std::string_view texto) {
  Bytes q = QuadroSC5000(texto);
  q.back() ^= 0x01;
  return q;
}

TEST_F(SC5000, ReceiveStepsAndAnswers) {
  struct Caso {
    const char* titulo;
    std::function<void(PeerPty&)> roteiro;  // after the peer has the command frame
    int32_t esperado;
    std::string texto;
    Bytes respostas;  // what the library sent after its command frame
  } casos[] = {
      {"lixo e quadro SI/SO",
       [](PeerPty& p) { p.Envia(Concatena({{kACK}, DeTexto("lixo"), QuadroSC5000("0012345678", kSI, kSO)})); },
       PPCOMP_OK, "0012345678", {kACK}},
      {"EOT sozinho", [](PeerPty& p) { p.Envia({kACK}).Pausa(20).Envia({kEOT}); }, PPCOMP_CANCEL, "", {}},
      {"EOT antes do quadro", [](PeerPty& p) { p.Envia(Concatena({{kACK, kEOT}, QuadroSC5000("00AB")})); },
       PPCOMP_OK, "00AB", {kACK}},
      {"NAK e quadro bom",
       [](PeerPty& p) { p.Envia(Concatena({{kACK}, LrcErrado("00AB")})).EsperaBytes(1).Envia(QuadroSC5000("00AB")); },
       PPCOMP_OK, "00AB", {kNAK, kACK}},
      {"quatro erros de LRC",
       [](PeerPty& p) {
         p.Envia(Concatena({{kACK}, LrcErrado("00AB")}));
         for (int i = 0; i < 3; ++i) p.EsperaBytes(1).Envia(LrcErrado("00AB"));
         p.EsperaBytes(1);
       },
       PPCOMP_COMMERR, "", {kNAK, kNAK, kNAK, kEOT}},
      {"texto de um byte", [](PeerPty& p) { p.Envia(Concatena({{kACK}, QuadroSC5000("0")})).EsperaBytes(1); },
       PPCOMP_COMMERR, "", {kACK}},
  };
  for (const auto& c : casos) {
    PeerPty p;
    PortaFecha();
    ASSERT_EQ(PortaAbre(p.Caminho().c_str(), 19200), PPCOMP_OK);
    p.EsperaSC5000();
    c.roteiro(p);
    p.Inicia();
    ASSERT_EQ(PinPadEnviaSC5000("71", Enlace::STX, Enlace::ETX), PPCOMP_OK) << c.titulo;
    char texto[16];
    std::memset(texto, '#', sizeof texto);
    int32_t tam = 0;
    EXPECT_EQ(PinPadRecebeSC5000(1, texto, sizeof texto, &tam), c.esperado) << c.titulo;
    if (c.esperado == PPCOMP_OK) {
      EXPECT_EQ(std::string(texto, tam), c.texto) << c.titulo;
      EXPECT_EQ(texto[tam], '#') << c.titulo;  // not terminated
    }
    EXPECT_TRUE(p.Termina()) << c.titulo;
    const Bytes tudo = p.Recebido();
    const size_t quadro = QuadroSC5000("71").size();
    ASSERT_GE(tudo.size(), quadro) << c.titulo;
    EXPECT_EQ(Bytes(tudo.begin() + static_cast<std::ptrdiff_t>(quadro), tudo.end()), c.respostas) << c.titulo;
    PortaFecha();
  }
}

TEST_F(SC5000, TextLongerThanTheCallersBufferIsRefused) {
  const std::string longo(40, 'P');
  peer.EsperaSC5000().Envia(Concatena({{kACK}, QuadroSC5000(longo), QuadroSC5000("00OK")})).Inicia();
  ASSERT_EQ(PinPadEnviaSC5000("71", Enlace::STX, Enlace::ETX), PPCOMP_OK);
  ASSERT_TRUE(peer.Termina());
  struct {
    char texto[39];
    char guarda[8];
  } saida;
  std::memset(&saida, '#', sizeof saida);
  int32_t tam = -1;
  EXPECT_EQ(PinPadRecebeSC5000(1, saida.texto, sizeof saida.texto, &tam), PPCOMP_COMMERR);
  EXPECT_EQ(tam, -1);
  EXPECT_EQ(std::string(saida.guarda, 8), std::string(8, '#'));
  // The refused frame is gone; the one behind it is next.
  EXPECT_EQ(PinPadRecebeSC5000(1, saida.texto, sizeof saida.texto, &tam), PPCOMP_OK);
  EXPECT_EQ(std::string(saida.texto, tam), "00OK");
}

TEST_F(SC5000, PollWithNothingThere) {
  peer.EsperaSC5000().Envia({kACK}).Inicia();
  ASSERT_EQ(PinPadEnviaSC5000("71", Enlace::STX, Enlace::ETX), PPCOMP_OK);
  ASSERT_TRUE(peer.Termina());
  char texto[8];
  int32_t tam = 0;
  EXPECT_EQ(PinPadRecebeSC5000(0, texto, sizeof texto, &tam), PPCOMP_PROCESSING);
}

TEST_F(SC5000, OversizeTextIsRefusedBeforeSending) {
  const std::string enorme(1298, 'T');
  EXPECT_EQ(PinPadEnviaSC5000(enorme.c_str(), Enlace::STX, Enlace::ETX), PPCOMP_BADPARAM);
  EXPECT_TRUE(peer.Recebido().empty());
}

// A frame ends at the end marker of its own kind (STX..ETX, SI..SO), and the
// check byte follows whatever its value: an SI/SO frame whose check byte is
// 0x03 (ETX) or an STX/ETX frame whose check byte is 0x0E (SO) is whole.
TEST(SC5000Quadro, EndMarkerOfTheFramesOwnKind) {
  // A text of the given start whose check byte comes out as `lrc`.
  auto ComLrc = [](std::string base, uint8_t inicio, uint8_t fim, uint8_t lrc) {
    for (char a = '!'; a <= '~'; ++a)
      for (char b = '!'; b <= '~'; ++b) {
        const std::string t = base + a + b;
        if (QuadroSC5000(t, inicio, fim).back() == lrc) return t;
      }
    return std::string();
  };
  const std::string serie = ComLrc("06SIM0000000000", kSI, kSO, kETX);
  const std::string cartao = ComLrc("81;4111111111111111=2612", kSTX, kETX, kSO);
  ASSERT_FALSE(serie.empty());
  ASSERT_FALSE(cartao.empty());
  struct Caso {
    const char* titulo;
    Bytes linha;
    std::vector<std::string> textos;
  } casos[] = {
      {"SI/SO com byte de verificacao ETX", QuadroSC5000(serie, kSI, kSO), {serie}},
      {"STX/ETX com byte de verificacao SO", QuadroSC5000(cartao, kSTX, kETX), {cartao}},
      {"os dois em seguida", Concatena({QuadroSC5000(serie, kSI, kSO), QuadroSC5000(cartao, kSTX, kETX)}),
       {serie, cartao}},
      {"lixo antes", Concatena({DeTexto("xy"), QuadroSC5000(serie, kSI, kSO)}), {serie}},
  };
  for (const auto& c : casos) {
    SCOPED_TRACE(c.titulo);
    testutil::ResetaLibState();
    ASSERT_EQ(AbreDispositivoSimulado(), PPCOMP_OK);
    Enfileira(c.linha);
    for (const std::string& esperado : c.textos) {
      char texto[64] = {};
      int32_t tam = -1;
      ASSERT_EQ(PinPadRecebeSC5000(1, texto, sizeof texto, &tam), PPCOMP_OK);
      EXPECT_EQ(std::string(texto, static_cast<size_t>(tam)), esperado);
    }
    // Every frame was acknowledged, none refused.
    EXPECT_EQ(g_dispositivo.escrito, Bytes(c.textos.size(), kACK));
    PortaFecha();
  }
  testutil::ResetaLibState();
}

}  // namespace
