// The SC5000 command texts and the card answer split, without a pinpad.
#include <gtest/gtest.h>

#include <string>

#include "pinpad/SC5000.h"

namespace {

const std::string fs(1, FS);

std::string Texto(const char (&buf)[TamComandoSC5000], int n) { return std::string(buf, static_cast<size_t>(n)); }

TEST(SC5000Formato, TextosDosComandos) {
  char b[TamComandoSC5000];
  EXPECT_EQ(Texto(b, FormataSelecionaChaveSC5000(b, "1")), "08#001");
  EXPECT_EQ(Texto(b, FormataSelecionaChaveSC5000(b, "12x")), "08#012");
  EXPECT_EQ(Texto(b, FormataLeituraCartaoSC5000(b, "3", "0123456789ABCDEF99")), "Q42003" "0123456789ABCDEF");
  EXPECT_EQ(Texto(b, FormataLeituraCartaoSC5000(b, "3", "ABC")), "Q42003" "             ABC");

  struct Caso {
    const char* titulo;
    const char* pan;
    const char* wk;
    bool limites;
    int minimo, maximo;
    std::string esperado;
  };
  const Caso casos[] = {
      {"16 digitos sem chave", "1234567890123456", nullptr, false, 0, 0,
       "Z62." + fs + "1234567890123456" + "0412NSenha" + fs + fs + " " + fs},
      {"13 digitos alinhados a direita", "1234567890123", nullptr, false, 0, 0,
       "Z62." + fs + "   1234567890123" + "0412NSenha" + fs + fs + " " + fs},
      {"com chave de trabalho", "1234567890123456", "FEDCBA9876543210", false, 0, 0,
       "Z62.016FEDCBA9876543210" + fs + "1234567890123456" + "0412NSenha" + fs + fs + " " + fs},
      {"limites fora da faixa", "1234567890123456", nullptr, true, -1, 20,
       "Z62." + fs + "1234567890123456" + "0012NSenha" + fs + fs + " " + fs},
      {"limites com chave", "12345678901234567890", "FEDCBA9876543210", true, 6, 8,
       "Z62.016FEDCBA9876543210" + fs + "1234567890123456" + "0608NSenha" + fs + fs + " " + fs},
  };
  for (const Caso& c : casos) {
    int n = FormataEntradaSenhaSC5000(b, c.pan, c.wk, c.limites, c.minimo, c.maximo);
    EXPECT_EQ(Texto(b, n), c.esperado) << c.titulo;
  }
}

TEST(SC5000Formato, TrilhasDaRespostaDeCartao) {
  char t1[16], t2[16];
  std::string r = "81x" "4111111111111111=2512" + fs + "B4111^NOME" + fs + "resto";
  // Track 2 of 20 characters does not fit 16 bytes: refused, nothing copied.
  std::fill(std::begin(t2), std::end(t2), 'z');
  EXPECT_STREQ(ExtraiTrilhasSC5000(r, t1, t2), "Trilha 2 maior que o buffer");
  EXPECT_EQ(t2[0], 'z');

  char g1[64], g2[64];
  EXPECT_EQ(ExtraiTrilhasSC5000(r, g1, g2), nullptr);
  EXPECT_STREQ(g2, "4111111111111111=2512");
  EXPECT_STREQ(g1, "B4111^NOME");

  // Without the second FS: track 2 already copied, then refused.
  std::string semFs = "81x" "T2" + fs + "T1";
  g2[0] = g1[0] = 'z';
  EXPECT_STREQ(ExtraiTrilhasSC5000(semFs, g1, g2), "Trilha 1 indefinida");
  EXPECT_STREQ(g2, "T2");
  EXPECT_EQ(g1[0], 'z');

  EXPECT_STREQ(ExtraiTrilhasSC5000("81", g1, g2), "Trilha 2 indefinida");
  EXPECT_STREQ(ExtraiTrilhasSC5000("81xT2", g1, g2), "Trilha 2 indefinida");
  std::string t1Longa = "81x" + fs + std::string(16, '1') + fs;
  EXPECT_STREQ(ExtraiTrilhasSC5000(t1Longa, t1, t2), "Trilha 1 maior que o buffer");
  std::string vazias = "81x" + fs + fs;
  EXPECT_EQ(ExtraiTrilhasSC5000(vazias, t1, t2), nullptr);
  EXPECT_STREQ(t1, "");
  EXPECT_STREQ(t2, "");
}

}  // namespace
