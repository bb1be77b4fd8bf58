#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "cipher/ConstantesCripto.h"
#include "cipher/EnvelopeCripto.h"
#include "link/CifraEnlace.h"
#include "state/LibState.h"
#include "tests/cipher/CriptoTestUtil.h"

namespace {

std::vector<uint8_t> Compacta(const std::string& s) {
  std::vector<uint8_t> v(s.size() + 8);
  int32_t n = CompactaTexto(s.data(), static_cast<int32_t>(s.size()), v.data(), static_cast<int32_t>(v.size()));
  v.resize(n < 0 ? 0 : static_cast<size_t>(n));
  return v;
}

std::string Expande(const std::vector<uint8_t>& v, size_t capacidade = 4096) {
  std::vector<char> s(capacidade);
  int32_t n = ExpandeTexto(v.data(), static_cast<int32_t>(v.size()), s.data(), static_cast<int32_t>(s.size()));
  return n < 0 ? "<erro>" : std::string(s.data(), static_cast<size_t>(n));
}

std::string Printavel(std::mt19937& gen, size_t n) {
  // Digits, zeros and spaces weighted up so every packing row is exercised.
  static const std::string favoritos = "0000000000          0123456789";
  std::string s(n, ' ');
  for (auto& c : s) c = (gen() % 2) ? favoritos[gen() % favoritos.size()] : static_cast<char>(32 + gen() % 95);
  return s;
}

}  // namespace

TEST(CompactaTexto, PacksEachRowAndExpandsBack) {
  struct Caso {
    const char* titulo;
    std::string texto;
    std::vector<uint8_t> esperado;
  };
  const Caso casos[] = {
      {"ten zeros", "0000000000", {109, 0, 0, 0, 0, 0, 0, 0}},
      {"digits and a space", "12 34", {12, 128, 34, 0, 0, 0, 0, 0}},
      {"leading zero pair", "05", {5, 0, 0, 0, 0, 0, 0, 0}},
      {"digit then letter", "7A", {0xB7, 0xC1, 0, 0, 0, 0, 0, 0}},
      {"digit then space", "7 ", {0xB7, 0xA0, 0, 0, 0, 0, 0, 0}},
      {"final digit", "AB3", {0xC1, 0xC2, 0xB3, 0, 0, 0, 0, 0}},
      {"29 zeros: a full run and one left", std::string(29, '0'), {127, 0xB0, 0, 0, 0, 0, 0, 0}},
      {"30 zeros", std::string(30, '0'), {127, 101, 0, 0, 0, 0, 0, 0}},
      {"33 spaces", std::string(33, ' '), {159, 128, 0, 0, 0, 0, 0, 0}},
      {"exactly 8 packed bytes", "1234567890123456", {12, 34, 56, 78, 90, 12, 34, 56}},
      {"empty", "", {}},
  };
  for (const auto& c : casos) {
    SCOPED_TRACE(c.titulo);
    EXPECT_EQ(Compacta(c.texto), c.esperado);
    EXPECT_EQ(Expande(c.esperado), c.texto);
  }
}

TEST(CompactaTexto, RandomPrintableTextRoundTrips) {
  std::mt19937 gen(7);
  for (int i = 0; i < 500; ++i) {
    std::string s = Printavel(gen, gen() % 300);
    auto v = Compacta(s);
    ASSERT_EQ(v.size() % 8, 0u);
    ASSERT_LE(v.size(), s.size() + 7);
    ASSERT_EQ(Expande(v, s.size()), s);  // exactly the room it needs
  }
}

TEST(CompactaTexto, BothDirectionsRespectTheirCapacity) {
  const std::string s = "ABCDEFGH";
  std::vector<uint8_t> curto(7);
  EXPECT_EQ(CompactaTexto(s.data(), 8, curto.data(), 7), -1);
  // One byte that expands to 32 spaces, into 31 bytes; then 28 zeros into 27.
  std::vector<uint8_t> espacos = {159}, zeros = {127};
  EXPECT_EQ(Expande(espacos, 31), "<erro>");
  EXPECT_EQ(Expande(espacos, 32), std::string(32, ' '));
  EXPECT_EQ(Expande(zeros, 27), "<erro>");
  std::vector<uint8_t> digitos = {12};
  EXPECT_EQ(Expande(digitos, 1), "<erro>");
  // A zero byte ends the text even when more bytes follow.
  EXPECT_EQ(Expande({0xC1, 0, 0xC2}), "A");
}

namespace {

constexpr char kChave1[] = "0123456789ABCDEF";
constexpr char kChave2[] = "FEDCBA9876543210";
constexpr char kChave3[] = "89ABCDEF01234567";

class CifraEnlace : public ::testing::Test {
 protected:
  void SetUp() override {
    testutil::ResetaLibState();
    ASSERT_EQ(DefineChavesCripto(kChave1, kChave2, kChave3), 1);
  }
  void TearDown() override { testutil::ResetaLibState(); }

  // The form of `msg` in a 2600-byte buffer; "<erro>" on failure.
  std::string Cifra(int32_t completa, const std::string& msg, const EntradaCifra* tabela = TabelaCifraEnvio) {
    std::vector<char> saida(kTamTrabalhoCifra);
    int32_t n = CifraMensagem(completa, tabela, msg.data(), static_cast<int32_t>(msg.size()), saida.data(),
                              static_cast<int32_t>(saida.size()));
    return n <= 0 ? "<erro>" : std::string(saida.data(), static_cast<size_t>(n));
  }
  // Result code and text of DecifraMensagem on `texto`, given exactly its size.
  std::pair<int32_t, std::string> Decifra(const std::string& texto, size_t capacidade = 1299) {
    std::vector<char> entrada(texto.begin(), texto.end()), saida(capacidade);
    int32_t n = DecifraMensagem(entrada.data(), static_cast<int32_t>(entrada.size()), saida.data(),
                                static_cast<int32_t>(saida.size()));
    return {n, n > 0 ? std::string(saida.data(), static_cast<size_t>(n)) : std::string()};
  }
  // Envelope of the packed form of `trecho`, as the optimised form carries it.
  std::string EnvelopeCompactado(const std::string& trecho) {
    auto c = Compacta(trecho);
    std::vector<uint8_t> env(2 * c.size() + 18);
    int32_t n = CifraEnvelope(c, env);
    return std::string(env.begin(), env.begin() + (n < 0 ? 0 : n));
  }

  criptotest::NoDiretorioTemp dir_;
};

std::string Campos(size_t n, char base = 'a') {
  std::string s;
  for (size_t i = 0; i < n; ++i) s += static_cast<char>(base + i % 26);
  return s;
}

}  // namespace

TEST_F(CifraEnlace, CompleteFormShortAndWholeMessages) {
  EXPECT_EQ(Cifra(1, "AB"), "QX:AB");
  EXPECT_EQ(Cifra(1, "ABCDE"), "ABCDE");
  const std::string oito = "OPN00012";
  const std::string env = Cifra(1, oito);
  EXPECT_EQ(env.size(), 32u);
  EXPECT_EQ(env.find_first_not_of("0123456789ABCDEF"), std::string::npos);
  EXPECT_EQ(Decifra(env).second, oito);
  EXPECT_EQ(Decifra("QX:AB").second, "AB");
  EXPECT_EQ(Decifra("ABCDE").second, "ABCDE");
}

TEST_F(CifraEnlace, CompleteFormFitsUpTo1291Bytes) {
  const std::string maximo = "ENB" + Campos(1288);
  const std::string env = Cifra(1, maximo);
  ASSERT_NE(env, "<erro>");
  EXPECT_EQ(Decifra(env, 1300).second, maximo);
  EXPECT_EQ(Cifra(1, maximo + "x"), "<erro>");
  EXPECT_EQ(testutil::LeArquivo(cripto::kArquivoErro), "TAM BUF SAIDA INV (E)");
}

TEST_F(CifraEnlace, OptimisedFormEnvelopesOnlyTheTableStretch) {
  // A command not in the table goes clear.
  EXPECT_EQ(Cifra(0, "DSP032Hello world"), "QX:DSP032Hello world");
  // "GPN" shorter than 9 + 53 characters goes clear; from 62 on, characters 9 to 61 travel packed.
  const std::string gpnCurto = "GPN" + Campos(58);
  EXPECT_EQ(Cifra(0, gpnCurto), "QX:" + gpnCurto);
  const std::string gpn = "GPN061012" + std::string("4111111111111111 00000000000000 VALOR 12,34 SENHA....") + "XY";
  ASSERT_EQ(gpn.size(), 64u);
  const std::string envGpn = EnvelopeCompactado(gpn.substr(9, 53));
  char campo[8];
  std::snprintf(campo, sizeof campo, "%03zu", envGpn.size());
  EXPECT_EQ(Cifra(0, gpn), std::string("QX:9:") + campo + ";F;" + gpn.substr(0, 9) + envGpn + "XY");
  // The worked "GOC" case: 100 characters whose stretch packs to 16 bytes.
  const std::string goc = "GOC" + Campos(33) + "12345678901234567890123456789012" + Campos(32, 'A');
  ASSERT_EQ(goc.size(), 100u);
  const std::string envGoc = Cifra(0, goc);
  EXPECT_EQ(envGoc.substr(0, 11), "QX:36:48;F;");
  EXPECT_EQ(envGoc.substr(11, 36), goc.substr(0, 36));
  EXPECT_EQ(envGoc.size(), 11u + 36 + 48 + 32);
  EXPECT_EQ(envGoc.substr(11 + 36 + 48), goc.substr(68));
  // "ENB" is packed and enveloped whole: nothing after the envelope.
  const std::string enb = "ENB051" + std::string("312") + std::string(32, '0') + "4E6F772069732074";
  const std::string envEnb = EnvelopeCompactado(enb);
  std::snprintf(campo, sizeof campo, "%03zu", envEnb.size());
  EXPECT_EQ(Cifra(0, enb), std::string("QX:0:") + campo + ";F;" + envEnb);
  for (const auto& m : {gpn, goc, enb, gpnCurto}) EXPECT_EQ(Decifra(Cifra(0, m)).second, m);
}

TEST_F(CifraEnlace, SecondEntryAlwaysUsesTheOptimisedFormAndItsTable) {
  std::vector<char> saida(kTamTrabalhoCifra);
  const std::string cke = "CKE012ABCDEFGHIJKL";
  int32_t n = CifraMensagemSecundaria(cke.data(), static_cast<int32_t>(cke.size()), saida.data(), 2600);
  ASSERT_GT(n, 0);
  const std::string forma(saida.data(), static_cast<size_t>(n));
  EXPECT_EQ(forma.substr(0, 5), "QX:0:");
  EXPECT_EQ(Decifra(forma).second, cke);
  const std::string gcr = "GCR" + Campos(15) + Campos(245, 'A') + "fim";
  n = CifraMensagemSecundaria(gcr.data(), static_cast<int32_t>(gcr.size()), saida.data(), 2600);
  ASSERT_GT(n, 0);
  EXPECT_EQ(std::string(saida.data(), 6), "QX:18:");
  EXPECT_EQ(Decifra(std::string(saida.data(), static_cast<size_t>(n))).second, gcr);
  // "ENB" is not in the second table.
  n = CifraMensagemSecundaria("ENB0001", 7, saida.data(), 2600);
  EXPECT_EQ(std::string(saida.data(), static_cast<size_t>(n)), "QX:ENB0001");
}

TEST_F(CifraEnlace, RandomMessagesRoundTripInBothForms) {
  std::mt19937 gen(653);
  const char* comandos[] = {"ENB", "GPN", "GOC", "DSP", "OPN", "GIN"};
  for (int i = 0; i < 300; ++i) {
    std::string m = std::string(comandos[gen() % 6]) + Printavel(gen, gen() % 200);
    for (int completa : {0, 1}) {
      std::string forma = Cifra(completa, m);
      ASSERT_NE(forma, "<erro>") << m;
      ASSERT_EQ(Decifra(forma).second, m) << forma;
    }
  }
}

TEST_F(CifraEnlace, HostileTextsGetNegativeResultsWithinBounds) {
  const std::string bom = Cifra(0, "GOC" + Campos(33) + "12345678901234567890123456789012" + Campos(32, 'A'));
  const std::string env = bom.substr(11 + 36, 48);
  struct Caso {
    const char* titulo;
    std::string texto;
    int32_t esperado;
  };
  const Caso casos[] = {
      {"no ':' in the pair", "QX:36F;" + env, -1},
      {"no ';' after the length", "QX:0:48F;" + env, -1},
      {"offset past the end", "QX:90:48;F;" + env, -1},
      {"length past the end", "QX:0:49;F;" + env, -1},
      {"length does not match an envelope", "QX:0:40;F;" + env, -1},
      {"offsets out of order", "QX:48:8;0:48;F;" + env + "12345678", -1},
      {"number too long", "QX:0000000000000:48;F;" + env, -1},
      {"empty numbers", "QX::;F;" + env, -1},
      {"odd hexadecimal count", "QX:0:47;F;" + env.substr(0, 47), -1},
      {"stretch from other keys", "QX:0:48;F;" + std::string(48, 'A'), -2},
      {"bare garbage", std::string(40, '#'), -1},
  };
  for (const auto& c : casos) {
    SCOPED_TRACE(c.titulo);
    EXPECT_EQ(Decifra(c.texto).first, c.esperado);
  }
  // Output capacity is respected: the clear form, the clear part before a
  // stretch, and the expansion of a stretch.
  EXPECT_EQ(Decifra("QX:ABCDEFGHIJ", 9).first, -1);
  EXPECT_EQ(Decifra("QX:ABCDEFGHIJ", 10).second, "ABCDEFGHIJ");
  EXPECT_EQ(Decifra(bom, 67).first, -1);
  EXPECT_EQ(Decifra(bom, 100).second.size(), 100u);
  const std::string zeros = Cifra(0, "ENB" + std::string(200, '0'));
  EXPECT_EQ(Decifra(zeros, 202).first, -1);
  EXPECT_EQ(Decifra(zeros, 203).second, "ENB" + std::string(200, '0'));
}

TEST_F(CifraEnlace, ClearMessageContainingFSemicolonStaysClear) {
  EXPECT_EQ(Decifra("QX:GCR000;4111F;=2512?").second, "GCR000;4111F;=2512?");
  EXPECT_EQ(Decifra("QX:DSP").second, "DSP");
  EXPECT_EQ(Decifra("QX:F;abc").second, "abc");  // an empty header
}

// ---- PinPadEscreve / PinPadLe with an in-process host ----

namespace {

struct HostFalso {
  int32_t resultadoComando = 0;
  int32_t resultadoRecebe = 0;
  std::string recebido;  // last text handed to FuncaoHostComando
  int32_t operacao = 0;
  int32_t chamadasComando = 0;
  std::string resposta;  // what FuncaoHostRecebe writes (up to 2600 bytes, terminator included if it fits)
  int32_t argumentos[4] = {};
  uint8_t celula = 0xFF;
};
HostFalso g_host;

int32_t ComandoFalso(int32_t operacao, const char* texto) {
  ++g_host.chamadasComando;
  g_host.operacao = operacao;
  g_host.recebido = texto ? texto : "";
  return g_host.resultadoComando;
}

int32_t RecebeFalso(int32_t a, int32_t operacao, int32_t b, int32_t capacidade, uint8_t* celula, char* buffer) {
  g_host.argumentos[0] = a;
  g_host.argumentos[1] = operacao;
  g_host.argumentos[2] = b;
  g_host.argumentos[3] = capacidade;
  g_host.celula = *celula;
  std::memcpy(buffer, g_host.resposta.data(), std::min<size_t>(g_host.resposta.size(), 2600));
  return g_host.resultadoRecebe;
}

class PinPadHost : public CifraEnlace {
 protected:
  void SetUp() override {
    CifraEnlace::SetUp();
    g_host = HostFalso{};
    LibState.api.FuncaoHostComando = ComandoFalso;
    LibState.api.FuncaoHostRecebe = RecebeFalso;
  }
  std::pair<int32_t, std::string> Le(int32_t capacidade = 1300) {
    std::vector<char> b(static_cast<size_t>(capacidade), 'x');
    int32_t n = PinPadLe(kOpHostRecebeResposta, b.data(), capacidade);
    if (n > 0) {
      EXPECT_EQ(b[static_cast<size_t>(n)], '\0');
    }
    return {n, n > 0 ? std::string(b.data(), static_cast<size_t>(n)) : std::string()};
  }
};

}  // namespace

TEST_F(PinPadHost, SendHandsTheEnvelopedTextToTheHostAndPassesItsResult) {
  const std::string msg = "ENB051312" + std::string(32, '0') + "4E6F772069732074";
  for (int32_t resultado : {0, 7}) {
    g_host.resultadoComando = resultado;
    EXPECT_EQ(PinPadEscreve(kOpHostEnviaComando, msg.data(), static_cast<int32_t>(msg.size())), resultado);
    EXPECT_EQ(g_host.operacao, kOpHostEnviaComando);
    EXPECT_EQ(Decifra(g_host.recebido).second, msg);
    EXPECT_EQ(g_host.recebido.size(), 16u + 16 * 7 + 1);  // whole envelope in complete form (57 bytes)
  }
  g_host.resultadoComando = -4;
  EXPECT_EQ(PinPadEscreve(kOpHostEnviaSC5000, "08ABC", 5), PPCOMP_COMMERR);
  EXPECT_EQ(g_host.operacao, kOpHostEnviaSC5000);
  EXPECT_EQ(g_host.recebido, "08ABC");

  // Optimised form: "DSP" goes clear.
  LibState.api.CriptografiaCompleta = 0;
  g_host.resultadoComando = 0;
  EXPECT_EQ(PinPadEscreve(kOpHostEnviaComando, "DSP005Hello", 11), 0);
  EXPECT_EQ(g_host.recebido, "QX:DSP005Hello");
}

TEST_F(PinPadHost, MessageAbove1291BytesIsNotSent) {
  const std::string longa = "GIN" + Campos(1289);
  EXPECT_EQ(PinPadEscreve(kOpHostEnviaComando, longa.data(), static_cast<int32_t>(longa.size())), PPCOMP_QXCRIPTERR);
  EXPECT_EQ(g_host.chamadasComando, 0);
  EXPECT_EQ(testutil::LeArquivo(cripto::kArquivoErro), "TAM BUF SAIDA INV (E)");
  EXPECT_EQ(PinPadEscreve(kOpHostEnviaComando, longa.data(), 1291), 0);
  EXPECT_EQ(g_host.chamadasComando, 1);
}

TEST_F(PinPadHost, ReceiveDecryptsTheHostsTextAndMapsItsFailures) {
  const std::string resposta = "ENB00001612345678ABCDEF01";
  g_host.resposta = Cifra(1, resposta) + '\0';
  auto [n, texto] = Le();
  EXPECT_EQ(n, static_cast<int32_t>(resposta.size()));
  EXPECT_EQ(texto, resposta);
  EXPECT_EQ(g_host.argumentos[0], 40);
  EXPECT_EQ(g_host.argumentos[1], kOpHostRecebeResposta);
  EXPECT_EQ(g_host.argumentos[2], 0);
  EXPECT_EQ(g_host.argumentos[3], 2599);
  EXPECT_EQ(g_host.celula, 0);

  // Optimised answers are read whatever the local setting.
  g_host.resposta = "QX:GIN000" + std::string(1, '\0');
  EXPECT_EQ(Le().second, "GIN000");

  g_host.resposta = std::string(1, '\0');
  EXPECT_EQ(Le().first, 0);  // nothing arrived

  struct Caso {
    const char* titulo;
    int32_t resultado;
    std::string texto;
    int32_t esperado;
  };
  const Caso casos[] = {
      {"host cancels", -13, "", -13},
      {"host fails", -1, "", -31},
      {"other keys", 0, std::string(48, 'A') + '\0', -100},
      {"malformed header", 0, "QX:1F;abc" + std::string(1, '\0'), -100},
      {"unterminated 2600 bytes", 0, std::string(2600, 'Q'), -100},
  };
  for (const auto& c : casos) {
    SCOPED_TRACE(c.titulo);
    g_host.resultadoRecebe = c.resultado;
    g_host.resposta = c.texto;
    EXPECT_EQ(Le().first, c.esperado);
  }
  // An answer longer than the caller's buffer (less its terminator) is refused.
  g_host.resultadoRecebe = 0;
  g_host.resposta = Cifra(1, resposta) + '\0';
  EXPECT_EQ(Le(static_cast<int32_t>(resposta.size())).first, -100);
}

TEST_F(PinPadHost, KeysComeFromTheKeyFileOnFirstUseAndAFailedLoadIsRetried) {
  testutil::ResetaLibState();
  LibState.api.FuncaoHostComando = ComandoFalso;
  LibState.api.FuncaoHostRecebe = RecebeFalso;
  EXPECT_EQ(PinPadEscreve(kOpHostEnviaComando, "OPN000", 6), PPCOMP_QXCRIPTERR);
  EXPECT_EQ(Le().first, -100);
  EXPECT_EQ(testutil::LeArquivo(cripto::kArquivoErro), "ERRO ABERT ARQ");
  EXPECT_EQ(g_host.chamadasComando, 0);

  const std::string comando = testutil::DiretorioProgramas() + "/geractl grava QXCLICTL.BIN " + kChave1 + " " +
                              kChave2 + " " + kChave3 + " >/dev/null 2>&1";
  ASSERT_EQ(std::system(comando.c_str()), 0);
  const std::string msg = "OPN000AB";
  EXPECT_EQ(PinPadEscreve(kOpHostEnviaComando, msg.data(), 8), 0);
  EXPECT_EQ(LibState.cripto.CriptoIniciada, 1);
  // The peer holding the same keys reads it.
  EXPECT_EQ(Decifra(g_host.recebido).second, msg);
}
