#include <gtest/gtest.h>
#include <openssl/des.h>

#include <cstring>
#include <random>

#include "cipher/Des.h"
#include "state/LibState.h"
#include "tests/cipher/CriptoTestUtil.h"

using criptotest::DeHex;
using criptotest::ParaHex;

namespace {

struct VetorDes {
  const char* titulo;
  const char* chave;
  const char* entrada;
  const char* esperado;
};

// Published DES known-answer vectors.
constexpr VetorDes kVetores[] = {
    {"Now is t", "0123456789ABCDEF", "4E6F772069732074", "3FA40E8A984D4815"},
    {"zeros", "0000000000000000", "0000000000000000", "8CA64DE9C1B123A7"},
    {"ones", "FFFFFFFFFFFFFFFF", "FFFFFFFFFFFFFFFF", "7359B2163E4EDC58"},
    {"key 30..", "3000000000000000", "1000000000000001", "958E6E627A05557B"},
    {"all 11", "1111111111111111", "1111111111111111", "F40379AB9E0EC533"},
    {"0123.. on 11", "0123456789ABCDEF", "1111111111111111", "17668DFC7292532D"},
    {"worked example", "133457799BBCDFF1", "0123456789ABCDEF", "85E813540F0AB405"},
    {"to zero", "0E329232EA6D0D73", "8787878787878787", "0000000000000000"},
};

void DesOpenSsl(int direcao, const uint8_t* entrada, const uint8_t* chave, uint8_t* saida) {
  DES_cblock k;
  std::memcpy(k, chave, 8);
  DES_key_schedule ks;
  DES_set_key_unchecked(&k, &ks);
  DES_cblock in, out;
  std::memcpy(in, entrada, 8);
  DES_ecb_encrypt(&in, &out, &ks, direcao == DES_CIFRA ? DES_ENCRYPT : DES_DECRYPT);
  std::memcpy(saida, out, 8);
}

std::span<const uint8_t, 8> S8(const std::vector<uint8_t>& v) { return std::span<const uint8_t, 8>(v.data(), 8); }

}  // namespace

TEST(DesBloco, PublishedVectorsBothDirectionsBothForms) {
  for (const auto& v : kVetores) {
    SCOPED_TRACE(v.titulo);
    auto chave = DeHex(v.chave), entrada = DeHex(v.entrada), esperado = DeHex(v.esperado);
    uint8_t saida[8];
    DesBloco(DES_CIFRA, S8(entrada), S8(chave), saida);
    EXPECT_EQ(ParaHex(saida, 8), v.esperado);
    DesBloco(DES_DECIFRA, S8(esperado), S8(chave), saida);
    EXPECT_EQ(ParaHex(saida, 8), v.entrada);

    EscalaDes escala;
    DesPreparaEscala(S8(chave), escala);
    DesBlocoRapido(DES_CIFRA, escala, S8(entrada), saida);
    EXPECT_EQ(ParaHex(saida, 8), v.esperado);
    DesBlocoRapido(DES_DECIFRA, escala, S8(esperado), saida);
    EXPECT_EQ(ParaHex(saida, 8), v.entrada);
  }
}

TEST(DesBloco, ParityBitsAreIgnoredAndInputIsKept) {
  auto chave = DeHex("0123456789ABCDEF");
  auto entrada = DeHex("4E6F772069732074");
  auto copia = entrada;
  for (int mascara : {0x00, 0x01}) {
    std::vector<uint8_t> k = chave;
    for (auto& b : k) b = static_cast<uint8_t>((b & 0xFE) | mascara);
    uint8_t saida[8];
    DesBloco(DES_CIFRA, S8(entrada), S8(k), saida);
    EXPECT_EQ(ParaHex(saida, 8), "3FA40E8A984D4815");
  }
  EXPECT_EQ(entrada, copia);
  // Output into the input buffer.
  DesBloco(DES_CIFRA, S8(entrada), S8(chave), std::span<uint8_t, 8>(entrada.data(), 8));
  EXPECT_EQ(ParaHex(entrada.data(), 8), "3FA40E8A984D4815");
}

TEST(DesPermuta, SetsNamedBitsAndSkipsOutOfRangeEntries) {
  const uint8_t origem[2] = {0x80, 0x01};  // bits 1 and 16
  constexpr uint8_t tabela[] = {16, 1, 2, 0, 17, 200, 1, 16, 16, 1};
  uint8_t destino[1] = {0xFF};
  DesPermuta(origem, destino, tabela);
  // Output bits 1,2,7,8 set; entries 0, 17 and 200 name no source bit; entries
  // beyond the destination's 8 bits are not written.
  EXPECT_EQ(destino[0], 0xC3);
}

TEST(DesRotacionaChave, RotatesEachHalfOnItsOwn) {
  // C = bit 1 only, D = bit 29 only: one left shift carries each to its half's end.
  uint8_t registro[7] = {0x80, 0, 0, 0x08, 0, 0, 0};
  DesRotacionaChave(registro, 1);
  EXPECT_EQ(ParaHex(registro, 7), "00000010000001");
  DesRotacionaChave(registro, 3);  // two more
  EXPECT_EQ(ParaHex(registro, 7), "00000040000004");
  DesRotacionaChave(registro, 0);  // not a round: unchanged
  DesRotacionaChave(registro, 17);
  EXPECT_EQ(ParaHex(registro, 7), "00000040000004");
}

TEST(DesBloco, AgreesWithOpenSslAndFastFormOnRandomKeysAndBlocks) {
  std::mt19937 gen(4120);
  for (int i = 0; i < 3000; ++i) {
    auto chave = criptotest::Aleatorios(gen, 8);
    auto bloco = criptotest::Aleatorios(gen, 8);
    EscalaDes escala;
    DesPreparaEscala(S8(chave), escala);
    for (int direcao : {DES_CIFRA, DES_DECIFRA}) {
      uint8_t nosso[8], rapido[8], oraculo[8];
      DesBloco(direcao, S8(bloco), S8(chave), nosso);
      DesBlocoRapido(direcao, escala, S8(bloco), rapido);
      DesOpenSsl(direcao, bloco.data(), chave.data(), oraculo);
      ASSERT_EQ(ParaHex(nosso, 8), ParaHex(oraculo, 8)) << "key " << ParaHex(chave.data(), 8);
      ASSERT_EQ(ParaHex(rapido, 8), ParaHex(oraculo, 8)) << "key " << ParaHex(chave.data(), 8);
    }
    // Decrypting the encryption gives the block back.
    uint8_t ida[8], volta[8];
    DesBloco(DES_CIFRA, S8(bloco), S8(chave), ida);
    DesBloco(DES_DECIFRA, ida, S8(chave), volta);
    ASSERT_EQ(ParaHex(volta, 8), ParaHex(bloco.data(), 8));
  }
}

class TriploDes : public ::testing::Test {
 protected:
  void SetUp() override { testutil::ResetaLibState(); }
  void TearDown() override { testutil::ResetaLibState(); }
  void DefineChaves(const std::vector<uint8_t>& k1, const std::vector<uint8_t>& k2, const std::vector<uint8_t>& k3) {
    std::memcpy(LibState.cripto.ChaveCripto1, k1.data(), 8);
    std::memcpy(LibState.cripto.ChaveCripto2, k2.data(), 8);
    std::memcpy(LibState.cripto.ChaveCripto3, k3.data(), 8);
  }
};

TEST_F(TriploDes, EdeIsOpenSslTripleDesAndEveryPatternIsUndoneByItsInverse) {
  std::mt19937 gen(46);
  struct Padrao {
    int d[3];
  };
  const Padrao padroes[] = {{{0, 1, 0}}, {{1, 0, 1}}, {{0, 0, 0}}, {{1, 1, 1}}, {{0, 0, 1}}, {{1, 1, 0}}};
  for (int i = 0; i < 1000; ++i) {
    auto k1 = criptotest::Aleatorios(gen, 8), k2 = criptotest::Aleatorios(gen, 8), k3 = criptotest::Aleatorios(gen, 8);
    DefineChaves(k1, k2, k3);
    auto bloco = criptotest::Aleatorios(gen, 8);

    DES_cblock c1, c2, c3;
    std::memcpy(c1, k1.data(), 8);
    std::memcpy(c2, k2.data(), 8);
    std::memcpy(c3, k3.data(), 8);
    DES_key_schedule s1, s2, s3;
    DES_set_key_unchecked(&c1, &s1);
    DES_set_key_unchecked(&c2, &s2);
    DES_set_key_unchecked(&c3, &s3);
    DES_cblock in, oraculo;
    std::memcpy(in, bloco.data(), 8);
    DES_ecb3_encrypt(&in, &oraculo, &s1, &s2, &s3, DES_ENCRYPT);
    std::vector<uint8_t> b = bloco;
    TriploDesBloco(DES_CIFRA, DES_DECIFRA, DES_CIFRA, std::span<uint8_t, 8>(b.data(), 8), ORDEM_CHAVES_123);
    ASSERT_EQ(ParaHex(b.data(), 8), ParaHex(oraculo, 8));

    EscalaDes e1, e2, e3;
    DesPreparaEscala(S8(k1), e1);
    DesPreparaEscala(S8(k2), e2);
    DesPreparaEscala(S8(k3), e3);
    for (const auto& p : padroes) {
      std::vector<uint8_t> x = bloco, y = bloco;
      TriploDesBloco(p.d[0], p.d[1], p.d[2], std::span<uint8_t, 8>(x.data(), 8), ORDEM_CHAVES_123);
      TriploDesBlocoRapido(p.d[0], p.d[1], p.d[2], e1, e2, e3, std::span<uint8_t, 8>(y.data(), 8));
      ASSERT_EQ(x, y);
      TriploDesBloco(!p.d[2], !p.d[1], !p.d[0], std::span<uint8_t, 8>(x.data(), 8), ORDEM_CHAVES_321);
      TriploDesBlocoRapido(!p.d[2], !p.d[1], !p.d[0], e3, e2, e1, std::span<uint8_t, 8>(y.data(), 8));
      ASSERT_EQ(x, bloco);
      ASSERT_EQ(y, bloco);
    }
  }
}

TEST_F(TriploDes, EqualKeysReduceToSingleDes) {
  auto k = DeHex("0123456789ABCDEF");
  DefineChaves(k, k, k);
  auto b = DeHex("4E6F772069732074");
  TriploDesBloco(DES_CIFRA, DES_DECIFRA, DES_CIFRA, std::span<uint8_t, 8>(b.data(), 8), ORDEM_CHAVES_123);
  EXPECT_EQ(ParaHex(b.data(), 8), "3FA40E8A984D4815");
}
