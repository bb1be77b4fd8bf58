// kolvar-lote: Kolvar's check on a bench of pinpads at once. The library keeps
// one pinpad per process, so every port gets its own Kolvar process and the
// bench takes about as long as its slowest pinpad. Kolvar's console output and
// exit statuses are kept as they are (one file per port); this program only
// watches them, shows each port's state and ends with a table, and optionally
// JSON and JUnit records.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
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

#include "tools/SemExcecao.h"
#include "support/DonoPorta.h"
#include "tools/kolvar-lote/Lote.h"
#include "tools/kolvar-lote/Processos.h"
#include "tools/kolvar-lote/Relatorio.h"
#include "tools/kolvar-lote/Saidas.h"
#include "tools/pinpadctl/Argumentos.h"
#include "tools/pinpadctl/Cores.h"
#include "tools/pinpadctl/Porta.h"
#include "tools/pinpadctl/Portas.h"
#include "tools/pinpadctl/Texto.h"

namespace {

using Relogio = std::chrono::steady_clock;
constexpr int StatusUso = 255;
constexpr int StatusGravacao = 2;  // a record or console file could not be written
constexpr char VersaoLote[] = KOLVAR_LOTE_VERSAO;
constexpr char UsoGeral[] = "Uso: kolvar-lote [opcoes] PORTA...";
// Longest --limite: a week.
constexpr double LimiteMaximo = 7 * 86400;

// A command line that cannot run: the reason and the usage line on standard
// error, status 255.
int ErroDeUso(const std::string& erro) {
  const std::string texto = "kolvar-lote: " + erro + "\n" + UsoGeral + " (veja kolvar-lote --help)\n";
  std::fputs(pinpadctl::Utf8ParaLocale(texto).c_str(), stderr);
  return StatusUso;
}

void Ajuda(FILE* f) {
  std::fprintf(f,
               "%s\n"
               "       kolvar-lote --version\n\n"
               "Roda o teste do Kolvar em todas as PORTAs ao mesmo tempo, um processo Kolvar por porta.\n"
               "Mostra o estado de cada porta enquanto roda (uma linha por porta num terminal, linhas\n"
               "simples fora dele), guarda a saida de console de cada porta numa pasta e termina com\n"
               "uma tabela: porta, fabricante, modelo, serie, versao, veredito, status e segundos.\n\n"
               "Opcoes:\n"
               "  --saida DIR         pasta da saida de console de cada porta (padrao:\n"
               "                      kolvar-lote-AAAAMMDD-HHMMSS na pasta atual)\n"
               "  --json ARQUIVO      grava os resultados em JSON\n"
               "  --junit ARQUIVO     grava os resultados em JUnit XML (um caso por porta)\n"
               "  --html ARQUIVO      grava um relatorio em HTML (uma pagina, para ler e imprimir)\n"
               "  --kolvar CAMINHO    o programa Kolvar (padrao: o que esta ao lado deste, depois o PATH)\n"
               "  --limite S          encerra o Kolvar de uma porta apos S segundos (padrao 600)\n"
               "  --aceita-nao-aplica conta \"NAO SE APLICA\" (versao 1.07 ou acima) como aprovado\n"
               "  --help              esta ajuda\n"
               "  --version           a versao do programa\n\n"
               "Os erros vao para a saida de erro. Os vereditos da tabela tem cor num terminal (sem\n"
               "NO_COLOR). O JSON e o JUnit sao UTF-8; o JSON leva \"versao_formato\".\n\n"
               "Status de saida: 0 quando todos os pinpads sao compativeis, 1 quando algum nao e (ou\n"
               "nao pode ser testado), 2 quando um registro nao pode ser gravado, 130 ou 143 quando\n"
               "interrompido por SIGINT ou SIGTERM, 255 para linha de comando invalida, Kolvar nao\n"
               "encontrado ou saida que nao pode ser gravada.\n",
               UsoGeral);
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

// One running Kolvar.
struct Execucao {
  pid_t pid = -1;
  int leitura = -1;   // Kolvar's standard output and error
  FILE* arquivo = nullptr;
  bool arquivoFalhou = false;  // a write to the console file failed
  std::string pendente;  // an incomplete line
  Relogio::time_point inicio;
  Relogio::time_point termo{};  // when SIGTERM was sent (epoch: not yet)
  bool matou = false;           // SIGKILL was sent
  bool terminou = false;
};

// How long a Kolvar asked to stop (SIGTERM) has before it is killed. Kolvar
// itself ends at once; this bounds a child that ignores the request.
constexpr auto Graca = std::chrono::seconds(2);

// Asks a Kolvar to stop; kills it when it is still there after the grace
// period, or at once when `agora` is true.
void Para(Execucao& e, Relogio::time_point t, bool agora) {
  if (e.terminou || e.pid <= 0) return;
  if (e.termo == Relogio::time_point{}) {
    e.termo = t;
    kill(e.pid, SIGTERM);
  }
  if (!e.matou && (agora || t - e.termo >= Graca)) {
    e.matou = true;
    kill(e.pid, SIGKILL);
  }
}

void GravaConsole(Execucao& e, const char* dados, size_t n) {
  if (!e.arquivo) return;
  if (std::fwrite(dados, 1, n, e.arquivo) != n || std::fflush(e.arquivo) != 0) e.arquivoFalhou = true;
}

class Painel {
 public:
  Painel(std::vector<lote::Porta>& portas, bool terminal) : portas_(portas), terminal_(terminal) {}
  bool Terminal() const { return terminal_; }
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

namespace {
int Principal(int argc, char** argv) {
  pinpadctl::AdotaLocale();
  std::string pasta, arqJson, arqJunit, arqHtml, kolvar;
  double limite = 600;
  bool aceitaNaoAplica = false;
  std::vector<std::string> nomes;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    auto valor = [&](std::string& v) {
      if (i + 1 >= argc) return false;
      v = argv[++i];
      return true;
    };
    std::string v;
    if (a == "--help" || a == "-h") {
      Ajuda(stdout);
      return 0;
    } else if (a == "--version") {
      std::fputs(pinpadctl::LinhaVersao("kolvar-lote").c_str(), stdout);
      return 0;
    } else if (a == "--saida") {
      if (!valor(pasta)) return ErroDeUso("falta o valor de " + a);
    } else if (a == "--json") {
      if (!valor(arqJson)) return ErroDeUso("falta o valor de " + a);
    } else if (a == "--junit") {
      if (!valor(arqJunit)) return ErroDeUso("falta o valor de " + a);
    } else if (a == "--html") {
      if (!valor(arqHtml)) return ErroDeUso("falta o valor de " + a);
    } else if (a == "--kolvar") {
      if (!valor(kolvar)) return ErroDeUso("falta o valor de " + a);
    } else if (a == "--aceita-nao-aplica") {
      aceitaNaoAplica = true;
    } else if (a == "--limite") {
      if (!valor(v)) return ErroDeUso("falta o valor de " + a);
      if (!pinpadctl::SegundosEstritos(v, LimiteMaximo, limite))
        return ErroDeUso("--limite pede segundos acima de zero, ate 604800 (ex.: 600), e nao \"" +
                         pinpadctl::TextoUsuarioParaUtf8(v) + "\"");
    } else if (a == "--") {
      for (++i; i < argc; ++i) nomes.push_back(argv[i]);
    } else if (a.size() > 1 && a[0] == '-') {
      return ErroDeUso("opcao desconhecida: " + pinpadctl::TextoUsuarioParaUtf8(a));
    } else if (a.empty()) {
      return ErroDeUso("uma PORTA vazia (\"\") nao e um dispositivo");
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
    std::fprintf(stderr, "kolvar-lote: nao foi possivel criar a pasta %s: %s; nenhuma porta foi testada\n", pasta.c_str(), std::strerror(errno));
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
    // What the library opens: a bare number is a port counted from 1 ("1" is
    // /dev/ttyS0), so the checks below look at that device.
    const std::string dispositivo = pinpadctl::CaminhoDispositivo(nomes[i]);
    // The same device under two names would have two Kolvars fight over it.
    char real[PATH_MAX];
    std::string chave = realpath(dispositivo.c_str(), real) ? std::string(real) : dispositivo;
    for (size_t k = 0; k < reais.size(); ++k) p.repetida = p.repetida || reais[k] == chave;
    reais.push_back(chave);
    // The library would write its frames into a regular file or a device such
    // as /dev/null (or try to, into a folder or pipe): such a path is reported,
    // not handed to Kolvar. A path that does not exist or cannot be opened
    // goes to Kolvar, whose own error line is the record.
    const int tipo = pinpadctl::TipoDeDispositivo(dispositivo);
    p.naoTerminal = tipo == ENOTTY || tipo == EISDIR;
    // A port another program holds is not handed to Kolvar: the two would
    // garble each other's exchanges.
    if (!p.repetida && !p.naoTerminal) {
      char programa[64] = {};
      p.emUso = DonoPorta(dispositivo.c_str(), "/proc", &p.donoPid, programa, sizeof programa) == 1;
      p.donoPrograma = programa;
    }
  }

  // Every record must be writable before the first pinpad is touched.
  std::vector<lote::Saida> registros = {{arqJson}, {arqJunit}, {arqHtml}};
  for (auto& r : registros) {
    if (!lote::AbreSaida(r)) {
      std::fprintf(stderr, "kolvar-lote: nao e possivel gravar %s: %s; nenhuma porta foi testada\n", r.caminho.c_str(),
                   std::strerror(errno));
      return StatusUso;
    }
  }
  for (size_t i = 0; i < portas.size(); ++i) {
    const std::string arquivo = pasta + "/" + portas[i].arquivo;
    ex[i].arquivo = std::fopen(arquivo.c_str(), "wbe");
    if (!ex[i].arquivo) {
      std::fprintf(stderr, "kolvar-lote: nao e possivel gravar na pasta %s (%s: %s); nenhuma porta foi testada\n",
                   pasta.c_str(), arquivo.c_str(), std::strerror(errno));
      return StatusUso;
    }
  }

  const int sinais = lote::InstalaSinais();
  if (sinais < 0) {
    std::fprintf(stderr, "kolvar-lote: nao foi possivel tratar os sinais: %s\n", std::strerror(errno));
    return StatusUso;
  }
  Painel painel(portas, isatty(1) != 0);
  const auto comeco = Relogio::now();
  // Every Kolvar waits at the start line until all are started. Without one
  // (no descriptor left) each starts as soon as it is launched.
  lote::Largada largada;
  lote::AbreLargada(largada);
  for (size_t i = 0; i < portas.size(); ++i) {
    auto& p = portas[i];
    auto& e = ex[i];
    if (p.repetida || p.naoTerminal || p.emUso) {
      p.console = p.repetida ? "kolvar-lote: porta repetida, o Kolvar nao foi executado\n"
                  : p.emUso  ? "kolvar-lote: a porta esta em uso por " + pinpadctl::TextoDono(p.donoPid, p.donoPrograma) +
                                  "; o Kolvar nao foi executado\n"
                             : "kolvar-lote: o caminho existe mas nao e um dispositivo de terminal; o Kolvar nao foi "
                               "executado para nao escrever nele\n";
      GravaConsole(e, p.console.data(), p.console.size());
      e.terminou = true;
      lote::Conclui(p, -1);
      continue;
    }
    int tubo[2];
    if (lote::SinalDeParada() || pipe2(tubo, O_CLOEXEC) != 0) {
      p.interrompida = lote::SinalDeParada() != 0;
      e.terminou = true;
      lote::Conclui(p, -1);
      continue;
    }
    e.inicio = Relogio::now();
    e.pid = lote::LancaFilho(kolvar, p.porta, tubo[1], largada);
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
  if (largada.leitura >= 0) {
    lote::Larga(largada);
    // Each port's time, and its --limite, count from here.
    const auto largou = Relogio::now();
    for (auto& e : ex)
      if (e.pid > 0) e.inicio = largou;
  }
  for (size_t i = 0; i < portas.size(); ++i) painel.Mostra(i, ex);

  auto segundos = [](Relogio::time_point desde) {
    return std::chrono::duration<double>(Relogio::now() - desde).count();
  };
  auto acrescenta = [&](size_t i, const char* buf, size_t n) {
    auto& e = ex[i];
    portas[i].console.append(buf, n);
    GravaConsole(e, buf, n);
    e.pendente.append(buf, n);
    size_t fim;
    while ((fim = e.pendente.find('\n')) != std::string::npos) {
      std::string linha = e.pendente.substr(0, fim);
      e.pendente.erase(0, fim + 1);
      if (lote::LinhaKolvar(portas[i], linha, segundos(e.inicio))) painel.Mostra(i, ex);
    }
  };
  auto fechaLeitura = [&](size_t i) {
    auto& e = ex[i];
    if (e.leitura < 0) return;
    // What the child wrote before it ended is all in the pipe; whatever a
    // descendant of it still holds open is not waited for.
    fcntl(e.leitura, F_SETFL, O_NONBLOCK);
    char buf[4096];
    ssize_t lidos;
    while ((lidos = read(e.leitura, buf, sizeof buf)) > 0 || (lidos < 0 && errno == EINTR))
      if (lidos > 0) acrescenta(i, buf, static_cast<size_t>(lidos));
    if (!e.pendente.empty()) {
      if (lote::LinhaKolvar(portas[i], e.pendente, segundos(e.inicio))) painel.Mostra(i, ex);
      e.pendente.clear();
    }
    close(e.leitura);
    e.leitura = -1;
  };

  for (;;) {
    const auto agora = Relogio::now();
    // SIGINT or SIGTERM: every Kolvar still running is stopped (a second
    // signal kills them at once), then the records are written as usual.
    const bool parando = lote::SinalDeParada() != 0;
    bool vivos = false;
    auto prazo = agora + (painel.Terminal() ? std::chrono::milliseconds(200) : std::chrono::milliseconds(1000));
    for (size_t i = 0; i < ex.size(); ++i) {
      auto& e = ex[i];
      if (e.terminou || e.pid <= 0) continue;
      if (parando && !portas[i].esgotada) portas[i].interrompida = true;
      if (!portas[i].esgotada && !portas[i].interrompida &&
          agora - e.inicio > std::chrono::duration<double>(limite)) {
        portas[i].esgotada = true;
      }
      if (portas[i].esgotada || portas[i].interrompida) Para(e, agora, lote::SinaisDeParada() > 1);
      int st = 0;
      if (waitpid(e.pid, &st, WNOHANG) == e.pid) {
        fechaLeitura(i);
        e.terminou = true;
        portas[i].segundos = segundos(e.inicio);
        // A Ctrl-C reaches the whole process group: a Kolvar killed by it
        // ended because the bench was interrupted.
        if (lote::SinalDeParada() && WIFSIGNALED(st) && !portas[i].esgotada) portas[i].interrompida = true;
        lote::Conclui(portas[i], WIFEXITED(st) ? WEXITSTATUS(st) : -1);
        painel.Mostra(i, ex);
        continue;
      }
      vivos = true;
      if (e.termo != Relogio::time_point{} && !e.matou) prazo = std::min(prazo, e.termo + Graca);
      if (!portas[i].esgotada && !portas[i].interrompida)
        prazo = std::min(prazo, e.inicio + std::chrono::duration_cast<Relogio::duration>(
                                               std::chrono::duration<double>(limite)));
    }
    if (!vivos) break;
    std::vector<pollfd> fds = {{sinais, POLLIN, 0}};
    std::vector<size_t> quem = {0};
    for (size_t i = 0; i < ex.size(); ++i) {
      if (ex[i].terminou || ex[i].leitura < 0) continue;
      fds.push_back({ex[i].leitura, POLLIN, 0});
      quem.push_back(i);
    }
    const auto espera = std::chrono::duration_cast<std::chrono::milliseconds>(prazo - Relogio::now()).count();
    int n = poll(fds.data(), fds.size(), static_cast<int>(std::clamp<long long>(espera + 1, 0, 1000)));
    if (n > 0 && (fds[0].revents & POLLIN)) lote::DrenaSinais(sinais);
    for (size_t k = 1; n > 0 && k < fds.size(); ++k) {
      if (!(fds[k].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      const size_t i = quem[k];
      char buf[4096];
      ssize_t lidos = read(ex[i].leitura, buf, sizeof buf);
      if (lidos < 0 && errno == EINTR) continue;
      if (lidos <= 0) {
        fechaLeitura(i);
        continue;
      }
      acrescenta(i, buf, static_cast<size_t>(lidos));
    }
    painel.Redesenha(ex);
  }
  const double total = std::chrono::duration<double>(Relogio::now() - comeco).count();
  std::vector<std::string> falhas;
  for (size_t i = 0; i < ex.size(); ++i) {
    auto& e = ex[i];
    if (!e.arquivo) continue;
    if (std::fclose(e.arquivo) != 0) e.arquivoFalhou = true;
    if (e.arquivoFalhou) falhas.push_back(pasta + "/" + portas[i].arquivo);
  }

  std::printf("\n%s", pinpadctl::Utf8ParaLocale(lote::Tabela(portas, pinpadctl::CoresEm(stdout))).c_str());
  bool todas = true;
  for (const auto& p : portas) todas = todas && lote::Aprovada(p, aceitaNaoAplica);
  std::printf("\n%zu porta(s) em %.1f s; saida de console em %s/%s\n", portas.size(), total, pasta.c_str(),
              falhas.empty() ? "" : " (INCOMPLETA)");
  int status = todas ? 0 : 1;
  lote::DadosDoRelatorio info;
  info.inicio = inicio;
  info.segundos = total;
  info.pasta = pasta;
  info.versao = VersaoLote;
  info.aceitaNaoAplica = aceitaNaoAplica;
  info.sinal = lote::SinalDeParada();
  const std::string textos[] = {
      registros[0].caminho.empty() ? "" : lote::Json(portas, pasta, inicio, total, aceitaNaoAplica),
      registros[1].caminho.empty() ? "" : lote::JUnit(portas, inicio, total, aceitaNaoAplica),
      registros[2].caminho.empty() ? "" : lote::Html(portas, info),
  };
  for (size_t k = 0; k < registros.size(); ++k) {
    if (!lote::GravaSaida(registros[k], textos[k])) {
      std::fprintf(stderr, "kolvar-lote: nao foi possivel gravar %s: %s\n", registros[k].caminho.c_str(),
                   std::strerror(errno));
      falhas.push_back(registros[k].caminho);
    }
  }
  for (const auto& f : falhas)
    if (f.rfind(pasta + "/", 0) == 0) std::fprintf(stderr, "kolvar-lote: saida de console incompleta: %s\n", f.c_str());
  if (!falhas.empty()) status = StatusGravacao;
  if (const int s = lote::SinalDeParada()) {
    int interrompidas = 0;
    for (const auto& p : portas) interrompidas += p.interrompida;
    std::fprintf(stderr, "kolvar-lote: interrompido por %s; %d porta(s) interrompida(s)\n",
                 s == SIGINT ? "SIGINT" : "SIGTERM", interrompidas);
    status = 128 + s;
  }
  std::fflush(stdout);
  return status;
}
}  // namespace

int main(int argc, char** argv) { return ExecutaSemExcecao("kolvar-lote", StatusUso, Principal, argc, argv); }
