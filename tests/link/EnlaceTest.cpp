// Framing of pinpad commands and responses, over a pty with a scripted pinpad.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <random>
#include <string>
#include <thread>

#include "DispositivoSimulado.h"
#include "Fixtura.h"
#include "link/Enlace.h"

using namespace testlink;

namespace {

// ---- Checks without a line ------------------------------------------------------

TEST(CalculaCrc16, CheckValueAndWorkedFrames) {
  const Bytes digitos = DeTexto("123456789");
  EXPECT_EQ(CalculaCrc16(digitos.data(), 9), 0x31C3);
  const Bytes opn = DeTexto("OPN\x17");
  EXPECT_EQ(CalculaCrc16(opn.data(), 4), 0xA8A9);
  EXPECT_EQ(CalculaCrc16(nullptr, 0), 0);
}

TEST(CalculaCrc16, MatchesBitwiseReferenceOverRandomLengths) {
  std::mt19937 gerador(20261210);
  Bytes dados(1300);
  for (auto& b : dados) b = static_cast<uint8_t>(gerador());
  for (int i = 0; i < 200; ++i) {
    const size_t inicio = gerador() % 100;
    const size_t n = gerador() % (dados.size() - inicio);
    ASSERT_EQ(CalculaCrc16(dados.data() + inicio, static_cast<int32_t>(n)), Crc16Referencia(dados.data() + inicio, n))
        << "inicio " << inicio << " n " << n;
  }
}

TEST(CalculaLrc, XorOfTheBytes) {
  const Bytes f = DeTexto("123\x03");
  EXPECT_EQ(CalculaLrc(f.data(), 4), 0x33);
  EXPECT_EQ(CalculaLrc(nullptr, 0), 0);
}

TEST(DescartaAteSyn, DropsOnlyBytesBeforeTheFirstSyn) {
  struct Caso {
    const char* titulo;
    Bytes entrada;
    Bytes esperado;
  } casos[] = {
      {"lixo antes", {1, 2, 3, kSYN, 'A', kSYN}, {kSYN, 'A', kSYN}},
      {"ja no inicio", {kSYN, 'A'}, {kSYN, 'A'}},
      {"sem SYN", {1, 2, 3}, {1, 2, 3}},
      {"vazio", {}, {}},
  };
  for (auto& c : casos) {
    Bytes b = c.entrada;
    const int32_t n = DescartaAteSyn(b.data(), static_cast<int32_t>(b.size()));
    EXPECT_EQ(Bytes(b.begin(), b.begin() + n), c.esperado) << c.titulo;
  }
}

TEST(PinPadEnviaComando, ClosedPortSendsNothing) {
  testutil::ResetaLibState();
  EXPECT_EQ(PinPadEnviaComando("OPN", -1), PPCOMP_NOTOPEN);
  char codigo[4];
  EXPECT_EQ(PinPadRecebeResposta(1, codigo, nullptr), PPCOMP_NOTOPEN);
}

// ---- Exchanges ---------------------------------------------------------------------

using PinPadEnvia = LinkPty;

TEST_F(PinPadEnvia, WorkedFramesByteForByte) {
  peer.EsperaQuadro().Envia({kACK}).EsperaQuadro().Envia({kACK}).Inicia();
  EXPECT_EQ(PinPadEnviaComando("OPN", -1), PPCOMP_OK);
  EXPECT_EQ(PinPadEnviaComando("GIN", 2, "00", -1), PPCOMP_OK);
  ASSERT_TRUE(peer.Termina());
  const auto r = peer.Recepcoes();
  ASSERT_EQ(r.size(), 2u);
  EXPECT_EQ(Hex(r[0].bytes), "16 4F 50 4E 17 A8 A9");
  EXPECT_EQ(Hex(r[1].bytes), "16 47 49 4E 30 30 32 30 30 17 EE CA");
  EXPECT_EQ(peer.Recebido().size(), 7u + 12u);  // nothing else went out
  // The transmit buffer is wiped after the send.
  for (uint8_t c : LibState.enlace.BufferTxPinPad) ASSERT_EQ(c, 0);
}

TEST_F(PinPadEnvia, FieldForms) {
  std::string campo999(999, 'x');
  peer.EsperaQuadro().Envia({kACK}).EsperaQuadro().Envia({kACK}).Inicia();
  // 999 is the longest field.
  EXPECT_EQ(PinPadEnviaComando("TLR", 999, campo999.data(), -1), PPCOMP_OK);
  // A null data pointer sends the length digits only.
  EXPECT_EQ(PinPadEnviaComando("DSP", 5, nullptr, 2, "AB", -1), PPCOMP_OK);
  ASSERT_TRUE(peer.Termina());
  const auto r = peer.Recepcoes();
  ASSERT_EQ(r.size(), 2u);
  EXPECT_EQ(r[0].bytes, Quadro("TLR999" + campo999));
  EXPECT_EQ(r[1].bytes, Quadro("DSP005002AB"));
}

TEST_F(PinPadEnvia, RefusedCommandsPutNothingOnTheLine) {
  std::string grande(999, 'y');
  std::string resto288(288, 'z'), resto289(289, 'z');
  peer.EsperaQuadro().Envia({kACK}).Inicia();
  LibState.enlace.TamTotalRx = 7;  // a refusal happens before the counters reset
  struct Caso {
    const char* titulo;
    int32_t r;
  } casos[] = {
      {"campo de 1000", PinPadEnviaComando("TLR", 1000, grande.data(), -1)},
      {"tamanho negativo", PinPadEnviaComando("TLR", -2, grande.data(), -1)},
      // SYN + code + 1002 + 3 + 289 + ETB + CRC = 1301 bytes: one too many.
      {"nao cabe em 1300", PinPadEnviaComando("TLR", 999, grande.data(), 289, resto289.data(), -1)},
  };
  for (auto& c : casos) EXPECT_EQ(c.r, PPCOMP_BADPARAM) << c.titulo;
  EXPECT_EQ(LibState.enlace.TamTotalRx, 7);
  for (uint8_t c : LibState.enlace.BufferTxPinPad) ASSERT_EQ(c, 0);
  EXPECT_TRUE(peer.Recebido().empty());
  // Exactly 1300 bytes fit.
  EXPECT_EQ(PinPadEnviaComando("TLR", 999, grande.data(), 288, resto288.data(), -1), PPCOMP_OK);
  ASSERT_TRUE(peer.Termina());
  ASSERT_EQ(peer.Recepcoes().size(), 1u);
  EXPECT_EQ(peer.Recepcoes()[0].bytes.size(), 1300u);
  EXPECT_EQ(peer.Recebido().size(), 1300u);
}

TEST_F(PinPadEnvia, ResendsAfterNakWithHalfSecondPauses) {
  peer.EsperaQuadro().Envia({kNAK}).EsperaQuadro().Envia({kNAK}).EsperaQuadro().Envia({kACK}).Inicia();
  EXPECT_EQ(PinPadEnviaComando("OPN", -1), PPCOMP_OK);
  ASSERT_TRUE(peer.Termina());
  const auto r = peer.Recepcoes();
  ASSERT_EQ(r.size(), 3u);
  for (const auto& q : r) EXPECT_EQ(Hex(q.bytes), "16 4F 50 4E 17 A8 A9");
  // 500 ms after each NAK, then the 50 ms of the discard and 10 ms before the last byte.
  EXPECT_GE(Ms(r[1].ultimo - r[0].ultimo), 560);
  EXPECT_GE(Ms(r[2].ultimo - r[1].ultimo), 560);
}

TEST_F(PinPadEnvia, SkipsOtherBytesWhileWaitingForAck) {
  peer.EsperaQuadro().Envia({'x', 0x00, kSYN, kACK}).Inicia();
  EXPECT_EQ(PinPadEnviaComando("OPN", -1), PPCOMP_OK);
  ASSERT_TRUE(peer.Termina());
}

TEST_F(PinPadEnvia, ThreeNaksGiveCommErrorWithoutPauseAfterTheLast) {
  peer.EsperaQuadro().Envia({kNAK}).EsperaQuadro().Envia({kNAK}).EsperaQuadro().Envia({kNAK}).Inicia();
  const auto t0 = Relogio::now();
  EXPECT_EQ(PinPadEnviaComando("OPN", -1), PPCOMP_COMMERR);
  const auto fim = Relogio::now();
  ASSERT_TRUE(peer.Termina());
  const auto r = peer.Recepcoes();
  ASSERT_EQ(r.size(), 3u);
  // Two pauses of 500 ms; none after the third NAK.
  EXPECT_GE(Ms(fim - t0), 1000 + 3 * 60);
  EXPECT_LT(Ms(fim - r[2].ultimo), 450);
}

// The acknowledgement wait in virtual time, so that a run without the slow
// label sees it too (EnlaceLentoTest times it in real seconds): a pinpad that
// never answers gets the frame three times, each followed by one 2 s wait.
TEST(PinPadEnviaTempoVirtual, NoAckMeansThreeTwoSecondWaits) {
  testutil::ResetaLibState();
  ASSERT_EQ(AbreDispositivoSimulado(), PPCOMP_OK);
  g_dispositivo.tempoVirtual = true;
  EXPECT_EQ(PinPadEnviaComando("OPN", -1), PPCOMP_COMMERR);
  const Bytes opn = {kSYN, 'O', 'P', 'N', kETB, 0xA8, 0xA9};
  Bytes tres;
  for (int i = 0; i < 3; ++i) tres.insert(tres.end(), opn.begin(), opn.end());
  EXPECT_EQ(g_dispositivo.escrito, tres);
  EXPECT_EQ(g_dispositivo.esperasLeitura, (std::vector<EsperaLeitura>{{7, 2000}, {14, 2000}, {21, 2000}}));
  PortaFecha();
  testutil::ResetaLibState();
}

TEST_F(PinPadEnvia, EndlessStreamOfOtherBytesCannotHoldTheSend) {
  // Junk every 5 ms, never an ACK. Each byte restarts the 2 s wait; the attempt
  // still ends once the response limit has passed on the clock, here a clock
  // that runs 500 ms ahead at every look.
  peer.EsperaQuadro().EnviaLento(Bytes(400, 'x'), 5).Inicia();
  ChamadasTeste sis;
  std::atomic<int64_t> adiantamento{0};
  sis.DefineRelogio([&](clockid_t id, timespec* ts) {
    const int r = clock_gettime(id, ts);
    const int64_t ns = ts->tv_nsec + (adiantamento += 500) * 1000000;
    ts->tv_sec += static_cast<time_t>(ns / 1000000000);
    ts->tv_nsec = static_cast<long>(ns % 1000000000);
    return r;
  });
  const auto t0 = Relogio::now();
  EXPECT_EQ(PinPadEnviaComando("OPN", -1), PPCOMP_COMMERR);
  EXPECT_LT(Ms(Relogio::now() - t0), 1900);
  peer.Termina();
}

using PinPadRecebe = LinkPty;

// Sends "OPN" and has the peer acknowledge it and answer `resposta`.
void EnviaEAtende(PeerPty& peer, const Bytes& resposta) {
  peer.EsperaQuadro().Envia(Concatena({{kACK}, resposta})).Inicia();
  ASSERT_EQ(PinPadEnviaComando("OPN", -1), PPCOMP_OK);
}

TEST_F(PinPadRecebe, WorkedResponse) {
  EXPECT_EQ(Hex(Quadro("OPN000")), "16 4F 50 4E 30 30 30 17 77 5E");
  EnviaEAtende(peer, Quadro("OPN000"));
  char codigo[4] = {'x', 'x', 'x', 'x'};
  EXPECT_EQ(PinPadRecebeResposta(1, codigo, nullptr), PPCOMP_OK);
  EXPECT_STREQ(codigo, "OPN");
  EXPECT_TRUE(peer.Termina());
  for (uint8_t c : LibState.enlace.BufferRxPinPad) ASSERT_EQ(c, 0);
}

TEST_F(PinPadRecebe, FieldsStatusAndCapacities) {
  // Status 013; fields of 20, 3 and 1200-capped 5 bytes.
  EnviaEAtende(peer, Quadro("GIN013020ABCDEFGHIJKLMNOPQRST003xyz00512345"));
  char codigo[4];
  char a[10], b[8], c[1200];
  std::memset(a, '#', sizeof a);
  std::memset(b, '#', sizeof b);
  std::memset(c, '#', sizeof c);
  int32_t ta = sizeof a, tb = sizeof b, tc = sizeof c;
  EXPECT_EQ(PinPadRecebeResposta(1, codigo, &ta, a, &tb, b, &tc, c, nullptr), PPCOMP_CANCEL);
  EXPECT_STREQ(codigo, "GIN");
  EXPECT_EQ(ta, 10);
  EXPECT_EQ(std::string(a, 10), "ABCDEFGHIJ");
  EXPECT_EQ(tb, 3);
  EXPECT_EQ(std::string(b, 8), std::string("xyz\0\0\0\0\0", 8));
  EXPECT_EQ(tc, 5);
  EXPECT_EQ(std::string(c, 6), std::string("12345\0", 6));
  EXPECT_EQ(c[1199], 0);  // zeroed to the capacity given, before it was lowered
  EXPECT_TRUE(peer.Termina());
}

TEST_F(PinPadRecebe, CapacityAbove999IsLoweredAndWrittenBack) {
  EnviaEAtende(peer, Quadro("GIN000003abc"));
  char codigo[4];
  char a[1500];
  int32_t ta = sizeof a;
  int32_t tb = 77;
  char b[77];
  EXPECT_EQ(PinPadRecebeResposta(1, codigo, &ta, a, &tb, b, nullptr), PPCOMP_OK);
  EXPECT_EQ(ta, 3);
  EXPECT_EQ(tb, 77);  // no second field: its length stays
  EXPECT_TRUE(peer.Termina());
}

TEST_F(PinPadRecebe, EmptyLastFieldIsLeftUnread) {
  EnviaEAtende(peer, Quadro("GIN000002ok000"));
  char codigo[4];
  char a[4], b[6];
  std::memset(b, '#', sizeof b);
  int32_t ta = sizeof a, tb = sizeof b;
  EXPECT_EQ(PinPadRecebeResposta(1, codigo, &ta, a, &tb, b, nullptr), PPCOMP_OK);
  EXPECT_EQ(ta, 2);
  EXPECT_EQ(tb, 6);
  EXPECT_EQ(std::string(b, 6), std::string(6, '\0'));
  EXPECT_TRUE(peer.Termina());
}

TEST_F(PinPadRecebe, GarbageBeforeSynIsDropped) {
  EnviaEAtende(peer, Concatena({{'z', 0x00, 0xFF, kETB, 'q'}, Quadro("OPN000")}));
  char codigo[4];
  EXPECT_EQ(PinPadRecebeResposta(1, codigo, nullptr), PPCOMP_OK);
  EXPECT_STREQ(codigo, "OPN");
  EXPECT_TRUE(peer.Termina());
}

Bytes Danificado(std::string_view texto) {
  Bytes q = Quadro(texto);
  q.back() ^= 0x5A;
  return q;
}

TEST_F(PinPadRecebe, BadCrcDrawsNakAndTheResendIsAccepted) {
  peer.EsperaQuadro()
      .Envia(Concatena({{kACK}, Danificado("OPN000")}))
      .EsperaBytes(1)
      .Envia(Quadro("OPN000"))
      .Inicia();
  ASSERT_EQ(PinPadEnviaComando("OPN", -1), PPCOMP_OK);
  char codigo[4];
  EXPECT_EQ(PinPadRecebeResposta(1, codigo, nullptr), PPCOMP_OK);
  ASSERT_TRUE(peer.Termina());
  const auto r = peer.Recepcoes();
  ASSERT_EQ(r.size(), 2u);
  EXPECT_EQ(r[1].bytes, Bytes{kNAK});
}

TEST_F(PinPadRecebe, FourthDamagedResponseEndsWithoutNak) {
  peer.EsperaQuadro().Envia(Concatena({{kACK}, Danificado("OPN000")}));
  for (int i = 0; i < 3; ++i) peer.EsperaBytes(1).Envia(Danificado("OPN000"));
  peer.Inicia();
  ASSERT_EQ(PinPadEnviaComando("OPN", -1), PPCOMP_OK);
  char codigo[4];
  EXPECT_EQ(PinPadRecebeResposta(1, codigo, nullptr), PPCOMP_COMMERR);
  ASSERT_TRUE(peer.Termina());
  const Bytes tudo = peer.Recebido();
  ASSERT_EQ(tudo.size(), 7u + 3u);  // the command and three NAKs
  EXPECT_EQ(Bytes(tudo.begin() + 7, tudo.end()), (Bytes{kNAK, kNAK, kNAK}));
}

TEST_F(PinPadRecebe, ResponseCutInTheMiddleEndsAfterSixEmptyReads) {
  Bytes q = Quadro("OPN000");
  q.resize(5);
  EnviaEAtende(peer, q);
  char codigo[4];
  const auto t0 = Relogio::now();
  EXPECT_EQ(PinPadRecebeResposta(1, codigo, nullptr), PPCOMP_COMMERR);
  const auto dt = Ms(Relogio::now() - t0);
  EXPECT_GE(dt, 550);   // six 100 ms reads
  EXPECT_LT(dt, 5000);  // well within the response limit
  EXPECT_TRUE(peer.Termina());
}

TEST_F(PinPadRecebe, PollWithNothingOnTheLineAnswersProcessing) {
  EnviaEAtende(peer, {});
  char codigo[4];
  const auto t0 = Relogio::now();
  EXPECT_EQ(PinPadRecebeResposta(0, codigo, nullptr), PPCOMP_PROCESSING);
  const auto dt = Ms(Relogio::now() - t0);
  EXPECT_GE(dt, 95);
  EXPECT_LT(dt, 2000);
  EXPECT_TRUE(peer.Termina());
}

TEST_F(PinPadRecebe, SecondFrameBehindProcessingOrNotificationIsKept) {
  // A notification, a processing answer and the final answer, in one burst.
  EnviaEAtende(peer, Concatena({Quadro("NTM000016INSIRA O CARTAO "), Quadro("GCR001"), Quadro("GCR000003fim")}));
  char codigo[4];
  char msg[32];
  int32_t tm = sizeof msg;
  // Wait until the whole burst is there, so that nothing more is read below.
  ASSERT_TRUE(peer.Termina());
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(PinPadRecebeResposta(0, codigo, &tm, msg, nullptr), PPCOMP_NOTIFY);
  EXPECT_STREQ(codigo, "NTM");
  EXPECT_EQ(std::string(msg, tm), "INSIRA O CARTAO ");
  tm = sizeof msg;
  EXPECT_EQ(PinPadRecebeResposta(0, codigo, &tm, msg, nullptr), PPCOMP_PROCESSING);
  EXPECT_STREQ(codigo, "GCR");
  tm = sizeof msg;
  EXPECT_EQ(PinPadRecebeResposta(0, codigo, &tm, msg, nullptr), PPCOMP_OK);
  EXPECT_EQ(std::string(msg, tm), "fim");
  for (uint8_t c : LibState.enlace.BufferRxPinPad) ASSERT_EQ(c, 0);
}

TEST_F(PinPadRecebe, NotificationCodeGivesNotifyWhateverItsStatus) {
  EnviaEAtende(peer, Quadro("NTM031004AGUA"));
  char codigo[4];
  char msg[8];
  int32_t tm = sizeof msg;
  EXPECT_EQ(PinPadRecebeResposta(1, codigo, &tm, msg, nullptr), PPCOMP_NOTIFY);
  EXPECT_EQ(std::string(msg, tm), "AGUA");
  EXPECT_TRUE(peer.Termina());
}

TEST_F(PinPadRecebe, MalformedResponsesAreRefused) {
  struct Caso {
    const char* titulo;
    Bytes resposta;
  } casos[] = {
      {"curto", Quadro("OPN00")},
      {"nao imprimivel", Quadro("OPN000003a\x01z")},
      {"byte alto", Quadro("OPN000003a\xE7z")},
      {"campo maior que o resto", Quadro("OPN000010abc")},
  };
  for (auto& c : casos) {
    testlink::PeerPty p;
    PortaFecha();
    ASSERT_EQ(PortaAbre(p.Caminho().c_str(), 19200), PPCOMP_OK);
    p.EsperaQuadro().Envia(Concatena({{kACK}, c.resposta})).Inicia();
    ASSERT_EQ(PinPadEnviaComando("OPN", -1), PPCOMP_OK) << c.titulo;
    char codigo[4];
    char a[4];
    int32_t ta = sizeof a;
    EXPECT_EQ(PinPadRecebeResposta(1, codigo, &ta, a, nullptr), PPCOMP_COMMERR) << c.titulo;
    for (uint8_t x : LibState.enlace.BufferRxPinPad) ASSERT_EQ(x, 0) << c.titulo;
    EXPECT_TRUE(p.Termina()) << c.titulo;
    PortaFecha();
  }
}

TEST_F(PinPadRecebe, ResponseLongerThanTheBufferIsAnError) {
  Bytes longo{kSYN};
  longo.insert(longo.end(), 1400, 'A');
  EnviaEAtende(peer, longo);
  char codigo[4];
  const auto t0 = Relogio::now();
  EXPECT_EQ(PinPadRecebeResposta(1, codigo, nullptr), PPCOMP_COMMERR);
  EXPECT_LT(Ms(Relogio::now() - t0), 5000);
  EXPECT_TRUE(peer.Termina());
}

TEST_F(PinPadRecebe, FloodOfGarbageWithoutSynIsAnError) {
  Bytes lixo(3000);
  for (size_t i = 0; i < lixo.size(); ++i) lixo[i] = static_cast<uint8_t>(i % 7 == 0 ? 'a' : 0x80 + i % 50);
  EnviaEAtende(peer, lixo);
  char codigo[4];
  const auto t0 = Relogio::now();
  EXPECT_EQ(PinPadRecebeResposta(1, codigo, nullptr), PPCOMP_COMMERR);
  EXPECT_LT(Ms(Relogio::now() - t0), 5000);
  EXPECT_LE(LibState.enlace.TamTotalRx, 1300);
  EXPECT_TRUE(peer.Termina());
}

// ---- The device vanishes ---------------------------------------------------------------

TEST_F(PinPadRecebe, DeviceVanishingGivesErrorsNotHangs) {
  peer.EsperaQuadro().Envia({kACK}).Pausa(150).FechaMestre().Inicia();
  ASSERT_EQ(PinPadEnviaComando("OPN", -1), PPCOMP_OK);
  char codigo[4];
  const auto t0 = Relogio::now();
  EXPECT_EQ(PinPadRecebeResposta(1, codigo, nullptr), PPCOMP_COMMERR);
  EXPECT_LT(Ms(Relogio::now() - t0), 10000);
  // Later calls keep failing quickly.
  const auto t1 = Relogio::now();
  EXPECT_EQ(PinPadEnviaComando("OPN", -1), PPCOMP_COMMERR);
  EXPECT_EQ(PinPadRecebeResposta(0, codigo, nullptr), PPCOMP_COMMERR);
  uint8_t b[4];
  EXPECT_EQ(PortaLe(100, b, sizeof b), -PPCOMP_COMMERR);
  EXPECT_LT(Ms(Relogio::now() - t1), 3000);
  EXPECT_EQ(PortaFecha(), PPCOMP_OK);
  EXPECT_EQ(PortaFecha(), PPCOMP_NOTOPEN);
  EXPECT_EQ(PinPadEnviaComando("OPN", -1), PPCOMP_NOTOPEN);
  peer.Termina();
}

TEST_F(PinPadEnvia, DeviceVanishingWhileWaitingForAck) {
  peer.EsperaQuadro().FechaMestre().Inicia();
  const auto t0 = Relogio::now();
  EXPECT_EQ(PinPadEnviaComando("OPN", -1), PPCOMP_COMMERR);
  EXPECT_LT(Ms(Relogio::now() - t0), 2000);
  peer.Termina();
}

// ---- The response limit runs on the monotonic clock ---------------------------------------

TEST_F(PinPadRecebe, ResponseLimitFollowsMonotonicSecondsOnly) {
  EnviaEAtende(peer, {});
  ASSERT_TRUE(peer.Termina());
  // A clock whose seconds the test moves; milliseconds stand still, so every
  // 100 ms read still waits in real time.
  std::atomic<int64_t> segundos{5000};
  std::atomic<bool> outroRelogio{false};
  ChamadasTeste sis;
  sis.DefineRelogio([&](clockid_t id, timespec* ts) {
    if (id != CLOCK_MONOTONIC) outroRelogio = true;
    ts->tv_sec = static_cast<time_t>(segundos.load());
    ts->tv_nsec = 999999999;
    return 0;
  });
  std::atomic<int32_t> resultado{-1};
  std::thread fio([&] {
    char codigo[4];
    resultado = PinPadRecebeResposta(1, codigo, nullptr);
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  segundos = 5010;  // exactly 10 s later: not yet over the limit
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  EXPECT_EQ(resultado.load(), -1);
  segundos = 5011;
  const auto t0 = Relogio::now();
  while (resultado.load() == -1 && Ms(Relogio::now() - t0) < 5000)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  fio.join();
  EXPECT_EQ(resultado.load(), PPCOMP_COMMERR);
  EXPECT_FALSE(outroRelogio.load());
}

// ---- Signals do not cut waits short -------------------------------------------------------

TEST_F(PinPadRecebe, SignalsDuringAnExchangeChangeNothing) {
  peer.EsperaQuadro()
      .Envia({kNAK})
      .EsperaQuadro()
      .Pausa(300)
      .Envia({kACK})
      .Pausa(300)
      .Envia(Quadro("OPN000"))
      .Inicia();
  SinaisFrequentes sinais(3000);
  const auto t0 = Relogio::now();
  EXPECT_EQ(PinPadEnviaComando("OPN", -1), PPCOMP_OK);
  char codigo[4];
  EXPECT_EQ(PinPadRecebeResposta(1, codigo, nullptr), PPCOMP_OK);
  // 60 + 500 + 60 + 300 + 300 ms at least.
  EXPECT_GE(Ms(Relogio::now() - t0), 1200);
  ASSERT_TRUE(peer.Termina());
  const auto r = peer.Recepcoes();
  ASSERT_EQ(r.size(), 2u);
  EXPECT_GE(Ms(r[1].ultimo - r[0].ultimo), 560);
  // An idle poll still answers after its 100 ms read, not with an error.
  const auto t1 = Relogio::now();
  EXPECT_EQ(PinPadRecebeResposta(0, codigo, nullptr), PPCOMP_PROCESSING);
  EXPECT_GE(Ms(Relogio::now() - t1), 95);
}

}  // namespace
