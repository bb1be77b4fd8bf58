// The simulator's engine on its own: check bytes, frames, the receive scanner,
// the encryption answers and the answer layouts.
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <memory>

#include "common/TestUtil.h"
#include "sim/SimComandos.h"
#include "sim/SimConfig.h"
#include "sim/SimCripto.h"
#include "sim/SimProtocolo.h"

namespace {

std::string Hex(const std::string& s) { return sim::HexEspacado(s); }

sim::ConfigSim ConfigPadrao() {
  sim::ConfigSim cfg;
  std::string msg;
  char prog[] = "simpinpad";
  char* argv[] = {prog, nullptr};
  EXPECT_EQ(sim::InterpretaArgumentos(1, argv, cfg, msg), 0);
  return cfg;
}

TEST(SimProtocolo, Crc16CheckValueAndWorkedFrames) {
  EXPECT_EQ(sim::Crc16("123456789"), 0x31C3);
  EXPECT_EQ(Hex(sim::MontaComando("OPN", {})), "16 4F 50 4E 17 A8 A9");
  EXPECT_EQ(Hex(sim::MontaComando("GIN", {"00"})), "16 47 49 4E 30 30 32 30 30 17 EE CA");
  EXPECT_EQ(Hex(sim::MontaResposta("OPN", 0, {})), "16 4F 50 4E 30 30 30 17 77 5E");
  EXPECT_EQ(Hex(sim::MontaQuadroSC5000(sim::STX, "123", sim::ETX)), "02 31 32 33 03 33");
}

TEST(SimProtocolo, SeparaCamposAcceptsWholeFieldsOnly) {
  std::vector<std::string> c;
  EXPECT_TRUE(sim::SeparaCampos("00200000002AB", c));
  ASSERT_EQ(c.size(), 3u);
  EXPECT_EQ(c[0], "00");
  EXPECT_EQ(c[1], "");
  EXPECT_EQ(c[2], "AB");
  EXPECT_TRUE(sim::SeparaCampos("", c));
  EXPECT_TRUE(c.empty());
  EXPECT_FALSE(sim::SeparaCampos("005AB", c));  // longer than what is left
  EXPECT_FALSE(sim::SeparaCampos("0x1A", c));   // not digits
  EXPECT_FALSE(sim::SeparaCampos("00", c));
}

TEST(SimProtocolo, RecebedorCutsGarbageFramesAndControlBytes) {
  sim::Recebedor rx(true);
  std::string quadro = sim::MontaComando("GIN", {"00"});
  std::string sc = sim::MontaQuadroSC5000(sim::SI, "06", sim::SO);
  std::string tudo = "ab" + quadro + "\x18" + sc;
  // Byte by byte, as a slow line delivers them.
  std::vector<sim::Evento> eventos;
  for (char c : tudo) {
    rx.Acrescenta(&c, 1);
    for (auto ev = rx.Proximo(); ev.tipo != sim::TipoEvento::Nada; ev = rx.Proximo()) eventos.push_back(ev);
  }
  // Garbage comes out as it arrives, here one byte at a time.
  ASSERT_EQ(eventos.size(), 5u);
  EXPECT_EQ(eventos[0].tipo, sim::TipoEvento::Lixo);
  EXPECT_EQ(eventos[1].tipo, sim::TipoEvento::Lixo);
  EXPECT_EQ(eventos[0].bytes + eventos[1].bytes, "ab");
  eventos.erase(eventos.begin());
  EXPECT_EQ(eventos[1].tipo, sim::TipoEvento::Quadro);
  EXPECT_EQ(eventos[1].bytes, quadro);
  EXPECT_EQ(eventos[2].tipo, sim::TipoEvento::Controle);
  EXPECT_EQ(eventos[3].tipo, sim::TipoEvento::SC5000);
  EXPECT_TRUE(rx.Vazio());
}

TEST(SimProtocolo, RecebedorFlagsBadChecksAndSkipsEtbInsideData) {
  sim::Recebedor rx(true);
  std::string ruim = sim::MontaComando("OPN", {});
  ruim.back() = static_cast<char>(ruim.back() ^ 1);
  rx.Acrescenta(ruim.data(), ruim.size());
  EXPECT_EQ(rx.Proximo().tipo, sim::TipoEvento::QuadroRuim);

  // A display text holding ETB: the frame ends at the ETB whose CRC matches.
  std::string comEtb = sim::MontaComando("DSP", {std::string("AB\x17XY") + std::string(27, ' ')});
  rx.Acrescenta(comEtb.data(), comEtb.size());
  auto ev = rx.Proximo();
  EXPECT_EQ(ev.tipo, sim::TipoEvento::Quadro);
  EXPECT_EQ(ev.bytes, comEtb);

  std::string sc = sim::MontaQuadroSC5000(sim::STX, "72", sim::ETX);
  sc.back() = static_cast<char>(sc.back() ^ 1);
  rx.Acrescenta(sc.data(), sc.size());
  EXPECT_EQ(rx.Proximo().tipo, sim::TipoEvento::SC5000Ruim);

  // A frame start that never ends is given up once longer than any frame.
  std::string semFim = "\x16" "OPN" + std::string(3000, 'x');
  rx.Acrescenta(semFim.data(), semFim.size());
  ev = rx.Proximo();
  EXPECT_EQ(ev.tipo, sim::TipoEvento::Lixo);
  EXPECT_EQ(ev.bytes.size(), semFim.size());
  EXPECT_TRUE(rx.Vazio());

  // Without the SC5000 switch STX is just garbage.
  sim::Recebedor so(false);
  std::string boa = sim::MontaQuadroSC5000(sim::STX, "72", sim::ETX);
  so.Acrescenta(boa.data(), boa.size());
  EXPECT_EQ(so.Proximo().tipo, sim::TipoEvento::Lixo);
}

// The simulator's own SC5000 scanner ends a frame at the end marker of the kind
// that began it: a check byte equal to the other kind's end marker is a check
// byte.
TEST(SimProtocolo, RecebedorEndsSC5000FramesAtTheirOwnEndMarker) {
  auto ComLrc = [](unsigned char inicio, const std::string& base, unsigned char fim, unsigned char lrc) {
    for (char a = '!'; a <= '~'; ++a)
      for (char b = '!'; b <= '~'; ++b) {
        std::string q = sim::MontaQuadroSC5000(inicio, base + a + b, fim);
        if (static_cast<unsigned char>(q.back()) == lrc) return q;
      }
    return std::string();
  };
  const std::string si = ComLrc(sim::SI, "08#0", sim::SO, sim::ETX);
  const std::string stx = ComLrc(sim::STX, "Q4200", sim::ETX, sim::SO);
  ASSERT_FALSE(si.empty());
  ASSERT_FALSE(stx.empty());
  sim::Recebedor rx(true);
  const std::string tudo = si + stx;
  rx.Acrescenta(tudo.data(), tudo.size());
  auto ev = rx.Proximo();
  EXPECT_EQ(ev.tipo, sim::TipoEvento::SC5000);
  EXPECT_EQ(ev.bytes, si);
  ev = rx.Proximo();
  EXPECT_EQ(ev.tipo, sim::TipoEvento::SC5000);
  EXPECT_EQ(ev.bytes, stx);
  EXPECT_TRUE(rx.Vazio());
}

// Published DES and two-key triple-DES known answers.
struct Vetor {
  const char* titulo;
  const char* chave;
  const char* entrada;
  const char* esperado;
};
constexpr Vetor kVetores[] = {
    {"DES worked example", "133457799BBCDFF1", "0123456789ABCDEF", "85E813540F0AB405"},
    {"DES 'Now is t'", "0123456789ABCDEF", "4E6F772069732074", "3FA40E8A984D4815"},
    {"DES zero key", "0000000000000000", "0000000000000000", "8CA64DE9C1B123A7"},
    {"DES single-length", "0123456789ABCDEF", "0123456789ABCDE7", "C95744256A5ED31D"},
    {"TDES double-length", "0123456789ABCDEFFEDCBA9876543210", "0123456789ABCDE7", "7F1D0A77826B8AFF"},
};

TEST(SimCripto, CifraDesMatchesKnownAnswersBothWays) {
  for (const auto& v : kVetores) {
    SCOPED_TRACE(v.titulo);
    std::string k, p, c, volta;
    ASSERT_TRUE(sim::HexParaBytes(v.chave, k));
    ASSERT_TRUE(sim::HexParaBytes(v.entrada, p));
    ASSERT_TRUE(sim::CifraDes(k, p, true, c));
    EXPECT_EQ(sim::BytesParaHex(c), v.esperado);
    ASSERT_TRUE(sim::CifraDes(k, c, false, volta));
    EXPECT_EQ(volta, p);
  }
  std::string out;
  EXPECT_FALSE(sim::CifraDes("1234567", "12345678", true, out));  // key size
  EXPECT_FALSE(sim::CifraDes("12345678", "1234567", true, out));  // partial block
}

// Working key wrapped under the master key, by the test's own call into libcrypto.
std::string Embrulha(const std::string& mestraHex, const std::string& trabalhoHex) {
  std::string k, p;
  sim::HexParaBytes(mestraHex, k);
  sim::HexParaBytes(trabalhoHex, p);
  if (k.size() == 8) k += k + k;
  if (k.size() == 16) k += k.substr(0, 8);
  std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)> ctx(EVP_CIPHER_CTX_new(), &EVP_CIPHER_CTX_free);
  EVP_EncryptInit_ex(ctx.get(), EVP_des_ede3_ecb(), nullptr, reinterpret_cast<const unsigned char*>(k.data()),
                     nullptr);
  EVP_CIPHER_CTX_set_padding(ctx.get(), 0);
  std::string c(p.size(), '\0');
  int n = 0;
  EVP_EncryptUpdate(ctx.get(), reinterpret_cast<unsigned char*>(c.data()), &n,
                    reinterpret_cast<const unsigned char*>(p.data()), static_cast<int>(p.size()));
  return sim::BytesParaHex(c);
}

TEST(SimCripto, EncryptionCommandAnswersKnownVectors) {
  sim::ConfigSim cfg = ConfigPadrao();
  std::string erro, saida;
  // Single DES, every step published: the working key 0123456789ABCDEF travels
  // encrypted as 85E813540F0AB405 under 133457799BBCDFF1; only its first half counts.
  ASSERT_TRUE(sim::AplicaOpcao(cfg, "chave", "08=133457799BBCDFF1", erro));
  EXPECT_EQ(sim::RespostaEnb(cfg, "008" "85E813540F0AB405FFFFFFFFFFFFFFFF" "4E6F772069732074", saida), 0);
  EXPECT_EQ(saida, "3FA40E8A984D4815");

  // Triple DES: the double-length working key of the published vector, wrapped
  // under a double-length master key.
  const std::string mestra = "0123456789ABCDEFFEDCBA9876543210";
  ASSERT_TRUE(sim::AplicaOpcao(cfg, "chave", "2=" + mestra, erro));
  std::string wk = Embrulha(mestra, "0123456789ABCDEFFEDCBA9876543210");
  EXPECT_EQ(sim::RespostaEnb(cfg, "102" + wk + "0123456789ABCDE7", saida), 0);
  EXPECT_EQ(saida, "7F1D0A77826B8AFF");
  // Single DES under a single-length working key wrapped by the 8-byte master of 08.
  ASSERT_TRUE(sim::AplicaOpcao(cfg, "chave", "8=0123456789ABCDEF", erro));
  wk = Embrulha("0123456789ABCDEF", "0123456789ABCDEF") + std::string(16, '0');
  EXPECT_EQ(sim::RespostaEnb(cfg, "008" + wk + "0123456789ABCDE7", saida), 0);
  EXPECT_EQ(saida, "C95744256A5ED31D");
}

TEST(SimCripto, EncryptionCommandRefusesBadRequests) {
  sim::ConfigSim cfg = ConfigPadrao();
  std::string erro, saida;
  const std::string wk(32, '0'), dados = "1122334455667788";
  ASSERT_TRUE(sim::AplicaOpcao(cfg, "sem-chave", "2", erro));
  struct Caso {
    const char* titulo;
    std::string pedido;
  } casos[] = {
      {"index without key", "102" + wk + dados},
      {"index never loaded", "133" + wk + dados},
      {"mode 2", "208" + wk + dados},
      {"index not digits", "1A8" + wk + dados},
      {"data not hex", "008" + wk + "11223344556677GG"},
      {"short block", "008" + wk + "1122"},
  };
  for (const auto& c : casos) {
    SCOPED_TRACE(c.titulo);
    EXPECT_EQ(sim::RespostaEnb(cfg, c.pedido, saida), 11);
    EXPECT_EQ(saida, "");
  }
  // The default keys let the usual request through.
  sim::ConfigSim padrao = ConfigPadrao();
  EXPECT_EQ(sim::RespostaEnb(padrao, "102" "3F9A0C5E71B2D84A6E0F19C3B7D25A48" "1122334455667788", saida), 0);
  EXPECT_EQ(saida.size(), 16u);
  EXPECT_EQ(sim::RespostaEnb(padrao, "008" "3F9A0C5E71B2D84A6E0F19C3B7D25A48" "1122334455667788", saida), 0);
}

TEST(SimCripto, PinBlockIsFormatZeroUnderTheKey) {
  // PIN 1234, account 4111111111111111: clear block 041234FFFFFFFFFF XOR
  // 0000111111111111 = 041225EEEEEEEEEE; decrypting the answer gives it back.
  std::string k, c, claro;
  sim::HexParaBytes("0123456789ABCDEF", k);
  std::string pb = sim::PinBlockCifrado("1234", "4111111111111111", k);
  ASSERT_EQ(pb.size(), 16u);
  ASSERT_TRUE(sim::HexParaBytes(pb, c));
  ASSERT_TRUE(sim::CifraDes(k, c, false, claro));
  EXPECT_EQ(sim::BytesParaHex(claro), "041225EEEEEEEEEE");
  EXPECT_EQ(sim::PinBlockCifrado("123", "4111111111111111", k), "");
}

TEST(SimComandos, InformationBlockCarriesVersionAtSixty) {
  sim::ConfigSim cfg = ConfigPadrao();
  std::string b = sim::BlocoInformacao(cfg);
  ASSERT_EQ(b.size(), 100u);
  EXPECT_EQ(b.substr(60, 4), "1.06");
  EXPECT_EQ(b.substr(0, 20), "SIMPINPAD           ");
  std::string erro;
  ASSERT_TRUE(sim::AplicaOpcao(cfg, "versao", "1.07", erro));
  ASSERT_TRUE(sim::AplicaOpcao(cfg, "tam-info", "62", erro));
  b = sim::BlocoInformacao(cfg);
  EXPECT_EQ(b.size(), 62u);
  EXPECT_EQ(b.substr(60), "1.");
  ASSERT_TRUE(sim::AplicaOpcao(cfg, "info", "XYZ", erro));
  ASSERT_TRUE(sim::AplicaOpcao(cfg, "tam-info", "5", erro));
  EXPECT_EQ(sim::BlocoInformacao(cfg), "XYZ  ");
}

TEST(SimComandos, CardAnswersHaveTheirFixedLayout) {
  sim::ConfigSim cfg = ConfigPadrao();
  std::string g = sim::RespostaGcr(cfg, false);
  ASSERT_EQ(g.size(), 307u);
  EXPECT_EQ(g.substr(0, 2), "00");
  EXPECT_EQ(g.substr(9, 2), "52");  // track 1 length
  EXPECT_EQ(g.substr(11, 52), sim::Trilha1(cfg));
  EXPECT_EQ(g.substr(87, 2), "29");
  EXPECT_EQ(g.substr(89, 29), "4761739001010010=311220100000");
  EXPECT_EQ(g.substr(126, 3), "000");
  EXPECT_EQ(g.substr(233, 21), "164761739001010010   ");
  EXPECT_EQ(g.substr(301), "311231");
  EXPECT_EQ(sim::RespostaGcr(cfg, true).substr(0, 2), "03");

  sim::ItemOperador f2{sim::AcaoOperador::Tecla, 5, -1, "F2"};
  EXPECT_EQ(sim::EventoCke(cfg, f2), "005");
  sim::ItemOperador cartao{sim::AcaoOperador::CartaoMagnetico, 0, -1, "CARTAO"};
  std::string ev = sim::EventoCke(cfg, cartao);
  EXPECT_EQ(ev.size(), 225u);
  EXPECT_EQ(ev.substr(0, 3), "152");
  sim::ItemOperador chip{sim::AcaoOperador::CartaoChip, 0, -1, "CHIP"};
  EXPECT_EQ(sim::EventoCke(cfg, chip), "21");
}

TEST(SimComandos, ChipAnswersCarryTlvOfTheListedTags) {
  sim::ConfigSim cfg = ConfigPadrao();
  // 9F26, 95 and an unknown tag DF01; optional 9F27 and 9F26 again.
  std::string tlv = sim::CampoTlv(cfg, "0069F2695DF01", "0049F279F26");
  EXPECT_EQ(tlv, "022" "9F26088A1C3F0E5D2B7A94" "95050000008000" "9F270180");
  std::string goc = sim::RespostaGoc(cfg, "0029F26", "00195");
  EXPECT_EQ(goc.substr(0, 6), "200001");
  EXPECT_EQ(goc.substr(42, 3), "018");
  EXPECT_EQ(goc.substr(45), "9F26088A1C3F0E5D2B7A94" "95050000008000" "000");
  EXPECT_EQ(sim::RespostaFnc(cfg, "0015A"), "0" "010" "5A084761739001010010" "00" "000");
  EXPECT_EQ(sim::RespostaFnc(cfg, "000"), "0" "000" "00" "000");
  std::string saida;
  EXPECT_EQ(sim::RespostaChp("01000", saida), 0);
  EXPECT_EQ(saida.substr(0, 3), "012");
  EXPECT_EQ(sim::RespostaChp("02002A4B0", saida), 0);
  EXPECT_EQ(saida, "0029000");
  EXPECT_EQ(sim::RespostaChp("09000", saida), 11);
}

TEST(SimComandos, DisplayTextsSplitIntoTwoLines) {
  std::string l[2];
  sim::TextoParaDisplay("CONFIRMA TESTE  PINPAD?         ", false, l);
  EXPECT_EQ(l[0], "CONFIRMA TESTE  ");
  EXPECT_EQ(l[1], "PINPAD?         ");
  sim::TextoParaDisplay("ABC\rDEF", true, l);
  EXPECT_EQ(l[0], "ABC             ");
  EXPECT_EQ(l[1], "DEF             ");
  sim::TextoParaDisplay("", false, l);
  EXPECT_EQ(l[0], std::string(16, ' '));
}

TEST(SimConfig, FlagsProfileAndOperatorScript) {
  testutil::DiretorioTemp dir;
  std::string perfil = dir.arquivo("p.ini");
  testutil::GravaArquivo(perfil,
                         "# pinpad of the lab\n[pinpad]\nversao = 1.07\nteclas = F1:10, CANCEL\n"
                         "chave = 5=00112233445566778899AABBCCDDEEFF\nnak = 2@ENB\n");
  std::string a0 = "simpinpad", a1 = "--perfil", a2 = perfil, a3 = "--versao=1.10";
  char* argv[] = {a0.data(), a1.data(), a2.data(), a3.data(), nullptr};
  sim::ConfigSim cfg;
  std::string msg;
  ASSERT_EQ(sim::InterpretaArgumentos(4, argv, cfg, msg), 0) << msg;
  EXPECT_EQ(cfg.versao, "1.10");  // the flag wins over the profile
  ASSERT_EQ(cfg.teclas.size(), 2u);
  EXPECT_EQ(cfg.teclas[0].codigo, 4);
  EXPECT_EQ(cfg.teclas[0].atrasoMs, 10);
  EXPECT_EQ(cfg.teclas[1].codigo, 13);
  EXPECT_EQ(cfg.chaves[5].size(), 16u);
  EXPECT_EQ(cfg.chaves[2].size(), 16u);  // defaults stay
  EXPECT_EQ(cfg.nak.restantes, 2);
  EXPECT_EQ(cfg.nak.comando, "ENB");

  struct Ruim {
    const char* opcao;
    const char* valor;
  } ruins[] = {{"teclas", "OK,F9"}, {"chave", "2=0123"}, {"chave", "100=0123456789ABCDEF"},
               {"nak", "x"},        {"senha", "12"},     {"baud", "-1"},
               {"tam-info", "1000"}, {"inexistente", "1"}, {"some", "-1"},
               {"volta", "x"},       {"aleatorio", "101"}, {"aleatorio", "5:x"}};
  for (const auto& r : ruins) {
    std::string erro;
    EXPECT_FALSE(sim::AplicaOpcao(cfg, r.opcao, r.valor, erro)) << r.opcao << "=" << r.valor;
    EXPECT_FALSE(erro.empty());
  }
  std::string a4 = "--help";
  char* ajuda[] = {a0.data(), a4.data(), nullptr};
  EXPECT_EQ(sim::InterpretaArgumentos(2, ajuda, cfg, msg), 1);
  for (const char* o : {"--link", "--log", "--versao", "--teclas", "--interativo", "--nak", "--sem-ack",
                        "--crc-errado", "--lixo", "--corta", "--mudo", "--lento", "--fecha", "--baud",
                        "--sc5000", "--perfil", "--chave", "--some", "--volta", "--aleatorio"})
    EXPECT_NE(msg.find(o), std::string::npos) << o;
}

}  // namespace
