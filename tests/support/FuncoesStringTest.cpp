#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "support/FuncoesArquivo.h"
#include "support/FuncoesString.h"

namespace {

// Runs an in-place routine on a copy of `entrada` held in a roomy buffer.
template <typename F>
std::string NoLugar(const char* entrada, F f) {
  char buf[256];
  std::snprintf(buf, sizeof buf, "%s", entrada);
  f(buf);
  return buf;
}

}  // namespace

TEST(DigitosParaInt, LowFourBitsOfEachCharacter) {
  EXPECT_EQ(DigitosParaInt("051", 3), 51u);
  EXPECT_EQ(DigitosParaInt(" 12", 3), 12u);  // a blank counts as 0
  EXPECT_EQ(DigitosParaInt("1234", 2), 12u);
}

// ---------------------------------------------------------------- case

TEST(CaseTables, LatinOneLettersMapBothWaysAndTheRestFallsBack) {
  // Every letter pair the tables cover maps both ways.
  for (unsigned c = 0xC0; c <= 0xDD; ++c) {
    const bool par = !(c == 0xC6 || c == 0xD0 || c == 0xD7 || c == 0xD8);
    const char maius = static_cast<char>(c), minus = static_cast<char>(c + 0x20);
    if (par) {
      EXPECT_EQ(CharMaiuscula(minus), maius) << std::hex << c;
      EXPECT_EQ(CharMinuscula(maius), minus) << std::hex << c;
      EXPECT_EQ(CharMaiuscula(maius), maius) << std::hex << c;
      EXPECT_EQ(CharMinuscula(minus), minus) << std::hex << c;
    }
  }
  // Left to the C library (no change in the C locale).
  for (unsigned c : {0xC6u, 0xD0u, 0xD7u, 0xD8u, 0xDEu, 0xDFu, 0xE6u, 0xF0u, 0xF7u, 0xF8u, 0xFEu, 0xFFu}) {
    EXPECT_EQ(CharMaiuscula(static_cast<char>(c)), static_cast<char>(c)) << std::hex << c;
    EXPECT_EQ(CharMinuscula(static_cast<char>(c)), static_cast<char>(c)) << std::hex << c;
  }
  for (int c = 0; c < 128; ++c) {
    EXPECT_EQ(CharMaiuscula(static_cast<char>(c)), static_cast<char>(std::toupper(c)));
    EXPECT_EQ(CharMinuscula(static_cast<char>(c)), static_cast<char>(std::tolower(c)));
  }
}

TEST(CaseTables, WholeTextsAndNulls) {
  EXPECT_EQ(NoLugar("a\xe7\xe3o X1", StrMaiusculas), "A\xc7\xc3O X1");
  EXPECT_EQ(NoLugar("A\xc7\xc3O X1", StrMinusculas), "a\xe7\xe3o x1");
  EXPECT_EQ(NoLugar("\xc9VORA CITY", StrCapitaliza), "\xc9vora city");
  EXPECT_EQ(NoLugar("1ABC", StrCapitaliza), "1abc");
  char vazio[1] = "";
  EXPECT_EQ(StrMaiusculas(nullptr), nullptr);
  EXPECT_EQ(StrMaiusculas(vazio), nullptr);
  EXPECT_EQ(StrMinusculas(vazio), nullptr);
  EXPECT_EQ(StrCapitaliza(vazio), nullptr);
}

TEST(StrComparaSemCaixaN, VersionGateComparesFourBytesPastTerminators) {
  EXPECT_EQ(StrComparaSemCaixaN("1.06", "1.07", 4), -1);
  EXPECT_GT(StrComparaSemCaixaN("1.10", "1.07", 4), 0);
  EXPECT_LT(StrComparaSemCaixaN("0.99", "1.07", 4), 0);
  EXPECT_LT(StrComparaSemCaixaN("    ", "1.07", 4), 0);
  const char zeros[4] = {0, 0, 0, 0};
  EXPECT_LT(StrComparaSemCaixaN(zeros, "1.07", 4), 0);
  EXPECT_EQ(StrComparaSemCaixaN("abc", "ABD", 2), 0);
  EXPECT_EQ(StrComparaSemCaixaN("x", "y", 0), 0);
  // Case-equal: 0; unequal: difference of the original unsigned bytes.
  EXPECT_EQ(StrComparaSemCaixaN("\xe7" "a", "\xc7" "A", 2), 0);
  EXPECT_EQ(StrComparaSemCaixaN("\xe9", "a", 1), 0xE9 - 'a');
  // Compares past a NUL in both texts.
  EXPECT_NE(StrComparaSemCaixaN("a\0b", "a\0c", 3), 0);
}

TEST(CharacterClasses, Table) {
  EXPECT_EQ(StrNumerica("0123"), 1);
  EXPECT_EQ(StrNumerica(""), 1);
  EXPECT_EQ(StrNumerica("12a"), 0);
  EXPECT_EQ(StrNumerica(nullptr), 0);
  EXPECT_EQ(StrValorCaracteres("1.234,56"), 1);
  EXPECT_EQ(StrValorCaracteres("1 234"), 0);
  EXPECT_EQ(TemDuasDecimais("12,34", ','), 1);
  EXPECT_EQ(TemDuasDecimais("12,3", ','), 0);
  EXPECT_EQ(TemDuasDecimais("1,2,34", ','), 0);  // counts after the first one
  EXPECT_EQ(TemDuasDecimais("1234", ','), 0);
  EXPECT_EQ(TemDuasDecimais(nullptr, ','), 0);
}

// ------------------------------------------------ copying, trimming, editing

TEST(Trims, Table) {
  EXPECT_EQ(NoLugar("  a b  ", StrTiraBrancosEsq), "a b  ");
  EXPECT_EQ(NoLugar("  a b  ", StrTiraBrancosDir), "  a b");
  EXPECT_EQ(NoLugar(" \ta b\t ", StrTiraBrancos), "\ta b\t");
  EXPECT_EQ(NoLugar(" \t\r\na b\r\n ", StrTrim), "a b");
  EXPECT_EQ(NoLugar(" \t ", StrTrim), "");
  EXPECT_EQ(NoLugar(" a b c ", StrTiraEspacos), "abc");
  EXPECT_EQ(NoLugar("000", StrTiraZerosEsq), "");
  EXPECT_EQ(NoLugar("00120", StrTiraZerosEsq), "120");
  EXPECT_EQ(NoLugar("R$ 0.012,30", StrSoDigitosSemZeros), "1230");
  EXPECT_EQ(NoLugar("abc", StrInverte), "cba");
  EXPECT_EQ(NoLugar("abcd", StrInverte), "dcba");
  EXPECT_EQ(NoLugar("a\\nb\\rc\\t", ConverteEscapes), "a\rb\rc\\t");
  EXPECT_STREQ(StrPulaBrancos("  x "), "x ");
  EXPECT_EQ(StrTrim(nullptr), nullptr);
  StrTiraBrancos(nullptr);
  StrTiraEspacos(nullptr);
}

TEST(Filters, CopyOnlyTheWantedCharacters) {
  char dst[32];
  EXPECT_EQ(StrSoDigitos("a1b2-3", dst), 3);
  EXPECT_STREQ(dst, "123");
  EXPECT_EQ(StrSoAlfanumericos("a-1 \xe9Z!", dst), 3);
  EXPECT_STREQ(dst, "a1Z");
  EXPECT_EQ(StrSoAlfanumericos(nullptr, dst), 0);
}

TEST(BoundedCopies, NeverWritePastTheGivenSize) {
  char buf[8];
  std::memset(buf, 'X', sizeof buf);
  StrCopiaLimitada(buf, "abcdefghij", 5);
  EXPECT_STREQ(buf, "abcd");
  EXPECT_EQ(buf[5], 'X');
  StrCopiaLimitada(buf, "ab", 5);
  EXPECT_STREQ(buf, "ab");
  StrConcatenaLimitada(buf, "cdefgh", 3);  // room for two more characters
  EXPECT_STREQ(buf, "abcd");
  buf[0] = 'Q';
  StrCopiaLimitada(buf, "zzz", 0);
  EXPECT_EQ(buf[0], 'Q');
}

TEST(StrSubstitui, ReplacesEveryOccurrenceAndRefusesWhatDoesNotFit) {
  char buf[64] = "Trace<YYYY/><MM/>.<MM/>";
  EXPECT_EQ(StrSubstitui(buf, sizeof buf, "<MM/>", "12"), 2);
  EXPECT_STREQ(buf, "Trace<YYYY/>12.12");
  EXPECT_EQ(StrSubstitui(buf, sizeof buf, "<YYYY/>", "2026"), 1);
  EXPECT_STREQ(buf, "Trace202612.12");
  EXPECT_EQ(StrSubstitui(buf, sizeof buf, "12", nullptr), 2);  // null deletes
  EXPECT_STREQ(buf, "Trace2026.");
  // Scanning goes on after the inserted text: no endless growth.
  EXPECT_EQ(StrSubstitui(buf, sizeof buf, "a", "aa"), 1);
  EXPECT_STREQ(buf, "Traace2026.");
  EXPECT_EQ(StrSubstitui(buf, sizeof buf, nullptr, "x"), 0);
  EXPECT_EQ(StrSubstitui(buf, sizeof buf, "", "x"), 0);
  EXPECT_EQ(StrSubstitui(buf, sizeof buf, "zz", "x"), 0);

  // Exactly full is accepted, one byte more is refused and changes nothing.
  char cheio[9] = "<L/><L/>";
  char exato[9] = "ab";
  EXPECT_EQ(StrSubstitui(exato, sizeof exato, "b", "bcdefgh"), 1);
  EXPECT_STREQ(exato, "abcdefgh");
  EXPECT_EQ(StrSubstitui(exato, sizeof exato, "h", "hi"), -1);
  EXPECT_STREQ(exato, "abcdefgh");
  EXPECT_EQ(StrSubstitui(cheio, sizeof cheio, "<L/>", "12345"), -1);
  EXPECT_STREQ(cheio, "<L/><L/>");
}

TEST(Alignment, CenterAndZeroFill) {
  char buf[16] = "ab";
  EXPECT_EQ(StrCentraliza(buf, '*', 7), 2);
  EXPECT_STREQ(buf, "**ab");
  char cheio[16] = "abcdefg";
  EXPECT_EQ(StrCentraliza(cheio, '*', 7), 0);
  EXPECT_STREQ(cheio, "abcdefg");
  char dst[8];
  std::memset(dst, 'X', sizeof dst);
  StrAlinhaZeros(dst, "42", 5);
  EXPECT_STREQ(dst, "00042");
  StrAlinhaZeros(dst, "1234567", 5);
  EXPECT_STREQ(dst, "12345");
  StrAlinhaZeros(dst, "", 0);
  EXPECT_STREQ(dst, "");
}

// ---------------------------------------------------- numbers, conversions

TEST(StrToIntDef, ZeroTextRule) {
  struct Caso {
    const char* texto;
    int esperado;
  };
  static constexpr Caso casos[] = {
      {"0", 0},   {"   ", 0},  {"000", 0},  {"0.00", 0},    {"-0", 0},   {"abc", 7},
      {"", 7},    {"x1", 7},   {"#5", 7},   {"12abc", 12},  {" -34", -34}, {"+5", 5},
      {"99999999999", 2147483647},
  };
  for (const auto& c : casos) EXPECT_EQ(StrToIntDef(c.texto, 7), c.esperado) << c.texto;
  EXPECT_EQ(StrToIntDef(nullptr, 7), 7);
  EXPECT_DOUBLE_EQ(StrToDoubleDef("0.00", 1.5), 0.0);
  EXPECT_DOUBLE_EQ(StrToDoubleDef("abc", 1.5), 1.5);
  EXPECT_DOUBLE_EQ(StrToDoubleDef("2.25x", 1.5), 2.25);
  EXPECT_DOUBLE_EQ(StrToDoubleDef(nullptr, 1.5), 1.5);
}

TEST(Numbers, LeNumeroIntParaStrBaseValorParaInt64) {
  uint32_t v = 99;
  const char* t = "0123abc";
  EXPECT_EQ(LeNumero(t, &v), t + 4);
  EXPECT_EQ(v, 123u);
  const char* x = "x1";
  EXPECT_EQ(LeNumero(x, &v), x);
  EXPECT_EQ(v, 0u);

  char buf[72];
  EXPECT_STREQ(IntParaStrBase(-255, buf, 10), "-255");
  EXPECT_STREQ(IntParaStrBase(255, buf, 16), "ff");
  EXPECT_STREQ(IntParaStrBase(-1, buf, 16), "ffffffff");
  EXPECT_STREQ(IntParaStrBase(-2147483647 - 1, buf, 10), "-2147483648");
  EXPECT_STREQ(IntParaStrBase(-1, buf, 2), "11111111111111111111111111111111");
  EXPECT_STREQ(IntParaStrBase(0, buf, 36), "0");
  EXPECT_STREQ(IntParaStrBase(35, buf, 36), "z");
  EXPECT_STREQ(IntParaStrBase(5, buf, 1), "");
  EXPECT_STREQ(IntParaStrBase(5, buf, 37), "");
  EXPECT_EQ(IntParaStrBase(5, nullptr, 10), nullptr);
  EXPECT_STREQ(Int64ParaStrBase(INT64_MIN, buf, 10), "-9223372036854775808");
  EXPECT_STREQ(Int64ParaStrBase(0x1234567890LL, buf, 16), "34567890");

  EXPECT_EQ(ValorParaInt64("R$ 1.234.567.890,12"), 123456789012LL);
  EXPECT_EQ(ValorParaInt64("000"), 0);
  EXPECT_EQ(ValorParaInt64(nullptr), 0);
  EXPECT_EQ(ValorParaInt64("99999999999999999999"), INT64_MAX);
}

TEST(Hex, DigitsAndConversions) {
  EXPECT_EQ(HexDigitoValor('0'), 0);
  EXPECT_EQ(HexDigitoValor('f'), 15);
  EXPECT_EQ(HexDigitoValor('A'), 10);
  EXPECT_EQ(HexDigitoValor('g'), 0);
  EXPECT_EQ(HexDigitoCaracter(0x1B), 'B');

  uint8_t b[4] = {};
  HexParaBytes(b, "0aFfz1", 3);
  EXPECT_EQ(b[0], 0x0A);
  EXPECT_EQ(b[1], 0xFF);
  EXPECT_EQ(b[2], 0x01);  // invalid digit counts as 0
  std::memset(b, 0xEE, sizeof b);
  HexParaBytes(b, "12", 4);  // short text: not read past its end
  EXPECT_EQ(b[0], 0x12);
  EXPECT_EQ(b[1], 0);
  EXPECT_EQ(b[3], 0);

  char hex[8];
  std::memset(hex, 'X', sizeof hex);
  const uint8_t dados[] = {0x00, 0xAB, 0x5F};
  BytesParaHex(hex, dados, 3);
  EXPECT_EQ(std::string(hex, 7), "00AB5FX");  // no terminator written
}

TEST(Hex, RoundTripOnRandomData) {
  std::mt19937 rng(20260101);
  for (int rodada = 0; rodada < 200; ++rodada) {
    std::vector<uint8_t> dados(rng() % 300);
    for (auto& x : dados) x = static_cast<uint8_t>(rng());
    std::string hex(dados.size() * 2, '\0');
    BytesParaHex(hex.data(), dados.data(), dados.size());
    for (char c : hex) ASSERT_TRUE(std::isdigit(static_cast<unsigned char>(c)) || (c >= 'A' && c <= 'F'));
    std::string minus = hex;
    for (auto& c : minus) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    std::vector<uint8_t> volta(dados.size()), volta2(dados.size());
    HexParaBytes(volta.data(), hex.c_str(), volta.size());
    HexParaBytes(volta2.data(), minus.c_str(), volta2.size());
    ASSERT_EQ(volta, dados);
    ASSERT_EQ(volta2, dados);
  }
}

TEST(ExtraiNumeroCartao, TrackTexts) {
  struct Caso {
    const char* trilha;
    int resultado;
    const char* numero;
  };
  static constexpr Caso casos[] = {
      {";4761739001010119=25122011143804400000?", 0, "4761739001010119"},
      {"B4761739001010119^NOME/TESTE^2512", 0, "4761739001010119"},
      {"%B4761739001010119^NOME/TESTE^2512", -1, ""},  // one sentinel only
      {"4761739001010119", 0, "4761739001010119"},
      {"4761739001010119=12^34", 0, "4761739001010119"},
      {"47617390A1010119=2512", -1, ""},
      {"1234567890123456789012345", 0, "1234567890123456789"},
      {";123456789012345678901234", 0, "123456789012345678"},
      {"", -1, ""},
      {"=1234", -1, ""},  // an empty number is no card number
  };
  for (const auto& c : casos) {
    char dst[24] = "lixo";
    EXPECT_EQ(ExtraiNumeroCartao(c.trilha, dst, sizeof dst), c.resultado) << c.trilha;
    EXPECT_STREQ(dst, c.numero) << c.trilha;
  }
  // A long number before '=' is refused rather than overflowing dst.
  char pequeno[10];
  EXPECT_EQ(ExtraiNumeroCartao("12345678901=99", pequeno, sizeof pequeno), -1);
  EXPECT_EQ(ExtraiNumeroCartao("123456789=99", pequeno, sizeof pequeno), 0);
  EXPECT_STREQ(pequeno, "123456789");
  EXPECT_EQ(ExtraiNumeroCartao(nullptr, pequeno, sizeof pequeno), -1);
}

// ---------------------------------------------------------- money

TEST(Money, FormataDecimalAndFormataMoeda) {
  char dst[48];
  EXPECT_STREQ(FormataValor(dst, sizeof dst, "R$ 1.234,5"), "123,45");
  EXPECT_STREQ(FormataValor(dst, sizeof dst, "5"), "0,05");
  EXPECT_STREQ(FormataValor(dst, sizeof dst, ""), "0,00");
  EXPECT_STREQ(FormataValor(dst, sizeof dst, "00100"), "1,00");
  EXPECT_STREQ(FormataDecimal(dst, sizeof dst, "1020304", 3, '.'), "1020.304");
  EXPECT_STREQ(FormataDecimal(dst, sizeof dst, "0012", 0, ','), "12");
  EXPECT_STREQ(FormataDecimal(dst, 7, "123456", 2, ','), "");  // needs 8 bytes
  EXPECT_STREQ(FormataDecimal(dst, 8, "123456", 2, ','), "1234,56");

  struct Caso {
    const char* src;
    const char* esperado;
  };
  static constexpr Caso casos[] = {
      {"123456", "1.234,56"}, {"1234567890", "12.345.678,90"}, {"7", "0,07"},   {"0", "0,00"},
      {"", "0,00"},           {"100", "1,00"},                 {"R$12,34", "12,34"},
      {"123456789012345678901234567890", "1.234.567.890.123.456.789.012.345.678,90"},
      {"1234567890123456789012345678901", ""},  // 31 characters
  };
  for (const auto& c : casos) {
    FormataMoeda(dst, c.src);
    EXPECT_STREQ(dst, c.esperado) << c.src;
  }
}

TEST(Money, AnalisaValorTable) {
  struct Caso {
    const char* texto;
    int esperado;
  };
  static constexpr Caso casos[] = {
      {"1234", 0},       {"1.234", 1003},    {"1,234", 1003},     {"12.5", 1},         {"1234,56", 2},
      {"1.234,5", 1},    {"1,234.56", 2},    {"12.345.678,9", 1}, {"1.234.567", 7},    {"1,2,3", -4},
      {"1.234,5,6", -1}, {"1,234.5,6", -2},  {"1234.567,89", -3}, {"1.23,45", -4},     {"0.123", 3},
      {".123", 3},       {"-1.234", 1003},   {"0.123,45", -4},    {"1.2345,6", -3},
  };
  for (const auto& c : casos) EXPECT_EQ(AnalisaValor(c.texto), c.esperado) << c.texto;
}

TEST(Money, NormalizaValor) {
  struct Caso {
    const char* texto;
    int decimais;
    const char* esperado;
  };
  static constexpr Caso casos[] = {
      {"1.234,5", 2, "123450"}, {"12", 2, "1200"},   {"12,345", 2, "1234"},
      {"0,50", 2, "50"},        {"1.234,5,6", 2, "123456"},  // malformed: digits only
      {"1.234", 2, "123"},      {"7,5", 0, "7"},
  };
  for (const auto& c : casos) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%s", c.texto);
    EXPECT_EQ(NormalizaValor(buf, sizeof buf, c.decimais), 0) << c.texto;
    EXPECT_STREQ(buf, c.esperado) << c.texto;
  }
  char justo[5] = "12";
  EXPECT_EQ(NormalizaValor(justo, sizeof justo, 2), 0);
  EXPECT_STREQ(justo, "1200");
  char curto[5] = "123";
  EXPECT_EQ(NormalizaValor(curto, sizeof curto, 2), -1);  // "12300" needs 6 bytes
  EXPECT_STREQ(curto, "123");
}

// ---------------------------------------------------------- scrambling

TEST(Embaralha, KnownBytesAndChaining) {
  // First byte: (0 ^ 0x13) + (0x00 ^ 0x0D) + 0x47 = 0x67; chain 0x67 + 0x71 = 0xD8;
  // second: (0xD8 ^ 0x13) + (0x00 ^ 0x0D) + 0x47 = 0xCB + 0x0D + 0x47 = 0x11F -> 0x1F.
  uint8_t b[3] = {0x00, 0x00, 0xFF};
  Embaralha(b, 3);
  EXPECT_EQ(b[0], 0x67);
  EXPECT_EQ(b[1], 0x1F);
  Desembaralha(b, 3);
  EXPECT_EQ(b[0], 0x00);
  EXPECT_EQ(b[1], 0x00);
  EXPECT_EQ(b[2], 0xFF);
}

TEST(Embaralha, RoundTripOnRandomDataAndEachCallStartsFresh) {
  std::mt19937 rng(4120);
  for (int rodada = 0; rodada < 200; ++rodada) {
    std::vector<uint8_t> dados(rng() % 512);
    for (auto& x : dados) x = static_cast<uint8_t>(rng());
    auto copia = dados;
    Embaralha(copia.data(), copia.size());
    if (dados.size() > 8) {
      ASSERT_NE(copia, dados);
    }
    // Scrambling in two calls differs from one call: the chain restarts.
    const size_t meio = copia.size() / 2;
    Desembaralha(copia.data(), copia.size());
    ASSERT_EQ(copia, dados);
    auto partes = dados;
    Embaralha(partes.data(), meio);
    Embaralha(partes.data() + meio, partes.size() - meio);
    Desembaralha(partes.data(), meio);
    Desembaralha(partes.data() + meio, partes.size() - meio);
    ASSERT_EQ(partes, dados);
  }
}

TEST(ComparaComMascara, MaskedBytesSignedDifference) {
  const char padrao[] = "Trace20??12??";
  char mascara[sizeof padrao];
  for (size_t i = 0; i < sizeof padrao; ++i) mascara[i] = padrao[i] == '?' ? 0x00 : static_cast<char>(0xFF);
  EXPECT_EQ(ComparaComMascara(padrao, "Trace20261231", mascara, 13), 0);
  EXPECT_EQ(ComparaComMascara(padrao, "trace20261231", mascara, 13), 'T' - 't');
  const uint8_t a[] = {0x80}, b[] = {0x01}, m[] = {0xFF};
  EXPECT_EQ(ComparaComMascara(a, b, m, 1), -128 - 1);  // signed bytes
  EXPECT_EQ(ComparaComMascara(a, b, m, 0), 0);
}

// ------------------------------------------------------------- tokenizer

namespace {
struct Passo {
  std::string token;
  std::string resto;
};
// One tokenizer call on `linha` (updated in place), through `extrai`.
template <typename F>
Passo Extrai(std::string& linha, F extrai) {
  char buf[256];
  std::snprintf(buf, sizeof buf, "%s", linha.c_str());
  char token[128];
  EXPECT_EQ(extrai(buf, token, sizeof token), 0);
  linha = buf;
  return {token, buf};
}
Passo Campo(std::string& linha, const char* delims, int consome) {
  return Extrai(linha, [&](char* l, char* t, size_t n) { return ExtraiCampo(l, delims, consome, t, n); });
}
Passo Palavra(std::string& linha) { return Extrai(linha, ExtraiPalavra); }

// Runs ExtraiCampo steps on one line: delimiters, consume flag, then the
// token and the line expected after the step.
struct PassoCampo {
  const char* delims;
  int consome;
  const char* token;
  const char* resto;
};
void Sequencia(const char* inicial, std::initializer_list<PassoCampo> passos) {
  std::string linha = inicial;
  for (const auto& e : passos) {
    auto p = Campo(linha, e.delims, e.consome);
    EXPECT_EQ(p.token, e.token) << inicial;
    EXPECT_EQ(p.resto, e.resto) << inicial;
  }
}
}  // namespace

TEST(ExtraiToken, FieldSequences) {
  Sequencia("Nome = \"a,b\\tc\" ; resto", {{"=", 1, "Nome ", " \"a,b\\tc\" ; resto"},
                                           {";", 1, "a,b\tc", " ; resto"},
                                           {";", 1, "", " resto"}});
  Sequencia("abc // note", {{";", 1, "abc ", ""}});
  // Without consume the delimiter stays at the head of the line.
  Sequencia("TipoSlot=2;Outro=3", {{";", 0, "TipoSlot=2", ";Outro=3"}, {";", 1, "", "Outro=3"}});
}

TEST(ExtraiToken, QuotesEscapesCommentsAndDelimiters) {
  struct Caso {
    const char* linha;
    const char* token;
    const char* resto;
  };
  // ExtraiPalavra cases.
  static constexpr Caso palavras[] = {
      {"# comment", "", ""},
      {"  -- x", "", ""},
      {"// x", "", ""},
      {"! x", "", ""},
      {"", "", ""},
      {"abc // note", "abc", "// note"},
      {"abc#x y", "abc", ""},
      {"\"a\\\"b\"", "a\"b", ""},
      {"'a\\nb'", "a\\nb", ""},
      {"\"x\\ny\\r\\fz\\q\"tail", "x\r\ny\r\nz\\q", "tail"},
      {"\"a b\" c", "a b", " c"},
      {"ab'c d'e f", "ab'c d'e", "f"},      // inner quote copied, protects the blank
      {"a\"b'c d", "a\"b'c", "d"},          // inner quote closed by either kind
      {"\"unclosed and \\", "unclosed and \\", ""},
      {"a\tb", "a", "b"},
  };
  for (const auto& c : palavras) {
    std::string linha = c.linha;
    auto p = Palavra(linha);
    EXPECT_EQ(p.token, c.token) << c.linha;
    EXPECT_EQ(p.resto, c.resto) << c.linha;
  }
}

TEST(ExtraiToken, NullLineLongTokensAndNoTokenBuffer) {
  char token[8] = "lixo";
  EXPECT_EQ(ExtraiToken(nullptr, ";", 1, 1, token, sizeof token), -1);

  // A token longer than the buffer is cut; the line still moves past all of it.
  std::string longo(3000, 'x');
  std::string linha = longo + ";fim";
  std::vector<char> buf(linha.begin(), linha.end());
  buf.push_back('\0');
  EXPECT_EQ(ExtraiCampo(buf.data(), ";", 1, token, sizeof token), 0);
  EXPECT_STREQ(token, "xxxxxxx");
  EXPECT_STREQ(buf.data(), "fim");

  char sem[] = "a b";
  EXPECT_EQ(ExtraiPalavra(sem, nullptr, 0), 0);
  EXPECT_STREQ(sem, "b");
}

TEST(BuscaForaDeAspas, SkipsQuotedStretches) {
  const char* t = "a\"b,c\",d";
  EXPECT_EQ(BuscaForaDeAspas(t, ','), t + 6);
  const char* e = "\"x\\\",y\",z";  // escaped quote does not close
  EXPECT_EQ(BuscaForaDeAspas(e, ','), e + 7);
  EXPECT_STREQ(BuscaForaDeAspas("'a,b'", ','), ",b'");  // single quotes are ordinary
  EXPECT_EQ(BuscaForaDeAspas("\"a,b", ','), nullptr);
  EXPECT_EQ(BuscaForaDeAspas(static_cast<const char*>(nullptr), ','), nullptr);
}

// --------------------------------------------------------- parameter lists

TEST(ParameterLists, ListaObtemIntAndTexto) {
  const char* opcoes = "NivelTrace=3,HabilitaTraceCache=0";
  EXPECT_EQ(ListaObtemInt(opcoes, "niveltrace", 1), 3);
  EXPECT_EQ(ListaObtemInt(opcoes, "HabilitaTraceCache", 1), 0);
  EXPECT_EQ(ListaObtemInt(opcoes, "Ausente", 1), 1);
  EXPECT_EQ(ListaObtemInt(nullptr, "NivelTrace", 1), 1);
  EXPECT_EQ(ListaObtemInt("NivelTrace=abc", "NivelTrace", 1), 1);

  struct Caso {
    const char* lista;
    const char* chave;
    int achou;
    const char* valor;
  };
  static constexpr Caso casos[] = {
      {"A = \" x y \" ,B=2", "a", 1, "\" x y \""},
      {"A=\" x y \",B=2", "A", 1, "x y"},
      {"A=\"a,b\",B=2", "A", 1, "a,b"},
      {"A=x\"1,2\"y,B=3", "A", 1, "x\"1,2\"y"},
      {"A=x\"1,2\"y,B=3", "B", 1, "3"},
      {"x,B=1", "B", 0, ""},
      {"A=1,B=", "B", 1, ""},
      {"A='q,\"r',B=2", "A", 1, "q,\"r"},
      {"A=\"e\\\"s\\tc\",B=2", "A", 1, "e\"s\tc"},
      {" DiretorioTrace = /tmp/log ", "diretoriotrace", 1, "/tmp/log"},
      {"A=1", "AB", 0, ""},
      {"", "A", 0, ""},
  };
  for (const auto& c : casos) {
    char dst[64] = "";
    EXPECT_EQ(ListaObtemTexto(c.lista, c.chave, dst, sizeof dst), c.achou) << c.lista;
    EXPECT_STREQ(dst, c.valor) << c.lista;
  }
  // Cut to the destination, after trimming.
  char curto[4];
  EXPECT_EQ(ListaObtemTexto("K=   abcdef  ", "K", curto, sizeof curto), 1);
  EXPECT_STREQ(curto, "abc");
}

TEST(ParameterLists, SectionsHeadersAndSeparators) {
  char buf[16];
  char* p = buf;
  const char* t = "A=1<#>A=2";
  EXPECT_EQ(ParamObtemValor(t, nullptr, 0, "A", &p, sizeof buf), 0);
  EXPECT_STREQ(buf, "1");
  EXPECT_EQ(ParamObtemValor(t, nullptr, 1, "A", &p, sizeof buf), 0);
  EXPECT_STREQ(buf, "2");
  EXPECT_EQ(ParamObtemValor(t, nullptr, 2, "A", &p, sizeof buf), -3);
  EXPECT_EQ(ParamObtemValor("A=1,B=\"x,y\"<#>A=2,C=3", nullptr, 1, "C", &p, sizeof buf), 0);
  EXPECT_STREQ(buf, "3");
  EXPECT_EQ(ParamObtemValor("A=1,B=\"x,y\"<#>A=2,C=3", nullptr, 0, "C", &p, sizeof buf), -3);
  EXPECT_EQ(ParamObtemValor("HDR:A=5", "HDR:", 0, "A", &p, sizeof buf), 0);
  EXPECT_STREQ(buf, "5");
  EXPECT_EQ(ParamObtemValor("A=5", nullptr, 0, "A", nullptr, 0), 0);  // presence only
  EXPECT_EQ(ParamObtemValor(nullptr, nullptr, 0, "A", &p, sizeof buf), -1);
  EXPECT_EQ(ParamObtemValorEx("A=1", nullptr, nullptr, nullptr, 0, "A", &p, sizeof buf), -1);
  EXPECT_EQ(ParamObtemValorEx("A=1", nullptr, nullptr, ",", 1, "A", &p, sizeof buf), -3);
  // Any field separator string; a quoted value ends at its closing quote.
  EXPECT_EQ(ParamObtemValorEx("X=1;;Y=\"a;;b\"junk;;Z=3", nullptr, "|", ";;", 0, "Z", &p, sizeof buf), 0);
  EXPECT_STREQ(buf, "3");
  EXPECT_EQ(ParamObtemValorEx("X=1;;Y=\"a;;b\"junk;;Z=3", nullptr, "|", ";;", 0, "Y", &p, sizeof buf), 0);
  EXPECT_STREQ(buf, "a;;b");
  EXPECT_EQ(ParamObtemValor("A=\"open,B=1", nullptr, 0, "A", &p, sizeof buf), 0);  // unclosed: to the end
  EXPECT_STREQ(buf, "open,B=1");
  // Cut to the given size, never past it.
  char tres[3];
  p = tres;
  EXPECT_EQ(ParamObtemValor("A=12345", nullptr, 0, "A", &p, sizeof tres), 0);
  EXPECT_STREQ(tres, "12");

  // A null *valor gets a block of the value's size from Aloca.
  char* bloco = nullptr;
  const std::string longo(500, 'v');
  EXPECT_EQ(ParamObtemValor(("A=1,B=\"" + longo + "\",C=2").c_str(), nullptr, 0, "b", &bloco, 0), 0);
  ASSERT_NE(bloco, nullptr);
  EXPECT_EQ(std::string(bloco), longo);
  EXPECT_EQ(Libera(bloco, __FILE__, __LINE__), 0);
  bloco = nullptr;
  EXPECT_EQ(ParamObtemValor("A=1", nullptr, 0, "Z", &bloco, 0), -3);
  EXPECT_EQ(bloco, nullptr);

  EXPECT_EQ(ParamObtemInt("A=1<#>N= 42", nullptr, 1, "n", 9), 42);
  EXPECT_EQ(ParamObtemInt("A=1<#>N=42", nullptr, 0, "n", 9), 9);
  EXPECT_DOUBLE_EQ(ParamObtemDouble("V=2.5", nullptr, 0, "v", 1.0), 2.5);
  EXPECT_DOUBLE_EQ(ParamObtemDouble("V=", nullptr, 0, "v", 1.0), 1.0);
}

TEST(ParamAlteraValor, ReplaceAddAndRefuse) {
  struct Caso {
    const char* antes;
    const char* cabecalho;
    int secao;
    const char* chave;
    const char* novo;
    int resultado;
    const char* depois;
  };
  static constexpr Caso casos[] = {
      {"A=1,B=22,", nullptr, 0, "B", "3", 0, "A=1,B=3,"},
      {"A=1,B=22,", nullptr, 0, "b", "", 0, "A=1,B=,"},
      {"A=1,B=22,", nullptr, 0, "C", "9", -3, "C=9,A=1,B=22,"},
      {"A=1,B=22", nullptr, 0, "B", "345", 0, "A=1,B=345"},
      {"A=\"x,y\",B=2", nullptr, 0, "A", "q", 0, "A=\"q\",B=2"},
      {"A=1<#>A=2,B=3", nullptr, 1, "B", "77", 0, "A=1<#>A=2,B=77"},
      {"A=1<#>A=2", nullptr, 1, "C", "5", -3, "A=1<#>C=5,A=2"},
      {"A=1<#>A=2", nullptr, 2, "A", "5", -3, "A=1<#>A=2"},
      {"x A=1 HDR:A=2", "HDR:", 0, "A", "9", 0, "x A=1 HDR:A=9"},
      {" a = 1 ,b=2", nullptr, 0, "A", "8", 0, " a =8,b=2"},
  };
  for (const auto& c : casos) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%s", c.antes);
    EXPECT_EQ(ParamAlteraValor(buf, sizeof buf, c.cabecalho, c.secao, c.chave, c.novo), c.resultado) << c.antes;
    EXPECT_STREQ(buf, c.depois) << c.antes;
  }
  EXPECT_EQ(ParamAlteraValor(nullptr, 0, nullptr, 0, "A", "1"), -1);

  // Exactly full fits; one more byte is refused and leaves the text alone.
  char justo[8] = "A=1,";
  EXPECT_EQ(ParamAlteraValor(justo, sizeof justo, nullptr, 0, "A", "1234"), 0);
  EXPECT_STREQ(justo, "A=1234,");
  EXPECT_EQ(ParamAlteraValor(justo, sizeof justo, nullptr, 0, "A", "12345"), -4);
  EXPECT_STREQ(justo, "A=1234,");
  EXPECT_EQ(ParamAlteraValor(justo, sizeof justo, nullptr, 0, "B", "1"), -4);
  EXPECT_STREQ(justo, "A=1234,");
}

// ------------------------------------------- random inputs, exact-size buffers
//
// Buffers here are heap blocks of exactly the size handed to the routine, so
// the sanitized run catches any write past them.

namespace {
std::string Aleatorio(std::mt19937& rng, const char* alfabeto, size_t maxTam) {
  const size_t na = std::strlen(alfabeto);
  std::string s(rng() % (maxTam + 1), ' ');
  for (auto& c : s) c = alfabeto[rng() % na];
  return s;
}
std::unique_ptr<char[]> Bloco(const std::string& texto, size_t tam) {
  auto b = std::make_unique<char[]>(tam);
  std::memcpy(b.get(), texto.c_str(), texto.size() + 1);
  return b;
}
}  // namespace

TEST(RandomInputs, StrSubstituiAgreesWithAPlainReplacement) {
  std::mt19937 rng(77);
  for (int i = 0; i < 3000; ++i) {
    const std::string texto = Aleatorio(rng, "ab<>/", 40);
    const std::string busca = Aleatorio(rng, "ab<", 3);
    const std::string troca = Aleatorio(rng, "abxyz", 6);
    std::string esperado;
    int conta = 0;
    if (!busca.empty()) {
      for (size_t p = 0;;) {
        size_t q = texto.find(busca, p);
        if (q == std::string::npos) {
          esperado += texto.substr(p);
          break;
        }
        esperado += texto.substr(p, q - p) + troca;
        p = q + busca.size();
        ++conta;
      }
    } else {
      esperado = texto;
    }
    const size_t tam = texto.size() + 1 + rng() % 12;
    auto b = Bloco(texto, tam);
    const int r = StrSubstitui(b.get(), tam, busca.c_str(), troca.c_str());
    if (esperado.size() < tam) {
      ASSERT_EQ(r, conta) << texto << " / " << busca << " / " << troca;
      ASSERT_EQ(std::string(b.get()), esperado);
    } else {
      ASSERT_EQ(r, -1);
      ASSERT_EQ(std::string(b.get()), texto);
    }
  }
}

TEST(RandomInputs, TokenizerAlwaysAdvancesAndStaysInItsBuffers) {
  std::mt19937 rng(1023);
  for (int i = 0; i < 3000; ++i) {
    const std::string linha = Aleatorio(rng, "ab ;=\t\"'\\#!-/nrtf", 60);
    auto b = Bloco(linha, linha.size() + 1);
    const size_t tamToken = 1 + rng() % 8;
    auto token = std::make_unique<char[]>(tamToken);
    for (int passos = 0; b[0] != '\0'; ++passos) {
      ASSERT_LT(passos, 100) << linha;
      const size_t antes = std::strlen(b.get());
      ASSERT_EQ(ExtraiCampo(b.get(), ";=", 1, token.get(), tamToken), 0);
      ASSERT_LT(std::strlen(token.get()), tamToken);
      ASSERT_LT(std::strlen(b.get()), antes) << linha;
    }
  }
}

TEST(RandomInputs, ParamAlteraValorThenLookupFindsTheNewValue) {
  std::mt19937 rng(2024);
  const char* chaves[] = {"A", "B", "C"};
  for (int i = 0; i < 3000; ++i) {
    const std::string texto = Aleatorio(rng, "ABC=, 12", 30);
    const char* chave = chaves[rng() % 3];
    const std::string novo = Aleatorio(rng, "0123456789", 8);
    const size_t tam = texto.size() + 1 + rng() % 12;
    auto b = Bloco(texto, tam);
    const int r = ParamAlteraValor(b.get(), tam, nullptr, 0, chave, novo.c_str());
    ASSERT_TRUE(r == 0 || r == -3 || r == -4) << texto;
    if (r == -4) {
      ASSERT_EQ(std::string(b.get()), texto);
      continue;
    }
    ASSERT_LT(std::strlen(b.get()), tam);
    std::string valor(16, '\0');
    char* p = valor.data();
    ASSERT_EQ(ParamObtemValor(b.get(), nullptr, 0, chave, &p, valor.size()), 0) << texto << " -> " << b.get();
    ASSERT_EQ(std::string(valor.c_str()), novo) << texto << " -> " << b.get();
  }
}

TEST(RandomInputs, LookupsAndMoneyRoutinesStayInTheirBuffers) {
  std::mt19937 rng(31);
  for (int i = 0; i < 3000; ++i) {
    const std::string lista = Aleatorio(rng, "AB=,;\"'\\ <#>x", 50);
    const size_t tam = 1 + rng() % 6;
    auto valor = std::make_unique<char[]>(tam);
    char* p = valor.get();
    const int r = ParamObtemValorEx(lista.c_str(), "x", "<#>", ",", static_cast<int>(rng() % 3), "a", &p, tam);
    ASSERT_TRUE(r == 0 || r == -3);
    ListaObtemTexto(lista.c_str(), "B", valor.get(), tam);

    const std::string valorTexto = Aleatorio(rng, "0123456789.,-", 14);
    const size_t tamV = valorTexto.size() + 1 + rng() % 4;
    auto v = Bloco(valorTexto, tamV);
    const int rv = NormalizaValor(v.get(), tamV, static_cast<int>(rng() % 4));
    ASSERT_TRUE(rv == 0 || rv == -1);
    ASSERT_LT(std::strlen(v.get()), tamV);

    const std::string centavos = Aleatorio(rng, "0123456789", 30);
    auto moeda = std::make_unique<char[]>(41);
    FormataMoeda(moeda.get(), centavos.c_str());
    std::string digitos;
    for (const char* c = moeda.get(); *c; ++c)
      if (*c != '.' && *c != ',') digitos += *c;
    std::string semZeros = centavos.substr(std::min(centavos.find_first_not_of('0'), centavos.size()));
    if (semZeros.size() < 3) semZeros = std::string(3 - semZeros.size(), '0') + semZeros;
    ASSERT_EQ(digitos, semZeros) << centavos;
  }
}
