// Serial driver and port operations, over a pty and through the recording
// system-call table.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <thread>

#include "Fixtura.h"

using namespace testlink;

namespace {

TEST(SerialAbre, PortNamesAndTheOpenFailureLine) {
  testutil::ResetaLibState();
  struct Caso {
    const char* porta;
    const char* dispositivo;
  } casos[] = {
      {"1", "/dev/ttyS0"},  {"2", "/dev/ttyS1"},          {"", "/dev/ttyS0"},
      {"0", "/dev/ttyS-1"}, {"/dev/ttyACM0", "/dev/ttyACM0"}, {"007", "/dev/ttyS6"},
  };
  for (const auto& c : casos) {
    ChamadasTeste sis;
    sis.Falha(Chamada::open, 1, ENOENT);
    testing::internal::CaptureStderr();
    EXPECT_EQ(PortaAbre(c.porta, 19200), PPCOMP_PORTERR) << c.porta;
    const std::string erro = testing::internal::GetCapturedStderr();
    const auto abertos = sis.Eventos(Chamada::open);
    ASSERT_EQ(abertos.size(), 1u);
    EXPECT_EQ(abertos[0].caminho, c.dispositivo);
    EXPECT_EQ(abertos[0].argumento, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    EXPECT_EQ(erro, std::string("Erro 2[") + std::strerror(ENOENT) + "] na abertura da " + c.dispositivo + "\n");
    EXPECT_EQ(LibState.serial.PortaPinPad, 0);
  }
}

TEST(SerialAbre, PortZeroReallyFails) {
  testutil::ResetaLibState();
  testing::internal::CaptureStderr();
  EXPECT_EQ(PortaAbre("0", 19200), PPCOMP_PORTERR);
  const std::string erro = testing::internal::GetCapturedStderr();
  EXPECT_NE(erro.find("na abertura da /dev/ttyS-1\n"), std::string::npos) << erro;
  EXPECT_EQ(erro.rfind("Erro ", 0), 0u);
  EXPECT_EQ(LibState.serial.PortaPinPad, 0);
}

TEST(SerialAbre, LineSettingsFromTheTables) {
  testutil::ResetaLibState();
  PeerPty peer;
  ASSERT_TRUE(peer.Valido());
  struct Caso {
    int32_t velocidade;
    char paridade;
    int32_t dados, parada;
    speed_t baud;
    tcflag_t paridadeFlags, tamanho, stop;
  } casos[] = {
      {5, 'n', 8, 1, B19200, 0, CS8, 0},
      {19200, 'x', 9, 0, B19200, 0, CS8, 0},
      {1, 'e', 7, 2, B1200, PARENB, CS7, CSTOPB},
      {8, 'o', 5, 1, B115200, PARENB | PARODD, CS5, 0},
      {57600, 'E', 6, 3, B57600, 0, CS6, 0},  // parity is lower case only
      {300, 'n', 8, 1, B300, 0, CS8, 0},
      {1800, 'n', 8, 1, B1800, 0, CS8, 0},
      {12345, 'n', 8, 1, B9600, 0, CS8, 0},
      {0, 'n', 8, 1, B9600, 0, CS8, 0},
  };
  // A pty keeps only the speed of what it is given (always 8 bits, no parity):
  // the settings are read from the call itself.
  for (const auto& c : casos) {
    ChamadasTeste sis;
    int32_t fd = -5;
    ASSERT_EQ(SerialAbre(&fd, peer.Caminho().c_str(), c.velocidade, c.paridade, c.dados, c.parada,
                         "RTS=1;DTR=1;BLOCANTE=0"),
              0);
    ASSERT_GT(fd, 0);
    EXPECT_NE(fcntl(fd, F_GETFL) & O_NONBLOCK, 0);
    SCOPED_TRACE(c.velocidade);
    const auto aplicados = sis.Eventos(Chamada::tcsetattr);
    ASSERT_EQ(aplicados.size(), 1u);
    EXPECT_EQ(aplicados[0].argumento, TCSANOW);
    const termios& t = aplicados[0].config;
    EXPECT_EQ(t.c_cflag & CBAUD, c.baud);
    EXPECT_EQ(t.c_cflag & (PARENB | PARODD), c.paridadeFlags);
    EXPECT_EQ(t.c_cflag & CSIZE, c.tamanho);
    EXPECT_EQ(t.c_cflag & CSTOPB, c.stop);
    EXPECT_EQ(t.c_cflag & ~(CBAUD | PARENB | PARODD | CSIZE | CSTOPB), static_cast<tcflag_t>(CREAD | CLOCAL));
    EXPECT_EQ(t.c_iflag, static_cast<tcflag_t>(IGNPAR));
    EXPECT_EQ(t.c_oflag, 0u);
    EXPECT_EQ(t.c_lflag, 0u);
    EXPECT_EQ(t.c_cc[VMIN], 0);
    EXPECT_EQ(t.c_cc[VTIME], 1);
    // The speed goes in through cfsetispeed/cfsetospeed, which also fill the
    // separate speed fields: a B constant OR-ed into c_cflag leaves them
    // empty here, and where speed_t is the baud number itself (newer C
    // libraries) it would set other control bits and a speed of 0.
    EXPECT_EQ(cfgetispeed(&t), c.baud);
    EXPECT_EQ(cfgetospeed(&t), c.baud);
    termios referencia{};
    cfsetispeed(&referencia, c.baud);
    cfsetospeed(&referencia, c.baud);
#ifdef _HAVE_STRUCT_TERMIOS_C_ISPEED
    EXPECT_EQ(t.c_ispeed, referencia.c_ispeed);
    EXPECT_EQ(t.c_ospeed, referencia.c_ospeed);
#endif
    EXPECT_EQ(t.c_cflag & ~(PARENB | PARODD | CSIZE | CSTOPB | CREAD | CLOCAL), referencia.c_cflag);
    termios real{};
    ASSERT_EQ(tcgetattr(peer.Escravo(), &real), 0);
    EXPECT_EQ(cfgetospeed(&real), c.baud);
    // Pending input was discarded after the device's settings were saved and
    // before the new ones were applied.
    std::vector<Chamada> ordem;
    for (const auto& e : sis.Eventos())
      if (e.chamada == Chamada::tcgetattr || e.chamada == Chamada::tcflush || e.chamada == Chamada::tcsetattr)
        ordem.push_back(e.chamada);
    EXPECT_EQ(ordem, (std::vector<Chamada>{Chamada::tcgetattr, Chamada::tcflush, Chamada::tcsetattr}));
    EXPECT_EQ(sis.Eventos(Chamada::tcflush)[0].argumento, TCIFLUSH);
    EXPECT_EQ(SerialFecha(&fd), 0);
    EXPECT_EQ(fd, 0);
  }
}

TEST(PortaAbre, SecondOpenKeepsTheFirstAndCloseRestores) {
  testutil::ResetaLibState();
  PeerPty peer, outro;
  termios antes{};
  ASSERT_EQ(tcgetattr(peer.Escravo(), &antes), 0);
  ASSERT_NE(antes.c_lflag, 0u);  // a fresh pty echoes and is canonical

  ASSERT_EQ(PortaAbre(peer.Caminho().c_str(), 9600), PPCOMP_OK);
  const int32_t fd = LibState.serial.PortaPinPad;
  EXPECT_EQ(PortaAbre(outro.Caminho().c_str(), 115200), PPCOMP_OK);
  EXPECT_EQ(LibState.serial.PortaPinPad, fd);
  termios durante{};
  ASSERT_EQ(tcgetattr(peer.Escravo(), &durante), 0);
  EXPECT_EQ(cfgetospeed(&durante), static_cast<speed_t>(B9600));
  EXPECT_EQ(durante.c_lflag, 0u);

  EXPECT_EQ(PortaFecha(), PPCOMP_OK);
  EXPECT_EQ(LibState.serial.PortaPinPad, 0);
  termios depois{};
  ASSERT_EQ(tcgetattr(peer.Escravo(), &depois), 0);
  EXPECT_EQ(depois.c_lflag, antes.c_lflag);
  EXPECT_EQ(depois.c_iflag, antes.c_iflag);
  EXPECT_EQ(depois.c_oflag, antes.c_oflag);
  EXPECT_EQ(depois.c_cflag, antes.c_cflag);
  EXPECT_EQ(std::memcmp(depois.c_cc, antes.c_cc, sizeof antes.c_cc), 0);
}

TEST(PortaAbre, ClosedPortOperations) {
  testutil::ResetaLibState();
  uint8_t b[4] = {1, 2, 3, 4};
  EXPECT_EQ(PortaFecha(), PPCOMP_NOTOPEN);
  EXPECT_EQ(PortaLe(100, b, 4), -PPCOMP_NOTOPEN);
  EXPECT_EQ(PortaEscreve(b, 4), PPCOMP_NOTOPEN);
  LibState.serial.PortaPinPad = -1;  // -1 also counts as closed
  EXPECT_EQ(PortaFecha(), PPCOMP_NOTOPEN);
  EXPECT_EQ(PortaAberta(-1), 0);
  EXPECT_EQ(PortaAberta(0), 0);
  EXPECT_EQ(PortaAberta(3), 1);
  int32_t zero = 0;
  EXPECT_EQ(SerialFecha(&zero), -2);
  EXPECT_EQ(SerialLe(0, b, 4, 10), -1);
  EXPECT_EQ(SerialEscreve(0, b, 4, 10), -1);
  EXPECT_EQ(SerialDefineTimeoutEscrita(-1), 0);
  EXPECT_EQ(LibState.serial.TimeoutEscritaSerial, -1);
}

// A process started with standard input (or all three standard descriptors)
// closed gets descriptor 0 from the open. The port cannot live there (0 means
// closed to the port operations, 1 and 2 take the program's own output): it is
// moved above 2, close-on-exec, and works; the low descriptors stay closed.
TEST(PortaAbre, DaemonWithStandardDescriptorsClosedOpensAbove2) {
  struct Caso {
    const char* titulo;
    int fechados;  // 0 .. fechados-1 are closed during the open
  } casos[] = {{"stdin closed", 1}, {"stdin, stdout and stderr closed", 3}};
  for (const auto& c : casos) {
    SCOPED_TRACE(c.titulo);
    testutil::ResetaLibState();
    PeerPty peer;
    ASSERT_TRUE(peer.Valido());
    peer.EsperaBytes(3).Inicia();
    int guardados[3] = {-1, -1, -1};
    for (int fd = 0; fd < c.fechados; ++fd) {
      guardados[fd] = fcntl(fd, F_DUPFD_CLOEXEC, 100);
      ASSERT_GE(guardados[fd], 0);
    }
    for (int fd = 0; fd < c.fechados; ++fd) close(fd);
    ChamadasTeste sis;
    const int32_t r = PortaAbre(peer.Caminho().c_str(), 19200);
    const int32_t porta = LibState.serial.PortaPinPad;
    const int flagsPorta = fcntl(porta, F_GETFD);
    bool baixosFechados = true;
    for (int fd = 0; fd < c.fechados; ++fd) baixosFechados = baixosFechados && fcntl(fd, F_GETFD) == -1;
    const uint8_t b[3] = {'a', 'b', 'c'};
    const int32_t escrita = PortaEscreve(b, 3);
    // The close discards what the peer has not read yet.
    for (int i = 0; i < 1000 && peer.Recebido().size() < 3; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    const int32_t fecha = PortaFecha();
    for (int fd = 0; fd < c.fechados; ++fd) {
      dup2(guardados[fd], fd);
      close(guardados[fd]);
    }
    EXPECT_EQ(r, PPCOMP_OK);
    EXPECT_GT(porta, 2);
    EXPECT_NE(flagsPorta & FD_CLOEXEC, 0);
    EXPECT_TRUE(baixosFechados);
    EXPECT_EQ(escrita, PPCOMP_OK);
    EXPECT_EQ(fecha, PPCOMP_OK);
    ASSERT_TRUE(peer.Termina());
    EXPECT_EQ(peer.Recebido(), (Bytes{'a', 'b', 'c'}));
    const auto movidos = sis.Eventos(Chamada::dupfd);
    ASSERT_EQ(movidos.size(), 1u);
    EXPECT_EQ(movidos[0].argumento, 3);
  }
  testutil::ResetaLibState();
}

// A path that is not a terminal (a typo naming a user's file, /dev/null)
// opens, but has no line settings to read: the open must fail before a single
// byte is written or a setting applied, with the usual line on standard error.
TEST(PortaAbre, NonTerminalFailsBeforeAnyWrite) {
  testutil::ResetaLibState();
  testutil::DiretorioTemp dir;
  const std::string arquivo = dir.arquivo("conteudo.txt");
  const std::string pasta = dir.arquivo("pasta");
  testutil::GravaArquivo(arquivo, "conteudo\n");
  ASSERT_EQ(mkdir(pasta.c_str(), 0700), 0);
  PeerPty peer;
  ASSERT_TRUE(peer.Valido());
  struct Caso {
    std::string caminho;
    int erro;
    bool tcgetattrFalso;  // the table fails tcgetattr on a real terminal
  } casos[] = {
      {arquivo, ENOTTY, false},
      {"/dev/null", ENOTTY, false},
      {pasta, EISDIR, false},  // a folder does not even open read-write
      {peer.Caminho(), ENOTTY, true},
  };
  for (const auto& c : casos) {
    SCOPED_TRACE(c.caminho);
    testutil::ResetaLibState();
    termios antes{};
    ASSERT_EQ(tcgetattr(peer.Escravo(), &antes), 0);
    ChamadasTeste sis;
    if (c.tcgetattrFalso) sis.Falha(Chamada::tcgetattr, 1, ENOTTY);
    testing::internal::CaptureStderr();
    EXPECT_EQ(PortaAbre(c.caminho.c_str(), 19200), PPCOMP_PORTERR);
    const std::string erro = testing::internal::GetCapturedStderr();
    EXPECT_EQ(erro, "Erro " + std::to_string(c.erro) + "[" + std::strerror(c.erro) + "] na abertura da " +
                        c.caminho + "\n");
    EXPECT_EQ(LibState.serial.PortaPinPad, 0);
    EXPECT_EQ(sis.Contagem(Chamada::write), 0);
    EXPECT_EQ(sis.Contagem(Chamada::tcflush), 0);
    EXPECT_EQ(sis.Contagem(Chamada::tcsetattr), 0);
    // Whatever opened was closed again, at once.
    const auto abertos = sis.Eventos(Chamada::open);
    ASSERT_EQ(abertos.size(), 1u);
    if (abertos[0].resultado >= 0) {
      const auto fechados = sis.Eventos(Chamada::close);
      ASSERT_EQ(fechados.size(), 1u);
      EXPECT_EQ(fechados[0].argumento, abertos[0].resultado);
      EXPECT_EQ(fechados[0].resultado, 0);
    }
    EXPECT_EQ(PortaFecha(), PPCOMP_NOTOPEN);
    termios depois{};
    ASSERT_EQ(tcgetattr(peer.Escravo(), &depois), 0);
    EXPECT_EQ(depois.c_lflag, antes.c_lflag);
    EXPECT_EQ(depois.c_cflag, antes.c_cflag);
  }
  EXPECT_EQ(testutil::LeArquivo(arquivo), "conteudo\n");

  // A real terminal still opens, and its settings are applied.
  {
    testutil::ResetaLibState();
    ChamadasTeste sis;
    ASSERT_EQ(PortaAbre(peer.Caminho().c_str(), 19200), PPCOMP_OK);
    EXPECT_GT(LibState.serial.PortaPinPad, 0);
    EXPECT_EQ(sis.Contagem(Chamada::tcsetattr), 1);
    EXPECT_EQ(PortaFecha(), PPCOMP_OK);
  }
  testutil::ResetaLibState();
}

using PortaLeTest = LinkPty;

TEST_F(PortaLeTest, ReadsWhatCameAndTimesOut) {
  uint8_t b[16];
  const auto t0 = Relogio::now();
  EXPECT_EQ(PortaLe(0, b, sizeof b), 0);
  EXPECT_LT(Ms(Relogio::now() - t0), 50);
  const auto t1 = Relogio::now();
  EXPECT_EQ(PortaLe(150, b, sizeof b), 0);
  EXPECT_GE(Ms(Relogio::now() - t1), 145);

  peer.Envia({'a', 'b', 'c'}).Inicia();
  EXPECT_EQ(PortaLe(2000, b, 2), 2);
  EXPECT_EQ(PortaLe(2000, b + 2, 10), 1);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(b), 3), "abc");
  peer.Termina();
}

TEST_F(PortaLeTest, InterruptedAndSpuriousReadsAreResumed) {
  ChamadasTeste sis;
  sis.Falha(Chamada::poll, 1, EINTR);
  sis.Falha(Chamada::read, 1, EAGAIN);
  peer.Pausa(50).Envia({'z'}).Inicia();
  uint8_t b[4];
  EXPECT_EQ(PortaLe(2000, b, sizeof b), 1);
  EXPECT_EQ(b[0], 'z');
  peer.Termina();
}

TEST_F(PortaLeTest, DeviceErrorsBecomeCommError) {
  uint8_t b[4];
  {
    ChamadasTeste sis;
    sis.Falha(Chamada::poll, 1, EBADF);
    EXPECT_EQ(PortaLe(100, b, sizeof b), -PPCOMP_COMMERR);
  }
  {
    ChamadasTeste sis;
    sis.Falha(Chamada::read, 1, EIO);
    peer.Envia({'q'}).Inicia();
    EXPECT_EQ(PortaLe(2000, b, sizeof b), -PPCOMP_COMMERR);
  }
  peer.Termina();
}

using PortaEscreveTest = LinkPty;

TEST_F(PortaEscreveTest, DiscardPauseAndLastBytePause) {
  ChamadasTeste sis;
  const Bytes quadro = Quadro("OPN");
  peer.EsperaBytes(quadro.size()).EsperaBytes(1).Inicia();
  EXPECT_EQ(PortaEscreve(quadro.data(), static_cast<int32_t>(quadro.size())), PPCOMP_OK);
  // The next write's discard could drop bytes still on their way to the peer.
  for (int i = 0; i < 500 && peer.Recebido().size() < quadro.size(); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  const uint8_t ack = kACK;
  EXPECT_EQ(PortaEscreve(&ack, 1), PPCOMP_OK);
  ASSERT_TRUE(peer.Termina());
  EXPECT_EQ(peer.Recebido(), Concatena({quadro, {kACK}}));

  // Per write: flush of both queues, >= 50 ms, the body, >= 10 ms, the last byte.
  const auto ev = sis.Eventos();
  std::vector<Evento> relevantes;
  for (const auto& e : ev)
    if (e.chamada == Chamada::tcflush || e.chamada == Chamada::write) relevantes.push_back(e);
  ASSERT_EQ(relevantes.size(), 5u);
  EXPECT_EQ(relevantes[0].chamada, Chamada::tcflush);
  EXPECT_EQ(relevantes[0].argumento, TCIOFLUSH);
  EXPECT_EQ(relevantes[1].dados, Bytes(quadro.begin(), quadro.end() - 1));
  EXPECT_GE(Ms(relevantes[1].quando - relevantes[0].quando), 50);
  EXPECT_EQ(relevantes[2].dados, Bytes{quadro.back()});
  EXPECT_GE(Ms(relevantes[2].quando - relevantes[1].quando), 10);
  // A single byte: 50 ms after the flush, then 10 ms before it goes.
  EXPECT_EQ(relevantes[3].chamada, Chamada::tcflush);
  EXPECT_EQ(relevantes[4].dados, Bytes{kACK});
  EXPECT_GE(Ms(relevantes[4].quando - relevantes[3].quando), 60);
}

TEST_F(PortaEscreveTest, ShortAndFailedWrites) {
  const Bytes quadro = Quadro("GIN00200");
  const int32_t n = static_cast<int32_t>(quadro.size());
  {
    // A short write is followed by the rest.
    ChamadasTeste sis;
    sis.EscritaCurta(1, 3);
    sis.Falha(Chamada::write, 2, EINTR);
    EXPECT_EQ(PortaEscreve(quadro.data(), n), PPCOMP_OK);
  }
  {
    // The device stops taking bytes: the budget runs out and the count is short.
    ChamadasTeste sis;
    sis.Falha(Chamada::write, 1, EAGAIN, true);
    LibState.serial.TimeoutEscritaSerial = 120;
    const auto t0 = Relogio::now();
    EXPECT_EQ(SerialEscreve(LibState.serial.PortaPinPad, quadro.data(), n, 120), 0);
    EXPECT_GE(Ms(Relogio::now() - t0), 115);
    EXPECT_EQ(PortaEscreve(quadro.data(), n), PPCOMP_COMMERR);
  }
  {
    ChamadasTeste sis;
    sis.Falha(Chamada::write, 1, EIO);
    LibState.serial.TimeoutEscritaSerial = 1000;
    EXPECT_EQ(PortaEscreve(quadro.data(), n), PPCOMP_COMMERR);
  }
  {
    // Waiting for the device fails: -1.
    ChamadasTeste sis;
    sis.Falha(Chamada::poll, 1, EBADF);
    EXPECT_EQ(SerialEscreve(LibState.serial.PortaPinPad, quadro.data(), n, 1000), -1);
  }
  {
    // The last byte is tried twice.
    ChamadasTeste sis;
    sis.Falha(Chamada::write, 2, EAGAIN);
    EXPECT_EQ(SerialEscreve(LibState.serial.PortaPinPad, quadro.data(), n, 1000), n);
    sis.Limpa();
    sis.Falha(Chamada::write, 2, EAGAIN, true);
    EXPECT_EQ(SerialEscreve(LibState.serial.PortaPinPad, quadro.data(), n, 200), n - 1);
  }
  EXPECT_EQ(SerialEscreve(LibState.serial.PortaPinPad, quadro.data(), 0, 1000), 0);
}

TEST_F(PortaEscreveTest, DeviceThatTakesNothingWithinTheBudget) {
  // The peer never reads: the pty's queue fills up and the budget ends the write.
  Bytes muito(1 << 20, 'x');
  const auto t0 = Relogio::now();
  const int32_t n = SerialEscreve(LibState.serial.PortaPinPad, muito.data(), static_cast<int32_t>(muito.size()), 300);
  const auto dt = Ms(Relogio::now() - t0);
  EXPECT_GT(n, 0);
  EXPECT_LT(n, static_cast<int32_t>(muito.size()));
  EXPECT_GE(dt, 295);
  EXPECT_LT(dt, 5000);
}

TEST_F(PortaEscreveTest, BlockingVariant) {
  const Bytes quadro = Quadro("OPN");
  const int32_t n = static_cast<int32_t>(quadro.size());
  {
    ChamadasTeste sis;
    sis.EscritaCurta(1, 2);
    peer.EsperaBytes(quadro.size()).Inicia();
    SerialDefineTimeoutEscrita(-1);
    EXPECT_EQ(PortaEscreve(quadro.data(), n), PPCOMP_OK);
    ASSERT_TRUE(peer.Termina());
    EXPECT_EQ(peer.Recebido(), quadro);
    const auto w = sis.Eventos(Chamada::write);
    ASSERT_EQ(w.size(), 3u);  // 2 bytes, the other 4 of the body, the last byte
    EXPECT_GE(Ms(w[1].quando - w[0].quando), 1);
  }
  {
    ChamadasTeste sis;
    sis.Falha(Chamada::write, 2, EIO);
    EXPECT_EQ(SerialEscreve(LibState.serial.PortaPinPad, quadro.data(), n, -1), n - 1);
  }
  {
    ChamadasTeste sis;
    sis.Falha(Chamada::write, 1, EIO);
    EXPECT_EQ(SerialEscreve(LibState.serial.PortaPinPad, quadro.data(), n, -1), 0);
  }
}

TEST_F(PortaEscreveTest, HungUpDeviceGivesCommError) {
  peer.FechaMestre().Inicia();
  peer.Termina();
  const uint8_t b[3] = {1, 2, 3};
  EXPECT_EQ(PortaEscreve(b, 3), PPCOMP_COMMERR);
  uint8_t r[3];
  EXPECT_EQ(PortaLe(1000, r, 3), -PPCOMP_COMMERR);
}

// ---- Pauses and signals -----------------------------------------------------------

TEST(EsperaMs, SignalsDoNotShortenPausesOrReads) {
  SinaisFrequentes sinais(2000);

  for (int ms : {1, 10, 50, 500}) {
    const auto t0 = Relogio::now();
    EsperaMs(ms);
    EXPECT_GE(Ms(Relogio::now() - t0), ms) << ms;
  }
  testutil::ResetaLibState();
  PeerPty peer;
  ASSERT_EQ(PortaAbre(peer.Caminho().c_str(), 19200), PPCOMP_OK);
  uint8_t b[4];
  const auto t0 = Relogio::now();
  EXPECT_EQ(PortaLe(300, b, sizeof b), 0);
  EXPECT_GE(Ms(Relogio::now() - t0), 300);
  const auto t1 = Relogio::now();
  EXPECT_EQ(PortaEscreve(b, 2), PPCOMP_OK);
  EXPECT_GE(Ms(Relogio::now() - t1), 60);
  PortaFecha();
}

TEST(EsperaMs, ResumesForWhatRemained) {
  testutil::ResetaLibState();
  ChamadasTeste sis;
  sis.Falha(Chamada::nanosleep, 1, EINTR);
  EsperaMs(20);
  EXPECT_EQ(sis.Contagem(Chamada::nanosleep), 2);
}

}  // namespace
