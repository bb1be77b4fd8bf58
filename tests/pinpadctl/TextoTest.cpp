// The tools' character sets and strict argument reading: user text in the
// locale's encoding to the pinpad's Latin-1 (counted in characters, refused
// when it cannot be shown), Latin-1 and user text to UTF-8 for JSON, UTF-8 to
// the locale for people, columns by characters shown; numbers read whole.
#include <gtest/gtest.h>

#include <clocale>
#include <string>

#include "tools/kolvar-lote/Lote.h"
#include "tools/pinpadctl/Argumentos.h"
#include "tools/pinpadctl/Cores.h"
#include "tools/pinpadctl/Json.h"
#include "tools/pinpadctl/Texto.h"

namespace {

using namespace pinpadctl;

// Sets LC_ALL for one test; back to "C" afterwards.
struct Locale {
  explicit Locale(const char* nome) { ok = std::setlocale(LC_ALL, nome) != nullptr; }
  ~Locale() { std::setlocale(LC_ALL, "C"); }
  bool ok;
};

TEST(Texto, TextoDoUsuarioViraLatin1DoPinpad) {
  struct Caso {
    const char* locale;
    std::string entrada;
    bool aceito;
    std::string latin1;   // when accepted
    const char* trecho;   // of the reason, when refused
  } casos[] = {
      {"C.UTF-8", "A\xC3\x87\xC3\x83O|PRE\xC3\x87O", true, "A\xC7\xC3O|PRE\xC7O", ""},
      {"C.UTF-8", "plain", true, "plain", ""},
      {"C.UTF-8", "\xE2\x82\xAC 10", false, "", "U+20AC"},           // euro sign: not in Latin-1
      {"C.UTF-8", "\xE4\xB8\xAD", false, "", "U+4E2D"},              // a CJK character
      {"C.UTF-8", "A\tB", false, "", "U+0009"},                      // control character
      {"C.UTF-8", "A\xC7O", false, "", "0xC7, posicao 2"},           // Latin-1 byte in a UTF-8 locale
      // The C locale holds no byte above 0x7F: valid UTF-8 can only be UTF-8.
      {"C", "A\xC3\x87\xC3\x83O", true, "A\xC7\xC3O", ""},
      {"C", "A\xC7O", false, "", "ANSI_X3.4-1968"},
  };
  for (const auto& c : casos) {
    Locale l(c.locale);
    ASSERT_TRUE(l.ok) << c.locale;
    std::string latin1, erro;
    EXPECT_EQ(TextoUsuarioParaLatin1(c.entrada, latin1, erro), c.aceito) << c.locale << " " << c.entrada;
    if (c.aceito) {
      EXPECT_EQ(latin1, c.latin1) << c.entrada;
    } else {
      EXPECT_NE(erro.find(c.trecho), std::string::npos) << erro;
    }
  }
}

TEST(Texto, Utf8ParaJsonEParaOLocale) {
  EXPECT_EQ(Latin1ParaUtf8("F\xC1" "BRICA \xE9"), "F\xC3\x81" "BRICA \xC3\xA9");
  EXPECT_TRUE(Utf8Valido("a\xC3\xA7\xE2\x82\xAC"));
  for (const char* ruim : {"\xC3", "\xC0\x80", "\xED\xA0\x80", "\xF5\x80\x80\x80", "a\xE3o"})
    EXPECT_FALSE(Utf8Valido(ruim)) << ruim;
  {
    Locale l("C.UTF-8");
    EXPECT_EQ(TextoUsuarioParaUtf8("pinpad-a\xC3\xA7\xC3\xA3o"), "pinpad-a\xC3\xA7\xC3\xA3o");
    EXPECT_EQ(TextoUsuarioParaUtf8("a\xE3o"), "a\xEF\xBF\xBDo");  // not UTF-8: U+FFFD, still valid JSON
    EXPECT_EQ(Utf8ParaLocale("a\xC3\xA7\xC3\xA3o"), "a\xC3\xA7\xC3\xA3o");
  }
  Locale c("C");
  // A locale without accents gets the plain letters.
  EXPECT_EQ(Utf8ParaLocale("inv\xC3\xA1lido a\xC3\xA7\xC3\xA3o \xE2\x82\xAC"), "invalido acao ?");
}

TEST(Texto, LarguraEmCaracteresMostrados) {
  Locale l("C.UTF-8");
  ASSERT_TRUE(l.ok);
  EXPECT_EQ(Largura("a\xC3\xA7\xC3\xA3o"), 4u);
  EXPECT_EQ(Largura("\xE4\xB8\xAD"), 2u);  // a wide character
  EXPECT_EQ(Preenche("a\xC3\xA7\xC3\xA3o", 6), "a\xC3\xA7\xC3\xA3o  ");
}

TEST(Argumentos, NumerosLidosInteiros) {
  struct Inteiro {
    const char* texto;
    bool ok;
    long valor;
  } inteiros[] = {{"5", true, 5},   {"99", true, 99}, {"0", true, 0},     {"5x", false, 0},  {" 5", false, 0},
                  {"+5", false, 0}, {"-1", false, 0}, {"100", false, 0},  {"", false, 0},    {"0x10", false, 0},
                  {"99999999999999999999", false, 0}};
  for (const auto& c : inteiros) {
    long v = -7;
    EXPECT_EQ(InteiroEstrito(c.texto, 0, 99, v), c.ok) << c.texto;
    if (c.ok) {
      EXPECT_EQ(v, c.valor) << c.texto;
    }
  }
  struct Segundos {
    const char* texto;
    bool ok;
  } segundos[] = {{"30", true}, {"0.5", true}, {"1e3", false}, {"inf", false}, {"nan", false}, {"0", false},
                  {"-1", false}, {"1.2.3", false}, {".", false}, {" 3", false}, {"86401", false}};
  for (const auto& c : segundos) {
    double v = 0;
    EXPECT_EQ(SegundosEstritos(c.texto, 86400, v), c.ok) << c.texto;
  }
  struct Faixa {
    const char* texto;
    bool ok;
    int de, ate;
  } faixas[] = {{"0-9", true, 0, 9}, {"5", true, 5, 5}, {"5x", false, 0, 0}, {"9-2", false, 0, 0},
                {"2-", false, 0, 0}, {"-2", false, 0, 0}, {"0-100", false, 0, 0}, {"1-2-3", false, 0, 0}};
  for (const auto& c : faixas) {
    int de = -1, ate = -1;
    EXPECT_EQ(FaixaEstrita(c.texto, 0, 99, de, ate), c.ok) << c.texto;
    if (c.ok) {
      EXPECT_EQ(de, c.de) << c.texto;
      EXPECT_EQ(ate, c.ate) << c.texto;
    }
  }
}

// Kolvar's console is Latin-1 but carries the port path as the user gave it.
TEST(LoteTexto, ConsoleETabelaEmUtf8) {
  Locale l("C.UTF-8");
  ASSERT_TRUE(l.ok);
  lote::Porta p;
  p.porta = "/tmp/pinpad-a\xC3\xA7\xC3\xA3o";
  p.console = "Erro 2[No such file or directory] na abertura da " + p.porta + "\n[x] Status n\xE3o \xE9 conhecido.\n";
  EXPECT_EQ(lote::ConsoleUtf8(p), "Erro 2[No such file or directory] na abertura da /tmp/pinpad-a\xC3\xA7\xC3\xA3o\n"
                                  "[x] Status n\xC3\xA3o \xC3\xA9 conhecido.\n");

  lote::Porta q;
  q.porta = "/dev/ttyACM0";
  q.fabricante = "F\xC1" "BRICA";  // Latin-1 from the pinpad
  p.veredito = "ERRO 30";
  q.veredito = "COMPATIVEL 3DES";
  const std::string t = lote::Tabela({p, q});
  // The VEREDITO column starts at the same character on every line.
  size_t coluna = std::string::npos;
  size_t inicio = 0;
  for (size_t fim; (fim = t.find('\n', inicio)) != std::string::npos; inicio = fim + 1) {
    const std::string linha = t.substr(inicio, fim - inicio);
    size_t v = linha.find("VEREDITO");
    if (v == std::string::npos) v = linha.find("ERRO 30");
    if (v == std::string::npos) v = linha.find("COMPATIVEL");
    ASSERT_NE(v, std::string::npos) << linha;
    const size_t c = Largura(linha.substr(0, v));
    if (coluna == std::string::npos) coluna = c;
    EXPECT_EQ(c, coluna) << t;
  }
  EXPECT_NE(t.find("F\xC3\x81" "BRICA"), std::string::npos) << t;
  // Colour on the verdict only, the padding outside it.
  const std::string cor = lote::Tabela({q}, true);
  EXPECT_NE(cor.find("\033[32mCOMPATIVEL 3DES\033[0m  "), std::string::npos) << cor;
  EXPECT_EQ(lote::Tabela({q}).find('\033'), std::string::npos);
}

}  // namespace
