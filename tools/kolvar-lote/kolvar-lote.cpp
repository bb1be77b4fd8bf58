// kolvar-lote: Kolvar's check on a bench of pinpads at once. The library keeps
// one pinpad per process, so every port gets its own Kolvar process and the
// bench takes about as long as its slowest pinpad. Kolvar's console output and
// exit statuses are kept as they are (one file per port); this program only
// watches them, shows each port's state and ends with a table, and optionally
// JSON and JUnit records.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "support/DonoPorta.h"
#include "tools/kolvar-lote/Lote.h"
#include "tools/pinpadctl/Portas.h"

extern char** environ;

namespace {

using Relogio = std::chrono::steady_clock;
constexpr int StatusUso = 255;

void Ajuda(FILE* f) {
  std::fprintf(f,
               "Uso: kolvar-lote [opcoes] PORTA...\n\n"
               "Roda o teste do Kolvar em todas as PORTAs ao mesmo tempo, um processo Kolvar por porta.\n"
               "Mostra o estado de cada porta enquanto roda (uma linha por porta num terminal, linhas\n"
               "simples fora dele), guarda a saida de console de cada porta numa pasta e termina com\n"
               "uma tabela: porta, fabricante, modelo, serie, versao, veredito, status e segundos.\n\n"
               "Opcoes:\n"
               "  --saida DIR         pasta da saida de console de cada porta (padrao:\n"
               "                      kolvar-lote-AAAAMMDD-HHMMSS na pasta atual)\n"
               "  --json ARQUIVO      grava os resultados em JSON\n"
               "  --junit ARQUIVO     grava os resultados em JUnit XML (um caso por porta)\n"
               "  --kolvar CAMINHO    o programa Kolvar (padrao: o que esta ao lado deste, depois o PATH)\n"
               "  --limite S          encerra o Kolvar de uma porta apos S segundos (padrao 600)\n"
               "  --aceita-nao-aplica conta \"NAO SE APLICA\" (versao 1.07 ou acima) como aprovado\n"
               "  --help              esta ajuda\n\n"
               "Status de saida: 0 quando todos os pinpads sao compativeis, 1 quando algum nao e (ou\n"
               "nao pode ser testado), 255 para linha de comando invalida ou Kolvar nao encontrado.\n");
}

bool Executavel(const std::string& p) { return !p.empty() && access(p.c_str(), X_OK) == 0; }

// Kolvar beside this program, then on PATH.
std::string AchaKolvar() {
  char caminho[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", caminho, sizeof caminho - 1);
  if (n > 0) {
    std::string s(caminho, static_cast<size_t>(n));
    std::string ao_lado = s.substr(0, s.rfind('/') + 1) + "Kolvar";
    if (Executavel(ao_lado)) return ao_lado;
  }
  const char* path = std::getenv("PATH");
  std::string lista = path ? path : "/usr/local/bin:/usr/bin:/bin";
  size_t i = 0;
  while (i <= lista.size()) {
    size_t f = lista.find(':', i);
    if (f == std::string::npos) f = lista.size();
    // An empty entry means the current folder.
    const std::string d = f > i ? lista.substr(i, f - i) : std::string(".");
    if (Executavel(d + "/Kolvar")) return d + "/Kolvar";
    i = f + 1;
  }
  return {};
}

std::string Agora(const char* formato) {
  std::time_t t = std::time(nullptr);
  std::tm l{};
  localtime_r(&t, &l);
  char s[64];
  std::strftime(s, sizeof s, formato, &l);
  return s;
}

bool CriaPastas(const std::string& caminho) {
  std::string parcial;
  size_t i = 0;
  while (i != std::string::npos) {
    i = caminho.find('/', i + 1);
    parcial = caminho.substr(0, i);
    if (parcial.empty()) continue;
    if (mkdir(parcial.c_str(), 0755) != 0 && errno != EEXIST) return false;
  }
  struct stat st {};
  return stat(caminho.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool Grava(const std::string& caminho, const std::string& texto) {
  FILE* f = std::fopen(caminho.c_str(), "wb");
  if (!f) return false;
  bool ok = std::fwrite(texto.data(), 1, texto.size(), f) == texto.size();
  ok = std::fclose(f) == 0 && ok;
  return ok;
}

// One running Kolvar.
struct Execucao {
  pid_t pid = -1;
  int leitura = -1;   // Kolvar's standard output and error
  FILE* arquivo = nullptr;
  std::string pendente;  // an incomplete line
  Relogio::time_point inicio;
  bool terminou = false;
};

pid_t Lanca(const std::string& kolvar, const std::string& porta, int escrita) {
  std::vector<char*> argv = {const_cast<char*>(kolvar.c_str()), const_cast<char*>(porta.c_str()), nullptr};
  posix_spawn_file_actions_t acoes;
  posix_spawn_file_actions_init(&acoes);
  posix_spawn_file_actions_addopen(&acoes, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&acoes, escrita, 1);
  posix_spawn_file_actions_adddup2(&acoes, escrita, 2);
  pid_t pid = -1;
  if (posix_spawn(&pid, kolvar.c_str(), &acoes, nullptr, argv.data(), environ) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&acoes);
  return pid;
}

class Painel {
 public:
  Painel(std::vector<lote::Porta>& portas, bool terminal) : portas_(portas), terminal_(terminal) {}
  // A port's state changed (or, on a terminal, time passed).
  void Mostra(size_t i, const std::vector<Execucao>& ex) {
    if (!terminal_) {
      std::printf("[%s] %s: %s\n", Agora("%H:%M:%S").c_str(), portas_[i].porta.c_str(), portas_[i].estado.c_str());
      std::fflush(stdout);
      return;
    }
    Redesenha(ex);
  }
  void Redesenha(const std::vector<Execucao>& ex) {
    if (!terminal_) return;
    if (desenhado_) std::printf("\033[%zuA", portas_.size());
    for (size_t i = 0; i < portas_.size(); ++i) {
      const auto& p = portas_[i];
      double s = p.segundos;
      if (!ex[i].terminou && ex[i].pid > 0)
        s = std::chrono::duration<double>(Relogio::now() - ex[i].inicio).count();
      // One screen row per port, or the cursor-up count would be wrong.
      char linha[512];
      std::snprintf(linha, sizeof linha, "%-24s %6.1fs  %s", p.porta.c_str(), s, p.estado.c_str());
      winsize ws{};
      size_t colunas = ioctl(1, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 1 ? ws.ws_col - 1 : 79;
      std::printf("\033[2K%.*s\n", static_cast<int>(std::min(colunas, sizeof linha)), linha);
    }
    desenhado_ = true;
    std::fflush(stdout);
  }

 private:
  std::vector<lote::Porta>& portas_;
  bool terminal_;
  bool desenhado_ = false;
};

}  // namespace

int main(int argc, char** argv) {
  std::string pasta, arqJson, arqJunit, kolvar;
  double limite = 600;
  bool aceitaNaoAplica = false;
  std::vector<std::string> nomes;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    auto valor = [&](std::string& v) {
      if (i + 1 >= argc) {
        std::fprintf(stderr, "kolvar-lote: falta o valor de %s\n", a.c_str());
        return false;
      }
      v = argv[++i];
      return true;
    };
    std::string v;
    if (a == "--help" || a == "-h") {
      Ajuda(stdout);
      return 0;
    } else if (a == "--saida") {
      if (!valor(pasta)) return StatusUso;
    } else if (a == "--json") {
      if (!valor(arqJson)) return StatusUso;
    } else if (a == "--junit") {
      if (!valor(arqJunit)) return StatusUso;
    } else if (a == "--kolvar") {
      if (!valor(kolvar)) return StatusUso;
    } else if (a == "--aceita-nao-aplica") {
      aceitaNaoAplica = true;
    } else if (a == "--limite") {
      if (!valor(v)) return StatusUso;
      char* fim = nullptr;
      limite = std::strtod(v.c_str(), &fim);
      if (v.empty() || *fim || limite <= 0) {
        std::fprintf(stderr, "kolvar-lote: --limite pede segundos\n");
        return StatusUso;
      }
    } else if (a == "--") {
      for (++i; i < argc; ++i) nomes.push_back(argv[i]);
    } else if (a.size() > 1 && a[0] == '-') {
      std::fprintf(stderr, "kolvar-lote: opcao desconhecida: %s (veja kolvar-lote --help)\n", a.c_str());
      return StatusUso;
    } else {
      nomes.push_back(a);
    }
  }
  if (nomes.empty()) {
    Ajuda(stderr);
    return StatusUso;
  }
  if (kolvar.empty()) kolvar = AchaKolvar();
  if (!Executavel(kolvar)) {
    std::fprintf(stderr, "kolvar-lote: Kolvar nao encontrado%s%s (use --kolvar CAMINHO)\n",
                 kolvar.empty() ? "" : ": ", kolvar.c_str());
    return StatusUso;
  }
  const std::string inicio = Agora("%Y-%m-%dT%H:%M:%S");
  if (pasta.empty()) pasta = "kolvar-lote-" + Agora("%Y%m%d-%H%M%S");
  if (!CriaPastas(pasta)) {
    std::fprintf(stderr, "kolvar-lote: nao foi possivel criar a pasta %s: %s\n", pasta.c_str(), std::strerror(errno));
    return StatusUso;
  }
  signal(SIGPIPE, SIG_IGN);

  std::vector<lote::Porta> portas(nomes.size());
  std::vector<Execucao> ex(nomes.size());
  std::vector<std::string> reais;
  for (size_t i = 0; i < nomes.size(); ++i) {
    auto& p = portas[i];
    p.porta = nomes[i];
    p.arquivo = lote::NomeArquivo(static_cast<int>(i + 1), nomes[i]);
    // The same device under two names would have two Kolvars fight over it.
    char real[PATH_MAX];
    std::string chave = realpath(nomes[i].c_str(), real) ? std::string(real) : nomes[i];
    for (size_t k = 0; k < reais.size(); ++k) p.repetida = p.repetida || reais[k] == chave;
    reais.push_back(chave);
    // The library would write its frames into a regular file (or try to into
    // a folder or pipe): such a path is reported, not handed to Kolvar. A path
    // that does not exist goes to Kolvar, whose own error line is the record.
    struct stat st {};
    p.naoTerminal = stat(nomes[i].c_str(), &st) == 0 && !S_ISCHR(st.st_mode);
    // A port another program holds is not handed to Kolvar: the two would
    // garble each other's exchanges.
    if (!p.repetida && !p.naoTerminal) {
      char programa[64] = {};
      p.emUso = DonoPorta(nomes[i].c_str(), "/proc", &p.donoPid, programa, sizeof programa) == 1;
      p.donoPrograma = programa;
    }
  }

  Painel painel(portas, isatty(1) != 0);
  const auto comeco = Relogio::now();
  for (size_t i = 0; i < portas.size(); ++i) {
    auto& p = portas[i];
    auto& e = ex[i];
    e.arquivo = std::fopen((pasta + "/" + p.arquivo).c_str(), "wb");
    if (p.repetida || p.naoTerminal || p.emUso) {
      p.console = p.repetida ? "kolvar-lote: porta repetida, o Kolvar nao foi executado\n"
                  : p.emUso  ? "kolvar-lote: a porta esta em uso por " + pinpadctl::TextoDono(p.donoPid, p.donoPrograma) +
                                  "; o Kolvar nao foi executado\n"
                             : "kolvar-lote: o caminho existe mas nao e um dispositivo de terminal; o Kolvar nao foi "
                               "executado para nao escrever nele\n";
      if (e.arquivo) std::fputs(p.console.c_str(), e.arquivo);
      e.terminou = true;
      lote::Conclui(p, -1);
      continue;
    }
    int tubo[2];
    if (pipe2(tubo, O_CLOEXEC) != 0) {
      e.terminou = true;
      lote::Conclui(p, -1);
      continue;
    }
    e.inicio = Relogio::now();
    e.pid = Lanca(kolvar, p.porta, tubo[1]);
    close(tubo[1]);
    if (e.pid < 0) {
      close(tubo[0]);
      e.terminou = true;
      lote::Conclui(p, -1);
      continue;
    }
    e.leitura = tubo[0];
    p.estado = "iniciando";
  }
  for (size_t i = 0; i < portas.size(); ++i) painel.Mostra(i, ex);

  auto fechaLeitura = [&](size_t i) {
    auto& e = ex[i];
    if (!e.pendente.empty()) {
      if (lote::LinhaKolvar(portas[i], e.pendente)) painel.Mostra(i, ex);
      e.pendente.clear();
    }
    close(e.leitura);
    e.leitura = -1;
  };

  for (;;) {
    std::vector<pollfd> fds;
    std::vector<size_t> quem;
    bool vivos = false;
    for (size_t i = 0; i < ex.size(); ++i) {
      if (ex[i].terminou) continue;
      vivos = true;
      if (ex[i].leitura >= 0) {
        fds.push_back({ex[i].leitura, POLLIN, 0});
        quem.push_back(i);
      }
    }
    if (!vivos) break;
    int n = poll(fds.data(), fds.size(), fds.empty() ? 5 : 100);
    for (size_t k = 0; n > 0 && k < fds.size(); ++k) {
      if (!(fds[k].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      const size_t i = quem[k];
      auto& e = ex[i];
      char buf[4096];
      ssize_t lidos = read(e.leitura, buf, sizeof buf);
      if (lidos <= 0) {
        if (lidos < 0 && errno == EINTR) continue;
        fechaLeitura(i);
        continue;
      }
      portas[i].console.append(buf, static_cast<size_t>(lidos));
      if (e.arquivo) {
        std::fwrite(buf, 1, static_cast<size_t>(lidos), e.arquivo);
        std::fflush(e.arquivo);
      }
      e.pendente.append(buf, static_cast<size_t>(lidos));
      size_t fim;
      while ((fim = e.pendente.find('\n')) != std::string::npos) {
        std::string linha = e.pendente.substr(0, fim);
        e.pendente.erase(0, fim + 1);
        if (lote::LinhaKolvar(portas[i], linha)) painel.Mostra(i, ex);
      }
    }
    // Reap the Kolvars that ended; stop those past the limit.
    for (size_t i = 0; i < ex.size(); ++i) {
      auto& e = ex[i];
      if (e.terminou || e.pid <= 0) continue;
      const double passados = std::chrono::duration<double>(Relogio::now() - e.inicio).count();
      if (passados > limite && !portas[i].esgotada) {
        portas[i].esgotada = true;
        kill(e.pid, SIGTERM);
      }
      if (e.leitura >= 0) continue;  // its output first
      // Kolvar closes its output as it exits: give it a few milliseconds
      // rather than a whole round of the loop.
      int st = 0;
      pid_t w = 0;
      for (int k = 0; k < 20 && (w = waitpid(e.pid, &st, WNOHANG)) == 0; ++k) usleep(1000);
      if (w != e.pid) continue;
      e.terminou = true;
      portas[i].segundos = std::chrono::duration<double>(Relogio::now() - e.inicio).count();
      lote::Conclui(portas[i], WIFEXITED(st) ? WEXITSTATUS(st) : -1);
      painel.Mostra(i, ex);
    }
    painel.Redesenha(ex);
  }
  const double total = std::chrono::duration<double>(Relogio::now() - comeco).count();
  for (auto& e : ex)
    if (e.arquivo) std::fclose(e.arquivo);

  std::printf("\n%s", lote::Tabela(portas).c_str());
  bool todas = true;
  for (const auto& p : portas) todas = todas && lote::Aprovada(p, aceitaNaoAplica);
  std::printf("\n%zu porta(s) em %.1f s; saida de console em %s/\n", portas.size(), total, pasta.c_str());
  int status = todas ? 0 : 1;
  if (!arqJson.empty() && !Grava(arqJson, lote::Json(portas, pasta, inicio, total, aceitaNaoAplica))) {
    std::fprintf(stderr, "kolvar-lote: nao foi possivel gravar %s: %s\n", arqJson.c_str(), std::strerror(errno));
    status = 1;
  }
  if (!arqJunit.empty() && !Grava(arqJunit, lote::JUnit(portas, inicio, total, aceitaNaoAplica))) {
    std::fprintf(stderr, "kolvar-lote: nao foi possivel gravar %s: %s\n", arqJunit.c_str(), std::strerror(errno));
    status = 1;
  }
  std::fflush(stdout);
  return status;
}
