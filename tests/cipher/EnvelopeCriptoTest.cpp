#include <gtest/gtest.h>
#include <openssl/des.h>
#include <sys/stat.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "cipher/ConstantesCripto.h"
#include "cipher/Des.h"
#include "cipher/EnvelopeCripto.h"
#include "state/LibState.h"
#include "tests/cipher/CriptoTestUtil.h"

using criptotest::DeHex;
using criptotest::ParaHex;

namespace {

constexpr char kChave1[] = "0123456789ABCDEF";
constexpr char kChave2[] = "FEDCBA9876543210";
constexpr char kChave3[] = "89ABCDEF01234567";

std::vector<uint8_t> Bytes(const std::string& s) { return {s.begin(), s.end()}; }
std::string Texto(const std::vector<uint8_t>& v, int32_t n) {
  return n > 0 ? std::string(v.begin(), v.begin() + n) : std::string();
}

// Triple DES of one block with OpenSSL, keys in the order given, one flag per step.
std::string TriploOraculo(const char* padrao, const uint8_t* bloco) {
  const char* textos[3] = {kChave1, kChave2, kChave3};
  DES_cblock b;
  std::memcpy(b, bloco, 8);
  for (int i = 0; i < 3; ++i) {
    auto k = DeHex(textos[i]);
    DES_cblock c;
    std::memcpy(c, k.data(), 8);
    DES_key_schedule ks;
    DES_set_key_unchecked(&c, &ks);
    DES_cblock saida;
    DES_ecb_encrypt(&b, &saida, &ks, padrao[i] == 'e' ? DES_ENCRYPT : DES_DECRYPT);
    std::memcpy(b, saida, 8);
  }
  return ParaHex(b, 8);
}

std::string Cabecalho() {
  uint8_t c[8];
  std::memcpy(c, cripto::kConstanteCabecalho, 8);
  TransformaChave(c);
  return ParaHex(c, 8);
}

class Envelope : public ::testing::Test {
 protected:
  void SetUp() override {
    testutil::ResetaLibState();
    ASSERT_EQ(DefineChavesCripto(kChave1, kChave2, kChave3), 1);
  }
  void TearDown() override { testutil::ResetaLibState(); }
  std::string Log() const { return testutil::LeArquivo(cripto::kArquivoErro); }

  criptotest::NoDiretorioTemp dir_;
};

}  // namespace

TEST(TransformaChave, ChainsOnTheOriginalBytes) {
  uint8_t b[3] = {0x10, 0x20, 0x20};
  TransformaChave(b);
  // ((0x10 ^ 0) - K1) ^ K2, then ((0x20 ^ 0x10) - K1) ^ K2, then ((0x20 ^ 0x20) - K1) ^ K2.
  const uint8_t k1 = cripto::kTransformaK1, k2 = cripto::kTransformaK2;
  EXPECT_EQ(b[0], static_cast<uint8_t>(static_cast<uint8_t>(0x10 - k1) ^ k2));
  EXPECT_EQ(b[1], static_cast<uint8_t>(static_cast<uint8_t>(0x30 - k1) ^ k2));
  EXPECT_EQ(b[2], static_cast<uint8_t>(static_cast<uint8_t>(0x00 - k1) ^ k2));
}

TEST_F(Envelope, BlocksFollowTheAlternatingPatternsAndTailStaysClear) {
  const std::string msg = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  const auto* m = reinterpret_cast<const uint8_t*>(msg.data());
  const std::string cab = TriploOraculo("ede", reinterpret_cast<const uint8_t*>(DeHex(Cabecalho()).data()));
  struct Caso {
    size_t tamanho;
    std::string esperado;
  };
  auto h = [&](const char* p, size_t bloco) { return TriploOraculo(p, m + 8 * bloco); };
  const Caso casos[] = {
      {8, cab + h("ded", 0)},
      {9, cab + h("eee", 0) + "I"},
      {16, cab + h("ded", 0) + h("ede", 1)},
      {17, cab + h("ded", 0) + h("eee", 1) + "Q"},
      {32, cab + h("ded", 0) + h("ede", 1) + h("ded", 2) + h("ede", 3)},
      {31, cab + h("ded", 0) + h("ede", 1) + h("eee", 2) + "YZ01234"},
  };
  for (const auto& c : casos) {
    SCOPED_TRACE(c.tamanho);
    for (FormaDes forma : {FormaDes::Referencia, FormaDes::Rapida}) {
      std::vector<uint8_t> saida(2 * c.tamanho + 18);
      int32_t n = CifraEnvelopeForma(forma, std::span(m, c.tamanho), saida);
      EXPECT_EQ(Texto(saida, n), c.esperado);
      std::vector<uint8_t> volta((static_cast<size_t>(n) + 1) / 2);  // the least accepted
      int32_t v = DecifraEnvelopeForma(forma, std::span(saida.data(), static_cast<size_t>(n)), volta);
      EXPECT_EQ(Texto(volta, v), msg.substr(0, c.tamanho));
    }
  }
  EXPECT_EQ(cab.size(), 16u);
}

TEST_F(Envelope, ShortMessagesTravelUnchanged) {
  std::vector<uint8_t> saida(2 * 5 + 18);
  auto msg = Bytes("12345");
  ASSERT_EQ(CifraEnvelope(msg, saida), 5);
  EXPECT_EQ(Texto(saida, 5), "12345");
  std::vector<uint8_t> volta(6);  // one byte of the capacity stays unused
  ASSERT_EQ(DecifraEnvelope(std::span(saida.data(), 5), volta), 5);
  EXPECT_EQ(Texto(volta, 5), "12345");
}

TEST_F(Envelope, CapacityOfTwiceTheLengthPlus18IsEnoughAndOneLessIsRefused) {
  auto msg = Bytes("Mensagem de 23 bytes ok");
  std::vector<uint8_t> exata(2 * msg.size() + 18), curta(2 * msg.size() + 17);
  EXPECT_EQ(CifraEnvelope(msg, exata), static_cast<int32_t>(16 + 2 * 16 + 7));
  EXPECT_EQ(CifraEnvelope(msg, curta), -1);
  EXPECT_EQ(Log(), "TAM BUF SAIDA INV (E)");
}

TEST_F(Envelope, OtherKeysGiveMinusTwoBeforeAnyOutput) {
  auto msg = Bytes("PP_EncryptBuffer payload");
  std::vector<uint8_t> env(2 * msg.size() + 18);
  int32_t n = CifraEnvelope(msg, env);
  ASSERT_GT(n, 0);
  ASSERT_EQ(DefineChavesCripto(kChave1, kChave2, "0000000000000000"), 1);
  std::vector<uint8_t> saida(64, 0xEE);
  EXPECT_EQ(DecifraEnvelope(std::span(env.data(), static_cast<size_t>(n)), saida), -2);
  EXPECT_EQ(Log(), "HEADER / CHAVES NAO CONFEREM (D)");
  EXPECT_EQ(saida, std::vector<uint8_t>(64, 0xEE));
}

TEST_F(Envelope, ErrorLogHoldsOnlyTheLatestTextWithOwnerWriteBitsOnly) {
  std::vector<uint8_t> saida(100);
  EXPECT_EQ(CifraEnvelope({}, saida), -1);
  EXPECT_EQ(Log(), "TAM MSG INV (E)");
  EXPECT_EQ(DecifraEnvelope({}, saida), -1);
  EXPECT_EQ(Log(), "TAM MSG INV (D)");
  struct stat st{};
  ASSERT_EQ(stat(cripto::kArquivoErro, &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0200u);

  testutil::ResetaLibState();  // no keys
  auto msg = Bytes("12345678");
  EXPECT_EQ(CifraEnvelope(msg, saida), -1);
  EXPECT_EQ(Log(), "CHAVES INV (E)");
  EXPECT_EQ(DecifraEnvelope(msg, saida), -1);
  EXPECT_EQ(Log(), "CHAVES INV (D)");
}

TEST_F(Envelope, RoundTripsAtEveryLengthAndBothFormsAgree) {
  std::mt19937 gen(1291);
  for (size_t tam = 1; tam <= 1291; tam += (tam < 40 ? 1 : 37)) {
    std::vector<uint8_t> msg(tam);
    for (auto& b : msg) b = static_cast<uint8_t>(1 + gen() % 255);  // no zero byte
    std::vector<uint8_t> a(2 * tam + 18), b(2 * tam + 18);
    int32_t na = CifraEnvelopeForma(FormaDes::Referencia, msg, a);
    int32_t nb = CifraEnvelopeForma(FormaDes::Rapida, msg, b);
    ASSERT_GT(na, 0);
    ASSERT_EQ(na, nb);
    ASSERT_EQ(a, b);
    // The least capacity accepted: half the envelope, rounded up (or one more
    // than the short text itself).
    std::vector<uint8_t> volta(tam < 8 ? tam + 1 : (static_cast<size_t>(na) + 1) / 2);
    ASSERT_EQ(DecifraEnvelope(std::span(a.data(), static_cast<size_t>(na)), volta), static_cast<int32_t>(tam));
    ASSERT_TRUE(std::equal(msg.begin(), msg.end(), volta.begin()));
  }
}

TEST_F(Envelope, ZeroByteEndsItsBlock) {
  std::vector<uint8_t> msg = Bytes("ABCDEFGHIJKLMNOP");
  msg[3] = 0;
  std::vector<uint8_t> env(60), volta(24);
  int32_t n = CifraEnvelope(msg, env);
  ASSERT_EQ(n, 48);
  EXPECT_EQ(Texto(volta, DecifraEnvelope(std::span(env.data(), 48), volta)), "ABCIJKLMNOP");
}

TEST_F(Envelope, HostileEnvelopesAreRefusedWithinBounds) {
  auto msg = Bytes("Mensagem valida de teste, 33 byte");
  std::vector<uint8_t> env(2 * msg.size() + 18);
  const int32_t n = CifraEnvelope(msg, env);
  ASSERT_EQ(n, 16 + 4 * 16 + 1);
  const std::string bom(env.begin(), env.begin() + n);
  struct Caso {
    const char* titulo;
    std::string entrada;
    size_t capacidade;
    int32_t esperado;
    const char* log;
  };
  const Caso casos[] = {
      {"8 to 15 characters", "ABCDEF0123", 100, -1, "TAM MSG INV (D)"},
      {"remainder of 8 or more", bom.substr(0, 16 + 16 + 9), 100, -1, "TAM MSG INV (D)"},
      {"header only with 9 trailing", bom.substr(0, 25), 100, -1, "TAM MSG INV (D)"},
      {"garbage header", std::string(48, 'Z'), 100, -2, "HEADER / CHAVES NAO CONFEREM (D)"},
      {"odd header digit", "G" + bom.substr(1), 100, -2, "HEADER / CHAVES NAO CONFEREM (D)"},
      {"capacity below half", bom, 39, -1, "TAM BUF SAIDA INV (D)"},
      {"capacity of half rounded down", bom, 40, -1, "TAM BUF SAIDA INV (D)"},
      {"capacity of half rounded up", bom, 41, 33, nullptr},
      {"short text above capacity", "1234567", 3, -1, "TAM BUF SAIDA INV (D)"},
      {"header alone", bom.substr(0, 16), 10, 0, nullptr},
  };
  for (const auto& c : casos) {
    SCOPED_TRACE(c.titulo);
    RegistraErroCripto("");
    std::vector<uint8_t> entrada(c.entrada.begin(), c.entrada.end());  // exact size: ASan sees any overread
    std::vector<uint8_t> saida(c.capacidade);
    EXPECT_EQ(DecifraEnvelope(entrada, saida), c.esperado);
    if (c.log) {
      EXPECT_EQ(Log(), c.log);
    }
  }
}

// The capacity must reach half the envelope's length, with no rounding down
// for an odd length, and one byte of it always stays unused: a short message
// whose length equals the capacity is refused, so a caller that ends the text
// at the returned length stays inside its buffer.
TEST_F(Envelope, CapacityIsHalfTheLengthUnroundedAndOneByteStaysUnused) {
  auto msg = Bytes("123456789");
  std::vector<uint8_t> env(2 * msg.size() + 18);
  const int32_t n = CifraEnvelope(msg, env);
  ASSERT_EQ(n, 33);
  const std::string impar(env.begin(), env.begin() + n);
  struct Caso {
    const char* titulo;
    std::string entrada;
    size_t capacidade;
    int32_t esperado;
  };
  const Caso casos[] = {
      {"odd envelope, capacity of half rounded down", impar, 16, -1},
      {"odd envelope, capacity of half rounded up", impar, 17, 9},
      {"7 bytes into 7", "1234567", 7, -1},
      {"7 bytes into 8", "1234567", 8, 7},
      {"1 byte into 1", "1", 1, -1},
      {"1 byte into 2", "1", 2, 1},
      {"3 bytes (odd) into 1", "123", 1, -1},
  };
  for (const auto& c : casos) {
    SCOPED_TRACE(c.titulo);
    RegistraErroCripto("");
    std::vector<uint8_t> entrada(c.entrada.begin(), c.entrada.end());
    std::vector<uint8_t> saida(c.capacidade, 0xEE);
    const int32_t r = DecifraEnvelope(entrada, saida);
    EXPECT_EQ(r, c.esperado);
    if (r < 0) {
      EXPECT_EQ(Log(), "TAM BUF SAIDA INV (D)");
      EXPECT_EQ(saida, std::vector<uint8_t>(c.capacidade, 0xEE));
    } else {
      EXPECT_LT(static_cast<size_t>(r), c.capacidade);
    }
  }
}

TEST_F(Envelope, DefineChavesCriptoReadsHexAsThePeerDoes) {
  EXPECT_EQ(DefineChavesCripto("0123", kChave2, kChave3), 0);
  EXPECT_EQ(DefineChavesCripto(kChave1, nullptr, kChave3), 0);
  EXPECT_EQ(DefineChavesCripto(kChave1, kChave2, "0123456789ABCDEF0"), 0);
  EXPECT_EQ(ParaHex(LibState.cripto.ChaveCripto1, 8), kChave1);  // unchanged
  // Only 'A'-'F' count 10 to 15; any other character its low four bits.
  ASSERT_EQ(DefineChavesCripto("0123456789abcdef", "GHIJKLMNOPQRSTUV", kChave3), 1);
  EXPECT_EQ(ParaHex(LibState.cripto.ChaveCripto1, 8), "0123456789123456");
  EXPECT_EQ(ParaHex(LibState.cripto.ChaveCripto2, 8), "789ABCDEF0123456");
  EXPECT_EQ(ParaHex(LibState.cripto.CabecalhoCripto, 8), Cabecalho());
  EXPECT_EQ(LibState.cripto.ChaveCripto1[8], 0);
  EXPECT_EQ(LibState.cripto.CriptoIniciada, 1);
}

TEST_F(Envelope, FastFormFollowsKeyChanges) {
  auto msg = Bytes("Same message, two key sets");
  std::vector<uint8_t> a(80), b(80), c(80);
  int32_t n = CifraEnvelope(msg, a);
  ASSERT_EQ(DefineChavesCripto(kChave3, kChave2, kChave1), 1);
  ASSERT_EQ(CifraEnvelope(msg, b), n);
  ASSERT_EQ(CifraEnvelopeForma(FormaDes::Referencia, msg, c), n);
  EXPECT_NE(a, b);
  EXPECT_EQ(b, c);
  // Keys written straight into the fields are noticed too.
  LibState.cripto.ChaveCripto2[0] ^= 0x10;
  ASSERT_EQ(CifraEnvelope(msg, b), n);
  ASSERT_EQ(CifraEnvelopeForma(FormaDes::Referencia, msg, c), n);
  EXPECT_EQ(b, c);
}
