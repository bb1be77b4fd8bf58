// kolvar-lote stopped from outside: SIGTERM to its pid, Ctrl-C to its process
// group, SIGKILL, and its own time limit on a child that ignores SIGTERM. The
// records are written whole and no Kolvar is left behind.
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "common/TestUtil.h"
#include "tool/Processo.h"

namespace {

using Relogio = std::chrono::steady_clock;
using namespace std::chrono_literals;

bool Contem(const std::string& texto, const std::string& trecho) { return texto.find(trecho) != std::string::npos; }

size_t Conta(const std::string& texto, const std::string& trecho) {
  size_t n = 0;
  for (size_t p = texto.find(trecho); p != std::string::npos; p = texto.find(trecho, p + 1)) ++n;
  return n;
}

// Live processes (zombies have no command line) whose arguments hold `trecho`.
int ProcessosCom(const std::string& trecho) {
  int n = 0;
  DIR* d = opendir("/proc");
  if (!d) return -1;
  while (dirent* e = readdir(d)) {
    if (e->d_name[0] < '1' || e->d_name[0] > '9' || std::atoi(e->d_name) == getpid()) continue;
    std::string linha = testutil::LeArquivo(std::string("/proc/") + e->d_name + "/cmdline");
    for (auto& c : linha)
      if (c == '\0') c = ' ';
    n += Contem(linha, trecho);
  }
  closedir(d);
  return n;
}

// Waits until no process holds `trecho` in its arguments.
bool NenhumProcessoCom(const std::string& trecho, std::chrono::milliseconds limite = 3000ms) {
  const auto fim = Relogio::now() + limite;
  while (ProcessosCom(trecho) != 0) {
    if (Relogio::now() > fim) return false;
    std::this_thread::sleep_for(20ms);
  }
  return true;
}

// kolvar-lote in the background, its output in files, optionally in a
// process group of its own as a shell's job is (so that the test can send
// Ctrl-C's SIGINT to the whole group).
class LoteEmFundo {
 public:
  LoteEmFundo(const std::vector<std::string>& args, bool grupoProprio) {
    std::vector<std::string> todos = {e2e::Programa("kolvar-lote")};
    todos.insert(todos.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : todos) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_ = fork();
    if (pid_ == 0) {
      if (grupoProprio) setpgid(0, 0);
      int out = open(tmp_.arquivo("saida").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      int err = open(tmp_.arquivo("erro").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      int nulo = open("/dev/null", O_RDONLY);
      dup2(out, 1);
      dup2(err, 2);
      dup2(nulo, 0);
      execv(argv[0], argv.data());
      _exit(127);
    }
    if (grupoProprio) setpgid(pid_, pid_);
  }
  ~LoteEmFundo() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }
  pid_t pid() const { return pid_; }
  std::string saida() const { return testutil::LeArquivo(tmp_.arquivo("saida")); }
  std::string erro() const { return testutil::LeArquivo(tmp_.arquivo("erro")); }
  // Waits until standard output holds `trecho` `vezes` times.
  bool Espera(const std::string& trecho, size_t vezes, std::chrono::milliseconds limite = 20000ms) {
    const auto fim = Relogio::now() + limite;
    while (Conta(saida(), trecho) < vezes) {
      if (Relogio::now() > fim) return false;
      std::this_thread::sleep_for(20ms);
    }
    return true;
  }
  // Exit status (128 + signal when killed by one), -1 when it did not end in time.
  int Termina(std::chrono::milliseconds limite) {
    const auto fim = Relogio::now() + limite;
    int st = 0;
    while (waitpid(pid_, &st, WNOHANG) == 0) {
      if (Relogio::now() > fim) return -1;
      std::this_thread::sleep_for(10ms);
    }
    pid_ = -1;
    return WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
  }

 private:
  testutil::DiretorioTemp tmp_;
  pid_t pid_ = -1;
};

// Pinpads whose operator never confirms: every Kolvar waits at the prompt.
struct BancadaParada {
  std::vector<std::unique_ptr<e2e::Simulador>> sims;
  testutil::DiretorioTemp tmp;
  std::vector<std::string> args;
  explicit BancadaParada(size_t n, const std::vector<std::string>& extra = {}) {
    args = {"--saida", tmp.arquivo("saida"), "--json", tmp.arquivo("r.json"), "--junit", tmp.arquivo("r.xml"),
            "--html", tmp.arquivo("r.html")};
    args.insert(args.end(), extra.begin(), extra.end());
    for (size_t i = 0; i < n; ++i) {
      sims.push_back(std::make_unique<e2e::Simulador>(std::vector<std::string>{"--tecla-padrao", "NENHUMA"}));
      args.push_back(sims.back()->dispositivo());
    }
  }
  bool ativa() const {
    for (const auto& s : sims)
      if (!s->ativo()) return false;
    return true;
  }
  // No Kolvar runs on any of the pinpads.
  bool SemKolvar() const {
    for (const auto& s : sims)
      if (!NenhumProcessoCom("Kolvar " + s->dispositivo())) return false;
    return true;
  }
};

// A stand-in for Kolvar that ignores SIGTERM and SIGINT and never ends; its
// command line holds the folder it lives in.
std::string KolvarTeimoso(const testutil::DiretorioTemp& tmp) {
  const std::string caminho = tmp.arquivo("kolvar-teimoso");
  testutil::GravaArquivo(caminho,
                         "#!/bin/sh\ntrap '' TERM INT\n"
                         "echo 'Kolvar v1.003 - Compatibilidade com Veltrana M4120'\n"
                         "echo '[11/12/2026 10:00:00] Iniciando teste'\n"
                         "while :; do sleep 0.2; done\n");
  chmod(caminho.c_str(), 0755);
  return caminho;
}

TEST(KolvarLoteSinais, SigtermESigintParamOsKolvarsEDeixamOsRegistros) {
  struct Caso {
    const char* titulo;
    int sinal;
    bool aoGrupo;  // Ctrl-C in a terminal: the whole foreground group
    int status;
  } casos[] = {
      {"SIGTERM to its pid (kill, a CI time-out)", SIGTERM, false, 143},
      {"SIGINT to its pid", SIGINT, false, 130},
      {"Ctrl-C: SIGINT to the process group", SIGINT, true, 130},
  };
  for (const auto& c : casos) {
    SCOPED_TRACE(c.titulo);
    BancadaParada b(3);
    ASSERT_TRUE(b.ativa());
    LoteEmFundo lote(b.args, c.aoGrupo);
    ASSERT_TRUE(lote.Espera(": aguardando o operador (confirmar)\n", 3)) << lote.saida() << lote.erro();
    const auto antes = Relogio::now();
    kill(c.aoGrupo ? -lote.pid() : lote.pid(), c.sinal);
    EXPECT_EQ(lote.Termina(5000ms), c.status) << lote.saida() << lote.erro();
    // Kolvar ends at once on SIGTERM: no grace period spent.
    EXPECT_LT(Relogio::now() - antes, 1900ms);
    EXPECT_TRUE(b.SemKolvar());
    const std::string saida = lote.saida();
    EXPECT_TRUE(Contem(saida, "\nPORTA ")) << saida;
    EXPECT_EQ(Conta(saida, "  INTERROMPIDO "), 3u) << saida;
    EXPECT_TRUE(Contem(lote.erro(), "interrompido por")) << lote.erro();
    EXPECT_EQ(Conta(testutil::LeArquivo(b.tmp.arquivo("r.json")), "\"veredito\":\"INTERROMPIDO\""), 3u);
    EXPECT_TRUE(Contem(testutil::LeArquivo(b.tmp.arquivo("r.xml")), "tests=\"3\" failures=\"0\" errors=\"3\""));
    EXPECT_EQ(Conta(testutil::LeArquivo(b.tmp.arquivo("r.html")), "data-veredito=\"INTERROMPIDO\""), 3u);
    // Each console file holds what Kolvar printed up to the prompt.
    const std::string d = b.sims[0]->dispositivo();
    EXPECT_TRUE(Contem(testutil::LeArquivo(b.tmp.arquivo("saida/01-" + d.substr(d.rfind('/') + 1) + ".txt")),
                       "] Confirme a operacao no pinpad\n"));
  }
}

// PR_SET_PDEATHSIG: a Kolvar whose kolvar-lote is gone is killed, even one
// that ignores SIGTERM.
TEST(KolvarLoteSinais, SigkillNaoDeixaFilhos) {
  BancadaParada b(2);
  ASSERT_TRUE(b.ativa());
  LoteEmFundo lote(b.args, false);
  ASSERT_TRUE(lote.Espera(": aguardando o operador (confirmar)\n", 2)) << lote.saida();
  kill(lote.pid(), SIGKILL);
  EXPECT_EQ(lote.Termina(5000ms), 128 + SIGKILL);
  EXPECT_TRUE(b.SemKolvar());

  testutil::DiretorioTemp tmp;
  std::vector<std::string> args = {"--saida", tmp.arquivo("s"), "--kolvar", KolvarTeimoso(tmp),
                                   b.sims[0]->dispositivo()};
  LoteEmFundo teimoso(args, false);
  ASSERT_TRUE(teimoso.Espera(": abrindo o pinpad\n", 1)) << teimoso.saida();
  kill(teimoso.pid(), SIGKILL);
  EXPECT_EQ(teimoso.Termina(5000ms), 128 + SIGKILL);
  EXPECT_TRUE(NenhumProcessoCom(tmp.caminho()));
}

// A child that ignores SIGTERM is killed after a short grace, both at the
// time limit and when the bench is interrupted.
TEST(KolvarLoteSinais, FilhoQueIgnoraSigtermEhMorto) {
  e2e::Simulador sim({"--tecla-padrao", "NENHUMA"});
  ASSERT_TRUE(sim.ativo());
  struct Caso {
    const char* titulo;
    int sinal;  // 0: none, the time limit ends it
    int status;
    const char* veredito;
  } casos[] = {
      {"--limite 1", 0, 1, "TEMPO ESGOTADO"},
      {"SIGTERM", SIGTERM, 143, "INTERROMPIDO"},
  };
  for (const auto& c : casos) {
    SCOPED_TRACE(c.titulo);
    testutil::DiretorioTemp tmp;
    LoteEmFundo lote({"--saida", tmp.arquivo("s"), "--json", tmp.arquivo("r.json"), "--limite", "1", "--kolvar",
                      KolvarTeimoso(tmp), sim.dispositivo()},
                     false);
    ASSERT_TRUE(lote.Espera(": abrindo o pinpad\n", 1)) << lote.saida();
    if (c.sinal) kill(lote.pid(), c.sinal);
    EXPECT_EQ(lote.Termina(8000ms), c.status) << lote.saida() << lote.erro();
    EXPECT_TRUE(NenhumProcessoCom(tmp.caminho()));
    EXPECT_TRUE(Contem(testutil::LeArquivo(tmp.arquivo("r.json")), std::string("\"veredito\":\"") + c.veredito))
        << testutil::LeArquivo(tmp.arquivo("r.json"));
  }
}

}  // namespace
