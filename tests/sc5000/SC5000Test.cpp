// SC5000 operations over a real serial line: against simpinpad in SC5000 mode
// for the texts on the wire, and against a scripted peer on a pseudo-terminal for
// the answers a faulty or hostile pinpad could send.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "common/TestUtil.h"
#include "link/Serial.h"
#include "emv/ApoioE2E.h"
#include "pinpad/SC5000.h"
#include "pinpad/pinpad.h"
#include "pinpad/sc5000.h"
#include "state/LibState.h"
#include "tool/Processo.h"

namespace {

constexpr char STX = 0x02, ETX = 0x03, SI = 0x0F, SO = 0x0E;
const std::string fs(1, FS);

using apoioe2e::Consulta;
using apoioe2e::Contem;
using apoioe2e::Quadros;

std::string Quadro(char inicio, const std::string& texto, char fim) {
  std::string q = inicio + texto + fim;
  char lrc = 0;
  for (size_t i = 1; i < q.size(); ++i) lrc = static_cast<char>(lrc ^ q[i]);
  return q + lrc;
}

class SC5000 : public ::testing::Test {
 protected:
  void SetUp() override { testutil::ResetaLibState(); }
  void TearDown() override {
    SC5000FechaPorta();
    testutil::ResetaLibState();
  }
};

// About one serial number in 256 gives an SI/SO answer whose check byte is
// 0x03 (ETX): it is read like any other, and acknowledged.
TEST_F(SC5000, SerieComByteDeVerificacaoETX) {
  std::string serie;
  for (char a = '0'; a <= 'Z' && serie.empty(); ++a)
    for (char b = '0'; b <= 'Z' && serie.empty(); ++b) {
      const std::string s = std::string("SIM00000000000") + a + b;
      if (Quadro(SI, "06" + s, SO).back() == ETX) serie = s;
    }
  ASSERT_EQ(serie.size(), 16u);
  e2e::Simulador sim({"--sc5000", "--serie", serie});
  ASSERT_TRUE(sim.ativo());
  ASSERT_EQ(SC5000AbrePorta(sim.dispositivo().c_str()), PPCOMP_OK);
  char lido[17];
  std::memset(lido, 'x', sizeof lido);
  ASSERT_EQ(PP_SC5000_GetSerialNumber(lido), PPCOMP_OK);
  EXPECT_EQ(std::string(lido), serie);
  const auto enviados = Quadros(sim.log(), "TX SC5000");
  ASSERT_FALSE(enviados.empty());
  EXPECT_EQ(enviados.back(), Quadro(SI, "06" + serie, SO));
}

TEST_F(SC5000, PinSerieECartaoContraOSimulador) {
  e2e::Simulador sim({"--sc5000", "--chave", "1=0123456789ABCDEFFEDCBA9876543210", "--teclas", "OK,OK:5000,CARTAO:300"});
  ASSERT_TRUE(sim.ativo());
  ASSERT_EQ(SC5000AbrePorta(sim.dispositivo().c_str()), PPCOMP_OK);

  char serie[17];
  std::memset(serie, 'x', sizeof serie);
  ASSERT_EQ(PP_SC5000_GetSerialNumber(serie), PPCOMP_OK);
  EXPECT_STREQ(serie, "SIM0000000000001");
  EXPECT_EQ(PP_SC5000_Abort(), PPCOMP_OK);  // nothing pending after the serial number: nothing sent
  EXPECT_FALSE(Contem(Quadros(sim.log(), "RX SC5000"), "72"));

  ASSERT_EQ(PP_SC5000_StartGetPIN("1", "1234567890123456", nullptr), PPCOMP_OK);
  char bloco[17] = {};
  ASSERT_EQ(Consulta([&] { return PP_SC5000_GetPIN(bloco); }), PPCOMP_OK);
  EXPECT_EQ(std::strlen(bloco), 16u);

  ASSERT_EQ(PP_SC5000_StartGetPINEx("1", "1234567890123", nullptr, -1, 20), PPCOMP_OK);
  EXPECT_EQ(PP_SC5000_Abort(), PPCOMP_OK);  // pending now: "72" goes out

  auto rx = Quadros(sim.log(), "RX SC5000");
  ASSERT_GE(rx.size(), 6u);
  EXPECT_EQ(rx[0], Quadro(SI, "06", SO));
  EXPECT_EQ(rx[1], Quadro(SI, "08#001", SO));
  EXPECT_EQ(rx[2], Quadro(STX, "Z62." + fs + "1234567890123456" + "0412NSenha" + fs + fs + " " + fs, ETX));
  EXPECT_EQ(rx[3], Quadro(SI, "08#001", SO));
  EXPECT_EQ(rx[4], Quadro(STX, "Z62." + fs + "   1234567890123" + "0012NSenha" + fs + fs + " " + fs, ETX));
  EXPECT_EQ(rx[5], Quadro(STX, "72", ETX));

  // Card reading: the prompt, the command, then polling until the card is swiped.
  ASSERT_EQ(PP_StartGetCardCripto("2", "0123456789ABCDEF"), PPCOMP_OK);
  char t1[PP_SC5000_TAM_TRILHA], t2[PP_SC5000_TAM_TRILHA];
  int32_t r = PP_SC5000_GetCard(t1, t2);
  if (r == PPCOMP_PROCESSING) {  // the swipe comes later: no status, no display yet
    EXPECT_FALSE(Contem(Quadros(sim.log(), "RX QUADRO"), "DEX004001 "));
    r = Consulta([&] { return PP_SC5000_GetCard(t1, t2); });
  }
  ASSERT_EQ(r, PPCOMP_OK);
  EXPECT_STREQ(t2, "4761739001010010=311220100000");
  EXPECT_EQ(std::string(t1).rfind("B4761739001010010^", 0), 0u) << t1;
  auto quadros = Quadros(sim.log(), "RX QUADRO");
  EXPECT_TRUE(Contem(quadros, "DEX018015 Passe o Cartao"));
  EXPECT_TRUE(Contem(quadros, "DEX004001 "));
  EXPECT_TRUE(Contem(Quadros(sim.log(), "RX SC5000"), "Q42002" "0123456789ABCDEF"));

  EXPECT_EQ(SC5000EnviaG42("5", "ABC"), PPCOMP_OK);
  EXPECT_TRUE(Contem(Quadros(sim.log(), "RX QUADRO"), "G42019005             ABC"));
}

uint16_t Crc16(const std::string& d) {
  uint16_t crc = 0;
  for (unsigned char c : d) {
    crc ^= static_cast<uint16_t>(c << 8);
    for (int i = 0; i < 8; ++i) crc = static_cast<uint16_t>(crc & 0x8000 ? (crc << 1) ^ 0x1021 : crc << 1);
  }
  return crc;
}

// A pseudo-terminal whose far end the test writes by hand. Framed commands (the
// display prompts that go with card readings) are acknowledged and answered with
// status 000 by a small thread, so they cost no time-outs.
class Par {
 public:
  Par() {
    mestre_ = posix_openpt(O_RDWR | O_NOCTTY);
    if (mestre_ >= 0 && grantpt(mestre_) == 0 && unlockpt(mestre_) == 0) escravo_ = ptsname(mestre_);
    if (!escravo_.empty()) responde_ = std::thread([this] { Responde(); });
  }
  ~Par() {
    parar_ = true;
    if (responde_.joinable()) responde_.join();
    if (mestre_ >= 0) close(mestre_);
  }
  const std::string& escravo() const { return escravo_; }
  void Escreve(const std::string& b) { ASSERT_EQ(write(mestre_, b.data(), b.size()), static_cast<ssize_t>(b.size())); }

 private:
  void Responde() {
    std::string rx;
    while (!parar_) {
      pollfd p{mestre_, POLLIN, 0};
      if (poll(&p, 1, 20) <= 0 || !(p.revents & POLLIN)) continue;
      char b[512];
      ssize_t n = read(mestre_, b, sizeof b);
      if (n <= 0) continue;
      rx.append(b, static_cast<size_t>(n));
      size_t syn = rx.find('\x16');
      size_t etb = syn == std::string::npos ? syn : rx.find('\x17', syn);
      if (etb == std::string::npos || rx.size() < etb + 3) continue;
      std::string corpo = rx.substr(syn + 1, 3) + "000\x17";
      uint16_t crc = Crc16(corpo);
      std::string resposta = "\x06\x16" + corpo + static_cast<char>(crc >> 8) + static_cast<char>(crc & 0xFF);
      rx.erase(0, etb + 3);
      if (write(mestre_, resposta.data(), resposta.size()) < 0) break;
    }
  }
  int mestre_ = -1;
  std::string escravo_;
  std::atomic<bool> parar_{false};
  std::thread responde_;
};

// SC5000 pinpads talk at 19200 whatever speed the pinpad port is configured
// for: PP_Open follows the configuration, SC5000AbrePorta does not.
TEST_F(SC5000, PortaA19200QualquerQueSejaAVelocidadeConfigurada) {
  testutil::DiretorioTemp dir;
  const std::string ini = dir.caminho() + "/pinpad.ini";
  {
    std::ofstream f(ini);
    f << "[PinPad]\nVelocidadePinPad=115200\nHabilitaTrace=0\n";
  }
  ASSERT_EQ(DefineArquivoConfiguracao(ini.c_str()), PPCOMP_OK);
  ASSERT_EQ(CarregaConfiguracaoPinPad(), 0);  // no ChaveTrace
  struct Caso {
    const char* titulo;
    int32_t (*abre)(const char*);
    speed_t velocidade;
  } casos[] = {
      {"PP_Open", PP_Open, B115200},
      {"SC5000AbrePorta", SC5000AbrePorta, B19200},
  };
  for (const Caso& c : casos) {
    SCOPED_TRACE(c.titulo);
    Par par;
    ASSERT_FALSE(par.escravo().empty());
    ASSERT_EQ(c.abre(par.escravo().c_str()), PPCOMP_OK);
    termios config{};
    ASSERT_EQ(tcgetattr(LibState.serial.PortaPinPad, &config), 0);
    EXPECT_EQ(cfgetospeed(&config), c.velocidade);
    EXPECT_EQ(cfgetispeed(&config), c.velocidade);
    EXPECT_EQ(PortaFecha(), PPCOMP_OK);
  }
  FinalizaLibPinPad();  // PP_Open started the library: its trace context goes
}

TEST_F(SC5000, RespostasMalFormadasOuHostis) {
  Par par;
  ASSERT_FALSE(par.escravo().empty());
  ASSERT_EQ(SC5000AbrePorta(par.escravo().c_str()), PPCOMP_OK);  // blocking receives from here on

  char bloco[17];
  struct CasoPin {
    const char* titulo;
    std::string texto;
    int32_t esperado;
  } pins[] = {
      {"tamanho de senha 00", "7100" "00" "00" "0123456789ABCDEF", PPCOMP_COMMERR},
      {"outro identificador", "7200" "04" "00" "0123456789ABCDEF", PPCOMP_COMMERR},
      {"bloco incompleto", "7100" "04" "00" "0123", PPCOMP_COMMERR},
      {"bloco de 15 caracteres", "7100" "04" "00" "0123456789ABCDE", PPCOMP_COMMERR},
      {"resposta correta", "7100" "04" "00" "0123456789ABCDEF", PPCOMP_OK},
  };
  for (auto& c : pins) {
    std::memset(bloco, 'x', sizeof bloco);
    par.Escreve(Quadro(STX, c.texto, ETX));
    EXPECT_EQ(PP_SC5000_GetPIN(bloco), c.esperado) << c.titulo;
    if (c.esperado == PPCOMP_OK) {
      EXPECT_STREQ(bloco, "0123456789ABCDEF");
    } else {
      EXPECT_EQ(bloco[0], 'x') << c.titulo;  // nothing written
    }
  }

  char t1[32], t2[32];
  std::memset(t2, 'x', sizeof t2);
  std::memset(t1, 'x', sizeof t1);
  par.Escreve(Quadro(STX, "810" "T2DADOS" + fs + "T1DADOS", ETX));  // no second FS
  EXPECT_EQ(PP_SC5000_GetCardEx(t1, sizeof t1, t2, sizeof t2), PPCOMP_COMMERR);
  EXPECT_STREQ(t2, "T2DADOS");  // already copied
  EXPECT_EQ(t1[0], 'x');

  // A track longer than the caller's buffer is refused, never written past it.
  par.Escreve(Quadro(STX, "810" + std::string(200, '4') + fs + "T1" + fs, ETX));
  std::memset(t2, 'x', sizeof t2);
  EXPECT_EQ(PP_SC5000_GetCardEx(t1, sizeof t1, t2, sizeof t2), PPCOMP_COMMERR);
  EXPECT_EQ(t2[0], 'x');
  char g1[PP_SC5000_TAM_TRILHA], g2[PP_SC5000_TAM_TRILHA];
  par.Escreve(Quadro(STX, "810" + std::string(PP_SC5000_TAM_TRILHA, '4') + fs + "T1" + fs, ETX));
  EXPECT_EQ(PP_SC5000_GetCard(g1, g2), PPCOMP_COMMERR);
  par.Escreve(Quadro(STX, "810" + std::string(PP_SC5000_TAM_TRILHA - 1, '4') + fs + "T1" + fs, ETX));
  EXPECT_EQ(PP_SC5000_GetCard(g1, g2), PPCOMP_OK);
  EXPECT_EQ(std::strlen(g2), PP_SC5000_TAM_TRILHA - 1u);
  EXPECT_STREQ(g1, "T1");

  // An answer longer than the receive buffer is refused by the link, not copied.
  par.Escreve(Quadro(STX, "81" + std::string(1100, '5'), ETX));
  EXPECT_EQ(PP_SC5000_GetCardEx(t1, sizeof t1, t2, sizeof t2), PPCOMP_COMMERR);

  EXPECT_EQ(PP_SC5000_GetCardEx(nullptr, 10, t2, sizeof t2), PPCOMP_BADPARAM);
  EXPECT_EQ(PP_SC5000_StartGetPIN(nullptr, "1", nullptr), PPCOMP_BADPARAM);
  EXPECT_EQ(SC5000Mostra("010 curto"), PPCOMP_BADPARAM);  // shorter than its count
}

}  // namespace
