#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "cipher/ConstantesCripto.h"
#include "cipher/EnvelopeCripto.h"
#include "state/LibState.h"
#include "tests/cipher/CriptoTestUtil.h"

using criptotest::ParaHex;

namespace {

constexpr char kChave1[] = "0123456789ABCDEF";
constexpr char kChave2[] = "23456789ABCDEF01";
constexpr char kChave3[] = "456789ABCDEF0123";

struct Resultado {
  int status;
  std::string saida;
};

// Runs geractl with the given arguments (in the working directory) and
// returns its exit status and standard output.
Resultado Geractl(const std::string& argumentos) {
  std::string comando = testutil::DiretorioProgramas() + "/geractl " + argumentos + " 2>/dev/null";
  Resultado r{-1, {}};
  FILE* p = popen(comando.c_str(), "r");
  if (p == nullptr) return r;
  char buf[256];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) r.saida.append(buf, n);
  int st = pclose(p);
  r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  return r;
}

// Runs geractl in the working directory under a file-size limit of `limite`
// bytes, SIGXFSZ ignored, so that a write past the limit fails with EFBIG as
// on a full disk; returns its exit status.
int GeractlComLimite(std::vector<std::string> argumentos, rlim_t limite) {
  const std::string programa = testutil::DiretorioProgramas() + "/geractl";
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(programa.c_str()));
  for (auto& a : argumentos) argv.push_back(a.data());
  argv.push_back(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    signal(SIGXFSZ, SIG_IGN);
    const rlimit r{limite, limite};
    setrlimit(RLIMIT_FSIZE, &r);
    const int nulo = open("/dev/null", O_WRONLY);
    if (nulo >= 0) dup2(nulo, 2);
    execv(programa.c_str(), argv.data());
    _exit(127);
  }
  int st = 0;
  if (pid < 0 || waitpid(pid, &st, 0) != pid) return -1;
  return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
}

std::vector<std::string> Nomes(const std::string& diretorio) {
  std::vector<std::string> v;
  for (const auto& e : std::filesystem::directory_iterator(diretorio)) v.push_back(e.path().filename().string());
  std::sort(v.begin(), v.end());
  return v;
}

class ArquivoChaves : public ::testing::Test {
 protected:
  void SetUp() override { testutil::ResetaLibState(); }
  void TearDown() override { testutil::ResetaLibState(); }
  std::string Log() const { return testutil::LeArquivo(cripto::kArquivoErro); }
  int32_t Carrega(size_t capacidade = 2048) {
    std::vector<uint8_t> trabalho(capacidade);
    return CarregaChavesCripto(trabalho);
  }
  bool ChavesLimpas() const {
    const EstadoCripto& c = LibState.cripto;
    static const uint8_t zero[9] = {};
    return !std::memcmp(c.ChaveCripto1, zero, 9) && !std::memcmp(c.ChaveCripto2, zero, 9) &&
           !std::memcmp(c.ChaveCripto3, zero, 9) && !std::memcmp(c.CabecalhoCripto, zero, 9);
  }

  criptotest::NoDiretorioTemp dir_;
};

}  // namespace

TEST_F(ArquivoChaves, FileWrittenByGeractlLoadsTheSameKeysAsDefineChavesCripto) {
  ASSERT_EQ(Geractl(std::string("grava QXCLICTL.BIN ") + kChave1 + " " + kChave2 + " " + kChave3).status, 0);
  EXPECT_EQ(testutil::LeArquivo("QXCLICTL.BIN").size(), 2048u);

  ASSERT_EQ(DefineChavesCripto(kChave1, kChave2, kChave3), 1);
  const EstadoCripto definido = LibState.cripto;
  testutil::ResetaLibState();

  ASSERT_EQ(Carrega(), 1);
  const EstadoCripto& c = LibState.cripto;
  EXPECT_EQ(c.CriptoIniciada, 1);
  EXPECT_EQ(ParaHex(c.ChaveCripto1, 9), ParaHex(definido.ChaveCripto1, 9));
  EXPECT_EQ(ParaHex(c.ChaveCripto2, 9), ParaHex(definido.ChaveCripto2, 9));
  EXPECT_EQ(ParaHex(c.ChaveCripto3, 9), ParaHex(definido.ChaveCripto3, 9));
  EXPECT_EQ(ParaHex(c.CabecalhoCripto, 9), ParaHex(definido.CabecalhoCripto, 9));

  // Two files of the same keys differ (random base, filler and key-encryption key).
  ASSERT_EQ(Geractl(std::string("grava outro.bin ") + kChave1 + " " + kChave2 + " " + kChave3).status, 0);
  EXPECT_NE(testutil::LeArquivo("outro.bin"), testutil::LeArquivo("QXCLICTL.BIN"));
}

TEST_F(ArquivoChaves, GeractlShowsCheckValuesAndKeysOnlyWhenAsked) {
  ASSERT_EQ(Geractl(std::string("grava k.bin ") + kChave1 + " " + "23456789abcdef01" + " " + kChave3).status, 0);
  Resultado r = Geractl("le k.bin");
  ASSERT_EQ(r.status, 0);
  // Check value of 0123456789ABCDEF: DES of a zero block is D5D44FF720683D0D.
  EXPECT_NE(r.saida.find("CHAVE1 VV=D5D44F\n"), std::string::npos) << r.saida;
  EXPECT_EQ(r.saida.find(kChave1), std::string::npos);
  r = Geractl("le k.bin --mostra-chaves");
  ASSERT_EQ(r.status, 0);
  EXPECT_NE(r.saida.find(std::string("CHAVE1 VV=D5D44F ") + kChave1 + "\n"), std::string::npos) << r.saida;
  EXPECT_NE(r.saida.find(std::string(" ") + kChave2 + "\n"), std::string::npos) << r.saida;
  EXPECT_NE(r.saida.find(std::string(" ") + kChave3 + "\n"), std::string::npos) << r.saida;
}

TEST_F(ArquivoChaves, GeractlRefusesBadArguments) {
  const char* casos[] = {"", "grava x.bin 0123", "grava x.bin 0123456789ABCDEG 23456789ABCDEF01 456789ABCDEF0123",
                         "le nao-existe.bin", "le x.bin --outra"};
  for (const char* c : casos) {
    SCOPED_TRACE(c);
    EXPECT_NE(Geractl(c).status, 0);
  }
  EXPECT_EQ(testutil::LeArquivo("x.bin"), "");
}

TEST_F(ArquivoChaves, LoadFailuresLogTheirTextAndLeaveKeysCleared) {
  ASSERT_EQ(Geractl(std::string("grava bom.bin ") + kChave1 + " " + kChave2 + " " + kChave3).status, 0);
  const std::string bom = testutil::LeArquivo("bom.bin");
  ASSERT_EQ(bom.size(), 2048u);
  std::string verificacaoErrada = bom;
  const int base = static_cast<uint8_t>(bom[cripto::kPosicaoBase]);
  verificacaoErrada[static_cast<size_t>(base + cripto::kDeslocamentos[cripto::kGrupoVerificacao][3])] ^= 0x40;

  struct Caso {
    const char* titulo;
    const std::string* conteudo;  // nullptr: no file
    size_t capacidade;
    const char* log;
  };
  const std::string curto = bom.substr(0, 2047);
  const Caso casos[] = {
      {"missing file", nullptr, 2048, "ERRO ABERT ARQ"},
      {"2047 bytes", &curto, 2048, "ERRO LEIT ARQ"},
      {"work buffer of 2047", &bom, 2047, "ERRO TAM BUF"},
      {"check group altered", &verificacaoErrada, 2048, "ARQ INV"},
  };
  for (const auto& c : casos) {
    SCOPED_TRACE(c.titulo);
    std::remove("QXCLICTL.BIN");
    if (c.conteudo) testutil::GravaArquivo("QXCLICTL.BIN", *c.conteudo);
    // Keys loaded before: a failed load clears them but keeps CriptoIniciada.
    ASSERT_EQ(DefineChavesCripto(kChave1, kChave2, kChave3), 1);
    EXPECT_EQ(Carrega(c.capacidade), 0);
    EXPECT_EQ(Log(), c.log);
    EXPECT_TRUE(ChavesLimpas());
    EXPECT_EQ(LibState.cripto.CriptoIniciada, 1);
  }
  // A longer file is fine: only its first 2048 bytes count.
  testutil::GravaArquivo("QXCLICTL.BIN", bom + "resto");
  testutil::ResetaLibState();
  EXPECT_EQ(Carrega(), 1);
}

// geractl grava never truncates the old file: the new one is written beside
// it, synced and renamed over it, so a failed write (here a file-size limit,
// as on a full disk) leaves the old keys whole and no stray file behind; a
// good write replaces the file and keeps its mode, and a symbolic link keeps
// pointing at the file it names.
TEST_F(ArquivoChaves, GeractlGravaSubstituiOArquivoInteiroOuNada) {
  const std::string pasta = dir_.dir().caminho();
  ASSERT_EQ(Geractl(std::string("grava QXCLICTL.BIN ") + kChave1 + " " + kChave2 + " " + kChave3).status, 0);
  ASSERT_EQ(chmod("QXCLICTL.BIN", 0640), 0);
  const std::string antigo = testutil::LeArquivo("QXCLICTL.BIN");
  ASSERT_EQ(antigo.size(), 2048u);

  for (rlim_t limite : {rlim_t{0}, rlim_t{1000}, rlim_t{2047}}) {
    SCOPED_TRACE(limite);
    EXPECT_NE(GeractlComLimite({"grava", "QXCLICTL.BIN", kChave3, kChave2, kChave1}, limite), 0);
    const std::string depois = testutil::LeArquivo("QXCLICTL.BIN");
    EXPECT_TRUE(depois == antigo) << "the old file now holds " << depois.size() << " other bytes";
    EXPECT_EQ(Nomes(pasta), std::vector<std::string>{"QXCLICTL.BIN"});
  }
  ASSERT_EQ(Carrega(), 1);
  EXPECT_EQ(ParaHex(LibState.cripto.ChaveCripto1, 8), kChave1);

  ASSERT_EQ(GeractlComLimite({"grava", "QXCLICTL.BIN", kChave3, kChave2, kChave1}, 2048), 0);
  struct stat st{};
  ASSERT_EQ(stat("QXCLICTL.BIN", &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  EXPECT_EQ(Nomes(pasta), std::vector<std::string>{"QXCLICTL.BIN"});
  testutil::ResetaLibState();
  ASSERT_EQ(Carrega(), 1);
  EXPECT_EQ(ParaHex(LibState.cripto.ChaveCripto1, 8), kChave3);

  // Through a symbolic link: the file it names is replaced, the link stays.
  ASSERT_EQ(rename("QXCLICTL.BIN", "real.bin"), 0);
  ASSERT_EQ(symlink("real.bin", "QXCLICTL.BIN"), 0);
  ASSERT_EQ(Geractl(std::string("grava QXCLICTL.BIN ") + kChave2 + " " + kChave3 + " " + kChave1).status, 0);
  ASSERT_EQ(lstat("QXCLICTL.BIN", &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  ASSERT_EQ(stat("real.bin", &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  testutil::ResetaLibState();
  ASSERT_EQ(Carrega(), 1);
  EXPECT_EQ(ParaHex(LibState.cripto.ChaveCripto1, 8), kChave2);
}
