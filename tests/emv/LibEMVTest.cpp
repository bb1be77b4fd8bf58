// Loading libemv.so, the value identifiers of its operations, and the option parser.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>

#include "common/TestUtil.h"
#include "emv/stub/EmvStubControle.h"
#include "pinpad/LibEMV.h"
#include "pinpad/ppcomp.h"
#include "state/LibState.h"

namespace {

void DefineDiretorio(const std::string& dir) {
  std::snprintf(LibState.libemv.DiretorioLibEMV, sizeof LibState.libemv.DiretorioLibEMV, "%s", dir.c_str());
}

bool TodosSlotsVazios() {
  FuncoesLibEMV vazio{};
  return std::memcmp(&vazio, &LibState.libemv.funcoes, sizeof vazio) == 0;
}

class LibEMV : public ::testing::Test {
 protected:
  void SetUp() override { testutil::ResetaLibState(); }
  void TearDown() override {
    DescarregaLibEMV();
    testutil::ResetaLibState();
  }
};

TEST_F(LibEMV, CarregaResolveTodosOsSimbolosECriaInstancia) {
  ControleEmvStub stub;
  ASSERT_TRUE(stub.ok());
  DefineDiretorio(DiretorioEmvStub());
  ASSERT_EQ(CarregaLibEMV(), 0);
  EXPECT_EQ(LibEMVCarregada(), 1);
  EXPECT_EQ(LibState.libemv.InstanciaLibEMV, InstanciaEmvStub);
  const auto* slots = reinterpret_cast<void* const*>(&LibState.libemv.funcoes);
  for (size_t i = 0; i < sizeof(FuncoesLibEMV) / sizeof(void*); ++i) EXPECT_NE(slots[i], nullptr) << i;
  EXPECT_EQ(stub.Registro(), "LE_Create()\n");  // LE_Free resolved, never called

  EXPECT_EQ(CarregaLibEMV(), 0);  // already loaded: nothing more
  EXPECT_EQ(stub.Registro(), "LE_Create()\n");

  EXPECT_EQ(DescarregaLibEMV(), 0);
  EXPECT_EQ(LibEMVCarregada(), 0);
  EXPECT_TRUE(TodosSlotsVazios());
  EXPECT_EQ(stub.Registro(), "LE_Create()\n");
}

// Every way of not getting a usable library ends unloaded with PPCOMP_NOFUNC and
// the forwarding helpers report PPCOMP_NOFUNC too.
TEST_F(LibEMV, BibliotecaAusenteIncompletaOuInvalidaFicaDescarregada) {
  testutil::DiretorioTemp tmp;
  testutil::GravaArquivo(tmp.arquivo("libemv.so"), "isto nao e um objeto compartilhado\n");
  ControleEmvStub incompleta(DiretorioEmvStubIncompleto());
  ASSERT_TRUE(incompleta.ok());
  for (const std::string& dir : {DiretorioEmvStubIncompleto(), tmp.caminho(), tmp.arquivo("nada")}) {
    SCOPED_TRACE(dir);
    testutil::ResetaLibState();
    DefineDiretorio(dir);
    EXPECT_EQ(CarregaLibEMV(), PPCOMP_NOFUNC);
    EXPECT_EQ(LibEMVCarregada(), 0);
    EXPECT_EQ(LibState.libemv.HandleLibEMV, nullptr);
    EXPECT_TRUE(TodosSlotsVazios());
    char saida[8] = {};
    EXPECT_EQ(LibEMVObtemValor(19001, saida), PPCOMP_NOFUNC);
    EXPECT_EQ(ConfiguraTerminalLibEMV("", "", 0, 0, ""), PPCOMP_NOFUNC);
    EXPECT_EQ(LibEMVInicia(1, "a", "b", nullptr), PPCOMP_NOFUNC);
    EXPECT_EQ(LibEMVContinua(1, saida, saida), PPCOMP_NOFUNC);
  }
  EXPECT_EQ(incompleta.Registro(), "");  // the incomplete one was never asked to create an instance
}

// A libemv.so in the working directory is not loaded, neither through an
// empty directory setting nor through a relative one.
TEST_F(LibEMV, NuncaCarregaDoDiretorioCorrente) {
  testutil::DiretorioTemp tmp;
  std::filesystem::copy_file(DiretorioEmvStub() + "/libemv.so", tmp.arquivo("libemv.so"));
  char anterior[4096] = {};
  ASSERT_NE(getcwd(anterior, sizeof anterior), nullptr);
  ASSERT_EQ(chdir(tmp.caminho().c_str()), 0);
  for (const char* dir : {"", ".", "./"}) {
    testutil::ResetaLibState();
    DefineDiretorio(dir);
    EXPECT_EQ(CarregaLibEMV(), PPCOMP_NOFUNC) << '"' << dir << '"';
  }
  ASSERT_EQ(chdir(anterior), 0);
}

// Exit status of `programa` started with `argv0` as its argv[0].
int ExecutaComArgv0(const std::string& programa, const std::string& argv0) {
  pid_t pid = fork();
  if (pid == 0) {
    char* const argv[] = {const_cast<char*>(argv0.c_str()), nullptr};
    execv(programa.c_str(), argv);
    _exit(127);
  }
  int status = 0;
  if (pid < 0 || waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// Linked statically, the library looks beside the executable's real file,
// whatever argv[0] says: an absolute argv[0] naming a folder that holds a
// libemv.so chooses nothing.
TEST(LibEMVEstatica, PastaDoExecutavelVemDoArquivoRealNaoDoArgv0) {
  testutil::DiretorioTemp comStub, semStub;
  const std::string ajudante = testutil::DiretorioProgramas() + "/AjudanteCaminhoLibEMV";
  namespace fs = std::filesystem;
  fs::copy_file(DiretorioEmvStub() + "/libemv.so", comStub.arquivo("libemv.so"));
  for (const auto* dir : {&comStub, &semStub}) {
    fs::copy_file(ajudante, dir->arquivo("ajudante"));
    fs::permissions(dir->arquivo("ajudante"), fs::perms::owner_all);
  }
  struct Caso {
    const char* titulo;
    std::string programa;
    std::string argv0;
    int esperado;
  } casos[] = {
      {"ao lado da biblioteca, argv[0] relativo", comStub.arquivo("ajudante"), "ajudante", 0},
      {"ao lado da biblioteca, argv[0] absoluto em outra pasta", comStub.arquivo("ajudante"),
       semStub.arquivo("ajudante"), 0},
      {"longe da biblioteca, argv[0] absoluto na pasta dela", semStub.arquivo("ajudante"),
       comStub.arquivo("ajudante"), 1},
      {"longe da biblioteca, argv[0] relativo", semStub.arquivo("ajudante"), "ajudante", 1},
  };
  for (const auto& c : casos) EXPECT_EQ(ExecutaComArgv0(c.programa, c.argv0), c.esperado) << c.titulo;
}

TEST_F(LibEMV, IniciaEContinuaUsamOsIdentificadoresDaOperacao) {
  ControleEmvStub stub;
  DefineDiretorio(DiretorioEmvStub());
  ASSERT_EQ(CarregaLibEMV(), 0);
  stub.Reinicia();
  stub.FilaExecute("1,1,2,0,77");
  stub.Mensagem("INSIRA O CARTAO");
  stub.Valor(90020, "resposta");

  EXPECT_EQ(LibEMVInicia(2, "e0", nullptr, "e2"), PPCOMP_OK);  // 1 on start: started
  EXPECT_EQ(LibState.libemv.OperacaoLibEMV, 2);
  char saida[32] = {}, msg[33] = {};
  EXPECT_EQ(LibEMVContinua(2, saida, msg), PPCOMP_PROCESSING);
  EXPECT_EQ(LibEMVContinua(2, saida, msg), PPCOMP_NOTIFY);
  EXPECT_STREQ(msg, "INSIRA O CARTAO");
  EXPECT_EQ(LibEMVContinua(2, saida, msg), PPCOMP_OK);
  EXPECT_STREQ(saida, "resposta");
  EXPECT_EQ(LibEMVContinua(2, saida, msg), 77);
  EXPECT_EQ(stub.Registro(),
            "LE_SetValue(4242,80020,e0)\n"
            "LE_SetValue(4242,80022,e2)\n"
            "LE_Execute(4242,2,1)\n"
            "LE_Execute(4242,2,1)\n"
            "LE_Execute(4242,2,1)\n"
            "LE_GetStatusMessage(4242,2)\n"
            "LE_Execute(4242,2,1)\n"
            "LE_GetValue(4242,90020)\n"
            "LE_Execute(4242,2,1)\n");

  // No output buffer: a finished poll fetches nothing.
  stub.Reinicia();
  EXPECT_EQ(LibEMVContinua(4, nullptr, msg), PPCOMP_OK);
  EXPECT_EQ(stub.Registro(), "LE_Execute(4242,4,1)\n");

  stub.Reinicia();
  stub.Valor(19001, "1");
  char dois[2] = {'x', 'x'};
  EXPECT_EQ(LibEMVObtemValor(19001, dois), 0);
  EXPECT_EQ(dois[0], '1');
  EXPECT_EQ(ConfiguraTerminalLibEMV("LOJA0001", "TERM0001", 1, 5, "DiretorioTrace=/tmp"), 0);
  EXPECT_EQ(stub.Registro(),
            "LE_GetValue(4242,19001)\n"
            "LE_ConfigTerminal(4242,LOJA0001,TERM0001,1,5,DiretorioTrace=/tmp)\n");
}

TEST(ExtraiParametroDelimitado, Casos) {
  struct Caso {
    const char* texto;
    const char* nome;
    size_t tam;
    char alt;
    int esperado;
    const char* valor;
  };
  static constexpr Caso casos[] = {
      {"{NaoExecutaPPClose=1}", "NaoExecutaPPClose", 11, 0, 1, "1"},
      {"x{NaoExecutaPPClose=0}{Outro=2}", "NaoExecutaPPClose", 11, 0, 1, "0"},
      {"{Outro=2}{A=}", "A", 11, 0, 1, ""},
      {"{Outro=2}", "NaoExecutaPPClose", 11, 0, 0, ""},
      {"{A=1", "A", 11, 0, 0, ""},                 // never closed
      {"{A=1234567890}", "A", 11, 0, 1, "1234567890"},
      {"{A=12345678901}", "A", 11, 0, 0, ""},      // does not fit with its terminator
      {"{A=1;B=2}", "B", 11, ';', 1, "2"},         // found through the alternative opener
      {"{A=1;B=2}", "A", 11, ';', 1, "1"},         // the alternative ends the value
      {"a=1}", "a", 11, 0, 0, ""},
  };
  for (const Caso& c : casos) {
    char saida[11];
    std::memset(saida, 0, sizeof saida);
    EXPECT_EQ(ExtraiParametroDelimitado(c.texto, c.nome, saida, c.tam, '{', '}', c.alt), c.esperado) << c.texto;
    if (c.esperado) {
      EXPECT_STREQ(saida, c.valor) << c.texto;
    }
  }
  char saida[4];
  EXPECT_EQ(ExtraiParametroDelimitado(nullptr, "A", saida, 4, '{', '}', 0), 0);
  EXPECT_EQ(ExtraiParametroDelimitado("{A=1}", nullptr, saida, 4, '{', '}', 0), 0);
}

}  // namespace
