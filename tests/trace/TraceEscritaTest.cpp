// The record writer: the bytes of a record, the daily file, inactive and
// unwritable traces, cut texts and values, the backup cycle, threads.
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "TraceTestUtil.h"
#include "state/LibState.h"
#include "support/FuncoesArquivo.h"
#include "trace/FormatoTrace.h"

namespace {

using namespace tracetest;
using TraceEscrita = TraceTeste;

uint32_t Le32(const std::string& s, size_t p) {
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = v << 8 | static_cast<uint8_t>(s[p + static_cast<size_t>(i)]);
  return v;
}

TEST_F(TraceEscrita, RegistroDeTextoByteAByte) {
  FixaRelogio(Instante(2026, 12, 9, 23, 58, 7));
  Abre("CliNorva.<YYYY/><MM/><DD/>.dmp");
  TraceTexto("IM", "Versao", "4.0.0.3");
  const std::string r = testutil::LeArquivo(Arquivo("CliNorva.20261209.dmp"));
  ASSERT_EQ(r.size(), 50u);
  EXPECT_EQ(r.substr(0, 5), std::string("\x6A\x00\x30\x00\x0C", 5));  // marker, length 48, type 12
  EXPECT_EQ(r.substr(5, 7), std::string("\x20\x26\x12\x09\x23\x58\x07", 7));
  EXPECT_EQ(Le32(r, 16), static_cast<uint32_t>(getpid()));
  EXPECT_EQ(Le32(r, 20), static_cast<uint32_t>((uintptr_t)pthread_self()));
  EXPECT_EQ(r.substr(24, 2), std::string("\x00\x00", 2));  // kind text
  EXPECT_NE(Le32(r, 26), 0u);                               // the caller's pointer
  EXPECT_EQ(r.substr(30, 2), std::string("\x07\x00", 2));
  EXPECT_EQ(r.substr(32, 11), std::string("\0IM\0Versao\0", 11));
  std::string valor = "4.0.0.3";
  std::vector<uint8_t> esperado(valor.begin(), valor.end());
  EmbaralhaValorTrace(esperado);
  EXPECT_EQ(r.substr(43), std::string(esperado.begin(), esperado.end()));

  TraceTexto("", nullptr, "abc");
  const std::string r2 = testutil::LeArquivo(Arquivo("CliNorva.20261209.dmp")).substr(50);
  ASSERT_EQ(r2.size(), 38u);
  EXPECT_EQ(r2.substr(32), std::string("\0\0\0\x9C\xDD\x9B", 6));
}

TEST_F(TraceEscrita, InteiroEmLittleEndianEOrigem) {
  Abre("t.dmp", nullptr, nullptr, "AB000001");
  TraceNumero("Tag", "Num", 0x01020304);
  TraceNumeroOrigem("pre", "nome", "T", "R", -2);
  TraceTextoOrigem("", "so", "T", "R", "x");
  TraceTextoOrigem(nullptr, "so", "T", "R", nullptr);
  const auto regs = Registros(Arquivo("t.dmp"));
  ASSERT_EQ(regs.size(), 4u);
  EXPECT_EQ(regs[0].origem, "AB000001");
  EXPECT_EQ(regs[0].especie, TRACE_INTEIRO);
  EXPECT_EQ(regs[0].valor, (std::vector<uint8_t>{4, 3, 2, 1}));
  EXPECT_EQ(regs[0].tamanhoDados, 4);
  EXPECT_EQ(regs[1].origem, "pre.nome");
  EXPECT_EQ(regs[1].valor, (std::vector<uint8_t>{0xFE, 0xFF, 0xFF, 0xFF}));
  EXPECT_EQ(regs[2].origem, "so");
  EXPECT_EQ(ValorTexto(regs[2]), "x");
  EXPECT_TRUE(regs[3].valor.empty());
  EXPECT_EQ(regs[3].ponteiro, 0u);
}

TEST_F(TraceEscrita, TerminalQueNaoTemOitoCaracteresNaoViraOrigem) {
  Abre("t.dmp", nullptr, nullptr, "AB00001");
  TraceTexto("T", "R", "x");
  const auto regs = Registros(Arquivo("t.dmp"));
  ASSERT_EQ(regs.size(), 1u);
  EXPECT_EQ(regs[0].origem, "");
}

TEST_F(TraceEscrita, TodasAsFormasVoltamIguaisPeloLeitor) {
  TraceCtx* ctx = Abre();
  const uint8_t bin[] = {0x00, 0xFF, 0x10, 0x6A, 0x00};
  TraceTexto("A", "texto", "Ol\xE1, \"mundo\"\n");
  TraceNumero("B", "numero", -123456);
  TraceBinario("C", "binario", bin, sizeof bin);
  TraceDados("D", "dados", 7, "zz", 2);
  TraceTextoCtx(ctx, "E", "ctx", "t");
  TraceNumeroCtx(ctx, "F", "ctx", 9);
  TraceBinarioCtx(ctx, "G", "ctx", bin, 0);
  TraceBinario("H", "negativo", bin, -1);
  const auto regs = Registros(Arquivo("trace.dmp"));
  ASSERT_EQ(regs.size(), 8u);
  EXPECT_EQ(ValorTexto(regs[0]), "Ol\xE1, \"mundo\"\n");
  EXPECT_EQ(regs[1].valor, (std::vector<uint8_t>{0xC0, 0x1D, 0xFE, 0xFF}));
  EXPECT_EQ(regs[2].valor, std::vector<uint8_t>(bin, bin + sizeof bin));
  EXPECT_EQ(regs[2].especie, TRACE_BINARIO);
  EXPECT_EQ(regs[3].especie, 7);
  EXPECT_EQ(ValorTexto(regs[3]), "zz");
  EXPECT_EQ(regs[4].tag, "E");
  EXPECT_EQ(regs[5].valor, (std::vector<uint8_t>{9, 0, 0, 0}));
  EXPECT_TRUE(regs[6].valor.empty());
  EXPECT_TRUE(regs[7].valor.empty());
  EXPECT_EQ(regs[7].tamanhoDados, 0xFFFF);
}

TEST_F(TraceEscrita, ValorETextosLongosSaoCortadosAoBufferDoRegistro) {
  Abre();
  const std::string valor(5000, 'v');
  TraceTexto("T", "R", valor.c_str());
  const std::string enorme(5000, 't');
  TraceTexto(enorme.c_str(), enorme.c_str(), "fim");
  TraceTextoOrigem(enorme.c_str(), enorme.c_str(), "tag", "rot", "x");
  const auto regs = Registros(Arquivo("trace.dmp"));
  ASSERT_EQ(regs.size(), 3u);
  EXPECT_EQ(ValorTexto(regs[0]), std::string(TAM_MAXIMO_VALOR_TRACE, 'v'));
  EXPECT_EQ(regs[0].tamanhoDados, 5000);
  // The texts fill what is left of the 4096 bytes after the 32 fixed ones.
  EXPECT_EQ(regs[1].tag.size() + regs[1].rotulo.size() + 3, TAM_REGISTRO_TRACE - TAM_CABECALHO_TRACE);
  EXPECT_EQ(ValorTexto(regs[1]), "fim");
  EXPECT_EQ(regs[2].origem.size() + 3, TAM_REGISTRO_TRACE - TAM_CABECALHO_TRACE);
  EXPECT_EQ(regs[2].tag, "");
  EXPECT_EQ(ValorTexto(regs[2]), "x");
}

TEST_F(TraceEscrita, TraceInativoOuSemContextoNaoCriaArquivo) {
  TraceTexto("T", "R", "sem contexto");
  TraceCtx* ctx = Abre("t.dmp", nullptr, nullptr, nullptr, 0);
  TraceTexto("T", "R", "x");
  TraceNumero("T", "R", 1);
  TraceSolicitaBackup();
  TraceTextoCtx(nullptr, "T", "R", "x");
  EXPECT_EQ(TraceAtivo(), 0);
  EXPECT_EQ(TraceChaveValida(), 0);
  EXPECT_TRUE(std::filesystem::is_empty(dir.caminho()));
  TraceFecha(ctx);
}

TEST_F(TraceEscrita, DiretorioInacessivelPerdeORegistroSemFalhar) {
  testutil::GravaArquivo(Arquivo("arquivo"), "x");
  // A regular file used as a directory fails for every user, root included.
  TraceCtx* ctx = TraceAbre(12, Arquivo("arquivo").c_str(), "t.dmp", nullptr, nullptr, 1, nullptr);
  TraceTexto("T", "R", "perdido");
  TraceErro("perdido");
  EXPECT_EQ(testutil::LeArquivo(Arquivo("arquivo")), "x");
  // The mutex was released: another context on the same thread and others still write.
  TraceFecha(ctx);
  Abre();
  std::thread([] { TraceTexto("T", "R", "depois"); }).join();
  EXPECT_EQ(Registros(Arquivo("trace.dmp")).size(), 1u);
}

std::vector<std::string> g_diagnosticos;
void GuardaDiagnostico(const char* texto) { g_diagnosticos.emplace_back(texto); }

// A record lost because its file cannot be opened is told to the diagnostic
// hook, once per record.
TEST_F(TraceEscrita, ArquivoInacessivelAvisaOGanchoDeDiagnostico) {
  testutil::GravaArquivo(Arquivo("arquivo"), "x");
  g_diagnosticos.clear();
  const GanchoDiagnostico anterior = DefineGanchoDiagnostico(GuardaDiagnostico);
  TraceCtx* ctx = TraceAbre(12, Arquivo("arquivo").c_str(), "t.dmp", nullptr, nullptr, 1, nullptr);
  TraceTexto("T", "R", "perdido");
  TraceNumero("T", "R", 1);
  TraceFecha(ctx);
  DefineGanchoDiagnostico(anterior);
  EXPECT_EQ(std::count(g_diagnosticos.begin(), g_diagnosticos.end(), "erro acesso arq trace"), 2);
}

TEST_F(TraceEscrita, ArquivoNovoACadaDia) {
  FixaRelogio(Instante(2026, 12, 9, 23, 59, 59));
  Abre("d.<YYYY/><MM/><DD/>.dmp", "HabilitaTraceCache=0");
  TraceTexto("T", "R", "dia 9");
  FixaRelogio(Instante(2026, 12, 10, 0, 0, 0));
  TraceTexto("T", "R", "dia 10");
  const auto dia9 = Registros(Arquivo("d.20261209.dmp"));
  const auto dia10 = Registros(Arquivo("d.20261210.dmp"));
  ASSERT_EQ(dia9.size(), 1u);
  ASSERT_EQ(dia10.size(), 1u);
  EXPECT_EQ(TextoDataHora(dia9[0]), "2026-12-09 23:59:59");
  EXPECT_EQ(TextoDataHora(dia10[0]), "2026-12-10 00:00:00");
}

TEST_F(TraceEscrita, CicloDeBackupNaMudancaDeArquivo) {
  const std::string controle = Arquivo("CtlBkpTrace.ini");
  FixaRelogio(Instante(2026, 12, 9));
  Abre("d.<YYYY/><MM/><DD/>.dmp");
  TraceTexto("T", "R", "antes");
  EXPECT_FALSE(std::filesystem::exists(controle));
  TraceSolicitaBackup();
  TraceTexto("T", "R", "marcado");
  const std::string dia9 = Arquivo("d.20261209.dmp");
  const std::string ini = testutil::LeArquivo(controle);
  EXPECT_NE(ini.find("[Backup]"), std::string::npos) << ini;
  EXPECT_NE(ini.find("Arquivo=" + dia9), std::string::npos) << ini;
  TraceTexto("T", "R", "mesmo dia");
  EXPECT_TRUE(std::filesystem::exists(dia9));

  // A restarted process finds the pending name in the control file.
  TraceFecha(LibState.trace.contextoTrace);
  testutil::ResetaLibState();
  FixaRelogio(Instante(2026, 12, 10));
  Abre("d.<YYYY/><MM/><DD/>.dmp");
  TraceTexto("T", "R", "dia seguinte");
  EXPECT_FALSE(std::filesystem::exists(dia9));
  EXPECT_FALSE(std::filesystem::exists(controle));
  EXPECT_EQ(Registros(dia9 + ".bkp").size(), 3u);
  EXPECT_EQ(Registros(Arquivo("d.20261210.dmp")).size(), 1u);
  EXPECT_EQ(LibState.trace.backupPendente, 0);
  EXPECT_STREQ(LibState.trace.nomeBackup, "");
}

TEST_F(TraceEscrita, BackupTambemNaMudancaDeTerminal) {
  TraceCtx* ctx = Abre("t.<TERM/>.dmp", nullptr, nullptr, "AB000001");
  TraceSolicitaBackup();
  TraceTexto("T", "R", "x");
  TraceMudaLojaTerminal(ctx, nullptr, "AB000002");
  TraceTexto("T", "R", "y");
  EXPECT_TRUE(std::filesystem::exists(Arquivo("t.AB000001.dmp.bkp")));
  EXPECT_TRUE(std::filesystem::exists(Arquivo("t.AB000002.dmp")));
  EXPECT_FALSE(std::filesystem::exists(Arquivo("CtlBkpTrace.ini")));
}

TEST_F(TraceEscrita, DuasThreadsGravamRegistrosInteiros) {
  Abre();
  constexpr int kPorThread = 400;
  auto escreve = [](char letra) {
    for (int i = 0; i < kPorThread; ++i) {
      const std::string texto(static_cast<size_t>(1 + i % 300), letra);
      TraceTexto(std::string(1, letra).c_str(), std::to_string(i).c_str(), texto.c_str());
    }
  };
  std::thread a(escreve, 'a'), b(escreve, 'b');
  a.join();
  b.join();
  const auto regs = Registros(Arquivo("trace.dmp"));
  ASSERT_EQ(regs.size(), 2u * kPorThread);
  int proximo[2] = {0, 0};
  uint32_t thread[2] = {0, 0};
  for (const auto& r : regs) {
    ASSERT_EQ(r.tag.size(), 1u);
    const int k = r.tag[0] - 'a';
    ASSERT_TRUE(k == 0 || k == 1);
    if (proximo[k] == 0) thread[k] = r.thread;
    EXPECT_EQ(r.thread, thread[k]);
    EXPECT_EQ(r.rotulo, std::to_string(proximo[k]));
    EXPECT_EQ(ValorTexto(r), std::string(static_cast<size_t>(1 + proximo[k] % 300), r.tag[0]));
    ++proximo[k];
  }
  EXPECT_NE(thread[0], thread[1]);
}

}  // namespace

namespace {

// A record the file cannot take whole (a full disk, a file-size limit) is lost
// alone: the file is cut back to where it was, and the records written once
// there is room again read back whole. The limit is set in a child process
// (SIGXFSZ ignored, so that the write fails with EFBIG instead).
TEST_F(TraceEscrita, RegistroCortadoPeloLimiteNaoEstragaOsSeguintes) {
  Abre("t.dmp");
  struct Caso {
    const char* titulo;
    size_t folga;  // bytes of the record that still fit under the limit
  } casos[] = {
      {"cut in the header", 10},
      {"cut in the texts", 36},
      {"cut in the value", 80},
      {"cut in a value longer than the record buffer", 2000},
      {"not one byte fits", 0},
  };
  const std::string grande(300, 'v'), enorme(5000, 'w');
  for (const Caso& c : casos) {
    SCOPED_TRACE(c.titulo);
    std::filesystem::remove(Arquivo("t.dmp"));
    TraceTexto("A", "antes", "a");
    const auto tamanho = std::filesystem::file_size(Arquivo("t.dmp"));
    const pid_t filho = fork();
    ASSERT_GE(filho, 0);
    if (filho == 0) {
      signal(SIGXFSZ, SIG_IGN);
      rlimit limite{static_cast<rlim_t>(tamanho + c.folga), RLIM_INFINITY};
      if (setrlimit(RLIMIT_FSIZE, &limite) != 0) _exit(2);
      TraceTexto("B", "cortado", (c.folga > 1000 ? enorme : grande).c_str());
      limite.rlim_cur = RLIM_INFINITY;
      if (setrlimit(RLIMIT_FSIZE, &limite) != 0) _exit(3);
      TraceTexto("C", "depois", "c");
      _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(filho, &status, 0), filho);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    const auto regs = Registros(Arquivo("t.dmp"));
    ASSERT_EQ(regs.size(), 2u);
    EXPECT_EQ(regs[0].rotulo, "antes");
    EXPECT_EQ(regs[1].rotulo, "depois");
    EXPECT_EQ(ValorTexto(regs[1]), "c");
  }
}

// Trace files, error dumps, the backup control file and the folders made for
// them are for their owner and group only: 0640 and 0750, less whatever the
// umask takes away.
TEST_F(TraceEscrita, ArquivosEPastasSoParaDonoEGrupo) {
  struct Caso {
    mode_t umask, arquivo, pasta;
  } casos[] = {
      {0, 0640, 0750},
      {022, 0640, 0750},
      {027, 0640, 0750},
      {077, 0600, 0700},
  };
  FixaRelogio(Instante(2026, 12, 10));
  for (const Caso& c : casos) {
    SCOPED_TRACE(c.umask);
    for (const auto& e : std::filesystem::directory_iterator(dir.caminho())) std::filesystem::remove_all(e.path());
    testutil::ResetaLibState();
    FixaRelogio(Instante(2026, 12, 10));
    Abre("t.dmp");
    const mode_t antes = umask(c.umask);
    TraceSolicitaBackup();
    TraceTexto("T", "R", "x");
    TraceErro("erro");
    CriaDiretorios(Arquivo("a/b/arquivo").c_str());
    umask(antes);
    TraceFecha(LibState.trace.contextoTrace);
    auto Modo = [&](const std::string& nome) {
      struct stat st {};
      EXPECT_EQ(stat(Arquivo(nome).c_str(), &st), 0) << nome;
      return st.st_mode & 07777;
    };
    EXPECT_EQ(Modo("t.dmp"), c.arquivo);
    EXPECT_EQ(Modo("Erro.20261210.dmp"), c.arquivo);
    EXPECT_EQ(Modo("CtlBkpTrace.ini"), c.arquivo);
    EXPECT_EQ(Modo("a"), c.pasta);
    EXPECT_EQ(Modo("a/b"), c.pasta);
  }
}

}  // namespace
