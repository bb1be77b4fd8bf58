#include <gtest/gtest.h>

#include <map>
#include <random>
#include <string>

#include "common/TestUtil.h"
#include "support/ArquivoIni.h"

namespace {

class Ini : public ::testing::Test {
 protected:
  std::string Le(const char* secao, const char* chave, const char* padrao = "?", uint16_t tamanho = 600) {
    std::string buf(tamanho, 'X');
    int n = IniLeTexto(secao, chave, padrao, buf.data(), tamanho, arquivo.c_str());
    return buf.substr(0, static_cast<size_t>(n));
  }
  void Grava(const std::string& texto) { testutil::GravaArquivo(arquivo, texto); }
  std::string Conteudo() { return testutil::LeArquivo(arquivo); }

  // One write into a file: the file after it, and what the next read of the
  // key gives ("?" for nothing).
  struct CasoEscrita {
    const char* titulo;
    const char* antes;
    const char* chave;
    const char* valor;
    const char* depois;
    const char* lido;
  };
  template <size_t N>
  void ConfereEscritas(const CasoEscrita (&casos)[N]) {
    for (const auto& c : casos) {
      SCOPED_TRACE(c.titulo);
      Grava(c.antes);
      EXPECT_EQ(IniGravaTexto("S", c.chave, c.valor, arquivo.c_str()), 1);
      EXPECT_EQ(Conteudo(), c.depois);
      if (c.chave != nullptr) {
        EXPECT_EQ(Le("S", c.chave), c.lido);
      }
    }
  }

  testutil::DiretorioTemp dir;
  std::string arquivo = dir.arquivo("PinPad.ini");
};

}  // namespace

TEST_F(Ini, ReaderIsForgivingAboutTabsSpacesCaseAndLineEnds) {
  Grava("[pinpad]\n\tVelocidadePinPad = 9600 \n");
  EXPECT_EQ(IniLeInteiro("PinPad", "VelocidadePinPad", 19200, arquivo.c_str()), 9600);
  Grava("\r\n[A]\r\n\r\nk1=v1\r\nK2 =  um valor  \r[B]\nk1=outro\n");
  EXPECT_EQ(Le("a", "k1"), "v1");
  EXPECT_EQ(Le("A", "k2"), "um valor");
  EXPECT_EQ(Le("B", "K1"), "outro");
  EXPECT_EQ(Le("A", "falta"), "?");
  EXPECT_EQ(Le("C", "k1"), "?");
}

TEST_F(Ini, ReaderEdgeCases) {
  struct Caso {
    const char* titulo;
    const char* arquivo;
    const char* secao;
    const char* chave;
    const char* esperado;
  };
  static constexpr Caso casos[] = {
      {"key after a '{' line is outside", "[S]\n{bloco}\nk=1\n", "S", "k", "?"},
      {"key after a '[' line is outside", "[S]\n[T]\nk=1\n", "S", "k", "?"},
      {"spaces inside the brackets", "[ PinPad ]\nk=1\n", "PinPad", "k", "?"},
      {"text after ']'", "[PinPad] x\nk=1\n", "PinPad", "k", "?"},
      {"first section and key win", "[S]\nk=1\nk=2\n[S]\nk=3\n", "S", "k", "1"},
      {"line without '=' is a comment", "[S]\n; k=x\nk\nk=2\n", "S", "k", "2"},
      {"value keeps later '='", "[S]\nk=a=b\n", "S", "k", "a=b"},
      {"empty value", "[S]\nk=\n", "S", "k", ""},
      {"tab inside the value is removed", "[S]\nk=a\tb\n", "S", "k", "ab"},
  };
  for (const auto& c : casos) {
    Grava(c.arquivo);
    EXPECT_EQ(Le(c.secao, c.chave), c.esperado) << c.titulo;
  }
}

TEST_F(Ini, IntegerDefaultsAndConversion) {
  Grava("[S]\nvazio=\nletras=abc\nnum=42x\n");
  EXPECT_EQ(IniLeInteiro("S", "vazio", 7, arquivo.c_str()), 7);
  EXPECT_EQ(IniLeInteiro("S", "letras", 7, arquivo.c_str()), 0);
  EXPECT_EQ(IniLeInteiro("S", "num", 7, arquivo.c_str()), 42);
  EXPECT_EQ(IniLeInteiro("S", "falta", 7, arquivo.c_str()), 7);
  EXPECT_EQ(IniLeInteiro("S", "num", 7, dir.arquivo("nao-existe").c_str()), 7);
  EXPECT_EQ(IniExiste(arquivo.c_str()), 1);
  EXPECT_EQ(IniExiste(dir.arquivo("nao-existe").c_str()), 0);
}

TEST_F(Ini, ValuesAreCutToTheBufferAndLongLinesAtTheLimit) {
  Grava("[S]\nk=0123456789\n");
  EXPECT_EQ(Le("S", "k", "?", 5), "0123");
  EXPECT_EQ(Le("S", "falta", "padrao longo", 4), "pad");
  char um[1] = {'X'};
  EXPECT_EQ(IniLeTexto("S", "k", "", um, 1, arquivo.c_str()), 0);
  EXPECT_EQ(um[0], '\0');
  // A line past the limit is cut; its remainder is not read as another line.
  Grava("[S]\nk=" + std::string(600, 'a') + "x=resto\nz=1\n");
  EXPECT_EQ(Le("S", "k").size(), static_cast<size_t>(INI_TAM_LINHA - 2));
  EXPECT_EQ(Le("S", "x"), "?");
  EXPECT_EQ(Le("S", "z"), "1");
}

TEST_F(Ini, ListsKeysAndSections) {
  Grava("[A]\nk1=1\n k2 =2\ncomentario\n{x=3}\n[B]\nz=9\n[C\n");
  std::string chaves = Le("A", nullptr);
  EXPECT_EQ(chaves, std::string("k1\0k2 \0{x\0", 10));
  EXPECT_EQ(Le(nullptr, nullptr), std::string("A\0B\0C\0", 6));
  EXPECT_EQ(Le("falta", nullptr, "pad"), "pad");
  // Only whole names that fit in size - 1 bytes; the list ends with a NUL.
  char buf[7];
  EXPECT_EQ(IniLeTexto("A", nullptr, "", buf, sizeof buf, arquivo.c_str()), 3);
  EXPECT_EQ(std::string(buf, 4), std::string("k1\0\0", 4));
  EXPECT_EQ(IniLeTexto(nullptr, nullptr, "x", buf, sizeof buf, dir.arquivo("nao-existe").c_str()), 0);
}

TEST_F(Ini, WriteIntoANewFileMakesTwoLines) {
  EXPECT_EQ(IniGravaTexto("Backup", "Arquivo", "/tmp/x.trc", arquivo.c_str()), 1);
  EXPECT_EQ(Conteudo(), "[Backup]\n  Arquivo=/tmp/x.trc\n");
  EXPECT_EQ(IniGravaInteiro("Backup", "Arquivo", -5, arquivo.c_str()), 1);
  EXPECT_EQ(Conteudo(), "[Backup]\n  Arquivo=-5\n");
}

TEST_F(Ini, WriteFormsAndNormalisation) {
  struct Caso {
    const char* titulo;
    const char* antes;
    const char* secao;
    const char* chave;
    const char* valor;
    int resultado;
    const char* depois;
  };
  static constexpr Caso casos[] = {
      {"new key goes before the next header", "[A]\nk=1\n[B]\nz=2\n", "A", "n", "v", 1,
       "[A]\n  k=1\n  n=v\n\n[B]\n  z=2\n"},
      {"new key in the last section", "[A]\nk=1\n", "a", "n", "v", 1, "[A]\n  k=1\n  n=v\n"},
      {"new section at the end", "[A]\nk=1\n", "B", "n", "v", 1, "[A]\n  k=1\n\n[B]\n  n=v\n"},
      {"replace keeps the key's spelling", "[A]\nChave = 1\n", "A", "chave", "2", 1, "[A]\n  Chave=2\n"},
      {"empty value keeps the key", "[A]\nk=1\n", "A", "k", "", 1, "[A]\n  k=\n"},
      {"empty value does not create", "[A]\nk=1\n", "A", "n", "", 1, "[A]\n  k=1\n"},
      {"delete the only key keeps the header", "[A]\nk=1\n[B]\nz=2\n", "A", "k", nullptr, 1,
       "[A]\n\n[B]\n  z=2\n"},
      {"delete a missing key changes nothing", "[A]\nk=1\n", "A", "n", nullptr, 1, "[A]\n  k=1\n"},
      {"delete a section", "[A]\nk=1\nj=2\n[B]\nz=2\n", "A", nullptr, nullptr, 1, "[B]\n  z=2\n"},
      {"blank lines dropped, keys re-indented", "\n\n[A]\n\n\t k=1\n\n\n    j=2\n\n[B]\nz=2\n", "A", "k", "3",
       1, "[A]\n  k=3\n  j=2\n\n[B]\n  z=2\n"},
      {"CR LF file is rewritten with LF", "[A]\r\nk=1\r\n", "A", "k", "2", 1, "[A]\n  k=2\n"},
      {"an empty line stays before '{'", "[A]\nk=1\n\n{x}\n", "A", "k", "2", 1, "[A]\n  k=2\n\n  {x}\n"},
      {"null section does nothing", "[A]\nk=1\n", nullptr, "k", "2", 0, "[A]\nk=1\n"},
      {"key with '=' is refused", "[A]\nk=1\n", "A", "k=x", "2", 0, "[A]\nk=1\n"},
      {"value with a line end is refused", "[A]\nk=1\n", "A", "k", "2\n[B]", 0, "[A]\nk=1\n"},
  };
  for (const auto& c : casos) {
    Grava(c.antes);
    EXPECT_EQ(IniGravaTexto(c.secao, c.chave, c.valor, arquivo.c_str()), c.resultado) << c.titulo;
    EXPECT_EQ(Conteudo(), c.depois) << c.titulo;
  }
}

TEST_F(Ini, WritePastTheSizeLimitIsRefused) {
  std::string grande = "[A]\n";
  // Appended piece by piece: text put in front of a temporary string trips
  // g++ 12's -Wrestrict at -O3.
  for (int i = 0; i < 8; ++i) {
    grande += 'k';
    grande += std::to_string(i);
    grande += '=';
    grande.append(500, 'v');
    grande += '\n';
  }
  Grava(grande);
  EXPECT_EQ(IniGravaTexto("A", "n", std::string(100, 'w').c_str(), arquivo.c_str()), 0);
  EXPECT_EQ(Conteudo(), grande);
  EXPECT_EQ(IniGravaTexto("A", "n", "w", arquivo.c_str()), 1);  // 4036 + 4 + 3 + 2 fits, and 4058 rewritten
  // The rewrite indents every key: a file under the limit can grow past it.
  std::string rente = "[A]\n";
  while (rente.size() < 3000) rente += "a=1\n";
  Grava(rente);
  EXPECT_EQ(IniGravaTexto("A", "b", "2", arquivo.c_str()), 0);
  EXPECT_TRUE(Conteudo() == rente) << "the refused write changed the file";
  EXPECT_EQ(IniGravaTexto(std::string(INI_TAM_SECAO + 1, 's').c_str(), "k", "v", arquivo.c_str()), 0);
  EXPECT_EQ(IniGravaTexto("A", "k", std::string(INI_TAM_LINHA, 'v').c_str(), arquivo.c_str()), 0);
  EXPECT_EQ(IniGravaTexto("A", "k", "v", dir.arquivo("sem/dir/x.ini").c_str()), 0);
}

// A write would rewrite every line of the file; one longer than the reader
// takes would lose its end, wherever it stands: such a write is refused and the
// file left as it was. A line exactly at the limit is kept whole.
TEST_F(Ini, WriteThatWouldCutALongLineIsRefused) {
  const std::string longa = "k=" + std::string(712, 'v');  // 714 characters
  struct Caso {
    const char* titulo;
    std::string antes;
    const char* secao;
    const char* chave;
    const char* valor;
    int esperado;
  } casos[] = {
      {"in another section", "[A]\n" + longa + "\n[B]\nx=1\n", "B", "x", "2", 0},
      {"in the same section", "[A]\n" + longa + "\nx=1\n", "A", "x", "2", 0},
      {"in a comment line", "[A]\n# " + std::string(600, 'c') + "\n[B]\nx=1\n", "B", "y", "2", 0},
      {"before any section", std::string(600, 'c') + "\n[B]\nx=1\n", "B", "x", "", 0},
      {"when deleting a key", "[A]\n" + longa + "\n[B]\nx=1\n", "B", "x", nullptr, 0},
      {"a line of tabs and blanks only is no long line",
       "[A]\n" + std::string(900, '\t') + "\n" + std::string(600, ' ') + "\n[B]\nx=1\n", "B", "x", "2", 1},
      {"the long line is the one being replaced", "[A]\n" + longa + "\n", "A", "k", "curto", 1},
      {"the long line's section is deleted", "[A]\n" + longa + "\n[B]\nx=1\n", "A", nullptr, nullptr, 1},
      {"exactly at the limit", "[A]\nk=" + std::string(INI_TAM_LINHA - 2, 'v') + "\n[B]\nx=1\n", "B", "x", "2", 1},
  };
  for (const Caso& c : casos) {
    SCOPED_TRACE(c.titulo);
    Grava(c.antes);
    EXPECT_EQ(IniGravaTexto(c.secao, c.chave, c.valor, arquivo.c_str()), c.esperado);
    if (c.esperado == 0) {
      EXPECT_TRUE(Conteudo() == c.antes) << "the refused write changed the file";
    }
  }
  Grava("[A]\nk=" + std::string(INI_TAM_LINHA - 2, 'v') + "\n[B]\nx=1\n");
  ASSERT_EQ(IniGravaTexto("B", "x", "2", arquivo.c_str()), 1);
  EXPECT_EQ(Le("A", "k"), std::string(INI_TAM_LINHA - 2, 'v'));
}

// Blank lines do not end the reading, however many: a value after a long run
// of CR, LF and tabs is read, and the writer finds, sets and adds keys there.
TEST_F(Ini, ValuesAfterALongRunOfBlankLinesAreReadAndWritten) {
  std::string brancos;
  for (int i = 0; i < 300; ++i) brancos += "\r\n\t";  // 900 blank bytes
  for (const std::string& antes : {"[A]\na=1\n" + brancos + "[B]\nb=2\n", "[A]\na=1\n" + brancos + "c=3\n"}) {
    Grava(antes);
    const char* secao = antes.find("[B]") != std::string::npos ? "B" : "A";
    const char* chave = antes.find("[B]") != std::string::npos ? "b" : "c";
    EXPECT_EQ(Le(secao, chave), antes.find("[B]") != std::string::npos ? "2" : "3");
    ASSERT_EQ(IniGravaTexto(secao, chave, "novo", arquivo.c_str()), 1);
    ASSERT_EQ(IniGravaTexto(secao, "outra", "x", arquivo.c_str()), 1);
    EXPECT_EQ(Le(secao, chave), "novo");
    EXPECT_EQ(Le(secao, "outra"), "x");
    EXPECT_EQ(Le("A", "a"), "1");
  }
}

// Random edits applied both to the file and to a simple model: after each
// write, every key reads back as the model says.
TEST_F(Ini, WriteThenReadAgreeOverRandomEdits) {
  std::mt19937 rng(2024);
  const char* secoes[] = {"PinPad", "Backup", "Outra"};
  const char* chaves[] = {"Porta", "VelocidadePinPad", "Arquivo", "NivelTrace"};
  std::map<std::pair<int, int>, std::string> modelo;
  for (int passo = 0; passo < 300; ++passo) {
    int s = static_cast<int>(rng() % 3), k = static_cast<int>(rng() % 4), acao = static_cast<int>(rng() % 10);
    if (acao < 7) {
      std::string valor = std::to_string(rng() % 100000) + (rng() % 2 ? " com espaco" : "");
      ASSERT_EQ(IniGravaTexto(secoes[s], chaves[k], valor.c_str(), arquivo.c_str()), 1);
      modelo[{s, k}] = valor;
    } else if (acao < 9) {
      ASSERT_EQ(IniGravaTexto(secoes[s], chaves[k], nullptr, arquivo.c_str()), 1);
      modelo.erase({s, k});
    } else {
      ASSERT_EQ(IniGravaTexto(secoes[s], nullptr, nullptr, arquivo.c_str()), 1);
      for (int j = 0; j < 4; ++j) modelo.erase({s, j});
    }
    for (int si = 0; si < 3; ++si)
      for (int ki = 0; ki < 4; ++ki) {
        auto it = modelo.find({si, ki});
        ASSERT_EQ(Le(secoes[si], chaves[ki], "<nada>"), it == modelo.end() ? "<nada>" : it->second)
            << "passo " << passo << "\n" << Conteudo();
      }
  }
}

// The caller's key is trimmed as the file's keys are: a key with blanks at its
// ends sets, reads and deletes the same line as the bare key, and writing it
// twice leaves one line.
TEST_F(Ini, KeyWithBlanksAtItsEndsMatchesTheTrimmedKey) {
  for (const char* chave : {" Chave", "Chave  ", "  Chave "}) {
    SCOPED_TRACE(std::string("[") + chave + "]");
    Grava("[S]\nOutra=1\n");
    ASSERT_EQ(IniGravaTexto("S", chave, "v1", arquivo.c_str()), 1);
    ASSERT_EQ(IniGravaTexto("S", chave, "v2", arquivo.c_str()), 1);
    EXPECT_EQ(Conteudo(), "[S]\n  Outra=1\n  Chave=v2\n");
    EXPECT_EQ(Le("S", chave), "v2");
    EXPECT_EQ(Le("S", "chave"), "v2");
    EXPECT_EQ(IniGravaInteiro("S", chave, 7, arquivo.c_str()), 1);
    EXPECT_EQ(IniLeInteiro("S", chave, 0, arquivo.c_str()), 7);
    ASSERT_EQ(IniGravaTexto("S", chave, nullptr, arquivo.c_str()), 1);
    EXPECT_EQ(Conteudo(), "[S]\n  Outra=1\n");
  }
  // Blanks alone are no key at all.
  Grava("[S]\nOutra=1\n");
  EXPECT_EQ(IniGravaTexto("S", "   ", "v", arquivo.c_str()), 0);
  EXPECT_EQ(Conteudo(), "[S]\nOutra=1\n");
}

// A file that repeats a section header: the reader stops at the second copy,
// so a write goes to the first copy, where the next read looks.
TEST_F(Ini, RepeatedSectionHeaderWritesIntoTheFirstCopy) {
  static constexpr CasoEscrita casos[] = {
      {"key only in the second copy", "[S]\na=1\n[S]\nb=2\n", "b", "3", "[S]\n  a=1\n  b=3\n\n[S]\n  b=2\n", "3"},
      {"key in both copies", "[S]\nb=1\n[S]\nb=2\n", "b", "3", "[S]\n  b=3\n\n[S]\n  b=2\n", "3"},
      {"copies with another section between", "[S]\na=1\n[T]\nx=1\n[s]\nb=2\n", "b", "3",
       "[S]\n  a=1\n  b=3\n\n[T]\n  x=1\n\n[s]\n  b=2\n", "3"},
      {"empty first copy", "[S]\n[S]\nb=2\n", "b", "3", "[S]\n  b=3\n\n[S]\n  b=2\n", "3"},
      {"empty value creates nothing", "[S]\na=1\n[S]\nb=2\n", "b", "", "[S]\n  a=1\n\n[S]\n  b=2\n", "?"},
      {"deleting a key of the first copy", "[S]\nb=1\n[S]\nc=2\n", "b", nullptr, "[S]\n\n[S]\n  c=2\n", "?"},
      {"deleting the section removes every copy", "[S]\na=1\n[T]\nx=1\n[S]\nb=2\n", nullptr, nullptr,
       "[T]\n  x=1\n", nullptr},
  };
  ConfereEscritas(casos);
}

// A value that holds a NUL byte is, as a text, what stands before it: the
// length returned is that text's length.
TEST_F(Ini, LengthOfAValueEndsAtAnEmbeddedNul) {
  struct Caso {
    const char* titulo;
    std::string valor;
    uint16_t tamanho;
    std::string esperado;
  };
  const Caso casos[] = {
      {"one character then NUL", std::string("x\0yz", 4), 32, "x"},
      {"NUL first", std::string("\0abc", 4), 32, ""},
      {"NUL past the cut", std::string("abcd\0e", 6), 3, "ab"},
      {"no NUL", "abcd", 32, "abcd"},
  };
  for (const auto& c : casos) {
    SCOPED_TRACE(c.titulo);
    Grava("[S]\nk=" + c.valor + "\n");
    std::string buf(c.tamanho, 'X');
    const int n = IniLeTexto("S", "k", "?", buf.data(), c.tamanho, arquivo.c_str());
    EXPECT_EQ(n, static_cast<int>(c.esperado.size()));
    EXPECT_EQ(std::string(buf.c_str()), c.esperado);
  }
  // An integer whose text is empty takes the default.
  Grava(std::string("[S]\nk=\0" "12\n", 10));
  EXPECT_EQ(IniLeInteiro("S", "k", 7, arquivo.c_str()), 7);
}

// A line beginning with '{' ends what a reader searches in a section: a key
// set there goes before that line, and a key standing after it is not the
// one the next read sees.
TEST_F(Ini, BraceLineEndsTheKeysAWriteCanSet) {
  static constexpr CasoEscrita casos[] = {
      {"missing key goes before the brace line", "[S]\na=1\n{B\n", "k", "2", "[S]\n  a=1\n  k=2\n  {B\n", "2"},
      {"blank line before the brace line stays", "[S]\na=1\n\n{B\nc=3\n[T]\n", "k", "2",
       "[S]\n  a=1\n  k=2\n\n  {B\n  c=3\n\n[T]\n", "2"},
      {"key after the brace line is left as it is", "[S]\n{B\nk=1\n", "k", "2", "[S]\n  k=2\n  {B\n  k=1\n", "2"},
      {"deleting a key after the brace line changes nothing", "[S]\n{B\nk=1\n", "k", nullptr,
       "[S]\n  {B\n  k=1\n", "?"},
      {"key before the brace line is set in place", "[S]\nk=1\n{B\nk=5\n", "k", "2", "[S]\n  k=2\n  {B\n  k=5\n",
       "2"},
  };
  ConfereEscritas(casos);
}
