#include <fcntl.h>
#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "common/TestUtil.h"
#include "support/FuncoesArquivo.h"

namespace {

// 2024-02-29 13:45:07 UTC; the tests run with TZ=UTC.
constexpr time_t kMomento = 1709214307;
time_t HoraFixa() { return kMomento; }

class ComRelogioFixo : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("TZ", "UTC0", 1);
    tzset();
    DefineFonteHora(HoraFixa);
  }
  void TearDown() override { DefineFonteHora(nullptr); }
};

std::string g_diagnostico;
void GuardaDiagnostico(const char* texto) { g_diagnostico = texto; }

}  // namespace

TEST(LimpaSegura, LeavesBufferAllZeros) {
  std::array<unsigned char, 64> buf;
  buf.fill(0x5A);
  EXPECT_EQ(LimpaSegura(buf.data(), buf.size()), buf.data());
  for (unsigned char c : buf) EXPECT_EQ(c, 0);
}

TEST(Aloca, ZeroFilledAlignedAndSized) {
  auto* p = static_cast<unsigned char*>(Aloca(100, 0, __FILE__, __LINE__));
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % alignof(std::max_align_t), 0u);
  EXPECT_EQ(TamanhoBloco(p), 100u);
  for (int i = 0; i < 100; ++i) EXPECT_EQ(p[i], 0);
  EXPECT_EQ(Libera(p, __FILE__, __LINE__), 0);
  EXPECT_EQ(Libera(nullptr, __FILE__, __LINE__), 0);
}

TEST(Realoca, ShrinkKeepsBlockGrowZeroFillsNewBytesZeroFrees) {
  auto* p = static_cast<unsigned char*>(Realoca(nullptr, 8, __FILE__, __LINE__));
  ASSERT_NE(p, nullptr);
  memset(p, 0x7E, 8);
  EXPECT_EQ(Realoca(p, 4, __FILE__, __LINE__), p);
  EXPECT_EQ(TamanhoBloco(p), 8u);
  EXPECT_EQ(p[7], 0x7E);
  auto* q = static_cast<unsigned char*>(Realoca(p, 4096, __FILE__, __LINE__));
  ASSERT_NE(q, nullptr);
  EXPECT_EQ(TamanhoBloco(q), 4096u);
  for (int i = 0; i < 8; ++i) EXPECT_EQ(q[i], 0x7E);
  for (int i = 8; i < 4096; ++i) ASSERT_EQ(q[i], 0) << i;
  EXPECT_EQ(Realoca(q, 0, __FILE__, __LINE__), nullptr);  // freed: ASan reports a leak otherwise
}

TEST(ArquivoAbre, MissingFileForReadingIsSilentOtherFailuresReachTheHook) {
  testutil::DiretorioTemp dir;
  DefineGanchoDiagnostico(GuardaDiagnostico);
  g_diagnostico.clear();
  EXPECT_EQ(ArquivoAbre(dir.arquivo("nao-existe").c_str(), "rb", 0), nullptr);
  EXPECT_EQ(g_diagnostico, "");
  std::string caminho = dir.arquivo("sem/dir/x.trc");
  EXPECT_EQ(ArquivoAbre(caminho.c_str(), "ab", 0), nullptr);
  EXPECT_EQ(g_diagnostico, "erro abert arq [" + caminho + "] / modo [ab] / errno [2 - " + strerror(2) + "]");
  DefineGanchoDiagnostico(nullptr);
}

TEST(Arquivo, WriteReadSizeAndPositionThroughTheHandle) {
  testutil::DiretorioTemp dir;
  std::string caminho = dir.arquivo("dados.bin");
  for (int32_t semSync : {0, 1}) {
    Arquivo* a = ArquivoAbre(caminho.c_str(), "wb", semSync);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(ArquivoGrava(a, "abcdef", 1, 6), 6u);
    EXPECT_EQ(ArquivoDescarrega(a), 0);
    EXPECT_EQ(ArquivoFecha(a), 0);
    EXPECT_EQ(testutil::LeArquivo(caminho), "abcdef");
  }
  Arquivo* a = ArquivoAbreSemSync(caminho.c_str(), "rb");
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(a->semSync, 1);
  EXPECT_EQ(ArquivoPosiciona(a, 2, SEEK_SET), 0);
  EXPECT_EQ(ArquivoTamanho(a), 6);
  char buf[8] = {};
  EXPECT_EQ(ArquivoLe(a, buf, 1, sizeof buf), 4u);  // position 2 was restored
  EXPECT_STREQ(buf, "cdef");
  EXPECT_NE(ArquivoFim(a), 0);
  ArquivoFecha(a);
}

TEST(Arquivo, NullHandleDoesNothing) {
  char buf[4];
  Arquivo vazio{0, nullptr};
  for (Arquivo* a : {static_cast<Arquivo*>(nullptr), &vazio}) {
    EXPECT_EQ(ArquivoLe(a, buf, 1, 4), 0u);
    EXPECT_EQ(ArquivoGrava(a, buf, 1, 4), 0u);
    EXPECT_EQ(ArquivoDescarrega(a), -1);
    EXPECT_EQ(ArquivoFim(a), 0);
    EXPECT_EQ(ArquivoPosiciona(a, 0, SEEK_SET), -1);
    EXPECT_EQ(ArquivoTamanho(a), 0);
  }
  EXPECT_EQ(ArquivoFecha(nullptr), 0);
}

TEST(ArquivoCopia, CopiesRefusesAndRemovesEmptyTargets) {
  testutil::DiretorioTemp dir;
  std::string origem = dir.arquivo("origem"), destino = dir.arquivo("destino");
  std::string conteudo;
  for (int i = 0; i < 1500; ++i) conteudo += static_cast<char>(i * 7);
  testutil::GravaArquivo(origem, conteudo);
  EXPECT_EQ(ArquivoCopia(origem.c_str(), destino.c_str()), 0);
  EXPECT_EQ(testutil::LeArquivo(destino), conteudo);

  EXPECT_EQ(ArquivoCopia(origem.c_str(), origem.c_str()), -1);
  EXPECT_EQ(ArquivoCopia(dir.arquivo("falta").c_str(), destino.c_str()), -1);
  EXPECT_EQ(ArquivoCopia(origem.c_str(), dir.arquivo("sem/dir").c_str()), -1);

  testutil::GravaArquivo(origem, "");
  EXPECT_EQ(ArquivoCopia(origem.c_str(), destino.c_str()), 0);
  EXPECT_FALSE(std::filesystem::exists(destino));
}

// A copy onto the source itself, under any other name, is refused and leaves
// the file as it was.
TEST(ArquivoCopia, RefusesTheSourceUnderAnotherName) {
  testutil::DiretorioTemp dir;
  const std::string origem = dir.arquivo("dados.txt");
  const std::string conteudo(1500, 'd');
  testutil::GravaArquivo(origem, conteudo);
  std::filesystem::create_directory(dir.arquivo("sub"));
  std::filesystem::create_symlink(origem, dir.arquivo("ligacao"));
  std::filesystem::create_hard_link(origem, dir.arquivo("dura"));
  struct Caso {
    const char* titulo;
    std::string destino;
  } casos[] = {
      {"./ in front", dir.caminho() + "/./dados.txt"},
      {"through ..", dir.arquivo("sub/../dados.txt")},
      {"doubled slash", dir.caminho() + "//dados.txt"},
      {"symbolic link to it", dir.arquivo("ligacao")},
      {"hard link to it", dir.arquivo("dura")},
  };
  for (const Caso& c : casos) {
    SCOPED_TRACE(c.titulo);
    testutil::GravaArquivo(origem, conteudo);
    EXPECT_EQ(ArquivoCopia(origem.c_str(), c.destino.c_str()), -1);
    EXPECT_EQ(testutil::LeArquivo(origem), conteudo);
  }
}

// The library's files are opened close-on-exec: a caller that runs system()
// or popen() while one is open hands none of them to the child.
TEST(ArquivoAbre, DescriptorIsCloseOnExec) {
  testutil::DiretorioTemp dir;
  const std::string caminho = dir.arquivo("a.dmp");
  testutil::GravaArquivo(caminho, "x");
  for (const char* modo : {"rb", "r+b", "ab", "a+b", "wb", "w+b"}) {
    SCOPED_TRACE(modo);
    Arquivo* arq = ArquivoAbre(caminho.c_str(), modo, 1);
    ASSERT_NE(arq, nullptr);
    const int flags = fcntl(fileno(arq->stream), F_GETFD);
    EXPECT_NE(flags & FD_CLOEXEC, 0);
    ArquivoFecha(arq);
  }
}

TEST(CriaDiretorios, CreatesEveryPrefixButTheLastPart) {
  testutil::DiretorioTemp dir;
  std::string base = dir.caminho();
  CriaDiretorios((base + "/a/b/c/arquivo.trc").c_str());
  EXPECT_TRUE(std::filesystem::is_directory(base + "/a/b/c"));
  EXPECT_FALSE(std::filesystem::exists(base + "/a/b/c/arquivo.trc"));
  CriaDiretorios((base + "/a/b/c/arquivo.trc").c_str());  // existing: no harm
  EXPECT_TRUE(std::filesystem::is_directory(base + "/a/b/c"));
}

TEST(MontaCaminho, AppendsSlashAndNameOrRefusesWhenItDoesNotFit) {
  char dir[16] = "/tmp";
  EXPECT_EQ(MontaCaminho(dir, sizeof dir, "libemv.so"), dir);
  EXPECT_STREQ(dir, "/tmp/libemv.so");
  char barra[8] = "/a/";
  EXPECT_STREQ(MontaCaminho(barra, sizeof barra, "b"), "/a//b");
  char cheio[10] = "/tmp";
  EXPECT_EQ(MontaCaminho(cheio, sizeof cheio, "12345"), nullptr);  // needs 11 bytes
  EXPECT_STREQ(cheio, "/tmp");
  EXPECT_NE(MontaCaminho(cheio, sizeof cheio, "1234"), nullptr);  // exactly 10
  EXPECT_STREQ(cheio, "/tmp/1234");
}

TEST_F(ComRelogioFixo, DateTimeTextsFollowTheClockSource) {
  char texto[TAM_DATA_HORA_TEXTO], data[TAM_DATA_HORA_DATA], hora[TAM_DATA_HORA_HORA];
  DataHoraAtual(texto, data, hora);
  EXPECT_STREQ(texto, "29/02/2024 - 13:45:07");
  EXPECT_STREQ(data, "20240229");
  EXPECT_STREQ(hora, "134507");
  DataHoraAtual(nullptr, nullptr, nullptr);

  char horaClock[TAM_DATA_HORA_HORA_CLOCK];
  DataHoraAtualClock(texto, data, horaClock);
  EXPECT_EQ(std::string(texto).substr(0, 22), "29/02/2024 - 13:45:07.");
  EXPECT_EQ(std::string(horaClock).substr(0, 7), "134507.");
}

TEST_F(ComRelogioFixo, ExpandeMacrosDataReplacesEveryMacro) {
  struct Caso {
    const char* entrada;
    const char* esperado;
  };
  static constexpr Caso casos[] = {
      {"Erro.<YYYY/><MM/><DD/>.dmp", "Erro.20240229.dmp"},
      {"<YY/>-<HH/><NN/><SS/>", "24-134507"},
      {"<DD/><DD/>", "2929"},
      {"sem macros.trc", "sem macros.trc"},
      {"<YYYY/ <YY> <mm/>", "<YYYY/ <YY> <mm/>"},  // malformed or lower case: left alone
      {"", ""},
  };
  for (const auto& c : casos) {
    char buf[64];
    snprintf(buf, sizeof buf, "%s", c.entrada);
    EXPECT_STREQ(ExpandeMacrosData(buf), c.esperado) << c.entrada;
  }
}

TEST_F(ComRelogioFixo, ExpandeMacrosDataSizedFormStaysWithinItsBuffer) {
  char buf[12] = "a<YYYY/>bcd";
  EXPECT_STREQ(ExpandeMacrosData(buf, sizeof buf), "a2024bcd");
  char sem[4] = {'a', 'b', 'c', 'd'};  // not terminated within its size
  EXPECT_STREQ(ExpandeMacrosData(sem, sizeof sem), "abc");
}

TEST_F(ComRelogioFixo, ClockSeamCrossesMidnight) {
  static time_t agora = 0;
  DefineFonteHora([] { return agora; });
  agora = 1704067199;  // 2023-12-31 23:59:59
  char nome[32] = "t.<YYYY/><MM/><DD/>";
  EXPECT_STREQ(ExpandeMacrosData(nome), "t.20231231");
  agora += 1;
  char nome2[32] = "t.<YYYY/><MM/><DD/>";
  EXPECT_STREQ(ExpandeMacrosData(nome2), "t.20240101");
  char amanha[9];
  EXPECT_EQ(DataSomaDias(nullptr, 1, amanha, sizeof amanha), 0);
  EXPECT_STREQ(amanha, "20240102");
}

TEST(DataSomaDias, EdgeCases) {
  struct Caso {
    const char* data;
    long dias;
    const char* esperado;
  };
  static constexpr Caso casos[] = {
      {"20240228", 1, "20240229"},  {"20230228", 1, "20230301"},   {"20240101", -1, "20231231"},
      {"21000228", 1, "21000301"},  {"20000228", 1, "20000229"},   {"20240229", 365, "20250228"},
      {"00010101", 0, "00010101"},  {"99991231", 0, "99991231"},   {"20240115", 146097, "24240115"},
      {"19700101", 19723, "20240101"},
  };
  for (const auto& c : casos) {
    char saida[9];
    EXPECT_EQ(DataSomaDias(c.data, c.dias, saida, sizeof saida), 0) << c.data;
    EXPECT_STREQ(saida, c.esperado) << c.data << " + " << c.dias;
  }
  char saida[9];
  EXPECT_EQ(DataSomaDias("20240101", 1, nullptr, 9), -1);
  EXPECT_EQ(DataSomaDias("99991231", 1, saida, sizeof saida), -1);  // 100000101 needs 10 bytes
  EXPECT_STREQ(saida, "");
  char maior[16];
  EXPECT_EQ(DataSomaDias("99991231", 1, maior, sizeof maior), 0);
  EXPECT_STREQ(maior, "100000101");
}

// The day number against the standard library's civil calendar over a wide
// range (several 400-year cycles on both sides of year 1, every day).
TEST(DataParaDias, AgreesWithAnIndependentCalendarEveryDay) {
  using namespace std::chrono;
  const long deslocamento = DataParaDias(1970, 1, 1) - 0;  // sys_days counts from 1970-01-01
  EXPECT_EQ(DataParaDias(1, 1, 1), 1);
  EXPECT_EQ(deslocamento, 719163);
  const sys_days inicio = year{-1200} / January / 1, fim = year{10400} / December / 31;
  long esperado = DataParaDias(-1200, 1, 1);
  for (sys_days d = inicio; d <= fim; d += days{1}, ++esperado) {
    const year_month_day ymd{d};
    const long a = static_cast<int>(ymd.year()), m = static_cast<unsigned>(ymd.month()),
               dia = static_cast<unsigned>(ymd.day());
    const long n = DataParaDias(a, m, dia);
    ASSERT_EQ(n, d.time_since_epoch().count() + deslocamento) << a << "-" << m << "-" << dia;
    ASSERT_EQ(n, esperado);
    long a2, m2, d2;
    DiasParaData(n, &a2, &m2, &d2);
    ASSERT_EQ(a2, a);
    ASSERT_EQ(m2, m);
    ASSERT_EQ(d2, dia);
    ASSERT_EQ(AnoBissexto(a), ymd.year().is_leap() ? 1 : 0) << a;
  }
}

TEST(DataValida, Table) {
  struct Caso {
    const char* data;
    int esperado;
  };
  static constexpr Caso casos[] = {
      {"20240229", 1}, {"20230229", 0}, {"19000229", 1},  // every fourth year has 29 February here
      {"20231231", 1}, {"20231301", 0}, {"20230001", 0}, {"20230100", 0}, {"20230431", 0},
      {"2023013", 0},  {"202301011", 0}, {"2023O101", 0}, {"", 0},
  };
  for (const auto& c : casos) EXPECT_EQ(DataValida(c.data), c.esperado) << c.data;
  EXPECT_EQ(DataValida(nullptr), 0);
  EXPECT_EQ(DiasNoMes(2, 1900), 29);
  EXPECT_EQ(AnoBissexto(1900), 0);
  EXPECT_EQ(AnoBissexto(2000), 1);
  EXPECT_EQ(DiasNoMes(4, 2023), 30);
  EXPECT_EQ(DiasNoMes(12, 2023), 31);
}

TEST(HoraValida, Table) {
  struct Caso {
    const char* hora;
    int esperado;
  };
  static constexpr Caso casos[] = {{"000000", 1}, {"235959", 1}, {"240000", 0}, {"236000", 0},
                                   {"235960", 0}, {"12345", 0},  {"1234567", 0}, {"1:0;0:", 1}};
  for (const auto& c : casos) EXPECT_EQ(HoraValida(c.hora), c.esperado) << c.hora;
}

TEST(DiasEntreDatas, Table) {
  EXPECT_EQ(DiasEntreDatas(10, 3, 2024, 5, 3), 5);
  EXPECT_EQ(DiasEntreDatas(1, 3, 2024, 28, 2), 2);    // 29 February counted
  EXPECT_EQ(DiasEntreDatas(1, 3, 2023, 28, 2), 1);
  EXPECT_EQ(DiasEntreDatas(5, 1, 2024, 25, 12), 11);  // across the year end
  EXPECT_EQ(DiasEntreDatas(0, 1, 2024, 1, 1), -1);
  EXPECT_EQ(DiasEntreDatas(1, 13, 2024, 1, 1), -1);
}

TEST(DataTextos, ConversionsAndFormats) {
  char out[16];
  EXPECT_STREQ(DataParaAAAAMMDD(out, "29022024"), "20240229");
  EXPECT_STREQ(DataParaDDMMAAAA(out, "20240229"), "29022024");
  EXPECT_STREQ(DataParaAAAAMM(out, "29022024"), "202402");
  char* fim = DataFormata(out, "20240229", 1);
  EXPECT_STREQ(out, "29/02/2024");
  EXPECT_EQ(fim, out + 10);
  DataFormata(out, "29022024", 0);
  EXPECT_STREQ(out, "29/02/2024");
  EXPECT_STREQ(HoraFormata(out, "1345", 0), "13:45");
  EXPECT_STREQ(HoraFormata(out, "134507", 1), "13:45:07");
  EXPECT_STREQ(ExtraiCampoMascara("29022024", out, "DDMMYYYY", "YYYY"), "2024");
  EXPECT_EQ(ExtraiCampoMascara("2902", out, "DDMMYYYY", "YYYY"), nullptr);
  EXPECT_EQ(ExtraiCampoMascara("29022024", out, "DDMMYYYY", "HH"), nullptr);
}

TEST(NumerosEBytes, Table) {
  EXPECT_EQ(PotenciaDez(0), 1);
  EXPECT_EQ(PotenciaDez(-3), 1);
  EXPECT_EQ(PotenciaDez(5), 100000);
  EXPECT_EQ(AjustaDecimais(12345, 2, 0), 123);
  EXPECT_EQ(AjustaDecimais(-12399, 2, 1), -1239);
  EXPECT_EQ(AjustaDecimais(123, 0, 3), 123000);
  unsigned char b[5] = {1, 2, 3, 4, 5};
  InverteBytes(b, sizeof b);
  EXPECT_EQ(memcmp(b, "\5\4\3\2\1", 5), 0);
  EXPECT_EQ(TrocaBytes16(0x1234), 0x3412);
  uint16_t w = Word16ParaBigEndian(0x1234);
  EXPECT_EQ(memcmp(&w, "\x12\x34", 2), 0);
  w = Word16ParaLittleEndian(0x1234);
  EXPECT_EQ(memcmp(&w, "\x34\x12", 2), 0);
  uint32_t v = 0x01020304;
  ParaBigEndian(&v, sizeof v);
  EXPECT_EQ(memcmp(&v, "\1\2\3\4", 4), 0);
  v = 0x01020304;
  ParaLittleEndian(&v, sizeof v);
  EXPECT_EQ(memcmp(&v, "\4\3\2\1", 4), 0);
  EXPECT_EQ(TextoImprimivel("abc ~", 5), 0);
  EXPECT_EQ(TextoImprimivel("ab\x7f", 3), -1);
  EXPECT_EQ(TextoImprimivel("a\n", 2), -1);
}

TEST(Dorme, SleepsAtLeastTheTimeAsked) {
  uint32_t inicio = RelogioMs();
  Dorme(30);
  EXPECT_GE(static_cast<uint32_t>(RelogioMs() - inicio), 29u);
}
