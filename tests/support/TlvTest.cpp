#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "support/FuncoesString.h"
#include "support/Tlv.h"

namespace {
using Bytes = std::vector<unsigned char>;

Bytes DeHex(const std::string& hex) {
  Bytes b(hex.size() / 2);
  HexParaBytes(b.data(), hex.c_str(), b.size());
  return b;
}
std::string ParaHex(const unsigned char* p, size_t n) {
  std::string s(2 * n, '\0');
  BytesParaHex(s.data(), p, n);
  return s;
}
const unsigned char* U(const char* s) { return reinterpret_cast<const unsigned char*>(s); }
}  // namespace

TEST(TlvLeTag, OneAndTwoByteTagsInBothForms) {
  struct Caso {
    const char* hex;
    uint32_t tag;
    int bytes;
  };
  static constexpr Caso casos[] = {{"9F02", 0x9F02, 2}, {"5A", 0x5A, 1}, {"BF0C", 0xBF0C, 2}, {"9F", 0x9F00, 2},
                                   {"1F", 0x1F00, 2},   {"70", 0x70, 1}};
  for (const auto& c : casos) {
    uint32_t tag = 0;
    EXPECT_EQ(TlvLeTag(U(c.hex), 1, &tag), 2 * c.bytes) << c.hex;  // text: a NUL ends the read
    EXPECT_EQ(tag, c.tag) << c.hex;
    Bytes b = DeHex(c.hex);
    tag = 0;
    EXPECT_EQ(TlvLeTag(b.data(), 0, &tag, b.size()), c.bytes) << c.hex;
    EXPECT_EQ(tag, c.tag) << c.hex;
  }
  uint32_t tag = 0;
  const unsigned char seguido[] = {0x9F, 0x27, 0x01};  // 9F at the end of a span: the next byte is its second
  EXPECT_EQ(TlvLeTag(seguido, 0, &tag), 2);
  EXPECT_EQ(tag, 0x9F27u);
  EXPECT_EQ(TlvLeTag(U("9f1a"), 1, &tag), 4);  // lower-case digits
  EXPECT_EQ(tag, 0x9F1Au);
}

TEST(TlvLeTamanho, BerFormsInBothForms) {
  struct Caso {
    const char* hex;
    int32_t tamanho;
    int consumido;
  };
  static constexpr Caso casos[] = {{"05", 5, 1},    {"7F", 127, 1}, {"81C8", 200, 2},
                                   {"820100", 256, 3}, {"80", 0, 0},  {"8301", 0, 0}, {"FF", 0, 0}};
  for (const auto& c : casos) {
    int32_t n = -1;
    EXPECT_EQ(TlvLeTamanho(U(c.hex), 1, &n), 2 * c.consumido) << c.hex;
    EXPECT_EQ(n, 2 * c.tamanho) << c.hex;
    Bytes b = DeHex(c.hex);
    EXPECT_EQ(TlvLeTamanho(b.data(), 0, &n, b.size()), c.consumido) << c.hex;
    EXPECT_EQ(n, c.tamanho) << c.hex;
  }
  int contador = 0;
  EXPECT_EQ(TlvLeByte(U("zA"), 1, &contador), 0x0A);  // a non-digit counts as 0
  EXPECT_EQ(contador, 2);
  EXPECT_EQ(TlvLeByte(U("\x81"), 0, &contador), 0x81);
  EXPECT_EQ(contador, 3);
}

TEST(TlvBusca, DescendsIntoTemplatesOnly) {
  struct Caso {
    const char* titulo;
    const char* dados;
    uint32_t tag;
    int resultado;
    const char* valor;
  };
  static constexpr Caso casos[] = {
      {"inside template 70", "70075A051234567890", 0x5A, 0, "1234567890"},
      {"not inside 73", "73075A051234567890", 0x5A, -2, ""},
      {"two levels of templates", "6F0A840100A5058801029F0200", 0x9F02, -2, ""},
      {"nested 6F > A5 > 88", "6F0A8401AAA505880102500141", 0x88, 0, "02"},
      {"outer level before a later template", "5A012270035A0111", 0x5A, 0, "22"},
      {"an earlier template before a later outer entry", "70035A01115A0122", 0x5A, 0, "11"},
      {"overrunning entry is read as entries", "9F02055A0199", 0x5A, 0, "99"},
      {"tag at the very end", "5A0199", 0x99, -2, ""},
      {"empty value found", "9F0200", 0x9F02, 0, ""},
  };
  for (const auto& c : casos) {
    std::string texto = c.dados;
    TlvLocal local{};
    int r = TlvBusca(texto.data(), c.tag, &local);
    EXPECT_EQ(r, c.resultado) << c.titulo;
    Bytes b = DeHex(c.dados);
    TlvLocal localBin{};
    EXPECT_EQ(TlvBusca(b.data(), static_cast<int>(b.size()), 0, c.tag, &localBin), r) << c.titulo;
    if (r != 0) continue;
    EXPECT_EQ(std::string(reinterpret_cast<char*>(local.valor), static_cast<size_t>(local.tamanhoValor)), c.valor)
        << c.titulo;
    EXPECT_EQ(ParaHex(localBin.valor, static_cast<size_t>(localBin.tamanhoValor)), c.valor) << c.titulo;
    EXPECT_EQ(localBin.tamanhoTotal * 2, local.tamanhoTotal);
    EXPECT_EQ(localBin.valor - localBin.inicio, (local.valor - local.inicio) / 2);
  }
  EXPECT_EQ(TlvBusca(static_cast<char*>(nullptr), 0x5A, nullptr), TLV_ERRO_DADOS);
  char vazio[] = "";
  EXPECT_EQ(TlvBusca(vazio, 0x5A, nullptr), TLV_ERRO_DADOS);
  int32_t n = 0;
  char dados[] = "70075A051234567890";
  ASSERT_NE(TlvObtemValor(dados, 0x5A, &n), nullptr);
  EXPECT_EQ(n, 10);
  EXPECT_EQ(TlvObtemValor(dados, 0x57, &n), nullptr);
}

TEST(TlvBusca, DeepNestingAndCutDataAreBounded) {
  // 200 levels of template 70 around 5A: found within the depth limit only.
  Bytes b = {0x5A, 0x01, 0x42};
  for (int i = 0; i < 200; ++i) {
    b.insert(b.begin(), {0x70, 0x81, static_cast<unsigned char>(b.size())});
    if (b.size() > 250) break;
  }
  TlvLocal local{};
  EXPECT_NE(TlvBusca(b.data(), static_cast<int>(b.size()), 0, 0x5A, &local), TLV_ERRO_DADOS);
  // Every prefix of a record is searched without reading past its end (ASan checks).
  Bytes r = DeHex("6F1A840E315041592E5359532E4444463031A5088801025F2D02707476");
  for (size_t n = 1; n <= r.size(); ++n) {
    Bytes prefixo(r.begin(), r.begin() + static_cast<long>(n));
    TlvBusca(prefixo.data(), static_cast<int>(n), 0, 0x5F2D, &local);
    std::string hex = ParaHex(prefixo.data(), n).substr(0, 2 * n - (n % 2));
    TlvBusca(hex.data(), 0x5F2D, &local);
  }
}

TEST(TlvMontaCampo, FormatsTable) {
  struct Caso {
    uint32_t tag;
    int formato, fixo;
    const char* valor;
    const char* esperado;
  };
  static constexpr Caso casos[] = {
      {0x9F02, 3, 6, "100", "9F0206000000000100"},
      {0x5F2A, 3, 2, "0986", "5F2A020986"},
      {0x9F02, 3, 2, "123456", "9F02023456"},  // rightmost digits kept
      {0x9F16, 1, 15, "ABC", "9F160F414243202020202020202020202020"},
      {0x9F16, 1, 2, "ABC", "9F16024142"},
      {0x50, 1, -1, "VISA", "500456495341"},
      {0x9F3B, 3, -1, "986", "9F3B020986"},
      {0x9F3B, 3, -1, "0986", "9F3B020986"},
      {0x82, 2, 2, "5C00", "82025C00"},
      {0x9F10, 2, -1, "", "9F1000"},
  };
  for (const auto& c : casos) {
    char saida[64] = "XX";
    EXPECT_EQ(TlvMontaCampo(saida, sizeof saida, c.tag, c.formato, c.fixo, c.valor), saida) << c.esperado;
    EXPECT_EQ(std::string(saida), std::string("XX") + c.esperado);
  }
  char saida[64] = "";
  EXPECT_EQ(TlvMontaCampoTag(saida, sizeof saida, 0x9F02, "100"), saida);
  EXPECT_STREQ(saida, "9F0206000000000100");
  EXPECT_EQ(TlvMontaCampo(nullptr, 10, 0x5A, 2, -1, "12"), nullptr);
}

TEST(TlvMontaCampo, RefusesWhatDoesNotFit) {
  char pequeno[10] = "";
  EXPECT_EQ(TlvMontaCampo(pequeno, sizeof pequeno, 0x9F02, 3, 6, "1"), nullptr);  // needs 19 bytes
  EXPECT_STREQ(pequeno, "");
  char exato[19] = "";
  EXPECT_EQ(TlvMontaCampo(exato, sizeof exato, 0x9F02, 3, 6, "1"), exato);
  std::string longo(128, 'A');
  char grande[600] = "";
  EXPECT_EQ(TlvMontaCampo(grande, sizeof grande, 0x50, 1, -1, longo.c_str()), nullptr);  // > 127 bytes
  EXPECT_EQ(TlvMontaCampo(grande, sizeof grande, 0x50, 1, -1, longo.c_str() + 1), grande);
  EXPECT_EQ(strlen(grande), 4u + 2 * 127);
}

TEST(TlvTrocaTag, RenamesWithinRoomAndChecksFormats) {
  char dados[32] = "9A032401015F2A020986";
  int32_t novo = 0;
  EXPECT_EQ(TlvTrocaTag(dados, sizeof dados, 0x9A, 0x9F21, &novo), 0);  // 1 -> 2 bytes, both numeric
  EXPECT_STREQ(dados, "9F21032401015F2A020986");
  EXPECT_EQ(novo, 22);
  EXPECT_EQ(TlvTrocaTag(dados, sizeof dados, 0x9F21, 0x9C, &novo), 0);
  EXPECT_STREQ(dados, "9C032401015F2A020986");
  EXPECT_EQ(TlvTrocaTag(dados, sizeof dados, 0x9C, 0x5A, &novo), TLV_FORMATOS_DIFERENTES);
  EXPECT_EQ(TlvTrocaTag(dados, sizeof dados, 0x9F02, 0x9F03, &novo), TLV_NAO_ENCONTRADO);
  char cheio[21] = "9A032401015F2A020986";  // no room for two more characters
  EXPECT_EQ(TlvTrocaTag(cheio, sizeof cheio, 0x9A, 0x9F21, &novo), TLV_SEM_ESPACO);
  EXPECT_STREQ(cheio, "9A032401015F2A020986");

  Bytes b = DeHex("9A03240101");
  b.resize(6);
  EXPECT_EQ(TlvTrocaTag(b.data(), 5, b.size(), 0, 0x9A, 0x9F21, &novo), 0);
  EXPECT_EQ(ParaHex(b.data(), static_cast<size_t>(novo)), "9F2103240101");
}

TEST(TlvRemoveTag, RemovesFirstEntryAlsoInsideTemplates) {
  struct Caso {
    const char* antes;
    uint32_t tag;
    int resultado;
    const char* depois;
  };
  static constexpr Caso casos[] = {
      {"5A0112570234569F0200", 0x57, 0, "5A01129F0200"},
      {"70075A0512345678909F0200", 0x5A, 0, "70079F0200"},  // the template's length is not adjusted
      {"5A01115A0122", 0x5A, 0, "5A0122"},
      {"5A0111", 0x57, TLV_NAO_ENCONTRADO, "5A0111"},
  };
  for (const auto& c : casos) {
    std::string texto = c.antes;
    int32_t novo = -1;
    EXPECT_EQ(TlvRemoveTag(texto.data(), c.tag, &novo), c.resultado) << c.antes;
    EXPECT_STREQ(texto.c_str(), c.depois) << c.antes;
    Bytes b = DeHex(c.antes);
    int32_t novoBin = static_cast<int32_t>(b.size());
    EXPECT_EQ(TlvRemoveTag(b.data(), static_cast<int>(b.size()), 0, c.tag, &novoBin), c.resultado);
    EXPECT_EQ(ParaHex(b.data(), static_cast<size_t>(novoBin)), c.depois) << c.antes;
  }
  // As a caller strips card numbers: repeat until none is left.
  Bytes b = DeHex("5A01115F2A020986700A5A0122570233445A0100");
  int32_t n = static_cast<int32_t>(b.size());
  while (TlvRemoveTag(b.data(), n, 0, 0x5A, &n) == 0) {
  }
  EXPECT_EQ(ParaHex(b.data(), static_cast<size_t>(n)), "5F2A020986700A57023344");
}

TEST(TlvRemoveVazios, RemovesEmptyTopLevelEntries) {
  char dados[] = "9F02005A01119F03008200";
  int32_t novo = 0;
  EXPECT_EQ(TlvRemoveVazios(dados, &novo), 0);
  EXPECT_STREQ(dados, "5A0111");
  EXPECT_EQ(novo, 6);
  char sobra[] = "5A00570512";  // the overrunning 57 stays
  EXPECT_EQ(TlvRemoveVazios(sobra, &novo), 0);
  EXPECT_STREQ(sobra, "570512");
  EXPECT_EQ(TlvRemoveVazios(static_cast<unsigned char*>(nullptr), 3, 0, &novo), TLV_ERRO_DADOS);
}

TEST(ListaTags, ContainsIncludesAndRemovesRepeats) {
  EXPECT_EQ(ListaTagsContem("9F025A82", 0x5A), 1);
  EXPECT_EQ(ListaTagsContem("9F025A82", 0x9F02), 1);
  EXPECT_EQ(ListaTagsContem("9F025A82", 0x02), 0);  // tags are read whole, never from their middle
  EXPECT_EQ(ListaTagsContem(static_cast<const char*>(nullptr), 0x5A), 0);
  EXPECT_EQ(ListaTagsContem("", 0x5A), 0);

  char lista[16] = "9F025A";
  int32_t novo = 0;
  EXPECT_EQ(ListaTagsInclui(lista, sizeof lista, 0x5A, 0, &novo), -1);
  EXPECT_EQ(ListaTagsInclui(lista, sizeof lista, 0x5A, 1, &novo), 0);
  EXPECT_EQ(ListaTagsInclui(lista, sizeof lista, 0x9F27, 0, &novo), 0);
  EXPECT_STREQ(lista, "9F025A5A9F27");
  EXPECT_EQ(novo, 12);
  EXPECT_EQ(ListaTagsInclui(lista, sizeof lista, 0x9F36, 0, &novo), TLV_SEM_ESPACO);  // would need 17 bytes
  EXPECT_EQ(ListaTagsInclui(lista, sizeof lista, 0x82, 0, &novo), 0);                 // exactly 15 + NUL
  EXPECT_STREQ(lista, "9F025A5A9F2782");

  char repetidas[] = "9F025A9F025A82";
  EXPECT_EQ(ListaTagsRemoveRepetidas(repetidas, &novo), 2);
  EXPECT_STREQ(repetidas, "9F025A82");
  EXPECT_EQ(novo, 8);
  Bytes b = DeHex("5A5A5A9F02829F02");
  EXPECT_EQ(ListaTagsRemoveRepetidas(b.data(), static_cast<int>(b.size()), 0, &novo), 3);
  EXPECT_EQ(ParaHex(b.data(), static_cast<size_t>(novo)), "5A9F0282");
}

TEST(BitLigado, MsbAndLsbNumbering) {
  const unsigned char b[] = {0x80, 0x01};
  EXPECT_EQ(BitLigadoMsb(b, 2, 0, 9), 1);
  EXPECT_EQ(BitLigadoLsb(b, 2, 0), 0);
  EXPECT_EQ(BitLigadoLsb(b, 2, 7), 1);
  EXPECT_EQ(BitLigadoMsb(b, 2, 15, 9), 1);
  EXPECT_EQ(BitLigadoLsb(b, 2, 8), 1);
  EXPECT_EQ(BitLigadoMsb(b, 2, 16, 9), 9);
  EXPECT_EQ(BitLigadoMsb(b, 2, -1, 9), 9);
  EXPECT_EQ(BitLigadoLsb(b, 2, 16), -1);
  EXPECT_EQ(BitLigadoLsb(nullptr, 2, 0), -1);
}

TEST(TagDicionario, FormatsAndFixedLengths) {
  struct Caso {
    uint32_t tag;
    int formato, fixo;
  };
  static constexpr Caso casos[] = {{0x9F02, 3, 6}, {0x5A, 4, -1}, {0x70, 5, -1}, {0x73, 6, -1}, {0xBF0C, 6, -1},
                                   {0x9F16, 1, 15}, {0x98, 2, 20}, {0x9F26, 2, 8}, {0x1234, 0, -1}, {0x00, 0, -1}};
  for (const auto& c : casos) {
    EXPECT_EQ(TagFormato(c.tag), c.formato) << std::hex << c.tag;
    EXPECT_EQ(TagTamanhoFixo(c.tag), c.fixo) << std::hex << c.tag;
  }
}
