// simpinpad as a separate process, driven over its pseudo-terminal by a tiny
// client that frames commands by hand.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <chrono>
#include <thread>

#include <openssl/evp.h>

#include "common/TestUtil.h"
#include "sim/ClienteSim.h"

using clientesim::Comando;
using clientesim::DeHex;
using clientesim::RespostaLida;
using clientesim::Simulador;

namespace {

constexpr char ACK = 0x06, NAK = 0x15, EOT = 0x04;

std::vector<std::string> Linhas(const std::string& texto) {
  std::vector<std::string> v;
  size_t p = 0;
  while (p < texto.size()) {
    size_t f = texto.find('\n', p);
    if (f == std::string::npos) f = texto.size();
    v.push_back(texto.substr(p, f - p));
    p = f + 1;
  }
  return v;
}

bool Contem(const std::string& texto, const std::string& trecho) { return texto.find(trecho) != std::string::npos; }

// Waits until the log holds the text (the simulator writes it as things happen).
std::string EsperaLog(const std::string& caminho, const std::string& trecho, int timeoutMs = 3000) {
  std::string s;
  for (int t = 0; t < timeoutMs; t += 10) {
    s = testutil::LeArquivo(caminho);
    if (Contem(s, trecho)) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return s;
}

TEST(SimPty, WorkedFramesByteForByte) {
  Simulador s;
  ASSERT_TRUE(s.Iniciou());
  EXPECT_EQ(s.Dispositivo().rfind("/dev/pts/", 0), 0u);
  s.Envia(DeHex("16 4F 50 4E 17 A8 A9"));
  EXPECT_EQ(s.Le(2000, 11), std::string(1, ACK) + DeHex("16 4F 50 4E 30 30 30 17 77 5E"));
  s.Envia(DeHex("16 47 49 4E 30 30 32 30 30 17 EE CA"));
  EXPECT_EQ(s.LeByte(2000), ACK);
  RespostaLida r;
  ASSERT_TRUE(clientesim::Decodifica(s.LeQuadro(2000), r));
  EXPECT_EQ(r.codigo, "GIN");
  EXPECT_EQ(r.status, 0);
  ASSERT_EQ(r.campos.size(), 1u);
  EXPECT_EQ(r.campos[0].size(), 100u);
  EXPECT_EQ(r.campos[0].substr(60, 4), "1.06");
  EXPECT_EQ(s.Termina(SIGINT), 0);
}

// The road of the compatibility tool, with the frames it sends and the log.
TEST(SimPty, ToolRoadWithScriptedOperatorAndLog) {
  testutil::DiretorioTemp dir;
  const std::string log = dir.arquivo("sim.log");
  Simulador s({"--log", log, "--teclas", "OK:0,F1:0", "--versao", "0.99", "--tecla-padrao", "NENHUMA"});
  ASSERT_TRUE(s.Iniciou());
  RespostaLida r;
  ASSERT_TRUE(s.Troca("OPN", {}, r));
  ASSERT_TRUE(s.Troca("GIN", {"00"}, r));
  EXPECT_EQ(r.campos.at(0).substr(60, 4), "0.99");
  ASSERT_TRUE(s.Troca("DSP", {"CONFIRMA TESTE  PINPAD?         "}, r));
  EXPECT_EQ(r.codigo, "DSP");
  // A start command is acknowledged now and answered when the operator acts.
  ASSERT_TRUE(s.Troca("GKY", {}, r));
  EXPECT_EQ(r.codigo, "GKY");
  EXPECT_EQ(r.status, 0);
  const std::string pedido = "102" "3F9A0C5E71B2D84A6E0F19C3B7D25A48" "1122334455667788";
  ASSERT_TRUE(s.Troca("ENB", {pedido}, r));
  EXPECT_EQ(r.status, 0);
  ASSERT_EQ(r.campos.size(), 1u);
  EXPECT_EQ(r.campos[0].size(), 16u);
  EXPECT_EQ(r.campos[0].find_first_not_of("0123456789ABCDEF"), std::string::npos);
  ASSERT_TRUE(s.Troca("GKY", {}, r));
  EXPECT_EQ(r.status, 4);  // F1
  // Script exhausted, no default key: the pinpad waits.
  s.Envia(Comando("GKY"));
  EXPECT_EQ(s.LeByte(1000), ACK);
  EXPECT_EQ(s.Le(300), "");
  ASSERT_TRUE(s.Troca("CLO", {std::string(32, ' ')}, r));
  EXPECT_EQ(s.Termina(), 0);

  const std::string texto = testutil::LeArquivo(log);
  auto linhas = Linhas(texto);
  ASSERT_GT(linhas.size(), 10u);
  EXPECT_EQ(linhas[0].rfind("# simpinpad /dev/pts/", 0), 0u);
  const std::string enb = Comando("ENB", {pedido});
  bool viuEnb = false;
  for (const auto& l : linhas) {
    if (!Contem(l, " RX QUADRO ") || !Contem(l, "ENB051")) continue;
    viuEnb = true;
    // seconds, direction, kind, hex, printable
    EXPECT_EQ(l.find(' '), l.find('.') + 7) << l;
    EXPECT_TRUE(Contem(l, " RX QUADRO 16 45 4E 42 30 35 31 31 30 32 ")) << l;
    EXPECT_TRUE(Contem(l, "|.ENB051" + pedido + "...|")) << l;
  }
  EXPECT_TRUE(viuEnb);
  EXPECT_TRUE(Contem(texto, " TX ACK 06 |.|\n"));
  EXPECT_TRUE(Contem(texto, " TX QUADRO 16 4F 50 4E 30 30 30 17 77 5E |.OPN000.w^|\n"));
  EXPECT_TRUE(Contem(texto, " -- DISPLAY |CONFIRMA TESTE  |PINPAD?         |\n"));
  EXPECT_TRUE(Contem(texto, " -- OPERADOR OK\n"));
  EXPECT_TRUE(Contem(texto, " -- OPERADOR F1\n"));
  EXPECT_TRUE(Contem(texto, " -- FIM\n"));
}

// Each command code: the answer's code, status and field sizes.
TEST(SimPty, EveryCommandAnswersItsLayout) {
  Simulador s({"--atraso-tecla", "0", "--pan", "4111111111111111"});
  ASSERT_TRUE(s.Iniciou());
  const std::string gpn = std::string("1" "02").append(32, '0') + "16" "4111111111111111   " "1" "0412" +
                          std::string("SENHA:") + std::string(26, ' ');
  std::string gcr = "00" "99" "000000001000" "261210" "120000" "0000000000" "00";
  const std::string goc1 = std::string(83, '0') + "000";
  struct Caso {
    const char* codigo;
    std::vector<std::string> campos;
    int status;
    std::vector<size_t> tamanhos;  // sizes of the answer's fields
  } casos[] = {
      {"OPN", {}, 0, {}},
      {"GIN", {"00"}, 0, {100}},
      {"DSP", {std::string(32, 'A')}, 0, {}},
      {"DEX", {"005ABCDE"}, 0, {}},
      {"DEX", {"0X5"}, 11, {}},
      {"GKY", {}, 0, {}},
      {"GPN", {gpn}, 0, {36}},
      {"GPN", {gpn.substr(0, 40)}, 11, {}},
      {"CKE", {"111"}, 0, {3}},
      {"ENB", {std::string("008").append(32, '0') + "1122334455667788"}, 0, {16}},
      {"ENB", {"0"}, 11, {}},
      {"GDU", {"302"}, 0, {20}},
      {"RMC", {std::string("RETIRE O CARTAO").append(17, ' ')}, 0, {}},
      {"GCR", {gcr}, 0, {307}},
      {"GOC", {goc1, "0029F26", "00195"}, 0, {45 + 36 + 3}},
      {"GOC", {goc1}, 11, {}},
      {"FNC", {"0000000000", "0029F27"}, 0, {1 + 3 + 8 + 2 + 3}},
      {"TLR", {"01"}, 21, {}},
      {"TLI", {"010123456789"}, 0, {}},
      {"TLR", {"01" "005AB"}, 0, {}},
      {"TLE", {}, 0, {}},
      {"GTS", {"01"}, 0, {10}},
      {"GTS", {"02"}, 0, {10}},
      {"DWK", {std::string("1").append(35, '0')}, 0, {}},
      {"DWK", {std::string("2").append(262, '0')}, 0, {264}},
      {"GEN", {"01004ABCD"}, 0, {4}},
      {"CHP", {"02002A4B0"}, 0, {7}},
      {"CNG", {"01AB"}, 0, {}},
      {"XYZ", {}, 10, {}},
      {"CLO", {std::string(32, ' ')}, 0, {}},
  };
  for (const auto& c : casos) {
    SCOPED_TRACE(c.codigo);
    RespostaLida r;
    ASSERT_TRUE(s.Troca(c.codigo, c.campos, r));
    EXPECT_EQ(r.codigo, c.codigo);
    EXPECT_EQ(r.status, c.status);
    ASSERT_EQ(r.campos.size(), c.tamanhos.size());
    for (size_t i = 0; i < c.tamanhos.size(); ++i) EXPECT_EQ(r.campos[i].size(), c.tamanhos[i]);
    if (std::string(c.codigo) == "GTS" && c.campos[0] == "01") {
      EXPECT_EQ(r.campos[0], "0123456789");
    }
    if (std::string(c.codigo) == "GEN") {
      EXPECT_EQ(r.campos[0], "ABCD");
    }
  }
}

TEST(SimPty, StartCommandsNotifyThenAnswer) {
  Simulador s({"--teclas", "CARTAO:50,CANCEL:0"});
  ASSERT_TRUE(s.Iniciou());
  auto t0 = std::chrono::steady_clock::now();
  s.Envia(Comando("GCR", {"00" "99" "000000001000" "261210" "120000" "0000000000" "00"}));
  EXPECT_EQ(s.LeByte(2000), ACK);
  RespostaLida r;
  ASSERT_TRUE(clientesim::Decodifica(s.LeQuadro(2000), r));
  EXPECT_EQ(r.codigo, "NTM");
  ASSERT_EQ(r.campos.size(), 1u);
  EXPECT_EQ(r.campos[0], "INSIRA OU PASSE O CARTAO");
  ASSERT_TRUE(clientesim::Decodifica(s.LeQuadro(2000), r));
  EXPECT_GE(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(45));  // the card came at 50 ms
  EXPECT_EQ(r.codigo, "GCR");
  EXPECT_EQ(r.status, 0);
  // PIN entry cancelled by the operator.
  const std::string gpn = "0" "08" + std::string(32, '0') + "16" "4111111111111111   " "0";
  ASSERT_TRUE(s.Troca("GPN", {gpn}, r));
  EXPECT_EQ(r.codigo, "GPN");
  EXPECT_EQ(r.status, 13);
}

TEST(SimPty, PinEntryWithoutKeyPromptsThenRefuses) {
  Simulador s({"--atraso-tecla", "0"});
  ASSERT_TRUE(s.Iniciou());
  s.Envia(Comando("GPN", {std::string(57, '0')}));  // index 00 holds no key
  EXPECT_EQ(s.LeByte(2000), ACK);
  RespostaLida r;
  ASSERT_TRUE(clientesim::Decodifica(s.LeQuadro(2000), r));
  EXPECT_EQ(r.codigo, "NTM");
  EXPECT_EQ(r.campos.at(0), "DIGITE A SENHA");
  ASSERT_TRUE(clientesim::Decodifica(s.LeQuadro(2000), r));
  EXPECT_EQ(r.codigo, "GPN");
  EXPECT_EQ(r.status, 11);
}

// The person at the terminal: keys as a terminal sends them, the display drawn.
TEST(SimPty, InteractiveOperatorKeysAndDisplay) {
  Simulador s({"--interativo"}, true);
  ASSERT_TRUE(s.Iniciou());
  RespostaLida r;
  ASSERT_TRUE(s.Troca("DSP", {"CONFIRMA TESTE  PINPAD?         "}, r));
  std::string tela = s.Tela(1000);
  for (int i = 0; i < 20 && !Contem(tela, "|PINPAD?         |"); ++i) tela += s.Tela(100);
  EXPECT_TRUE(Contem(tela, "+----------------+\n|CONFIRMA TESTE  |\n|PINPAD?         |\n+----------------+\n"));
  struct Caso {
    const char* teclas;
    int status;
  } casos[] = {{"\r", 0}, {"\x1bOQ", 5}, {"\x1b[13~", 6}, {"\x7f", 8}, {"\x1b", 13}, {"x\x1bOS", 7}};
  for (const auto& c : casos) {
    SCOPED_TRACE(testing::PrintToString(std::string(c.teclas)));
    s.Envia(Comando("GKY"));
    ASSERT_EQ(s.LeByte(2000), ACK);
    EXPECT_EQ(s.Le(100), "");  // nobody pressed anything yet
    s.Digita(c.teclas);
    ASSERT_TRUE(clientesim::Decodifica(s.LeQuadro(2000), r));
    EXPECT_EQ(r.codigo, "GKY");
    EXPECT_EQ(r.status, c.status);
  }
  s.Envia(Comando("GCR", {"00" "99" "000000001000" "261210" "120000" "0000000000" "00"}));
  ASSERT_EQ(s.LeByte(2000), ACK);
  ASSERT_TRUE(clientesim::Decodifica(s.LeQuadro(2000), r));
  EXPECT_EQ(r.codigo, "NTM");
  s.Digita("i");
  ASSERT_TRUE(clientesim::Decodifica(s.LeQuadro(2000), r));
  EXPECT_EQ(r.codigo, "GCR");
  EXPECT_EQ(r.campos.at(0).substr(0, 2), "03");  // chip card
  EXPECT_TRUE(Contem(s.Tela(200), "|INSIRA OU PASSE |\n|O CARTAO        |"));
}

TEST(SimPty, CancelByteIsAnsweredWithEot) {
  testutil::DiretorioTemp dir;
  Simulador s({"--tecla-padrao", "NENHUMA", "--log", dir.arquivo("l")});
  ASSERT_TRUE(s.Iniciou());
  s.Envia(Comando("GKY"));
  EXPECT_EQ(s.LeByte(2000), ACK);
  s.Envia("\x18");
  EXPECT_EQ(s.Le(2000, 1), std::string(1, EOT));
  EXPECT_EQ(s.Le(200), "");  // the key wait is gone
  RespostaLida r;
  ASSERT_TRUE(s.Troca("OPN", {}, r));
  EXPECT_TRUE(Contem(EsperaLog(dir.arquivo("l"), "RX CAN"), " RX CAN 18 |.|"));
}

TEST(SimPty, DamagedCommandDrawsNakAndGarbageIsSkipped) {
  Simulador s;
  ASSERT_TRUE(s.Iniciou());
  std::string ruim = Comando("OPN");
  ruim.back() = static_cast<char>(ruim.back() ^ 0x40);
  s.Envia(ruim);
  EXPECT_EQ(s.LeByte(2000), NAK);
  s.Envia("xy\xff" + Comando("OPN"));
  EXPECT_EQ(s.Le(2000, 11), std::string(1, ACK) + clientesim::Resposta("OPN", 0));
  // A bad answer asked again with NAK comes again.
  s.Envia(std::string(1, NAK));
  EXPECT_EQ(s.Le(2000, 10), clientesim::Resposta("OPN", 0));
}

// Fault flags, one at a time, as the library would see them.
TEST(SimPty, FaultNakThenAck) {
  testutil::DiretorioTemp dir;
  Simulador s({"--nak", "2@GIN", "--log", dir.arquivo("l")});
  ASSERT_TRUE(s.Iniciou());
  RespostaLida r;
  ASSERT_TRUE(s.Troca("OPN", {}, r));  // other commands are not touched
  for (int i = 0; i < 2; ++i) {
    s.Envia(Comando("GIN", {"00"}));
    EXPECT_EQ(s.LeByte(2000), NAK);
  }
  ASSERT_TRUE(s.Troca("GIN", {"00"}, r));
  EXPECT_EQ(r.status, 0);
  std::string texto = EsperaLog(dir.arquivo("l"), "FALHA nak 2/2");
  EXPECT_TRUE(Contem(texto, "-- FALHA nak 1/2\n"));
  EXPECT_TRUE(Contem(texto, "-- FALHA nak 2/2\n"));
}

TEST(SimPty, FaultNoAckAndSilenceAfterAck) {
  Simulador s({"--sem-ack", "1", "--mudo", "1"});
  ASSERT_TRUE(s.Iniciou());
  s.Envia(Comando("OPN"));
  EXPECT_EQ(s.Le(400), "");  // neither ACK nor answer
  s.Envia(Comando("OPN"));
  EXPECT_EQ(s.LeByte(2000), ACK);
  EXPECT_EQ(s.Le(400), "");  // then silence
  RespostaLida r;
  ASSERT_TRUE(s.Troca("OPN", {}, r));
}

TEST(SimPty, FaultBadCrcIsResentGoodAfterNak) {
  Simulador s({"--crc-errado", "1"});
  ASSERT_TRUE(s.Iniciou());
  s.Envia(Comando("OPN"));
  std::string b = s.Le(2000, 11);
  const std::string boa = clientesim::Resposta("OPN", 0);
  ASSERT_EQ(b.size(), 11u);
  EXPECT_EQ(b[0], ACK);
  EXPECT_EQ(b.substr(1, 9), boa.substr(0, 9));
  EXPECT_NE(b.substr(1), boa);
  s.Envia(std::string(1, NAK));
  EXPECT_EQ(s.Le(2000, 10), boa);
}

TEST(SimPty, FaultGarbageBeforeSyn) {
  Simulador s({"--lixo", "1"});
  ASSERT_TRUE(s.Iniciou());
  s.Envia(Comando("OPN"));
  EXPECT_EQ(s.LeByte(2000), ACK);
  std::string antes;
  EXPECT_EQ(s.LeQuadro(2000, &antes), clientesim::Resposta("OPN", 0));
  EXPECT_FALSE(antes.empty());
  EXPECT_EQ(antes.find('\x16'), std::string::npos);
}

TEST(SimPty, FaultCutFrameAndSlowAnswers) {
  Simulador s({"--corta", "1", "--lento", "300"});
  ASSERT_TRUE(s.Iniciou());
  auto t0 = std::chrono::steady_clock::now();
  s.Envia(Comando("OPN"));
  EXPECT_EQ(s.LeByte(2000), ACK);
  std::string meio = s.Le(2000, 5);
  EXPECT_GE(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(290));
  EXPECT_EQ(meio, clientesim::Resposta("OPN", 0).substr(0, 5));
  EXPECT_EQ(s.Le(300), "");  // the rest never comes
  t0 = std::chrono::steady_clock::now();
  s.Envia(Comando("OPN"));
  EXPECT_EQ(s.LeByte(2000), ACK);
  EXPECT_EQ(s.Le(2000, 10), clientesim::Resposta("OPN", 0));
  EXPECT_GE(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(290));
}

TEST(SimPty, FaultClosesTheDeviceAndExits) {
  testutil::DiretorioTemp dir;
  const std::string link = dir.arquivo("pinpad0");
  Simulador s({"--fecha", "2", "--link", link});
  ASSERT_TRUE(s.Iniciou());
  char alvo[256] = {};
  ASSERT_GT(readlink(link.c_str(), alvo, sizeof alvo - 1), 0);
  EXPECT_EQ(s.Dispositivo(), alvo);
  RespostaLida r;
  ASSERT_TRUE(s.Troca("OPN", {}, r));
  s.Envia(Comando("GIN", {"00"}));
  EXPECT_EQ(s.Le(500), "");
  EXPECT_EQ(s.Espera(3000), 0);
  struct stat st{};
  EXPECT_NE(lstat(link.c_str(), &st), 0);  // link removed on exit
}

// Every frame draws one of the cheap faults at 100 %: over a run of frames the
// log shows them struck, of several kinds; at 0 % none strikes.
TEST(SimPty, FaultsDrawnAtRandom) {
  for (const char* chance : {"100:5", "0"}) {
    SCOPED_TRACE(chance);
    testutil::DiretorioTemp dir;
    Simulador s({"--aleatorio", chance, "--log", dir.arquivo("l")});
    ASSERT_TRUE(s.Iniciou());
    for (int i = 0; i < 12; ++i) {
      s.Envia(Comando("OPN"));
      s.Le(50);
    }
    const std::string texto = EsperaLog(dir.arquivo("l"), "RX QUADRO", 3000);
    int tipos = 0;
    for (const char* f : {"FALHA nak ", "FALHA crc-errado ", "FALHA lixo ", "FALHA corta "})
      tipos += Contem(texto, f) ? 1 : 0;
    if (std::string(chance) == "0") {
      EXPECT_FALSE(Contem(texto, "FALHA"));
    } else {
      EXPECT_GE(tipos, 3) << texto;
    }
  }
}

// The device vanishes at the chosen frame and comes back on the same path,
// as a new device that answers; SIGUSR1 does the same at any moment.
TEST(SimPty, DeviceVanishesAndComesBackOnTheSamePath) {
  testutil::DiretorioTemp dir;
  const std::string link = dir.arquivo("pinpad0");
  Simulador s({"--some", "2", "--volta", "1000", "--link", link, "--log", dir.arquivo("l")});
  ASSERT_TRUE(s.Iniciou());
  RespostaLida r;
  ASSERT_TRUE(s.Troca("OPN", {}, r));
  const auto t0 = std::chrono::steady_clock::now();
  s.Envia(Comando("GIN", {"00"}));
  EXPECT_EQ(s.Le(200), "");  // no acknowledgement: the device went
  struct stat st{};
  bool sumiu = false;
  for (int i = 0; i < 100 && !sumiu; ++i) {
    sumiu = lstat(link.c_str(), &st) != 0;
    if (!sumiu) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  EXPECT_TRUE(sumiu);
  char alvo[256] = {};
  for (int i = 0; i < 300 && readlink(link.c_str(), alvo, sizeof alvo - 1) <= 0; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_GE(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(1000));
  ASSERT_NE(alvo[0], 0);
  EXPECT_NE(s.Dispositivo(), alvo);  // a new device
  EXPECT_TRUE(Contem(EsperaLog(dir.arquivo("l"), "FALHA some 1/1"), "-- FALHA some 1/1\n"));
}

TEST(SimPty, BaudPacingSpreadsTheAnswer) {
  Simulador s({"--baud", "9600"});
  ASSERT_TRUE(s.Iniciou());
  s.Envia(Comando("GIN", {"00"}));
  auto t0 = std::chrono::steady_clock::now();
  std::string b = s.Le(3000, 1 + 113);
  // 114 bytes of 10 bits at 9600 baud: about 119 ms.
  EXPECT_GE(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(100));
  EXPECT_EQ(b.size(), 114u);
}

// An SC5000 frame: start byte up to the end byte and its check byte.
std::string LeSC5000(Simulador& s, int timeoutMs) {
  std::string q;
  for (int c = s.LeByte(timeoutMs); c >= 0; c = s.LeByte(timeoutMs)) {
    q += static_cast<char>(c);
    if (q.size() >= 3 && (q[q.size() - 2] == 0x03 || q[q.size() - 2] == 0x0E)) break;
  }
  return q;
}

std::string DecifraDes(const std::string& chaveHex, const std::string& blocoHex) {
  std::string k = DeHex(chaveHex), c = DeHex(blocoHex), p(8, '\0');
  k += k + k;
  EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
  EVP_DecryptInit_ex(ctx, EVP_des_ede3_ecb(), nullptr, reinterpret_cast<const unsigned char*>(k.data()), nullptr);
  EVP_CIPHER_CTX_set_padding(ctx, 0);
  int n = 0;
  EVP_DecryptUpdate(ctx, reinterpret_cast<unsigned char*>(p.data()), &n,
                    reinterpret_cast<const unsigned char*>(c.data()), 8);
  EVP_CIPHER_CTX_free(ctx);
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string h;
  for (unsigned char b : p) h += std::string{kHex[b >> 4], kHex[b & 15]};
  return h;
}

TEST(SimPty, Sc5000Frames) {
  Simulador s({"--sc5000", "--teclas", "OK:0,CARTAO:0,CANCEL:0", "--serie", "ABC123", "--chave",
               "1=0123456789ABCDEF", "--pan", "4111111111111111"});
  ASSERT_TRUE(s.Iniciou());
  const char STX = 0x02, ETX = 0x03, SI = 0x0F, SO = 0x0E;
  const std::string fs(1, '\x1C');
  // Key selection: ACK, then EOT.
  s.Envia(clientesim::QuadroSC5000(SI, "08#001", SO));
  EXPECT_EQ(s.Le(2000, 2), (std::string{ACK, EOT}));
  const std::string pin = "Z62." + fs + "4111111111111111" + "0412NSenha" + fs + fs + " " + fs;
  s.Envia(clientesim::QuadroSC5000(STX, pin, ETX));
  EXPECT_EQ(s.LeByte(2000), ACK);
  std::string q = LeSC5000(s, 2000);
  ASSERT_EQ(q.size(), 27u);
  EXPECT_EQ(q, clientesim::QuadroSC5000(STX, q.substr(1, 24), ETX));
  EXPECT_EQ(q.substr(1, 8), "71000400");
  // Format-0 block of PIN 1234 and that account, under the selected master key.
  EXPECT_EQ(DecifraDes("0123456789ABCDEF", q.substr(9, 16)), "041225EEEEEEEEEE");
  // A damaged answer (as the library would see it) is sent again on NAK.
  s.Envia(std::string(1, NAK));
  EXPECT_EQ(LeSC5000(s, 2000), q);
  s.Envia(std::string(1, ACK));

  s.Envia(clientesim::QuadroSC5000(STX, "Q42001" + std::string(16, '0'), ETX));
  EXPECT_EQ(s.LeByte(2000), ACK);
  std::string c = LeSC5000(s, 2000);
  EXPECT_EQ(c, clientesim::QuadroSC5000(STX, "810" "4111111111111111=311220100000" + fs + "B4111111111111111^" +
                                                  "CLIENTE/SIMULADO^3112201" + "0000000000" + fs, ETX));
  s.Envia(std::string(1, ACK));

  // The operator cancels the next PIN entry: a lone EOT.
  s.Envia(clientesim::QuadroSC5000(STX, pin, ETX));
  EXPECT_EQ(s.Le(2000, 2), (std::string{ACK, EOT}));

  s.Envia(clientesim::QuadroSC5000(SI, "06", SO));
  EXPECT_EQ(s.LeByte(2000), ACK);
  EXPECT_EQ(LeSC5000(s, 2000), clientesim::QuadroSC5000(SI, "06ABC123", SO));
  s.Envia(clientesim::QuadroSC5000(STX, "72", ETX));
  EXPECT_EQ(s.LeByte(2000), ACK);
  EXPECT_EQ(LeSC5000(s, 2000), clientesim::QuadroSC5000(STX, "72", ETX));
  // The worked SC5000 example is a frame with a good check: acknowledged (and
  // answered with EOT, as an unknown text).
  s.Envia(DeHex("02 31 32 33 03 33"));
  EXPECT_EQ(s.Le(2000, 2), (std::string{ACK, EOT}));
  std::string ruim = DeHex("02 31 32 33 03 34");
  s.Envia(ruim);
  EXPECT_EQ(s.LeByte(2000), NAK);
}

}  // namespace
