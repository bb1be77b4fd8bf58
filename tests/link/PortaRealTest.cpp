// The port as a real device needs it: one owner at a time, any descriptor
// number, output that has left before a timer starts, a close that discards
// what a stuck device did not take, and a device that vanishes and comes back.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "Fixtura.h"
#include "pinpad/sc5000.h"

using namespace testlink;

namespace {

std::string NomeDoPrograma() {
  std::ifstream f("/proc/self/comm");
  std::string nome;
  std::getline(f, nome);
  return nome;
}

// TIOCGEXCL: whether the terminal is in exclusive mode, seen through any handle.
int Exclusivo(int fd) {
  int v = -1;
  return ioctl(fd, TIOCGEXCL, &v) == 0 ? v : -1;
}

std::vector<unsigned long> PedidosIoctl(const ChamadasTeste& sis) {
  std::vector<unsigned long> r;
  for (const auto& e : sis.Eventos(Chamada::ioctl)) r.push_back(e.pedido);
  return r;
}

TEST(PortaPosse, HeldPortIsRefusedAndLeftAloneThenOwnedUntilClosed) {
  testutil::ResetaLibState();
  PeerPty peer;
  ASSERT_TRUE(peer.Valido());
  const std::string& caminho = peer.Caminho();

  // Another program holds the port: a descriptor of its own, with the lock.
  const int outro = open(caminho.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  ASSERT_GE(outro, 0);
  ASSERT_EQ(flock(outro, LOCK_EX | LOCK_NB), 0);
  termios antes{};
  ASSERT_EQ(tcgetattr(peer.Escravo(), &antes), 0);
  {
    ChamadasTeste sis;
    testing::internal::CaptureStderr();
    EXPECT_EQ(PortaAbre(caminho.c_str(), 19200), PPCOMP_PORTERR);
    const std::string erro = testing::internal::GetCapturedStderr();
    EXPECT_EQ(erro, "Erro 16[" + std::string(std::strerror(EBUSY)) + "] na abertura da " + caminho + "\n" + caminho +
                        ": port in use by pid " + std::to_string(getpid()) + " (" + NomeDoPrograma() + ")\n");
    EXPECT_EQ(LibState.serial.PortaPinPad, 0);
    // Nothing done to the holder's device: no settings, no discard, no byte.
    EXPECT_EQ(sis.Contagem(Chamada::tcsetattr), 0);
    EXPECT_EQ(sis.Contagem(Chamada::tcflush), 0);
    EXPECT_EQ(sis.Contagem(Chamada::write), 0);
    EXPECT_EQ(sis.Contagem(Chamada::ioctl), 0);
    EXPECT_EQ(sis.Contagem(Chamada::close), 1);
    termios depois{};
    ASSERT_EQ(tcgetattr(peer.Escravo(), &depois), 0);
    EXPECT_EQ(depois.c_lflag, antes.c_lflag);
    EXPECT_EQ(depois.c_cflag, antes.c_cflag);
    // SC5000 pinpads open their port the same way.
    testing::internal::CaptureStderr();
    EXPECT_EQ(SC5000AbrePorta(caminho.c_str()), PPCOMP_PORTERR);
    EXPECT_NE(testing::internal::GetCapturedStderr().find(": port in use by pid "), std::string::npos);
    EXPECT_EQ(sis.Contagem(Chamada::tcsetattr), 0);
  }
  close(outro);

  // Free again: the port opens and is ours until the close.
  ChamadasTeste sis;
  ASSERT_EQ(PortaAbre(caminho.c_str(), 19200), PPCOMP_OK);
  EXPECT_EQ(Exclusivo(peer.Escravo()), 1);
  const int terceiro = open(caminho.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  ASSERT_GE(terceiro, 0);  // root opens even an exclusive terminal: the lock is what stops it
  EXPECT_NE(flock(terceiro, LOCK_EX | LOCK_NB), 0);
  EXPECT_EQ(errno, EWOULDBLOCK);
  EXPECT_EQ(PedidosIoctl(sis), (std::vector<unsigned long>{TIOCEXCL}));

  sis.Limpa();
  ASSERT_EQ(PortaFecha(), PPCOMP_OK);
  // Unsent output is dropped before the settings go back; the exclusive mode
  // (which would outlive our descriptor: the peer holds the terminal too) and
  // the lock are given up before the descriptor closes.
  std::vector<std::string> ordem;
  for (const auto& e : sis.Eventos()) {
    switch (e.chamada) {
      case Chamada::tcflush: ordem.push_back(e.argumento == TCIOFLUSH ? "TCIOFLUSH" : "tcflush?"); break;
      case Chamada::tcsetattr: ordem.push_back("tcsetattr"); break;
      case Chamada::ioctl: ordem.push_back(e.pedido == TIOCNXCL ? "TIOCNXCL" : "ioctl?"); break;
      case Chamada::flock: ordem.push_back(e.argumento == LOCK_UN ? "LOCK_UN" : "flock?"); break;
      case Chamada::close: ordem.push_back("close"); break;
      default: break;
    }
  }
  EXPECT_EQ(ordem, (std::vector<std::string>{"TCIOFLUSH", "tcsetattr", "TIOCNXCL", "LOCK_UN", "close"}));
  EXPECT_EQ(Exclusivo(peer.Escravo()), 0);
  EXPECT_EQ(flock(terceiro, LOCK_EX | LOCK_NB), 0);
  close(terceiro);
  testutil::ResetaLibState();
}

// Waits used select, whose sets end at descriptor 1023: a port opened above
// that opened "successfully" and then failed every exchange.
TEST(PortaDescritor, PortAbove1023Works) {
  testutil::ResetaLibState();
  rlimit limite{};
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &limite), 0);
  if (limite.rlim_cur < 1200) {
    if (limite.rlim_max < 1200) GTEST_SKIP() << "descriptor limit below 1200";
    rlimit maior = limite;
    maior.rlim_cur = 1200;
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &maior), 0);
  }
  PeerPty peer;
  ASSERT_TRUE(peer.Valido());
  peer.EsperaBytes(3).Envia({'o', 'k'}).Inicia();
  std::vector<int> ocupados;
  for (int fd = open("/dev/null", O_RDONLY | O_CLOEXEC); fd >= 0 && fd < 1100;
       fd = open("/dev/null", O_RDONLY | O_CLOEXEC))
    ocupados.push_back(fd);
  ASSERT_EQ(PortaAbre(peer.Caminho().c_str(), 19200), PPCOMP_OK);
  EXPECT_GE(LibState.serial.PortaPinPad, 1024);
  const uint8_t pedido[3] = {'a', 'b', 'c'};
  EXPECT_EQ(PortaEscreve(pedido, 3), PPCOMP_OK);
  uint8_t b[2] = {};
  EXPECT_EQ(PortaLe(2000, b, 1), 1);
  EXPECT_EQ(PortaLe(2000, b + 1, 1), 1);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(b), 2), "ok");
  EXPECT_EQ(PortaFecha(), PPCOMP_OK);
  EXPECT_TRUE(peer.Termina());
  for (int fd : ocupados) close(fd);
  setrlimit(RLIMIT_NOFILE, &limite);
  testutil::ResetaLibState();
}

using PortaFilaSaida = LinkPty;

// A real UART's write returns once the bytes are queued. The pause before the
// last byte and the acknowledgement window start only when the queue has
// emptied; a queue that never empties holds the write no longer than its budget.
TEST_F(PortaFilaSaida, TimersStartOnceTheQueueIsEmptyBoundedByTheBudget) {
  peer.EsperaBytes(7).Inicia();
  const Bytes quadro = Quadro("OPN");
  {
    ChamadasTeste sis;
    // After each write the device reports bytes queued for its next 4 looks.
    int escritasVistas = 0, olhadas = 0;
    sis.DefineFilaSaida([&] {
      const int escritas = sis.Contagem(Chamada::write);
      if (escritas != escritasVistas) {
        escritasVistas = escritas;
        olhadas = 0;
      }
      return ++olhadas <= 4 ? 5 - olhadas : 0;
    });
    ASSERT_EQ(PortaEscreve(quadro.data(), static_cast<int32_t>(quadro.size())), PPCOMP_OK);
    // Sequence of writes (W) and queue looks (Q), all before the return.
    std::string seq;
    Relogio::time_point vazia{}, ultimoByte{};
    for (const auto& e : sis.Eventos()) {
      if (e.chamada == Chamada::write) {
        seq += 'W';
        if (e.dados.size() == 1) ultimoByte = e.quando;
      } else if (e.chamada == Chamada::ioctl && e.pedido == TIOCOUTQ) {
        seq += 'Q';
        if (ultimoByte == Relogio::time_point{}) vazia = e.quando;
      }
    }
    EXPECT_EQ(seq, "WQQQQQWQQQQQ");
    EXPECT_GE(Ms(ultimoByte - vazia), 10);
  }
  ASSERT_TRUE(peer.Termina());
  EXPECT_EQ(peer.Recebido(), quadro);
  {
    ChamadasTeste sis;
    sis.DefineFilaSaida([] { return 5; });  // a device that stopped sending
    const auto t0 = Relogio::now();
    SerialEscreve(LibState.serial.PortaPinPad, quadro.data(), static_cast<int32_t>(quadro.size()), 200);
    const auto dt = Ms(Relogio::now() - t0);
    EXPECT_GE(dt, 195);
    EXPECT_LT(dt, 600);
  }
}

// The device vanishes (unplugged; here the other end of the pseudo-terminal
// closes) and a new one appears on the same path. A caller that opens again
// without closing first gets the new device, whether or not it used the port
// since the device went.
TEST(PortaReconexao, OpenWithoutCloseAfterAReplugOpensTheNewDevice) {
  struct Caso {
    const char* titulo;
    bool usouAntes;  // a read saw the hang-up before the new open
  } casos[] = {{"hang-up seen by a read", true}, {"hang-up not seen yet", false}};
  for (const auto& c : casos) {
    SCOPED_TRACE(c.titulo);
    testutil::ResetaLibState();
    testutil::DiretorioTemp dir;
    const std::string caminho = dir.arquivo("pinpad");
    PeerPty primeiro;
    ASSERT_TRUE(primeiro.Valido());
    ASSERT_EQ(symlink(primeiro.Caminho().c_str(), caminho.c_str()), 0);
    ASSERT_EQ(PortaAbre(caminho.c_str(), 19200), PPCOMP_OK);
    primeiro.FechaMestre().Inicia();
    primeiro.Termina();
    uint8_t b[4];
    if (c.usouAntes) {
      EXPECT_EQ(PortaLe(100, b, sizeof b), -PPCOMP_COMMERR);
    }

    PeerPty segundo;
    ASSERT_TRUE(segundo.Valido());
    segundo.EsperaBytes(3).Inicia();
    ASSERT_EQ(unlink(caminho.c_str()), 0);
    ASSERT_EQ(symlink(segundo.Caminho().c_str(), caminho.c_str()), 0);
    EXPECT_EQ(PortaAbre(caminho.c_str(), 19200), PPCOMP_OK);
    const uint8_t pedido[3] = {'a', 'b', 'c'};
    EXPECT_EQ(PortaEscreve(pedido, 3), PPCOMP_OK);
    EXPECT_TRUE(segundo.Termina());
    EXPECT_EQ(segundo.Recebido(), (Bytes{'a', 'b', 'c'}));
    EXPECT_EQ(PortaFecha(), PPCOMP_OK);
  }
  testutil::ResetaLibState();
}

using PortaErroDispositivo = LinkPty;

// The errors of a vanished device make the next open start afresh even where
// the wait showed no hang-up; a read that only timed out does not.
TEST_F(PortaErroDispositivo, ReadErrorOfAVanishedDeviceMakesTheNextOpenStartAfresh) {
  uint8_t b[2] = {'a', 'b'};
  for (int erro : {EIO, ENXIO, ENODEV}) {
    SCOPED_TRACE(erro);
    ChamadasTeste sis;
    sis.Falha(Chamada::write, 1, erro);
    EXPECT_EQ(PortaEscreve(b, 2), PPCOMP_COMMERR);
    EXPECT_EQ(PortaAbre(peer.Caminho().c_str(), 19200), PPCOMP_OK);
    EXPECT_EQ(sis.Contagem(Chamada::close), 1);
    EXPECT_EQ(sis.Contagem(Chamada::open), 1);
  }
  ChamadasTeste sis;
  EXPECT_EQ(PortaLe(10, b, 1), 0);
  EXPECT_EQ(PortaAbre(peer.Caminho().c_str(), 19200), PPCOMP_OK);
  EXPECT_EQ(sis.Contagem(Chamada::open), 0);
  EXPECT_EQ(sis.Contagem(Chamada::close), 0);
}

}  // namespace
