// pinpadctl's readers of pinpad answers and its port explanations, without a
// pinpad: the masking rule, the card answer and event layouts (with a sentinel
// number that must never come out whole), the information block, the errno
// table and the JSON text form.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include "common/TestUtil.h"
#include "tools/pinpadctl/Blocos.h"
#include "tools/pinpadctl/Json.h"
#include "tools/pinpadctl/Texto.h"
#include "tools/pinpadctl/Porta.h"

namespace {

using namespace pinpadctl;

TEST(MascaraPan, MostraSoSeisEQuatroEEscondeNumerosCurtos) {
  struct Caso {
    const char* pan;
    const char* esperado;
  } casos[] = {
      {"4761739001010010", "476173******0010"},
      {"4999988887777666555", "499998*********6555"},
      {"5031 4332 1540 6351", "503143******6351"},  // blanks dropped
      {"1234567890123", "123456***0123"},           // 13 digits: still 6 + 4
      {"123456789012", "********9012"},             // 12 or fewer: only the last four
      {"12345", "*2345"},
      {"1234", "****"},
      {"", ""},
  };
  for (const auto& c : casos) EXPECT_EQ(MascaraPan(c.pan), c.esperado) << c.pan;
}

// A card answer laid out as the pinpad sends it, around a sentinel number.
const std::string Sentinela = "4999988887777666";

std::string Ajusta(std::string s, size_t n) {
  s.resize(n, ' ');
  return s;
}
std::string Contado(const std::string& s, size_t max, int digitos) {
  char n[8];
  std::snprintf(n, sizeof n, "%0*zu", digitos, s.size());
  return n + Ajusta(s, max);
}
std::string Trilhas(const std::string& pan) {
  return Contado("B" + pan + "^SENTINELA/TESTE^3112201000", 76, 2) + Contado(pan + "=311220100000", 37, 2) +
         Contado("", 104, 3);
}
std::string RespostaCartao(const std::string& tipo, const std::string& pan, const std::string& campoPan) {
  return tipo + "0" + "99" + "01" + "01" + Trilhas(pan) + Contado(campoPan, 19, 2) + "00" + Ajusta("CREDITO", 16) +
         "201" + Ajusta("SENTINELA/TESTE", 26) + "311231";
}

TEST(LeCartao, DaNumeroMascaradoValidadeENomeNuncaATrilha) {
  CartaoVisivel c;
  ASSERT_TRUE(LeCartao(RespostaCartao("00", Sentinela, Sentinela), c));
  EXPECT_EQ(c.tipo, "magnetico");
  EXPECT_EQ(c.pan_mascarado, "499998******7666");
  EXPECT_EQ(c.validade, "12/31");
  EXPECT_EQ(c.nome, "SENTINELA/TESTE");
  EXPECT_EQ(c.rotulo, "CREDITO");
  for (const auto& campo : {c.tipo, c.pan_mascarado, c.validade, c.nome, c.rotulo}) {
    EXPECT_EQ(campo.find("88887777"), std::string::npos) << campo;
    EXPECT_EQ(campo.find('='), std::string::npos) << campo;
  }
}

TEST(LeCartao, SemCampoDeNumeroUsaATrilha2EDepoisATrilha1) {
  CartaoVisivel c;
  ASSERT_TRUE(LeCartao(RespostaCartao("03", Sentinela, ""), c));
  EXPECT_EQ(c.tipo, "chip");
  EXPECT_EQ(c.pan_mascarado, "499998******7666");

  // Only track 1.
  std::string so1 = "00" "0" "99" "01" "01" + Contado("B" + Sentinela + "^SENTINELA/TESTE^2806", 76, 2) +
                    Contado("", 37, 2) + Contado("", 104, 3) + Contado("", 19, 2);
  ASSERT_TRUE(LeCartao(so1, c));
  EXPECT_EQ(c.pan_mascarado, "499998******7666");
  EXPECT_EQ(c.nome, "SENTINELA/TESTE");
  EXPECT_EQ(c.validade, "06/28");
}

TEST(LeCartao, RespostaCurtaOuSemNumeroEhRecusada) {
  CartaoVisivel c;
  EXPECT_FALSE(LeCartao("00", c));
  EXPECT_FALSE(LeCartao(std::string(300, ' '), c));
}

TEST(LeTrilhasEvento, CartaoPassadoDaSoONumeroMascarado) {
  CartaoVisivel c;
  ASSERT_TRUE(LeTrilhasEvento(Trilhas(Sentinela), c));
  EXPECT_EQ(c.pan_mascarado, "499998******7666");
  EXPECT_EQ(c.nome, "SENTINELA/TESTE");
  EXPECT_EQ(c.validade, "12/31");
}

TEST(LeInformacao, CamposPeloNomeEVersaoNosCaracteres60a63) {
  std::string bloco = Ajusta("FABRICANTE X", 20) + Ajusta("MODELO Y", 19) + "1" + Ajusta("FW 2.3", 20) + "1.06" +
                      Ajusta("APP 9", 16) + Ajusta("SERIE123", 20);
  Informacao i = LeInformacao(bloco);
  EXPECT_EQ(i.fabricante, "FABRICANTE X");
  EXPECT_EQ(i.modelo, "MODELO Y");
  EXPECT_EQ(i.sem_contato, "1");
  EXPECT_EQ(i.firmware, "FW 2.3");
  EXPECT_EQ(i.versao, "1.06");
  EXPECT_EQ(i.aplicacao, "APP 9");
  EXPECT_EQ(i.serie, "SERIE123");
  Informacao curta = LeInformacao("SO O FABRICANTE");
  EXPECT_EQ(curta.fabricante, "SO O FABRICANTE");
  EXPECT_EQ(curta.versao, "");
  EXPECT_EQ(curta.serie, "");
}

TEST(KolvarAplicaTeste, AbaixoDe107ComoOKolvarCompara) {
  struct Caso {
    std::string versao;
    bool aplica;
  } casos[] = {{"1.06", true}, {"0.99", true}, {"    ", true}, {std::string(4, '\0'), true}, {"", true},
               {"1.07", false}, {"1.10", false}, {"2.00", false}};
  for (const auto& c : casos) EXPECT_EQ(KolvarAplicaTeste(c.versao), c.aplica) << "[" << c.versao << "]";
}

TEST(ExplicaErro, CadaErroDoSistemaEmPalavrasSimples) {
  struct Caso {
    int erro;
    const char* trecho;
  } casos[] = {
      {ENOENT, "nao existe"},         {EACCES, "grupo 'dialout'"}, {EACCES, "usermod -aG dialout"},
      {EBUSY, "ocupado"},             {ENOTTY, "nao e um terminal"}, {EISDIR, "e uma pasta"},
      {ENXIO, "desconectado"},        {EIO, "entrada e saida"},
  };
  for (const auto& c : casos) {
    std::string t = ExplicaErro(c.erro, "/dev/ttyACM0", "dialout");
    EXPECT_NE(t.find(c.trecho), std::string::npos) << c.erro << ": " << t;
    EXPECT_NE(t.find("/dev/ttyACM0"), std::string::npos) << t;
  }
  EXPECT_NE(ExplicaErro(EACCES, "/dev/x", "").find("Permissao negada"), std::string::npos);
}

TEST(ExaminaPorta, RecusaOQueNaoEhTerminalSemEscreverNele) {
  testutil::DiretorioTemp tmp;
  const std::string& pasta = tmp.caminho();
  std::string arquivo = pasta + "/arquivo";
  FILE* f = std::fopen(arquivo.c_str(), "w");
  ASSERT_NE(f, nullptr);
  std::fputs("dados", f);
  std::fclose(f);
  struct Caso {
    std::string porta;
    int erro;
  } casos[] = {{pasta + "/nao-existe", ENOENT}, {arquivo, ENOTTY}, {pasta, EISDIR},
               {"/dev/null", ENOTTY},           {arquivo + "/x", ENOTDIR}};
  for (const auto& c : casos) {
    ExameDePorta ex = ExaminaPorta(c.porta);
    EXPECT_FALSE(ex.ok) << c.porta;
    EXPECT_EQ(ex.erro, c.erro) << c.porta;
    EXPECT_FALSE(ex.explicacao.empty());
  }
  EXPECT_EQ(CaminhoDispositivo("1"), "/dev/ttyS0");
  EXPECT_EQ(CaminhoDispositivo("3"), "/dev/ttyS2");
  EXPECT_EQ(CaminhoDispositivo("/dev/ttyACM0"), "/dev/ttyACM0");
}

TEST(Json, Utf8PassaInteiroEControlesSaoEscapados) {
  EXPECT_EQ(AspasJson("a\"b\\c\n\x01"), "\"a\\\"b\\\\c\\n\\u0001\"");
  // The pinpad's Latin-1 is converted before it goes in; UTF-8 is not touched again.
  EXPECT_EQ(AspasJson(Latin1ParaUtf8("n\xE3o \xE9")), "\"n\xC3\xA3o \xC3\xA9\"");
  EXPECT_EQ(AspasJson("a\xC3\xA7\xC3\xA3o"), "\"a\xC3\xA7\xC3\xA3o\"");
  ObjetoJson j;
  j.Texto("a", "x").Numero("b", -3).Logico("c", true).Bruto("d", "[]");
  EXPECT_EQ(j.Texto(), "{\"a\":\"x\",\"b\":-3,\"c\":true,\"d\":[]}");
}

}  // namespace
